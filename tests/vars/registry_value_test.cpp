// The registry value accessor: the same tests run natively (the POSIX store)
// and under Wine (the real registry).
#include "vars/registry_value.h"

#include <gtest/gtest.h>

#include <tuple>

#include "platform/environment.h"
#include "platform/registry.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/case_table.h"

namespace olvex::test {
namespace {

using platform::RegistryRoot;
namespace regtype = platform::regtype;
using namespace std::string_literals;

// The file a spilled value's reference ("FILE::<path>" and a zero byte) names.
std::string SpillFileOf(const std::string& key, const std::string& name) {
  const std::string stored = StoredData(key, name).value_or("");
  return stored.rfind("FILE::", 0) == 0 ? stored.substr(6, stored.find('\0') - 6) : "";
}

// ---- path preparation (no registry involved)

TEST(RegistryPath, RootsKeysAndValueNames) {
  for (const CaseRow& row : CaseSection("tests/vars/registry_path_cases.txt", "paths", 5)) {
    SCOPED_TRACE(row.where + row.fields[0]);
    RegistryPath p = PrepareRegistryPath(row.fields[0]);
    EXPECT_EQ(p.ok, row.fields[1] == "ok");
    if (!p.ok) continue;
    EXPECT_EQ(std::make_tuple(std::string(platform::RegistryRootName(p.root)), p.key, p.name),
              std::make_tuple(row.fields[2], row.fields[3], row.fields[4]));
  }
}

TEST(RegistryPath, FormatsOnlyWithArgumentsAndRefusesOverLongPaths) {
  EXPECT_EQ(FormatPath("A\\%s\\v%d", std::array<PathArg, 2>{"x", 7}), "A\\x\\v7");
  const std::array<PathArg, 3> three{-5, 255u, "ab"};
  EXPECT_EQ(FormatPath("%d|%x|%s|%s|%%", three), "-5|ff|ab|%s|%");
  const std::array<PathArg, 1> one{"t"};
  EXPECT_EQ(FormatPath("%d %s", one), "%d t");  // a number conversion does not take text
  EXPECT_EQ(FormatPath("[%5d][%-4s][%05i][%ld][%c]", std::array<PathArg, 5>{42, "ab", -7, 9, 'Q'}),
            "[   42][ab  ][-0007][9][Q]");
  EXPECT_EQ(FormatPath("%X %I64d", std::array<PathArg, 2>{0xBEEF, 12}), "BEEF 12");

  // Without arguments a % is part of the name.
  EXPECT_EQ(PrepareRegistryPath("A\\50%d").name, "50%d");
  const std::array<PathArg, 1> name{"count"};
  EXPECT_EQ(PrepareRegistryPath("SOFTWARE\\V\\%s", name).name, "count");

  EXPECT_TRUE(PrepareRegistryPath("K\\" + std::string(509, 'n')).ok);
  EXPECT_FALSE(PrepareRegistryPath("K\\" + std::string(510, 'n')).ok);  // 512 characters
  const std::string long_text(600, 'n');
  const std::array<PathArg, 1> long_arg{long_text};
  EXPECT_FALSE(PrepareRegistryPath("K\\%s", long_arg).ok);
  EXPECT_FALSE(PrepareRegistryPath("").ok);
}

TEST(RegistryPath, OverrideMovesTheFirstOlvexSegment) {
  SetRegistryKeyOverride("Acme");
  EXPECT_EQ(PrepareRegistryPath("SOFTWARE\\Olvex\\UserVariables\\x").key, "SOFTWARE\\Acme\\UserVariables");
  EXPECT_EQ(PrepareRegistryPath("HKEY_CURRENT_USER\\Software\\OLVEX\\Olvex\\x").key, "Software\\Acme\\Olvex");
  EXPECT_EQ(PrepareRegistryPath("SOFTWARE\\Olvexx\\x").key, "SOFTWARE\\Olvexx");
  EXPECT_EQ(PrepareRegistryPath("SOFTWARE\\Olvex").name, "Olvex");  // a value name, not a segment
  SetRegistryKeyOverride("olvex");  // the program's own name is no override
  EXPECT_EQ(RegistryKeyOverride(), "");
  SetRegistryKeyOverride(std::string(200, 'k'));
  EXPECT_EQ(RegistryKeyOverride().size(), 128u);
  SetRegistryKeyOverride("");
  EXPECT_EQ(PrepareRegistryPath("SOFTWARE\\Olvex\\x").key, "SOFTWARE\\Olvex");
}

TEST(RegistryPath, MultiSzConversions) {
  for (const CaseRow& row : CaseSection("tests/vars/registry_path_cases.txt", "text to multi-sz", 2))
    EXPECT_EQ(TextToMultiSz(row.fields[0]), row.fields[1]) << row.where;
  for (const CaseRow& row : CaseSection("tests/vars/registry_path_cases.txt", "multi-sz to text", 2))
    EXPECT_EQ(MultiSzToText(row.fields[0]), row.fields[1]) << row.where;
}

// ---- the four modes against the store (a value name with a backslash: the
// script cases store/olvex_reg_*)

TEST(RegistryAccessor, FourModesRoundTrip) {
  StoreSandbox box;
  std::string data = "hello\0"s;
  std::uint32_t type = regtype::kSz;
  EXPECT_NE(RegistryValue(kRegWrite, &type, &data, data.size(), "SOFTWARE\\Olvex\\T\\greeting"), 0u);
  EXPECT_EQ(StoredData("SOFTWARE\\" + box.key() + "\\T", "greeting"), "hello\0"s);

  type = 0;
  EXPECT_EQ(RegistryValue(kRegQuerySize, &type, nullptr, 0, "SOFTWARE\\Olvex\\T\\GREETING"), 6u);
  EXPECT_EQ(type, regtype::kSz);

  std::string out = "old";
  EXPECT_EQ(RegistryValue(kRegRead, &type, &out, 6, "HKEY_CURRENT_USER\\SOFTWARE\\Olvex\\T\\%s", "greeting"), 6u);
  EXPECT_EQ(out, "hello\0"s);
  out = "old";
  EXPECT_EQ(RegistryValue(kRegRead, &type, &out, 5, "SOFTWARE\\Olvex\\T\\greeting"), 0u);  // too small
  EXPECT_EQ(out, "");

  // Binary bytes keep the writer's count; only `size` bytes of the buffer are stored.
  std::string bytes = "\x01\0\xff\0tail"s;
  type = regtype::kSz;
  EXPECT_NE(RegistryValue(kRegWrite, &type, &bytes, 4, "SOFTWARE\\Olvex\\T\\bin"), 0u);
  EXPECT_EQ(RegistryQuerySize("SOFTWARE\\Olvex\\T\\bin"), 4u);
  EXPECT_EQ(RegistryRead("SOFTWARE\\Olvex\\T\\bin"), "\x01\0\xff\0"s);
  EXPECT_EQ(RegistryValue(kRegWrite, &type, &bytes, bytes.size() + 1, "SOFTWARE\\Olvex\\T\\bin"), 0u);

  std::string dword("\x05\0\0\0", 4);
  type = regtype::kDword;
  EXPECT_NE(RegistryValue(kRegWrite, &type, &dword, 4, "SOFTWARE\\Olvex\\T\\n"), 0u);
  EXPECT_EQ(RegistryQuerySize("SOFTWARE\\Olvex\\T\\n", &type), 4u);
  EXPECT_EQ(type, regtype::kDword);

  // REG_MULTI_SZ: lines become a zero-separated list and come back as lines.
  std::string lines = "one\r\ntwo\nthree\0"s;
  type = regtype::kMultiSz;
  EXPECT_NE(RegistryValue(kRegWrite, &type, &lines, lines.size(), "SOFTWARE\\Olvex\\T\\list"), 0u);
  EXPECT_EQ(StoredData("SOFTWARE\\" + box.key() + "\\T", "list", &type), "one\0two\0three\0\0"s);
  EXPECT_EQ(type, regtype::kMultiSz);
  EXPECT_EQ(RegistryQuerySize("SOFTWARE\\Olvex\\T\\list"), 15u);
  out.clear();
  EXPECT_EQ(RegistryValue(kRegRead, &type, &out, 100, "SOFTWARE\\Olvex\\T\\list"), 16u);
  EXPECT_EQ(out, "one\r\ntwo\r\nthree\0"s);
  EXPECT_EQ(RegistryValue(kRegRead, &type, &out, 15, "SOFTWARE\\Olvex\\T\\list"), 0u);  // the lines need 16

  EXPECT_EQ(RegistryValue(kRegDelete, nullptr, nullptr, 0, "SOFTWARE\\Olvex\\T\\greeting"), 1u);
  EXPECT_EQ(RegistryQuerySize("SOFTWARE\\Olvex\\T\\greeting"), 0u);
  EXPECT_EQ(RegistryValue(kRegDelete, nullptr, nullptr, 0, "SOFTWARE\\Olvex\\T\\greeting"), 0u);
  out = "x";
  EXPECT_EQ(RegistryValue(kRegRead, nullptr, &out, 100, "SOFTWARE\\Olvex\\T\\greeting"), 0u);
  EXPECT_EQ(out, "");
}

TEST(RegistryAccessor, RefusedValuesSpillAboveFiveHundredTwelveBytes) {
  StoreSandbox box;
  platform::SetRegistryValueLimitForTest(300);
  std::string temp = box.Temp();
  ASSERT_FALSE(temp.empty());

  std::string big(600, 'x');
  big[0] = '\0';
  big[599] = '\xff';
  std::uint32_t type = regtype::kSz;
  EXPECT_NE(RegistryValue(kRegWrite, &type, &big, 600, "SOFTWARE\\Olvex\\UserVariables\\big"), 0u);
  // The readable name of the path, then eight hex digits.
  const std::string spill = SpillFileOf(box.VariablesKey(), "big");
  const std::string readable = temp + "SOFTWARE_" + box.key() + "_UserVariables_big-";
  EXPECT_EQ(spill.substr(0, readable.size()) + spill.substr(readable.size() + 8), readable + ".dat");
  EXPECT_EQ(spill.find_first_not_of("0123456789abcdef", readable.size()), readable.size() + 8) << spill;
  EXPECT_EQ(ReadBytes(spill), big);
  EXPECT_EQ(RegistryQuerySize("SOFTWARE\\Olvex\\UserVariables\\big"), 600u);
  std::string out;
  EXPECT_EQ(RegistryValue(kRegRead, &type, &out, 600, "SOFTWARE\\Olvex\\UserVariables\\big"), 600u);
  EXPECT_EQ(out, big);
  EXPECT_EQ(RegistryValue(kRegRead, &type, &out, 599, "SOFTWARE\\Olvex\\UserVariables\\big"), 0u);
  EXPECT_EQ(out, "");

  // Written again, smaller: the same file holds the new bytes.
  std::string again(700, 'y');
  EXPECT_TRUE(RegistryWrite("SOFTWARE\\Olvex\\UserVariables\\big", regtype::kSz, again));
  EXPECT_EQ(RegistryRead("SOFTWARE\\Olvex\\UserVariables\\big"), again);

  EXPECT_TRUE(RegistryDelete("SOFTWARE\\Olvex\\UserVariables\\big"));
  EXPECT_FALSE(platform::RegularFileSize(spill));
  EXPECT_EQ(StoredData(box.VariablesKey(), "big"), std::nullopt);

  // 512 bytes and less are not spilled: the write fails and leaves nothing.
  for (std::size_t size : {400u, 512u}) {
    std::string small(size, 's');
    EXPECT_FALSE(RegistryWrite("SOFTWARE\\Olvex\\UserVariables\\small", regtype::kSz, small)) << size;
    EXPECT_EQ(StoredData(box.VariablesKey(), "small"), std::nullopt);
    EXPECT_TRUE(std::filesystem::is_empty(temp));
  }
  EXPECT_TRUE(RegistryWrite("SOFTWARE\\Olvex\\UserVariables\\small", regtype::kSz, std::string(513, 's')));
}

TEST(RegistryAccessor, VanishedOrForeignSpillFiles) {
  StoreSandbox box;
  platform::SetRegistryValueLimitForTest(300);
  ASSERT_TRUE(RegistryWrite("SOFTWARE\\Olvex\\UserVariables\\gone", regtype::kSz, std::string(1000, 'g')));
  ASSERT_TRUE(platform::RemoveFile(SpillFileOf(box.VariablesKey(), "gone")));
  EXPECT_EQ(RegistryQuerySize("SOFTWARE\\Olvex\\UserVariables\\gone"), 0u);
  std::string out = "x";
  std::uint32_t type = 0;
  EXPECT_EQ(RegistryValue(kRegRead, &type, &out, 5000, "SOFTWARE\\Olvex\\UserVariables\\gone"), 0u);
  EXPECT_EQ(out, "");
  EXPECT_TRUE(RegistryDelete("SOFTWARE\\Olvex\\UserVariables\\gone"));

  // A reference written by hand (or copied from another value) can be read,
  // but deleting the value never deletes a file it does not own.
  std::string precious = box.dir().Write("precious.txt", "keep me");
  std::string ref = "FILE::" + precious;
  ref.push_back('\0');
  ASSERT_EQ(platform::WriteRegistryValue(RegistryRoot::kCurrentUser, box.VariablesKey(), "alias", regtype::kSz, ref),
            platform::RegistryStatus::kOk);
  EXPECT_EQ(RegistryRead("SOFTWARE\\Olvex\\UserVariables\\alias"), "keep me");
  EXPECT_TRUE(RegistryDelete("SOFTWARE\\Olvex\\UserVariables\\alias"));
  EXPECT_EQ(ReadBytes(precious), "keep me");
}

TEST(RegistryAccessor, DeletingAKeyDeletesEverythingBelowIt) {
  StoreSandbox box;
  platform::SetRegistryValueLimitForTest(300);
  for (const char* path : {"SOFTWARE\\Olvex\\UserVariables\\a", "SOFTWARE\\Olvex\\UserVariables\\Sub\\b",
                           "SOFTWARE\\Olvex\\UserVariables\\Sub\\Deeper\\c", "SOFTWARE\\Olvex\\Other\\keep"})
    ASSERT_TRUE(RegistryWrite(path, regtype::kSz, "v\0"s)) << path;
  ASSERT_TRUE(RegistryWrite("SOFTWARE\\Olvex\\UserVariables\\Sub\\large", regtype::kSz, std::string(800, 'L')));
  const std::string spill = SpillFileOf(box.VariablesKey() + "\\Sub", "large");
  ASSERT_TRUE(platform::RegularFileSize(spill));

  EXPECT_EQ(CountRegistryEntries("*\\UserVariables", false), 1u);
  EXPECT_EQ(CountRegistryEntries("HKEY_CURRENT_USER\\SOFTWARE\\Olvex\\UserVariables\\", true), 1u);
  EXPECT_EQ(CountRegistryEntries("*\\UserVariables\\Sub", false), 2u);
  EXPECT_EQ(CountRegistryEntries("*\\Nothing", false), 0u);

  EXPECT_TRUE(RegistryDelete("SOFTWARE\\Olvex\\UserVariables"));
  EXPECT_FALSE(platform::RegistryKeyExists(RegistryRoot::kCurrentUser, box.VariablesKey()));
  EXPECT_FALSE(platform::RegularFileSize(spill));
  EXPECT_EQ(RegistryRead("SOFTWARE\\Olvex\\Other\\keep"), "v\0"s);
  EXPECT_EQ(CountRegistryEntries("*\\UserVariables", false), 0u);
  EXPECT_FALSE(RegistryDelete("SOFTWARE\\Olvex\\UserVariables"));
}

TEST(RegistryAccessor, BadInputFailsCleanlyAndHarmsNothing) {
  StoreSandbox box;
  ASSERT_TRUE(RegistryWrite("SOFTWARE\\Olvex\\T\\keep", regtype::kSz, "safe\0"s));
  std::string buf = "junk";
  std::uint32_t type = regtype::kSz;
  EXPECT_EQ(RegistryValue(0, &type, &buf, 4, "SOFTWARE\\Olvex\\T\\keep"), 0u);
  EXPECT_EQ(RegistryValue(5, &type, &buf, 4, "SOFTWARE\\Olvex\\T\\keep"), 0u);
  EXPECT_EQ(RegistryValue(kRegWrite, &type, nullptr, 4, "SOFTWARE\\Olvex\\T\\keep"), 0u);
  EXPECT_EQ(RegistryValue(kRegRead, &type, nullptr, 4, "SOFTWARE\\Olvex\\T\\keep"), 0u);
  buf = "junk";
  EXPECT_EQ(RegistryValue(kRegRead, &type, &buf, 4, ""), 0u);
  EXPECT_EQ(buf, "");
  buf = "x";
  for (const std::string& path : {"SOFTWARE\\Olvex\\T\\"s, "\\A\\keep"s, "SOFTWARE\\\\Olvex\\T\\keep"s,
                                  "SOFTWARE\\Olvex\\T\\" + std::string(600, 'k'),
                                  "SOFTWARE\\Olvex\\" + std::string(300, 'K') + "\\v"}) {
    SCOPED_TRACE(path.substr(0, 40));
    EXPECT_EQ(RegistryValue(kRegWrite, &type, &buf, 1, path), 0u);
    EXPECT_EQ(RegistryQuerySize(path), 0u);
    EXPECT_FALSE(RegistryDelete(path));
  }
  // Deleting with an empty value name never takes the key with it.
  EXPECT_FALSE(RegistryDelete("SOFTWARE\\Olvex\\T\\"));
  EXPECT_EQ(RegistryRead("SOFTWARE\\Olvex\\T\\keep"), "safe\0"s);
}

}  // namespace
}  // namespace olvex::test
