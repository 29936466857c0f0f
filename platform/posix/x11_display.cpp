#include "platform/posix/x11_display.h"

#include <X11/Xlib.h>

#include <cstdlib>

namespace platform::x11 {

_XDisplay* Connection() {
  static Display* const display = []() -> Display* {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return nullptr;
    XInitThreads();
    return XOpenDisplay(name);
  }();
  return display;
}

}  // namespace platform::x11
