#include "engine/failure.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "engine/catalog.h"
#include "engine/control.h"
#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "platform/dialogs.h"
#include "platform/environment.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "platform/system.h"
#include "screen/screen_actions.h"
#include "vars/expand.h"
#include "vars/formula.h"
#include "vars/variables.h"

namespace olvex {

namespace {

constexpr std::size_t kLongErrorMessage = 384;
constexpr std::uint64_t kBoxQuietMs = 250;
constexpr std::size_t kProgramLineMax = 258;
constexpr std::size_t kSlotValueMax = 32;
// A step retried until its time-out runs out waits this long between attempts,
// so that it neither spins the processor nor floods the log.
constexpr int kTimeoutRetryPauseMs = 50;

std::atomic<std::uint64_t> g_last_box_tick{0};
std::atomic<bool> g_box_shown{false};

std::string WithoutPercent(std::string text) {
  std::erase(text, '%');
  return text;
}

// %NAME% references of the environment replaced by their values; unknown
// names stay as written.
std::string ExpandEnvironment(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find('%', at);
    const std::size_t close = open == std::string::npos ? std::string::npos : text.find('%', open + 1);
    if (close == std::string::npos) break;
    const std::string name = text.substr(open + 1, close - open - 1);
    const std::optional<std::string> value = name.empty() ? std::nullopt : platform::ReadEnv(name);
    if (value) {
      out += text.substr(at, open - at) + *value;
      at = close + 1;
    } else {
      out += text.substr(at, close - at);
      at = close;
    }
  }
  return out + text.substr(at);
}

int ShowFailureBox(const std::string& text, const std::string& title, unsigned buttons) {
  const unsigned style = buttons | platform::box::kIconExclamation | platform::box::kTaskModal | platform::box::kSetForeground;
  const int answer = platform::dialogs().ShowMessage(text, title, style);
  g_last_box_tick.store(platform::TickCount());
  g_box_shown.store(true);
  return answer;
}

bool BoxShownLately() {
  return g_box_shown.load() && platform::TickCount() - g_last_box_tick.load() < kBoxQuietMs;
}

// A failure that no retry can change: the system lacks the thing the step
// needs. Such a step goes to its failure mode at once, whatever its time-out.
bool RetryCannotHelp(const std::string& error) {
  return ContainsNoCase(error, "not available on this system") || ContainsNoCase(error, "No desktop is available on this system");
}

// The time-out still running: the step is tried again. Play Tone's time-out
// is its duration in milliseconds, not seconds to retry.
bool WithinTimeout(const Step& step, int slot, int step_index) {
  if (step.timeout().empty() || RetryCannotHelp(StepError())) return false;
  if (step.category == 15 && ContainsNoCase(step.action, "Tone")) return false;
  const std::string expanded = ExpandText(step.timeout(), slot, step_index, 0);
  const double seconds = EvaluateFormula(expanded).number;
  if (!(seconds > 0)) return false;
  const double elapsed_ms = static_cast<double>(platform::TickCount() - StepStartTick());
  return elapsed_ms < seconds * 1000.0;
}

void IncrementCounter(int slot, int step_index, Step& step) {
  const std::string name = step.fail_option();
  // A counter that does not exist yet (nothing was replaced) counts from 0.
  const std::string current = IsMissingPlainVariable(name) ? name : ExpandText(name, slot, step_index, 0);
  const int value = (current == name ? 0 : FirstNumber(current)) + 1;
  LogLine("    Incrementing variable '%s' = %d", name.c_str(), value);
  const std::string text = std::to_string(value);
  if (const int memory = MemorySlotOf(name); memory > 0) {
    SetMemorySlot(memory, text.substr(0, kSlotValueMax));
    return;
  }
  const std::string output = step.output(), option = step.output_option();
  step.set_output("Variable");
  step.set_output_option(name);
  SaveOutput(slot, step_index, text);
  step.set_output(output);
  step.set_output_option(option);
}

// The screen as the step failed, beside the log: "<log path without its
// extension> [Step n] FAILURE yyyy-mm-dd_hhmmss.bmp".
void SaveSnapshot(int number) {
  std::string path = LogFilePath();
  const std::size_t dot = path.find_last_of('.');
  const std::size_t folder = path.find_last_of("\\/");
  if (dot != std::string::npos && (folder == std::string::npos || dot > folder)) path.resize(dot);
  const platform::LocalDateTime t = platform::locale().Now();
  char tail[80];
  std::snprintf(tail, sizeof tail, " [Step %d] FAILURE %04d-%02d-%02d_%02d%02d%02d.bmp", number, t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  std::string error;
  if (!SaveScreenSnapshot(path + tail, error)) LogText("    No snapshot taken: " + error);
}

int RunFails() {
  LogText("RUN FAILED");
  return -1;
}

}  // namespace

std::string_view FailureModeWord(std::string_view mode) {
  if (mode.empty()) return "ERROR";
  for (std::string_view word : {"IGNORE", "RETRY", "ERROR", "SILENT", "ASK", "JUMP", "VARIABLE", "RESTART", "PROGRAM"})
    if (ContainsNoCase(mode, word)) return word;
  return "";
}

int HandleStepFailure(int slot, int step_index) {
  if (slot < 0 || slot >= kMaxDocuments) return -1;
  ScriptDocument& doc = Document(slot);
  if (step_index < 0 || static_cast<std::size_t>(step_index) >= doc.steps.size()) return -1;
  Step& step = doc.steps[static_cast<std::size_t>(step_index)];
  const int number = step_index + 1;

  if (ContainsNoCase(step.action, "Delay") || ContainsNoCase(step.action, "Freeze")) {
    step.run_result = 1;
    return -1;
  }
  if (ContainsNoCase(step.action, "IF ") && !ContainsNoCase(step.options, "Quick")) {
    step.run_result = 4;
    return FindElseOrEndIf(slot, step_index, false);
  }
  if (WithinTimeout(step, slot, step_index)) {
    step.run_result = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(kTimeoutRetryPauseMs));
    return step_index;
  }
  if (step.fail_snapshot != 0) SaveSnapshot(number);

