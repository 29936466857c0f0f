#pragma once
// The main thread's event loop: tasks posted from other threads, timers, and
// the stop signals of the platform. The run's worker hands actions that need
// the main thread over with RunOnMainThread and waits for their result.
#include <functional>

namespace olvex {

// Serves the loop on the calling thread until QuitMainLoop.
void RunMainLoop();
void QuitMainLoop();
// Makes the calling thread the loop's thread ahead of RunMainLoop, so that a
// task a worker hands over before the loop starts waits for the loop instead
// of running on the worker.
void ClaimMainThread();
// True on the thread that serves the loop.
bool OnMainThread();
// Runs `task` on the main thread (later, in order).
void PostToMainThread(std::function<void()> task);
// Runs `task` on the main thread and returns its result. Called on the main
// thread, or when no loop is served, the task runs at once on the caller.
int RunOnMainThread(const std::function<int()>& task);
// A one-shot timer that runs `task` on the main thread after `ms`; arming an
// id again replaces it.
void SetMainTimer(int id, int ms, std::function<void()> task);
void KillMainTimer(int id);

// A condition polled on the main thread while the calling worker waits (the
// long waits). `poll` runs first after `first_ms`; it returns 0 when the
// condition came true, else the milliseconds until it runs again. The wait
// also ends when `timeout_ms` (> 0) have passed, and within 100 ms of
// `stopped` turning true (the caller asks it). Without a served loop the
// caller polls itself. A poll never runs after the wait has returned.
enum class WaitEnd { kMet, kTimedOut, kStopped };
WaitEnd WaitPolledOnMainThread(const std::function<int()>& poll, int first_ms, int timeout_ms,
                               const std::function<bool()>& stopped);
inline constexpr int kWaitPollTimer = 0x806C;
inline constexpr int kWaitTimeoutTimer = 0x806E;

// What the loop does when a stop signal arrives (the POSIX stop key): the
// count of signals so far is passed.
void SetStopSignalHandler(std::function<void(int count)> handler);

}  // namespace olvex
