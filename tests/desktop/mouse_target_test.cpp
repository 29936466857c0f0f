// The real desktop under Wine: mouse steps, desktop waits and recorded input
// played back, against olvex-target's record of the input it receives. The
// "Software" playback uses a journal playback hook where the system calls one
// and otherwise says so in the log and plays the events as synthesized input
// (Wine 8 accepts the hook and never calls it).
#ifdef _WIN32
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "input/keyboard.h"
#include "input/mouse.h"
#include "input/waits.h"
#include "screen/picture.h"
#include "system/hardware_actions.h"
#include "tests/desktop/target.h"

namespace olvex::test {
namespace {

using namespace std::chrono_literals;

class MouseTargetTest : public TargetFixture {
 protected:
  void SetUp() override {
    TargetFixture::SetUp();
    ASSERT_EQ(Activate(), 1) << error;
  }
  // A point of the frame's client area in screen pixels, as a step writes it
  // ("x,y") or a recording ("y,x").
  std::string At(int x, int y, bool recording = false) const {
    POINT p{x, y};
    ClientToScreen(target.frame(), &p);
    return recording ? std::to_string(p.y) + "," + std::to_string(p.x) : std::to_string(p.x) + "," + std::to_string(p.y);
  }
};

// Clicks land on the canvas at the intended client point with the intended
// button; a double click arrives as one, a drag as down here and up there.
TEST_F(MouseTargetTest, ClicksDragsAndTheWheelArriveAsSent) {
  struct Click {
    std::string options;
    int x, y;
  };
  struct Case {
    const char* name;
    std::vector<Click> clicks;
    std::vector<std::string> record;
  };
  const Case cases[] = {
      {"left", {{"Left,Down+Up", 600, 300}}, {"md L 600 300", "mu L 600 300"}},
      {"right", {{"Right,Down+Up,Snap", 610, 310}}, {"md R 610 310", "mu R 610 310"}},
      {"double", {{"Left,Double-Click,Snap", 620, 320}}, {"md L 620 320", "mu L 620 320", "dc L 620 320", "mu L 620 320"}},
      {"drag", {{"Left,Down", 500, 250}, {"Left,Up", 700, 350}}, {"md L 500 250", "mu L 700 350"}},
      {"wheel", {{"Wheel,Down,Snap", 600, 300}, {"Wheel,Up,Snap", 600, 300}}, {"wh -120", "wh 120"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    target.Command("clear");
    for (const Click& click : c.clicks) EXPECT_EQ(Run(HandleMouseStep, {"Mouse Click", At(click.x, click.y), click.options, "", "", 6}), 1) << error;
    target.RecordedInOrder(c.record);
  }
}

// A red block painted on the canvas (at 40,30 in it: 520,230 in the frame)
// is clicked at its centre.
TEST_F(MouseTargetTest, ClickOnImageClicksThePicturesCentre) {
  ASSERT_TRUE(target.Command("paint 40 30 20 10 FF0000"));
  const std::string bmp = sandbox.dir().File("red.bmp");
  const std::vector<platform::Colour> red(200, platform::MakeColour(255, 0, 0));
  std::ofstream(bmp, std::ios::binary) << WriteBmp(red.data(), 20, 10);
  EXPECT_EQ(Run(HandleMouseStep, {"Click on Image", bmp, "Snap", "16", "", 6}), 1) << error;
  target.RecordedInOrder({"md L 530 235", "mu L 530 235"});
}

// Each desktop wait ends when the target makes its condition true.
TEST_F(MouseTargetTest, DesktopWaitsEndWhenTheTargetMakesThemTrue) {
  struct Case {
    const char* name;
    StepSpec step;
    std::function<void()> event;
  };
  const Case cases[] = {
      {"a window opens", {"Wait for Window", "Olvex Target Second", "", "Appear", "", 7}, [&] { target.Command("second"); }},
      // Right of the second window.
      {"a pixel is painted", {"Wait for Pixel", "#0000FF", "", "", "", 7}, [&] { target.Command("paint 250 150 4 4 0000FF"); }},
      // Keys tapped faster than the polls, as a program types: a press and
      // release between two polls counts. A poll takes such keys in key-code
      // order, so the X that comes first comes well before the rest.
      {"keys are typed", {"Wait for Typed Text", "abc", "", "", "", 7}, [] {
         for (const int key : {'X', 'A', 'B', 'C'}) {
           for (const bool up : {false, true}) {
             platform::input().SendKey({key, up});
             std::this_thread::sleep_for(2ms);
           }
           if (key == 'X') std::this_thread::sleep_for(500ms);
         }
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::thread helper([&] {
      std::this_thread::sleep_for(700ms);
      c.event();
    });
    StepSpec step = c.step;
    step.timeout = "15";
    EXPECT_EQ(Run(HandleWaitStep, step), 1) << error;
    helper.join();
  }
}

// A recording that clicks the canvas at client point 600,300 and types "a",
// played by both methods.
TEST_F(MouseTargetTest, BothRecordingMethodsPlayTheEventsIntoTheTargetInOrder) {
  const std::string at = At(600, 300, true), key = std::to_string(0x41 | (0x1E << 8));
  const std::string recording =
      "[512," + at + ",0] [513," + at + ",40] [514," + at + ",80] [256,0," + key + ",120] [257,0," + key + ",160]";
  for (const char* method : {"Hardware", "Software"}) {
    SCOPED_TRACE(method);
    target.Command("clear");
    log.clear();
    EXPECT_EQ(Run(HandleHardwareStep, {"Recording", recording, method, "", "", 15}), 1) << error;
    EXPECT_TRUE(Logged(std::string("    (using \"") + method + "\" recording method)"));
    target.RecordedInOrder({"md L 600 300", "mu L 600 300", "kd 41", "ku 41"});
  }
  EXPECT_EQ(Run(HandleHardwareStep, {"Recording", "no events here", "Hardware", "", "", 15}), 0);
  EXPECT_EQ(error, "Invalid Recording");
}

}  // namespace
}  // namespace olvex::test
#endif
