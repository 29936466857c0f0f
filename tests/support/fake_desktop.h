#pragma once
// Recording fakes of the desktop services: a desktop of windows (a tree in
// z-order) that records every activation call and text it is given, a
// keyboard that records every key event as a short token, and a clipboard.
// Each installs itself on construction and removes itself when destroyed.
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/clipboard.h"
#include "platform/input.h"
#include "platform/windows.h"

namespace olvex::test {

struct FakeWindow {
  FakeWindow() = default;
  FakeWindow(platform::WindowId id_, platform::WindowId parent_, std::string title_, std::string class_name_,
             std::uint64_t control_id_ = 0, std::uint64_t user_data_ = 0, std::uint32_t style_ = 0,
             platform::WindowRect rect_ = {}, bool hung_ = false)
      : id(id_), parent(parent_), title(std::move(title_)), class_name(std::move(class_name_)),
        control_id(control_id_), user_data(user_data_), style(style_), rect(rect_), hung(hung_) {}
  platform::WindowId id = 0;
  platform::WindowId parent = 0;
  std::string title, class_name;
  std::uint64_t control_id = 0, user_data = 0;
  std::uint32_t style = 0;
  platform::WindowRect rect;
  bool hung = false;  // does not answer messages: its title reads empty
  // What the window actions read and change: a button's check state, an edit's
  // selection, the selected items (of `FakeDesktop::items`), the owning process.
  int check = 0;
  std::pair<std::size_t, std::size_t> selection{0, 0};
  std::vector<int> selected;
  std::uint32_t pid = 0;
  bool refuses_close = false;  // ignores WM_CLOSE; DestroyWindow fails on it (another process's)
};

// Styles of the usual windows.
inline constexpr std::uint32_t kFrameStyle = platform::style::kVisible | platform::style::kThickFrame;
inline constexpr std::uint32_t kChildStyle = platform::style::kVisible | platform::style::kChild;

class FakeDesktop : public platform::Windows {
 public:
  FakeDesktop();
  ~FakeDesktop() override;
  // Adds a window below its siblings in z-order; its id when it had none.
  platform::WindowId Add(FakeWindow window);
  FakeWindow* Find(platform::WindowId id);
  // The window unless it is missing or does not answer.
  FakeWindow* Answering(platform::WindowId id) {
    FakeWindow* w = Find(id);
    return w && !w->hung ? w : nullptr;
  }
  // A field of the window; its empty value when the window is missing.
  template <typename T>
  T Field(platform::WindowId id, T FakeWindow::*field) {
    const FakeWindow* w = Find(id);
    return w ? w->*field : T{};
  }

  platform::WindowId FindTopLevel(const std::string& title, const std::string& class_name) override;
  bool Exists(platform::WindowId window) override { return Find(window) != nullptr; }
  platform::WindowId Foreground() override { return foreground; }
  platform::WindowId NextInZOrder(platform::WindowId window) override;
  bool IsVisible(platform::WindowId window) override;
  std::string Title(platform::WindowId window, std::size_t max_chars, int timeout_ms) override;
  bool Activate(platform::WindowId window) override;
  bool PostClose(platform::WindowId window) override;
  bool Destroy(platform::WindowId window) override;
  std::string ClassName(platform::WindowId window) override;
  std::uint64_t ControlId(platform::WindowId window) override;
  std::uint64_t UserData(platform::WindowId window) override;
  std::optional<platform::WindowRect> Rect(platform::WindowId window) override;
  platform::WindowId FirstChild(platform::WindowId window) override;
  platform::WindowId Parent(platform::WindowId window) override;
  bool HasFrame(platform::WindowId window) override;
  std::uint32_t Style(platform::WindowId window) override;
  bool IsMinimized(platform::WindowId window) override;
  platform::WindowId DesktopWindow() override { return 0xDE5C; }
  platform::WindowId AtPoint(long x, long y) override;
  platform::WindowId FocusOfForegroundThread() override { return focus; }
  platform::WindowId NextTabItem(platform::WindowId window) override;
  void Do(platform::WindowId window, Call call) override;
  bool SetText(platform::WindowId window, const std::string& text) override;
  bool AddListItem(platform::WindowId window, const std::string& text, bool combo) override;
  std::optional<std::string> ReadText(platform::WindowId window, std::size_t max_chars, int timeout_ms) override;
  std::string CaptionText(platform::WindowId window) override;
  std::optional<ListRead> ListItems(platform::WindowId window, bool combo, std::size_t max_item_chars,
                                    std::size_t max_total_chars, int timeout_ms, int deadline_ms) override;
  std::optional<std::string> ListSelectedText(platform::WindowId window, int timeout_ms) override;
  std::optional<std::string> EditSelectedText(platform::WindowId window, std::size_t max_chars, int timeout_ms) override;
  std::optional<ListViewRead> ListViewSelection(platform::WindowId window, int timeout_ms) override;
  std::optional<int> CheckState(platform::WindowId window, int timeout_ms) override;
  std::uint32_t ProcessId(platform::WindowId window) override;
  std::string ProcessPath(platform::WindowId window) override;
  // The changes below are recorded in `calls` ("Place 7 Maximize", "MoveTo 7 10,20", "SetStyle 7 0x10C40000").
  bool Place(platform::WindowId window, Placement how) override;
  bool MoveTo(platform::WindowId window, long x, long y) override;
  bool ResizeTo(platform::WindowId window, long width, long height) override;
  bool SetTopmost(platform::WindowId window, bool topmost) override;
  bool Enable(platform::WindowId window, bool enabled) override;
  bool SetStyle(platform::WindowId window, std::uint32_t bits) override;
  void Repaint(platform::WindowId window) override;
  void Update(platform::WindowId window) override;
  bool SetCheck(platform::WindowId window, bool checked) override;
  void PostSetFocus(platform::WindowId window) override;
  bool SendClose(platform::WindowId window, int timeout_ms) override;
  bool EndProcessOf(platform::WindowId window) override;

