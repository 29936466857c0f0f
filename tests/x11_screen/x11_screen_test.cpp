// The screen and the clipboard on a real X server (cmake/x11-session.sh), with
// olvex-x11-target painting and xclip as another client; skipped without DISPLAY.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "platform/clipboard.h"
#include "screen/picture.h"
#include "screen/screen_actions.h"
#include "tests/support/script_test.h"
#include "tests/support/test_support.h"
#include "tests/x11/x11_target.h"
// Last: Xlib's macros (None, Bool, Status) would clash with the names above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace olvex::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Waits (at most 10 s) until the screen shows `colour` at x,y.
bool Shows(int x, int y, Colour colour) {
  for (auto until = Clock::now() + 10s; Clock::now() < until; std::this_thread::sleep_for(10ms))
    if (platform::screen().PixelAt(x, y) == colour) return true;
  return false;
}

class X11ScreenTest : public ScriptTest {
 protected:
  void SetUp() override {
    if (platform::screen().Info().width == 0) GTEST_SKIP() << "no X server (DISPLAY)";
    ScriptTest::SetUp();
    InstallExpander();
  }
  std::optional<Point> Find(const std::string& xml) {
    Load(xml);
    ImageSpot spot;
    if (FindImageForStep(0, 0, spot) != 1) return std::nullopt;
    return Point{spot.left, spot.top};
  }
  int ResultOf(int step) const { return Document(0).steps[static_cast<std::size_t>(step)].run_result; }
};

// Four 4 x 4 blocks: red, green over blue, yellow.
constexpr Colour kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kYellow = 0x00FFFF;
Picture Quadrants() {
  Picture p{8, 8, 24, std::vector<Colour>(64)};
  for (int i = 0; i < 64; ++i) p.pixels[i] = (i / 8 < 4) ? (i % 8 < 4 ? kRed : kGreen) : (i % 8 < 4 ? kBlue : kYellow);
  return p;
}

TEST_F(X11ScreenTest, PicturesAndPixelsAreFoundWhereTheTargetPaintsThem) {
  X11Target target("x11 screen test", "320x200+200+150");
  for (const char* paint : {"paint 40 30 4 4 FF0000", "paint 44 30 4 4 00FF00", "paint 40 34 4 4 0000FF",
                            "paint 44 34 4 4 FFFF00", "paint 150 100 1 1 9B5713"})
    ASSERT_TRUE(target.Command(paint));
  const std::vector<long> g = target.Geometry();
  ASSERT_EQ(g.size(), 4u);
  const Point o{static_cast<int>(g[0]), static_cast<int>(g[1])};  // the client area on the screen
  ASSERT_TRUE(Shows(o.x + 150, o.y + 100, 0x13579B));
  const std::string bmp = dir().File("quadrants.bmp");
  const Picture quadrants = Quadrants();
  std::ofstream(bmp, std::ios::binary) << WriteBmp(quadrants.pixels.data(), 8, 8);
  const std::string point = std::to_string(o.x + 150) + "," + std::to_string(o.y + 100);
  const struct {
    std::string step;
    std::optional<Point> found;
  } cases[] = {
      {StepText("IF Image is Visible", bmp), Point{o.x + 40, o.y + 30}},
      {StepText("IF Image is Visible", bmp, OptionsField("Slow")), Point{o.x + 40, o.y + 30}},
      // A pixel list (tolerance at least 15): the 2 x 2 corner where the blocks meet.
      {StepText("IF Image is Visible", "F00,0F0,00F,FF0"), Point{o.x + 43, o.y + 33}},
      {StepText("IF Pixel is Visible", "9B5713"), Point{o.x + 150, o.y + 100}},
      {StepText("IF Pixel is Visible", "9B5713", OptionsField("Slow")), Point{o.x + 150, o.y + 100}},
      {StepText("IF Pixel is Visible", "123456"), std::nullopt},
      {StepText("IF Pixel is Visible", "9B5713", "<value2>" + std::to_string(o.x + 151) + ",0</value2>"), std::nullopt},
      // One point compared: found, with no position reported.
      {StepText("IF Pixel Equals", "9B5713", "<value2>" + point + "</value2><value3>" + point + "</value3>"), Point{}},
  };
  for (const auto& c : cases) EXPECT_EQ(Find(c.step), c.found) << c.step;

  // Image Capture of the blocks' area, and the whole screen as the failure snapshot.
  const std::string shot = dir().File("shot.bmp");
  const std::string area = "<value1>" + std::to_string(o.x + 40) + "," + std::to_string(o.y + 30) + "</value1>";
  Load(StepText("Image Capture", "",
                OptionsField("Area") + area + "<value2>8,8</value2><output value=\"" + shot + "\">File</output>"));
  ASSERT_EQ(HandleImageCaptureStep(0, 0), 1) << StepError();
  Picture saved;
  std::string error;
  ASSERT_TRUE(ReadBmp(ReadBytes(shot), saved, error)) << error;
  EXPECT_EQ(saved.pixels, quadrants.pixels);
  ASSERT_TRUE(SaveScreenSnapshot(shot, error)) << error;
  ASSERT_TRUE(ReadBmp(ReadBytes(shot), saved, error)) << error;
  const platform::ScreenInfo info = platform::screen().Info();
  EXPECT_EQ(std::make_pair(saved.width, saved.height), std::make_pair(info.width, info.height));
  EXPECT_EQ(saved.pixels[static_cast<std::size_t>((o.y + 100) * info.width + o.x + 150)], 0x13579Bu);
}

