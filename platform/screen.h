#pragma once
// The screen: its size, monitors and colour depth, the colour of a pixel,
// copies of screen areas, and pictures decoded by the system's own picture
// loader. The service is an interface so that tests can put a fake in place
// of the real one (SetScreenForTest).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// A rectangle of the screen, in screen coordinates.
struct ScreenArea {
  int left = 0, top = 0, width = 0, height = 0;
};

// A picture of `width` colours a row, rows from the top.
struct Pixels {
  int width = 0, height = 0;
  std::vector<Colour> colours;
};

// Process priority classes (the Win32 values).
inline constexpr std::uint32_t kIdlePriorityClass = 0x40;

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
  // The area the image search covers: the primary monitor or, with two or
  // more monitors, the smallest rectangle round the first two. Empty when
  // there is no screen.
  virtual ScreenArea SearchArea() {
    const ScreenInfo info = Info();
    return {0, 0, info.width, info.height};
  }
  // Copies a screen area (parts off the screen come out black). The fast way
  // copies it in one go; `slow` reads pixel by pixel. False when the screen
  // cannot be read that way.
  virtual bool Capture(const ScreenArea& /*area*/, bool /*slow*/, Pixels& /*out*/) { return false; }
  // Decodes a picture file that is not a BMP (JPEG, GIF, icons, ...) with the
  // system's picture loader, drawn over a copy of the screen's top-left
  // corner so that its transparent parts show the screen. False with the
  // reason in `error`.
  virtual bool DecodePicture(const std::string& /*bytes*/, Pixels& /*out*/, std::string& error) {
    error = "Only BMP pictures can be read on this system";
    return false;
  }
  // Sets the process's priority class and returns the one it had (0 when
  // the system has none).
  virtual std::uint32_t SwapPriorityClass(std::uint32_t /*priority_class*/) { return 0; }
};

// The screen service in force: the platform's own, or the one a test installed.
Screen& screen();
// Tests: install a fake (nullptr puts the platform's own back).
void SetScreenForTest(Screen* fake);

}  // namespace platform
