#include "platform/screen.h"

#include <atomic>

namespace platform {

Screen& PlatformScreen();  // the backend's own service

namespace {
std::atomic<Screen*> g_override{nullptr};
}

Screen& screen() {
  Screen* fake = g_override.load(std::memory_order_acquire);
  return fake ? *fake : PlatformScreen();
}

void SetScreenForTest(Screen* fake) { g_override.store(fake, std::memory_order_release); }

}  // namespace platform