TEST_F(X11ScreenTest, WaitsEndWhenThePictureShowsAndSoonAfterAStop) {
  X11Target target("x11 screen test", "320x200+200+150");
  const std::string wait = "<timeout>20</timeout><onfail>IGNORE</onfail>";
  // Click on Image clicks the middle of the picture found.
  Run(StepText("Wait for Image", "0F0*9,", wait) + StepText("Click on Image", "0F0*9,"), [&] {
    std::this_thread::sleep_for(500ms);
    target.Command("paint 10 10 30 30 00F000");
  });
  EXPECT_EQ(ResultOf(0), 2);
  const std::vector<std::string> click{"md 1 11 11 -", "mu 1 11 11 -"};
  EXPECT_EQ(target.RecordOnceIs(click), click);
  for (const char* action : {"Wait for Pixel", "Wait for Image"}) {
    Clock::time_point stop;
    Run(StepText(action, action[9] == 'P' ? "123456" : "123*9,", wait), [&] {
      std::this_thread::sleep_for(300ms);
      stop = Clock::now();
      RequestStop(false);
    });
    EXPECT_LT(Clock::now() - stop, 1000ms) << action;
  }
}

// Runs a shell command with the test's bound (xclip in the foreground).
std::string Shell(const std::string& command) { return RunChild({"/bin/sh", "-c", command}, 10s).out; }

// The clipboard's text once it is `wanted` (xclip takes the selection from
// its background half, a moment after it returned), or at most 10 s later.
std::optional<std::string> TextOnceItIs(platform::Clipboard& clipboard, const std::string& wanted) {
  std::optional<std::string> text;
  for (auto until = Clock::now() + 10s; (text = clipboard.Text()) != wanted && Clock::now() < until;)
    std::this_thread::sleep_for(20ms);
  return text;
}

// A clipboard manager of the freedesktop convention: it owns
// CLIPBOARD_MANAGER and, asked to SAVE_TARGETS within 8 s, reads the
// CLIPBOARD as UTF8_STRING before it answers. The text it kept.
std::future<std::string> StartManager() {
  Display* d = XOpenDisplay(nullptr);
  const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(d, XInternAtom(d, "CLIPBOARD_MANAGER", False), w, CurrentTime);
  XSync(d, False);
  return std::async(std::launch::async, [d, w] {
    const auto until = Clock::now() + 8s;
    XEvent e{};
    const auto next = [&](int type) {
      while (Clock::now() < until && !(XPending(d) && (XNextEvent(d, &e), e.type == type)))
        std::this_thread::sleep_for(5ms);
      return e.type == type;
    };
    std::string kept;
    if (next(SelectionRequest)) {
      const XSelectionRequestEvent request = e.xselectionrequest;
      const Atom property = XInternAtom(d, "KEPT", False);
      XConvertSelection(d, XInternAtom(d, "CLIPBOARD", False), XInternAtom(d, "UTF8_STRING", False), property, w,
                        CurrentTime);
      Atom type;
      int format;
      unsigned long count, after;
      unsigned char* data = nullptr;
      if (next(SelectionNotify) && e.xselection.property != None &&
          XGetWindowProperty(d, w, property, 0, 1 << 20, True, AnyPropertyType, &type, &format, &count, &after,
                             &data) == Success &&
          data) {
        kept.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
      }
      XSelectionEvent reply{
          SelectionNotify,  0,           True, d, request.requestor, request.selection, request.target,
          request.property, request.time};
      XSendEvent(d, request.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
    }
    XCloseDisplay(d);
    return kept;
  });
}

TEST_F(X11ScreenTest, TheClipboardTravelsBetweenTheRuntimeAndOtherClients) {
  // The text in each form is the script case x11/clipboard; here the forms
  // offered, and larger texts in INCR steps both ways.
  platform::Clipboard& clipboard = platform::clipboard();
  ASSERT_TRUE(clipboard.SetText("caf\xE9"));
  EXPECT_EQ(Shell("xclip -o -selection clipboard -t TARGETS"), "TARGETS\nMULTIPLE\nTIMESTAMP\nUTF8_STRING\nSTRING\nTEXT\n");
  const std::string file = dir().File("clip.txt");
  const auto put = [&](const std::string& utf8) {
    std::ofstream(file, std::ios::binary) << utf8;
    Shell("xclip -i -selection clipboard '" + file + "' >/dev/null 2>&1");
  };
  std::string large(3 << 20, 'x');
  for (std::size_t i = 0; i < large.size(); i += 4099) large[i] = static_cast<char>('a' + i % 26);
  put(large);
  EXPECT_EQ(TextOnceItIs(clipboard, large), large);
  ASSERT_TRUE(clipboard.SetText(large));
  EXPECT_EQ(Shell("xclip -o -selection clipboard"), large);

  // Cleared, the clipboard holds nothing; an owner that never answers costs a bounded wait.
  ASSERT_TRUE(clipboard.Clear());
  EXPECT_EQ(clipboard.Text(), std::nullopt);
  Display* silent = XOpenDisplay(nullptr);
  XSetSelectionOwner(silent, XInternAtom(silent, "CLIPBOARD", False), DefaultRootWindow(silent), CurrentTime);
  XSync(silent, False);
  const auto start = Clock::now();
  EXPECT_EQ(clipboard.Text(), std::nullopt);
  EXPECT_LT(Clock::now() - start, 3s);
  XCloseDisplay(silent);
}

// With a clipboard manager running, the run's end leaves it a copy.
TEST_F(X11ScreenTest, TheRunEndHandsTheClipboardToAManager) {
  std::future<std::string> manager = StartManager();
  Run(StepText("Set Clipboard Text", "kept \xE9"));
  EXPECT_EQ(manager.get(), "kept \xC3\xA9");
}

}  // namespace
}  // namespace olvex::test
