#pragma once
// The Windows category: Use Window and the window actions (Get Text, Set
// Text, Get Window Info, Move Window, Resize, Maximize, Minimize, Restore,
// Close Window, Set Window Style, Child Control Action, Minimize all Windows,
// Close all Windows).
#include <functional>

#include "platform/windows.h"

namespace olvex {

int HandleWindowsStep(int slot, int step_index);

// Closes a window by increasingly forceful means: WM_CLOSE sent (waited for
// `timeout_ms`, at least 250 ms; a window that does not answer has its
// process ended), then posted, DestroyWindow, Alt+F4, each after 250 ms while
// the window is still there; a window still there once the time-out has
// passed has its process ended. True when the window is gone.
bool CloseWindowHard(platform::WindowId window, int timeout_ms);

// Clicks a control in its dialog: activates the parent, puts the cursor on
// the control's centre and gives it the focus; an edit control gets all its
// text selected, any other control a left click.
void ClickControl(platform::WindowId control);

// Tests: the pauses of the window actions are handed to this instead of being
// slept (an empty function puts the sleeping back).
void SetWindowActionPauseForTest(std::function<void(int ms)> pause);

}  // namespace olvex
