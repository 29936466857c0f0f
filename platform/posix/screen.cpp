// No desktop screen to read: no pixels and a size of zero.
#include "platform/screen.h"

namespace platform {
namespace {

class NoScreen : public Screen {
 public:
  std::optional<Colour> PixelAt(int, int) override { return std::nullopt; }
  ScreenInfo Info() override { return {}; }
};

}  // namespace

Screen& PlatformScreen() {
  static NoScreen instance;
  return instance;
}

}  // namespace platform
