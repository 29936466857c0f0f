// Copy Registry copies a whole tree (every value of every type, every
// subkey) and Delete Registry removes it again.
#include <gtest/gtest.h>

#include "data/registry_actions.h"
#include "platform/registry.h"
#include "tests/settings/store_sandbox.h"
#include "vars/registry_value.h"

namespace olvex::test {
namespace {

using platform::RegistryRoot;
using platform::RegistryStatus;

// Every value and subkey below `key`, as "path|name|type|bytes" lines.
void Walk(const std::string& key, const std::string& shown, std::vector<std::string>& out) {
  std::vector<std::string> names;
  ASSERT_EQ(platform::ListRegistryValues(RegistryRoot::kCurrentUser, key, &names), RegistryStatus::kOk);
  for (const std::string& name : names) {
    platform::RegistryData v;
    ASSERT_EQ(platform::ReadRegistryValue(RegistryRoot::kCurrentUser, key, name, &v), RegistryStatus::kOk);
    out.push_back(shown + "|" + name + "|" + std::to_string(v.type) + "|" + v.data);
  }
  ASSERT_EQ(platform::ListRegistrySubkeys(RegistryRoot::kCurrentUser, key, &names), RegistryStatus::kOk);
  for (const std::string& name : names) {
    out.push_back(shown + "\\" + name);
    Walk(key + "\\" + name, shown + "\\" + name, out);
  }
}

TEST(RegistryTree, AThousandKeysAreCopiedAndDeleted) {
  StoreSandbox sandbox;
  const std::string base = "SOFTWARE\\" + sandbox.key();
  const std::uint32_t types[] = {platform::regtype::kSz, platform::regtype::kDword, platform::regtype::kBinary,
                                 platform::regtype::kMultiSz, platform::regtype::kExpandSz, platform::regtype::kQword};
  for (int i = 0; i < 1000; ++i) {
    const std::string key = base + "\\Tree\\K" + std::to_string(i / 100) + "\\K" + std::to_string(i / 10 % 10) + "\\K" +
                            std::to_string(i % 10);
    const std::uint32_t type = types[i % 6];
    std::string data = "v" + std::to_string(i) + std::string(type == platform::regtype::kBinary ? 2 : 1, '\0');
    if (type == platform::regtype::kDword) data = data.substr(0, 4);
    if (type == platform::regtype::kQword) data = std::string(8, static_cast<char>(i));
    ASSERT_EQ(platform::WriteRegistryValue(RegistryRoot::kCurrentUser, key, "Value " + std::to_string(i), type, data),
              RegistryStatus::kOk);
  }
  ASSERT_EQ(platform::WriteRegistryValue(RegistryRoot::kCurrentUser, base + "\\Tree", "", platform::regtype::kSz,
                                         std::string("default\0", 8)),
            RegistryStatus::kOk);
  std::string error;
  const std::string root = "HKEY_CURRENT_USER\\" + base;
  ASSERT_TRUE(CopyRegistryTree(root + "\\Tree", "KEY_CURRENT_USER\\" + base + "\\Copy\\", &error)) << error;
  std::vector<std::string> tree, copy;
  Walk(base + "\\Tree", "", tree);
  Walk(base + "\\Copy", "", copy);
  EXPECT_EQ(tree.size(), 2111u);
  EXPECT_TRUE(tree == copy);

  EXPECT_FALSE(CopyRegistryTree(root + "\\Tree", root + "\\Tree\\K1", &error));
  EXPECT_FALSE(CopyRegistryTree(root + "\\Missing", root + "\\Other", &error));
  EXPECT_FALSE(CopyRegistryTree(root + "\\Tree", "HKEY_USERS\\", &error));
  EXPECT_TRUE(RegistryDelete(root + "\\Copy"));
  EXPECT_FALSE(platform::RegistryKeyExists(RegistryRoot::kCurrentUser, base + "\\Copy"));
  // Nothing of the deleted tree, at any depth, comes back when a key of it is made again.
  ASSERT_EQ(platform::WriteRegistryValue(RegistryRoot::kCurrentUser, base + "\\Copy\\K9\\K9", "x",
                                         platform::regtype::kDword, "1234"),
            RegistryStatus::kOk);
  std::vector<std::string> again;
  Walk(base + "\\Copy", "", again);
  EXPECT_EQ(again, (std::vector<std::string>{"\\K9", "\\K9\\K9", "\\K9\\K9|x|4|1234"}));
  EXPECT_TRUE(platform::RegistryKeyExists(RegistryRoot::kCurrentUser, base + "\\Tree\\K9\\K9\\K9"));
}

}  // namespace
}  // namespace olvex::test
