// The registry service itself: natively the POSIX store, under Wine the real
// registry; the POSIX-only parts (files, permissions, damage) at the end.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "tests/settings/store_sandbox.h"

#ifndef _WIN32
#include <sys/stat.h>

#include "platform/module.h"
#include "platform/posix/registry_folders.h"
#endif

namespace olvex::test {
namespace {

using platform::RegistryRoot;
using platform::RegistryStatus;
namespace regtype = platform::regtype;
using namespace std::string_literals;

constexpr RegistryRoot kHKCU = RegistryRoot::kCurrentUser;

RegistryStatus Put(const std::string& key, const std::string& name, const std::string& data,
                   std::uint32_t type = regtype::kSz) {
  return platform::WriteRegistryValue(kHKCU, key, name, type, data);
}

// Names compare without case and keep the case they were made with: the script
// cases store/olvex_reg_* (written by the runtime, shown by olvex-reg).

TEST(RegistryStore, TypesAndByteCountsAreKept) {
  StoreSandbox box;
  std::string key = "SOFTWARE\\" + box.key() + "\\Types";
  struct { const char* name; std::uint32_t type; std::string data; } values[] = {
      {"sz", regtype::kSz, "text\0"s}, {"expand", regtype::kExpandSz, "%PATH%\0"s},
      {"binary", regtype::kBinary, "\0\x01\xff\0"s}, {"empty", regtype::kBinary, ""s}, {"none", regtype::kNone, "zz"s},
      {"dword", regtype::kDword, "\x2a\0\0\0"s}, {"qword", regtype::kQword, "\1\2\3\4\5\6\7\x08"s},
      {"multi", regtype::kMultiSz, "a\0b\0\0"s}, {"large", regtype::kBinary, std::string(70000, '\xA5')},
  };
  for (const auto& v : values) ASSERT_EQ(Put(key, v.name, v.data, v.type), RegistryStatus::kOk) << v.name;
  for (const auto& v : values) {
    std::uint32_t type = 99;
    EXPECT_EQ(StoredData(key, v.name, &type), v.data) << v.name;
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
  for (std::size_t i = 0; i < std::size(names); ++i) EXPECT_EQ(StoredData(key, names[i]), std::to_string(i)) << i;
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
  EXPECT_EQ(StoredData(base + "\\A\\B\\C", "v"), std::nullopt);
  EXPECT_EQ(platform::DeleteRegistryKey(kHKCU, base + "\\A"), RegistryStatus::kNotFound);
  {
    const platform::RegistryReadScope one_state;  // a write of the thread ends its snapshot
    EXPECT_EQ(StoredData(base + "\\X", "v"), std::nullopt);
    ASSERT_EQ(Put(base + "\\X", "v", "1\0"s), RegistryStatus::kOk);
    EXPECT_EQ(StoredData(base + "\\x", "V"), "1\0"s);
  }
  EXPECT_EQ(platform::DeleteRegistryKey(kHKCU, base + "\\X"), RegistryStatus::kOk);
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
  EXPECT_EQ(StoredData("software\\" + std::string(255, 'K'), "V"), "1");
}

TEST(RegistryStoreFiles, TheDatabaseIsPrivateAndLargeValuesAreRefused) {
  StoreSandbox box;
  mode_t saved_umask = ::umask(0);  // the store does not rely on the umask
  RegistryStatus put = Put("SOFTWARE\\P\\Q", "v", "1");
  ::umask(saved_umask);
  ASSERT_EQ(put, RegistryStatus::kOk);
  struct stat st;
  ASSERT_EQ(::stat(StoreFolder(box).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  for (const auto& e : std::filesystem::directory_iterator(StoreFolder(box))) {
    ASSERT_EQ(::lstat(e.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << e.path();  // registry.db and its journal files
  }
  EXPECT_TRUE(std::filesystem::exists(StoreFolder(box) + "/registry.db"));

  EXPECT_EQ(Put("SOFTWARE\\P", "max", std::string(platform::kDefaultRegistryValueLimit, 'm')), RegistryStatus::kOk);
  EXPECT_EQ(Put("SOFTWARE\\P", "over", std::string(platform::kDefaultRegistryValueLimit + 1, 'm')),
            RegistryStatus::kRefused);
  EXPECT_EQ(StoredData("SOFTWARE\\P", "over"), std::nullopt);
  EXPECT_EQ(Put("SOFTWARE\\P", std::string(platform::kMaxRegistryValueName, 'n'), "1"), RegistryStatus::kOk);
  EXPECT_EQ(Put("SOFTWARE\\P", std::string(platform::kMaxRegistryValueName + 1, 'n'), "1"), RegistryStatus::kBadName);
}

TEST(RegistryStoreFiles, ADamagedDatabaseIsReportedAndLeftAsItIs) {
  StoreSandbox box;
  std::filesystem::create_directories(StoreFolder(box));
  const std::string db = StoreFolder(box) + "/registry.db";
  const std::string garbage = "this is no database at all, but it is the user's file" + std::string(5000, 'x');
  std::ofstream(db, std::ios::binary) << garbage;
  EXPECT_EQ(platform::ReadRegistryValue(kHKCU, "SOFTWARE\\D", "v", nullptr), RegistryStatus::kCorrupt);
  EXPECT_NE(platform::RegistryProblem().find(db), std::string::npos) << platform::RegistryProblem();
  EXPECT_EQ(Put("SOFTWARE\\D", "v", "1"), RegistryStatus::kCorrupt);
  EXPECT_EQ(platform::DeleteRegistryKey(kHKCU, "SOFTWARE"), RegistryStatus::kCorrupt);
  std::vector<std::string> names;
  EXPECT_EQ(platform::ListRegistryValues(kHKCU, "", &names), RegistryStatus::kCorrupt);
  EXPECT_EQ(ReadBytes(db), garbage);
  // olvex-reg names the file too.
  ChildResult r = RunChild({BuiltProgram("olvex-reg"), "add", "HKCU\\SOFTWARE\\D", "/v", "v", "/d", "1", "/f"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find(db), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(db), garbage);
}

// The store's earlier form (a folder per key, a file per value) is imported on
// first open: the export afterwards is that of the same values written into a
// new store, and the old folders are kept aside.
TEST(RegistryStoreFiles, AFolderStoreIsImportedOnceAndKeptAside) {
  StoreSandbox box;
  namespace folders = platform::folder_registry;
  const std::string old_store = box.dir().File("old"), new_store = box.dir().File("new");
  const std::string vars = "SOFTWARE\\" + box.key() + "\\UserVariables";
  const struct { RegistryRoot root; std::string key, name; std::uint32_t type; std::string data; } values[] = {
      {kHKCU, vars, "count", regtype::kSz, "41\0"s},
      {kHKCU, vars, "big", regtype::kSz, "FILE::/tmp/olvex-1000/SOFTWARE_Olvex_UserVariables_big.dat\0"s},
      {kHKCU, vars, "list[3]", regtype::kSz, "third\0"s}, {kHKCU, vars, "Bin", regtype::kBinary, "\0\x01\xff"s},
      {kHKCU, "SOFTWARE\\" + box.key(), "LogLevel", regtype::kDword, "\x02\0\0\0"s},
      {kHKCU, "SOFTWARE\\" + box.key(), "", regtype::kSz, "default\0"s},
      {kHKCU, "SOFTWARE\\" + box.key() + "\\Palettes\\MainList\\Deep\\Deeper", "Q", regtype::kQword, "\1\2\3\4\5\6\7\x08"s},
      {kHKCU, "SOFTWARE\\" + box.key() + "\\Multi", "a\\b", regtype::kMultiSz, "x\0y\0\0"s},
      {kHKCU, "SOFTWARE\\" + box.key() + "\\Multi", std::string(300, '%'), regtype::kExpandSz, "%PATH%\0"s},
      {RegistryRoot::kLocalMachine, "SOFTWARE\\" + box.key(), "machine", regtype::kSz, "m\0"s},
  };
  for (const auto& v : values)
    ASSERT_EQ(folders::Write(old_store, v.root, v.key, v.name, v.type, v.data), RegistryStatus::kOk) << v.name;
  ASSERT_EQ(folders::CreateKey(old_store, kHKCU, "SOFTWARE\\" + box.key() + "\\Empty"), RegistryStatus::kOk);

  const std::string tool = BuiltProgram("olvex-reg");
  auto exported = [&](const std::string& store, const std::string& root) {
    platform::WriteEnv("OLVEX_REGISTRY", store);
    ChildResult r = RunChild({tool, "export", root + "\\SOFTWARE\\" + box.key()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
  };
  platform::WriteEnv("OLVEX_REGISTRY", new_store);
  for (const auto& v : values) ASSERT_EQ(platform::WriteRegistryValue(v.root, v.key, v.name, v.type, v.data), RegistryStatus::kOk);
  ASSERT_EQ(platform::CreateRegistryKey(kHKCU, "SOFTWARE\\" + box.key() + "\\Empty"), RegistryStatus::kOk);
  for (const char* root : {"HKCU", "HKLM"}) {
    const std::string want = exported(new_store, root);
    EXPECT_NE(want.find(root == std::string("HKCU") ? "Deeper" : "machine"), std::string::npos);
    EXPECT_EQ(exported(old_store, root), want) << root;
  }
  EXPECT_FALSE(folders::Exists(old_store));
  EXPECT_TRUE(folders::Exists(old_store + "/folder-store-imported"));
  platform::RegistryData kept;
  EXPECT_EQ(folders::Read(old_store + "/folder-store-imported", kHKCU, vars, "count", &kept), RegistryStatus::kOk);
  // Once only: a value deleted after the import stays deleted.
  platform::WriteEnv("OLVEX_REGISTRY", old_store);
  EXPECT_EQ(platform::DeleteRegistryValue(kHKCU, vars, "count"), RegistryStatus::kOk);
  std::filesystem::rename(old_store + "/folder-store-imported/HKEY_CURRENT_USER", old_store + "/HKEY_CURRENT_USER");
  platform::WriteEnv("OLVEX_REGISTRY", old_store + "/.");  // a new connection
  EXPECT_EQ(StoredData(vars, "count"), std::nullopt);
  EXPECT_EQ(StoredData(vars, "list[3]"), "third\0"s);
  platform::WriteEnv("OLVEX_REGISTRY", StoreFolder(box));
}
#endif

}  // namespace
}  // namespace olvex::test
