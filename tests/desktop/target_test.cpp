// The real desktop under Wine: the runtime's steps drive olvex-target, which
// reports what they typed and changed; what the steps read is what the target
// holds (placement, styles, checks, closing and Text via Clipboard, read back
// by the steps themselves: the script case windows/target_windows).
#ifdef _WIN32
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "tests/desktop/target.h"
#include "windows/window_match.h"

namespace olvex::test {
namespace {

using State = Target::State;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class TargetTest : public TargetFixture {
 protected:
  // Brings the frame forward through Use Window and gives the control the focus.
  void FocusControl(int id) {
    ASSERT_EQ(Activate(), 1) << error;
    target.Command("focus " + std::to_string(id));
  }
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

TEST_F(TargetTest, ActivatesAWindowThatLiesBehindAnother) {
  target.Command("second");
  ASSERT_NE(target.WaitFor([](const State& s) { return s.at("second") != "0"; }).at("second"), "0");
  ASSERT_EQ(Use("Olvex Target Second", "Exact,Activate"), 1);
  EXPECT_EQ(target.WaitFor([](const State& s) { return s.at("foreground") == "second"; }).at("foreground"), "second");
  ASSERT_EQ(Use(target.title(), "Exact,Activate"), 1);
  EXPECT_EQ(target.WaitFor([](const State& s) { return s.at("foreground") == "frame"; }).at("foreground"), "frame");
}

TEST_F(TargetTest, GetTextReturnsExactlyWhatTheTargetHolds) {
  // Under Wine the combo box of a target that is not in front took no Set Text.
  ASSERT_EQ(Activate(), 1) << error;
  ASSERT_EQ(Act("Set Text", "", target.Control(target::kEdit), "", "", "", "caf\xe9 au lait"), 1) << error;
  target.Command("multi 500000");
  target.Command("select 1002 1000 400000");
  for (const char* item : {"one", "two", "tr\xe8s"}) Act("Set Text", "", target.Control(target::kList), "", "", "", item);
  ASSERT_EQ(Act("Set Text", "", target.Control(target::kCombo), "", "", "", "red;green"), 1) << error;
  target.Command("listsel 1");
  SendMessageA(target.Control(target::kCombo), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("blue"));
  target.Command("lvselect 0 1");
  const State state = target.Ask(false);
  ASSERT_EQ(state.at("multi").size(), 500000u);

  struct Case {
    const char* options;
    HWND window;
    std::string expected;
  };
  const Case cases[] = {
      {"", target.Control(target::kEdit), "caf\xe9 au lait"},
      {"interactive", target.Control(target::kEdit), "caf\xe9 au lait"},
      {"GetWindowText", target.frame(), "Olvex Target"},
      {"", target.Control(target::kMultiEdit), state.at("multi")},
      {"Control", target.Control(target::kList), "one\r\ntwo\r\ntr\xe8s\r\n"},
      {"Control", target.Control(target::kCombo), "red\r\ngreen\r\n"},
      {"Control", target.Control(target::kLabel), "Label"},
      {"Control,selected", target.Control(target::kMultiEdit), state.at("multi").substr(1000, 399000)},
      {"Control,selected", target.Control(target::kList), "two"},
      {"Control,selected", target.Control(target::kCombo), "blue"},
      {"Control,selected", target.Control(target::kListView), "alpha\r\nbeta\r\n"},
      {"Control,selected", target.Control(target::kCheck), "Check"},
      {"Control,selected", target.Control(target::kTree), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options + std::string(" ") + std::to_string(GetDlgCtrlID(c.window)));
    ASSERT_EQ(Act("Get Text", c.options, c.window), 1) << error;
    EXPECT_EQ(out.size(), c.expected.size());
    EXPECT_TRUE(out == c.expected);
  }
}

TEST_F(TargetTest, PressButtonReachesTheTargetAsTheControlsCommand) {
  ASSERT_EQ(Act("Press Button", "", target.Control(target::kPush)), 1) << error;
  target.RecordedInOrder({"cmd 1005 0 control"});
}

TEST_F(TargetTest, ListsOfAHundredThousandItemsEndWithinBounds) {
  target.Command("items 100000");
  const auto start = Clock::now();
  const int result = Act("Get Text", "Control", target.Control(target::kList));
  EXPECT_LT(SecondsSince(start), 15.0);
  if (result == 1) {
    EXPECT_TRUE(out.starts_with("Item 0\r\nItem 1\r\n"));
    EXPECT_LE(out.size(), 0xFFC00u + 16);
  } else {
    EXPECT_EQ(error, "The list did not give all its items within 10 s");
  }
}

TEST_F(TargetTest, MinimizeAllThenCloseAllActOnTheTestsWindows) {
  target.Command("second");
  const HWND second = FindWindowA(nullptr, "Olvex Target Second");
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(Run(HandleWindowsStep, {"Minimize all Windows", "", "", "", "", 3}), 1);
  EXPECT_EQ(target.WaitFor([](const State& s) { return s.at("shown") == "min"; }, std::chrono::seconds(3)).at("shown"), "min");
  EXPECT_TRUE(IsIconic(second));
  ASSERT_EQ(Run(HandleWindowsStep, {"Close all Windows", "", "", "", "", 3}), 1);
  EXPECT_TRUE(target.Ended(5000));
}

// Direct Window Entry sets an edit's text (";" included) and adds list and combo items. Last: under Wine
// the next target's combo box took no Set Text for a while after this one hung and was ended.
TEST_F(TargetTest, DirectWindowEntryThenATargetThatStopsAnsweringHoldsNeitherMatchingNorTyping) {
  auto entry = [&](int id, const std::string& text) {
    return Run(HandleKeyboardStep, {"Direct Window Entry", text, "Handle", "", Handle(target.Control(id))});
  };
  EXPECT_EQ(entry(target::kEdit, "edit contents; not split"), 1);
  EXPECT_EQ(entry(target::kList, "alpha;beta;gamma"), 1);
  EXPECT_EQ(entry(target::kCombo, "one;two"), 1);
  const State state = target.Ask();
  EXPECT_EQ(state.at("edit") + " " + state.at("list") + " " + state.at("combo"), "edit contents; not split alpha|beta|gamma one|two");
  const auto edit = reinterpret_cast<std::uintptr_t>(target.Control(target::kEdit));
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
  EXPECT_EQ(entry(target::kEdit, "x"), 0);
  EXPECT_EQ(error, "The window did not take the text");
}

}  // namespace
}  // namespace olvex::test
#endif
