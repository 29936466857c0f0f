#pragma once
// Top-level windows of the desktop: finding them, walking them (and their
// child windows) in z-order, reading their titles, activating and closing
// them. The service is an interface so that tests can put a recording fake in
// place of the real one (SetWindowsForTest).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// A window handle as an opaque number; 0 is no window.
using WindowId = std::uint64_t;

struct WindowRect {
  long x = 0, y = 0, width = 0, height = 0;
};

class Windows {
 public:
  virtual ~Windows() = default;
  // A top-level window whose title and class are exactly these (an empty
  // text matches any title or class); 0 when there is none.
  virtual WindowId FindTopLevel(const std::string& title, const std::string& class_name) = 0;
  // True when the handle names an existing window.
  virtual bool Exists(WindowId window) = 0;
  // The window the user works with (the foreground window); 0 when none.
  virtual WindowId Foreground() = 0;
  // The window below `window` in z-order, 0 after the last; with 0, the
  // topmost top-level window.
  virtual WindowId NextInZOrder(WindowId window) = 0;
  virtual bool IsVisible(WindowId window) = 0;
  // The window's title, at most `max_chars` characters; empty when the
  // window does not answer within `timeout_ms`.
  virtual std::string Title(WindowId window, std::size_t max_chars, int timeout_ms) = 0;
  // Restores the window when minimised, shows it and makes it the
  // foreground, active and focused window; false when it does not exist.
  virtual bool Activate(WindowId window) = 0;
  // Asks the window to close (the request is posted, not waited for); true
  // when the request was delivered.
  virtual bool PostClose(WindowId window) = 0;
  // Destroys the window at once (possible for windows of this process only).
  virtual bool Destroy(WindowId window) = 0;
  // The window's class name, control id (GWL_ID), user data (GWL_USERDATA)
  // and screen rectangle. The defaults know no window.
  virtual std::string ClassName(WindowId /*window*/) { return {}; }
  virtual std::uint64_t ControlId(WindowId /*window*/) { return 0; }
  virtual std::uint64_t UserData(WindowId /*window*/) { return 0; }
  virtual std::optional<WindowRect> Rect(WindowId /*window*/) { return std::nullopt; }
  // The first of the window's child windows (the top of their z-order; the
  // next ones follow through NextInZOrder); 0 when it has none.
  virtual WindowId FirstChild(WindowId /*window*/) { return 0; }
  // The window's parent, or for a top-level window its owner; 0 when none.
  virtual WindowId Parent(WindowId /*window*/) { return 0; }
  // True when the window has a dialog frame or a sizing border (a caption
  // includes a dialog frame).
  virtual bool HasFrame(WindowId /*window*/) { return false; }
};

// The windows service in force: the platform's own, or the one a test installed.
Windows& windows();
// Tests: install a fake (nullptr puts the platform's own back).
void SetWindowsForTest(Windows* fake);

}  // namespace platform
