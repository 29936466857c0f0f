#include "screen/screen_actions.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "engine/text.h"
#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/windows.h"
#include "screen/picture.h"
#include "vars/expand.h"

namespace olvex {

namespace {

constexpr Colour kDefaultMask = 0xFF00FF;
// The setting value that stands for no mask colour.
constexpr int kMaskOff = 0x100;
// Picture files above this size are not read.
constexpr std::uint64_t kMaxPictureFile = 256u << 20;
constexpr std::size_t kShownSourceMax = 59;
constexpr std::size_t kBmpFileHeader = 14, kBmpInfoHeader = 40;

// The closest miss logged so far: a later search logs again only when it
// comes closer (or starts afresh with its first attempt).
std::atomic<int> g_best_logged{0};

bool HaveDesktop() {
  const platform::ScreenArea area = platform::screen().SearchArea();
  return area.width > 0 && area.height > 0;
}

std::string Expanded(std::string_view field, int slot, int step_index) {
  return ExpandText(field, slot, step_index, 0);
}

// "x,y": the first number of each part.
Point PointOf(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos) return {FirstNumber(text), 0};
  return {FirstNumber(text.substr(0, comma)), FirstNumber(text.substr(comma + 1))};
}

// The picture a source names; `tolerance` is raised for a pixel list.
bool LoadPicture(const std::string& source, Picture& picture, int& tolerance, std::string& error) {
  if (IsPixelList(source)) {
    picture = ParsePixelList(source);
    tolerance = std::max(tolerance, 15);
    return true;
  }
  const platform::FileContent file = platform::ReadWholeFile(source, kMaxPictureFile);
  if (file.status != platform::ReadStatus::Ok) {
    error = "the file cannot be read";
    return false;
  }
  if (ContainsNoCase(source, ".BMP")) return ReadBmp(file.data, picture, error);
  platform::Pixels decoded;
  if (!platform::screen().DecodePicture(file.data, decoded, error)) return false;
  picture.width = decoded.width;
  picture.height = decoded.height;
  picture.bits_per_pixel = 32;
  picture.pixels = std::move(decoded.colours);
  return true;
}

void LogSearch(const ImageRequest& request, const Picture& picture, int tolerance, const ImageMatch& match,
               const platform::ScreenArea& area) {
  const int best = match.closest.matched;
  if (!request.first_attempt && !(best > g_best_logged.load() && best > 1)) return;
  const std::string shown =
      request.source.size() > kShownSourceMax ? request.source.substr(0, kShownSourceMax) + "..." : request.source;
  LogLine("    \"%s\" %smatched (%d of %d pixels matched)", shown.c_str(), match.found ? "" : "not ", best,
          picture.width * picture.height);
  const Colour first = picture.pixels[0];
  LogLine("    Image parameters: %d x %d, %d-bit, first pixel #%02X%02X%02X", picture.height, picture.width,
          picture.bits_per_pixel > 23 ? 32 : picture.bits_per_pixel, platform::RedOf(first), platform::GreenOf(first),
          platform::BlueOf(first));
  LogLine("    Scanned (%d, %d) -> (%d, %d)", match.area.left + area.left, match.area.top + area.top,
          match.area.right + area.left, match.area.bottom + area.top);
  LogLine("    Match Method: %s, RGB Tolerance: %d, Required Percentage: %d%%",
          request.slow ? "Slow Scan (Pixel-by-Pixel)" : "Fast Scan (Video Memory)", tolerance,
          request.percent == 0 ? 100 : request.percent);
  if (best > 1) {
    const ClosestMiss& c = match.closest;
    LogLine("    Closest match at (%d, %d) which was good thru pixel #%d of %d  (all coordinates are 0-based)",
            c.at.x + area.left, c.at.y + area.top, best, picture.width * picture.height);
    LogLine("    Last matching pixel: Screen (%d, %d) RGB[%d, %d, %d] vs. Image (%d, %d) RGB[%d, %d, %d]",
            c.screen.x + area.left, c.screen.y + area.top, platform::RedOf(c.screen_colour),
            platform::GreenOf(c.screen_colour), platform::BlueOf(c.screen_colour), c.pixel.x, c.pixel.y,
            platform::RedOf(c.image_colour), platform::GreenOf(c.image_colour), platform::BlueOf(c.image_colour));
    g_best_logged.store(best);
  }
  LogText(" ");
}

std::optional<Rect> InBuffer(const std::optional<Rect>& rect, const platform::ScreenArea& area) {
  if (!rect) return std::nullopt;
  return Rect{rect->left - area.left, rect->top - area.top, rect->right - area.left, rect->bottom - area.top};
}

// The mask colour of masked searches: magenta, or the setting *\MaskColor.
Colour MaskColour() {
  if (!SettingExists("*\\MaskColor")) return kDefaultMask;
  const int value = ReadSettingNumber("*\\MaskColor");
  return value == kMaskOff ? kNoMask : static_cast<Colour>(value) & 0xFFFFFFu;
}

// The rectangle of the current window (or the foreground window), narrowed
// by value2 (left and top moved inwards) and value3 (width and height).
std::optional<Rect> WindowRectangle(const Step& step, int slot, int step_index) {
  platform::Windows& windows = platform::windows();
  platform::WindowId window = static_cast<platform::WindowId>(RunShared().current_window.load());
  if (window == 0 || !windows.Exists(window)) window = windows.Foreground();
  const std::optional<platform::WindowRect> r = window ? windows.Rect(window) : std::nullopt;
  if (!r) return std::nullopt;
  int left = static_cast<int>(r->x), top = static_cast<int>(r->y);
  int width = static_cast<int>(r->width), height = static_cast<int>(r->height);
  const std::string inset = Expanded(step.value(2), slot, step_index);
  const std::string size = Expanded(step.value(3), slot, step_index);
  if (!inset.empty()) {
    const Point p = PointOf(inset);
    if (p.x > 0 && p.x < width) left += p.x, width -= p.x;
    if (p.y > 0 && p.y < height) top += p.y, height -= p.y;
  }
  if (!size.empty()) {
    const Point p = PointOf(size);
    if (p.x > 0 && p.x < width) width = p.x;
    if (p.y > 0 && p.y < height) height = p.y;
  }
  const Rect rect{left, top, left + width, top + height};
  if (step.run_attempts < 2)
    LogLine("    \"ScanLastWin\": Scanning rectangle (%d, %d) - (%d, %d)", rect.left, rect.top, rect.right, rect.bottom);
  return rect;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::remove(path.c_str());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

// Saves a screen area as a BMP file; the number of image bytes, 0 on failure.
// Saves a copy of the area as a BMP file, or with no path puts it on the
// clipboard; the count of image bytes (1 for the clipboard), 0 on failure.
std::size_t SaveArea(const platform::ScreenArea& area, const std::string& path, std::string& error) {
  platform::Pixels pixels;
  if (!platform::screen().Capture(area, false, pixels) && !platform::screen().Capture(area, true, pixels)) {
    error = "The screen cannot be read";
    return 0;
  }
  const std::string bmp = WriteBmp(pixels.colours.data(), pixels.width, pixels.height);
  if (path.empty()) return platform::clipboard().SetPicture(bmp.substr(kBmpFileHeader), error) ? 1 : 0;
  if (!WriteFile(path, bmp)) {
    error = "Unable to write file '" + path + "'";
    return 0;
  }
  return bmp.size() - kBmpFileHeader - kBmpInfoHeader;
}

}  // namespace

bool CaptureScreen(ScreenCapture& out, bool slow, const std::optional<Rect>& rect) {
  platform::Screen& screen = platform::screen();
  out.area = screen.SearchArea();
  if (out.area.width <= 0 || out.area.height <= 0) return false;
  if (!slow) return screen.Capture(out.area, false, out.pixels);
  // Pixel by pixel only the rectangle is read.
  const Rect whole = ImageArea(InBuffer(rect, out.area), out.area.width, out.area.height);
  out.pixels.width = out.area.width;
  out.pixels.height = out.area.height;
  out.pixels.colours.assign(static_cast<std::size_t>(out.area.width) * static_cast<std::size_t>(out.area.height), 0);
  const platform::ScreenArea part{out.area.left + whole.left, out.area.top + whole.top, whole.right - whole.left,
                                  whole.bottom - whole.top};
  if (part.width <= 0 || part.height <= 0) return true;
  platform::Pixels read;
  if (!screen.Capture(part, true, read)) return false;
  for (int y = 0; y < part.height; ++y)
    std::copy_n(read.colours.begin() + static_cast<std::ptrdiff_t>(y) * part.width, part.width,
                out.pixels.colours.begin() + static_cast<std::ptrdiff_t>(whole.top + y) * out.area.width + whole.left);
  return true;
}

bool FindImage(const ImageRequest& request, ImageSpot& spot) {
  if (request.first_attempt) g_best_logged.store(0);
  Picture picture;
  int tolerance = request.tolerance;
  std::string error;
  if (!LoadPicture(request.source, picture, tolerance, error)) {
    if (LogLevel() >= 2) LogLine("    Picture not loaded (%s): %s", request.source.c_str(), error.c_str());
    return false;
  }
  if (picture.empty()) return false;
  spot.width = picture.width;
  spot.height = picture.height;

  platform::Screen& screen = platform::screen();
  const std::uint32_t old_priority = request.priority_class ? screen.SwapPriorityClass(request.priority_class) : 0;
  ScreenCapture capture;
  const bool captured = CaptureScreen(capture, request.slow, request.rect) ||
                        (!request.slow && CaptureScreen(capture, true, request.rect));
  ImageMatch match;
  if (captured) {
    ImageQuery query;
    query.rect = InBuffer(request.rect, capture.area);
    query.tolerance = tolerance;
    query.allowed_mismatches = AllowedMismatches(picture.width * picture.height, request.percent);
    query.mask = request.mask;
    query.want_closest = LogLevel() >= 2;
    match = SearchImage(capture.frame(), picture, query);
  }
  if (old_priority) screen.SwapPriorityClass(old_priority);
  if (!captured) return false;
  if (LogLevel() >= 2) LogSearch(request, picture, tolerance, match, capture.area);
  if (!match.found) return false;
  spot.left = match.at.x + capture.area.left;
  spot.top = match.at.y + capture.area.top;
  return true;
}

std::optional<Point> FindPixel(Colour colour, const std::optional<Rect>& rect, int tolerance, Point start,
                               const ScreenCapture* capture, bool slow) {
  ScreenCapture fresh;
  if (!capture) {
    if (!CaptureScreen(fresh, slow, rect) && (slow || !CaptureScreen(fresh, true, rect))) return std::nullopt;
    capture = &fresh;
  }
  const platform::ScreenArea& area = capture->area;
  const std::optional<Point> found =
      SearchPixel(capture->frame(), colour, InBuffer(rect, area), tolerance, {start.x - area.left, start.y - area.top});
  if (!found) return std::nullopt;
  return Point{found->x + area.left, found->y + area.top};
}

int FindImageForStep(int slot, int step_index, ImageSpot& spot) {
  Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  if (!HaveDesktop()) {
    SetStepError(kNoDesktop);
    return -1;
  }
  const int tolerance = std::max(FirstNumber(Expanded(step.value(1), slot, step_index).substr(0, 63)), 0);
  const int percent_field = std::abs(FirstNumber(Expanded(step.value(4), slot, step_index)));
  const int percent = percent_field == 0 ? 100 : std::min(percent_field, 100);
  const bool slow = ContainsNoCase(step.options, "Slow");
  const Colour mask =
      ContainsNoCase(step.options, "Masked") || ContainsNoCase(step.action, "Masked") ? MaskColour() : kNoMask;

  std::optional<Rect> rect;
  if (ContainsNoCase(step.options, "Active") || ContainsNoCase(step.options, "ScanLastWin")) {
    rect = WindowRectangle(step, slot, step_index);
    if (!rect) {
      SetStepError("No window to search in");
      return -1;
    }
  } else {
    Point top_left = PointOf(Expanded(step.value(2), slot, step_index));
    top_left = {std::max(top_left.x, 0), std::max(top_left.y, 0)};
    const std::string bottom_right_text = Expanded(step.value(3), slot, step_index);
    Point bottom_right;
    if (bottom_right_text.empty() && !(top_left == Point{})) {
      const platform::ScreenArea area = platform::screen().SearchArea();
      bottom_right = {area.width + top_left.x, area.height + top_left.y};
    } else {
      bottom_right = PointOf(bottom_right_text);
      bottom_right = {std::max(bottom_right.x, 0), std::max(bottom_right.y, 0)};
    }
    if (top_left.x != 0 && top_left.y != 0 && top_left == bottom_right) {
      // One point: its colour against the step's colour text.
      const std::optional<Colour> pixel = platform::screen().PixelAt(top_left.x, top_left.y);
      return pixel && *pixel == ParseColorText(Expanded(step.text, slot, step_index)) ? 1 : 0;
    }
    rect = Rect{top_left.x, top_left.y, bottom_right.x, bottom_right.y};
  }

  const std::string text = Expanded(step.text, slot, step_index);
  if (ContainsNoCase(step.action, "Pixel")) {
    if (step.run_attempts <= 2) LogLine("    Searching for pixel color %s", text.c_str());
    const Point start{std::min(rect->left, rect->right), std::min(rect->top, rect->bottom)};
    const std::optional<Point> at = FindPixel(ParseColorText(text), rect, tolerance, start, nullptr, slow);
    if (!at) return 0;
    spot.left = at->x;
    spot.top = at->y;
    return 1;
  }

  int number = 0;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t cut = text.find(';', at);
    if (cut == std::string::npos) cut = text.size();
    const std::string item(TrimBlanks(std::string_view(text).substr(at, cut - at)));
    at = cut + 1;
    if (item.empty()) continue;
    ++number;
    ImageRequest request{item, rect, tolerance, percent, mask, platform::kIdlePriorityClass, slow, step.run_attempts < 2};
    bool extracted = false;
    if (!IsPixelList(item)) {
      request.source = ScriptRelativePath(slot, item);
      if (step.embedded_id(number) != 0)
        extracted = ExtractEmbedded(slot, step_index, request.source, 1, number - 1);
      if (!platform::PathExists(request.source)) {
        SetStepError("Unable to open file '" + item + "'");
        return -1;
      }
      if (step.run_attempts <= 2) LogLine("    Searching for image (#%d) \"%s\"", number, item.c_str());
    }
    const bool found = FindImage(request, spot);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (extracted) ExtractEmbedded(slot, step_index, request.source, 2, number - 1);
    if (found) return 1;
  }
  if (tolerance < 8) {
    const int bits = platform::screen().Info().bits_per_pixel;
    if (bits > 0 && bits < 32)
      LogLine("    NOTE: Color bit depth is %d bits per pixel; raise \"RGB Color Tolerance\" to 8 or more to increase "
              "accuracy",
              bits);
  }
  return 0;
}

