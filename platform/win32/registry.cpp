// The registry on Windows: advapi32, A-functions.
#include <windows.h>

#include <atomic>
#include <new>

#include "platform/registry.h"

namespace platform {

namespace registry_internal {
extern std::atomic<std::size_t> g_value_limit_for_test;
}

namespace {

HKEY RootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::kCurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::kLocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::kUsers: return HKEY_USERS;
    case RegistryRoot::kCurrentConfig: return HKEY_CURRENT_CONFIG;
  }
  return HKEY_CURRENT_USER;
}

RegistryStatus FromError(LONG err) {
  switch (err) {
    case ERROR_SUCCESS: return RegistryStatus::kOk;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return RegistryStatus::kNotFound;
    case ERROR_ACCESS_DENIED: return RegistryStatus::kAccessDenied;
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE: return RegistryStatus::kBadName;
    default: return RegistryStatus::kFailed;
  }
}

// Reads ask for the 64-bit view on every Windows but 2000, which lacks it.
REGSAM ReadView() {
  static const REGSAM view = [] {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    bool win2000 = GetVersionExA(&info) && info.dwMajorVersion == 5 && info.dwMinorVersion == 0;
#pragma GCC diagnostic pop
    return win2000 ? REGSAM{0} : REGSAM{KEY_WOW64_64KEY};
  }();
  return view;
}

// Names with a NUL cannot travel through the A-functions.
bool NameOk(std::string_view name) { return name.find('\0') == std::string_view::npos; }

class Key {
 public:
  ~Key() {
    if (h_) RegCloseKey(h_);
  }
  LONG Open(RegistryRoot root, std::string_view key, REGSAM access) {
    return RegOpenKeyExA(RootKey(root), std::string(key).c_str(), 0, access, &h_);
  }
  LONG Create(RegistryRoot root, std::string_view key, REGSAM access) {
    return RegCreateKeyExA(RootKey(root), std::string(key).c_str(), 0, nullptr, 0, access, nullptr, &h_, nullptr);
  }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

}  // namespace

RegistryStatus ReadRegistryValue(RegistryRoot root, std::string_view key, std::string_view name, RegistryData* out) {
  if (!NameOk(key) || !NameOk(name)) return RegistryStatus::kBadName;
  Key k;
  if (LONG err = k.Open(root, key, KEY_QUERY_VALUE | ReadView()); err != ERROR_SUCCESS) return FromError(err);
  std::string value_name(name);
  DWORD type = 0;
  if (!out) return FromError(RegQueryValueExA(k.get(), value_name.c_str(), nullptr, &type, nullptr, nullptr));
  char small[4096];
  DWORD size = sizeof small;
  LONG err = RegQueryValueExA(k.get(), value_name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(small), &size);
  if (err == ERROR_SUCCESS) {
    out->type = type;
    out->data.assign(small, size);
    return RegistryStatus::kOk;
  }
  std::string big;
  try {
    // The value may grow between two calls: ask again until it fits.
    for (int round = 0; round < 8 && err == ERROR_MORE_DATA; ++round) {
      big.resize(size);
      err = RegQueryValueExA(k.get(), value_name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(big.data()), &size);
    }
  } catch (const std::bad_alloc&) {
    return RegistryStatus::kFailed;
  }
  if (err != ERROR_SUCCESS) return FromError(err);
  big.resize(size);
  out->type = type;
  out->data = std::move(big);
  return RegistryStatus::kOk;
}

RegistryStatus WriteRegistryValue(RegistryRoot root, std::string_view key, std::string_view name, std::uint32_t type,
                                  std::string_view data) {
  if (!NameOk(key) || !NameOk(name)) return RegistryStatus::kBadName;
  std::size_t limit = registry_internal::g_value_limit_for_test.load(std::memory_order_relaxed);
  if ((limit && data.size() > limit) || data.size() > 0xFFFFFFFFu) return RegistryStatus::kRefused;
  Key k;
  if (LONG err = k.Create(root, key, KEY_SET_VALUE | KEY_QUERY_VALUE); err != ERROR_SUCCESS) return FromError(err);
  LONG err = RegSetValueExA(k.get(), std::string(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size()));
  if (err == ERROR_SUCCESS) return RegistryStatus::kOk;
  RegistryStatus status = FromError(err);
  return status == RegistryStatus::kFailed ? RegistryStatus::kRefused : status;
}

