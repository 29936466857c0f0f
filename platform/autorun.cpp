#include "platform/autorun.h"

#include <atomic>

namespace platform {

AutoRun& PlatformAutoRun();

namespace {
std::atomic<AutoRun*> g_fake{nullptr};
}

AutoRun& autorun() {
  AutoRun* fake = g_fake.load(std::memory_order_acquire);
  return fake ? *fake : PlatformAutoRun();
}
void SetAutoRunForTest(AutoRun* fake) { g_fake.store(fake, std::memory_order_release); }

}  // namespace platform
