#include "platform/main_wait.h"

#include <windows.h>

#include "platform/main_window.h"

namespace platform {
namespace {

HANDLE WakeEvent() {
  static HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // auto-reset
  return event;
}

}  // namespace

void WaitOnMainThread(int max_ms) {
  CreateMainWindow();  // the loop's thread owns the main window
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