RegistryStatus DeleteRegistryValue(RegistryRoot root, std::string_view key, std::string_view name) {
  if (!NameOk(key) || !NameOk(name)) return RegistryStatus::kBadName;
  Key k;
  if (LONG err = k.Open(root, key, KEY_SET_VALUE); err != ERROR_SUCCESS) return FromError(err);
  return FromError(RegDeleteValueA(k.get(), std::string(name).c_str()));
}

bool RegistryKeyExists(RegistryRoot root, std::string_view key) {
  if (!NameOk(key)) return false;
  Key k;
  return k.Open(root, key, KEY_QUERY_VALUE | ReadView()) == ERROR_SUCCESS;
}

RegistryStatus CreateRegistryKey(RegistryRoot root, std::string_view key) {
  if (!NameOk(key)) return RegistryStatus::kBadName;
  Key k;
  return FromError(k.Create(root, key, KEY_QUERY_VALUE));
}

namespace {
// Empties a key of its subkeys, depth first, then deletes it.
LONG DeleteTree(HKEY parent, const std::string& name) {
  HKEY h = nullptr;
  LONG err = RegOpenKeyExA(parent, name.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE, &h);
  if (err != ERROR_SUCCESS) return err;
  for (;;) {
    char sub[kMaxRegistryKeyName + 1];
    DWORD len = sizeof sub;
    if (RegEnumKeyExA(h, 0, sub, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (DeleteTree(h, std::string(sub, len)) != ERROR_SUCCESS) break;
  }
  RegCloseKey(h);
  return RegDeleteKeyA(parent, name.c_str());
}
}  // namespace

RegistryStatus DeleteRegistryKey(RegistryRoot root, std::string_view key) {
  if (!NameOk(key)) return RegistryStatus::kBadName;
  if (key.empty()) return RegistryStatus::kAccessDenied;
  return FromError(DeleteTree(RootKey(root), std::string(key)));
}

RegistryStatus ListRegistryValues(RegistryRoot root, std::string_view key, std::vector<std::string>* names) {
  names->clear();
  if (!NameOk(key)) return RegistryStatus::kBadName;
  Key k;
  if (LONG err = k.Open(root, key, KEY_QUERY_VALUE | ReadView()); err != ERROR_SUCCESS) return FromError(err);
  std::string name(kMaxRegistryValueName + 1, '\0');
  for (DWORD i = 0;; ++i) {
    DWORD len = static_cast<DWORD>(name.size());
    LONG err = RegEnumValueA(k.get(), i, name.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (err == ERROR_NO_MORE_ITEMS) break;
    if (err != ERROR_SUCCESS) return FromError(err);
    names->emplace_back(name.data(), len);
  }
  return RegistryStatus::kOk;
}

RegistryStatus ListRegistrySubkeys(RegistryRoot root, std::string_view key, std::vector<std::string>* names) {
  names->clear();
  if (!NameOk(key)) return RegistryStatus::kBadName;
  Key k;
  if (LONG err = k.Open(root, key, KEY_ENUMERATE_SUB_KEYS | ReadView()); err != ERROR_SUCCESS) return FromError(err);
  for (DWORD i = 0;; ++i) {
    char sub[kMaxRegistryKeyName + 1];
    DWORD len = sizeof sub;
    LONG err = RegEnumKeyExA(k.get(), i, sub, &len, nullptr, nullptr, nullptr, nullptr);
    if (err == ERROR_NO_MORE_ITEMS) break;
    if (err != ERROR_SUCCESS) return FromError(err);
    names->emplace_back(sub, len);
  }
  return RegistryStatus::kOk;
}

namespace {
std::optional<std::size_t> CountEntries(RegistryRoot root, std::string_view key, bool subkeys) {
  if (!NameOk(key)) return std::nullopt;
  Key k;
  if (k.Open(root, key, KEY_QUERY_VALUE | ReadView()) != ERROR_SUCCESS) return std::nullopt;
  DWORD keys = 0, values = 0;
  if (RegQueryInfoKeyA(k.get(), nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return std::nullopt;
  return subkeys ? keys : values;
}
}  // namespace

std::optional<std::size_t> CountRegistryValues(RegistryRoot root, std::string_view key) {
  return CountEntries(root, key, false);
}
std::optional<std::size_t> CountRegistrySubkeys(RegistryRoot root, std::string_view key) {
  return CountEntries(root, key, true);
}

std::string RegistryLocation() { return "the Windows registry"; }

std::string RegistryProblem() { return {}; }

RegistryReadScope::RegistryReadScope() = default;
RegistryReadScope::~RegistryReadScope() = default;

// The registry tells no one what changed: callers ask it every time.
std::optional<RegistryNamesMark> CurrentRegistryNamesMark() { return std::nullopt; }

}  // namespace platform
