#pragma once
// Menus: a window's menu bar read as a tree of items, menu and window
// (system menu) commands sent to a window, and the runtime's own popup menu.
// The service is an interface so that tests can put a fake in place of the
// real one (SetMenusForTest).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows.h"

namespace platform {

struct MenuItem {
  std::string text;           // as the menu holds it ("&Open...\tCtrl+O"); empty for a separator
  std::uint32_t command = 0;  // the command id (0 for a separator or a submenu)
  bool separator = false;
  bool disabled = false;  // greyed or disabled: the user cannot choose it
  bool submenu = false;
  std::vector<MenuItem> items;  // a submenu's items
};

// The window commands of the system menu.
enum class SystemCommand { kMaximize, kMinimize, kRestore, kMove, kClose, kSize };

// One line of a popup menu: an item with its command id, or a separator.
struct PopupLine {
  std::string text;
  int command = 0;
  bool separator = false;
};

class Menus {
 public:
  virtual ~Menus() = default;
  // The window's menu bar, submenus read down to `max_depth` levels; nothing
  // when the window is gone, has no menu bar, or its menu cannot be read (the
  // system may refuse another process's menu).
  virtual std::optional<std::vector<MenuItem>> MenuBar(WindowId window, int max_depth) = 0;
  // Posts the menu command (WM_COMMAND with the id's low 16 bits); false when
  // the window is gone.
  virtual bool PostCommand(WindowId window, std::uint32_t command) = 0;
  // Posts a window command (WM_SYSCOMMAND); false when the window is gone.
  virtual bool PostSystemCommand(WindowId window, SystemCommand command) = 0;
  // Shows a popup menu of `lines` at the mouse position on the calling
  // thread, owned by a hidden window of the class "BrenvoMenuHandler", and
  // returns the chosen line's command (0: dismissed). `close` is asked about
  // ten times a second while the menu is open; true closes it as dismissed.
  // -1 with `error` set when the menu cannot be shown.
  virtual int ShowPopup(const std::vector<PopupLine>& lines, const std::function<bool()>& close,
                        std::string& error) = 0;
};

// The menus service in force: the platform's own, or the one a test installed.
Menus& menus();
// Tests: install a fake (nullptr puts the platform's own back).
void SetMenusForTest(Menus* fake);

}  // namespace platform
