#pragma once
// The image search as its description reads, position by position: the
// yardstick of the search's tests and benchmarks.
#include <algorithm>
#include <optional>

#include "screen/image_search.h"

namespace olvex::test {

struct Answer { bool found = false; Point at; ClosestMiss closest; };

// Position by position from the rectangle's top-left: look for the first
// pixel's colour, compare row-major, count matches.
inline Answer PlainScan(const Frame& f, const Picture& pic, std::optional<Rect> rect, int tol, int allowed, Colour mask) {
  Answer a;
  Rect r = rect.value_or(Rect{0, 0, f.width, f.height});
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  if (r.right == r.left) r.right = f.width;
  if (r.bottom == r.top) r.bottom = f.height;
  // A picture never reaches past the screen's edges.
  r.left = std::clamp(r.left, 0, f.width);
  r.top = std::clamp(r.top, 0, f.height);
  r.right = std::clamp(r.right, 0, f.width);
  r.bottom = std::clamp(r.bottom, 0, f.height);
  const int w = pic.width, h = pic.height, n = w * h;
  if (n == 0 || r.right - r.left < w || r.bottom - r.top < h) return a;
  auto screen = [&](int x, int y) { return f.pixels[y * f.width + x]; };
  auto within = [&](Colour p, Colour s) {
    if (tol == 0) return p == s;
    for (int shift : {0, 8, 16}) {
      const int pv = (p >> shift) & 0xFF, sv = (s >> shift) & 0xFF;
      if (pv < std::max(sv - tol, 0) || pv > std::min(sv + tol, 255)) return false;
    }
    return true;
  };
  int x = r.left, y = r.top;
  for (;;) {
    if (pic.pixels[0] != mask) {
      // The pixel search: the rectangle clipped to the screen, right and bottom included.
      bool hit = false;
      for (int yy = y; yy <= std::min(r.bottom, f.height - 1) && !hit; ++yy)
        for (int xx = yy == y ? x : r.left; xx <= std::min(r.right, f.width - 1) && !hit; ++xx)
          if (within(pic.pixels[0], screen(xx, yy))) {
            hit = true;
            x = xx;
            y = yy;
          }
      if (!hit) return a;
    }
    if (x + w > r.right) {
      ++y;
      x = r.left;
      continue;
    }
    if (y + h > r.bottom) return a;
    int matches = 0;
    for (int i = 0; i < n; ++i) {
      const Colour p = pic.pixels[i], s = screen(x + i % w, y + i / w);
      if (p == mask || within(p, s)) {
        ++matches;
      } else if (matches > a.closest.matched) {
        a.closest = {matches, {x, y}, {i % w, i / w}, {x + i % w, y + i / w}, s, p};
      }
      if (matches + allowed >= n) {
        a.found = true;
        a.at = {x, y};
        return a;
      }
      if (matches + allowed < i + 1) break;
    }
    ++x;
  }
}

}  // namespace olvex::test
