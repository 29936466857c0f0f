#pragma once
// Finding windows by title, class, control id, user data or handle; the
// run's current window; the window a step acts on; Use Window; activation;
// and what kind of control a window is.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/input.h"
#include "platform/windows.h"

namespace olvex {

// Search criteria: which wanted values a window must show.
namespace match {
constexpr int kTitle = 0x1, kClass = 0x2, kId = 0x4, kUser = 0x8, kHandle = 0x10, kExact = 0x20;
constexpr int kList = 0x100, kMinimizeAll = 0x200, kCloseAll = 0x400;
constexpr int kVisibleFramesOnly = 0x1000, kVisibleTopFramesOnly = 0x2000, kFirst = 0x4000;
}  // namespace match

// The flags an options text names ("Exact" before "Title"; Title alone when
// it names none; "First" adds First).
int WindowMatchFlagsFromOptions(std::string_view options);

// Searches the top-level windows in z-order and all their descendants; the
// result is the last match (0: none). `search` holds the wanted values
// separated by "|": title, class, id, user data, handle, each only when its
// flag is set. Children of `excluded` (the runtime's main window) match only
// by handle; with a `start` window only its descendants (five levels) count
// as child matches.
platform::WindowId FindWindowByCriteria(int flags, std::string_view search, platform::WindowId excluded,
                                        platform::WindowId start);
struct MatchCounts {
  int top_level = 0;
  int child = 0;
};
// The match counters of the latest search.
MatchCounts LastMatchCounts();

// The run's current window (chosen by the latest Use Window; 0: none).
platform::WindowId CurrentWindow();
void SetCurrentWindow(platform::WindowId window);
// Set when Use Window activated a window (and by Maximize).
bool WindowActivated();
void SetWindowActivated();

// The window a step acts on: the window its `window_text` names ("Title",
// "Handle", "HWND" options), the top window ("Top"), else the current window
// while it exists, else the foreground window. 0 with the step error set.
platform::WindowId ResolveStepWindow(int slot, int step_index, std::string_view window_text);

// The Use Window step: returns the window chosen, 0 on failure (the step
// error is set).
platform::WindowId UseWindowAction(int slot, int step_index);

// The top window: the first visible frame window from the foreground window
// down in z-order (0: none).
platform::WindowId TopVisibleWindow();

// Brings the window to the front with progressively stronger means.
void ActivateWindow(platform::WindowId window, bool force);

enum class ControlKind {
  Unknown = 0, Static = 1, Edit = 2, ComboBox = 3, RadioButton = 4, Checkbox = 5, Button = 6, Listbox = 7,
  Scrollbar = 8, MultilineEdit = 9, Treeview = 10, Listview = 11,
};
ControlKind GetControlKind(platform::WindowId window);

// The window under a screen point: the first window from the foreground
// window down whose rectangle holds it (the desktop when none); the smallest
// sibling control under it.
platform::WindowId TopLevelWindowAt(platform::Point point, bool top_level_only);
platform::WindowId ChildWindowAt(platform::Point point);

// Fails the step with "No desktop is available on this system" and returns
// true where there is no desktop.
bool FailWithoutDesktop();

// A window handle as a step writes it: hexadecimal after an "0x", "#" or
// "h"-style marker (leading characters up to the first non-zero digit skipped).
std::uint64_t ReadHexHandle(std::string_view text);

}  // namespace olvex
