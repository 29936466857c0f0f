// The key language and the Keyboard category against the recording keyboard.
#include "input/keyboard.h"

#include "tests/desktop/desktop_fixture.h"

namespace olvex::test {
namespace {

class KeyboardTest : public DesktopFixture {};

struct TypeCase {
  const char* text;
  const char* options;
  const char* value1;
  const char* events;
  int held_after = 0;
};

TEST_F(KeyboardTest, TypeSendsExactlyTheseKeyEvents) {
  const TypeCase cases[] = {
      {"aB1", "", "", "A+ A- Shift+ B+ B- Shift- 1+ 1-"},
      {"{ctrl}a{ctrlup}", "", "", "Ctrl*+ P10 A+ A- Ctrl*- P10"},
      {"{Ctrl}A{CtrlUp}", "", "", "Ctrl*+ P10 A+ A- Ctrl*- P10"},  // no Shift while Ctrl is held
      {"{ShiftDown}x", "", "", "Shift+ X+ X-", 2},
      {"{Shift}x{ShiftUp}y", "", "", "Shift+ X+ X- Shift- Y+ Y-"},
      {"ab{Pg Dn}{CTL}x{esc}", "", "", "A+ A- B+ B- #22*+ #22*- Ctrl*+ P10 X+ X- #1B+ #1B-", 1},  // aliases of key names
      {"{Alt}f{AltUp}", "", "", "Alt+ F+ F- Alt-"},
      {"{N}{r}{return}{NEWLINE}{T}{\\t}", "", "",
       "Enter+ Enter- Enter+ Enter- Enter+ Enter- Enter+ Enter- Tab+ Tab- Tab+ Tab-"},
      {"{PgUp}{Del}{Home}{F5}{Num7}", "", "", "#21*+ #21*- #2E*+ #2E*- #24*+ #24*- #74+ #74- Num7+ Num7-"},
      {"x{Delay=250}y{Delay=abc}z", "", "", "X+ X- P250 Y+ Y- Z+ Z-"},
      {"{Foo}", "", "", "Shift+ #DB+ #DB- Shift- Shift+ F+ F- Shift- O+ O- O+ O- Shift+ #DD+ #DD- Shift-"},
      {"ab", "", "20", "A+ A- P20 B+ B- P20"},
      {"ab", "", "-5", "A+ A- B+ B-"},
      {"ab", "", "abc", "A+ A- B+ B-"},
      {"a\r\nb\n", "", "", "A+ A- Enter+ Enter- B+ B- Enter+ Enter-"},
      // Characters without a key: Alt and the ANSI code on the keypad (é is 233).
      {"\xE9(", "", "", "Alt+ Num0+ Num0- Num2+ Num2- Num3+ Num3- Num3+ Num3- Alt- "
                        "Alt+ Num0+ Num0- Num0+ Num0- Num4+ Num4- Num0+ Num0- Alt-"},
      {"\x81\x01z", "", "", "Z+ Z-"},  // neither a key nor an Alt code: skipped
      // A layout's key that needs Alt (Ctrl+Alt is AltGr) is typed by its code.
      {"|~", "", "", "Alt+ Num0+ Num0- Num1+ Num1- Num2+ Num2- Num4+ Num4- Alt- "
                     "Alt+ Num0+ Num0- Num1+ Num1- Num2+ Num2- Num6+ Num6- Alt-"},
      {"%x", "No Variable Expansion", "", "Shift+ 5+ 5- Shift- X+ X-"},
      // SendInput: Shift by keybd_event, keys by SendInput, no press forms; characters without a key as Unicode.
      {"{ControlDown}aB", "SendKey", "", "i:Ctrl*+ i:Ctrl*- P10 i:A+ i:A- Shift+ i:B+ i:B- Shift-"},
      {"Ab(\xE9\x81", "SendKey", "",
       "Shift+ i:A+ i:A- Shift- i:B+ i:B- u:'('+ u:'('- u:'\xE9'+ u:'\xE9'- u:'\x81'+ u:'\x81'-"},
  };
  keys.layout['|'] = 0x6DC;  // Ctrl+Alt
  keys.layout['~'] = 0x4C0;  // Alt alone
  for (const TypeCase& c : cases) {
    keys.events.clear();
    RunShared().held_keys = 0;
    EXPECT_EQ(Run(HandleKeyboardStep, {"Type", c.text, c.options, c.value1}), 1);
    EXPECT_EQ(keys.Events(), c.events) << c.text << " " << c.options;
    EXPECT_EQ(RunShared().held_keys.load(), c.held_after) << c.text;
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
  struct Case {
    int key;
    bool shift, caps;
    char expected;
  };
  const Case cases[] = {{'A', false, false, 'a'}, {'A', true, false, 'A'}, {'A', false, true, 'A'},
                        {'A', true, true, 'a'},   {'1', true, false, '!'}, {'5', false, true, '5'},
                        {0xBA, false, false, ';'}, {0xBA, true, false, ':'}, {0xDE, true, false, '"'},
                        {0xBF, true, false, '?'}, {0, true, false, 0}};
  for (const Case& c : cases) {
    keys.down.clear();
    if (c.shift) keys.down.insert(0x10);
    keys.caps_lock = c.caps;
    EXPECT_EQ(VirtualKeyToChar(c.key), c.expected) << c.key << c.shift << c.caps;
  }
}

}  // namespace
}  // namespace olvex::test
