// No desktop, no screen saver to ask about.
#include "platform/screen_saver.h"

namespace platform {

std::optional<bool> ScreenSaverRunning() { return std::nullopt; }

bool SetScreenSaverActive(bool) { return true; }

}  // namespace platform
