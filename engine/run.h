#pragma once
// The run engine: one run at a time executes a document's steps on a worker
// thread, dispatching each step to the handler of its category.
#include <cstdint>
#include <functional>
#include <string>

namespace olvex {

inline constexpr int kCommandNewRun = 0x405;
inline constexpr int kCommandContinue = 0x407;
inline constexpr int kRepeatForever = 2000000000;

// A category handler: returns 1 (success), 0 (failure, with the reason in
// the step error message) or -1 (stop the run). `on_main` is 1 when the main
// thread runs it for the worker.
using StepHandler = std::function<int(int slot, int step_index, int on_main)>;
// Replaces the handler of a category (2 .. 16), as tests do; an empty
// function puts the built-in handler (engine/dispatch) back.
void SetCategoryHandler(int category, StepHandler handler);

// Decides where the run goes after a failed step: the next index, or a
// negative number to end the run. The default logs the failure and ends it.
using FailureHandler = std::function<int(int slot, int step_index)>;
void SetFailureHandler(FailureHandler handler);

// The step error message that a failing handler fills (at most 4095 characters).
void SetStepError(const std::string& text);
std::string StepError();
void ClearStepError();

// Starts a run of document `slot`; `first_step` is zero-based.
void StartRun(int slot, int command, bool reset_repeats, int first_step, int delay_ms);
// The worker's body. `packed_start`: slot in bits 28..31, first step in bits
// 0..23, any of bits 24..27 runs that one step only.
void StepLoop(std::uint32_t packed_start);
// Ends a run: from the main thread without `force` it asks the worker to
// stop (and arms the 3500 ms timer that ends it by force); the worker calls
// it when its loop has ended.
void EndRun(int slot, bool force, int last_step, bool single_step);

// True while a worker is registered.
bool RunActive();
// Waits until no worker thread is left (a worker abandoned by a forced stop
// is not waited for). Returns false when one was abandoned.
bool WaitForWorkers();

// Per document: the inter-step delay (ms after each successful step; a run
// starts with the setting's) and the repeat counter.
void SetStepDelay(int slot, int ms);
int StepDelay(int slot);
void SetRunRepeats(int slot, int count);
int RunRepeats(int slot);

// How the runs since the last new start (StartRun with reset_repeats) ended:
// the worst of them. The program's exit code tells these apart.
enum class RunOutcome : int {
  kCompleted = 0,  // the steps ran out, a breakpoint or an Exit action ended the run
  kFailed = 1,     // "RUN FAILED", or an invalid step ended it
  kStopped = 3,    // the stop key, a stop signal or request, Cancel in a result box
  kForced = 4,     // a stop that the worker did not honour in time ended it by force
};
RunOutcome LastRunOutcome();
// The exit code when no Exit action set one: the outcome's code for a run
// that did not complete, else the setting *\DefaultReturnCode.
int ExitCodeForOutcome(RunOutcome outcome);
// The exit code the program ends with after the runs so far: the one an Exit
// action set, else ExitCodeForOutcome(LastRunOutcome()).
int RunExitCode();

// The step the running (or latest) run is in: zero-based, -1 before its
// first; its document slot; the pass its innermost loop is in (1 the first,
// 0 outside loops). Read by the run-tracking display and the closing report.
int RunningStep();
int RunningSlot();
int RunningLoopPass();
// The step (zero-based, -1 when none) and the error text (empty when none)
// of the worst ending since the last new start: a failure, a stop, a forced end.
int LastRunEndStep();
std::string LastRunEndError();

// Called when a run ends and the program should close (exit after the run).
void SetRunEndedHandler(std::function<void()> handler);
// True while the running run is asked to stop (the stop flag, or a stop
// request that counts as the stop key); a handler that waits ends its wait.
bool StopRequested();
// StopRequested, or the stop key pressed since it was last asked about (noted
// as a stop request, so that the step loop ends the run after the step): what
// a handler that waits on something asks.
bool StopRequestedOrKeyPressed();
// Asks a running run to stop, as the stop key does: the worker stops after
// the current step; `force` ends it at once.
void RequestStop(bool force);

}  // namespace olvex
