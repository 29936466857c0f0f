#pragma once
// A private registry for one test: on POSIX a store folder of its own
// (OLVEX_REGISTRY) and a temporary folder of its own (TMPDIR); on Windows a
// temporary folder of its own (TMP) and, in both, a scratch key that the
// `\Olvex\` segment of every accessor path is moved to. Everything is put
// back and removed afterwards.
#include <optional>
#include <random>
#include <string>

#include "engine/settings.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "tests/support/test_support.h"
#include "vars/registry_value.h"

namespace olvex::test {

class StoreSandbox {
 public:
#ifdef _WIN32
  static constexpr const char* kTempVariable = "TMP";
#else
  static constexpr const char* kTempVariable = "TMPDIR";
#endif

  StoreSandbox() {
    saved_registry_ = platform::ReadEnv("OLVEX_REGISTRY");
    saved_temp_ = platform::ReadEnv(kTempVariable);
    platform::WriteEnv("OLVEX_REGISTRY", dir_.File("registry"));
    std::filesystem::create_directory(dir_.path() / "tmp");
    platform::WriteEnv(kTempVariable, dir_.File("tmp"));
    key_ = "OlvexTest" + std::to_string(std::random_device{}() % 1000000000u);
    SetUpSettings("");
    SetRegistryKeyOverride(key_);
  }
  ~StoreSandbox() {
    SetRegistryKeyOverride("");
    RegistryDeleteKeyAt("HKEY_CURRENT_USER\\SOFTWARE\\" + key_);
    RegistryDeleteKeyAt("HKEY_LOCAL_MACHINE\\SOFTWARE\\" + key_);
    RegistryDeleteKeyAt("HKEY_CLASSES_ROOT\\" + key_);
    SetUpSettings("");
    platform::SetRegistryValueLimitForTest(0);
    Restore("OLVEX_REGISTRY", saved_registry_);
    Restore(kTempVariable, saved_temp_);
  }
  StoreSandbox(const StoreSandbox&) = delete;
  StoreSandbox& operator=(const StoreSandbox&) = delete;

  // SetUpSettings for a program path; when its INI file names no registry
  // key, the sandbox's key stays in force.
  void SetUpSettingsFor(const std::string& program_path) const {
    SetUpSettings(program_path);
    if (RegistryKeyOverride().empty()) SetRegistryKeyOverride(key_);
  }

  // The key that stands in for "Olvex": HKEY_CURRENT_USER\SOFTWARE\<key()>.
  const std::string& key() const { return key_; }
  // The registry key path of the user variables, below HKEY_CURRENT_USER.
  std::string VariablesKey() const { return "SOFTWARE\\" + key_ + "\\UserVariables"; }
  std::string Temp() const { return platform::TempFolder().value_or(""); }
  const ScratchDir& dir() const { return dir_; }

 private:
  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value)
      platform::WriteEnv(name, *value);
    else
      platform::RemoveEnv(name);
  }
  ScratchDir dir_;
  std::string key_;
  std::optional<std::string> saved_registry_, saved_temp_;
};

// The bytes of a value as the store holds them (its type into `type`), or
// nothing when it cannot be read.
inline std::optional<std::string> StoredData(const std::string& key, const std::string& name,
                                             std::uint32_t* type = nullptr,
                                             platform::RegistryRoot root = platform::RegistryRoot::kCurrentUser) {
  platform::RegistryData v;
  if (platform::ReadRegistryValue(root, key, name, &v) != platform::RegistryStatus::kOk) return std::nullopt;
  if (type) *type = v.type;
  return v.data;
}

// The runtime's store as a child program sees it: the sandbox's folder (POSIX)
// or the real root key (Windows), without the test's key override. Make one
// inside a StoreSandbox, write the child's settings, run it; the root key is
// removed afterwards.
class ChildStore {
 public:
  ChildStore() : key_(RegistryKeyOverride()) { SetRegistryKeyOverride(""); }
  ~ChildStore() {
    RegistryDeleteKeyAt("HKEY_CURRENT_USER\\SOFTWARE\\Olvex");
    SetRegistryKeyOverride(key_);
  }
  ChildStore(const ChildStore&) = delete;
  ChildStore& operator=(const ChildStore&) = delete;

 private:
  std::string key_;
};

}  // namespace olvex::test
