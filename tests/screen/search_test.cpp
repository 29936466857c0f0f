// The image search against a plain scan written straight from its
// description: random frames, pictures, masks, tolerances, percentages and
// rectangles must give the same answer and the same closest miss.
#include <gtest/gtest.h>

#include <random>

#include "screen/image_search.h"
#include "tests/screen/plain_scan.h"

namespace olvex::test {
namespace {

TEST(ImageSearch, SameAnswersAsThePlainScan) {
  std::mt19937 rng(20261207);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const Colour palette[] = {0x000000, 0xFFFFFF, 0x808080, 0x0000FF, 0x10E0F0, 0x123456, 0xFF00FF, 0x0F0F0F};
  int found = 0, with_closest = 0;
  for (int round = 0; round < 100000; ++round) {
    const int width = pick(1, 32), height = pick(1, 20);
    std::vector<Colour> pixels(static_cast<std::size_t>(width * height));
    // Flat backgrounds with patches of noise, or noise of a few colours.
    const int kind = pick(0, 2);
    const Colour background = palette[pick(0, 7)];
    for (Colour& c : pixels)
      c = kind == 0 ? background : kind == 1 ? palette[pick(0, 3)] : static_cast<Colour>(rng() & 0x3F3F3F);
    for (int patches = pick(0, 3); patches > 0; --patches) {
      const int px = pick(0, width - 1), py = pick(0, height - 1), pw = pick(1, 8), ph = pick(1, 8);
      for (int y = py; y < std::min(py + ph, height); ++y)
        for (int x = px; x < std::min(px + pw, width); ++x)
          pixels[y * width + x] = pick(0, 1) ? palette[pick(0, 7)] : static_cast<Colour>(rng() & 0xFFFFFF);
    }
    const Frame frame{width, height, pixels.data()};

    Picture pic;
    pic.width = pick(1, std::min(width + 1, 9));
    pic.height = pick(1, std::min(height + 1, 9));
    pic.pixels.resize(static_cast<std::size_t>(pic.width * pic.height));
    const int cut_x = pick(0, std::max(width - pic.width, 0)), cut_y = pick(0, std::max(height - pic.height, 0));
    const bool cut = pick(0, 3) != 0 && pic.width <= width && pic.height <= height;
    for (int i = 0; i < pic.width * pic.height; ++i) {
      Colour c = cut ? pixels[(cut_y + i / pic.width) * width + cut_x + i % pic.width] : palette[pick(0, 7)];
      if (pick(0, 9) == 0) c ^= static_cast<Colour>(pick(1, 0x1F)) << (8 * pick(0, 2));  // noise
      pic.pixels[i] = c;
    }
    Colour mask = kNoMask;
    if (pick(0, 2) == 0) {
      mask = 0xFF00FF;
      for (int m = pick(1, 6); m > 0; --m) pic.pixels[pick(0, pic.width * pic.height - 1)] = mask;
      if (pick(0, 1)) pic.pixels[0] = mask;
    }
    const int tolerance_choice = pick(0, 5);
    const int tolerance = tolerance_choice < 3 ? 0 : tolerance_choice == 3 ? pick(1, 40) : pick(0, 255);
    const int percent = pick(0, 2) ? 100 : pick(1, 100);
    std::optional<Rect> rect;
    if (pick(0, 2) != 0)
      rect = Rect{pick(-5, width + 5), pick(-5, height + 5), pick(-5, width + 5), pick(-5, height + 5)};
    if (rect && pick(0, 5) == 0) rect->right = rect->left;  // reaches the right edge

    const int allowed = AllowedMismatches(pic.width * pic.height, percent);
    const Answer plain = PlainScan(frame, pic, rect, tolerance, allowed, mask);
    ImageQuery query{rect, tolerance, allowed, mask, false};
    const ImageMatch fast = SearchImage(frame, pic, query);
    query.want_closest = true;
    const ImageMatch full = SearchImage(frame, pic, query);
    ASSERT_EQ(fast.found, plain.found) << "round " << round;
    ASSERT_EQ(full.found, plain.found) << "round " << round;
    if (plain.found) {
      ASSERT_EQ(fast.at, plain.at) << "round " << round;
      ASSERT_EQ(full.at, plain.at) << "round " << round;
      ++found;
    }
    ASSERT_EQ(full.closest, plain.closest) << "round " << round;
    with_closest += plain.closest.matched > 1;
  }
  // The cases reach both answers and real closest misses.
  EXPECT_GT(found, 20000);
  EXPECT_GT(with_closest, 10000);
}

}  // namespace
}  // namespace olvex::test
