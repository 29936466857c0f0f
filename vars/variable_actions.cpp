#include "vars/variable_actions.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "engine/text.h"
#include "vars/format.h"

namespace olvex {

namespace {

constexpr std::size_t kMaxErrorText = 2047;
constexpr std::size_t kIndexBuffer = 64;

bool Contains(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    bool same = true;
    for (std::size_t j = 0; j < word.size() && same; ++j)
      same = std::tolower(static_cast<unsigned char>(text[i + j])) == std::tolower(static_cast<unsigned char>(word[j]));
    if (same) return true;
  }
  return false;
}

void Log(const StepHost& host, const std::string& line) {
  if (host.log) host.log(line);
}

void Save(const StepHost& host, const VariableStep& step, std::string_view data) {
  if (host.save_output)
    host.save_output(data);
  else
    SaveToVariableDestination(host.context, step.output, step.output_option, data, host.log);
}

// Delete Variable of a name: the index of `name[index]` is expanded first.
std::string DeletedName(const StepHost& host, std::string name) {
  if (!name.empty() && name.front() == '%') name.erase(0, 1);
  std::size_t open = name.find('['), close = name.rfind(']');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    std::string index = ExpandIntoBuffer(host.context, std::string_view(name).substr(open + 1, close - open - 1),
                                         kIndexBuffer);
    name = name.substr(0, open + 1) + index + name.substr(close);
  }
  return name;
}

}  // namespace

std::string FormatVariableNumber(double value) { return FormatNumber(value, 15); }

StepOutcome RunVariableAction(VariableStep& step, const StepHost& host) {
  StepOutcome outcome;
  const std::string& action = step.action;
  if (step.output_option.empty() && !Contains(action, "Delete")) Log(host, "    WARNING: No variable name provided");

  std::string value;
  if (Contains(step.options, "No Variable Expansion")) {
    value = step.text.substr(0, step.text.find('\0'));
  } else if (Contains(step.options, "Single")) {
    value = Expand(host.context, step.text, ExpandMode::kSingle);
    value.resize(std::min(value.size(), value.find('\0')));
  } else {
    value = Expand(host.context, step.text, ExpandMode::kKeepEscapes);  // its size is the reported length
  }

  bool set = Contains(action, "Set") || Contains(action, "Create") || Contains(action, "Update");
  if (set && !Contains(action, "Environment")) {
    Save(host, step, value);
    return outcome;
  }
  if (Contains(action, "Environment")) {
    std::string error;
    bool ok = SetEnvironmentVariableEverywhere(step.output_option, value, &error);
    if (step.output_option.empty() || step.output_option.front() != '%') step.output_option = '%' + step.output_option;
    if (step.output_option.size() < 2 || step.output_option.back() != '%') step.output_option += '%';
    if (!ok) {
      outcome.result = 0;
      outcome.error = error.substr(0, kMaxErrorText);
    }
    return outcome;
  }
  if (Contains(action, "Delete")) {
    if (Contains(step.options, "All")) {
      ResetUserVariables();
      FreeAllMemorySlots();
    } else if (step.output_option.size() == 3 && step.output_option[0] == '{' && step.output_option[2] == '}') {
      FreeMemorySlot(std::clamp(step.output_option[1] - '0', 1, kMemorySlots));
    } else {
      DeleteUserVariable(DeletedName(host, step.output_option));
    }
    return outcome;
  }
  bool increment = Contains(action, "Increment");
  if (increment || Contains(action, "Decrement")) {
    const double current = IsMissingPlainVariable(step.output_option)
                               ? 0.0
                               : LeadingDecimal(Expand(host.context, step.output_option, ExpandMode::kFull));
    Save(host, step, FormatVariableNumber(increment ? current + 1 : current - 1));
  }
  return outcome;
}

}  // namespace olvex
