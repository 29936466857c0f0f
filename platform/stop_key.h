#pragma once
// The stop key that ends a run. Windows: a virtual key polled with
// GetAsyncKeyState (Pause by default). POSIX: the signals SIGINT and SIGTERM
// stand for it; they are counted once WatchStopSignals has been called.
namespace platform {

// Installs the signal handlers (POSIX); nothing on Windows.
void WatchStopSignals();
// How many stop signals arrived since WatchStopSignals (0 on Windows).
int StopSignalCount();
// True when the key is down or was pressed since the previous call (Windows);
// always false on POSIX, where the signals reach the main loop instead.
bool StopKeyPressed(int virtual_key);

}  // namespace platform
