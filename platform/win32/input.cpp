#include <windows.h>

#include <cstddef>

#include "platform/input.h"

namespace platform {
namespace {

// The marker behind a run of keys: a key code that no layout gives a meaning,
// which programs ignore.
constexpr BYTE kMarkerKey = 0xE8;
// The keys a script may hold down across steps.
constexpr BYTE kHeldKinds[] = {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LSHIFT, VK_RSHIFT, VK_LCONTROL,
                               VK_RCONTROL, VK_LMENU, VK_RMENU, VK_LWIN, VK_RWIN};

// The thread whose key input this thread watches: their input state is
// shared while watching, so that GetKeyState here reads the key state that
// thread has reached in taking its input in.
struct KeyWatch {
  DWORD thread = 0;
  bool marked = false;
  bool lost = false;          // the keys went to another thread
  bool toggle_before = false;  // the marker's toggle bit before the mark
};
thread_local KeyWatch t_watch;

bool ThreadAlive(DWORD thread) {
  HANDLE handle = OpenThread(SYNCHRONIZE, FALSE, thread);
  if (!handle) return false;
  const bool alive = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
  CloseHandle(handle);
  return alive;
}

class Win32Input : public Input {
 public:
  // The live state of the keyboard (a worker thread has no input state of its own).
  bool IsKeyDown(int virtual_key) override {
    if (virtual_key <= 0 || virtual_key > 0xFF) return false;
    return (GetAsyncKeyState(virtual_key) & 0x8000) != 0;
  }
  std::optional<Point> CursorPosition() override {
    POINT p;
    if (!GetCursorPos(&p)) return std::nullopt;
    return Point{p.x, p.y};
  }

  void SendKey(const KeyEvent& event) override {
    if (event.unicode) {
      wchar_t wide = 0;
      const char ansi = static_cast<char>(event.code);
      if (MultiByteToWideChar(CP_ACP, 0, &ansi, 1, &wide, 1) != 1) return;
      INPUT in{};
      in.type = INPUT_KEYBOARD;
      in.ki.wScan = wide;
      in.ki.dwFlags = KEYEVENTF_UNICODE | (event.up ? KEYEVENTF_KEYUP : 0);
      SendInput(1, &in, sizeof in);
      return;
    }
    if (event.code <= 0 || event.code > 0xFE) return;
    const BYTE vk = static_cast<BYTE>(event.code);
    const WORD scan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    const DWORD flags = (event.up ? KEYEVENTF_KEYUP : 0) | (event.extended ? KEYEVENTF_EXTENDEDKEY : 0);
    if (!event.send_input) {
      keybd_event(vk, static_cast<BYTE>(scan), flags, 0);
      return;
    }
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = scan;
    in.ki.dwFlags = flags;
    SendInput(1, &in, sizeof in);
  }
  bool WatchKeys() override {
    EndKeysWatch();
    HWND foreground = GetForegroundWindow();
    const DWORD thread = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
    const DWORD own = GetCurrentThreadId();
    if (thread == 0 || thread == own) return false;
    // Sharing the input state clears the shared key state: the modifiers held
    // now are put back, so that the program still sees a held Shift.
    bool held[sizeof kHeldKinds] = {};
    for (std::size_t i = 0; i < sizeof kHeldKinds; ++i) held[i] = (GetAsyncKeyState(kHeldKinds[i]) & 0x8000) != 0;
    if (!AttachThreadInput(own, thread, TRUE)) return false;
    BYTE state[256] = {};
    if (GetKeyboardState(state)) {
      for (std::size_t i = 0; i < sizeof kHeldKinds; ++i)
        if (held[i]) state[kHeldKinds[i]] |= 0x80;
      SetKeyboardState(state);
    }
    t_watch = KeyWatch{thread, false, false, false};
    return true;
  }

