// The registry service itself: natively the POSIX store, under Wine the real
// registry; the POSIX-only parts (files, permissions, damage) at the end.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "tests/settings/store_sandbox.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace olvex::test {
namespace {

using platform::RegistryRoot;
using platform::RegistryStatus;
namespace regtype = platform::regtype;
using namespace std::string_literals;

constexpr RegistryRoot kHKCU = RegistryRoot::kCurrentUser;

std::optional<std::string> Get(const std::string& key, const std::string& name, std::uint32_t* type = nullptr) {
  platform::RegistryData v;
  if (platform::ReadRegistryValue(kHKCU, key, name, &v) != RegistryStatus::kOk) return std::nullopt;
  if (type) *type = v.type;
  return v.data;
}

RegistryStatus Put(const std::string& key, const std::string& name, const std::string& data,
                   std::uint32_t type = regtype::kSz) {
  return platform::WriteRegistryValue(kHKCU, key, name, type, data);
}

TEST(RegistryStore, NamesCompareWithoutCaseAndKeepTheirCase) {
  StoreSandbox box;
  std::string key = "SOFTWARE\\" + box.key() + "\\Case\\MixedKey";
  ASSERT_EQ(Put(key, "LogLevel", "1\0"s), RegistryStatus::kOk);
  EXPECT_EQ(Get("software\\" + box.key() + "\\CASE\\mixedkey", "LOGLEVEL"), "1\0"s);
  ASSERT_EQ(Put("SOFTWARE\\" + box.key() + "\\CASE\\MIXEDKEY", "loglevel", "2\0"s), RegistryStatus::kOk);
  EXPECT_EQ(Get(key, "LogLevel"), "2\0"s);

  std::vector<std::string> names;
  ASSERT_EQ(platform::ListRegistryValues(kHKCU, key, &names), RegistryStatus::kOk);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(names[0] == "LogLevel" || names[0] == "loglevel") << names[0];  // one value, either spelling
  ASSERT_EQ(platform::ListRegistrySubkeys(kHKCU, "SOFTWARE\\" + box.key() + "\\Case", &names), RegistryStatus::kOk);
  EXPECT_EQ(names, std::vector<std::string>{"MixedKey"});
  EXPECT_TRUE(platform::RegistryKeyExists(kHKCU, "SOFTWARE\\" + box.key() + "\\case\\MIXEDkey"));
  EXPECT_EQ(platform::DeleteRegistryValue(kHKCU, key, "LOGlevel"), RegistryStatus::kOk);
  EXPECT_EQ(Get(key, "LogLevel"), std::nullopt);
  EXPECT_EQ(platform::DeleteRegistryValue(kHKCU, key, "LogLevel"), RegistryStatus::kNotFound);
}

TEST(RegistryStore, TypesAndByteCountsAreKept) {
  StoreSandbox box;
  std::string key = "SOFTWARE\\" + box.key() + "\\Types";
  struct {
    const char* name;
    std::uint32_t type;
    std::string data;
  } values[] = {
      {"sz", regtype::kSz, "text\0"s},
      {"expand", regtype::kExpandSz, "%PATH%\0"s},
      {"binary", regtype::kBinary, "\0\x01\xff\0"s},
      {"empty", regtype::kBinary, ""s},
      {"none", regtype::kNone, "zz"s},
      {"dword", regtype::kDword, "\x2a\0\0\0"s},
      {"qword", regtype::kQword, "\1\2\3\4\5\6\7\x08"s},
      {"multi", regtype::kMultiSz, "a\0b\0\0"s},
      {"large", regtype::kBinary, std::string(70000, '\xA5')},
  };
  for (const auto& v : values) ASSERT_EQ(Put(key, v.name, v.data, v.type), RegistryStatus::kOk) << v.name;
  for (const auto& v : values) {
    std::uint32_t type = 99;
    EXPECT_EQ(Get(key, v.name, &type), v.data) << v.name;
    EXPECT_EQ(type, v.type) << v.name;
  }
  EXPECT_EQ(platform::CountRegistryValues(kHKCU, key), std::size(values));
  EXPECT_EQ(platform::CountRegistrySubkeys(kHKCU, key), 0u);
  EXPECT_EQ(platform::CountRegistryValues(kHKCU, key + "\\missing"), std::nullopt);
}

TEST(RegistryStore, ValueNamesMayHoldAnyByteButNul) {
  StoreSandbox box;
  std::string key = "SOFTWARE\\" + box.key() + "\\Names";
  const std::string names[] = {"a\\b", "..", "../../etc", "a/b", "%41", "50% off", "tab\there", "caf\xe9", "",
                               "x=y;z", std::string(1000, 'n'), std::string(300, '%')};
  for (std::size_t i = 0; i < std::size(names); ++i)
    ASSERT_EQ(Put(key, names[i], std::to_string(i), regtype::kBinary), RegistryStatus::kOk) << names[i].substr(0, 20);
  for (std::size_t i = 0; i < std::size(names); ++i) EXPECT_EQ(Get(key, names[i]), std::to_string(i)) << i;
  std::vector<std::string> listed;
  ASSERT_EQ(platform::ListRegistryValues(kHKCU, key, &listed), RegistryStatus::kOk);
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> expected(std::begin(names), std::end(names));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  // Nothing escaped into other keys.
  EXPECT_EQ(platform::CountRegistrySubkeys(kHKCU, key), 0u);
  EXPECT_EQ(Put(key, "nul\0inside"s, "x", regtype::kBinary), RegistryStatus::kBadName);
}

TEST(RegistryStore, KeysNeedProperComponentsAndDeleteAsTrees) {
  StoreSandbox box;
  std::string base = "SOFTWARE\\" + box.key() + "\\Tree";
  ASSERT_EQ(Put(base + "\\A\\B\\C", "v", "1"), RegistryStatus::kOk);
  ASSERT_EQ(Put(base + "\\A", "w", "2"), RegistryStatus::kOk);
  ASSERT_EQ(platform::CreateRegistryKey(kHKCU, base + "\\A\\Empty"), RegistryStatus::kOk);
  EXPECT_TRUE(platform::RegistryKeyExists(kHKCU, base + "\\A\\Empty"));
  EXPECT_EQ(platform::CountRegistrySubkeys(kHKCU, base + "\\A"), 2u);
  EXPECT_EQ(platform::DeleteRegistryKey(kHKCU, base + "\\a"), RegistryStatus::kOk);
  EXPECT_FALSE(platform::RegistryKeyExists(kHKCU, base + "\\A"));
  EXPECT_EQ(Get(base + "\\A\\B\\C", "v"), std::nullopt);
  EXPECT_EQ(platform::DeleteRegistryKey(kHKCU, base + "\\A"), RegistryStatus::kNotFound);
  EXPECT_NE(platform::DeleteRegistryKey(kHKCU, ""), RegistryStatus::kOk);  // never a root
  EXPECT_TRUE(platform::RegistryKeyExists(kHKCU, ""));
}

#ifndef _WIN32
// ---- POSIX: where the store lives, its files and what damage does

std::string StoreFolder(const StoreSandbox& box) { return box.dir().File("registry"); }

TEST(RegistryStoreFiles, LivesWhereTheEnvironmentSays) {
  StoreSandbox box;
  EXPECT_EQ(platform::RegistryLocation(), StoreFolder(box));
  auto home = platform::ReadEnv("HOME"), xdg = platform::ReadEnv("XDG_CONFIG_HOME");
  platform::RemoveEnv("OLVEX_REGISTRY");
  platform::WriteEnv("XDG_CONFIG_HOME", "/somewhere/config");
  EXPECT_EQ(platform::RegistryLocation(), "/somewhere/config/olvex/registry");
  platform::RemoveEnv("XDG_CONFIG_HOME");
  platform::WriteEnv("HOME", "/home/someone");
  EXPECT_EQ(platform::RegistryLocation(), "/home/someone/.config/olvex/registry");
  if (home) platform::WriteEnv("HOME", *home);
  if (xdg) platform::WriteEnv("XDG_CONFIG_HOME", *xdg);
  platform::WriteEnv("OLVEX_REGISTRY", StoreFolder(box));
}

TEST(RegistryStoreFiles, KeyNamesFollowTheRegistrysLimits) {
  StoreSandbox box;
  EXPECT_EQ(Put("SOFTWARE\\\\x", "v", "1"), RegistryStatus::kBadName);
  EXPECT_EQ(Put("\\SOFTWARE", "v", "1"), RegistryStatus::kBadName);
  EXPECT_EQ(Put("SOFTWARE\\", "v", "1"), RegistryStatus::kBadName);
  EXPECT_EQ(Put("SOFTWARE\\" + std::string(256, 'k'), "v", "1"), RegistryStatus::kBadName);
  EXPECT_EQ(Put("SOFTWARE\\" + std::string(255, 'k'), "v", "1"), RegistryStatus::kOk);
  EXPECT_EQ(Get("software\\" + std::string(255, 'K'), "V"), "1");
}

TEST(RegistryStoreFiles, FoldersArePrivateAndFilesTooAndLargeValuesAreRefused) {
  StoreSandbox box;
  mode_t saved_umask = ::umask(0);  // the store does not rely on the umask
  RegistryStatus put = Put("SOFTWARE\\P\\Q", "v", "1");
  ::umask(saved_umask);
  ASSERT_EQ(put, RegistryStatus::kOk);
  namespace fs = std::filesystem;
  int folders = 0, files = 0;
  for (const auto& e : fs::recursive_directory_iterator(StoreFolder(box))) {
    struct stat st;
    ASSERT_EQ(::lstat(e.path().c_str(), &st), 0);
    if (S_ISDIR(st.st_mode)) {
      EXPECT_EQ(st.st_mode & 0777, 0700u) << e.path();
      ++folders;
    } else {
      EXPECT_EQ(st.st_mode & 0777, 0600u) << e.path();
      ++files;
    }
  }
  EXPECT_EQ(folders, 4);  // HKEY_CURRENT_USER, SOFTWARE, P, Q
  EXPECT_EQ(files, 4);    // three key names, one value
  struct stat st;
  ASSERT_EQ(::stat(StoreFolder(box).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  EXPECT_EQ(Put("SOFTWARE\\P", "max", std::string(platform::kDefaultRegistryValueLimit, 'm')), RegistryStatus::kOk);
  EXPECT_EQ(Put("SOFTWARE\\P", "over", std::string(platform::kDefaultRegistryValueLimit + 1, 'm')),
            RegistryStatus::kRefused);
  EXPECT_EQ(Get("SOFTWARE\\P", "over"), std::nullopt);
  EXPECT_EQ(Put("SOFTWARE\\P", "name", "1"), RegistryStatus::kOk);
  EXPECT_EQ(Put("SOFTWARE\\P", std::string(platform::kMaxRegistryValueName, 'n'), "1"), RegistryStatus::kOk);
  EXPECT_EQ(Put("SOFTWARE\\P", std::string(platform::kMaxRegistryValueName + 1, 'n'), "1"), RegistryStatus::kBadName);
}

// Finds the file of a value in the store: the only one with that encoded name.
std::string ValueFile(const StoreSandbox& box, const std::string& file_name) {
  for (const auto& e : std::filesystem::recursive_directory_iterator(StoreFolder(box)))
    if (e.path().filename() == file_name) return e.path().string();
  return {};
}

TEST(RegistryStoreFiles, DamagedFilesAreReportedAndHarmNothingElse) {
  StoreSandbox box;
  ASSERT_EQ(Put("SOFTWARE\\D", "good", "fine\0"s), RegistryStatus::kOk);
  const struct {
    const char* name;
    std::string damage;  // appended to the header, or the whole file when `whole`
    bool whole;
  } cases[] = {
      {"empty", "", true},
      {"garbage", "this is no value file at all", true},
      {"truncated", "", false},
      {"flipped", "", false},
      {"huge", "OXRV\1\0\0\0\4\0\0\0\xff\xff\xff\x7f\0\0\0\0"s, true},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Put("SOFTWARE\\D", c.name, "precious value\0"s), RegistryStatus::kOk);
    std::string file = ValueFile(box, std::string("v") + c.name);
    ASSERT_FALSE(file.empty());
    std::string bytes = ReadBytes(file);
    if (c.whole)
      bytes = c.damage;
    else if (std::string(c.name) == "truncated")
      bytes.resize(bytes.size() - 3);
    else
      bytes[bytes.size() - 2] ^= 0x20;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    platform::RegistryData v;
    EXPECT_EQ(platform::ReadRegistryValue(kHKCU, "SOFTWARE\\D", c.name, &v), RegistryStatus::kCorrupt) << c.name;
  }
  EXPECT_EQ(Get("SOFTWARE\\D", "good"), "fine\0"s);
  std::vector<std::string> names;
  EXPECT_EQ(platform::ListRegistryValues(kHKCU, "SOFTWARE\\D", &names), RegistryStatus::kOk);
  EXPECT_EQ(names, std::vector<std::string>{"good"});  // damaged values are left out
  // A damaged value can be written over or deleted.
  EXPECT_EQ(Put("SOFTWARE\\D", "garbage", "new\0"s), RegistryStatus::kOk);
  EXPECT_EQ(Get("SOFTWARE\\D", "garbage"), "new\0"s);
  EXPECT_EQ(platform::DeleteRegistryValue(kHKCU, "SOFTWARE\\D", "flipped"), RegistryStatus::kOk);
  // A file where a key folder belongs.
  std::ofstream(StoreFolder(box) + "/HKEY_CURRENT_USER/ksoftware/kplain", std::ios::binary) << "x";
  EXPECT_EQ(Get("SOFTWARE\\plain", "v"), std::nullopt);
  EXPECT_NE(Put("SOFTWARE\\plain", "v", "1"), RegistryStatus::kOk);
  EXPECT_EQ(Get("SOFTWARE\\D", "good"), "fine\0"s);
}

TEST(RegistryStoreFiles, LeftoversOfDeadWritersAreIgnoredAndClearedLater) {
  StoreSandbox box;
  ASSERT_EQ(Put("SOFTWARE\\L", "v", "1"), RegistryStatus::kOk);
  std::string folder = StoreFolder(box) + "/HKEY_CURRENT_USER/ksoftware/kl";
  std::string fresh = folder + "/.t999.1.1", old = folder + "/.t999.1.2";
  std::ofstream(fresh) << "half";
  std::ofstream(old) << "half";
  std::filesystem::last_write_time(old, std::filesystem::file_time_type::clock::now() - std::chrono::hours(2));
  std::vector<std::string> names;
  EXPECT_EQ(platform::ListRegistryValues(kHKCU, "SOFTWARE\\L", &names), RegistryStatus::kOk);
  EXPECT_EQ(names, std::vector<std::string>{"v"});
  EXPECT_EQ(platform::CountRegistryValues(kHKCU, "SOFTWARE\\L"), 1u);
  EXPECT_TRUE(std::filesystem::exists(fresh));  // a writer may still be at work
  EXPECT_FALSE(std::filesystem::exists(old));
}
#endif

}  // namespace
}  // namespace olvex::test
