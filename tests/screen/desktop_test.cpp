// The search on a real desktop (Windows; under Wine with Xvfb): a window of
// this process shows pictures at known places, and the steps must find them
// at those screen positions.
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include "engine/if_step.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "screen/picture.h"
#include "screen/screen_actions.h"
#include "tests/support/script_test.h"
#include "vars/system_actions.h"
#include "vars/variables.h"
#include "windows/window_match.h"

namespace olvex::test {
namespace {

constexpr int kLeft = 120, kTop = 90, kWidth = 160, kHeight = 120;

// A borderless topmost window at kLeft, kTop that shows `pixels`.
class PaintedWindow {
 public:
  PaintedWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "OlvexScreenTestWindow";
    RegisterClassA(&wc);
    window_ = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, "screen test", WS_POPUP, kLeft, kTop,
                              kWidth, kHeight, nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(window_, SW_SHOWNOACTIVATE);
  }
  ~PaintedWindow() { DestroyWindow(window_); }

  // Shows the pixels and waits (at most 3 s) until the screen shows them.
  HWND handle() const { return window_; }
  bool Show(const std::vector<Colour>& pixels) {
    pixels_ = pixels;
    InvalidateRect(window_, nullptr, FALSE);
    UpdateWindow(window_);
    for (int i = 0; i < 300; ++i) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      if (platform::screen().PixelAt(kLeft + 3, kTop + 3) == pixels_[3 * kWidth + 3] &&
          platform::screen().PixelAt(kLeft + kWidth - 2, kTop + kHeight - 2) ==
              pixels_[(kHeight - 2) * kWidth + kWidth - 2])
        return true;
      Sleep(10);
    }
    return false;
  }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<PaintedWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg != WM_PAINT || !self) return DefWindowProcA(hwnd, msg, wp, lp);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    std::vector<DWORD> bgrx(self->pixels_.size());
    for (std::size_t i = 0; i < bgrx.size(); ++i) {
      const Colour c = self->pixels_[i];
      bgrx[i] = static_cast<DWORD>(platform::RedOf(c) << 16 | platform::GreenOf(c) << 8 | platform::BlueOf(c));
    }
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    SetDIBitsToDevice(dc, 0, 0, kWidth, kHeight, 0, 0, 0, kHeight, bgrx.data(), &info, DIB_RGB_COLORS);
    EndPaint(hwnd, &ps);
    return 0;
  }

  HWND window_ = nullptr;
  std::vector<Colour> pixels_;
};

// A picture no desktop shows by chance: 12 x 10 pixels of a pattern.
Picture Pattern(Colour seed) {
  Picture p{12, 10, 24, std::vector<Colour>(120)};
  for (int i = 0; i < 120; ++i) p.pixels[i] = (seed + static_cast<Colour>(i) * 0x0A1B2Cu) & 0xFFFFFFu;
  return p;
}

std::vector<Colour> Canvas(Colour background) { return std::vector<Colour>(kWidth * kHeight, background); }

void Put(std::vector<Colour>& canvas, const Picture& p, int x, int y) {
  for (int r = 0; r < p.height; ++r)
    for (int c = 0; c < p.width; ++c) canvas[(y + r) * kWidth + x + c] = p.pixels[r * p.width + c];
}

class DesktopTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    SetLogLevel(1);
  }
  std::string SaveBmp(const std::string& name, const Picture& p) {
    return dir().Write(name, WriteBmp(p.pixels.data(), p.width, p.height));
  }
  // FindImageForStep over the step; the top-left found, or nothing.
  std::optional<Point> Find(const std::string& xml) {
    Load(xml);
    ImageSpot spot;
    if (FindImageForStep(0, 0, spot) != 1) return std::nullopt;
    return Point{spot.left, spot.top};
  }

  PaintedWindow window_;
};

