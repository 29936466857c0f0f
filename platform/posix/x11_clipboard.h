// The X server's CLIPBOARD selection as the clipboard service
// (platform/clipboard.h).
#pragma once

#include <memory>

#include "platform/clipboard.h"

namespace platform::x11 {

// The process's clipboard on the X server; nullptr without one.
Clipboard* DesktopClipboard();
// A clipboard of its own connection (tests: a second client of the server).
std::unique_ptr<Clipboard> OpenClipboard();

}  // namespace platform::x11
