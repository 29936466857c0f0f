#include <windows.h>

#include "platform/input.h"

namespace platform {
namespace {

// The thread whose key input this thread watches, and the window of it that
// was marked: a window's paint request is served only once its thread has
// no input (and no posted message) left in its queue.
struct KeyWatch {
  DWORD thread = 0;
  HWND marked = nullptr;
  bool lost = false;  // the keys went to another thread
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
    HWND foreground = GetForegroundWindow();
    const DWORD thread = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
    t_watch = KeyWatch{thread == GetCurrentThreadId() ? 0 : thread, nullptr, false};
    return t_watch.thread != 0;
  }

  // The mark: one pixel of the focus window to repaint. The thread paints it
  // once it has taken in every key before it.
  void MarkKeys() override {
    HWND foreground = GetForegroundWindow();
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (t_watch.thread == 0 || !foreground || GetWindowThreadProcessId(foreground, nullptr) != t_watch.thread ||
        !GetGUIThreadInfo(t_watch.thread, &info)) {
      t_watch.lost = true;
      return;
    }
    HWND window = info.hwndFocus ? info.hwndFocus : info.hwndActive ? info.hwndActive : foreground;
    const RECT pixel{0, 0, 1, 1};
    if (IsWindowVisible(window) && InvalidateRect(window, &pixel, FALSE)) t_watch.marked = window;
  }

  std::optional<bool> KeysTaken() override {
    if (!t_watch.marked || t_watch.lost || !IsWindow(t_watch.marked) || !ThreadAlive(t_watch.thread))
      return std::nullopt;
    RECT update;
    return !GetUpdateRect(t_watch.marked, &update, FALSE);
  }

  void EndKeysWatch() override { t_watch = KeyWatch{}; }

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
  KeyState QueryKey(int virtual_key) override {
    if (virtual_key <= 0 || virtual_key > 0xFF) return {};
    const SHORT state = GetAsyncKeyState(virtual_key);
    return {(state & 0x8000) != 0, (state & 1) != 0};
  }
};

}  // namespace

Input& PlatformInput() {
  static Win32Input instance;
  return instance;
}

}  // namespace platform
