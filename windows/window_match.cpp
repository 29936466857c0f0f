#include "windows/window_match.h"

#include <atomic>
#include <cstdio>
#include <vector>

#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "engine/text.h"
#include "input/keyboard.h"
#include "platform/system.h"
#include "screen/screen_actions.h"
#include "vars/expand.h"

namespace olvex {
namespace {

using platform::WindowId;

constexpr int kTextTimeoutMs = 100;  // a window that does not answer within this is taken as untitled
constexpr int kMostWindows = 200000;  // a walk ends here whatever the desktop does
constexpr int kMostZSteps = 10000;
constexpr int kMostParentLevels = 64;  // a walk up the parents ends here

std::atomic<int> g_top_matches{0}, g_child_matches{0};
std::atomic<bool> g_activated{false};

std::string Expanded(std::string_view text, int slot, int step_index) { return ExpandText(text, slot, step_index, 0); }

// The decimal number at the start of the text (after blanks); 0 when none.
std::uint64_t LeadingUnsigned(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + static_cast<unsigned>(text[i] - '0');
  return value;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void RemoveFirstAmpersand(std::string& text) {
  if (const std::size_t amp = text.find('&'); amp != std::string::npos) text.erase(amp, 1);
}

std::string SignedText(std::uint64_t number) { return std::to_string(static_cast<std::int32_t>(number)); }

bool IsVisibleFrame(platform::Windows& ws, WindowId w) { return ws.IsVisible(w) && ws.HasFrame(w); }
bool IsVisibleTopFrame(platform::Windows& ws, WindowId w) { return IsVisibleFrame(ws, w) && ws.Parent(w) == 0; }

struct Wanted {
  int flags = 0;
  std::string title, class_name, id, user, handle;
};

Wanted SplitSearch(int flags, std::string_view search) {
  Wanted wanted;
  wanted.flags = flags;
  std::vector<std::string_view> items;
  for (std::size_t from = 0;;) {
    const std::size_t bar = search.find('|', from);
    items.push_back(search.substr(from, bar == std::string_view::npos ? std::string_view::npos : bar - from));
    if (bar == std::string_view::npos) break;
    from = bar + 1;
  }
  std::size_t next = 0;
  auto take = [&](std::size_t limit) {
    std::string item = next < items.size() ? std::string(items[next].substr(0, limit)) : std::string();
    ++next;
    return item;
  };
  if (flags & (match::kTitle | match::kExact)) {
    wanted.title = take(259);
    RemoveFirstAmpersand(wanted.title);
  }
  if (flags & match::kClass) wanted.class_name = take(63);
  if (flags & match::kId) wanted.id = take(31);
  if (flags & match::kUser) wanted.user = take(31);
  if (flags & match::kHandle) {
    wanted.handle = take(31);
    const std::string_view h = wanted.handle;
    if (h.starts_with('#') || h.starts_with('x') || h.starts_with('X') || StartsWithNoCase(h, "0x"))
      wanted.handle = std::to_string(ReadHexHandle(h));
  }
  return wanted;
}

bool ClassMatches(const std::string& actual, const std::string& wanted) {
  if (!wanted.empty() && wanted.back() == '*')
    return StartsWithNoCase(actual, std::string_view(wanted).substr(0, wanted.size() - 1));
  return EqualsNoCase(actual, wanted);
}

// Whether a window meets the wanted values. The window's kind is known from
// the list it came from, so the title is read without asking for the style,
// and each fact is asked only when the tests before it held: a search by
// title asks a top-level window that does not match one question.
bool Matches(platform::Windows& ws, WindowId w, const Wanted& wanted, bool top_level) {
  const int f = wanted.flags;
  if ((f & match::kClass) && !ClassMatches(ws.ClassName(w).substr(0, 63), wanted.class_name)) return false;
  if ((f & match::kId) && !EqualsNoCase(SignedText(ws.ControlId(w)), wanted.id)) return false;
  if ((f & match::kUser) && !EqualsNoCase(SignedText(ws.UserData(w)), wanted.user)) return false;
  if ((f & match::kHandle) && LeadingUnsigned(wanted.handle) != w) return false;
  if (f & (match::kTitle | match::kExact)) {
    std::string text = ws.TitleOf(w, top_level, 255, kTextTimeoutMs);
    RemoveFirstAmpersand(text);
    if (text.empty()) return false;
    if ((f & match::kExact) ? text != wanted.title : !ContainsNoCase(text, wanted.title)) return false;
  }
  if ((f & match::kVisibleFramesOnly) && !IsVisibleFrame(ws, w)) return false;
  if ((f & match::kVisibleTopFramesOnly) && !IsVisibleTopFrame(ws, w)) return false;
  return true;
}

// True when `w` lies within five parent levels below `ancestor`.
bool Below(platform::Windows& ws, WindowId w, WindowId ancestor) {
  if (ancestor == 0) return false;
  WindowId p = w;
  for (int level = 0; level < 5; ++level) {
    p = ws.Parent(p);
    if (p == 0) return false;
    if (p == ancestor) return true;
  }
  return false;
}

platform::WindowId TopWindow(platform::Windows& ws) {
  int seen = 0;
  for (WindowId w = ws.Foreground(); w != 0 && ++seen < kMostWindows; w = ws.NextInZOrder(w))
    if (IsVisibleFrame(ws, w) && (ws.Style(w) & platform::style::kVisible) &&
        !EqualsNoCase(ws.ClassName(w), "OlvexTopmostMessage"))
      return w;
  return 0;
}

void Trace(const char* mark) {
  if (LogLevel() >= 2) LogLine("    TRACE [%s]: %lu", mark, static_cast<unsigned long>(platform::TickCount()));
}

bool Fail(const std::string& text) {
  SetStepError(text);
  return false;
}

void FailNotFound(std::string_view text) { Fail("Unable to find window '" + std::string(text) + "'"); }

}  // namespace

platform::WindowId TopVisibleWindow() { return TopWindow(platform::windows()); }

std::uint64_t ReadHexHandle(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && !(HexDigit(text[i]) > 0)) ++i;
  std::uint64_t value = 0;
  for (int d; i < text.size() && (d = HexDigit(text[i])) >= 0; ++i) value = (value << 4) | static_cast<unsigned>(d);
  return value;
}

int WindowMatchFlagsFromOptions(std::string_view options) {
  int flags = 0;
  if (ContainsNoCase(options, "Exact")) flags |= match::kExact;
  else if (ContainsNoCase(options, "Title")) flags |= match::kTitle;
  if (ContainsNoCase(options, "Class")) flags |= match::kClass;
  if (ContainsNoCase(options, "ID")) flags |= match::kId;
  if (ContainsNoCase(options, "User")) flags |= match::kUser;
  if (ContainsNoCase(options, "Handle") || ContainsNoCase(options, "HWND")) flags |= match::kHandle;
  if (flags == 0) flags = match::kTitle;
  if (ContainsNoCase(options, "First")) flags |= match::kFirst;
  return flags;
}

platform::WindowId FindWindowByCriteria(int flags, std::string_view search, platform::WindowId excluded,
                                        platform::WindowId start) {
  platform::Windows& ws = platform::windows();
  if (flags & match::kHandle) {
    const WindowId whole = LeadingUnsigned(search);
    if (whole != 0 && ws.Exists(whole)) return whole;
  }
  // First: a quick exact lookup; when it finds nothing the search below runs,
  // so that "Partial Title,First" (Use Window's default) still finds a part.
  if ((flags & match::kFirst) && start == 0 && !search.empty()) {
    WindowId quick = 0;
    if (flags & (match::kTitle | match::kExact)) quick = ws.FindTopLevel(std::string(search), "");
    else if (flags & match::kClass) quick = ws.FindTopLevel("", std::string(search));
    if (quick != 0) return quick;
  }
  g_top_matches = 0;
  g_child_matches = 0;
  if (start != 0 && !ws.Exists(start)) start = 0;
  if (search.empty() && !(flags & (match::kList | match::kMinimizeAll | match::kCloseAll))) return 0;
  const Wanted wanted = SplitSearch(flags, search);
  // Each list is taken at once: a window destroyed during the search only
  // fails its own tests.
  WindowId result = 0;
  for (const WindowId w : ws.TopLevelWindows()) {
    // Only a visible frame window counts as a top-level match. (A top-level
    // window is visible when its style says so.)
    if (Matches(ws, w, wanted, true)) {
      const std::uint32_t style = ws.Style(w);
      if ((style & platform::style::kVisible) &&
          (style & (platform::style::kDialogFrame | platform::style::kThickFrame))) {
        g_top_matches.fetch_add(1);
        result = w;
      }
    }
    for (const WindowId c : ws.Descendants(w)) {
      if (!Matches(ws, c, wanted, false)) continue;
      if (start != 0 && !Below(ws, c, start)) continue;
      if (!(flags & match::kHandle) && Below(ws, c, excluded)) continue;
      g_child_matches.fetch_add(1);
      result = c;
    }
  }
  return result;
}

MatchCounts LastMatchCounts() { return {g_top_matches.load(), g_child_matches.load()}; }

platform::WindowId CurrentWindow() { return expansion_host().CurrentWindow(); }
void SetCurrentWindow(platform::WindowId window) { expansion_host().SetCurrentWindow(window); }
bool WindowActivated() { return g_activated.load(); }
void SetWindowActivated() { g_activated = true; }

bool FailWithoutDesktop() {
  if (platform::windows().HasDesktop()) return false;
  SetStepError("No desktop is available on this system");
  return true;
}

platform::WindowId ResolveStepWindow(int slot, int step_index, std::string_view window_text) {
  if (slot < 0 || slot > 7 || step_index < 0 || static_cast<std::size_t>(step_index) >= Document(slot).steps.size())
    return 0;
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  if (step.category < 1 || step.category > 16) return 0;
  platform::Windows& ws = platform::windows();
  const std::string& options = step.options;
  const bool named = ContainsNoCase(options, "Handle") || ContainsNoCase(options, "HWND");
  const bool titled = ContainsNoCase(options, "Title");
  if ((named || titled) && !ContainsNoCase(options, "Use")) {
    const std::string text = Expanded(window_text, slot, step_index);
    WindowId found = 0;
    if (titled) {
      found = FindWindowByCriteria(match::kExact, text, 0, 0);
      if (found == 0) found = FindWindowByCriteria(match::kTitle, text, 0, 0);
    } else {
      const bool hex = text.find_first_of("xXhH#") != std::string::npos;
      found = hex ? ReadHexHandle(text) : LeadingUnsigned(text);
    }
    if (found == 0 || !ws.Exists(found)) {
      FailNotFound(text);
      return 0;
    }
    return found;
  }
  if (ContainsNoCase(options, "Top")) return TopWindow(ws);
  const WindowId current = CurrentWindow();
  if (current != 0 && ws.Exists(current)) return current;
  return ws.Foreground();
}

platform::WindowId UseWindowAction(int slot, int step_index) {
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  platform::Windows& ws = platform::windows();
  const std::string& options = step.options;
  WindowId start = LeadingUnsigned(Expanded(step.value(5), slot, step_index));
  const std::string text = Expanded(step.text, slot, step_index);
  if (text.empty()) {
    for (std::string_view named : {"Title", "Class", "ID", "Userdata", "HWND"})
      if (ContainsNoCase(options, named)) return Fail("Missing window information"), 0;
  }
  WindowId found = 0;
  bool by_criteria = false;
  if (ContainsNoCase(options, "Image")) {
    ImageSpot spot;
    const int searched = FindImageForStep(slot, step_index, spot);
    if (searched < 0) return 0;
    if (searched > 0) found = ChildWindowAt(platform::Point{spot.left, spot.top});
  } else if (ContainsNoCase(options, " X") || ContainsNoCase(options, "Mouse")) {
    platform::Point point;
    if (ContainsNoCase(options, " X")) {
      const std::size_t comma = text.find(',');
      point.x = static_cast<long>(LeadingUnsigned(text));
      point.y = comma == std::string::npos ? 0 : static_cast<long>(LeadingUnsigned(std::string_view(text).substr(comma + 1)));
      if (ContainsNoCase(options, "Parent-Relative")) {
        const WindowId reference = ws.Exists(start) ? start : CurrentWindow();
        if (reference != 0 && ws.Exists(reference))
          if (const auto rect = ws.Rect(reference)) point.x += rect->x, point.y += rect->y;
      }
    } else {
      point = platform::input().CursorPosition().value_or(platform::Point{});
    }
    found = ContainsNoCase(options, "Child") ? ChildWindowAt(point) : TopLevelWindowAt(point, true);
  } else if (ContainsNoCase(options, "Z-")) {
    int seen = 0;
    WindowId w = ws.Foreground();
    while (w != 0 && !IsVisibleTopFrame(ws, w) && ++seen < kMostWindows) w = ws.NextInZOrder(w);
    const std::uint64_t steps = std::min<std::uint64_t>(LeadingUnsigned(text), kMostZSteps);
    for (std::uint64_t n = 0; n < steps && w != 0; ++n) {
      WindowId next = ws.NextInZOrder(w);
      while (next != 0 && !IsVisibleTopFrame(ws, next) && ++seen < kMostWindows) next = ws.NextInZOrder(next);
      if (next == 0) break;
      w = next;
    }
    found = w;
  } else if (ContainsNoCase(options, "Top ")) {
    found = TopWindow(ws);
  } else if (ContainsNoCase(options, "Focus")) {
    found = ws.FocusOfForegroundThread();
  } else {
    const std::optional<std::uint64_t> main = expansion_host().MainWindowPart("hwnd");
    found = FindWindowByCriteria(WindowMatchFlagsFromOptions(options), text, main.value_or(0), start);
    by_criteria = true;
  }
  SetCurrentWindow(found);
  SaveOutput(slot, step_index, std::to_string(found));
  if (found == 0) return FailNotFound(text), 0;
  if (by_criteria && ReadSettingNumber("*\\MultipleWindowError") != 0 && !ContainsNoCase(step.fail_mode(), "Ignore") &&
      !ContainsNoCase(options, "First")) {
    const MatchCounts counts = LastMatchCounts();
    char message[128];
    if (counts.top_level > 1) {
      std::snprintf(message, sizeof message, "There are %d top-level windows that match the search criteria",
                    counts.top_level);
      return Fail(message), 0;
    }
    if (counts.top_level == 0 && counts.child > 1) {
      std::snprintf(message, sizeof message, "There are %d child windows that match the search criteria", counts.child);
      return Fail(message), 0;
    }
  }
  if (ContainsNoCase(options, "Activ") || ContainsNoCase(options, "Force")) {
    WindowId target = CurrentWindow();
    const ControlKind kind = GetControlKind(target);
    if (kind == ControlKind::Checkbox || kind == ControlKind::RadioButton) {
      if (const WindowId parent = ws.Parent(target)) target = parent;
    }
    Trace("A");
    ActivateWindow(target, ContainsNoCase(options, "Force"));
    Trace("B");
    g_activated = true;
  }
  return CurrentWindow();
}

namespace {

// True when the keyboard focus is on the window or on a control inside it.
bool FocusInside(platform::Windows& ws, WindowId window) {
  WindowId w = ws.FocusInThreadOf(window);
  for (int level = 0; w != 0 && level < kMostParentLevels; ++level, w = ws.TreeParent(w))
    if (w == window) return true;
  return false;
}

}  // namespace

void ActivateWindow(platform::WindowId window, bool force) {
  using Call = platform::Windows::Call;
  platform::Windows& ws = platform::windows();
  // Activation moves the focus: keys still on their way would go astray.
  SettleTypedKeys();
  const bool exists = window != 0 && ws.Exists(window);
  const bool visible = exists && ws.IsVisible(window);
  const bool minimized = exists && ws.IsMinimized(window);
  const bool popup = exists && IsVisibleFrame(ws, window);
  const bool app = exists && IsVisibleTopFrame(ws, window);
  if (LogLevel() >= 1)
    LogLine("    Activate: HWND=%lu, IsWindow=%d, IsWindowVisible=%d, IsIconic=%d, is_popup=%d, is_real_app_window=%d, "
            "Force=%d",
            static_cast<unsigned long>(window), exists, visible, minimized, popup, app, force);
  if (!exists) return;
  // The focus is never taken from a control inside the window (a frame that
  // takes it lets the keys typed next go nowhere).
  auto focus = [&](WindowId w) {
    if (!FocusInside(ws, w)) ws.Do(w, Call::SetFocus);
  };
  auto restore_show_focus = [&](WindowId w) {
    if (ws.IsMinimized(w)) ws.Do(w, Call::Restore);
    ws.Do(w, Call::Show);
    focus(w);
  };
  if (ws.Foreground() == window && !minimized && visible) {
    ws.Do(window, Call::BringToTop);
    focus(window);
    Trace("1");
    return;
  }
  if (!force && app) {
    ws.Do(window, Call::SetForeground);
    Trace("2");
    if (ws.Foreground() == window && !ws.IsMinimized(window)) {
      ws.Do(window, Call::SetActive);
      focus(window);
      if (LogLevel() >= 1) LogLine("    Activate: Method=Quick Foreground");
      Trace("3");
      return;
    }
  }
  ws.Do(window, Call::HotkeyCommand);
  Trace("4");
  if (GetControlKind(window) == ControlKind::Static) {
    const WindowId next = ws.NextTabItem(window);
    if (next != 0) {
      const ControlKind kind = GetControlKind(next);
      if (kind == ControlKind::Edit || kind == ControlKind::MultilineEdit) ws.Do(next, Call::SelectAllText);
    }
    Trace("5");
  }
  if (LogLevel() >= 1) LogLine("    Activate: Method=%s", force ? "Force" : "Normal");
  if (force) {
    Trace("6");
    ws.Do(window, Call::AttachedForeground);
    Trace("7");
  }
  // The walk to the top-level window follows the real parents: a dialog's
  // owner is no parent of it.
  const bool child = (ws.Style(window) & platform::style::kChild) != 0;
  WindowId parent = ws.TreeParent(window);
  if (parent != 0 && !ws.Exists(parent)) parent = 0;
  if ((popup && !child) || parent == 0) {
    ws.Do(window, Call::SetForeground);
    ws.Do(window, Call::BringToTop);
    ws.Do(window, Call::SetActive);
    restore_show_focus(window);
    Trace("9");
    return;
  }
  WindowId ancestors[5] = {};
  WindowId p = window;
  for (int level = 0; level < 5; ++level) ancestors[level] = p = (p != 0 ? ws.TreeParent(p) : 0);
  int level = 5;
  while (level > 0 && !(ancestors[level - 1] != 0 && ws.Exists(ancestors[level - 1]))) --level;
  if (level == 0) {
    restore_show_focus(window);
    return;
  }
  const WindowId top = ancestors[level - 1];
  if (LogLevel() >= 1)
    LogLine("    Activate: Parent level #%d activation, IsIconic=%d", level, ws.IsMinimized(top) ? 1 : 0);
  Trace("8");
  if (ws.IsMinimized(top)) ws.Do(top, Call::Restore);
  ws.Do(top, Call::SetForeground);
  ws.Do(top, Call::BringToTop);
  ws.Do(window, Call::SetActive);
  restore_show_focus(window);
}

ControlKind GetControlKind(platform::WindowId window) {
  platform::Windows& ws = platform::windows();
  if (window == 0 || !ws.Exists(window)) return ControlKind::Unknown;
  const std::string cls = ws.ClassName(window);
  const std::uint32_t style = ws.Style(window);
  const int button_type = static_cast<int>(style & 0xF);
  const bool button = ContainsNoCase(cls, "BUTTON");
  if (ContainsNoCase(cls, "STATIC") || (button && button_type == 7)) return ControlKind::Static;
  if (ContainsNoCase(cls, "EDIT"))  // RICHEDIT contains it too
    return (style & platform::style::kMultiline) ? ControlKind::MultilineEdit : ControlKind::Edit;
  if (ContainsNoCase(cls, "SysTreeView")) return ControlKind::Treeview;
  if (ContainsNoCase(cls, "SysListView")) return ControlKind::Listview;
  if (ContainsNoCase(cls, "COMBOBOX")) return ControlKind::ComboBox;
  if (ContainsNoCase(cls, "LISTBOX")) return ControlKind::Listbox;
  if (ContainsNoCase(cls, "SCROLLBAR")) return ControlKind::Scrollbar;
  if (button) {
    if (button_type == 4 || button_type == 9) return ControlKind::RadioButton;
    if (button_type == 2 || button_type == 3 || button_type == 5 || button_type == 6) return ControlKind::Checkbox;
    // Push buttons, and the newer types (split, command link, owner-drawn).
    return ControlKind::Button;
  }
  return ControlKind::Unknown;
}

namespace {
bool Holds(const std::optional<platform::WindowRect>& r, platform::Point p) {
  return r && p.x >= r->x && p.y >= r->y && p.x < r->x + r->width && p.y < r->y + r->height;
}
}  // namespace

platform::WindowId TopLevelWindowAt(platform::Point point, bool top_level_only) {
  platform::Windows& ws = platform::windows();
  int seen = 0;
  const WindowId foreground = ws.Foreground();
  if (foreground != 0 && Holds(ws.Rect(foreground), point)) return foreground;
  for (WindowId w = foreground != 0 ? ws.NextInZOrder(foreground) : ws.NextInZOrder(0); w != 0 && ++seen < kMostWindows;
       w = ws.NextInZOrder(w)) {
    if (!IsVisibleFrame(ws, w) || (top_level_only && ws.Parent(w) != 0)) continue;
    if (Holds(ws.Rect(w), point)) return w;
  }
  return ws.DesktopWindow();
}

platform::WindowId ChildWindowAt(platform::Point point) {
  platform::Windows& ws = platform::windows();
  WindowId choice = ws.AtPoint(point.x, point.y);
  const WindowId parent = choice != 0 ? ws.Parent(choice) : 0;
  if (parent == 0) return choice;
  auto area = [&](WindowId w) {
    const auto r = ws.Rect(w);
    return r ? static_cast<long long>(r->width) * r->height : 0LL;
  };
  long long best = area(choice);
  int seen = 0;
  for (WindowId w = ws.NextInZOrder(choice); w != 0 && ++seen < kMostWindows; w = ws.NextInZOrder(w)) {
    if (ws.IsVisible(w) && ws.Parent(w) == parent && Holds(ws.Rect(w), point) && area(w) < best) {
      choice = w;
      best = area(w);
    }
  }
  return choice;
}

}  // namespace olvex
