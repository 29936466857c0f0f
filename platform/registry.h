#pragma once
// The registry: keys under five roots, each holding named values of a type
// with the bytes their writer gave.
//
// Windows: the real registry of the current user and machine. POSIX: a
// store with the same path rules in a folder of its own (OLVEX_REGISTRY, else
// $XDG_CONFIG_HOME/olvex/registry, else ~/.config/olvex/registry): one SQLite
// database, registry.db, each change one transaction, so that several
// processes can share it and a writer that dies mid-write damages nothing.
//
// Key paths are relative to the root and separated by `\`; key and value names
// compare without regard to case (ASCII) and keep the case they were written
// with. A value name may hold any byte but NUL, `\` included; the empty name
// is the key's default value.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegistryRoot { kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kCurrentConfig };

// Value types; the numbers are those of the Win32 API.
namespace regtype {
constexpr std::uint32_t kNone = 0, kSz = 1, kExpandSz = 2, kBinary = 3, kDword = 4, kDwordBigEndian = 5,
                        kLink = 6, kMultiSz = 7, kQword = 11;
}

enum class RegistryStatus {
  kOk,
  kNotFound,      // no such key or value
  kRefused,       // the value is too large to be stored
  kAccessDenied,
  kBadName,       // an empty key component, a NUL in a name, a name too long
  kCorrupt,       // POSIX: the database is damaged (it is left alone)
  kFailed,        // any other failure of the system
};

struct RegistryData {
  std::uint32_t type = regtype::kNone;
  std::string data;
};

// Reads a value (type and bytes).
RegistryStatus ReadRegistryValue(RegistryRoot root, std::string_view key, std::string_view name,
                                 RegistryData* out);
// Stores a value, creating the key and its parents when missing.
RegistryStatus WriteRegistryValue(RegistryRoot root, std::string_view key, std::string_view name,
                                  std::uint32_t type, std::string_view data);
RegistryStatus DeleteRegistryValue(RegistryRoot root, std::string_view key, std::string_view name);

bool RegistryKeyExists(RegistryRoot root, std::string_view key);
RegistryStatus CreateRegistryKey(RegistryRoot root, std::string_view key);
// Deletes a key with all its subkeys and values. A root itself (empty key) is never deleted.
RegistryStatus DeleteRegistryKey(RegistryRoot root, std::string_view key);

// Names of a key's values or subkeys, as written.
RegistryStatus ListRegistryValues(RegistryRoot root, std::string_view key, std::vector<std::string>* names);
RegistryStatus ListRegistrySubkeys(RegistryRoot root, std::string_view key, std::vector<std::string>* names);
// How many values or subkeys a key has; nothing when the key cannot be opened.
std::optional<std::size_t> CountRegistryValues(RegistryRoot root, std::string_view key);
std::optional<std::size_t> CountRegistrySubkeys(RegistryRoot root, std::string_view key);

// What the last failed call of this thread ran into, naming the file where
// there is one ("/home/u/.config/olvex/registry/registry.db: database disk
// image is malformed"); empty when the platform has nothing to add.
std::string RegistryProblem();

// A mark of the names the store holds, as this thread sees them: two marks
// taken by the same thread are equal only when no value was added or removed
// in between, by this process or any other (rewriting a value of this process
// leaves it). Nothing when the platform cannot tell: then ask every time.
struct RegistryNamesMark {
  std::uint64_t connection = 0, version = 0, changes = 0;
  bool operator==(const RegistryNamesMark&) const = default;
};
std::optional<RegistryNamesMark> CurrentRegistryNamesMark();

// While one lives, this thread's reads see one state of the store and cost
// less each (POSIX: the values the thread keeps, checked once at the start,
// and for the others one read transaction begun at the first of them; a
// write of the thread ends it).
class RegistryReadScope {
 public:
  RegistryReadScope();
  ~RegistryReadScope();
  RegistryReadScope(const RegistryReadScope&) = delete;
  RegistryReadScope& operator=(const RegistryReadScope&) = delete;

 private:
  std::uint64_t connection_ = 0;  // the connection whose transaction it began; 0 for none
};

// "HKEY_CURRENT_USER" and so on.
const char* RegistryRootName(RegistryRoot root);
// Where the store lives: the folder on POSIX (the database is registry.db in
// it), "the Windows registry" on Windows.
std::string RegistryLocation();

// Limits of names, as the Windows registry has them.
constexpr std::size_t kMaxRegistryKeyName = 255;     // one component of a key path
constexpr std::size_t kMaxRegistryValueName = 16383;
// POSIX: values larger than this are refused unless a test set another limit.
constexpr std::size_t kDefaultRegistryValueLimit = 1024 * 1024;

// Tests: values larger than `bytes` are refused (kRefused) without touching
// the store, on Windows as on POSIX; 0 puts the platform's own rule back.
void SetRegistryValueLimitForTest(std::size_t bytes);

}  // namespace platform
