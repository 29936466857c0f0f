#include "platform/windows.h"

#include <atomic>

namespace platform {

Windows& PlatformWindows();  // the backend's own service

namespace {
std::atomic<Windows*> g_override{nullptr};
}

Windows& windows() {
  Windows* fake = g_override.load(std::memory_order_acquire);
  return fake ? *fake : PlatformWindows();
}

void SetWindowsForTest(Windows* fake) { g_override.store(fake, std::memory_order_release); }

}  // namespace platform
