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
  void ReleaseKey(int virtual_key) override {
    if (virtual_key <= 0 || virtual_key > 0xFE) return;
    INPUT up{};
    up.type = INPUT_KEYBOARD;
    up.ki.wVk = static_cast<WORD>(virtual_key);
    up.ki.wScan = static_cast<WORD>(MapVirtualKeyA(static_cast<UINT>(virtual_key), MAPVK_VK_TO_VSC));
    up.ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(1, &up, sizeof up);
  }
  std::optional<Point> CursorPosition() override {
    POINT p;
    if (!GetCursorPos(&p)) return std::nullopt;
    return Point{p.x, p.y};
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
