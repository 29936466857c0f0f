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
  const std::vector<MenuItem> bar = SampleBar();
  for (const CaseRow& row : CaseSection(kDesktopCases, "menu_search", 4)) {
    const MenuItemFound found = FindMenuItem(bar, std::stoul(row.fields[1]), NormalizeMenuPath(row.fields[0]));
    EXPECT_EQ(found.found ? found.text + " " + std::to_string(found.command) : "- 0", row.fields[2] + " " + row.fields[3])
        << row.where;
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
  for (const CaseRow& row : CaseSection(kDesktopCases, "select_menu", 5)) {
    const std::string& text = row.fields[0];
    if (row.fields[1] == "1") menus.bars[window] = SampleBar();
    else menus.bars.erase(window);
    menus.calls.clear();
    keys.events.clear();
    log.clear();
    EXPECT_EQ(Step("Select Menu Item", text), std::stoi(row.fields[2])) << row.where;
    std::string sent = menus.calls.empty() ? keys.Events() : menus.calls[0];
    ReplaceAll(sent, std::to_string(window), "W", false);
    EXPECT_EQ(sent, row.fields[3]) << row.where;
    EXPECT_EQ(error, row.fields[4]) << row.where;
    const bool keyboard_tried = sent.starts_with("Alt") || error.starts_with("Unable");
    EXPECT_EQ(Logged("    Unable to find menu \"" + text + "\", trying keyboard method..."), keyboard_tried) << row.where;
  }
}

TEST_F(MenuStepTest, SelectSystemMenuSendsTheWindowCommandOrItsMnemonic) {
  for (const CaseRow& row : CaseSection(kDesktopCases, "system_menu", 2)) {
    menus.calls.clear();
    keys.events.clear();
    EXPECT_EQ(Step("Select System Menu", row.fields[0]), 1) << row.where;
    std::string got = menus.calls.empty() ? keys.Events() : menus.calls[0];
    ReplaceAll(got, std::to_string(window), "W", false);
    EXPECT_EQ(got, row.fields[1]) << row.where;
  }
  EXPECT_EQ(Step("Select System Menu", "Zoom"), 0);
  EXPECT_EQ(error, "Unable to find system menu 'Zoom'");
}

TEST_F(MenuStepTest, AWindowThatIsGoneOrMissingFailsClearly) {
  const auto id = [&](const std::string& field) { return field == "W" ? window : std::stoul(field); };
  for (const CaseRow& row : CaseSection(kDesktopCases, "menu_window", 6)) {
    RunShared().current_window = static_cast<std::intptr_t>(id(row.fields[1]));
    desktop.foreground = id(row.fields[2]);
    EXPECT_EQ(Step(row.fields[0].c_str(), row.fields[0] == "Select Menu Item" ? "&File;&Open" : "Maximize"),
              std::stoi(row.fields[3])) << row.where;
    EXPECT_EQ(error, row.fields[4]) << row.where;
    EXPECT_EQ(RunShared().current_window.load(), static_cast<std::intptr_t>(id(row.fields[5]))) << row.where;
  }
  EXPECT_TRUE(keys.events.empty());
}

// The popup's choice goes to the clipboard.
int PopupToClipboard(int slot, int step_index) {
  Document(slot).steps[static_cast<std::size_t>(step_index)].set_output("Clipboard");
  return HandleMenuStep(slot, step_index);
}

TEST_F(MenuStepTest, ShowPopupMenuReturnsTheChosenLine) {
  for (const CaseRow& row : CaseSection(kDesktopCases, "popup", 4)) {
    menus.calls.clear();
    clipboard.history.clear();
    menus.popup_answer = std::stoi(row.fields[1]);
    EXPECT_EQ(Run(PopupToClipboard, {"Show Popup Menu", row.fields[0], "", "", "", 5}), 1) << row.where;
    EXPECT_EQ(menus.calls, std::vector<std::string>{row.fields[2]}) << row.where;
    EXPECT_EQ(clipboard.history, std::vector<std::string>{row.fields[3]}) << row.where;
  }
  EXPECT_TRUE(Logged("    No line of the popup menu was chosen"));
  EXPECT_EQ(Run(PopupToClipboard, {"Show Popup Menu", "-\n\n_", "", "", "", 5}), 0);
  EXPECT_EQ(error, "The popup menu has no lines to choose from");
}

}  // namespace
}  // namespace olvex::test
