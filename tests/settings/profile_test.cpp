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

// The reads, writes and deletes a script makes are the script case
// data/profile_rules; here what a script cannot tell apart from an empty value.
TEST(Profile, WhatIsNoValueAndWhichSectionsHaveKeys) {
  ScratchDir dir;
  std::string ini = dir.Write("rules.ini", kIni);
  const std::tuple<std::string, std::string, std::string> missing[] = {
      {ini, "First", "novalue"}, {ini, "First", "x"}, {ini, "First", "top"}, {ini, "First", ""},
      {ini, "Missing", "Key"}, {dir.File("missing.ini"), "First", "Key"}};
  for (const auto& [file, section, key] : missing) EXPECT_EQ(ReadProfileValue(file, section, key), std::nullopt) << key;
  EXPECT_EQ(ReadProfileValue(ini, "", "top"), "before any section");
  EXPECT_EQ(ReadProfileValue(ini, " First ", " spaced "), "padded value");
  const std::pair<std::string, bool> sections[] = {{"first", true}, {"second", true}, {"Comments", false},
                                                   {"Empty", false}, {"Missing", false}};
  for (const auto& [section, has] : sections) EXPECT_EQ(platform::ProfileSectionHasKeys(ini, section), has) << section;
  EXPECT_FALSE(platform::ProfileSectionHasKeys(dir.File("missing.ini"), "First"));
}

TEST(Profile, WritesKeepEveryOtherLine) {
  ScratchDir dir;
  std::string ini = dir.Write("edit.ini", kIni);
  ASSERT_TRUE(platform::WriteProfileValue(ini, "first", "KEY", "changed"));
  ASSERT_TRUE(platform::WriteProfileValue(ini, "First", "Added", "  new"));
  ASSERT_TRUE(platform::DeleteProfileValue(ini, "First", "key"));
  EXPECT_EQ(ReadProfileValue(ini, "First", "Key"), "second of the same name");
  std::string fresh = dir.File("fresh.ini");
  ASSERT_TRUE(platform::WriteProfileValue(fresh, "S", "k", "v"));
  EXPECT_FALSE(platform::WriteProfileValue(fresh, "S", "", "v"));
#ifndef _WIN32
  // Our writer keeps every other line byte for byte.
  std::string text = ReadBytes(ini);
  EXPECT_NE(text.find("; a comment\r\ntop=before any section\r\n[First]\r\n  spaced   =   padded value   \r\n"
                      "KEY=second of the same name\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("empty=\r\nequals=a=b\r\n;hidden=1\r\nAdded=new\r\n\r\n[second]\nx=lf only\n"), std::string::npos)
      << text;
  EXPECT_EQ(ReadBytes(fresh), "[S]\nk=v\n");
#endif
}

}  // namespace
}  // namespace olvex::test
