// The keyboard and mouse of the X server that DISPLAY names
// (platform/posix/x11_input.cpp); without one no key is held and no lock is on.
#include "platform/input.h"

#include "platform/posix/x11_desktop.h"
#include "platform/posix/x11_display.h"

namespace platform {
namespace {

class NoInput : public Input {
 public:
  bool IsKeyDown(int) override { return false; }
  bool IsKeyToggled(int) override { return false; }
};

}  // namespace

Input& PlatformInput() {
  if (x11::Connection()) return x11::DesktopInput();
  static NoInput instance;
  return instance;
}

}  // namespace platform
