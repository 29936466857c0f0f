// The IF actions' conditions one step at a time where fakes stand in for the
// desktop (blocks, variables, files and the store run as script cases).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/catalog.h"
#include "engine/control.h"
#include "engine/document.h"
#include "engine/if_step.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "platform/clipboard.h"
#include "platform/input.h"
#include "platform/screen.h"
#include "platform/windows.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/case_table.h"
#include "tests/support/fake_desktop.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace olvex::test {
namespace {

struct S { std::string action, text, options, value1; };

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

class IfStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseAllDocuments();
    SetLogLevel(1);
    SetLogObserver([this](const std::string& line) { log_.push_back(line); });
  }
  void TearDown() override {
    SetLogObserver(nullptr);
    SetLogLevel(0);
    CloseAllDocuments();
    ClearControlState();
  }
  void Load(const std::vector<S>& steps) {
    CloseAllDocuments();
    std::string text;
    for (const S& s : steps) {
      text += "<step><action>" + s.action + "</action><text>" + Escaped(s.text) + "</text>";
      if (!s.options.empty()) text += "<options>" + s.options + "</options>";
      if (!s.value1.empty()) text += "<value1>" + Escaped(s.value1) + "</value1>";
      text += "</step>\n";
    }
    ASSERT_EQ(ParseSteps(text, 0, -1, 0).status, ParseStatus::Parsed);
    FixUpDocument(0);
    Document(0).file_name = "if.oxm";
  }
  // One step evaluated on its own: 1 true, 0 false (a fresh IF stack each time).
  int Check(const S& step) {
    Load({step});
    ClearControlState();
    log_.clear();
    return HandleIfStep(0, 0);
  }
  // Each step evaluated on its own must give its result.
  void Checks(const std::vector<std::pair<S, int>>& cases) {
    for (const auto& [step, result] : cases) EXPECT_EQ(Check(step), result) << step.action << " " << step.text << " " << step.options;
  }
  bool Logged(const std::string& line) const { return std::find(log_.begin(), log_.end(), line) != log_.end(); }

  StoreSandbox sandbox_;
  std::vector<std::string> log_;
};


// At log level 0 the result is the only line (--follow shows it); expressions
// log their text at level 1.
TEST_F(IfStepTest, AtLogLevelZeroTheResultIsTheOnlyLine) {
  SetLogLevel(0);
  Check({"IF Expression", "1", "", ""});
  EXPECT_EQ(log_, std::vector<std::string>{"    \"IF\" check evaluated to TRUE"});
}

TEST_F(IfStepTest, TextOptions) {
  for (const CaseRow& row : CaseSection("tests/engine/if_cases.txt", "if text", 4)) {
    SCOPED_TRACE(row.where + row.fields[0] + " [" + row.fields[1] + "] [" + row.fields[2] + "]");
    EXPECT_EQ(Check({"IF Text", row.fields[2], row.fields[0], row.fields[1]}), std::stoi(row.fields[3]));
  }
}

TEST_F(IfStepTest, DesktopConditionsThroughTheServices) {
  FakeDesktop windows;
  windows.Add({0x1234, 0, "Untitled - Notepad", "Notepad", 0, 0, kFrameStyle});
  FakeKeyboard input;
  FakeClipboard clipboard;

  EXPECT_EQ(Check({"IF Window Exists", "Untitled - Notepad", "", ""}), 1);
  EXPECT_TRUE(Logged("    Window:  [Untitled - Notepad]  (4660)"));
  EXPECT_EQ(Check({"IF Window Exists", "untitled", "", ""}), 1);  // the step's window options: a part of the title
  EXPECT_EQ(Check({"IF Window Exists", "untitled - notepad", "Exact", ""}), 0);
  EXPECT_EQ(Check({"IF Window Exists", "Notepad", "Class", ""}), 1);

  EXPECT_EQ(Check({"IF Key is Pressed", "{SHIFT}", "", ""}), 0);
  input.down = {0x10};
  EXPECT_EQ(Check({"IF Key is Pressed", "{Shift}", "", ""}), 1);
  EXPECT_EQ(Check({"IF Key is Pressed", "{NoSuchKey}", "", ""}), 0);
  input.down = {'Q'};
  EXPECT_EQ(Check({"IF Key is Pressed", "q", "", ""}), 1);
  input.down.clear();
  input.pressed = {0x74};
  EXPECT_EQ(Check({"IF Key is Pressed", "{F5}", "Last", ""}), 1);
  EXPECT_EQ(Check({"IF Key is Pressed", "{F5}", "Last", ""}), 0);  // the mark was used up
  input.pressed = {0x74};
  EXPECT_EQ(Check({"IF Key is Pressed", "{F5}", "", ""}), 0);  // only down counts without "Last"

  EXPECT_EQ(Check({"IF Caps Lock is On", "", "", ""}), 0);
  input.caps_lock = true;
  EXPECT_EQ(Check({"IF Caps Lock is On", "", "", ""}), 1);

  Checks({{{"IF Clipboard Contains", "", "Is Empty", ""}, 1}, {{"IF Clipboard Contains", "", "Any Text", ""}, 0},
      {{"IF Clipboard Contains", "Hello", "", ""}, 0}});
  clipboard.text = "Hello World";
  EXPECT_EQ(Check({"IF Clipboard Contains", "", "Is Empty", ""}), 0);
  EXPECT_EQ(Check({"IF Clipboard Contains", "", "Any Text", ""}), 1);
  EXPECT_EQ(Check({"IF Clipboard Contains", "", "is empty", ""}), 0);  // not the option: compared, and unequal
  EXPECT_EQ(Check({"IF Clipboard Contains", "Hello World", "", ""}), 1);
  EXPECT_TRUE(Logged("    Clipboard Contains: Hello World"));
  Checks({{{"IF Clipboard Contains", "hello world", "", ""}, 0},
      {{"IF Clipboard Contains", "WORLD", "Partial", ""}, 1},
      {{"IF Clipboard Contains", "lo wo", "Insensitive", ""}, 1}});
  clipboard.text = std::string(70, 'c');
  Check({"IF Clipboard Contains", "c", "", ""});
  EXPECT_TRUE(Logged("    Clipboard Contains: " + std::string(60, 'c') + "..."));
}

