#pragma once
// Whether the screen saver is running; switching it on and off.
#include <optional>

namespace platform {

// True while the screen saver runs; nothing where the system cannot tell.
std::optional<bool> ScreenSaverRunning();
// Switches the screen saver on or off through the system parameters; true
// where the system has none to switch.
bool SetScreenSaverActive(bool active);

}  // namespace platform
