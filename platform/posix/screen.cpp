// The X server's screen when DISPLAY names one; otherwise no desktop screen
// to read: no pixels and a size of zero.
#include "platform/screen.h"

#include "platform/posix/x11_screen.h"

namespace platform {
namespace {

class NoScreen : public Screen {
 public:
  std::optional<Colour> PixelAt(int, int) override { return std::nullopt; }
  ScreenInfo Info() override { return {}; }
};

}  // namespace

Screen& PlatformScreen() {
  if (Screen* desktop = x11::DesktopScreen()) return *desktop;
  static NoScreen instance;
  return instance;
}

}  // namespace platform
