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
