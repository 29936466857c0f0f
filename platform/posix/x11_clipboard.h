// The X server's CLIPBOARD selection as the clipboard service
// (platform/clipboard.h).
#pragma once

#include "platform/clipboard.h"

namespace platform::x11 {

// The process's clipboard on the X server; nullptr without one.
Clipboard* DesktopClipboard();

}  // namespace platform::x11
