#pragma once
// Names of keys as scripts write them ("{Enter}", "{F5}", "{ControlDown}")
// and their virtual-key codes, plus the aliases that stand for them
// ("{Ctrl}" for "{ControlDown}"). Names include their braces and compare
// without regard to case. Typing and the formula language share these tables.
#include <cstddef>
#include <span>
#include <string_view>

namespace olvex {

// How a key name presses its key.
enum class PressForm { PressOnly = 0, ReleaseOnly = 1, PressAndRelease = 2 };

struct KeyName {
  std::string_view name;  // with braces: "{PageUp}"
  int code;               // virtual-key code
};

struct KeyAlias {
  std::string_view alias;      // "{Ctrl}"
  std::string_view canonical;  // "{ControlDown}"
};

// The 84 key names, in the order in which they are tried.
std::span<const KeyName> KeyNameTable();
// The 32 aliases, in the order in which they are rewritten.
std::span<const KeyAlias> KeyAliasTable();

// Press form of a key name of the table: "{ControlDown}", "{ShiftDown}",
// "{AltDown}" and "{WinKeyDown}" press only, the matching "...Up" names
// release only, every other name presses and releases.
PressForm PressFormOf(std::string_view name);

struct KeyNameMatch {
  int code = 0;          // 0: no key name begins the text
  std::size_t length = 0;  // characters of the name
  PressForm form = PressForm::PressAndRelease;
};

// The first key name of the table (aliases not rewritten) that begins `text`,
// compared over the name's length without regard to case.
KeyNameMatch MatchKeyName(std::string_view text);

// Virtual-key code of a whole name, which may be an alias ("{Ctrl}" gives
// 0x11); 0 when it names no key.
int VirtualKeyOfName(std::string_view name);

}  // namespace olvex