  std::vector<FakeWindow> windows;  // siblings in z-order
  platform::WindowId foreground = 0, focus = 0;
  bool foreground_refused = false;     // SetForeground does not take
  std::vector<std::string> calls;      // "SetForeground 7", "SetText 9 hello", "AddItem 9 a"
  std::function<void(platform::WindowId)> on_title;  // runs before a title is read
  std::map<platform::WindowId, std::vector<std::string>> items;
  std::map<std::uint32_t, std::string> process_paths;
};

// Key events as tokens: the key's name ("A", "Shift", "Ctrl", "Num0", "#BA"),
// "*" for the extended flag, "+" down or "-" up; "i:" before a SendInput
// event, "u:" before a Unicode one (the character in quotes); pauses as
// "P10" when the keyboard's pause hook is installed by the test. The mouse:
// "m<x>,<y>" a glide step, "@<x>,<y>" a jump, "L+"/"R-"/"M+" a button,
// "W+120"/"W-120" the wheel.
class FakeKeyboard : public platform::Input {
 public:
  FakeKeyboard();
  ~FakeKeyboard() override;
  // Any query of a key clears its pressed mark, as the system's does.
  bool IsKeyDown(int key) override { return QueryKey(key).down; }
  bool IsKeyToggled(int key) override { return key == platform::key::kCapsLock && caps_lock; }
  KeyState QueryKey(int key) override { return {down.count(key) != 0, pressed.erase(key) != 0}; }
  void SendKey(const KeyEvent& event) override;
  // The US layout as Wine gives it: "(" and ")" have no key.
  int KeyOfChar(unsigned char c) override;
  int CharOfKey(int virtual_key) override;
  bool BlockUserInput(bool block) override;
  std::optional<platform::Point> CursorPosition() override { return cursor; }
  void MoveMouse(platform::Point to) override;
  void SetCursorPosition(platform::Point to) override;
  void MouseButton(int button, bool up) override;
  void MouseWheel(int delta) override;
  int DoubleClickTimeMs() override { return 500; }
  std::string Events() const;  // the tokens joined by blanks

  std::vector<std::string> events;
  std::map<unsigned char, int> layout;  // overrides of KeyOfChar
  std::set<int> down, pressed;
  bool caps_lock = false;
  bool user32_missing = false;
  platform::Point cursor;
};

class FakeClipboard : public platform::Clipboard {
 public:
  FakeClipboard() { platform::SetClipboardForTest(this); }
  ~FakeClipboard() override { platform::SetClipboardForTest(nullptr); }
  std::optional<std::string> Text() override { return text; }
  bool SetText(const std::string& t) override {
    history.push_back(t);
    text = t;
    return true;
  }
  bool Clear() override {
    text.reset();
    ++clears;
    return true;
  }
  std::optional<std::string> text;
  std::vector<std::string> history;
  int clears = 0;
};

}  // namespace olvex::test
