#include "engine/run.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#include "documents/excel_automation.h"
#include "engine/catalog.h"
#include "engine/control.h"
#include "engine/dispatch.h"
#include "engine/document.h"
#include "engine/failure.h"
#include "engine/flow.h"
#include "engine/if_step.h"
#include "engine/journal.h"
#include "engine/main_loop.h"
#include "engine/output.h"
#include "engine/run_log.h"
#include "engine/run_tracking.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "input/keyboard.h"
#include "input/mouse.h"
#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "platform/locale.h"
#include "platform/main_window.h"
#include "platform/stop_key.h"
#include "platform/system.h"
#include "vars/expand.h"
#include "vars/format.h"
#include "vars/variable_actions.h"
#include "vars/variables.h"

namespace olvex {

SharedRunState& RunShared() {
  static SharedRunState state;
  return state;
}

namespace {

constexpr int kStopTimer = 0x8069;
constexpr int kStopTimerMs = 3500;
constexpr std::size_t kStepErrorMax = 4095;
constexpr const char* kScreenSaveActive = "HKEY_CURRENT_USER\\Control Panel\\Desktop\\ScreenSaveActive";

std::mutex g_handlers_mutex;
std::array<StepHandler, 17> g_handlers;
FailureHandler g_failure_handler;
std::function<void()> g_run_ended;

std::mutex g_error_mutex;
std::string g_step_error;

std::atomic<bool> g_run_active{false};
std::atomic<bool> g_abandoned{false};
std::atomic<int> g_run_slot{0};
std::atomic<int> g_key_hit{0};  // a stop request that counts as the stop key
std::atomic<int> g_outcome{0};  // RunOutcome: the worst since the last new start
std::atomic<int> g_running_step{-1};  // the step the worker is in, zero-based
std::atomic<int> g_loop_pass{0};      // the pass its innermost loop is in, from 1 (0: in no loop)
std::string g_end_error;              // the error of the step that set g_outcome (g_error_mutex)
std::atomic<int> g_outcome_step{-1};  // that step, zero-based
std::array<std::atomic<int>, kMaxDocuments> g_repeats{};
std::array<std::atomic<int>, kMaxDocuments> g_step_delay{};

std::mutex g_workers_mutex;
std::condition_variable g_workers_cv;
int g_workers = 0;

std::string Marked(std::string text) {
  for (char& c : text) {
    if (c == '%') c = kPercentMarker;
  }
  return text;
}

Step& StepAt(int slot, int index) { return Document(slot).steps[static_cast<std::size_t>(index)]; }

int Dispatch(int slot, int step_index) {
  const int category = StepAt(slot, step_index).category;
  if (category < 2 || category > 16) {
    LogText("    Unknown Action (" + std::to_string(category) + ") \"" + Marked(StepAt(slot, step_index).action) + "\"");
    return 1;
  }
  StepHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_handlers_mutex);
    handler = g_handlers[static_cast<std::size_t>(category)];
  }
  if (handler) return handler(slot, step_index, 0);
  if (CategoryHandler built_in = HandlerOfCategory(category)) return built_in(slot, step_index);
  return StepNotAvailable(slot, step_index);
}

int HandleFailure(int slot, int step_index) {
  FailureHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_handlers_mutex);
    handler = g_failure_handler;
  }
  return handler ? handler(slot, step_index) : HandleStepFailure(slot, step_index);
}

// Sleeps `ms`, waking early when the run is asked to stop.
void DelayStep(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!StopRequested()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) break;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(20)));
  }
}

std::string Padded(std::string text, char pad) {
  if (text.size() < 60) text.append(60 - text.size(), pad);
  return text;
}

// A later, worse outcome replaces the one noted, with its step and error (a
// forced stop outranks the stop before it; a repeat that completes keeps the
// failure of the one before).
void NoteOutcome(RunOutcome outcome, int step, std::string error = {}) {
  int seen = g_outcome.load();
  while (static_cast<int>(outcome) > seen) {
    if (!g_outcome.compare_exchange_weak(seen, static_cast<int>(outcome))) continue;
    g_outcome_step.store(step);
    std::lock_guard<std::mutex> lock(g_error_mutex);
    g_end_error = std::move(error);
    return;
  }
}