  void MarkKeys() override {
    if (t_watch.thread == 0) return;
    HWND foreground = GetForegroundWindow();
    if (!foreground || GetWindowThreadProcessId(foreground, nullptr) != t_watch.thread) {
      t_watch.lost = true;
      return;
    }
    t_watch.toggle_before = (GetKeyState(kMarkerKey) & 1) != 0;
    INPUT in[2] = {};
    for (INPUT& event : in) {
      event.type = INPUT_KEYBOARD;
      event.ki.wVk = kMarkerKey;
    }
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    t_watch.marked = SendInput(2, in, sizeof(INPUT)) == 2;
  }

  // The marker was taken in when its key press flipped the toggle bit and its
  // release cleared the down bit.
  std::optional<bool> KeysTaken() override {
    if (t_watch.thread == 0 || !t_watch.marked || t_watch.lost || !ThreadAlive(t_watch.thread)) return std::nullopt;
    const SHORT state = GetKeyState(kMarkerKey);
    return ((state & 1) != 0) != t_watch.toggle_before && !(state & 0x8000);
  }

  void EndKeysWatch() override {
    if (t_watch.thread != 0) AttachThreadInput(GetCurrentThreadId(), t_watch.thread, FALSE);
    t_watch = KeyWatch{};
  }

  int KeyOfChar(unsigned char c) override {
    const SHORT key = VkKeyScanA(static_cast<CHAR>(c));
    return key == -1 ? -1 : static_cast<int>(static_cast<unsigned short>(key));
  }
  int CharOfKey(int virtual_key) override {
    if (virtual_key <= 0 || virtual_key > 0xFF) return 0;
    return static_cast<int>(MapVirtualKeyA(static_cast<UINT>(virtual_key), MAPVK_VK_TO_CHAR) & 0x7FFF);
  }
  bool BlockUserInput(bool block) override {
    HMODULE user32 = LoadLibraryA("USER32.DLL");
    if (!user32) return false;
    using BlockFn = BOOL(WINAPI*)(BOOL);
    if (auto fn = reinterpret_cast<BlockFn>(reinterpret_cast<void*>(GetProcAddress(user32, "BlockInput")))) fn(block);
    FreeLibrary(user32);
    return true;
  }

  // Absolute moves are normalised over the whole virtual screen, so that
  // every monitor is reached.
  void MoveMouse(Point to) override {
    const long left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const long width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (width <= 1 || height <= 1) return;
    const long long x = (static_cast<long long>(to.x) - left) * 65535 / (width - 1);
    const long long y = (static_cast<long long>(to.y) - top) * 65535 / (height - 1);
    mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK, static_cast<DWORD>(x),
                static_cast<DWORD>(y), 0, 0);
  }
  void SetCursorPosition(Point to) override { SetCursorPos(static_cast<int>(to.x), static_cast<int>(to.y)); }
  void MouseButton(int button, bool up) override {
    DWORD flags = 0;
    if (button == key::kLeftButton) flags = up ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN;
    else if (button == key::kRightButton) flags = up ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_RIGHTDOWN;
    else if (button == key::kMiddleButton) flags = up ? MOUSEEVENTF_MIDDLEUP : MOUSEEVENTF_MIDDLEDOWN;
    if (flags != 0) mouse_event(flags, 0, 0, 0, 0);
  }
  void MouseWheel(int delta) override { mouse_event(MOUSEEVENTF_WHEEL, 0, 0, static_cast<DWORD>(delta), 0); }
  void ShowCursor() override { ::ShowCursor(TRUE); }
  int DoubleClickTimeMs() override { return static_cast<int>(GetDoubleClickTime()); }

  bool IsKeyToggled(int virtual_key) override {
    if (virtual_key <= 0 || virtual_key > 0xFF) return false;
    return (GetKeyState(virtual_key) & 1) != 0;
  }
  // Bit 0 of GetAsyncKeyState: pressed since the previous GetAsyncKeyState call.
  bool WasPressedSinceLastQuery(int virtual_key) override {
    if (virtual_key <= 0 || virtual_key > 0xFF) return false;
    return (GetAsyncKeyState(virtual_key) & 1) != 0;
  }
};

}  // namespace

Input& PlatformInput() {
  static Win32Input instance;
  return instance;
}

}  // namespace platform
