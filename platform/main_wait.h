#pragma once
// How the main thread waits for work. Windows: the thread owns the hidden
// main window (class "OlvexClass", title "Olvex Studio") and serves its
// messages while it waits. POSIX: a plain wait.
namespace platform {

// Waits until WakeMainThread is called (or was called since the previous
// wait), or `max_ms` have passed. Windows: the first call creates the
// hidden main window; messages that arrive are served and end the wait.
void WaitOnMainThread(int max_ms);
// Ends the main thread's current (or next) wait; any thread may call it.
void WakeMainThread();

}  // namespace platform
