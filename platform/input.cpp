#include "platform/input.h"

#include <atomic>

namespace platform {

Input& PlatformInput();  // the backend's own service

namespace {
std::atomic<Input*> g_override{nullptr};
}

Input& input() {
  Input* fake = g_override.load(std::memory_order_acquire);
  return fake ? *fake : PlatformInput();
}

void SetInputForTest(Input* fake) { g_override.store(fake, std::memory_order_release); }

}  // namespace platform
