#pragma once
// The screen: its size, monitors and colour depth, and the colour of a pixel.
// The service is an interface so that tests can put a fake in place of the
// real one (SetScreenForTest).
#include <cstdint>
#include <optional>

namespace platform {

// A colour as 0x00BBGGRR (the Win32 COLORREF layout).
using Colour = std::uint32_t;

constexpr Colour MakeColour(int red, int green, int blue) {
  return static_cast<Colour>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}
constexpr int RedOf(Colour c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(Colour c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(Colour c) { return static_cast<int>((c >> 16) & 0xFF); }

struct ScreenInfo {
  int width = 0, height = 0;  // primary screen, pixels
  int monitors = 0;
  int bits_per_pixel = 0;
};

struct MonitorSize {
  int width = 0, height = 0;
};

class Screen {
 public:
  virtual ~Screen() = default;
  // Colour of the desktop pixel at x,y (screen coordinates); nothing when
  // the point is off the screen or the screen cannot be read.
  virtual std::optional<Colour> PixelAt(int x, int y) = 0;
  // Size, monitor count and colour depth; zeros when there is no screen.
  virtual ScreenInfo Info() = 0;
  // Size of the second monitor (monitors counted once per process); nothing without one.
  virtual std::optional<MonitorSize> SecondMonitor() { return std::nullopt; }
};

// The screen service in force: the platform's own, or the one a test installed.
Screen& screen();
// Tests: install a fake (nullptr puts the platform's own back).
void SetScreenForTest(Screen* fake);

}  // namespace platform
