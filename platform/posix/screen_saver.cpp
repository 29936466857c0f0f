// No desktop, no screen saver to ask about.
#include "platform/screen_saver.h"

namespace platform {

std::optional<bool> ScreenSaverRunning() { return std::nullopt; }

}  // namespace platform
