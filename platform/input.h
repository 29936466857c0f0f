#pragma once
// The keyboard and mouse buttons as the user holds them. The service is an
// interface so that tests can put a fake in place of the real one
// (SetInputForTest).

#include <optional>

namespace platform {

// Virtual-key codes the runtime names itself (the numbers of the Win32 API).
namespace key {
constexpr int kLeftButton = 0x01, kRightButton = 0x02, kMiddleButton = 0x04;
constexpr int kShift = 0x10, kControl = 0x11, kAlt = 0x12;
constexpr int kCapsLock = 0x14, kNumLock = 0x90, kScrollLock = 0x91;
}  // namespace key

struct Point {
  long x = 0, y = 0;
};

class Input {
 public:
  virtual ~Input() = default;
  // True while the key or mouse button with this virtual-key code is held down.
  virtual bool IsKeyDown(int virtual_key) = 0;
  // True when a lock key (Caps Lock, Num Lock, Scroll Lock) is switched on.
  virtual bool IsKeyToggled(int virtual_key) = 0;
  // The key's state and whether it was pressed since it was last asked about,
  // read in one query: the system keeps one such mark per key and a query of
  // the key clears it (on Windows IsKeyDown too), so a press and release
  // between two polls is seen only when both are read together. `pressed` is
  // false where the system keeps no such mark.
  struct KeyState {
    bool down = false;
    bool pressed = false;
  };
  virtual KeyState QueryKey(int virtual_key) { return {IsKeyDown(virtual_key), false}; }
  // The mouse position in screen pixels; nothing where there is no mouse.
  virtual std::optional<Point> CursorPosition() { return std::nullopt; }

  // Synthesises one key event (keybd_event or SendInput, with the scan code
  // the layout gives the key). A Unicode event carries an ANSI character in
  // `code` and goes through SendInput as that character.
  struct KeyEvent {
    int code = 0;
    bool up = false;
    bool extended = false;
    bool send_input = false;
    bool unicode = false;
    bool operator==(const KeyEvent&) const = default;
  };
  virtual void SendKey(const KeyEvent& /*event*/) {}
  // Whether the program has taken in the keys sent to it (a program takes its
  // keys in later than they are sent). WatchKeys, before a run of key events,
  // starts watching the thread that takes the keyboard input (the foreground
  // window's); false when there is none to watch. MarkKeys, after them, asks
  // that thread to repaint one pixel of its focus window: a thread repaints
  // only once no input is left in its queue. KeysTaken: true once the thread
  // has repainted, and so taken in every key before the mark; nothing when that
  // cannot be known. EndKeysWatch stops watching. All four belong to the thread
  // that sends the keys.
  virtual bool WatchKeys() { return false; }
  virtual void MarkKeys() {}
  virtual std::optional<bool> KeysTaken() { return std::nullopt; }
  virtual void EndKeysWatch() {}
  // The key that types an ANSI character on the current layout: virtual key in
  // the low byte, shift state in the high byte (1 Shift, 2 Ctrl, 4 Alt); -1
  // when the layout has none (VkKeyScan).
  virtual int KeyOfChar(unsigned char /*c*/) { return -1; }
  // The unshifted character of a virtual key; 0 when it has none.
  virtual int CharOfKey(int /*virtual_key*/) { return 0; }
  // False where Alt with four keypad digits types no character (X11): a
  // character without a key then goes as a Unicode event.
  virtual bool HasAltCodes() { return true; }
  // The mouse, synthesised system-wide. Points are physical screen pixels
  // anywhere on the virtual screen (negative left of or above the primary
  // monitor). A move is one relative-free step of a glide (mouse_event with
  // an absolute position); SetCursorPosition jumps.
  virtual void MoveMouse(Point /*to*/) {}
  virtual void SetCursorPosition(Point /*to*/) {}
  // A button by its virtual-key code (kLeftButton, kRightButton, kMiddleButton).
  virtual void MouseButton(int /*button*/, bool /*up*/) {}
  // Wheel data: +120 one notch away from the user, -120 toward.
  virtual void MouseWheel(int /*delta*/) {}
  virtual void ShowCursor() {}
  virtual int DoubleClickTimeMs() { return 500; }
  // Blocks or unblocks the user's keyboard and mouse input where the system
  // offers it; false when the system library cannot be loaded.
  virtual bool BlockUserInput(bool /*block*/) { return true; }
};

// The input service in force: the platform's own, or the one a test installed.
Input& input();
// Tests: install a fake (nullptr puts the platform's own back).
void SetInputForTest(Input* fake);

}  // namespace platform
