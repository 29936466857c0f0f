#include "windows/window_actions.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "engine/dispatch.h"
#include "engine/document.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "input/keyboard.h"
#include "input/mouse.h"
#include "platform/input.h"
#include "vars/expand.h"
#include "windows/window_match.h"
#include "windows/window_text.h"

namespace olvex {
namespace {

using platform::WindowId;
using Placement = platform::Windows::Placement;

constexpr int kCloseStepMs = 250;    // between the means of CloseWindowHard
constexpr int kMostClosedByTitle = 1000;  // "All" windows of a title: a bound however many keep appearing

const Step& StepAt(int slot, int step_index) { return Document(slot).steps[static_cast<std::size_t>(step_index)]; }

std::string Expanded(std::string_view text, int slot, int step_index) { return ExpandText(text, slot, step_index, 0); }

int Fail(const std::string& text) {
  SetStepError(text);
  return 0;
}

bool IsTopFrame(platform::Windows& ws, WindowId w) {
  return ws.IsVisible(w) && (ws.Style(w) & platform::style::kVisible) && ws.HasFrame(w) && ws.Parent(w) == 0;
}

// Waits up to `ms` for the window to be gone; true when it is.
bool GoneWithin(WindowId window, int ms) {
  platform::Windows& ws = platform::windows();
  for (int waited = 0; ws.Exists(window); waited += 50) {
    if (waited >= ms || StopRequested()) return !ws.Exists(window);
    WindowActionPause(std::min(50, ms - waited));
  }
  return true;
}

void EndProcess(WindowId window) {
  if (LogLevel() >= 1) LogLine("    Ending the process of window %lu", static_cast<unsigned long>(window));
  platform::windows().EndProcessOf(window);
}

int MinimizeAll() {
  platform::Windows& ws = platform::windows();
  for (const WindowId w : ws.TopLevelWindows())
    if (IsTopFrame(ws, w) && !ws.IsMinimized(w)) ws.Place(w, Placement::Minimize);
  return 1;
}

int CloseAll() {
  platform::Windows& ws = platform::windows();
  const WindowId main = expansion_host().MainWindowPart("hwnd").value_or(0);
  const WindowId desktop = ws.DesktopWindow();
  for (const WindowId w : ws.TopLevelWindows()) {
    if (StopRequested()) return -1;
    if (w != desktop && w != main && IsTopFrame(ws, w)) CloseWindowHard(w, kCloseStepMs);
  }
  if (main != 0) ws.PostClose(main);
  return 1;
}

// The rows of Set Window Style. "Topmost" and "Not Topmost" (the catalog's
// example) are taken as the "Always on Top" rows.
int SetWindowStyle(int slot, int step_index, WindowId window) {
  platform::Windows& ws = platform::windows();
  const std::string wanted = Expanded(StepAt(slot, step_index).value(1), slot, step_index);
  using namespace platform::style;
  const std::uint32_t style = ws.Style(window);
  struct Row {
    const char* name;
    std::uint32_t add, remove;
  };
  static constexpr Row kStyleRows[] = {
      {"Caption", kCaption, 0},
      {"Not Resizable", kDialogFrame, kThickFrame},
      {"Resizable", kThickFrame, 0},
      {"Without Maximize Button", 0, kMaximizeBox},
      {"Maximize Button", kMaximizeBox, 0},
      {"Without Minimize Button", 0, kMinimizeBox},
      {"Minimize Button", kMinimizeBox, 0},
  };
  bool known = true, done = true;
  if (EqualsNoCase(wanted, "Always on Top") || EqualsNoCase(wanted, "Topmost")) done = ws.SetTopmost(window, true);
  else if (EqualsNoCase(wanted, "Not Always on Top") || EqualsNoCase(wanted, "Not Topmost")) done = ws.SetTopmost(window, false);
  else if (EqualsNoCase(wanted, "Visible")) done = ws.Place(window, Placement::Show);
  else if (EqualsNoCase(wanted, "Hidden")) done = ws.Place(window, Placement::Hide);
  else if (EqualsNoCase(wanted, "Disabled")) done = ws.Enable(window, false);
  else if (EqualsNoCase(wanted, "Enabled")) done = ws.Enable(window, true);
  else {
    const auto row = std::find_if(std::begin(kStyleRows), std::end(kStyleRows),
                                  [&](const Row& r) { return EqualsNoCase(wanted, r.name); });
    known = row != std::end(kStyleRows);
    if (known) done = ws.SetStyle(window, (style & ~row->remove) | row->add);
  }
  if (!known) return Fail("Unknown window style '" + wanted + "'");
  ws.Repaint(window);
  ws.Do(window, platform::Windows::Call::SetFocus);
  if (!done) return Fail(ws.Exists(window) ? "The window's style could not be set to '" + wanted + "'" : "The window is gone");
  return 1;
}

long NumberOf(int slot, int step_index, int n) {
  return FirstNumber(Expanded(StepAt(slot, step_index).value(n), slot, step_index));
}

int MoveOrResize(int slot, int step_index, WindowId window, bool resize) {
  platform::Windows& ws = platform::windows();
  long a = NumberOf(slot, step_index, 1), b = NumberOf(slot, step_index, 2);
  bool done;
  if (resize) {
    const auto rect = ws.Rect(window);
    if (!rect) return Fail("The window is gone");
    if (a < 1) a = rect->width;
    if (b < 1) b = rect->height;
    done = ws.ResizeTo(window, a, b);
  } else {
    done = ws.MoveTo(window, a, b);
  }
  return done ? 1 : Fail(ws.Exists(window) ? "The window did not take the new place" : "The window is gone");
}

int Maximize(WindowId window) {
  platform::Windows& ws = platform::windows();
  if (!ws.Place(window, Placement::Maximize)) return Fail("The window is gone");
  if (ws.Foreground() != window && TopVisibleWindow() != window && ws.FocusOfForegroundThread() != window)
    ActivateWindow(window, false);
  SetWindowActivated();
  return 1;
}

int CloseStep(int slot, int step_index, WindowId window) {
  const Step& step = StepAt(slot, step_index);
  const int timeout_ms = TimeoutFieldMs(step.timeout(), slot, step_index);
  const std::string text = Expanded(step.data(), slot, step_index);
  if (!CloseWindowHard(window, timeout_ms)) return Fail("Window '" + text + "' did not close");
  if (ContainsNoCase(step.options, "All") && ContainsNoCase(step.options, "Title")) {
    for (int n = 0; n < kMostClosedByTitle && !StopRequested(); ++n) {
      const WindowId next = ResolveStepWindow(slot, step_index, step.data());
      ClearStepError();
      if (next == 0) break;
      if (!CloseWindowHard(next, timeout_ms)) return Fail("Window '" + text + "' did not close");
    }
  }
  return StopRequested() ? -1 : 1;
}

int ChildControlStep(int slot, int step_index, WindowId control) {
  platform::Windows& ws = platform::windows();
  const std::string& options = StepAt(slot, step_index).options;
  if (ContainsNoCase(options, "Check")) {
    if (!ws.SetCheck(control, !ContainsNoCase(options, "Uncheck")))
      return Fail(ws.Exists(control) ? "The control did not answer" : "The window is gone");
    return 1;
  }
  if (ContainsNoCase(options, "Press")) {
    ClickControl(control);
    return 1;
  }
  if (const WindowId parent = ws.Parent(control)) ActivateWindow(parent, false);
  ws.PostSetFocus(control);
  return 1;
}

// The step's window. Get Window Info's "Top Coor" names an edge, not the top
// window: without "Title" or "Handle" the step takes the current window.
WindowId ResolveTarget(int slot, int step_index) {
  const Step& step = StepAt(slot, step_index);
  const std::string& options = step.options;
  if (ContainsNoCase(step.action, "Get Window Info") && ContainsNoCase(options, "Top Coor") &&
      !ContainsNoCase(options, "Title") && !ContainsNoCase(options, "Handle") && !ContainsNoCase(options, "HWND")) {
    platform::Windows& ws = platform::windows();
    const WindowId current = CurrentWindow();
    return current != 0 && ws.Exists(current) ? current : ws.Foreground();
  }
  return ResolveStepWindow(slot, step_index, step.data());
}

}  // namespace

bool CloseWindowHard(platform::WindowId window, int timeout_ms) {
  platform::Windows& ws = platform::windows();
  if (!ws.Exists(window)) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, kCloseStepMs));
  if (!ws.SendClose(window, std::max(timeout_ms, kCloseStepMs)) && ws.Exists(window)) EndProcess(window);
  for (int means = 0; means < 3; ++means) {
    if (GoneWithin(window, kCloseStepMs)) return true;
    if (StopRequested()) return false;
    if (means == 0) {
      ws.PostClose(window);
    } else if (means == 1) {
      ws.Destroy(window);
    } else {
      // Alt+F4 goes to the foreground window: only when that is this one, so
      // that no other program is closed in its place.
      ActivateWindow(window, false);
      if (ws.Foreground() == window) TypeKeys("{AltDown}{F4}{AltUp}", false, 0);
    }
  }
  // A window that ignores every request: its process is ended once the time-out has passed.
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (GoneWithin(window, static_cast<int>(std::max<long long>(left.count(), kCloseStepMs)))) return true;
  if (StopRequested()) return false;
  EndProcess(window);
  return GoneWithin(window, 2000);
}

