// The image search on 1920 x 1080 frames (a desktop-like picture with large
// flat areas, noise, one flat colour) for a 32 x 32 picture near the
// bottom-right corner: exact, tolerance 16, 90 %, and masked with a masked
// first pixel. Beside it, the plain scan of the tests and, when CMake finds
// OpenCV, matchTemplate (TM_SQDIFF) on one thread.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "screen/image_search.h"
#include "tests/screen/plain_scan.h"

#ifdef OLVEX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace olvex {
namespace {

constexpr int kW = 1920, kH = 1080, kSide = 32;
constexpr int kAtX = kW - kSide - 40, kAtY = kH - kSide - 30;
constexpr Colour kMagenta = 0xFF00FF;

enum Kind { kDesktop, kNoise, kFlat };
enum Case { kExact, kTolerance16, kPercent90, kMasked };

struct Scene {
  std::vector<Colour> frame;
  Picture picture;
  int tolerance = 0, allowed = 0;
  Colour mask = kNoMask;
};

void FillRect(std::vector<Colour>& f, int x, int y, int w, int h, Colour c) {
  for (int r = y; r < std::min(y + h, kH); ++r)
    for (int col = x; col < std::min(x + w, kW); ++col) f[static_cast<std::size_t>(r * kW + col)] = c;
}

// A button of the background's colour round a 16 x 16 glyph: its first
// pixel is the commonest colour of the screen.
void PaintButton(std::vector<Colour>& f, int x, int y, Colour background, std::mt19937& rng) {
  FillRect(f, x, y, kSide, kSide, background);
  for (int r = 8; r < 24; ++r)
    for (int c = 8; c < 24; ++c)
      if (rng() % 3 != 0) f[static_cast<std::size_t>((y + r) * kW + x + c)] = rng() % 2 ? 0x202020 : 0x0060C0;
}

Scene MakeScene(Kind kind, Case which) {
  std::mt19937 rng(kind * 10 + which);
  Scene s;
  s.frame.assign(static_cast<std::size_t>(kW * kH), 0xF0F0F0);
  if (kind == kNoise) {
    for (Colour& c : s.frame) c = static_cast<Colour>(rng() & 0xFFFFFF);
  } else if (kind == kDesktop) {
    // Windows: flat faces, title bars and lines of text-like specks.
    FillRect(s.frame, 0, kH - 40, kW, 40, 0x803000);
    for (int w = 0; w < 12; ++w) {
      const int x = static_cast<int>(rng() % (kW - 500)), y = static_cast<int>(rng() % (kH - 400));
      FillRect(s.frame, x, y, 480, 360, 0xFFFFFF);
      FillRect(s.frame, x, y, 480, 24, 0xC07020);
      for (int line = 40; line < 340; line += 18)
        for (int i = 0; i < 300; ++i)
          if (rng() % 4 == 0) s.frame[static_cast<std::size_t>((y + line + static_cast<int>(rng() % 10)) * kW + x + 10 + i)] = 0x000000;
    }
  }
  if (kind != kNoise) PaintButton(s.frame, kAtX, kAtY, s.frame[static_cast<std::size_t>(kAtY * kW + kAtX)], rng);
  s.picture = {kSide, kSide, 24, std::vector<Colour>(kSide * kSide)};
  for (int i = 0; i < kSide * kSide; ++i)
    s.picture.pixels[static_cast<std::size_t>(i)] = s.frame[static_cast<std::size_t>((kAtY + i / kSide) * kW + kAtX + i % kSide)];
  if (which == kTolerance16) {
    s.tolerance = 16;
    for (Colour& c : s.picture.pixels) c ^= static_cast<Colour>(rng() % 8) << (8 * (rng() % 3));
  }
  if (which == kPercent90) {
    s.allowed = AllowedMismatches(kSide * kSide, 90);
    for (int i = 0; i < 50; ++i) s.picture.pixels[1 + rng() % (kSide * kSide - 1)] = 0x00FF00;
  }
  if (which == kMasked) {
    s.mask = kMagenta;
    for (int i = 0; i < kSide; ++i)
      for (int d : {0, 1}) {
        s.picture.pixels[static_cast<std::size_t>(d * kSide + i)] = kMagenta;
        s.picture.pixels[static_cast<std::size_t>(i * kSide + d)] = kMagenta;
      }
    // What the mask hides changes on the screen.
    FillRect(s.frame, kAtX, kAtY, kSide, 2, 0x00AA00);
  }
  return s;
}

void Check(benchmark::State& state, bool found, Point at) {
  if (!found || !(at == Point{kAtX, kAtY})) state.SkipWithError("not found at its place");
}

void BM_Search(benchmark::State& state) {
  const Scene s = MakeScene(static_cast<Kind>(state.range(0)), static_cast<Case>(state.range(1)));
  const Frame frame{kW, kH, s.frame.data()};
  const ImageQuery query{std::nullopt, s.tolerance, s.allowed, s.mask, false};
  ImageMatch m;
  for (auto _ : state) {
    m = SearchImage(frame, s.picture, query);
    benchmark::DoNotOptimize(m);
  }
  Check(state, m.found, m.at);
}

void BM_PlainScan(benchmark::State& state) {
  const Scene s = MakeScene(static_cast<Kind>(state.range(0)), static_cast<Case>(state.range(1)));
  const Frame frame{kW, kH, s.frame.data()};
  test::Answer a;
  for (auto _ : state) {
    a = test::PlainScan(frame, s.picture, std::nullopt, s.tolerance, s.allowed, s.mask);
    benchmark::DoNotOptimize(a);
  }
  Check(state, a.found, a.at);
}

#ifdef OLVEX_HAVE_OPENCV
cv::Mat ToMat(const Colour* pixels, int w, int h) {
  cv::Mat m(h, w, CV_8UC3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Colour c = pixels[y * w + x];
      m.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(c >> 16), static_cast<uchar>(c >> 8), static_cast<uchar>(c));
    }
  return m;
}

void BM_OpenCvMatchTemplate(benchmark::State& state) {
  cv::setNumThreads(1);
  const Scene s = MakeScene(static_cast<Kind>(state.range(0)), static_cast<Case>(state.range(1)));
  const cv::Mat frame = ToMat(s.frame.data(), kW, kH);
  const cv::Mat picture = ToMat(s.picture.pixels.data(), kSide, kSide);
  cv::Mat result;
  cv::Point best;
  for (auto _ : state) {
    cv::matchTemplate(frame, picture, result, cv::TM_SQDIFF);
    cv::minMaxLoc(result, nullptr, nullptr, &best, nullptr);
    benchmark::DoNotOptimize(best);
  }
}
#endif

void Cases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"frame", "case"});
  for (int kind : {kDesktop, kNoise, kFlat})
    for (int which : {kExact, kTolerance16, kPercent90, kMasked}) b->Args({kind, which});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Search)->Apply(Cases);
BENCHMARK(BM_PlainScan)->Apply(Cases)->Iterations(1);
#ifdef OLVEX_HAVE_OPENCV
BENCHMARK(BM_OpenCvMatchTemplate)->Apply(Cases);
#endif

}  // namespace
}  // namespace olvex

BENCHMARK_MAIN();
