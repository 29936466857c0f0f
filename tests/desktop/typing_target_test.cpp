// Typing under Wine into olvex-target and notepad: every key is taken in, whatever step follows.
#ifdef _WIN32
#include <thread>

#include "tests/desktop/desktop_fixture.h"
#include "tests/desktop/target.h"
#include "vars/variables.h"
#include "windows/menus.h"
#include "windows/window_actions.h"
#include "windows/window_match.h"

namespace olvex::test {
namespace {

HWND Current() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(CurrentWindow())); }

class TypingTest : public StepFixture {
 protected:
  // Use Window, again until the window is there (a program starting, a dialog opened by keys).
  int Use(const std::string& text, const std::string& options = "Partial Title,Activate") {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Run(HandleWindowsStep, {"Use Window", text, options, "", "", 3}) != 1 && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return error.empty() ? 1 : 0;
  }
  void Type(const std::string& text) { Run(HandleKeyboardStep, {"Type", text, "", "", "", 4}); }
  // Ten lines, the window activated again after each; Get Text reads them all.
  std::string TypeLetter(const std::string& title, HWND edit) {
    std::string expected;
    for (int round = 0; round < 10; ++round) {
      const std::string line = "Meeting " + std::to_string(round) + " at 10:30, room B.";
      EXPECT_EQ(Use(title), 1) << error;
      GUITHREADINFO info{};  // activation left the focus on the edit
      info.cbSize = sizeof info;
      EXPECT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(edit, nullptr), &info) && info.hwndFocus == edit);
      Type(line + "{Enter}");
      expected += line + "\r\n";
    }
    StepSpec get("Get Text", "", "Handle", "", std::to_string(reinterpret_cast<std::uintptr_t>(edit)), 3);
    get.output = "typed";
    EXPECT_TRUE(Run(HandleWindowsStep, get) && ReadUserVariable("typed") == expected) << error;
    return expected;
  }
};

// Activating a disabled button of notepad's Replace dialog (owned by notepad's
// window, not its child) brings the dialog forward; Close Window after typing.
TEST_F(TypingTest, LetterDialogMenuKeysAndCloseWithUnsavedText) {
  Target target;
  ASSERT_TRUE(target.ready() && Use(target.title()));
  target.Command("focus " + std::to_string(target::kMultiEdit));
  TypeLetter(target.title(), target.Control(target::kMultiEdit));
  const ScratchDir dir;
  const std::string file = dir.Write("letter.txt", "");
  std::string command = "notepad.exe \"" + file + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION notepad{};
  ASSERT_TRUE(
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &notepad));
  ASSERT_EQ(Use("letter"), 1) << error;
  const HWND edit = FindWindowExA(Current(), nullptr, "Edit", nullptr);
  Type("{ControlDown}h{ControlUp}");
  EXPECT_EQ(Use("Replace &All", "Exact,Activate"), 1) << error;
  EXPECT_EQ(GetForegroundWindow(), GetAncestor(Current(), GA_ROOT));
  Type("abc{Escape}");
  const std::string expected = TypeLetter("letter", edit);
  EXPECT_EQ(Run(HandleMenuStep, {"Select Menu Item", "&File;&Save", "", "", "", 5}), 1) << error;
  Type("{ControlDown}{End}{ControlUp}more unsaved words, yes");  // after the menu's keys: saved
  EXPECT_EQ(ReadBytes(file), expected);
  StepSpec close("Close Window", "", "", "", "", 3);
  close.timeout = "2";
  EXPECT_EQ(Run(HandleWindowsStep, close), 1) << error;  // the keys never answer its box
  EXPECT_EQ(WaitForSingleObject(notepad.hProcess, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(ReadBytes(file), expected);
}

}  // namespace
}  // namespace olvex::test
#endif
