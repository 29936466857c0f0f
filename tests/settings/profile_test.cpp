// INI files: the same rules natively (our reader and writer) and under Wine
// (the profile API).
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

using platform::ReadProfileValue;

const char kIni[] =
    "; a comment\r\n"
    "top=before any section\r\n"
    "[First]\r\n"
    "Key=one\r\n"
    "  spaced   =   padded value   \r\n"
    "KEY=second of the same name\r\n"
    "quoted=\"in quotes\"\r\n"
    "single='in single quotes'\r\n"
    "half=\"only one\r\n"
    "novalue\r\n"
    "empty=\r\n"
    "equals=a=b\r\n"
    ";hidden=1\r\n"
    "\r\n"
    "[second]\n"
    "x=lf only\n"
    "[Comments]\r\n"
    "; only a comment\r\n"
    "[Empty]\r\n";

TEST(Profile, ReadsByTheProfileRules) {
  ScratchDir dir;
  std::string ini = dir.Write("rules.ini", kIni);
  using Value = std::optional<std::string>;
  const std::tuple<std::string, std::string, std::string, Value> reads[] = {
      {ini, "First", "Key", "one"}, {ini, "FIRST", "key", "one"},  // first match wins
      {ini, "First", "spaced", "padded value"}, {ini, " First ", " spaced ", "padded value"},
      {ini, "First", "quoted", "in quotes"}, {ini, "First", "single", "in single quotes"},
      {ini, "First", "half", "\"only one"}, {ini, "First", "novalue", std::nullopt}, {ini, "First", "empty", ""},
      {ini, "First", "equals", "a=b"}, {ini, "First", "x", std::nullopt}, {ini, "Second", "X", "lf only"},
      {ini, "", "top", "before any section"}, {ini, "First", "top", std::nullopt}, {ini, "First", "", std::nullopt},
      {ini, "Missing", "Key", std::nullopt}, {dir.File("missing.ini"), "First", "Key", std::nullopt}};
  for (const auto& [file, section, key, value] : reads) EXPECT_EQ(ReadProfileValue(file, section, key), value) << section << "/" << key;
  const std::pair<std::string, bool> sections[] = {{"first", true}, {"second", true}, {"Comments", false},
                                                   {"Empty", false}, {"Missing", false}};
  for (const auto& [section, has] : sections) EXPECT_EQ(platform::ProfileSectionHasKeys(ini, section), has) << section;
  EXPECT_FALSE(platform::ProfileSectionHasKeys(dir.File("missing.ini"), "First"));
}

TEST(Profile, WritesChangeOnlyWhatTheyName) {
  ScratchDir dir;
  std::string ini = dir.Write("edit.ini", kIni);
  ASSERT_TRUE(platform::WriteProfileValue(ini, "first", "KEY", "changed"));
  EXPECT_EQ(ReadProfileValue(ini, "First", "Key"), "changed");
  ASSERT_TRUE(platform::WriteProfileValue(ini, "First", "Added", "  new"));
  EXPECT_EQ(ReadProfileValue(ini, "First", "added"), "new");
  ASSERT_TRUE(platform::WriteProfileValue(ini, "Second", "y", "2"));
  ASSERT_TRUE(platform::WriteProfileValue(ini, "Brand New", "k", "v"));
  EXPECT_EQ(ReadProfileValue(ini, "brand new", "K"), "v");
  EXPECT_EQ(ReadProfileValue(ini, "second", "x"), "lf only");
  EXPECT_EQ(ReadProfileValue(ini, "second", "y"), "2");
  EXPECT_EQ(ReadProfileValue(ini, "First", "equals"), "a=b");

  ASSERT_TRUE(platform::DeleteProfileValue(ini, "First", "key"));
  EXPECT_EQ(ReadProfileValue(ini, "First", "Key"), "second of the same name");
  ASSERT_TRUE(platform::DeleteProfileSection(ini, "SECOND"));
  EXPECT_EQ(ReadProfileValue(ini, "second", "x"), std::nullopt);
  EXPECT_FALSE(platform::ProfileSectionHasKeys(ini, "second"));
  EXPECT_EQ(ReadProfileValue(ini, "Brand New", "k"), "v");
  EXPECT_TRUE(platform::DeleteProfileValue(ini, "Missing", "k"));

  std::string fresh = dir.File("fresh.ini");
  ASSERT_TRUE(platform::WriteProfileValue(fresh, "S", "k", "v"));
  EXPECT_EQ(ReadProfileValue(fresh, "s", "K"), "v");
  EXPECT_FALSE(platform::WriteProfileValue(fresh, "S", "", "v"));
#ifndef _WIN32
  // Our writer keeps every other line byte for byte.
  std::string text = ReadBytes(ini);
  EXPECT_NE(text.find("; a comment\r\ntop=before any section\r\n[First]\r\n  spaced   =   padded value   \r\n"
                      "KEY=second of the same name\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("empty=\r\nequals=a=b\r\n;hidden=1\r\nAdded=new\r\n\r\n"), std::string::npos) << text;
  EXPECT_EQ(ReadBytes(fresh), "[S]\nk=v\n");
#endif
}

}  // namespace
}  // namespace olvex::test
