#pragma once
// The runtime's main window and how many of them are open on the desktop.
// Windows: the hidden window of class "OlvexClass" (title "Olvex Studio")
// that the main thread's loop serves. POSIX has no window: a runtime marks
// itself as running instead, with a lock on its own byte (its process id) of
// the file "OlvexClass.windows" in the private temporary folder; the lock goes
// with the process, however it ends.
namespace platform {

// Creates the main window on the calling thread, which must be the thread that
// serves the main loop; calling it again keeps the first window. False when the
// window cannot be created (POSIX: never).
bool CreateMainWindow();
// The number of main windows that exist, the caller's own included: Windows
// counts the top-level windows of class "OlvexClass"; POSIX counts the running
// runtimes that created theirs (and this process, when it did).
int CountMainWindows();

}  // namespace platform
