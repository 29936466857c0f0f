// User variables, memory slots and the Variable destination of a step's output.
#include "vars/variables.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/settings/store_sandbox.h"

namespace olvex::test {
namespace {

using namespace std::string_literals;
namespace regtype = platform::regtype;

// A user variable as the store holds it: a string, with its zero.
std::optional<std::string> Stored(const StoreSandbox& box, const std::string& name) {
  std::uint32_t type = regtype::kSz;
  std::optional<std::string> data = StoredData(box.VariablesKey(), name, &type);
  EXPECT_EQ(type, regtype::kSz) << name;
  return data;
}

TEST(UserVariables, StoredAsStringsWithTheirZero) {
  StoreSandbox box;
  // Written by one spelling, stored under the name, read by another spelling; a
  // backslash in a name never reaches another key.
  const std::tuple<std::string, std::string, std::string, std::string> values[] = {
      {"%count", "42", "count", "%COUNT"}, {"empty", "", "empty", "EMPTY"},
      {"binary", "a\0b\xff"s, "binary", "binary"}, {"a\\b", "x", "a\\b", "a\\B"}};
  for (const auto& [written, value, name, read] : values) {
    ASSERT_TRUE(WriteUserVariable(written, value)) << name;
    EXPECT_EQ(Stored(box, name), value + '\0') << name;
    EXPECT_EQ(ReadUserVariable(read), value) << name;
  }
  EXPECT_FALSE(WriteUserVariable("%", "x"));
  EXPECT_TRUE(AnyUserVariables());

  EXPECT_TRUE(DeleteUserVariable("%count"));
  EXPECT_EQ(ReadUserVariable("count"), std::nullopt);
  EXPECT_FALSE(DeleteUserVariable("count"));
  EXPECT_FALSE(DeleteUserVariable(""));  // never the whole key
  EXPECT_EQ(ReadUserVariable("empty"), "");

  int cleared = 0;
  SetVariablesListClearer([&] { ++cleared; });
  ResetUserVariables();
  SetVariablesListClearer(nullptr);
  EXPECT_EQ(cleared, 1);
  EXPECT_FALSE(AnyUserVariables());
  EXPECT_EQ(ReadUserVariable("empty"), std::nullopt);
  ResetUserVariables();  // nothing left: still fine
}

TEST(UserVariables, LargeValuesSpillAndTheirFilesGoAtExit) {
  StoreSandbox box;
  platform::SetRegistryValueLimitForTest(300);
  std::string big(5000, 'B');
  ASSERT_TRUE(WriteUserVariable("big", big));
  EXPECT_EQ(ReadUserVariable("big"), big);
  EXPECT_EQ(Stored(box, "big")->substr(0, 6), "FILE::");
  EXPECT_EQ(RemoveUserVariableSpillFiles(), 1u);
  EXPECT_EQ(ReadUserVariable("big"), std::nullopt);
}

TEST(VariableNames, RunsAndSlots) {
  const std::pair<std::string, std::string> runs[] = {{"%total", "%total"}, {"list[3] and more", "list[3]"},
                                                      {"a.b_c{1}%x-y", "a.b_c{1}%x"}, {std::string(80, 'n'), std::string(63, 'n')},
                                                      {" lead", ""}};
  for (const auto& [text, run] : runs) EXPECT_EQ(VariableNameRun(text), run) << text;
  const std::pair<const char*, int> slots[] = {{"{3}", 3}, {"{0}", 0}, {"{10}", 0}, {"{3} ", 0}};
  for (const auto& [text, slot] : slots) EXPECT_EQ(MemorySlotOf(text), slot) << text;
}

// What a step saves into slots and variables, its log lines and the names that
// are expanded first: the script cases system/variables and vars/fields_and_destinations.
// Without an expander installed, expansion copies, and formulas go to the
// evaluator (the built-in one, then one a test installs).
TEST(Expansion, WithoutAnExpanderCopiesAndEvaluatesFormulas) {
  ExpandContext ctx{2, 14};
  const std::tuple<std::string, ExpandMode, std::string, std::string> rows[] = {
      {"%x{y}", ExpandMode::kFull, "%x{y}", "%x{y}"}, {"=2.5+1", ExpandMode::kFull, "3.5", "[=2.5+1]"},
      {" =1-1", ExpandMode::kFull, "0", "[ =1-1]"}, {"=\"a\"&\"b\"", ExpandMode::kFull, "ab", "[=\"a\"&\"b\"]"},
      {"=1+2", ExpandMode::kSingle, "=1+2", "=1+2"}, {"=SUM(1,2)", ExpandMode::kFull, "=SUM(1,2)", "=SUM(1,2)"},
      {"=abc", ExpandMode::kFull, "=abc", "=abc"}, {"1=1", ExpandMode::kFull, "1=1", "1=1"}};
  for (const auto& [text, mode, built_in, installed] : rows) EXPECT_EQ(Expand(ctx, text, mode), built_in) << text;
  SetFormulaEvaluator([](std::string_view f) { return "[" + std::string(f) + "]"; });
  for (const auto& [text, mode, built_in, installed] : rows) EXPECT_EQ(Expand(ctx, text, mode), installed) << text;
  SetFormulaEvaluator(nullptr);
  EXPECT_EQ(ExpandIntoBuffer(ctx, "abcdef", 4), "abc");
  EXPECT_EQ(ExpandIntoBuffer(ctx, "abc", 0), "");
}

}  // namespace
}  // namespace olvex::test
