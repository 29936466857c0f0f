#include "tests/support/fake_menus.h"

namespace olvex::test {

std::optional<std::vector<platform::MenuItem>> FakeMenus::MenuBar(platform::WindowId window, int) {
  const auto bar = bars.find(window);
  if (bar == bars.end() || !platform::windows().Exists(window)) return std::nullopt;
  return bar->second;
}

bool FakeMenus::PostCommand(platform::WindowId window, std::uint32_t command) {
  if (!platform::windows().Exists(window)) return false;
  calls.push_back("Command " + std::to_string(window) + " " + std::to_string(command));
  return true;
}

bool FakeMenus::PostSystemCommand(platform::WindowId window, platform::SystemCommand command) {
  if (!platform::windows().Exists(window)) return false;
  calls.push_back("SysCommand " + std::to_string(window) + " " + std::to_string(static_cast<int>(command)));
  return true;
}

int FakeMenus::ShowPopup(const std::vector<platform::PopupLine>& lines, const std::function<bool()>&,
                         std::string&) {
  std::string shown = "Popup ";
  for (const platform::PopupLine& line : lines)
    shown += (line.separator ? std::string("-") : line.text + "=" + std::to_string(line.command)) + "|";
  shown.pop_back();
  calls.push_back(shown);
  return popup_answer;
}

}  // namespace olvex::test
