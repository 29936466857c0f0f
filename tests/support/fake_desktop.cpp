#include "tests/support/fake_desktop.h"

#include <algorithm>
#include <cstdio>

namespace olvex::test {

using platform::WindowId;

FakeDesktop::FakeDesktop() { platform::SetWindowsForTest(this); }
FakeDesktop::~FakeDesktop() { platform::SetWindowsForTest(nullptr); }

WindowId FakeDesktop::Add(FakeWindow window) {
  if (window.id == 0) {
    window.id = 100;
    for (const FakeWindow& w : windows) window.id = std::max(window.id, w.id + 1);
  }
  windows.push_back(window);
  return window.id;
}

FakeWindow* FakeDesktop::Find(WindowId id) {
  for (FakeWindow& w : windows)
    if (w.id == id && id != 0) return &w;
  return nullptr;
}

WindowId FakeDesktop::FindTopLevel(const std::string& title, const std::string& class_name) {
  calls.push_back("FindTopLevel " + title + "|" + class_name);
  for (const FakeWindow& w : windows)
    if (w.parent == 0 && (title.empty() || w.title == title) && (class_name.empty() || w.class_name == class_name))
      return w.id;
  return 0;
}

WindowId FakeDesktop::NextInZOrder(WindowId window) {
  if (window == 0) {
    for (const FakeWindow& w : windows)
      if (w.parent == 0) return w.id;
    return 0;
  }
  const FakeWindow* self = Find(window);
  if (!self) return 0;
  auto at = std::find_if(windows.begin(), windows.end(), [&](const FakeWindow& w) { return w.id == window; });
  for (++at; at != windows.end(); ++at)
    if (at->parent == self->parent) return at->id;
  return 0;
}

bool FakeDesktop::IsVisible(WindowId window) {
  const FakeWindow* w = Find(window);
  return w && (w->style & platform::style::kVisible);
}

std::string FakeDesktop::Title(WindowId window, std::size_t max_chars, int) {
  if (on_title) on_title(window);
  const FakeWindow* w = Find(window);
  return w && !w->hung ? w->title.substr(0, max_chars) : std::string();
}

bool FakeDesktop::Activate(WindowId window) {
  calls.push_back("Activate " + std::to_string(window));
  return Exists(window);
}

bool FakeDesktop::Destroy(WindowId window) {
  if (const FakeWindow* w = Find(window); w && w->refuses_close) return false;
  std::vector<WindowId> gone{window};
  for (std::size_t i = 0; i < gone.size(); ++i)
    for (const FakeWindow& w : windows)
      if (w.parent == gone[i]) gone.push_back(w.id);
  const auto before = windows.size();
  std::erase_if(windows, [&](const FakeWindow& w) { return std::find(gone.begin(), gone.end(), w.id) != gone.end(); });
  return windows.size() != before;
}

std::string FakeDesktop::ClassName(WindowId window) { return Field(window, &FakeWindow::class_name); }
std::uint64_t FakeDesktop::ControlId(WindowId window) { return Field(window, &FakeWindow::control_id); }
std::uint64_t FakeDesktop::UserData(WindowId window) { return Field(window, &FakeWindow::user_data); }
std::optional<platform::WindowRect> FakeDesktop::Rect(WindowId window) {
  return Find(window) ? std::optional(Find(window)->rect) : std::nullopt;
}
WindowId FakeDesktop::FirstChild(WindowId window) {
  for (const FakeWindow& w : windows)
    if (w.parent == window && window != 0) return w.id;
  return 0;
}
WindowId FakeDesktop::Parent(WindowId window) { return Field(window, &FakeWindow::parent); }
bool FakeDesktop::HasFrame(WindowId window) {
  return (Style(window) & (platform::style::kDialogFrame | platform::style::kThickFrame)) != 0;
}
std::uint32_t FakeDesktop::Style(WindowId window) { return Field(window, &FakeWindow::style); }
bool FakeDesktop::IsMinimized(WindowId window) { return (Style(window) & platform::style::kMinimize) != 0; }

WindowId FakeDesktop::AtPoint(long x, long y) {
  // The last window in the list whose rectangle holds the point: children follow their parents.
  WindowId found = 0;
  for (const FakeWindow& w : windows)
    if ((w.style & platform::style::kVisible) && x >= w.rect.x && y >= w.rect.y && x < w.rect.x + w.rect.width &&
        y < w.rect.y + w.rect.height)
      found = w.id;
  return found;
}

WindowId FakeDesktop::NextTabItem(WindowId window) { return NextInZOrder(window); }

void FakeDesktop::Do(WindowId window, Call call) {
  static constexpr const char* kNames[] = {"BringToTop", "SetFocus", "SetForeground", "SetActive", "Restore",
                                           "Show", "HotkeyCommand", "SelectAllText", "AttachedForeground"};
  calls.push_back(std::string(kNames[static_cast<int>(call)]) + " " + std::to_string(window));
  if ((call == Call::SetForeground || call == Call::AttachedForeground) && !foreground_refused) foreground = window;
  if (call == Call::Restore)
    if (FakeWindow* w = Find(window)) w->style &= ~platform::style::kMinimize;
}

bool FakeDesktop::SetText(WindowId window, const std::string& text) {
  FakeWindow* w = Answering(window);
  if (!w) return false;
  calls.push_back("SetText " + std::to_string(window) + " " + text);
  w->title = text;
  return true;
}

bool FakeDesktop::AddListItem(WindowId window, const std::string& text, bool combo) {
  FakeWindow* w = Answering(window);
  if (!w) return false;
  calls.push_back(std::string(combo ? "AddComboItem " : "AddListItem ") + std::to_string(window) + " " + text);
  items[window].push_back(text);
  return true;
}

namespace {
std::string Hex(std::uint32_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", n);
  return text;
}
}  // namespace

bool FakeDesktop::PostClose(WindowId window) {
  calls.push_back("PostClose " + std::to_string(window));
  const FakeWindow* w = Find(window);
  if (!w) return false;
  if (!w->refuses_close && !w->hung) Destroy(window);
  return true;
}

std::optional<std::string> FakeDesktop::ReadText(WindowId window, std::size_t max_chars, int) {
  const FakeWindow* w = Answering(window);
  if (!w) return std::nullopt;
  return max_chars == 0 ? w->title : w->title.substr(0, max_chars);
}

std::string FakeDesktop::CaptionText(WindowId window) { return Field(window, &FakeWindow::title); }

std::optional<platform::Windows::ListRead> FakeDesktop::ListItems(WindowId window, bool, std::size_t max_item_chars,
                                                                  std::size_t max_total_chars, int, int) {
  const FakeWindow* w = Answering(window);
  if (!w) return std::nullopt;
  ListRead read;
  std::size_t total = 0;
  for (const std::string& item : items[window]) {
    if (total >= max_total_chars) {
      read.complete = false;
      break;
    }
    read.items.push_back(item.size() > max_item_chars ? std::string() : item);
    total += read.items.back().size() + 2;
  }
  return read;
}

std::optional<std::string> FakeDesktop::ListSelectedText(WindowId window, int) {
  const FakeWindow* w = Answering(window);
  if (!w) return std::nullopt;
  const std::vector<std::string>& list = items[window];
  if (w->selected.empty() || static_cast<std::size_t>(w->selected[0]) >= list.size()) return std::string();
  return list[static_cast<std::size_t>(w->selected[0])];
}

std::optional<std::string> FakeDesktop::EditSelectedText(WindowId window, std::size_t max_chars, int) {
  const FakeWindow* w = Answering(window);
  if (!w) return std::nullopt;
  const auto [from, to] = w->selection;
  return w->title.substr(std::min(from, w->title.size()), std::min(to - from, max_chars));
}

std::optional<platform::Windows::ListViewRead> FakeDesktop::ListViewSelection(WindowId window, int) {
  const FakeWindow* w = Answering(window);
  if (!w) return std::nullopt;
  ListViewRead read;
  const std::vector<std::string>& list = items[window];
  read.total = static_cast<long>(list.size());
  for (int i : w->selected)
    read.selected.push_back(static_cast<std::size_t>(i) < list.size() ? std::optional<std::string>(list[static_cast<std::size_t>(i)])
                                                                       : std::nullopt);
  return read;
}

std::optional<int> FakeDesktop::CheckState(WindowId window, int) {
  const FakeWindow* w = Answering(window);
  if (!w) return std::nullopt;
  return w->check;
}

std::uint32_t FakeDesktop::ProcessId(WindowId window) { return Field(window, &FakeWindow::pid); }

std::string FakeDesktop::ProcessPath(WindowId window) {
  const auto it = process_paths.find(ProcessId(window));
  return it == process_paths.end() ? std::string() : it->second;
}

bool FakeDesktop::Place(WindowId window, Placement how) {
  static constexpr const char* kNames[] = {"Maximize", "Minimize", "Restore", "Show", "Hide"};
  calls.push_back("Place " + std::to_string(window) + " " + kNames[static_cast<int>(how)]);
  FakeWindow* w = Find(window);
  if (!w) return false;
  using namespace platform::style;
  switch (how) {
    case Placement::Maximize: w->style = (w->style & ~kMinimize) | kMaximize | kVisible; break;
    case Placement::Minimize: w->style = (w->style & ~kMaximize) | kMinimize; break;
    case Placement::Restore: w->style &= ~(kMinimize | kMaximize); break;
    case Placement::Show: w->style |= kVisible; break;
    case Placement::Hide: w->style &= ~kVisible; break;
  }
  return true;
}

bool FakeDesktop::MoveTo(WindowId window, long x, long y) {
  calls.push_back("MoveTo " + std::to_string(window) + " " + std::to_string(x) + "," + std::to_string(y));
  FakeWindow* w = Find(window);
  if (w) w->rect.x = x, w->rect.y = y;
  return w != nullptr;
}

bool FakeDesktop::ResizeTo(WindowId window, long width, long height) {
  calls.push_back("ResizeTo " + std::to_string(window) + " " + std::to_string(width) + "," + std::to_string(height));
  FakeWindow* w = Find(window);
  if (w) w->rect.width = width, w->rect.height = height;
  return w != nullptr;
}

bool FakeDesktop::SetTopmost(WindowId window, bool topmost) {
  calls.push_back("SetTopmost " + std::to_string(window) + " " + (topmost ? "1" : "0"));
  return Exists(window);
}

bool FakeDesktop::Enable(WindowId window, bool enabled) {
  FakeWindow* w = Find(window);
  if (!w) return false;
  w->style = enabled ? w->style & ~platform::style::kDisabled : w->style | platform::style::kDisabled;
  calls.push_back("SetStyle " + std::to_string(window) + " " + Hex(w->style));
  return true;
}

bool FakeDesktop::SetStyle(WindowId window, std::uint32_t bits) {
  calls.push_back("SetStyle " + std::to_string(window) + " " + Hex(bits));
  FakeWindow* w = Find(window);
  if (w) w->style = bits;
  return w != nullptr;
}

void FakeDesktop::Repaint(WindowId window) { calls.push_back("Repaint " + std::to_string(window)); }
void FakeDesktop::Update(WindowId window) { calls.push_back("Update " + std::to_string(window)); }

bool FakeDesktop::SetCheck(WindowId window, bool checked) {
  calls.push_back("SetCheck " + std::to_string(window) + " " + (checked ? "1" : "0"));
  FakeWindow* w = Answering(window);
  if (!w) return false;
  w->check = checked ? 1 : 0;
  return true;
}

void FakeDesktop::PostSetFocus(WindowId window) { calls.push_back("PostSetFocus " + std::to_string(window)); }

bool FakeDesktop::SendClose(WindowId window, int timeout_ms) {
  calls.push_back("SendClose " + std::to_string(window) + " " + std::to_string(timeout_ms));
  const FakeWindow* w = Find(window);
  if (!w || w->hung) return false;
  if (!w->refuses_close) Destroy(window);
  return true;
}

bool FakeDesktop::EndProcessOf(WindowId window) {
  const std::uint32_t pid = ProcessId(window);
  calls.push_back("EndProcess " + std::to_string(pid));
  if (pid == 0) return false;
  std::erase_if(windows, [&](const FakeWindow& w) { return w.pid == pid; });
  return true;
}

FakeKeyboard::FakeKeyboard() { platform::SetInputForTest(this); }
FakeKeyboard::~FakeKeyboard() { platform::SetInputForTest(nullptr); }

namespace {
std::string KeyToken(int code) {
  if ((code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9')) return std::string(1, static_cast<char>(code));
  if (code >= 0x60 && code <= 0x69) return "Num" + std::to_string(code - 0x60);
  switch (code) {
    case 0x10: return "Shift";
    case 0x11: return "Ctrl";
    case 0x12: return "Alt";
    case 0x0D: return "Enter";
    case 0x09: return "Tab";
    case 0x20: return "Space";
    default: {
      char hex[8];
      std::snprintf(hex, sizeof hex, "#%02X", code);
      return hex;
    }
  }
}
}  // namespace

void FakeKeyboard::SendKey(const KeyEvent& e) {
  std::string token = e.unicode ? "u:'" + std::string(1, static_cast<char>(e.code)) + "'" : KeyToken(e.code);
  if (e.send_input && !e.unicode) token = "i:" + token;
  if (e.extended) token += "*";
  token += e.up ? "-" : "+";
  events.push_back(token);
}

int FakeKeyboard::KeyOfChar(unsigned char c) {
  if (const auto it = layout.find(c); it != layout.end()) return it->second;
  if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
  if (c >= 'A' && c <= 'Z') return 0x100 | c;
  if (c >= '0' && c <= '9') return c;
  switch (c) {
    case ' ': return 0x20;
    case '\t': return 0x09;
  }
  static constexpr std::string_view kPlain = "`-=[]\\;',./";
  static constexpr std::string_view kShifted = "~_+{}|:\"<>?";
  static constexpr int kKeys[] = {0xC0, 0xBD, 0xBB, 0xDB, 0xDD, 0xDC, 0xBA, 0xDE, 0xBC, 0xBE, 0xBF};
  if (const auto at = kPlain.find(static_cast<char>(c)); at != std::string_view::npos) return kKeys[at];
  if (const auto at = kShifted.find(static_cast<char>(c)); at != std::string_view::npos) return 0x100 | kKeys[at];
  static constexpr std::string_view kDigitsShifted = "!@#$%^&*";
  if (const auto at = kDigitsShifted.find(static_cast<char>(c)); at != std::string_view::npos)
    return 0x100 | static_cast<int>('1' + at);
  return -1;
}

int FakeKeyboard::CharOfKey(int virtual_key) {
  if ((virtual_key >= 'A' && virtual_key <= 'Z') || (virtual_key >= '0' && virtual_key <= '9')) return virtual_key;
  for (int c = 32; c < 127; ++c)
    if (KeyOfChar(static_cast<unsigned char>(c)) == virtual_key) return c;
  return 0;
}

bool FakeKeyboard::BlockUserInput(bool block) {
  events.push_back(block ? "Block" : "Unblock");
  return !user32_missing;
}

void FakeKeyboard::MoveMouse(platform::Point to) {
  cursor = to;
  events.push_back("m" + std::to_string(to.x) + "," + std::to_string(to.y));
}

void FakeKeyboard::SetCursorPosition(platform::Point to) {
  cursor = to;
  events.push_back("@" + std::to_string(to.x) + "," + std::to_string(to.y));
}

void FakeKeyboard::MouseButton(int button, bool up) {
  const char* name = button == platform::key::kLeftButton ? "L" : button == platform::key::kRightButton ? "R" : "M";
  events.push_back(std::string(name) + (up ? "-" : "+"));
}

void FakeKeyboard::MouseWheel(int delta) { events.push_back(delta > 0 ? "W+" + std::to_string(delta) : "W" + std::to_string(delta)); }

std::string FakeKeyboard::Events() const {
  std::string joined;
  for (const std::string& e : events) joined += (joined.empty() ? "" : " ") + e;
  return joined;
}

}  // namespace olvex::test
