// Parts of the registry service that both backends share.
#include "platform/registry.h"

#include <atomic>

namespace platform {

namespace registry_internal {
std::atomic<std::size_t> g_value_limit_for_test{0};
}

const char* RegistryRootName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot: return "HKEY_CLASSES_ROOT";
    case RegistryRoot::kCurrentUser: return "HKEY_CURRENT_USER";
    case RegistryRoot::kLocalMachine: return "HKEY_LOCAL_MACHINE";
    case RegistryRoot::kUsers: return "HKEY_USERS";
    case RegistryRoot::kCurrentConfig: return "HKEY_CURRENT_CONFIG";
  }
  return "HKEY_CURRENT_USER";
}

void SetRegistryValueLimitForTest(std::size_t bytes) {
  registry_internal::g_value_limit_for_test.store(bytes, std::memory_order_relaxed);
}

}  // namespace platform
