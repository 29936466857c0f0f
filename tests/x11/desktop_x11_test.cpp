// The keyboard and mouse steps on a real X server (Xvfb, with and without a
// window manager: ctest's x11 and x11_wm), against olvex-x11-target's record of
// its input; the window steps and activation are the script cases x11/target_windows
// and x11/activation, typing and the menus' keyboard route x11/typing.
#include <thread>

#include "engine/document.h"
#include "engine/main_loop.h"
#include "input/keyboard.h"
#include "input/mouse.h"
#include "platform/input.h"
#include "platform/stop_key.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/x11/x11_target.h"
#include "windows/window_actions.h"
#include "windows/window_match.h"

namespace olvex::test {
namespace {

class X11Desktop : public StepFixture {
 protected:
  void SetUp() override {
    if (!platform::windows().HasDesktop()) GTEST_SKIP() << "no X display";
    StepFixture::SetUp();
  }
  void TearDown() override {
    ReleaseHeldModifiers();
    StepFixture::TearDown();
  }
  int Use(const std::string& text, const std::string& options = "Partial Title,Activate") {
    return Run(HandleWindowsStep, {"Use Window", text, options, "", "", 3});
  }
  void Type(const std::string& text) { ASSERT_EQ(Run(HandleKeyboardStep, {"Type", text, "", "", "", 4}), 1) << error; }
  // The record's key presses (and the releases of Shift).
  static std::vector<std::string> Presses(const X11Target::State& s) {
    std::vector<std::string> lines;
    for (const std::string& line : s.record)
      if (line.rfind("kd ", 0) == 0 || line.rfind("ku Shift", 0) == 0) lines.push_back(line);
    return lines;
  }
};

// 2,000 characters at delay 0 are the script case x11/typing.
// A runtime that ends right after typing gives its spare codes back only once
// the program has read the keys that need them.
TEST_F(X11Desktop, SpareKeyCodesOutliveTheRunUntilTheKeysAreRead) {
  X11Target target("Olvex Typing", "500x300+80+80");
  ASSERT_TRUE(target.window());
  const ScratchDir dir;
  const std::string script = StepText("Use Window", "Olvex Typing", OptionsField("Partial Title,Activate")) +
                             StepText("Type", "\xA4\x80\xE9");
  EXPECT_EQ(RunChild({RuntimePath(), "-r", dir.Write("type.oxm", script)}).exit_code, 0);
  EXPECT_EQ(target.Ask().values["text"], "\xC2\xA4\xE2\x82\xAC\xC3\xA9");
}

TEST_F(X11Desktop, KeyNamesModifiersAndTheirReleaseAtTheRunsEnd) {
  X11Target target("Olvex Keys");
  ASSERT_TRUE(target.window() && Use("Olvex Keys") == 1) << error;
  Type("{ctrl}a{ctrlup}{F5}{Home}{Num5}{AltDown}x{AltUp}{Shift}q");
  SettleTypedKeys();
  EXPECT_TRUE(platform::input().IsKeyDown(platform::key::kShift));
  ReleaseHeldModifiers();
  EXPECT_FALSE(platform::input().IsKeyDown(platform::key::kShift));
  const X11Target::State s = target.Ask();
  EXPECT_EQ(Presses(s),
            (std::vector<std::string>{"kd Control_L -", "kd a C", "kd F5 -", "kd Home -", "kd KP_5 -", "kd Alt_L -",
                                      "kd x A", "kd Shift_L -", "kd q S", "ku Shift_L S"}));
  EXPECT_EQ(s.values.at("text"), "5Q");
}

TEST_F(X11Desktop, ClicksWheelAndGlideAtTheIntendedPoints) {
  X11Target target("Olvex Mouse", "400x300+200+150");
  ASSERT_TRUE(target.window() && Use("Olvex Mouse") == 1) << error;
  const std::vector<long> client = target.Geometry();
  const auto frame = platform::windows().Rect(target.window());
  ASSERT_TRUE(frame);
  // Window-relative points count from the frame's corner, as on Windows.
  const std::string at = std::to_string(frame->x + 40 - client[0]) + " " + std::to_string(frame->y + 60 - client[1]) + " -";
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"Left,Down+Up,window", {"md 1 " + at, "mu 1 " + at}},
      {"Right,Down+Up,window", {"md 3 " + at, "mu 3 " + at}},
      {"Middle,Down+Up,window", {"md 2 " + at, "mu 2 " + at}},
      {"Left,Double-Click,window", {"md 1 " + at, "mu 1 " + at, "md 1 " + at, "mu 1 " + at}},
      {"Wheel,Up,window", {"wh up"}},
      {"Wheel,Down,window", {"wh down"}},
  };
  for (const auto& [options, records] : cases) {
    ASSERT_TRUE(target.Command("clear"));
    EXPECT_EQ(Run(HandleMouseStep, {"Mouse Click", "40,60", options, "Snap", "", 6}), 1) << error;
    EXPECT_EQ(target.RecordOnceIs(records), records) << options;
  }
  EXPECT_EQ(Run(HandleMouseStep, {"Move", "700,500", "", "", "", 6}), 1) << error;  // a glide
  const auto cursor = platform::input().CursorPosition();
  EXPECT_TRUE(cursor && cursor->x == 700 && cursor->y == 500);
}

// The stop signal (the stop key on Linux) ends the wait for the focus of a
// window that cannot take it (a hidden one, named by handle): the 40
// activations would take 10 s or more without the stop.
TEST_F(X11Desktop, StopEndsTheWaitForTheFocus) {
  X11Target hidden("Olvex Hidden");
  ASSERT_TRUE(hidden.window() && Use("Olvex Hidden") == 1) << error;
  ASSERT_EQ(Run(HandleWindowsStep, {"Set Window Style", "", "", "Hidden", "", 3}), 1) << error;
  std::string script;
  for (int i = 0; i < 40; ++i) script += StepText("Use Window", std::to_string(hidden.window()), OptionsField("Handle,Activate"));
  platform::WatchStopSignals();
  SetStopSignalHandler([](int) { RequestStop(false); });
  CloseAllDocuments();
  ASSERT_EQ(ParseSteps(script, 0, -1, 0).status, ParseStatus::Parsed);
  FixUpDocument(0);
  EXPECT_LT(RunLoadedScript([] {
              std::this_thread::sleep_for(std::chrono::milliseconds(300));
              kill(getpid(), SIGINT);
            }),
            std::chrono::seconds(5));
  SetStopSignalHandler(nullptr);
}

}  // namespace
}  // namespace olvex::test
