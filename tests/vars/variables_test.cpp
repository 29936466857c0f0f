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

TEST(MemorySlots, NineSlotsOfTheProcess) {
  FreeAllMemorySlots();
  SetMemorySlot(1, "one");
  SetMemorySlot(9, "nine\0binary"s);
  SetMemorySlot(0, "no");
  SetMemorySlot(10, "no");
  EXPECT_EQ(ReadMemorySlot(1), "one");
  EXPECT_EQ(ReadMemorySlot(9), "nine\0binary"s);
  EXPECT_EQ(ReadMemorySlot(2), std::nullopt);
  EXPECT_EQ(ReadMemorySlot(0), std::nullopt);
  SetMemorySlot(1, std::string(200000, 'x'));  // a larger value replaces a smaller one
  EXPECT_EQ(ReadMemorySlot(1)->size(), 200000u);
  FreeMemorySlot(1);
  EXPECT_EQ(ReadMemorySlot(1), std::nullopt);
  EXPECT_EQ(ReadMemorySlot(9), "nine\0binary"s);
  FreeAllMemorySlots();
  EXPECT_EQ(ReadMemorySlot(9), std::nullopt);
}

TEST(VariableNames, RunsAndSlots) {
  const std::pair<std::string, std::string> runs[] = {{"%total", "%total"}, {"list[3] and more", "list[3]"},
                                                      {"a.b_c{1}%x-y", "a.b_c{1}%x"}, {std::string(80, 'n'), std::string(63, 'n')},
                                                      {" lead", ""}};
  for (const auto& [text, run] : runs) EXPECT_EQ(VariableNameRun(text), run) << text;
  const std::pair<const char*, int> slots[] = {{"{3}", 3}, {"{0}", 0}, {"{10}", 0}, {"{3} ", 0}};
  for (const auto& [text, slot] : slots) EXPECT_EQ(MemorySlotOf(text), slot) << text;
}

struct Saved {
  std::vector<std::string> log;
  std::function<void(const std::string&)> sink() {
    return [this](const std::string& line) { log.push_back(line); };
  }
};

TEST(VariableDestination, SlotsVariablesAndTheLog) {
  StoreSandbox box;
  FreeAllMemorySlots();
  Saved s;
  ExpandContext ctx;
  const std::tuple<const char*, const char*, std::string, bool> saves[] = {
      {"Memory", "{3}", "slot text", true}, {"Variable", "{4}", "also a slot", true}, {"variable", "%total", "42", true},
      {"Variable", "name with words", "hello", true}, {"Variable", "bin", "\x01\x02", true},
      {"Variable", "long", std::string(300, 'L'), true}, {"Variable", "  ", "nothing", true},
      {"Clipboard", "x", "data", false}, {"", "x", "data", false}, {"Memory", "x", "data", false}};
  for (const auto& [destination, option, data, saved] : saves)
    EXPECT_EQ(SaveToVariableDestination(ctx, destination, option, data, s.sink()), saved) << destination << " " << option;
  EXPECT_EQ(std::make_tuple(ReadMemorySlot(3), ReadMemorySlot(4), Stored(box, "total"), ReadUserVariable("name")),
            std::make_tuple("slot text", "also a slot", "42\0"s, "hello"));
  ASSERT_EQ(s.log.size(), 6u);
  EXPECT_EQ(s.log[0], "    {3} = \"slot text\" (9 bytes)");
  EXPECT_EQ(s.log[2], "    %total = \"42\"");
  EXPECT_EQ(s.log[3], "    name = \"hello\" (5 bytes)");
  EXPECT_EQ(s.log[4], "    bin = 2 bytes (binary)");
  EXPECT_EQ(s.log[5], "    long = \"" + std::string(228, 'L') + "...\" (300 bytes)");
  FreeAllMemorySlots();
}

TEST(VariableDestination, NamesWithBracesOrSeveralPercentsAreExpanded) {
  StoreSandbox box;
  ExpandContext seen;
  std::vector<std::string> texts;
  SetExpander([&](const ExpandContext& c, std::string_view text, ExpandMode) {
    seen = c;
    texts.emplace_back(text);
    std::string out(text);
    if (auto at = out.find("%i"); at != std::string::npos) out = out.substr(0, at) + "3" + out.substr(at + 2);
    if (auto at = out.find("{loop}"); at != std::string::npos) out = out.substr(0, at) + "7" + out.substr(at + 6);
    return out;
  });
  ExpandContext ctx{2, 14};
  EXPECT_TRUE(SaveToVariableDestination(ctx, "Variable", "%list[%i]", "third", {}));
  EXPECT_TRUE(SaveToVariableDestination(ctx, "Variable", "row{loop}", "seventh", {}));
  EXPECT_TRUE(SaveToVariableDestination(ctx, "Variable", "%plain", "as is", {}));
  SetExpander(nullptr);
  EXPECT_EQ(texts, (std::vector<std::string>{"list[%i]", "row{loop}"}));
  EXPECT_EQ(seen.slot, 2);
  EXPECT_EQ(seen.step_index, 14);
  EXPECT_EQ(ReadUserVariable("list[3]"), "third");
  EXPECT_EQ(ReadUserVariable("row7"), "seventh");
  EXPECT_EQ(ReadUserVariable("plain"), "as is");
  // Without an expander installed, expansion copies, and formulas go to the
  // evaluator (the built-in one, then one a test installs).
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
