#pragma once
// The Wait category: Delay, the key and mouse waits on the worker, and the
// long waits (windows, files, folders, pixels, images, the clipboard, the
// screen saver, idleness, typed text, a date and time) polled on the main
// thread while the worker waits; Wait for Restart registers the script to
// run again when the user next logs on.
namespace olvex {

int HandleWaitStep(int slot, int step_index);

}  // namespace olvex
