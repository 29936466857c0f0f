// The window, keyboard and mouse steps on a real X server (Xvfb, with and
// without a window manager: ctest's x11 and x11_wm), against olvex-x11-target.
#include <random>
#include <thread>

#include "engine/document.h"
#include "engine/main_loop.h"
#include "input/keyboard.h"
#include "input/mouse.h"
#include "platform/input.h"
#include "platform/stop_key.h"
#include "platform/windows.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/x11/x11_target.h"
#include "vars/variables.h"
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
    ReleaseHeldButtons();
    StepFixture::TearDown();
  }
  int Use(const std::string& text, const std::string& options = "Partial Title,Activate") {
    return Run(HandleWindowsStep, {"Use Window", text, options, "", "", 3});
  }
  void Type(const std::string& text) { ASSERT_EQ(Run(HandleKeyboardStep, {"Type", text, "", "", "", 4}), 1) << error; }
  int Mouse(const std::string& action, const std::string& text, const std::string& options) {
    return Run(HandleMouseStep, {action, text, options, "Snap", "", 6});
  }
  // Get Window Info of the current window.
  std::string Info(const std::string& what) {
    StepSpec info("Get Window Info", "", what, "", "", 3);
    info.output = "info";
    EXPECT_EQ(Run(HandleWindowsStep, info), 1) << what << ": " << error;
    return ReadUserVariable("info").value_or("");
  }
  int Window(const std::string& action, const std::string& v1 = "", const std::string& v2 = "") {
    StepSpec spec(action, "", "", v1, "", 3);
    spec.value2 = v2;
    return Run(HandleWindowsStep, spec);
  }
};