int HandleImageCaptureStep(int slot, int step_index) {
  Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  if (!HaveDesktop()) {
    SetStepError(kNoDesktop);
    return 0;
  }
  const bool to_clipboard = ContainsNoCase(step.output(), "Clipboard");
  // The file is named by the output option; the catalog's own example names it in the text.
  std::string path;
  if (!to_clipboard) {
    path = Expanded(step.output_option(), slot, step_index);
    if (path.empty()) path = Expanded(step.text, slot, step_index);
    if (path.empty()) {
      SetStepError("Image Capture needs a file name to save to");
      return 0;
    }
  }
  platform::ScreenArea area = platform::screen().SearchArea();
  if (ContainsNoCase(step.options, "Area")) {
    const Point corner = PointOf(Expanded(step.value(1), slot, step_index));
    const Point size = PointOf(Expanded(step.value(2), slot, step_index));
    if (size.x > 1 && size.y > 1) area = {corner.x, corner.y, size.x, size.y};
  } else if (ContainsNoCase(step.options, "Window")) {
    platform::Windows& windows = platform::windows();
    platform::WindowId window = static_cast<platform::WindowId>(RunShared().current_window.load());
    if (window == 0 || !windows.Exists(window) || !windows.IsVisible(window)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      window = windows.Foreground();
      RunShared().current_window.store(static_cast<std::intptr_t>(window));
    }
    const std::optional<platform::WindowRect> r = window ? windows.Rect(window) : std::nullopt;
    if (!r) {
      SetStepError("No window to capture");
      return 0;
    }
    area = {static_cast<int>(r->x), static_cast<int>(r->y), static_cast<int>(r->width), static_cast<int>(r->height)};
  }
  std::string error;
  if (SaveArea(area, path, error) == 0) {
    SetStepError(error);
    return 0;
  }
  return 1;
}

bool SaveScreenSnapshot(const std::string& path, std::string& error) {
  if (!HaveDesktop()) {
    error = kNoDesktop;
    return false;
  }
  return SaveArea(platform::screen().SearchArea(), path, error) > 0;
}

}  // namespace olvex