void ClickControl(platform::WindowId control) {
  platform::Windows& ws = platform::windows();
  using Call = platform::Windows::Call;
  if (const WindowId parent = ws.Parent(control)) ActivateWindow(parent, false);
  if (const auto rect = ws.Rect(control))
    platform::input().SetCursorPosition({rect->x + rect->width / 2, rect->y + rect->height / 2});
  ws.Do(control, Call::SetFocus);
  const ControlKind kind = GetControlKind(control);
  if (kind == ControlKind::Edit || kind == ControlKind::MultilineEdit) {
    ws.Do(control, Call::SelectAllText);
  } else {
    platform::input().MouseButton(platform::key::kLeftButton, false);
    WindowActionPause(50);
    platform::input().MouseButton(platform::key::kLeftButton, true);
    WindowActionPause(50);
  }
  ws.Update(control);
  ws.Do(control, Call::SetFocus);
}

int HandleWindowsStep(int slot, int step_index) {
  if (FailWithoutDesktop()) return 0;
  // The keys typed before are taken in first: a message to the window would overtake them.
  const bool keys_taken = SettleTypedKeys();
  const Step& step = StepAt(slot, step_index);
  const std::string& action = step.action;
  if (ContainsNoCase(action, "Use") || ContainsNoCase(action, "Activ")) return UseWindowAction(slot, step_index) ? 1 : 0;
  // Keys still queued would answer the box that closing may bring up.
  if (!keys_taken && ContainsNoCase(action, "Close"))
    return StopRequested() ? -1 : Fail("The window has not taken in the keys typed to it");
  if (ContainsNoCase(action, "all Windows")) return ContainsNoCase(action, "Close") ? CloseAll() : MinimizeAll();
  const WindowId window = ResolveTarget(slot, step_index);
  if (window == 0) return 0;
  platform::Windows& ws = platform::windows();
  const bool info = ContainsNoCase(action, "Get Window Info");
  if (ContainsNoCase(action, "Set Window Style")) return SetWindowStyle(slot, step_index, window);
  if (ContainsNoCase(action, "Get Text") || (info && ContainsNoCase(step.options, "Text")))
    return GetTextStep(slot, step_index, window, info);
  if (ContainsNoCase(action, "Set Text")) {
    const bool plain = ContainsNoCase(step.options, "No Variable Expansion");
    return EnterTextIntoWindow(window, plain ? step.text : Expanded(step.text, slot, step_index),
                               Expanded(step.data(), slot, step_index));
  }
  if (!info && !ws.HasControls() && (ContainsNoCase(action, "Press") || ContainsNoCase(action, "Child")))
    return Fail("X11 windows have no child controls");
  if (!info) {
    if (ContainsNoCase(action, "Press")) {
      if (const WindowId parent = ws.Parent(window)) ActivateWindow(parent, false);
      MoveMouseToWindow(window, 2, true);
      ClickControl(window);
      return 1;
    }
    if (ContainsNoCase(action, "Child")) return ChildControlStep(slot, step_index, window);
    if (ContainsNoCase(action, "Move")) return MoveOrResize(slot, step_index, window, false);
    if (ContainsNoCase(action, "Resize")) return MoveOrResize(slot, step_index, window, true);
    if (ContainsNoCase(action, "Maximize")) return Maximize(window);
    if (ContainsNoCase(action, "Restore")) {
      if (!ws.Place(window, Placement::Restore)) return Fail("The window is gone");
      ActivateWindow(window, false);
      return 1;
    }
    if (ContainsNoCase(action, "Minimize")) return ws.Place(window, Placement::Minimize) ? 1 : Fail("The window is gone");
    if (ContainsNoCase(action, "Close")) return CloseStep(slot, step_index, window);
  }
  if (info) return WindowInfoStep(slot, step_index, window);
  return Fail("Window '" + Expanded(step.data(), slot, step_index) + "' found, but invalid action specified");
}

}  // namespace olvex