// The state's text line: UTF-8 with \n escaped.
std::string AsRecorded(const std::string& code_page_text) {
  std::string out;
  for (unsigned char c : code_page_text) {
    if (c == '\n') out += "\\n";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x80) out += static_cast<char>(c);
    else if (c == 0x80) out += "\xE2\x82\xAC";  // the euro sign
    else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

TEST_F(X11Desktop, MatchingByTitleClassAndHandle) {
  X11Target alpha("Olvex Alpha", "300x200+60+60", {"--class", "AlphaClass"});
  X11Target beta("Olvex Beta Caf\xC3\xA9", "300x200+420+60", {"--class", "BetaClass"});
  ASSERT_TRUE(alpha.window() && beta.window());
  char hex[32];
  std::snprintf(hex, sizeof hex, "%llX", beta.window());
  const struct {
    std::string text, options;
    unsigned long long expected;
  } cases[] = {
      {"Alpha", "Partial Title", alpha.window()},
      {"olvex beta", "Partial Title", beta.window()},
      {"Caf\xE9", "Partial Title", beta.window()},  // the UTF-8 title in the script's code page
      {"Olvex Alpha", "Exact Title", alpha.window()},
      {"olvex alpha", "Exact Title", 0},
      {"BetaClass", "Class", beta.window()},
      {"alpha*", "Class", alpha.window()},
      {"Alpha|AlphaClass", "Title,Class", alpha.window()},
      {"Alpha|BetaClass", "Title,Class", 0},
      {std::to_string(beta.window()), "Handle", beta.window()},
      {std::string("0x") + hex, "Handle", beta.window()},
      {std::string("#") + hex, "Handle", beta.window()},
  };
  for (const auto& c : cases) {
    SetCurrentWindow(0);
    const int got = Use(c.text, c.options);
    EXPECT_EQ(CurrentWindow(), c.expected) << c.text << " / " << c.options;
    EXPECT_EQ(got, c.expected ? 1 : 0) << c.text << ": " << error;
    if (!c.expected) {
      EXPECT_EQ(error, "Unable to find window '" + c.text + "'");
    }
  }
  ASSERT_EQ(Use("Caf", "Partial Title"), 1);
  EXPECT_EQ(Info("Class"), "BetaClass");
  EXPECT_EQ(Info("Visible"), "1");
  const std::string process = Info("Process");
  EXPECT_EQ(process.substr(process.rfind('/') + 1), "olvex-x11-target");
  EXPECT_EQ(Run(HandleWindowsStep, {"Child Control Action", "", "Press", "", "", 3}), 0);
  EXPECT_EQ(error, "X11 windows have no child controls");
}

// Activation through the window manager is asynchronous: the keys typed right
// after Use Window must still reach the window that was behind.
TEST_F(X11Desktop, ActivationBringsTheWindowBehindForwardBeforeTheKeys) {
  X11Target back("Olvex Back", "300x200+100+100");
  X11Target front("Olvex Front", "300x200+150+150");
  ASSERT_TRUE(back.window() && front.window());
  std::string typed_back, typed_front;
  for (int round = 0; round < 6; ++round) {
    const bool to_back = round % 2 == 0;
    ASSERT_EQ(Use(to_back ? "Olvex Back" : "Olvex Front"), 1) << error;
    EXPECT_EQ(platform::windows().Foreground(), to_back ? back.window() : front.window());
    const std::string word = "w" + std::to_string(round) + " ";
    Type(word);
    (to_back ? typed_back : typed_front) += word;
  }
  SettleTypedKeys();
  EXPECT_EQ(back.Ask().values["text"], typed_back);
  EXPECT_EQ(front.Ask().values["text"], typed_front);
  EXPECT_EQ(back.Ask().values["focused"], "0");
}

// 2,000 characters at delay 0 in ten steps: letters, digits, punctuation,
// line breaks and characters the layout lacks (typed on spare key codes).
TEST_F(X11Desktop, TypesTwoThousandMixedCharactersExactly) {
  X11Target target("Olvex Typing", "500x300+80+80");
  ASSERT_TRUE(target.window());
  ASSERT_EQ(Use("Olvex Typing"), 1) << error;
  const std::string pool =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 !\"#$%&'()*+,-./:;<=>?@[\\]^_`|}~\n"
      "\xE9\xFC\xDF\xE4\xF6\xC4\xD6\xDC\x80\xA3\xBD\xE7\xF1\xB0\xA7";
  std::mt19937 random(29);
  std::string all;
  for (int step = 0; step < 10; ++step) {
    std::string text;
    for (int i = 0; i < 200; ++i) text += pool[random() % pool.size()];
    Type(text);
    all += text;
  }
  SettleTypedKeys();
  EXPECT_EQ(target.Ask().values["text"], AsRecorded(all));
}

TEST_F(X11Desktop, KeyNamesModifiersAndTheirReleaseAtTheRunsEnd) {
  X11Target target("Olvex Keys");
  ASSERT_TRUE(target.window());
  ASSERT_EQ(Use("Olvex Keys"), 1) << error;
  Type("{ctrl}a{ctrlup}{F5}{Home}{Num5}{AltDown}x{AltUp}{Shift}q");
  SettleTypedKeys();
  EXPECT_TRUE(platform::input().IsKeyDown(platform::key::kShift));
  ReleaseHeldModifiers();
  EXPECT_FALSE(platform::input().IsKeyDown(platform::key::kShift));
  const X11Target::State s = target.Ask();
  std::vector<std::string> downs;
  for (const std::string& line : s.record)
    if (line.rfind("kd ", 0) == 0 || line.rfind("ku Shift", 0) == 0) downs.push_back(line);
  const std::vector<std::string> expected = {"kd Control_L -", "kd a C",      "kd F5 -", "kd Home -", "kd KP_5 -",
                                             "kd Alt_L -",     "kd x A",      "kd Shift_L -", "kd q S",
                                             "ku Shift_L S"};
  EXPECT_EQ(downs, expected);
  EXPECT_EQ(s.values.at("text"), "5Q");
}

TEST_F(X11Desktop, ClicksWheelAndGlideAtTheIntendedPoints) {
  X11Target target("Olvex Mouse", "400x300+200+150");
  ASSERT_TRUE(target.window());
  ASSERT_EQ(Use("Olvex Mouse"), 1) << error;
  const std::vector<long> client = target.Ask().Geometry();
  const auto frame = platform::windows().Rect(target.window());
  ASSERT_TRUE(frame && client.size() == 4);
  // Window-relative points count from the frame's corner, as on Windows.
  const long x = frame->x + 40 - client[0], y = frame->y + 60 - client[1];
  const std::string at = std::to_string(x) + " " + std::to_string(y) + " -";
  const struct {
    std::string options;
    std::vector<std::string> records;
  } cases[] = {
      {"Left,Down+Up,window", {"md 1 " + at, "mu 1 " + at}},
      {"Right,Down+Up,window", {"md 3 " + at, "mu 3 " + at}},
      {"Middle,Down+Up,window", {"md 2 " + at, "mu 2 " + at}},
      {"Left,Double-Click,window", {"md 1 " + at, "mu 1 " + at, "md 1 " + at, "mu 1 " + at}},
      {"Wheel,Up,window", {"wh up"}},
      {"Wheel,Down,window", {"wh down"}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(target.Command("clear"));
    EXPECT_EQ(Mouse("Mouse Click", "40,60", c.options), 1) << error;
    EXPECT_EQ(target.RecordOnceIs(c.records), c.records) << c.options;
  }
  // The glide ends exactly on its target.
  EXPECT_EQ(Run(HandleMouseStep, {"Move", "700,500", "", "", "", 6}), 1) << error;
  const auto cursor = platform::input().CursorPosition();
  ASSERT_TRUE(cursor);
  EXPECT_EQ(cursor->x, 700);
  EXPECT_EQ(cursor->y, 500);
}

TEST_F(X11Desktop, GeometryActionsReadBackAndClose) {
  X11Target target("Olvex Geometry", "300x200+100+100");
  ASSERT_TRUE(target.window());
  ASSERT_EQ(Use("Olvex Geometry"), 1) << error;
  EXPECT_EQ(Window("Move Window", "150", "120"), 1) << error;
  EXPECT_EQ(Window("Resize", "420", "310"), 1) << error;
  EXPECT_EQ(Info("Left Coor") + " " + Info("Top Coor") + " " + Info("Width") + " " + Info("Height"), "150 120 420 310");
  // The client area lies inside the frame.
  const std::vector<long> client = target.Ask().Geometry();
  ASSERT_EQ(client.size(), 4u);
  EXPECT_TRUE(client[0] >= 150 && client[1] >= 120 && client[0] + client[2] <= 570 && client[1] + client[3] <= 430);

  EXPECT_EQ(Window("Maximize"), 1) << error;
  EXPECT_EQ(Info("Maximized"), "1");
  EXPECT_GT(std::stol(Info("Width")), 1000);
  EXPECT_EQ(Window("Restore"), 1) << error;
  EXPECT_EQ(Info("Maximized") + " " + Info("Width"), "0 420");
  EXPECT_EQ(Window("Minimize"), 1) << error;
  EXPECT_EQ(Info("Minimized"), "1");
  EXPECT_EQ(target.Ask().values["mapped"], "0");
  EXPECT_EQ(Window("Restore"), 1) << error;
  EXPECT_EQ(Info("Minimized"), "0");
  EXPECT_EQ(target.Ask().values["mapped"], "1");

  EXPECT_EQ(Window("Close Window"), 1) << error;
  EXPECT_TRUE(target.Ended(3000));
}

// A program that refuses the close request loses its connection to the server.
TEST_F(X11Desktop, CloseForcesAProgramThatRefuses) {
  X11Target target("Olvex Stubborn");
  ASSERT_TRUE(target.window() && target.Command("refuse 1"));
  ASSERT_EQ(Use("Olvex Stubborn"), 1) << error;
  StepSpec close("Close Window", "", "", "", "", 3);
  close.timeout = "1";
  EXPECT_EQ(Run(HandleWindowsStep, close), 1) << error;
  EXPECT_TRUE(target.Ended(3000));
}

// A stop signal (the stop key on Linux) ends the desktop's waits: Use Window
// retrying for a window that never comes, and the wait for
// the focus of a window that cannot take it (a hidden one, named by handle):
// each script would run for 10 s or more without the stop.
TEST_F(X11Desktop, StopEndsTheDesktopWaits) {
  X11Target hidden("Olvex Hidden");
  ASSERT_TRUE(hidden.window());
  ASSERT_EQ(Use("Olvex Hidden"), 1) << error;
  ASSERT_EQ(Window("Set Window Style", "Hidden"), 1) << error;
  std::string activations;
  for (int i = 0; i < 40; ++i)
    activations += StepText("Use Window", std::to_string(hidden.window()), OptionsField("Handle,Activate"));
  platform::WatchStopSignals();
  SetStopSignalHandler([](int) { RequestStop(false); });
  for (const std::string& script :
       {StepText("Use Window", "Olvex Never", OptionsField("Partial Title,Activate") + "<timeout>30</timeout>"),
        activations}) {
    CloseAllDocuments();
    ASSERT_EQ(ParseSteps(script, 0, -1, 0).status, ParseStatus::Parsed);
    FixUpDocument(0);
    const auto took = RunLoadedScript([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      kill(getpid(), SIGINT);
    });
    EXPECT_LT(took, std::chrono::seconds(5)) << script.substr(0, 120);
  }
  SetStopSignalHandler(nullptr);
}

}  // namespace
}  // namespace olvex::test
