// The key language and the Keyboard category against the recording keyboard.
#include "input/keyboard.h"

#include "tests/desktop/desktop_fixture.h"

namespace olvex::test {
namespace {

class KeyboardTest : public DesktopFixture {};

TEST_F(KeyboardTest, TypeSendsExactlyTheseKeyEvents) {
  keys.layout['|'] = 0x6DC;  // Ctrl+Alt
  keys.layout['~'] = 0x4C0;  // Alt alone
  for (const CaseRow& row : CaseSection(kDesktopCases, "type", 5)) {
    keys.events.clear();
    RunShared().held_keys = 0;
    EXPECT_EQ(Run(HandleKeyboardStep, {"Type", row.fields[0], row.fields[1], row.fields[2]}), 1) << row.where;
    EXPECT_EQ(keys.Events(), row.fields[3]) << row.where;
    EXPECT_EQ(RunShared().held_keys.load(), std::stoi(row.fields[4])) << row.where;
  }
}

TEST_F(KeyboardTest, HeldModifiersAreReleasedAtTheRunsEndWithTheWarning) {
  Run(HandleKeyboardStep, {"Type", "{Shift}{ctrl}{alt}"});
  keys.events.clear();
  ReleaseHeldModifiers();
  EXPECT_EQ(keys.Events(), "Ctrl*- Shift- Alt-");
  EXPECT_TRUE(Logged("WARNING!  Key was pressed with the {-Down} TYPE command, but not released with {-Up}"));
  log.clear();
  ReleaseHeldModifiers();
  EXPECT_TRUE(log.empty());
}

TEST_F(KeyboardTest, TextViaClipboardPastesAndPutsTheUsersTextBack) {
  clipboard.text = "the user's";
  EXPECT_EQ(Run(HandleKeyboardStep, {"Text via Clipboard", "pasted"}), 1);
  EXPECT_EQ(keys.Events(), "Ctrl*+ V+ V- Ctrl*- P500");
  EXPECT_EQ(clipboard.history, (std::vector<std::string>{"pasted", "the user's"}));
  clipboard.text.reset();
  clipboard.history.clear();
  Run(HandleKeyboardStep, {"Text via Clipboard", "only"});
  EXPECT_EQ(clipboard.history, (std::vector<std::string>{"only"}));
}

TEST_F(KeyboardTest, DirectWindowEntrySetsTextOrAddsListItems) {
  const auto frame = desktop.Add({0, 0, "Form", "Frame", 0, 0, kFrameStyle});
  const auto edit = desktop.Add({0, frame, "", "Edit", 1, 0, kChildStyle});
  const auto list = desktop.Add({0, frame, "", "ListBox", 2, 0, kChildStyle});
  const auto combo = desktop.Add({0, frame, "", "ComboBox", 3, 0, kChildStyle});
  const auto hung = desktop.Add({0, frame, "", "Edit", 4, 0, kChildStyle, {}, true});
  auto entry = [&](platform::WindowId w, const char* text) {
    return Run(HandleKeyboardStep, {"Direct Window Entry", text, "Handle", "", std::to_string(w)});
  };
  EXPECT_EQ(entry(edit, "a;b"), 1);
  EXPECT_EQ(entry(list, "a;b;c"), 1);
  EXPECT_EQ(entry(combo, "x"), 1);
  EXPECT_EQ(desktop.calls, (std::vector<std::string>{
                               "SetText " + std::to_string(edit) + " a;b", "AddListItem " + std::to_string(list) + " a",
                               "AddListItem " + std::to_string(list) + " b", "AddListItem " + std::to_string(list) + " c",
                               "AddComboItem " + std::to_string(combo) + " x"}));
  EXPECT_EQ(entry(hung, "x"), 0);
  EXPECT_EQ(error, "The window did not take the text");
  EXPECT_EQ(entry(999999, "x"), 0);
  EXPECT_EQ(error, "Unable to find window '999999'");
  EXPECT_TRUE(keys.events.empty());
}

TEST_F(KeyboardTest, BlockAndUnblockInput) {
  EXPECT_EQ(Run(HandleKeyboardStep, {"Block Input"}), 1);
  EXPECT_EQ(Run(HandleKeyboardStep, {"Unblock Input"}), 1);
  EXPECT_EQ(keys.Events(), "Block Unblock");
  keys.user32_missing = true;
  EXPECT_EQ(Run(HandleKeyboardStep, {"Block Input"}), 0);
  EXPECT_EQ(error, "Unable to load USER32.DLL");
}

TEST_F(KeyboardTest, VirtualKeyToCharFollowsShiftAndCapsLock) {
  for (const CaseRow& row : CaseSection(kDesktopCases, "virtual_key", 4)) {
    keys.down.clear();
    if (row.fields[1] == "1") keys.down.insert(0x10);
    keys.caps_lock = row.fields[2] == "1";
    const char c = VirtualKeyToChar(std::stoi(row.fields[0]));
    EXPECT_EQ(c ? std::string(1, c) : "", row.fields[3]) << row.where;
  }
}

}  // namespace
}  // namespace olvex::test
