// The real desktop under Wine: the runtime's steps drive olvex-target.
#ifdef _WIN32
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "platform/clipboard.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/desktop/target.h"
#include "windows/window_actions.h"
#include "windows/window_match.h"

namespace olvex::test {
namespace {

using State = Target::State;

class TargetTest : public StepFixture {
 protected:
  void SetUp() override {
    StepFixture::SetUp();
    ASSERT_TRUE(target.ready());
    target.Command("clear");
  }
  int Use(const std::string& text, const std::string& options) {
    return Run(HandleWindowsStep, {"Use Window", text, options, "", "", 3});
  }
  // Brings the frame forward through Use Window and gives the control the focus.
  void FocusControl(int id) {
    ASSERT_EQ(Use(target.title(), "Exact,Activate"), 1) << error;
    target.Command("focus " + std::to_string(id));
  }
  static std::string Handle(HWND h) { return std::to_string(reinterpret_cast<std::uintptr_t>(h)); }
  Target target;
};

// The drawing area takes the focus and keeps what it receives: an edit control
// under Wine takes a character in several milliseconds, the test would measure it.
// Every printable character once, then a mixture; "{" is followed by a digit so
// that it names no key; line breaks included.
std::string MixedText(std::size_t length, bool with_parentheses, unsigned seed) {
  std::string pool;
  for (char c = ' '; c <= '~'; ++c)
    if (with_parentheses || (c != '(' && c != ')')) pool += c;
  std::string text;
  for (char c : pool) text += c == '{' ? std::string("{0") : std::string(1, c);
  text += '\n';
  std::mt19937 random(seed);
  while (text.size() < length) {
    const unsigned pick = random() % 100;
    const char c = pick < 3 ? '\n' : pool[random() % pool.size()];
    text += c;
    if (c == '{') text += static_cast<char>('0' + random() % 10);
  }
  if (text.size() > length) text.resize(length);
  if (text.back() == '{') text.back() = 'x';
  return text;
}

TEST_F(TargetTest, TwoThousandCharactersArriveExactlyTenTimesOutOfTen) {
  for (const bool send_input : {true, false}) {
    double seconds = 0;
    std::size_t typed = 0;
    for (unsigned run = 0; run < 10; ++run) {
      SCOPED_TRACE(std::string(send_input ? "SendKey" : "keybd_event") + " run " + std::to_string(run));
      target.Command("clear");
      FocusControl(target::kCanvas);
      const std::string text = MixedText(2000, send_input, run);
      std::string expected;
      for (char c : text) expected += c == '\n' ? '\r' : c;
      const auto start = std::chrono::steady_clock::now();
      ASSERT_EQ(Run(HandleKeyboardStep, {"Type", text, send_input ? "No Variable Expansion,SendKey" : "No Variable Expansion", "0"}), 1);
      const State state = target.WaitFor([&](const State& s) { return s.count("canvas_typed") && s.at("canvas_typed").size() >= expected.size(); },
                                         std::chrono::seconds(60));
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      typed += text.size();
      const std::string& got = state.at("canvas_typed");
      const auto differ = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
      ASSERT_EQ(got, expected) << "first difference at " << (differ.first - got.begin());
    }
    std::printf("typing at delay 0 (%s): %.0f characters per second\n", send_input ? "SendInput" : "keybd_event",
                typed / seconds);
  }
}

TEST_F(TargetTest, CtrlASelectsAll) {
  FocusControl(target::kMultiEdit);
  Run(HandleKeyboardStep, {"Type", "hello{ctrl}a{ctrlup}"});
  const State state = target.WaitFor([](const State& s) { return s.at("multi_sel") == "0,5"; });
  EXPECT_EQ(state.at("multi"), "hello");
  EXPECT_EQ(state.at("multi_sel"), "0,5");
  EXPECT_NE(state.at("record").find("kd 41 c 1002"), std::string::npos) << state.at("record");
  EXPECT_EQ(RunShared().held_keys.load(), 0);
}

TEST_F(TargetTest, UseWindowFindsTheTargetEveryWay) {
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%llX", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(target.frame())));
  const struct {
    std::string text, options;
    HWND expected;
  } cases[] = {
      {"olvex targ", "Partial Title", target.frame()},
      {target.title(), "Exact Title", target.frame()},
      {"OlvexTargetFr*", "Class", target.frame()},
      {"ListBox|1003", "Class,ID", target.Control(target::kList)},
      {Handle(target.frame()), "HWND", target.frame()},
      {hex, "Handle", target.frame()},
      {"Olvex Target", "Partial Title,Activate,First", target.frame()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Use(c.text, c.options), 1) << c.options << ": " << error;
    EXPECT_EQ(CurrentWindow(), reinterpret_cast<std::uintptr_t>(c.expected)) << c.options;
  }
  EXPECT_EQ(Use("no such window anywhere", "Partial Title"), 0);
  EXPECT_EQ(error, "Unable to find window 'no such window anywhere'");
}

TEST_F(TargetTest, ActivatesAWindowThatLiesBehindAnother) {
  target.Command("second");
  ASSERT_NE(target.WaitFor([](const State& s) { return s.at("second") != "0"; }).at("second"), "0");
  ASSERT_EQ(Use("Olvex Target Second", "Exact,Activate"), 1);
  EXPECT_EQ(target.WaitFor([](const State& s) { return s.at("foreground") == "second"; }).at("foreground"), "second");
  ASSERT_EQ(Use(target.title(), "Exact,Activate"), 1);
  EXPECT_EQ(target.WaitFor([](const State& s) { return s.at("foreground") == "frame"; }).at("foreground"), "frame");
}

TEST_F(TargetTest, DirectWindowEntryReachesEditListAndCombo) {
  auto entry = [&](int id, const std::string& text) {
    return Run(HandleKeyboardStep, {"Direct Window Entry", text, "Handle", "", Handle(target.Control(id))});
  };
  EXPECT_EQ(entry(target::kEdit, "typed directly; not split"), 1);
  EXPECT_EQ(entry(target::kList, "alpha;beta;gamma"), 1);
  EXPECT_EQ(entry(target::kCombo, "one;two"), 1);
  const State state = target.Ask();
  EXPECT_EQ(state.at("edit"), "typed directly; not split");
  EXPECT_EQ(state.at("list"), "alpha|beta|gamma");
  EXPECT_EQ(state.at("combo"), "one|two");
}

TEST_F(TargetTest, TextViaClipboardLeavesTheUsersClipboardAsItWas) {
  ASSERT_TRUE(platform::clipboard().SetText("the user's own text"));
  FocusControl(target::kEdit);
  EXPECT_EQ(Run(HandleKeyboardStep, {"Text via Clipboard", "pasted by the step"}), 1);
  EXPECT_EQ(target.WaitFor([](const State& s) { return s.at("edit") == "pasted by the step"; }).at("edit"),
            "pasted by the step");
  EXPECT_EQ(platform::clipboard().Text().value_or(""), "the user's own text");
}

TEST_F(TargetTest, ATargetThatStopsAnsweringHoldsNeitherMatchingNorTyping) {
  const auto edit = reinterpret_cast<std::uintptr_t>(target.Control(target::kEdit));
  ASSERT_EQ(Run(HandleKeyboardStep, {"Direct Window Entry", "edit contents", "Handle", "", Handle(target.Control(target::kEdit))}), 1);
  EXPECT_EQ(FindWindowByCriteria(match::kTitle | match::kClass, "contents|Edit", 0, 0), edit);
  ASSERT_TRUE(target.Command("hang 8000"));
  // A frame's title and a static's or a button's text are what the system keeps for the window; an edit's
  // contents cannot be read while the program sleeps.
  EXPECT_EQ(FindWindowByCriteria(match::kTitle, target.title(), 0, 0), reinterpret_cast<std::uintptr_t>(target.frame()));
  EXPECT_EQ(FindWindowByCriteria(match::kTitle | match::kClass, "Label|Static", 0, 0),
            reinterpret_cast<std::uintptr_t>(target.Control(target::kLabel)));
  EXPECT_EQ(FindWindowByCriteria(match::kTitle | match::kClass, "Radio A|Button", 0, 0),
            reinterpret_cast<std::uintptr_t>(target.Control(target::kRadioA)));
  EXPECT_EQ(FindWindowByCriteria(match::kTitle | match::kClass, "contents|Edit", 0, 0), 0u);
  EXPECT_EQ(FindWindowByCriteria(match::kClass | match::kId, "Static|1010", 0, 0),
            reinterpret_cast<std::uintptr_t>(target.Control(target::kLabel)));
  EXPECT_EQ(Run(HandleKeyboardStep, {"Type", "queued"}), 1);
  EXPECT_EQ(Run(HandleKeyboardStep, {"Direct Window Entry", "x", "Handle", "", Handle(target.Control(target::kEdit))}), 0);
  EXPECT_EQ(error, "The window did not take the text");
}

}  // namespace
}  // namespace olvex::test
#endif
