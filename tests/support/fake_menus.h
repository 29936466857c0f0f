#pragma once
// A recording fake of the menus service: menu bars by window, every command
// posted ("Command 100 101", "SysCommand 100 2"), every popup shown ("Popup
// One|-|Two") and the popup's answer. Installs itself on construction and
// removes itself when destroyed.
#include <map>
#include <string>
#include <vector>

#include "platform/menus.h"

namespace olvex::test {

inline platform::MenuItem MenuCommand(std::string text, std::uint32_t command, bool disabled = false) {
  platform::MenuItem item;
  item.text = std::move(text);
  item.command = command;
  item.disabled = disabled;
  return item;
}
inline platform::MenuItem MenuSeparator() {
  platform::MenuItem item;
  item.separator = true;
  return item;
}
inline platform::MenuItem Submenu(std::string text, std::vector<platform::MenuItem> items) {
  platform::MenuItem item;
  item.text = std::move(text);
  item.submenu = true;
  item.items = std::move(items);
  return item;
}

class FakeMenus : public platform::Menus {
 public:
  FakeMenus() { platform::SetMenusForTest(this); }
  ~FakeMenus() override { platform::SetMenusForTest(nullptr); }
  std::optional<std::vector<platform::MenuItem>> MenuBar(platform::WindowId window, int max_depth) override;
  bool PostCommand(platform::WindowId window, std::uint32_t command) override;
  bool PostSystemCommand(platform::WindowId window, platform::SystemCommand command) override;
  // Returns `popup_answer`.
  int ShowPopup(const std::vector<platform::PopupLine>& lines, const std::function<bool()>& close,
                std::string& error) override;

  std::map<platform::WindowId, std::vector<platform::MenuItem>> bars;  // a window without one has no menu bar
  std::vector<std::string> calls;
  int popup_answer = 0;
};

}  // namespace olvex::test
