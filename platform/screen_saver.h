#pragma once
// Whether the screen saver is running.
#include <optional>

namespace platform {

// True while the screen saver runs; nothing where the system cannot tell.
std::optional<bool> ScreenSaverRunning();

}  // namespace platform
