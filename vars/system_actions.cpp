#include "vars/system_actions.h"

#include "engine/dispatch.h"
#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "screen/screen_actions.h"
#include "vars/variable_actions.h"

namespace olvex {

int HandleSystemStep(int slot, int step_index) {
  Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  if (ContainsNoCase(step.action, "Image Capture")) return HandleImageCaptureStep(slot, step_index);
  if (ContainsNoCase(step.action, "Variable")) {
    VariableStep v{step.action, step.options, step.text, step.output(), step.output_option()};
    StepHost host;
    host.context = ExpandContext{slot, step_index};
    host.log = [](const std::string& line) { LogText(line); };
    host.save_output = [slot, step_index](std::string_view data) { SaveOutput(slot, step_index, data); };
    const StepOutcome outcome = RunVariableAction(v, host);
    if (v.output_option != step.output_option()) step.set_output_option(v.output_option);
    if (outcome.result == 0) SetStepError(outcome.error);
    return outcome.result;
  }
  if (ContainsNoCase(step.action, "Comment")) return 1;
  return StepNotAvailable(slot, step_index);
}

}  // namespace olvex
