// No menus to read or show. On an X11 desktop (DISPLAY) programs have no
// readable menu bars either, so Select Menu Item takes the keyboard route;
// the window commands of the system menu act through the windows service.
#include "platform/menus.h"

#include "platform/posix/x11_display.h"
#include "platform/windows.h"

namespace platform {
namespace {

class NoMenus : public Menus {
 public:
  std::optional<std::vector<MenuItem>> MenuBar(WindowId, int) override { return std::nullopt; }
  bool PostCommand(WindowId, std::uint32_t) override { return false; }
  bool PostSystemCommand(WindowId window, SystemCommand command) override {
    if (!x11::Connection()) return false;
    Windows& ws = windows();
    switch (command) {
      case SystemCommand::kMaximize: return ws.Place(window, Windows::Placement::Maximize);
      case SystemCommand::kMinimize: return ws.Place(window, Windows::Placement::Minimize);
      case SystemCommand::kRestore: return ws.Place(window, Windows::Placement::Restore);
      case SystemCommand::kClose: return ws.PostClose(window);
      case SystemCommand::kMove:
      case SystemCommand::kSize: return false;  // the window manager's interactive modes
    }
    return false;
  }
  int ShowPopup(const std::vector<PopupLine>&, const std::function<bool()>&, std::string& error) override {
    error = "No desktop is available on this system";
    return -1;
  }
};

}  // namespace

Menus& PlatformMenus() {
  static NoMenus instance;
  return instance;
}

}  // namespace platform
