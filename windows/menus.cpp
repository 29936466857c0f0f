#include "windows/menus.h"

#include <chrono>
#include <optional>
#include <thread>

#include "engine/document.h"
#include "engine/dispatch.h"
#include "engine/main_loop.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "input/keyboard.h"
#include "platform/input.h"
#include "vars/expand.h"
#include "windows/window_match.h"

namespace olvex {
namespace {

using platform::MenuItem;
using platform::WindowId;

constexpr int kMostMenuLevels = 16;
constexpr int kFirstPopupCommand = 2024;

// The text an item is compared by: cut at its first tab and its first "...".
std::string_view ComparedText(std::string_view text) {
  text = text.substr(0, text.find('\t'));
  return text.substr(0, text.find("..."));
}

std::string WithoutAmpersands(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '&') out += c;
  return out;
}

struct Wanted {
  std::uint32_t command;
  std::string_view text;
  std::string plain;  // without "&"
};

// True when `text`, its "&" left out, begins with `plain` (which has none).
bool BeginsWithoutAmpersands(std::string_view text, std::string_view plain) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < text.size() && at < plain.size(); ++i) {
    if (text[i] == '&') continue;
    if (AsciiLower(text[i]) != AsciiLower(plain[at])) return false;
    ++at;
  }
  return at == plain.size();
}

bool Matches(const MenuItem& item, std::string_view text, const std::string& path, const Wanted& wanted) {
  if (wanted.command != 0 && item.command == wanted.command) return true;
  if (wanted.text.empty()) return false;
  if (StartsWithNoCase(text, wanted.text) || StartsWithNoCase(path, wanted.text)) return true;
  return BeginsWithoutAmpersands(text, wanted.plain) || BeginsWithoutAmpersands(path, wanted.plain);
}

bool Walk(const std::vector<MenuItem>& items, const std::string& parent_path, int level, const Wanted& wanted,
          MenuItemFound& found) {
  for (const MenuItem& item : items) {
    if (item.separator) continue;
    const std::string_view text = ComparedText(item.text);
    const std::string path = parent_path.empty() ? std::string(text) : parent_path + ";" + std::string(text);
    if (Matches(item, text, path, wanted)) {
      found = MenuItemFound{true, item.command, std::string(text), item.submenu, item.disabled};
      return true;
    }
    if (item.submenu && level < kMostMenuLevels && Walk(item.items, path, level + 1, wanted, found)) return true;
  }
  return false;
}

// The key that chooses a menu item by its mnemonic: a letter as its upper
// case (menus take mnemonics without regard to case), anything else by the
// layout, with Shift when the layout needs it. Nothing when there is no key.
struct MnemonicKey {
  int code = 0;
  bool shift = false;
};
std::optional<MnemonicKey> KeyOfMnemonic(char c) {
  if (c >= 'a' && c <= 'z') return MnemonicKey{c - 'a' + 'A', false};
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return MnemonicKey{c, false};
  const int key = platform::input().KeyOfChar(static_cast<unsigned char>(c));
  if (key == -1 || (key & 0xFF) == 0xFF || ((key >> 8) & 6) != 0) return std::nullopt;
  return MnemonicKey{key & 0xFF, ((key >> 8) & 1) != 0};
}

// The mnemonic of one item of a path: the character after its first "&",
// else its first character.
char MnemonicOf(std::string_view item) {
  const std::size_t amp = item.find('&');
  if (amp != std::string_view::npos && amp + 1 < item.size()) return item[amp + 1];
  return item.empty() ? '\0' : item[0];
}

void Key(int code, bool up) { SendKeyEvent({code, up, IsExtendedKey(code), false, false}); }

void PressKey(const MnemonicKey& key) {
  if (key.shift) Key(platform::key::kShift, false);
  Key(key.code, false);
  Key(key.code, true);
  if (key.shift) Key(platform::key::kShift, true);
}

int Fail(const std::string& text) {
  SetStepError(text);
  return 0;
}

