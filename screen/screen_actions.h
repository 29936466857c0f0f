#pragma once
// The screen as steps see it: captures, the search for pictures and pixel
// colours with a step's fields, the Image Capture action and the snapshot of
// a failed step.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/screen.h"
#include "screen/image_search.h"

namespace olvex {

inline constexpr const char* kNoDesktop = "No desktop is available on this system";

// A copy of the screen area the search covers (the primary monitor, or the
// first two monitors), with where that area lies on the screen.
struct ScreenCapture {
  platform::ScreenArea area;
  platform::Pixels pixels;
  Frame frame() const { return {pixels.width, pixels.height, pixels.colours.data()}; }
};

// Fills `out`: in one copy, or with `slow` pixel by pixel (then only the
// rectangle, given in screen coordinates, is read; the rest stays black).
// False when there is no screen or it cannot be read.
bool CaptureScreen(ScreenCapture& out, bool slow, const std::optional<Rect>& rect = std::nullopt);

struct ImageSpot {
  int left = 0, top = 0, width = 0, height = 0;
};

struct ImageRequest {
  std::string source;         // a file name or a pixel list
  std::optional<Rect> rect;   // screen coordinates; none: the whole search area
  int tolerance = 0;          // per channel
  int percent = 100;          // of the pixels that must match
  Colour mask = kNoMask;
  std::uint32_t priority_class = 0;  // of the process during the scan; 0 leaves it
  bool slow = false;
  bool first_attempt = true;  // the closest-miss log starts afresh
};

// Loads the picture, captures the screen and searches. The width and height
// are reported whenever the picture loads; the position when it is found.
bool FindImage(const ImageRequest& request, ImageSpot& spot);

// The first pixel of the colour in the rectangle from `start` (screen
// coordinates), read from `capture` when given, else from a fresh capture
// (or, with `slow`, pixel by pixel).
std::optional<Point> FindPixel(Colour colour, const std::optional<Rect>& rect, int tolerance, Point start,
                               const ScreenCapture* capture, bool slow);

// The search a step asks for, from its fields (text, options, value1 to
// value4): 1 found, 0 not found, -1 failed with the reason in the step
// error message. A pixel search reports only left and top.
int FindImageForStep(int slot, int step_index, ImageSpot& spot);

// The System action Image Capture: the whole screen, the current window or
// an area, saved as a BMP file.
int HandleImageCaptureStep(int slot, int step_index);

// Saves the whole screen as a BMP file; false with the reason in `error`.
bool SaveScreenSnapshot(const std::string& path, std::string& error);

}  // namespace olvex
