#pragma once
// The search for a picture or a colour in a captured screen buffer. Pure
// computation over memory: capturing the buffer is the caller's business.
//
// The answer is that of the plain scan: positions are tried row by row from
// the search rectangle's top-left; a position counts only when the picture's
// first pixel matches there (unless that pixel is masked), and it is found
// when no more than the allowed number of pixels differ. The search gets
// there faster: it starts from the picture pixel rarest on the screen,
// compares the rarest pixels first, and decides whole runs of positions over
// flat screen areas at once.
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/screen.h"

namespace olvex {

using Colour = platform::Colour;

// A colour no pixel has: the picture has no mask colour.
inline constexpr Colour kNoMask = 0xFFFFFFFFu;

// A screen buffer: `width` colours a row, rows from the top.
struct Frame {
  int width = 0, height = 0;
  const Colour* pixels = nullptr;
};

struct Picture {
  int width = 0, height = 0;
  int bits_per_pixel = 24;     // of the file it came from
  std::vector<Colour> pixels;  // row-major, 0x00BBGGRR
  bool empty() const { return width <= 0 || height <= 0; }
};

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

// True when every channel of `a` lies within the same channel of `b` plus or
// minus `tolerance`; with tolerance 0 (or less) the colours must be equal.
inline bool ColoursMatch(Colour a, Colour b, int tolerance) {
  if (tolerance <= 0) return ((a ^ b) & 0xFFFFFFu) == 0;
  const unsigned span = 2u * static_cast<unsigned>(tolerance);
  const auto within = [&](int shift) {
    const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    return static_cast<unsigned>(d + tolerance) <= span;
  };
  return within(0) && within(8) && within(16);
}

// The area a picture may cover: the whole screen without a rectangle; an
// inverted rectangle is put in order; a right equal to the left reaches the
// screen's right edge, a bottom equal to the top its bottom edge; the result
// is clipped to the screen. A picture at x,y covers x .. x + width - 1.
Rect ImageArea(const std::optional<Rect>& rect, int screen_width, int screen_height);

// How many pixels may differ for a required percentage: for 0 < p < 100,
// pixels - (p * pixels + 50) / 100; otherwise none.
int AllowedMismatches(int pixels, int percent);

struct ImageQuery {
  std::optional<Rect> rect;
  int tolerance = 0;
  int allowed_mismatches = 0;
  Colour mask = kNoMask;
  // Also work out the closest miss (costs about what the plain scan costs).
  bool want_closest = false;
};

// The position that came closest: at `at`, `matched` pixels matched before
// the picture pixel `pixel` (at `screen` on the screen) differed.
struct ClosestMiss {
  int matched = 0;  // 0: no position was compared, or none differed
  Point at, pixel, screen;
  Colour screen_colour = 0, image_colour = 0;
  bool operator==(const ClosestMiss&) const = default;
};

struct ImageMatch {
  bool found = false;
  Point at;             // the top-left of the match, in buffer coordinates
  Rect area;            // the area searched (ImageArea)
  ClosestMiss closest;  // with want_closest
};

ImageMatch SearchImage(const Frame& frame, const Picture& picture, const ImageQuery& query);

// The first pixel of the colour, row by row: inside the rectangle (whole
// screen without one; put in order, widened as ImageArea does, clipped to
// the screen, right and bottom included), starting at `start` when either
// part is above 0.
std::optional<Point> SearchPixel(const Frame& frame, Colour colour, const std::optional<Rect>& rect, int tolerance,
                                 Point start = {});

}  // namespace olvex