TEST_F(IfStepTest, PixelAndImageFailWithoutADesktop) {
  struct NoScreen : platform::Screen {
    std::optional<platform::Colour> PixelAt(int, int) override { return std::nullopt; }
    platform::ScreenInfo Info() override { return {}; }
  } no_screen;
  platform::SetScreenForTest(&no_screen);
  ClearStepError();
  EXPECT_EQ(Check({"IF Pixel Equals", "0x000000", "NOT", "10,10"}), 0);
  EXPECT_EQ(StepError(), "No desktop is available on this system");
  EXPECT_FALSE(Logged("    \"IF\" check evaluated to TRUE"));
  ClearStepError();
  EXPECT_EQ(Check({"IF Image is Visible", "", "Quick", "16"}), 0);
  EXPECT_EQ(StepError(), "No desktop is available on this system");
  platform::SetScreenForTest(nullptr);
}

#ifdef _WIN32
// The real desktop: a window of this test, keys sent with SendInput, the clipboard.
void SendKey(WORD key, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = key;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &in, sizeof in);
  Sleep(50);
}

TEST_F(IfStepTest, WindowsKeysAndClipboardOfTheRealDesktop) {
  // Under load an injected key reaches the key state late: wait for it (bounded).
  auto settled = [](WORD key, bool down) {
    for (int i = 0; i < 200 && ((GetAsyncKeyState(key) & 0x8000) != 0) != down; ++i) Sleep(10);
  };
  SendKey(VK_F14, false);
  settled(VK_F14, true);
  EXPECT_EQ(Check({"IF Key is Pressed", "{F14}", "", ""}), 1);
  SendKey(VK_F14, true);
  settled(VK_F14, false);
  EXPECT_EQ(Check({"IF Key is Pressed", "{F14}", "", ""}), 0);
  SendKey(VK_F15, false);
  SendKey(VK_F15, true);
  // Any query of the key's state uses up the mark of a press, so "Last" asks first.
  EXPECT_EQ(Check({"IF Key is Pressed", "{F15}", "Last", ""}), 1);
  EXPECT_EQ(Check({"IF Key is Pressed", "{F15}", "", ""}), 0);

  // Caps Lock pressed twice: on, then off again as it was.
  const int before = Check({"IF Caps Lock is On", "", "", ""});
  SendKey(VK_CAPITAL, false);
  SendKey(VK_CAPITAL, true);
  const int toggled = Check({"IF Caps Lock is On", "", "", ""});
  SendKey(VK_CAPITAL, false);
  SendKey(VK_CAPITAL, true);
  EXPECT_NE(toggled, before);
  EXPECT_EQ(Check({"IF Caps Lock is On", "", "", ""}), before);

  ASSERT_TRUE(platform::clipboard().SetText("Olvex clipboard text"));
  Checks({{{"IF Clipboard Contains", "CLIPBOARD", "Partial", ""}, 1},
      {{"IF Clipboard Contains", "", "Any Text", ""}, 1}, {{"IF Clipboard Contains", "Olvex", "", ""}, 0}});

  // The window last: under Wine, keys injected after a window of this test was shown and destroyed may be lost.
  const std::string title = "Olvex IF test " + std::to_string(GetCurrentProcessId());
  HWND window = CreateWindowExA(0, "STATIC", title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_SHOWNOACTIVATE);  // only a visible frame window counts
  EXPECT_EQ(Check({"IF Window Exists", title, "", ""}), 1);
  EXPECT_TRUE(Logged("    Window:  [" + title + "]  (" +
                     std::to_string(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window))) + ")"));
  DestroyWindow(window);
  EXPECT_EQ(Check({"IF Window Exists", title, "", ""}), 0);
}
#endif

}  // namespace
}  // namespace olvex::test