  step.run_result = 3;
  const std::string& mode = step.fail_mode();
  LogText("    Failure Mode: " + (mode.empty() ? std::string("(no failure mode selected)") : mode));
  if (ContainsNoCase(mode, "IGNORE")) {
    step.run_result = 4;
    return step_index + 1;
  }
  if (!ContainsNoCase(mode, "JUMP")) WriteSetting("SOFTWARE\\Olvex\\FailStep", number);

  // A step that logs its failure raises logging for the report only (setting
  // the level back otherwise would end -L's logging of the runs to come).
  const bool raised = LogLevel() == 0 && step.fail_log != 0;
  if (raised) SetLogLevel(1);
  const platform::LocalDateTime now = platform::locale().Now();
  SetStatusText(true, 0, "Run Failure in \"%s\" at [Step %d]", doc.file_name.c_str(), number);
  char head[1024];
  std::snprintf(head, sizeof head, "Failure during Run\n\nFile:\t%s\nStep:\t%d\nTime:\t%02d:%02d\nAction:\t\"%s\"\t",
                doc.file_name.c_str(), number, now.hour, now.minute, step.action.c_str());
  std::string report = head;
  const std::string title = doc.file_name + " - Step " + std::to_string(number);
  const std::string error = WithoutPercent(StepError());
  if (!error.empty()) {
    if (error.size() < kLongErrorMessage) {
      report += "\nError:  " + error;
    } else {
      LogText(error);
    }
  }
  LogText(report);
  if (raised) SetLogLevel(0);
  ClearStepError();

  ControlState& control = Control();
  if (ContainsNoCase(mode, "RETRY")) {
    ++control.retry_count;
    if (control.retry_count > FirstNumber(step.fail_option())) return RunFails();
    LogLine("    Retrying step (retry %d of %s)", control.retry_count, step.fail_option().c_str());
    LogStep(slot, step_index);
    return step_index;
  }
  if (ContainsNoCase(mode, "ERROR") || mode.empty()) {
    if (!BoxShownLately()) ShowFailureBox(report, title, platform::box::kOk);
    return ContainsNoCase(mode, "ERROR AND CONTINUE") ? step_index + 1 : RunFails();
  }
  if (ContainsNoCase(mode, "SILENT")) return RunFails();
  if (ContainsNoCase(mode, "ASK")) {
    if (ShowFailureBox(report + "\n\nContinue?", title, platform::box::kYesNo) != platform::box::kAnswerYes) {
      LogText("    User chose to STOP");
      return RunFails();
    }
    LogText("    User chose to CONTINUE");
    return step_index + 1;
  }
  if (ContainsNoCase(mode, "JUMP")) {
    const std::string& label = step.fail_option();
    const int target = FindLabel(slot, label);
    if (target >= 0) {
      LogLine("    Jumping to label \"%s\" [%s - STEP %d]", label.c_str(), doc.file_name.c_str(), target + 1);
      return target;
    }
    LogLine("    Label \"%s\" not found", label.c_str());
    ShowFailureBox("Label \"" + label + "\" not found", title, platform::box::kOk);
    return RunFails();
  }
  if (ContainsNoCase(mode, "VARIABLE")) {
    if (!step.fail_option().empty()) IncrementCounter(slot, step_index, step);
    return step_index + 1;
  }
  if (ContainsNoCase(mode, "RESTART")) {
    LogText("    Restarting Run at at [Step 1]");
    LogStep(slot, step_index);
    control.retry_count = 0;
    return 0;
  }
  if (ContainsNoCase(mode, "PROGRAM")) {
    const std::string command = ExpandEnvironment(step.fail_option()).substr(0, kProgramLineMax);
    LogLine("    Running program: [%s]", command.c_str());
    if (!platform::StartProgram(command, true)) LogLine("    Unable to start program \"%s\"", command.c_str());
  }
  return RunFails();
}

}  // namespace olvex