const char* OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kFailed: return "failed";
    case RunOutcome::kStopped: return "stopped";
    case RunOutcome::kForced: return "forced";
    case RunOutcome::kCompleted: break;
  }
  return "completed";
}

void WorkerBody(std::uint32_t packed) {
  StepLoop(packed);
  std::lock_guard<std::mutex> lock(g_workers_mutex);
  --g_workers;
  g_workers_cv.notify_all();
}

}  // namespace

void SetCategoryHandler(int category, StepHandler handler) {
  if (category < 2 || category > 16) return;
  std::lock_guard<std::mutex> lock(g_handlers_mutex);
  g_handlers[static_cast<std::size_t>(category)] = std::move(handler);
}

void SetFailureHandler(FailureHandler handler) {
  std::lock_guard<std::mutex> lock(g_handlers_mutex);
  g_failure_handler = std::move(handler);
}

void SetStepError(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_error_mutex);
  g_step_error = text.substr(0, kStepErrorMax);
}
std::string StepError() {
  std::lock_guard<std::mutex> lock(g_error_mutex);
  return g_step_error;
}
void ClearStepError() { SetStepError(""); }

int RunningStep() { return g_running_step.load(); }
int LastRunEndStep() { return g_outcome_step.load(); }
int RunningSlot() { return g_run_slot.load(); }
int RunningLoopPass() { return g_loop_pass.load(); }

std::string LastRunEndError() {
  std::lock_guard<std::mutex> lock(g_error_mutex);
  return g_end_error;
}

void SetRunRepeats(int slot, int count) {
  if (slot >= 0 && slot < kMaxDocuments) g_repeats[static_cast<std::size_t>(slot)].store(count);
}
void SetStepDelay(int slot, int ms) {
  if (slot >= 0 && slot < kMaxDocuments) g_step_delay[static_cast<std::size_t>(slot)].store(ms);
}
int StepDelay(int slot) { return slot >= 0 && slot < kMaxDocuments ? g_step_delay[static_cast<std::size_t>(slot)].load() : 0; }
int RunRepeats(int slot) { return slot >= 0 && slot < kMaxDocuments ? g_repeats[static_cast<std::size_t>(slot)].load() : 0; }

void SetRunEndedHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(g_handlers_mutex);
  g_run_ended = std::move(handler);
}

bool RunActive() { return g_run_active.load(); }

RunOutcome LastRunOutcome() { return static_cast<RunOutcome>(g_outcome.load()); }

int ExitCodeForOutcome(RunOutcome outcome) {
  return outcome == RunOutcome::kCompleted ? ReadSettingNumber("*\\DefaultReturnCode") : static_cast<int>(outcome);
}

int RunExitCode() {
  const int code = RunShared().exit_code.load();
  return code != kExitCodeNotSet ? code : ExitCodeForOutcome(LastRunOutcome());
}

bool StopRequested() { return RunShared().stop_flag.load() != 0 || g_key_hit.load() != 0; }

bool StopRequestedOrKeyPressed() {
  if (StopRequested()) return true;
  if (!platform::StopKeyPressed(RunShared().stop_key.load())) return false;
  RequestStop(false);
  return true;
}

bool WaitForWorkers() {
  std::unique_lock<std::mutex> lock(g_workers_mutex);
  g_workers_cv.wait(lock, [] { return g_workers == 0 || g_abandoned.load(); });
  return g_workers == 0;
}

void RequestStop(bool force) {
  if (!g_run_active.load()) return;
  if (force) {
    EndRun(g_run_slot.load(), true, 0, false);
    return;
  }
  g_key_hit.store(1);
  SetMainTimer(kStopTimer, kStopTimerMs, [] { EndRun(g_run_slot.load(), true, 0, false); });
}