// The window the menu steps act on: the current window; when there is none,
// after a moment the foreground window becomes the current window.
WindowId MenuWindow() {
  if (CurrentWindow() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    SetCurrentWindow(platform::windows().Foreground());
  }
  return CurrentWindow();
}

bool WindowGone(WindowId window) {
  if (window != 0 && platform::windows().Exists(window)) return false;
  SetStepError(window == 0 ? "There is no window to act on" : "The window no longer exists");
  return true;
}

int SelectMenuItemStep(const std::string& text) {
  const std::string path = NormalizeMenuPath(text);
  if (path.empty()) return Fail("No menu item was named");
  const WindowId window = MenuWindow();
  if (WindowGone(window)) return 0;
  const MenuItemFound item = FindMenuItem(window, 0, path);
  if (item.found && item.submenu) return Fail("The menu item '" + item.text + "' opens a submenu, not a command");
  if (item.found && item.disabled) return Fail("The menu item '" + item.text + "' is disabled");
  if (item.found) {
    if (!platform::menus().PostCommand(window, item.command)) return Fail("The window no longer exists");
    if (LogLevel() >= 2) LogLine("    Menu item \"%s\": command %u", item.text.c_str(), item.command);
    return 1;
  }
  LogLine("    Unable to find menu \"%s\", trying keyboard method...", text.c_str());
  if (TypeMenuKeys(window, text)) return 1;
  return Fail("Unable to find menu '" + text + "'");
}

int SelectSystemMenuStep(const std::string& text) {
  const WindowId window = MenuWindow();
  if (WindowGone(window)) return 0;
  if (SendSystemMenuCommand(window, text)) return 1;
  if (WindowGone(window)) return 0;
  return Fail("Unable to find system menu '" + text + "'");
}

// The popup waits for a person: the step's time-out (when it has one) and a
// stop request close it unchosen.
int PopupMenuStep(const Step& step, int slot, int step_index, const std::string& text) {
  const std::vector<platform::PopupLine> lines = PopupMenuLines(text);
  bool any_item = false;
  for (const platform::PopupLine& line : lines) any_item = any_item || !line.separator;
  if (!any_item) return Fail("The popup menu has no lines to choose from");
  const long long timeout_ms = TimeoutFieldMs(step.timeout(), slot, step_index);
  const auto start = std::chrono::steady_clock::now();
  const std::function<bool()> close = [&] {
    return StopRequestedOrKeyPressed() ||
           (timeout_ms > 0 && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(timeout_ms));
  };
  std::string error;
  const int chosen = RunOnMainThread([&] { return ShowPopupMenu(lines, close, error); });
  if (chosen < 0) return Fail(error);
  if (StopRequested()) {
    SetStepError("The popup menu was closed by a stop request");
    return -1;
  }
  // Nothing chosen (Escape, a click elsewhere, the time-out): the output is
  // emptied, so that a script never reads an earlier choice as this one.
  const std::string result = chosen > 0 ? lines[static_cast<std::size_t>(chosen - 1)].text : std::string();
  if (chosen == 0) LogLine("    No line of the popup menu was chosen");
  SaveOutput(slot, step_index, result);
  return 1;
}

}  // namespace

std::string NormalizeMenuPath(std::string_view path) {
  path = path.substr(0, path.find('\t'));
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] != ',' && path[i] != ';') {
      out += path[i];
      continue;
    }
    // Blanks on either side of a separator are dropped.
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += ';';
    while (i + 1 < path.size() && path[i + 1] == ' ') ++i;
  }
  return out;
}

MenuItemFound FindMenuItem(const std::vector<MenuItem>& menu, std::uint32_t wanted_command, std::string_view wanted) {
  const Wanted w{wanted_command, wanted, WithoutAmpersands(wanted)};
  MenuItemFound found;
  Walk(menu, {}, 1, w, found);
  return found;
}

MenuItemFound FindMenuItem(WindowId window, std::uint32_t wanted_command, std::string_view wanted) {
  const std::optional<std::vector<MenuItem>> bar = platform::menus().MenuBar(window, kMostMenuLevels);
  if (!bar) return {};
  return FindMenuItem(*bar, wanted_command, wanted);
}

