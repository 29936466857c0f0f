#pragma once
// The Menu category: Select Menu Item (an item of the current window's menu
// bar found by its path, or the keys that reach it), Select System Menu (the
// window commands) and Show Popup Menu (a menu of the runtime's own).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/menus.h"
#include "platform/windows.h"

namespace olvex {

int HandleMenuStep(int slot, int step_index);

// A menu path as it is searched: every "," and ";" with the blanks around it
// becomes ";", and the text from its first tab on is dropped.
std::string NormalizeMenuPath(std::string_view path);

struct MenuItemFound {
  bool found = false;
  std::uint32_t command = 0;
  std::string text;  // the item's text as compared
  bool submenu = false, disabled = false;
};
// Walks the menu depth first (16 levels at most), items in order. An item
// is compared by its text cut at the first tab and the first "...", and by
// its path (the texts from the bar down joined by ";"). It matches when its
// command is `wanted_command` (when not 0), or when its text or path begins
// with `wanted` without regard to case, or does so with the "&" of both sides
// left out. The first match ends the walk.
MenuItemFound FindMenuItem(const std::vector<platform::MenuItem>& menu, std::uint32_t wanted_command,
                           std::string_view wanted);
// The same over the window's menu bar (found nothing when it cannot be read).
MenuItemFound FindMenuItem(platform::WindowId window, std::uint32_t wanted_command, std::string_view wanted);

// The keyboard way to a menu command: activates the window and types each
// item's mnemonic (the character after its first "&", else its first
// character), the first one with Alt held. False when the window is gone or
// an item has no key.
bool TypeMenuKeys(platform::WindowId window, std::string_view path);

// Sends the window command that `text` names ("max", "min", "restore",
// "move", "close", "size", the "&" left out), else opens the system menu with
// Alt+Space and types the character after the "&". False when the text names
// neither.
bool SendSystemMenuCommand(platform::WindowId window, std::string_view text);

// The popup menu of `text`'s lines: an empty line or one that begins with
// "-" or "_" is a separator; the others are items, leading blanks removed.
std::vector<platform::PopupLine> PopupMenuLines(std::string_view text);
// Shows the popup menu on the calling thread; returns the chosen line's
// number (1-based), 0 when none was chosen, -1 with `error` set when the menu
// cannot be shown. `close` as for platform::Menus::ShowPopup.
int ShowPopupMenu(const std::vector<platform::PopupLine>& lines, const std::function<bool()>& close,
                  std::string& error);

}  // namespace olvex
