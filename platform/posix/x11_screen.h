// The X server's screen as the screen service (platform/screen.h).
#pragma once

#include "platform/screen.h"

namespace platform::x11 {

// The root window's screen; nullptr without an X server.
Screen* DesktopScreen();

}  // namespace platform::x11
