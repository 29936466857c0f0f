// No desktop: there are no menus to read or show.
#include "platform/menus.h"

namespace platform {
namespace {

class NoMenus : public Menus {
 public:
  std::optional<std::vector<MenuItem>> MenuBar(WindowId, int) override { return std::nullopt; }
  bool PostCommand(WindowId, std::uint32_t) override { return false; }
  bool PostSystemCommand(WindowId, SystemCommand) override { return false; }
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