bool TypeMenuKeys(WindowId window, std::string_view path) {
  if (window == 0 || !platform::windows().Exists(window)) return false;
  std::string items(path);
  ReplaceAll(items, ",", ";", false);
  std::vector<MnemonicKey> keys;
  for (std::size_t from = 0; from <= items.size();) {
    std::size_t end = items.find(';', from);
    if (end == std::string::npos) end = items.size();
    std::string_view item = std::string_view(items).substr(from, end - from);
    item.remove_prefix(std::min(item.find_first_not_of(" \t"), item.size()));
    from = end + 1;
    if (item.empty()) continue;
    const std::optional<MnemonicKey> key = KeyOfMnemonic(MnemonicOf(item));
    if (!key) return false;
    keys.push_back(*key);
  }
  if (keys.empty()) return false;
  ActivateWindow(window, false);
  const KeyBatch batch;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i == 0) Key(platform::key::kAlt, false);
    PressKey(keys[i]);
    if (i == 0) Key(platform::key::kAlt, true);
  }
  return true;
}

bool SendSystemMenuCommand(WindowId window, std::string_view text) {
  using platform::SystemCommand;
  const std::string plain = WithoutAmpersands(text);
  static constexpr std::pair<std::string_view, SystemCommand> kWords[] = {
      {"max", SystemCommand::kMaximize}, {"min", SystemCommand::kMinimize}, {"restore", SystemCommand::kRestore},
      {"move", SystemCommand::kMove},    {"close", SystemCommand::kClose},  {"size", SystemCommand::kSize},
  };
  for (const auto& [word, command] : kWords)
    if (ContainsNoCase(plain, word)) return platform::menus().PostSystemCommand(window, command);
  const std::size_t amp = text.find('&');
  if (amp == std::string_view::npos || amp + 1 >= text.size()) return false;
  const std::optional<MnemonicKey> key = KeyOfMnemonic(text[amp + 1]);
  if (!key || !platform::windows().Exists(window)) return false;
  ActivateWindow(window, false);
  const KeyBatch batch;
  Key(platform::key::kAlt, false);
  PressKey({' ', false});
  Key(platform::key::kAlt, true);
  PressKey(*key);
  return true;
}

std::vector<platform::PopupLine> PopupMenuLines(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  std::vector<platform::PopupLine> lines;
  if (text.empty()) return lines;
  for (std::size_t from = 0; from <= text.size();) {
    std::size_t end = text.find('\n', from);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(from, end - from);
    from = end + 1;
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
    platform::PopupLine entry;
    entry.command = kFirstPopupCommand + static_cast<int>(lines.size());
    entry.separator = line.empty() || line[0] == '-' || line[0] == '_';
    if (!entry.separator) entry.text = std::string(line);
    lines.push_back(std::move(entry));
  }
  return lines;
}

int ShowPopupMenu(const std::vector<platform::PopupLine>& lines, const std::function<bool()>& close,
                  std::string& error) {
  const int command = platform::menus().ShowPopup(lines, close, error);
  if (command < 0) return -1;
  const int index = command - kFirstPopupCommand;
  if (command == 0 || index < 0 || index >= static_cast<int>(lines.size()) ||
      lines[static_cast<std::size_t>(index)].separator)
    return 0;
  return index + 1;
}

int HandleMenuStep(int slot, int step_index) {
  if (FailWithoutDesktop()) return 0;
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const std::string text = ExpandText(step.text, slot, step_index, 0);
  if (ContainsNoCase(step.action, "Show Popup Menu")) return PopupMenuStep(step, slot, step_index, text);
  SettleTypedKeys();
  if (ContainsNoCase(step.action, "Select System")) return SelectSystemMenuStep(text);
  if (ContainsNoCase(step.action, "Select Menu")) return SelectMenuItemStep(text);
  return StepNotAvailable(slot, step_index);
}

}  // namespace olvex
