// The Menu category on the real desktop under Wine: the menu search over a
// menu bar of this program's own window (the system reads no other process's
// menu there), the keyboard way against olvex-target (its system menu: the
// script case windows/target_windows), and the popup menu answered by a thread
// of the test.
#ifdef _WIN32
#include <atomic>
#include <thread>

#include "tests/desktop/desktop_fixture.h"
#include "tests/desktop/target.h"
#include "windows/menus.h"
#include "windows/window_match.h"

namespace olvex::test {
namespace {

platform::WindowId Id(HWND hwnd) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(hwnd)); }

std::atomic<int> g_last_command{0};

LRESULT CALLBACK OwnFrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND) g_last_command = LOWORD(wp);
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// A frame of the test's own with a menu bar of nested items.
class OwnMenuWindow {
 public:
  OwnMenuWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = OwnFrameProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "OlvexMenuTestFrame";
    RegisterClassA(&wc);
    HMENU bar = CreateMenu(), file = CreatePopupMenu(), exports = CreatePopupMenu(), edit = CreatePopupMenu();
    AppendMenuA(exports, MF_STRING, 51, "As &Text");
    AppendMenuA(exports, MF_STRING, 52, "As &HTML...");
    AppendMenuA(file, MF_STRING, 11, "&Open...\tCtrl+O");
    AppendMenuA(file, MF_STRING, 12, "Save &As...");
    AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(file, MF_POPUP, reinterpret_cast<UINT_PTR>(exports), "&Export");
    AppendMenuA(edit, MF_STRING | MF_GRAYED, 21, "&Undo\tCtrl+Z");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(edit), "&Edit");
    hwnd = CreateWindowExA(0, "OlvexMenuTestFrame", "Olvex Menu Test", WS_OVERLAPPEDWINDOW, 40, 40, 400, 300, nullptr,
                           bar, GetModuleHandleA(nullptr), nullptr);
  }
  ~OwnMenuWindow() { DestroyWindow(hwnd); }
  // Delivers what was posted to the window; the command it received (0: none).
  int Received() {
    MSG msg;
    while (PeekMessageA(&msg, hwnd, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    return g_last_command.exchange(0);
  }
  HWND hwnd = nullptr;
};

class MenuTargetTest : public StepFixture {
 protected:
  int Act(const char* action, const std::string& text, const std::string& timeout = "") {
    g_timeout = timeout;
    return Run(WithOutput, {action, text, "", "", "", 5});
  }
  // The step's result goes to the variable "chosen", and it has `g_timeout`.
  static int WithOutput(int slot, int step_index) {
    Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
    step.set_output("Variable");
    step.set_output_option("chosen");
    step.set_timeout(g_timeout);
    return HandleMenuStep(slot, step_index);
  }
  static std::string Chosen() { return ExpandText("%chosen", 0, 0, 0); }
  static inline std::string g_timeout;
};

TEST_F(MenuTargetTest, TheSearchByPathReadsThisProgramsOwnMenu) {
  OwnMenuWindow own;
  ASSERT_NE(own.hwnd, nullptr);
  const struct {
    const char* path;
    const char* text;  // nullptr: not found
    std::uint32_t command;
  } cases[] = {
      {"&File, &Open", "&Open", 11}, {"file;export;as text", "As &Text", 51},
      {"&File;&Export;As &HTML", "As &HTML", 52}, {"&File;&Close", nullptr, 0},
  };
  for (const auto& c : cases) {
    const MenuItemFound found = FindMenuItem(Id(own.hwnd), 0, NormalizeMenuPath(c.path));
    EXPECT_EQ(found.found, c.text != nullptr) << c.path;
    if (!c.text) continue;
    EXPECT_EQ(found.text, c.text) << c.path;
    EXPECT_EQ(found.command, c.command) << c.path;
  }
  EXPECT_TRUE(FindMenuItem(Id(own.hwnd), 0, "Edit;Undo").disabled);
  EXPECT_TRUE(FindMenuItem(Id(own.hwnd), 0, "&File;&Export").submenu);

  // The step posts the item's command; a disabled item is not chosen.
  SetCurrentWindow(Id(own.hwnd));
  ASSERT_EQ(Act("Select Menu Item", "&File;&Export;As &Text"), 1) << error;
  EXPECT_EQ(own.Received(), 51);
  EXPECT_EQ(Act("Select Menu Item", "&Edit;&Undo"), 0);
  EXPECT_EQ(error, "The menu item '&Undo' is disabled");
  EXPECT_EQ(own.Received(), 0);
}

TEST_F(MenuTargetTest, TheKeysReachAnotherProgramsMenuCommandEvenAfterAHang) {
  Target target;
  ASSERT_TRUE(target.ready());
  target.Command("clear");
  SetCurrentWindow(Id(target.frame()));
  // The target does not answer for a while: the step does not wait for it,
  // and the keys reach the command when it wakes.
  target.Command("hang 1500");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(Act("Select Menu Item", "&File;&Recent;&Two"), 1) << error;
  EXPECT_TRUE(Logged("    Unable to find menu \"&File;&Recent;&Two\", trying keyboard method..."));
  target.RecordedInOrder({"cmd 103 0 menu"});
  EXPECT_EQ(target.Ask().at("record").find("cmd 102"), std::string::npos);
}

// Finds the shown popup menu (class "#32768") and posts it these keys.
std::thread AnswerPopup(std::vector<WPARAM> keys) {
  return std::thread([keys] {
    HWND menu = nullptr;
    for (int i = 0; i < 200 && !menu; ++i) {
      HWND found = FindWindowA("#32768", nullptr);
      if (found && IsWindowVisible(found)) menu = found;
      else std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!menu) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (WPARAM key : keys) {
      PostMessageA(menu, WM_KEYDOWN, key, 0);
      PostMessageA(menu, WM_KEYUP, key, 0xC0000000);
    }
  });
}

TEST_F(MenuTargetTest, APopupMenuReturnsTheChosenLineAndEscapeNothing) {
  const std::string lines = "Option One\r\nOption Two\r\n-----\r\nOption Three";
  SetCurrentWindow(0);
  std::thread answer = AnswerPopup({VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN});
  EXPECT_EQ(Act("Show Popup Menu", lines, "20"), 1) << error;
  answer.join();
  EXPECT_EQ(Chosen(), "Option Three");

  answer = AnswerPopup({VK_ESCAPE});
  EXPECT_EQ(Act("Show Popup Menu", lines, "20"), 1) << error;
  answer.join();
  EXPECT_EQ(Chosen(), "");
  EXPECT_TRUE(Logged("    No line of the popup menu was chosen"));
  EXPECT_EQ(FindWindowA("BrenvoMenuHandler", nullptr), nullptr);  // the time-out: menus/popup_timeout_windows
}

}  // namespace
}  // namespace olvex::test
#endif
