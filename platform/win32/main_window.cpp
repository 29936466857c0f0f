#include "platform/main_window.h"

#include <windows.h>

namespace platform {
namespace {

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

bool CreateMainWindow() {
  // Created once, hidden, by the first caller (the thread that serves the loop).
  static HWND window = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hIcon = LoadIconA(wc.hInstance, MAKEINTRESOURCEA(1000));
    if (!wc.hIcon) wc.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));            // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "OlvexClass";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "OlvexClass", "Olvex Studio", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  }();
  return window != nullptr;
}

int CountMainWindows() {
  int count = 0;
  for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, "OlvexClass", nullptr)) != nullptr;) ++count;
  return count;
}

}  // namespace platform