TEST_F(DesktopTest, PicturesAndPixelsAreFoundWhereTheWindowShowsThem) {
  const Picture p = Pattern(0x102030);
  std::vector<Colour> canvas = Canvas(0x808080);
  Put(canvas, p, 40, 30);
  canvas[100 * kWidth + 150] = 0x13579B;
  ASSERT_TRUE(window_.Show(canvas));
  const std::string file = SaveBmp("pattern.bmp", p);
  EXPECT_EQ(Find(StepText("IF Image is Visible", file)), (Point{kLeft + 40, kTop + 30}));
  EXPECT_EQ(Find(StepText("IF Pixel is Visible", "9B5713")), (Point{kLeft + 150, kTop + 100}));
  // Use Window by image takes the window that shows the picture.
  Load(StepText("Use Window", file, "<options>Image</options>"));
  EXPECT_EQ(UseWindowAction(0, 0), reinterpret_cast<platform::WindowId>(window_.handle())) << StepError();
  EXPECT_EQ(Find(StepText("IF Pixel is Visible", "9B5713", "<value1>2</value1>")), (Point{kLeft + 150, kTop + 100}));
  const std::string inside = "<value2>" + std::to_string(kLeft) + "," + std::to_string(kTop) + "</value2><value3>" +
                             std::to_string(kLeft + kWidth) + "," + std::to_string(kTop + kHeight) + "</value3>";
  EXPECT_EQ(Find(StepText("IF Image is Visible", file, inside + "<options>Slow</options>")),
            (Point{kLeft + 40, kTop + 30}));
}

TEST_F(DesktopTest, CapturesSaveTheScreenAndAGifLoadsThroughTheSystem) {
  const std::vector<Colour> four{0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF};
  Picture gif_picture{8, 6, 8, std::vector<Colour>(48)};
  for (int i = 0; i < 48; ++i) gif_picture.pixels[i] = four[(i * 7 + i / 8) % 4];
  std::vector<Colour> canvas = Canvas(0x445566);
  Put(canvas, gif_picture, 10, 70);
  Put(canvas, Pattern(0x654321), 100, 20);
  ASSERT_TRUE(window_.Show(canvas));

  // The GIF file of that picture (LZW with a clear code after every two pixels).
  const std::string gif_bytes(
      "GIF89a"
      "\x08\x00\x06\x00\xF1\x00\x00\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\x00\x2C\x00\x00\x00\x00\x08\x00"
      "\x06\x00\x00\x02\x1C\xC4\xA8\x10\xA3\xC2\x80\x13\x03\x4E\x54\x88\x51\x21\xC6\x89\x01\x27\x06\xC4\xA8\x10"
      "\xA3\xC2\x80\x13\x03\x4E\x05\x00\x3B",
      67);
  const std::string gif = dir().Write("four.gif", gif_bytes);
  EXPECT_EQ(Find(StepText("IF Image is Visible", gif)), (Point{kLeft + 10, kTop + 70}));

  // Image Capture of the window's area: the BMP holds what the window shows.
  const std::string shot = dir().File("shot.bmp");
  Load("<step><action>Image Capture</action><options>Area</options><value1>" + std::to_string(kLeft) + "," +
       std::to_string(kTop) + "</value1><value2>" + std::to_string(kWidth) + "," + std::to_string(kHeight) +
       "</value2><output value=\"" + shot + "\">File</output></step>");
  ASSERT_EQ(HandleSystemStep(0, 0), 1) << StepError();
  Picture saved;
  std::string error;
  ASSERT_TRUE(ReadBmp(ReadBytes(shot), saved, error)) << error;
  EXPECT_EQ(saved.pixels, canvas);

  // Captures give back every GDI object they take.
  const DWORD objects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  platform::Pixels pixels;
  int captured = 0;
  for (int i = 0; i < 10000; ++i) captured += platform::screen().Capture({kLeft, kTop, 16, 16}, false, pixels) ? 1 : 0;
  EXPECT_EQ(captured, 10000);
  EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), objects);
  EXPECT_EQ(pixels.colours[0], 0x445566u);
}

}  // namespace
}  // namespace olvex::test
#endif
