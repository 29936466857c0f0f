// Typing into real programs under Wine (olvex-target, and notepad, which we
// did not write): every key typed is taken in, whatever step follows it.
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

using Clock = std::chrono::steady_clock;

HWND Current() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(CurrentWindow())); }

class TypingTest : public StepFixture {
 protected:
  // Use Window, again until the window is there (a program starting, a dialog opened by keys).
  int Use(const std::string& text, const std::string& options = "Partial Title,Activate") {
    for (const auto end = Clock::now() + std::chrono::seconds(30);
         Run(HandleWindowsStep, {"Use Window", text, options, "", "", 3}) != 1 && Clock::now() < end;)
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
    EXPECT_EQ(Run(HandleWindowsStep, get), 1) << error;
    EXPECT_EQ(ReadUserVariable("typed").value_or(""), expected);
    return expected;
  }
};

// Activating a disabled button of notepad's Replace dialog (owned by notepad's
// window, not its child) brings the dialog forward. Close Window after typing:
// the keys never answer the box that asks whether to save.
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
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &notepad));
  ASSERT_EQ(Use("letter"), 1) << error;
  const HWND edit = FindWindowExA(Current(), nullptr, "Edit", nullptr);
  Type("{ControlDown}h{ControlUp}");
  EXPECT_EQ(Use("Replace &All", "Exact,Activate"), 1) << error;
  EXPECT_FALSE(IsWindowEnabled(Current()));
  EXPECT_EQ(GetForegroundWindow(), GetAncestor(Current(), GA_ROOT));
  EXPECT_TRUE(Logged("    Activate: Parent level #1 activation, IsIconic=0"));
  Type("abc{Escape}");
  const std::string expected = TypeLetter("letter", edit);
  EXPECT_EQ(Run(HandleMenuStep, {"Select Menu Item", "&File;&Save", "", "", "", 5}), 1) << error;
  for (const auto end = Clock::now() + std::chrono::seconds(30); ReadBytes(file) != expected && Clock::now() < end;)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ReadBytes(file), expected);
  Type("{ControlDown}{End}{ControlUp}more unsaved words, yes");
  StepSpec close("Close Window", "", "", "", "", 3);
  close.timeout = "2";
  EXPECT_EQ(Run(HandleWindowsStep, close), 1) << error;
  if (WaitForSingleObject(notepad.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(notepad.hProcess, 0);
  EXPECT_EQ(ReadBytes(file), expected);
  CloseHandle(notepad.hThread);
  CloseHandle(notepad.hProcess);
}

}  // namespace
}  // namespace olvex::test
#endif
