#include "vars/system_actions.h"

#include <cstdio>
#include <mutex>

#include "engine/dispatch.h"
#include "engine/document.h"
#include "engine/main_loop.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_tracking.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "input/keyboard.h"
#include "platform/clipboard.h"
#include "platform/debug_output.h"
#include "platform/power.h"
#include "screen/screen_actions.h"
#include "system/library_calls.h"
#include "vars/variable_actions.h"
#include "vars/variables.h"
#include "windows/window_match.h"

namespace olvex {
namespace {

std::mutex g_pane_mutex;
std::function<void(const std::string&)> g_output_pane;

int Fail(const std::string& error) {
  SetStepError(error);
  return 0;
}

int SetStepDelayStep(const Step& step, const ExpandContext& context) {
  std::string value = Expand(context, step.timeout());
  if (value.empty()) value = Expand(context, step.text);
  const int delay = FirstNumber(value);
  WriteSetting(SettingKey("*\\InterStepDelay-%d", context.slot), delay);
  SetStepDelay(context.slot, delay);
  if (ContainsNoCase(step.options, "Global")) WriteSetting("*\\InterStepDelay", delay);
  return 1;
}

int SettingChangeStep(const Step& step, const ExpandContext& context) {
  const bool off = ContainsNoCase(step.options, "OFF");
  if (ContainsNoCase(step.text, "Stop")) {
    const std::string key = Expand(context, step.value(1));
    if (key.empty()) {
      LogText("    WARNING: No stop key given: the stop key stays as it was");
      return 1;
    }
    const int code = static_cast<unsigned char>(key[0]);
    RunShared().stop_key.store(code);
    WriteSetting("*\\Accelerators\\Stop", std::to_string(code) + "|0");
    if (LogLevel() > 1) LogLine("    gcStopKey: %02d, %02x", code, code);
  } else if (ContainsNoCase(step.text, "Track")) {
    WriteSetting("*\\RunTrackingShow", off ? 0 : 1);
    SetRunTrackingShown(!off);
  } else if (ContainsNoCase(step.text, "Log")) {
    const int level = off ? 0 : ContainsNoCase(step.options, "ON") ? 1 : ContainsNoCase(step.options, "HI") ? 2 : -1;
    if (level >= 0) {
      SetLogLevel(level);
      WriteSetting("*\\LogLevel", level);
    }
  } else if (ContainsNoCase(step.text, "Highlight")) {
    WriteSetting("*\\HiliteRunningStep", off ? 0 : 1);
  }
  return 1;
}

int WriteToOutputStep(const Step& step, const ExpandContext& context) {
  const std::string text = Expand(context, step.text);
  std::function<void(const std::string&)> pane;
  {
    std::lock_guard<std::mutex> lock(g_pane_mutex);
    pane = g_output_pane;
  }
  if (pane) pane(text.substr(0, 259));
  platform::WriteDebugOutput(text + "\r\n");
  return 1;
}

int SetClipboardStep(const Step& step, const ExpandContext& context) {
  const std::string text = Expand(context, step.text);
  const bool ok = text.empty() ? platform::clipboard().Clear() : platform::clipboard().SetText(text);
  return ok ? 1 : Fail("The clipboard could not be written");
}

int SystemExitStep(int step_index, int mode, const char* what) {
  LogLine("%s at [Step %d]...", what, step_index + 1);
  std::string error;
  if (platform::power().ExitSystem(mode, &error)) return 1;
  return Fail(error);
}

// "%name = Function(...)": the variable that receives the result.
std::string ResultVariable(const std::string& text) {
  const std::size_t open = text.find('(');
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || (open != std::string::npos && equals > open) ||
      text.find('%') == std::string::npos)
    return {};
  std::string name = text.substr(0, std::min<std::size_t>(equals, kMaxVariableName));
  const std::size_t first = name.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  name = name.substr(first);
  name = name.substr(0, name.find_first_of(" \t="));
  if (!name.empty() && name[0] == '%') name.erase(0, 1);
  return name;
}

int WindowsApiStep(int slot, int step_index) {
  return RunOnMainThread([slot, step_index] {
    const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
    const std::string variable = ResultVariable(step.text);
    const std::string text = Expand(ExpandContext{slot, step_index}, step.text);
    const std::int32_t result = CallLibraryFunction("", text, false, true);
    if (result == kNotCallable) return 0;
    const std::string value = std::to_string(result);
    SaveOutput(slot, step_index, value);
    if (!variable.empty()) WriteUserVariable(variable, value);
    return 1;
  });
}

}  // namespace

void SetOutputPane(std::function<void(const std::string& line)> pane) {
  std::lock_guard<std::mutex> lock(g_pane_mutex);
  g_output_pane = std::move(pane);
}

int HandleSystemStep(int slot, int step_index) {
  Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const ExpandContext context{slot, step_index};
  const std::string& action = step.action;
  if (ContainsNoCase(action, "Variable")) {
    VariableStep v{step.action, step.options, step.text, step.output(), step.output_option()};
    StepHost host;
    host.context = context;
    host.log = [](const std::string& line) { LogText(line); };
    host.save_output = [slot, step_index](std::string_view data) { SaveOutput(slot, step_index, data); };
    const StepOutcome outcome = RunVariableAction(v, host);
    if (v.output_option != step.output_option()) step.set_output_option(v.output_option);
    if (outcome.result == 0) SetStepError(outcome.error);
    return outcome.result;
  }
  if (ContainsNoCase(action, "Comment")) return 1;
  if (ContainsNoCase(action, "Step Delay")) return SetStepDelayStep(step, context);
  if (ContainsNoCase(action, "Olvex")) return SettingChangeStep(step, context);
  if (ContainsNoCase(action, "Write to Output")) return WriteToOutputStep(step, context);
  if (ContainsNoCase(action, "Write to Log")) {
    AppendToLogFile(Expand(context, step.text) + "\r\n");
    return 1;
  }
  if (ContainsNoCase(action, "Set Clipboard")) return SetClipboardStep(step, context);
  if (ContainsNoCase(action, "Paste Clipboard")) {
    if (FailWithoutDesktop()) return 0;
    PasteFromClipboard();
    return 1;
  }
  if (ContainsNoCase(action, "Clear Clipboard"))
    return platform::clipboard().Clear() ? 1 : Fail("The clipboard could not be opened");
  if (ContainsNoCase(action, "Capture")) return HandleImageCaptureStep(slot, step_index);
  if (ContainsNoCase(action, "Logoff")) return SystemExitStep(step_index, platform::exit_mode::kLogoff, "Logoff");
  if (ContainsNoCase(action, "Restart"))
    return SystemExitStep(step_index, platform::exit_mode::kReboot | platform::exit_mode::kForce, "Rebooting");
  if (ContainsNoCase(action, "Shutdown"))
    return SystemExitStep(step_index, platform::exit_mode::kShutdown | platform::exit_mode::kForce, "Shutdown");
  if (ContainsNoCase(action, "API")) return WindowsApiStep(slot, step_index);
  return StepNotAvailable(slot, step_index);
}

}  // namespace olvex
