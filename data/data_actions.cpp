#include "data/data_actions.h"

#include "data/odbc_actions.h"
#include "data/registry_actions.h"
#include "data/text_ops.h"
#include "engine/dispatch.h"
#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "vars/expand.h"
#include "vars/variables.h"

namespace olvex {

namespace {

int TextOperationStep(int slot, int step_index, const Step& step) {
  auto expand = [&](std::string_view field) { return std::string(ExpandText(field, slot, step_index, 0)); };
  TextStep t;
  t.action = step.action;
  t.options = step.options;
  t.raw_text = step.text;
  t.raw_value1 = step.value(1);
  t.text = expand(step.text);
  t.value1 = expand(step.value(1));
  t.value2 = expand(step.value(2));
  t.value3 = expand(step.value(3)).substr(0, 255);
  t.read_variable = [](std::string_view name) { return ReadUserVariable(name); };
  TextOutcome outcome = RunTextOperation(t);
  if (outcome.save) {
    if (outcome.text_function) {
      if (outcome.output.find('\0') != std::string::npos) ReplaceAll(outcome.output, std::string_view("\0", 1), "{\\00}", false);
      if (step.output().empty()) LogText("    WARNING: No \"Save Output\" option chosen!  Function will have no effect");
    }
    SaveOutput(slot, step_index, outcome.output);
  }
  if (outcome.result == 0) SetStepError(outcome.error);
  return outcome.result;
}

}  // namespace

int HandleDataStep(int slot, int step_index) {
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const std::string& action = step.action;
  if (ContainsNoCase(action, "Registry") || (ContainsNoCase(action, "INI") && (ContainsNoCase(action, "Write") ||
                                                                              ContainsNoCase(action, "Delete") ||
                                                                              ContainsNoCase(action, "Read")))) {
    const int result = RegistryOrIniStep(slot, step_index);
    if (result != kNotRegistryOrIni) return result;
  }
  if (IsDatabaseAction(action)) return DatabaseStep(slot, step_index);
  if (!IsTextOperation(action)) return StepNotAvailable(slot, step_index);
  return TextOperationStep(slot, step_index, step);
}

}  // namespace olvex
