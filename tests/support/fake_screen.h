#pragma once
// A screen of `width` x `height` pixels whose colours a test paints; it is the
// screen service while it exists. Outside it there are no pixels.
#include <optional>
#include <vector>

#include "platform/screen.h"

namespace olvex::test {

class PaintedScreen : public platform::Screen {
 public:
  PaintedScreen(int w, int h, platform::Colour background)
      : width(w), height(h), pixels(static_cast<std::size_t>(w * h), background) {
    platform::SetScreenForTest(this);
  }
  ~PaintedScreen() override { platform::SetScreenForTest(nullptr); }
  // Paints the `w` x `h` block at left,top with `colours`, row by row (one colour: all of it).
  void Paint(int left, int top, int w, int h, const std::vector<platform::Colour>& colours) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        pixels[static_cast<std::size_t>((top + y) * width + left + x)] =
            colours.size() == 1 ? colours[0] : colours[static_cast<std::size_t>(y * w + x)];
  }
  std::optional<platform::Colour> PixelAt(int x, int y) override {
    if (x < 0 || y < 0 || x >= width || y >= height) return std::nullopt;
    return pixels[static_cast<std::size_t>(y * width + x)];
  }
  platform::ScreenInfo Info() override { return {width, height, 1, 32}; }
  bool Capture(const platform::ScreenArea& a, bool, platform::Pixels& out) override {
    out.width = a.width;
    out.height = a.height;
    out.colours.assign(static_cast<std::size_t>(a.width * a.height), 0);
    for (int y = 0; y < a.height; ++y)
      for (int x = 0; x < a.width; ++x)
        out.colours[static_cast<std::size_t>(y * a.width + x)] = PixelAt(a.left + x, a.top + y).value_or(0);
    return true;
  }
  int width, height;
  std::vector<platform::Colour> pixels;
};

}  // namespace olvex::test
