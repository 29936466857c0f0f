#include <windows.h>

#include "platform/input.h"

namespace platform {
namespace {

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
