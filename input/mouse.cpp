#include "input/mouse.h"

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>

#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "engine/text.h"
#include "platform/input.h"
#include "screen/screen_actions.h"
#include "vars/expand.h"
#include "vars/formula.h"
#include "windows/window_match.h"

namespace olvex {

namespace {

using Point = platform::Point;

constexpr int kGlidePauseMs = 25;
constexpr long kNoMove = 9999;  // on either axis: the pointer stays where it is
const char* const kSavedX = "*\\UserVariables\\SavedMousePosition_X";
const char* const kSavedY = "*\\UserVariables\\SavedMousePosition_Y";

// Buttons a step pressed and no later step released (bits: 1 left, 2 right, 4 middle).
std::atomic<int> g_held_buttons{0};

bool Has(std::string_view text, std::string_view word) { return ContainsNoCase(text, word); }

Point Cursor() { return platform::input().CursorPosition().value_or(Point{}); }

// One coordinate item: a formula when it holds only formula characters and
// an operator, else `plain`.
long Coordinate(std::string_view item, long plain) {
  if (item.find_first_not_of("0123456789 .*/+-()\t\r\n") != std::string_view::npos ||
      item.find_first_of("*/+-") == std::string_view::npos)
    return plain;
  return static_cast<long>(EvaluateFormula(std::string(item)).number);
}

// "x, y": x is the first number of the whole text, y the number of the second
// comma-separated item.
Point PointOfText(std::string_view text) {
  const std::size_t comma = text.find(',');
  const std::string_view x_item = text.substr(0, comma);
  Point p;
  p.x = Coordinate(x_item, FirstNumber(text));
  if (comma != std::string_view::npos) {
    std::string_view y_item = text.substr(comma + 1);
    y_item = y_item.substr(0, y_item.find(','));
    p.y = Coordinate(y_item, FirstNumber(y_item));
  }
  return p;
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The glide: `steps` increments of the distance / steps from the cursor,
// each a move and a short pause, then the jump to the exact target. A stop
// cuts the glide short.
void Glide(Point target, int steps) {
  platform::Input& input = platform::input();
  Point at = Cursor();
  const long dx = target.x - at.x, dy = target.y - at.y;
  for (int i = 0; i < steps && !StopRequested(); ++i) {
    at.x += dx / steps;
    at.y += dy / steps;
    input.MoveMouse(at);
    Pause(kGlidePauseMs);
  }
  input.SetCursorPosition(target);
}

void MoveTo(Point target, bool snap, bool stay) {
  platform::input().ShowCursor();
  if (snap) {
    platform::input().SetCursorPosition(target);
    return;
  }
  if (stay) return;
  const Point at = Cursor();
  const long ax = target.x > at.x ? target.x - at.x : at.x - target.x;
  const long ay = target.y > at.y ? target.y - at.y : at.y - target.y;
  Glide(target, ax < 10 && ay < 10 ? 0 : ax < 20 && ay < 20 ? 8 : 20);
}

void Button(int button, bool up) {
  platform::input().MouseButton(button, up);
  if (up) g_held_buttons &= ~button;
  else g_held_buttons |= button;
}

void Click(const std::string& options) {
  const bool down = Has(options, "Down"), up = Has(options, "Up");
  int button = 0;
  if (Has(options, "Left")) {
    if (Has(options, "Double")) {
      const int time = platform::input().DoubleClickTimeMs();
      Button(platform::key::kLeftButton, false);
      Button(platform::key::kLeftButton, true);
      Pause((time & ~1) < 20 ? 10 : time / 2);
      Button(platform::key::kLeftButton, false);
      Button(platform::key::kLeftButton, true);
      return;
    }
    button = platform::key::kLeftButton;
  } else if (Has(options, "Right")) {
    button = platform::key::kRightButton;
  } else if (Has(options, "Middle")) {
    button = platform::key::kMiddleButton;
  } else if (Has(options, "Wheel")) {
    if (down) platform::input().MouseWheel(-120);
    if (up) platform::input().MouseWheel(120);
    return;
  }
  if (button == 0) return;
  if (down) Button(button, false);
  if (up) Button(button, true);
}

// The window a "window"-relative point is measured from: the current window
// while it is there and visible, else (after a moment) the foreground window.
platform::WindowId RelativeWindow() {
  platform::Windows& ws = platform::windows();
  const platform::WindowId current = CurrentWindow();
  if (current != 0 && ws.Exists(current) && (ws.Style(current) & platform::style::kVisible) && ws.IsVisible(current))
    return current;
  Pause(250);
  SetCurrentWindow(ws.Foreground());
  return CurrentWindow();
}

int MouseStep(int slot, int step_index) {
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const std::string& action = step.action;
  const std::string text = ExpandText(step.text, slot, step_index, 0);
  const bool snap = Has(step.value(1), "Snap") || Has(step.options, "Snap");

  if (Has(action, "Move to Window") || Has(action, "Move to Control")) {
    // The resolver expands the window text itself: expanded once only.
    const platform::WindowId window = ResolveStepWindow(slot, step_index, step.text);
    if (window == 0) {
      // No current or foreground window to fall back on either.
      if (StepError().empty()) SetStepError("Unable to find window '" + text + "'");
      return 0;
    }
    ActivateWindow(window, false);
    MoveMouseToWindow(window, 2, !snap);
    return 1;
  }
  if (Has(action, "Save Current Position")) {
    const Point at = Cursor();
    WriteSetting(kSavedX, static_cast<int>(at.x));
    WriteSetting(kSavedY, static_cast<int>(at.y));
    return 1;
  }

  Point target;
  bool relative = true;
  if (Has(action, "Image") || Has(action, "Pixel")) {
    ImageSpot spot;
    const int found = FindImageForStep(slot, step_index, spot);
    if (found < 0) return 0;
    if (found == 0) {
      SaveOutput(slot, step_index, "0");
      SetStepError(Has(action, "Pixel") ? "The pixel was not found" : "The image was not found");
      return 0;
    }
    SaveOutput(slot, step_index, std::to_string(spot.left) + ", " + std::to_string(spot.top));
    target = {spot.left + spot.width / 2, spot.top + spot.height / 2};
  } else if (Has(action, "Return to Saved Position")) {
    target = {ReadSettingNumber(kSavedX), ReadSettingNumber(kSavedY)};
  } else if (text.empty()) {
    target = Cursor();
    relative = false;
  } else {
    target = PointOfText(text);
  }

  // 9999 as written leaves the pointer where it is, whatever it is relative to.
  const bool stay = target.x == kNoMove || target.y == kNoMove;
  if (Has(step.options, "window")) {
    if (const platform::WindowId window = RelativeWindow(); window != 0)
      if (const auto rect = platform::windows().Rect(window)) {
        target.x += rect->x;
        target.y += rect->y;
      }
  } else if (relative && Has(step.options, "current") && !text.empty()) {
    const Point at = Cursor();
    target.x += at.x;
    target.y += at.y;
  }

  MoveTo(target, snap, stay);
  if (Has(action, "Click on Image") || Has(action, "Click on Masked Image")) {
    Button(platform::key::kLeftButton, false);
    Button(platform::key::kLeftButton, true);
  } else if (Has(action, "Click")) {
    Click(step.options);
  }
  return 1;
}

}  // namespace

void MoveMouseToWindow(platform::WindowId window, int where, bool smooth) {
  platform::Windows& ws = platform::windows();
  if (window == 0 || !ws.Exists(window)) return;
  const std::optional<platform::WindowRect> rect = ws.Rect(window);
  if (!rect) return;
  platform::Point target{rect->x, rect->y};
  if (where == 2) target = {rect->x + rect->width / 2, rect->y + rect->height / 2};
  if (smooth) Glide(target, 20);
  else platform::input().SetCursorPosition(target);
}

void ReleaseHeldButtons() {
  const int held = g_held_buttons.exchange(0);
  if (held == 0) return;
  LogText("WARNING!  Mouse button was pressed with a Down click, but not released with an Up click");
  for (const int button : {platform::key::kLeftButton, platform::key::kRightButton, platform::key::kMiddleButton})
    if (held & button) platform::input().MouseButton(button, true);
}

int HandleMouseStep(int slot, int step_index) {
  if (FailWithoutDesktop()) return 0;
  return MouseStep(slot, step_index);
}

}  // namespace olvex
