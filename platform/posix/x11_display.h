// The X server that the Linux desktop services (windows, input, screen,
// clipboard) talk to.
#pragma once

struct _XDisplay;

namespace platform::x11 {

// The server DISPLAY names, opened once for the process (after XInitThreads,
// so any thread may use it); nullptr when DISPLAY is unset or its server cannot
// be reached, and then every desktop step fails with "No desktop is available
// on this system".
_XDisplay* Connection();

}  // namespace platform::x11
