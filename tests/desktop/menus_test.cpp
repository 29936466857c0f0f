// The Menu category against the recording fakes: the menu search by path,
// the keyboard way, the system menu's commands and the popup menu's lines.
#include "windows/menus.h"

#include "engine/text.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/support/fake_menus.h"

namespace olvex::test {
namespace {

using platform::MenuItem;

std::vector<MenuItem> SampleBar() {
  return {
      Submenu("&File", {MenuCommand("&New\tCtrl+N", 1), MenuCommand("&Open...\tCtrl+O", 2), MenuCommand("Save &As...", 3),
                        MenuSeparator(), Submenu("Recent &Files", {MenuCommand("&1 a.txt", 4)}),
                        Submenu("E&xport", {MenuCommand("As &Text", 5), MenuCommand("As &HTML", 6)})}),
      Submenu("&Edit", {MenuCommand("&Undo", 7, true), MenuCommand("Paste &Special...", 8)}),
  };
}

TEST(MenuSearch, PathsNormaliseAndMatchByTextOrPathWithOrWithoutAmpersands) {
  struct Case {
    const char* wanted;
    std::uint32_t wanted_command;
    const char* text;  // nullptr: not found
    std::uint32_t command;
  };
  const Case cases[] = {
      {"&File, &Open", 0, "&Open", 2},             // "..." and the tab's tail are not compared
      {"&File ;&Open\tCtrl+O", 0, "&Open", 2},
      {"Save As", 0, "Save &As", 3},              // "&" left out on both sides
      {"save &as", 0, "Save &As", 3},
      {"File; Export; As HTML", 0, "As &HTML", 6},  // a path three levels deep
      {"&File;E&xport;As &Text", 0, "As &Text", 5},
      {"As", 0, "As &Text", 5},                   // the first match in walking order
      {"Paste Special", 0, "Paste &Special", 8},
      {"&Edit;&Undo", 0, "&Undo", 7},
      {"zzz", 6, "As &HTML", 6},                  // by command
      {"&File;&Close", 0, nullptr, 0},
      {"Open...", 0, nullptr, 0},                  // the item's "..." is never part of its text
  };
  const std::vector<MenuItem> bar = SampleBar();
  for (const Case& c : cases) {
    const MenuItemFound found = FindMenuItem(bar, c.wanted_command, NormalizeMenuPath(c.wanted));
    EXPECT_EQ(found.found, c.text != nullptr) << c.wanted;
    if (!c.text) continue;
    EXPECT_EQ(found.text, c.text) << c.wanted;
    EXPECT_EQ(found.command, c.command) << c.wanted;
  }
  EXPECT_EQ(NormalizeMenuPath(" a, b,c; d ;e  ;  f\tg, h"), " a;b;c;d;e;f");
  EXPECT_TRUE(FindMenuItem(bar, 0, "&Edit").submenu);
  EXPECT_TRUE(FindMenuItem(bar, 0, "Edit;Undo").disabled);

  std::vector<MenuItem> big;
  for (std::uint32_t i = 0; i < 100000; ++i) big.push_back(MenuCommand("Item " + std::to_string(i), i + 1));
  EXPECT_EQ(FindMenuItem({Submenu("&Big", std::move(big))}, 0, "Big;Item 99999").command, 100000u);
}

class MenuStepTest : public DesktopFixture {
 protected:
  void SetUp() override {
    DesktopFixture::SetUp();
    window = desktop.Add({0, 0, "Editor", "Frame", 0, 0, kFrameStyle});
    desktop.foreground = window;
    menus.bars[window] = SampleBar();
    RunShared().current_window = static_cast<std::intptr_t>(window);
  }
  int Step(const char* action, const std::string& text) { return Run(HandleMenuStep, {action, text, "", "", "", 5}); }
  platform::WindowId window = 0;
  FakeMenus menus;
};

TEST_F(MenuStepTest, SelectMenuItemSendsTheCommandOrTypesTheKeys) {
  struct Case {
    const char* text;
    bool readable;      // the window's menu bar can be read
    int result;
    const char* sent;   // the command posted, or the keys typed
    const char* error;
  };
  const Case cases[] = {
      {"&File, &Open", true, 1, "Command W 2", ""},
      {"File;Recent Files;1 a", true, 1, "Command W 4", ""},
      {"&Edit;&Undo", true, 0, "", "The menu item '&Undo' is disabled"},
      {"&Edit", true, 0, "", "The menu item '&Edit' opens a submenu, not a command"},
      // Not found, or the menu cannot be read: the mnemonics, the first with Alt.
      {"&File;&Close", true, 1, "Alt+ F+ F- Alt- C+ C-", ""},
      {"&file, &recent;&two", false, 1, "Alt+ F+ F- Alt- R+ R- T+ T-", ""},
      {"Tools;  Options", false, 1, "Alt+ T+ T- Alt- O+ O-", ""},
      {"&Tools;&(", false, 0, "", "Unable to find menu '&Tools;&('"},  // "(" has no key
      {"", true, 0, "", "No menu item was named"},
  };
  for (const Case& c : cases) {
    if (c.readable) menus.bars[window] = SampleBar();
    else menus.bars.erase(window);
    menus.calls.clear();
    keys.events.clear();
    log.clear();
    EXPECT_EQ(Step("Select Menu Item", c.text), c.result) << c.text;
    std::string sent = menus.calls.empty() ? keys.Events() : menus.calls[0];
    ReplaceAll(sent, std::to_string(window), "W", false);
    EXPECT_EQ(sent, c.sent) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    const bool keyboard_tried = c.sent[0] == 'A' || StartsWithNoCase(c.error, "Unable");
    EXPECT_EQ(Logged("    Unable to find menu \"" + std::string(c.text) + "\", trying keyboard method..."), keyboard_tried)
        << c.text;
  }
}

TEST_F(MenuStepTest, SelectSystemMenuSendsTheWindowCommandOrItsMnemonic) {
  const std::pair<const char*, const char*> cases[] = {
      {"Ma&ximize", "SysCommand W 0"}, {"minimize", "SysCommand W 1"}, {"&Restore", "SysCommand W 2"},
      {"Move", "SysCommand W 3"},      {"&Close", "SysCommand W 4"},   {"Size", "SysCommand W 5"},
      {"&Zoom", "Alt+ Space+ Space- Alt- Z+ Z-"},
  };
  for (const auto& [text, sent] : cases) {
    menus.calls.clear();
    keys.events.clear();
    EXPECT_EQ(Step("Select System Menu", text), 1) << text;
    std::string got = menus.calls.empty() ? keys.Events() : menus.calls[0];
    ReplaceAll(got, std::to_string(window), "W", false);
    EXPECT_EQ(got, sent) << text;
  }
  EXPECT_EQ(Step("Select System Menu", "Zoom"), 0);
  EXPECT_EQ(error, "Unable to find system menu 'Zoom'");
}

TEST_F(MenuStepTest, AWindowThatIsGoneOrMissingFailsClearly) {
  RunShared().current_window = 999;
  EXPECT_EQ(Step("Select Menu Item", "&File;&Open"), 0);
  EXPECT_EQ(error, "The window no longer exists");
  EXPECT_EQ(Step("Select System Menu", "Maximize"), 0);
  EXPECT_EQ(error, "The window no longer exists");
  // No current window: the foreground window becomes it.
  RunShared().current_window = 0;
  EXPECT_EQ(Step("Select Menu Item", "&File;&Open"), 1);
  EXPECT_EQ(RunShared().current_window.load(), static_cast<std::intptr_t>(window));
  RunShared().current_window = 0;
  desktop.foreground = 0;
  EXPECT_EQ(Step("Select System Menu", "Maximize"), 0);
  EXPECT_EQ(error, "There is no window to act on");
  EXPECT_TRUE(keys.events.empty());
}

// The popup's choice goes to the clipboard.
int PopupToClipboard(int slot, int step_index) {
  Document(slot).steps[static_cast<std::size_t>(step_index)].set_output("Clipboard");
  return HandleMenuStep(slot, step_index);
}

TEST_F(MenuStepTest, ShowPopupMenuReturnsTheChosenLine) {
  struct Case {
    const char* text;
    int answer;
    const char* shown;
    const char* output;
  };
  const Case cases[] = {
      {"Option One\r\nOption Two\r\n-----\r\nOption Three", 2027,
       "Popup Option One=2024|Option Two=2025|-|Option Three=2027", "Option Three"},
      {"  a\n\n_b\n c\r\n\r\n", 2027, "Popup a=2024|-|-|c=2027", "c"},
      {"a\nb", 0, "Popup a=2024|b=2025", ""},  // dismissed: the output is emptied
      {"a\n-\nb", 2025, "Popup a=2024|-|b=2026", ""},  // a separator is never a choice
  };
  for (const Case& c : cases) {
    menus.calls.clear();
    clipboard.history.clear();
    menus.popup_answer = c.answer;
    EXPECT_EQ(Run(PopupToClipboard, {"Show Popup Menu", c.text, "", "", "", 5}), 1) << c.text;
    EXPECT_EQ(menus.calls, std::vector<std::string>{c.shown});
    EXPECT_EQ(clipboard.history, std::vector<std::string>{c.output}) << c.text;
  }
  EXPECT_TRUE(Logged("    No line of the popup menu was chosen"));
  EXPECT_EQ(Run(PopupToClipboard, {"Show Popup Menu", "-\n\n_", "", "", "", 5}), 0);
  EXPECT_EQ(error, "The popup menu has no lines to choose from");
}

}  // namespace
}  // namespace olvex::test
