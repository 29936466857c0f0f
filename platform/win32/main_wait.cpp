#include "platform/main_wait.h"

#include <windows.h>

namespace platform {
namespace {

HANDLE WakeEvent() {
  static HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // auto-reset
  return event;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

// The hidden main window, created by the thread that first waits.
void EnsureMainWindow() {
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
  (void)window;
}

}  // namespace

void WaitOnMainThread(int max_ms) {
  EnsureMainWindow();
  HANDLE event = WakeEvent();
  MsgWaitForMultipleObjects(1, &event, FALSE, max_ms < 0 ? 0 : static_cast<DWORD>(max_ms), QS_ALLINPUT);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void WakeMainThread() { SetEvent(WakeEvent()); }

}  // namespace platform