void StartRun(int slot, int command, bool reset_repeats, int first_step, int delay_ms) {
  if (slot < 0 || slot >= kMaxDocuments) return;
  if (delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
  if (g_run_active.load()) return;
  if (reset_repeats) {
    SetRunRepeats(slot, 0);
    g_outcome.store(0);
    g_outcome_step.store(-1);
    std::lock_guard<std::mutex> lock(g_error_mutex);
    g_end_error.clear();
  }
  ScriptDocument& doc = Document(slot);
  if (doc.steps.empty()) {
    platform::dialogs().ShowMessage("The file is empty.\n\nPlease add commands before using this feature.",
                                    "System Message", platform::box::kOk | platform::box::kIconInformation);
    return;
  }
  if (first_step >= static_cast<int>(doc.steps.size())) return;
  if (first_step < 0) first_step = 0;
  ReadLogLevelSetting();
  if (ReadSettingNumber("*\\RestartLog") != 0) DeleteLogFile();
  if (command == kCommandNewRun) {
    // Another runtime's main window open: its run may still use the variables.
    if (ReadSettingNumber("*\\ResetUserVariables") != 0 && platform::CountMainWindows() < 2) ResetUserVariables();
    for (Step& step : doc.steps) {
      step.run_attempts = 0;
      step.run_result = 0;
    }
    ClearControlState();
    ClearWorkbookFlags();
  }
  // The last failed step is a value; a key of that name is removed as well.
  DeleteSetting("SOFTWARE\\Olvex\\FailStep");
  DeleteSetting("SOFTWARE\\Olvex\\FailStep\\");
  RunShared().held_keys.store(0);
  DeleteSetting(SettingKey("*\\InterStepDelay-%d", slot));
  const platform::Locale& locale = platform::locale();
  const platform::LocalDateTime now = locale.Now();
  LogText("");
  LogText(Padded("---- START OF RUN ", '-'));
  LogText("SCRIPT: \"" + Marked(doc.file_name) + "\"");
  LogLine("TIME:   %d:%02d:%02d on %s, %d %s %d", now.hour, now.minute, now.second, locale.DayName(now.weekday, false).c_str(),
          now.day, locale.MonthName(now.month, false).c_str(), now.year);
  if (LogLevel() > 1) LogText("LOG LEVEL HIGH");
  JournalRunStart(doc.file_name, expansion_host().CommandLine().value_or(""));
  BeginRunTracking();
  if (ReadSettingNumber("*\\DisableScreenSaver") != 0) {
    WriteSetting("*\\ScreenSaverHolder", ReadSettingString(kScreenSaveActive, 63));
    WriteSetting(kScreenSaveActive, "0");
  }
  RunShared().stop_flag.store(0);
  g_key_hit.store(0);
  platform::StopKeyPressed(RunShared().stop_key.load());
  g_run_slot.store(slot);
  g_running_step.store(-1);
  g_abandoned.store(false);
  g_run_active.store(true);
  {
    std::lock_guard<std::mutex> lock(g_workers_mutex);
    ++g_workers;
  }
  const std::uint32_t packed = (static_cast<std::uint32_t>(slot) << 28) | (static_cast<std::uint32_t>(first_step) & 0xFFFFFF);
  std::thread(WorkerBody, packed).detach();
}

void StepLoop(std::uint32_t packed_start) {
  const int slot = static_cast<int>(packed_start >> 28) & 0x7;
  const int first = static_cast<int>(packed_start & 0xFFFFFF);
  const bool single = (packed_start & 0x0F000000u) != 0;
  ScriptDocument& doc = Document(slot);
  SharedRunState& shared = RunShared();
  const int global_delay = ReadSettingNumber("*\\InterStepDelay");
  SetStepDelay(slot, global_delay != 0 ? global_delay : ReadSettingNumber(SettingKey("*\\InterStepDelay-%d", slot)));
  ReadLogLevelSetting();
  const std::uint64_t start_tick = platform::TickCount();
  const int count = static_cast<int>(doc.steps.size());
  int i = first;
  int previous = -1;
  int last_entered = -1;
  int steps_run = 0;
  RunOutcome ended = RunOutcome::kCompleted;
  auto end_as = [&ended](RunOutcome outcome, std::string error = {}) {
    ended = outcome;
    NoteOutcome(outcome, g_running_step.load(), std::move(error));
  };
  for (;;) {
    if (i < 0 || i >= count || doc.steps[static_cast<std::size_t>(i)].category < 1 ||
        doc.steps[static_cast<std::size_t>(i)].category > 16) {
      if (i == first) {
        char text[600];
        std::snprintf(text, sizeof text, "Invalid [STEP %d] in \"%s\"!\n\nDiscontinuing Execution", i + 1, doc.file_name.c_str());
        LogText(Marked(text));
        platform::dialogs().ShowMessage(text, "Run Error", platform::box::kOk | platform::box::kIconExclamation);
        g_running_step.store(i);
        end_as(RunOutcome::kFailed, "Invalid [STEP " + std::to_string(i + 1) + "]");
      } else if (i != count) {
        LogLine("Invalid next step in File %d at [STEP %d]!  Discontinuing Execution", slot + 1, i + 1);
        g_running_step.store(i);
        end_as(RunOutcome::kFailed, "Invalid next step in File " + std::to_string(slot + 1) + " at [STEP " +
                                        std::to_string(i + 1) + "]");
      }
      break;
    }
    Step& step = doc.steps[static_cast<std::size_t>(i)];
    if (step.run_status & kRunStatusDisabled) {
      step.run_result = 0;
      if (LogLevel() > 1) LogText("[STEP " + std::to_string(i + 1) + "]: (SKIPPED) \"" + Marked(step.action) + "\"");
      ++i;
      if (i >= count) break;
      continue;
    }
    if (step.run_status & kRunStatusBreakpoint) {
      step.run_result = 0;
      LogText("[STEP " + std::to_string(i + 1) + "]: <<BREAKPOINT>> \"" + Marked(step.action) + "\"");
      SetStatusText(true, 0, "[STEP %d]: <<BREAKPOINT>> \"%s\"", i + 1, step.action.c_str());
      break;
    }
    if (i != previous) {
      LogStep(slot, i);
      JournalStepBegin(slot, i);
      Control().retry_count = 0;
      ++steps_run;
    }
    previous = i;
    last_entered = i;
    g_running_step.store(i);
    const LoopEntry& loop = InnermostLoop(slot);
    g_loop_pass.store(loop.start_step == 0 ? 0 : loop.passes < INT32_MAX ? loop.passes + 1 : loop.passes);
    shared.next_step.store(-1);
    step.run_result = 1;
    ++step.run_attempts;
    ClearStepError();  // a failure ignored, or a message a step left after it succeeded, is not this attempt's
    const int result = Dispatch(slot, i);
    const bool key = platform::StopKeyPressed(shared.stop_key.load()) || g_key_hit.exchange(0) != 0;
    const int flag = shared.stop_flag.load();
    if (result == -1 || key || flag != 0) {
      step.run_result = StartsWithNoCase(step.action, "Exit ") ? 2 : 1;
      SetRunRepeats(slot, 0);
      LogLine("Stopping run at [STEP %d]  Flags: %d/%d/%d", i + 1, result == -1 ? 1 : 0, key ? shared.stop_key.load() : 0, flag);
      SetStatusText(true, 0, "Stopping run at [STEP %d]", i + 1);
      // A step ended by a stop (its prompt or wait saw the stop signal before
      // the main loop turned it into a request) ends the run as stopped too;
      // only the Exit actions end it by their own choice.
      if (key || flag != 0 || !ContainsNoCase(step.action, "Exit ")) end_as(RunOutcome::kStopped);
      JournalStepResult("stopped", "", "");
      break;
    }
    if (result == 0) {
      if (LogLevel() > 1) LogLine("    [STEP %d] Return: Failure", i + 1);
      const std::string error = StepError();
      i = HandleFailure(slot, i);
      JournalStepFailed(step, error);
      if (i < 0) {
        end_as(RunOutcome::kFailed, error);
        break;
      }
    } else {
      step.run_result = 2;
      JournalStepResult("success", "", "");
      if (LogLevel() > 1) LogLine("    [STEP %d] Return: Success", i + 1);
      const int next = shared.next_step.load();
      i = next >= 0 ? next : i + 1;
      if (const int delay = StepDelay(slot); delay > 0) DelayStep(delay);
    }
    if (single || i >= count) break;
  }
  ReleaseLoopWork();
  if (last_entered >= 0) {
    const Step& last = doc.steps[static_cast<std::size_t>(last_entered)];
    const int timeout = FirstNumber(last.timeout());
    if ((ContainsNoCase(last.action, " Popup") || ContainsNoCase(last.action, "Display Image")) && timeout > 0)
      DelayStep(timeout < 1000 ? 1000 : std::min(timeout, 3000));
  }
  if (!single) {
    const platform::LocalDateTime now = platform::locale().Now();
    const int shown_step = std::min(i < 0 ? last_entered + 1 : i + 1, count);
    const std::string elapsed = DurationText(static_cast<std::int64_t>(platform::TickCount() - start_tick));
    LogText("Run Completed: \"" + Marked(doc.file_name) + "\"");
    LogLine("Run Completed on [STEP %d] at %d:%02d:%02d   ELAPSED TIME: %s   STEPS RUN: %d step%s", shown_step, now.hour,
            now.minute, now.second, elapsed.c_str(), steps_run, steps_run == 1 ? "" : "s");
    LogText(Padded("==== END OF RUN ", '='));
    LogText("");
    SetStatusText(true, 0, "Run Completed on [STEP %d]   STEPS RUN: %d", shown_step, steps_run);
    JournalRunEnd(OutcomeName(ended), RunExitCode());
  }
  // The worker unregisters itself; a run ended by force was already ended.
  if (!g_run_active.exchange(false)) return;
  EndRun(slot, false, i, single);
}

void EndRun(int slot, bool force, int last_step, bool single_step) {
  if (g_run_active.load()) {
    if (!force) {
      LogText("Attempting to stop run...");
      RunShared().stop_flag.store(1);
      SetMainTimer(kStopTimer, kStopTimerMs, [slot] { EndRun(slot, true, 0, false); });
      return;
    }
    if (!g_run_active.exchange(false)) return;  // the worker ended meanwhile
    SetRunRepeats(slot, 0);
    g_abandoned.store(true);
    RunShared().stop_flag.store(1);
    LogText("Run forcibly terminated");
    NoteOutcome(RunOutcome::kForced, g_running_step.load());
    JournalRunEnd(OutcomeName(RunOutcome::kForced), RunExitCode());
    {
      std::lock_guard<std::mutex> lock(g_workers_mutex);
      g_workers_cv.notify_all();
    }
  }
  KillMainTimer(kStopTimer);
  ReleaseHeldModifiers();
  ReleaseHeldButtons();
  if (!single_step) EndRunWorkbooks();
  if (ReadSettingNumber("*\\DisableScreenSaver") != 0 && SettingExists("*\\ScreenSaverHolder")) {
    WriteSetting(kScreenSaveActive, ReadSettingString("*\\ScreenSaverHolder", 63));
    DeleteSetting("*\\ScreenSaverHolder");
  }
  if (!single_step) {
    const int repeats = RunRepeats(slot);
    if (repeats > 0) {
      int left = repeats == kRepeatForever ? repeats : repeats - 1;
      SetRunRepeats(slot, left == 0 ? -1 : left);
      StartRun(slot, kCommandNewRun, false, 0, 0);
      return;
    }
  }
  platform::clipboard().HandOver();
  EndRunTracking();
  std::function<void()> ended;
  {
    std::lock_guard<std::mutex> lock(g_handlers_mutex);
    ended = g_run_ended;
  }
  if (ended) ended();
}

}  // namespace olvex
