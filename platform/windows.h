#pragma once
// Top-level windows of the desktop: finding them, walking them (and their
// child windows) in z-order, reading their titles, activating and closing
// them. The service is an interface so that tests can put a recording fake in
// place of the real one (SetWindowsForTest).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A window handle as an opaque number; 0 is no window.
using WindowId = std::uint64_t;

struct WindowRect {
  long x = 0, y = 0, width = 0, height = 0;
};

// Window style bits the runtime reads (the numbers of the Win32 API).
namespace style {
constexpr std::uint32_t kChild = 0x40000000, kVisible = 0x10000000, kMinimize = 0x20000000, kMaximize = 0x01000000;
constexpr std::uint32_t kDisabled = 0x08000000, kCaption = 0x00C00000, kMaximizeBox = 0x00010000;
constexpr std::uint32_t kMinimizeBox = 0x00020000;
constexpr std::uint32_t kDialogFrame = 0x00400000, kThickFrame = 0x00040000, kMultiline = 0x4;
}  // namespace style

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
  // The same for a window whose kind the caller knows (from the list it came
  // from), so that the style need not be asked: a top-level window's caption,
  // a child window's text.
  virtual std::string TitleOf(WindowId window, bool /*top_level*/, std::size_t max_chars, int timeout_ms) {
    return Title(window, max_chars, timeout_ms);
  }
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
  // The window's parent in the tree of windows (GetAncestor): 0 for a
  // top-level window, never its owner (a dialog's owner is not its parent).
  virtual WindowId TreeParent(WindowId window) { return (Style(window) & style::kChild) ? Parent(window) : 0; }
  // True when the window has a dialog frame or a sizing border (a caption
  // includes a dialog frame).
  virtual bool HasFrame(WindowId /*window*/) { return false; }

  // False where there is no desktop to act on (the POSIX backend): window,
  // keyboard, mouse and menu steps fail there.
  virtual bool HasDesktop() { return true; }
  // False where windows have no child controls (X11): the control actions fail.
  virtual bool HasControls() { return true; }
  // The window's style bits (GWL_STYLE); 0 for no window.
  virtual std::uint32_t Style(WindowId /*window*/) { return 0; }
  virtual bool IsMinimized(WindowId /*window*/) { return false; }
  // The desktop window itself.
  virtual WindowId DesktopWindow() { return 0; }
  // The deepest visible window under a screen point (WindowFromPoint).
  virtual WindowId AtPoint(long /*x*/, long /*y*/) { return 0; }
  // The window that has the keyboard focus in the foreground window's thread.
  virtual WindowId FocusOfForegroundThread() { return 0; }
  // The window that has the keyboard focus in the thread of `window`; 0 when none.
  virtual WindowId FocusInThreadOf(WindowId /*window*/) { return 0; }
  // The control after `window` in its dialog's tab order; 0 when none.
  virtual WindowId NextTabItem(WindowId /*window*/) { return 0; }
  // One means of activation, as the system offers it. SetFocus and SetActive
  // work across threads (the backend shares the window thread's input state for
  // the call); AttachedForeground shares the foreground thread's input state,
  // then makes the window the foreground, topmost and focused window.
  enum class Call { BringToTop, SetFocus, SetForeground, SetActive, Restore, Show, HotkeyCommand, SelectAllText,
                    AttachedForeground };
  virtual void Do(WindowId /*window*/, Call /*call*/) {}
  // The top-level windows in z-order, and all the descendants of a window
  // (depth first, each child before its own children), each list taken at
  // once. The defaults walk NextInZOrder and FirstChild.
  virtual std::vector<WindowId> TopLevelWindows();
  virtual std::vector<WindowId> Descendants(WindowId window);
  // Replaces the window's text (WM_SETTEXT, bounded wait); false when the
  // window is gone or does not answer.
  virtual bool SetText(WindowId /*window*/, const std::string& /*text*/) { return false; }
  // Adds an item to a list box or combo box (of any process); false on failure.
  virtual bool AddListItem(WindowId /*window*/, const std::string& /*text*/, bool /*combo*/) { return false; }

  // Reading a window's contents. Each message waits at most `timeout_ms` (and
  // not at all on a hung window); nothing when the window is gone or did not answer.
  // WM_GETTEXT into a buffer of `max_chars` characters; with `max_chars` 0 the
  // buffer is the window's WM_GETTEXTLENGTH + 4096 characters, at least 1 MB.
  virtual std::optional<std::string> ReadText(WindowId /*window*/, std::size_t /*max_chars*/, int /*timeout_ms*/) {
    return std::nullopt;
  }
  // GetWindowText: a top-level window's caption is read without a message.
  virtual std::string CaptionText(WindowId /*window*/) { return {}; }
  // The items of a list box or combo box (another process's items too: asked in
  // UTF-16). An item longer than `max_item_chars` is an empty piece; reading
  // stops once the items hold `max_total_chars` characters or `deadline_ms` has passed.
  struct ListRead {
    std::vector<std::string> items;
    bool complete = true;  // false: stopped at the size or the deadline
    bool timed_out = false;
  };
  virtual std::optional<ListRead> ListItems(WindowId /*window*/, bool /*combo*/, std::size_t /*max_item_chars*/,
                                            std::size_t /*max_total_chars*/, int /*timeout_ms*/, int /*deadline_ms*/) {
    return std::nullopt;
  }
  // The text of a list box's selected item (empty when none is selected).
  virtual std::optional<std::string> ListSelectedText(WindowId /*window*/, int /*timeout_ms*/) { return std::nullopt; }
  // The selected part of an edit control's text (EM_GETSEL), at most `max_chars`
  // characters (cut in UTF-16, before the conversion to the code page).
  virtual std::optional<std::string> EditSelectedText(WindowId /*window*/, std::size_t /*max_chars*/,
                                                      int /*timeout_ms*/) {
    return std::nullopt;
  }
  // A list view's item count and the texts of its selected items, read in the
  // list view's own process memory (nothing for an item that could not be read).
  struct ListViewRead {
    long total = 0;
    std::vector<std::optional<std::string>> selected;
  };
  virtual std::optional<ListViewRead> ListViewSelection(WindowId /*window*/, int /*timeout_ms*/) { return std::nullopt; }

  // Window state: maximised, enabled, a button's check state (0, 1 or 2; nothing
  // when it does not answer), the owning process's id and program path.
  virtual bool IsMaximized(WindowId window) { return (Style(window) & style::kMaximize) != 0; }
  virtual bool IsEnabled(WindowId window) { return Exists(window) && !(Style(window) & style::kDisabled); }
  virtual std::optional<int> CheckState(WindowId /*window*/, int /*timeout_ms*/) { return std::nullopt; }
  virtual std::uint32_t ProcessId(WindowId /*window*/) { return 0; }
  virtual std::string ProcessPath(WindowId /*window*/) { return {}; }

  // Acting on a window; false when it is gone or the system refused.
  enum class Placement { Maximize, Minimize, Restore, Show, Hide };
  virtual bool Place(WindowId /*window*/, Placement /*how*/) { return false; }
  // SetWindowPos without Z-order change or activation: a move keeps the size,
  // a resize keeps the position.
  virtual bool MoveTo(WindowId /*window*/, long /*x*/, long /*y*/) { return false; }
  virtual bool ResizeTo(WindowId /*window*/, long /*width*/, long /*height*/) { return false; }
  // HWND_TOPMOST / HWND_NOTOPMOST without moving, sizing or activating.
  virtual bool SetTopmost(WindowId /*window*/, bool /*topmost*/) { return false; }
  virtual bool Enable(WindowId /*window*/, bool /*enabled*/) { return false; }
  virtual bool SetStyle(WindowId /*window*/, std::uint32_t /*style*/) { return false; }
  // After a style change: invalidate (erasing), UpdateWindow, WM_PAINT and
  // WM_NCPAINT, and SetWindowPos with SWP_FRAMECHANGED (nothing moved or activated).
  virtual void Repaint(WindowId /*window*/) {}
  virtual void Update(WindowId /*window*/) {}  // UpdateWindow
  virtual bool SetCheck(WindowId /*window*/, bool /*checked*/) { return false; }  // BM_SETCHECK
  virtual void PostSetFocus(WindowId /*window*/) {}  // WM_SETFOCUS posted to the control
  // WM_CLOSE sent and waited for at most `timeout_ms`; false when the window
  // did not answer in time (or its program is hung).
  virtual bool SendClose(WindowId /*window*/, int /*timeout_ms*/) { return false; }
  // Ends the process that owns the window; never the runtime's own process.
  virtual bool EndProcessOf(WindowId /*window*/) { return false; }
};

// Declares the process aware of display scaling (per monitor where the system
// offers it, else system-wide), so that window rectangles, mouse points and
// screen captures are physical pixels. Nothing where there is no desktop.
void DeclareDpiAware();

// The windows service in force: the platform's own, or the one a test installed.
Windows& windows();
// Tests: install a fake (nullptr puts the platform's own back).
void SetWindowsForTest(Windows* fake);

}  // namespace platform
