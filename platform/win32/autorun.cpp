// Restart entries: string values of the current user's Run key.
#include "platform/autorun.h"
#include "platform/registry.h"

namespace platform {
namespace {

constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class RunKey : public AutoRun {
 public:
  std::optional<std::string> Read(const std::string& name) override {
    RegistryData data;
    if (ReadRegistryValue(RegistryRoot::kCurrentUser, kRunKey, name, &data) != RegistryStatus::kOk) return std::nullopt;
    std::string text = std::move(data.data);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }
  bool Write(const std::string& name, const std::string& command) override {
    return WriteRegistryValue(RegistryRoot::kCurrentUser, kRunKey, name, regtype::kSz, command) == RegistryStatus::kOk;
  }
  bool Remove(const std::string& name) override {
    const RegistryStatus status = DeleteRegistryValue(RegistryRoot::kCurrentUser, kRunKey, name);
    return status == RegistryStatus::kOk || status == RegistryStatus::kNotFound;
  }
};

}  // namespace

AutoRun& PlatformAutoRun() {
  static RunKey service;
  return service;
}

}  // namespace platform
