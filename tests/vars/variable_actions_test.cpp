// The variable actions of the System category, with a small stand-in for
// variable expansion: `%name` becomes the variable's value.
#include "vars/variable_actions.h"

#include <gtest/gtest.h>

#include "engine/text.h"
#include "platform/environment.h"
#include "tests/settings/store_sandbox.h"

namespace olvex::test {
namespace {

using namespace std::string_literals;

// Replaces %name (letters, digits, _ .) by the variable's value; records calls.
class StandInExpander {
 public:
  StandInExpander() {
    SetExpander([this](const ExpandContext&, std::string_view text, ExpandMode mode) {
      modes.push_back(mode);
      std::string out;
      for (std::size_t i = 0; i < text.size(); ++i) {
        std::size_t j = i + 1;
        while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_' || text[j] == '.'))
          ++j;
        if (text[i] == '%' && j > i + 1) {
          std::string name(text.substr(i + 1, j - i - 1));
          out += ReadUserVariable(name).value_or("%" + name);
          i = j - 1;
        } else {
          out += text[i];
        }
      }
      return out;
    });
  }
  ~StandInExpander() { SetExpander(nullptr); }
  std::vector<ExpandMode> modes;
};

struct StepRun { StepOutcome outcome; std::vector<std::string> log; VariableStep step; };

StepRun Do(const std::string& action, const std::string& option, const std::string& text = "",
       const std::string& options = "", const std::string& output = "Variable") {
  StepRun r;
  r.step = {action, options, text, output, option};
  StepHost host;
  host.log = [&r](const std::string& line) { r.log.push_back(line); };
  r.outcome = RunVariableAction(r.step, host);
  return r;
}

TEST(SetVariable, SavesTheExpandedText) {
  StoreSandbox box;
  StandInExpander expand;
  ASSERT_TRUE(WriteUserVariable("name", "World"));
  StepRun r = Do("Set Variable", "%greeting", "Hello %name");
  EXPECT_EQ(r.outcome.result, 1);
  EXPECT_EQ(ReadUserVariable("greeting"), "Hello World");
  EXPECT_EQ(r.log, std::vector<std::string>{"    %greeting = \"Hello World\" (11 bytes)"});

  EXPECT_EQ(Do("Set Variable", "%raw", "Hello %name", "No Variable Expansion").outcome.result, 1);
  EXPECT_EQ(ReadUserVariable("raw"), "Hello %name");
  expand.modes.clear();
  Do("Set Variable", "%single", "%name", "single");
  EXPECT_EQ(ReadUserVariable("single"), "World");
  ASSERT_FALSE(expand.modes.empty());
  EXPECT_EQ(expand.modes[0], ExpandMode::kSingle);
  Do("Create Variable", "%made", "1");
  Do("Update Variable", "%made", "2");
  EXPECT_EQ(ReadUserVariable("made"), "2");
  Do("Set Variable", "{2}", "into a slot", "", "Memory");
  EXPECT_EQ(ReadMemorySlot(2), "into a slot");

  // Full expansion keeps binary bytes; the others stop at a zero.
  ASSERT_TRUE(WriteUserVariable("bin", "a\0b"s));
  Do("Set Variable", "%copy", "%bin");
  EXPECT_EQ(ReadUserVariable("copy"), "a\0b"s);
  Do("Set Variable", "%cut", "%bin", "Single");
  EXPECT_EQ(ReadUserVariable("cut"), "a");

  r = Do("Set Variable", "", "text");
  EXPECT_EQ(r.outcome.result, 1);
  EXPECT_EQ(r.log, std::vector<std::string>{"    WARNING: No variable name provided"});
  FreeAllMemorySlots();
}

TEST(IncrementDecrement, NumbersWithFifteenDigits) {
  StoreSandbox box;
  StandInExpander expand;
  const struct { const char* before; const char* action; const char* after; } cases[] = {
      {"abc", "Increment Variable", "1"},   {"0", "Decrement Variable", "-1"},
      {"41", "Increment Variable", "42"},   {"2.5", "Increment Variable", "3.5"},
      {"-0.5", "Increment Variable", "0.5"}, {"1e3", "Increment Variable", "1001"},
      {" 7 apples", "Decrement Variable", "6"}, {"", "Increment Variable", "1"},
      {"-1", "Increment Variable", "0"},    {"0.1", "Increment Variable", "1.1"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteUserVariable("n", c.before));
    StepRun r = Do(c.action, "%n");
    EXPECT_EQ(r.outcome.result, 1);
    EXPECT_EQ(ReadUserVariable("n"), c.after) << c.before << " " << c.action;
  }
  ASSERT_TRUE(DeleteUserVariable("n"));
  Do("Increment Variable", "%n");  // a missing variable counts from 0
  EXPECT_EQ(ReadUserVariable("n"), "1");
}

TEST(IncrementDecrement, ReadingTheNumber) {
  EXPECT_EQ(FormatVariableNumber(42), "42");
  EXPECT_EQ(FormatVariableNumber(3.5), "3.5");
  EXPECT_EQ(LeadingDecimal("  -12.5e1x"), -125);
  EXPECT_EQ(LeadingDecimal("+4"), 4);
  EXPECT_EQ(LeadingDecimal(".5"), 0.5);
  EXPECT_EQ(LeadingDecimal("0x10"), 0);
  EXPECT_EQ(LeadingDecimal("inf"), 0);
  EXPECT_EQ(LeadingDecimal("1e"), 1);
  EXPECT_EQ(LeadingDecimal("-"), 0);
  EXPECT_EQ(LeadingDecimal("1e999"), 0);
}

TEST(DeleteVariable, NamesElementsSlotsAndAll) {
  StoreSandbox box;
  StandInExpander expand;
  for (const char* name : {"keep", "gone", "list[3]", "list[4]"}) ASSERT_TRUE(WriteUserVariable(name, "v"));
  ASSERT_TRUE(WriteUserVariable("i", "3"));
  EXPECT_EQ(Do("Delete Variable", "%gone").outcome.result, 1);
  EXPECT_EQ(ReadUserVariable("gone"), std::nullopt);
  EXPECT_EQ(Do("Delete Variable", "%gone").outcome.result, 1);  // missing: still a success
  EXPECT_EQ(Do("Delete Variable", "%list[%i]").outcome.result, 1);
  EXPECT_EQ(ReadUserVariable("list[3]"), std::nullopt);
  EXPECT_EQ(ReadUserVariable("list[4]"), "v");
  StepRun r = Do("Delete Variable", "");
  EXPECT_EQ(r.outcome.result, 1);
  EXPECT_TRUE(r.log.empty());
  EXPECT_EQ(ReadUserVariable("keep"), "v");

  for (int slot = 1; slot <= 9; ++slot) SetMemorySlot(slot, "s");
  Do("Delete Variable", "{3}");
  EXPECT_EQ(ReadMemorySlot(3), std::nullopt);
  EXPECT_EQ(ReadMemorySlot(4), "s");
  Do("Delete Variable", "{x}");  // held to the range: slot 9
  EXPECT_EQ(ReadMemorySlot(9), std::nullopt);
  Do("Delete Variable", "{0}");
  EXPECT_EQ(ReadMemorySlot(1), std::nullopt);

  EXPECT_EQ(Do("Delete Variable", "", "", "All").outcome.result, 1);
  EXPECT_EQ(ReadUserVariable("keep"), std::nullopt);
  EXPECT_EQ(ReadUserVariable("list[4]"), std::nullopt);
  EXPECT_FALSE(AnyUserVariables());
  for (int slot = 1; slot <= 9; ++slot) EXPECT_EQ(ReadMemorySlot(slot), std::nullopt) << slot;
}

TEST(SetEnvironmentVariable, ProcessAndBothRegistryPlaces) {
  StoreSandbox box;
  const std::string name = "OLVEX_" + box.key();
  const std::string user_key = "Environment", machine_key = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
  auto stored = [&](platform::RegistryRoot root, const std::string& key) {
    platform::RegistryData v;
    return platform::ReadRegistryValue(root, key, name, &v) == platform::RegistryStatus::kOk ? std::optional(v.data)
                                                                                            : std::nullopt;
  };
  StepRun r = Do("Set Environment Variable", name, "some value");
  EXPECT_EQ(r.outcome.result, 1) << r.outcome.error;
  EXPECT_EQ(r.step.output_option, "%" + name + "%");
  EXPECT_EQ(platform::ReadEnv(name), "some value");
  EXPECT_EQ(stored(platform::RegistryRoot::kCurrentUser, user_key), "some value\0"s);
  EXPECT_EQ(stored(platform::RegistryRoot::kLocalMachine, machine_key), "some value\0"s);

  r = Do("Set Environment Variable", "%" + name + "%", "");
  EXPECT_EQ(r.outcome.result, 1) << r.outcome.error;
  EXPECT_EQ(r.step.output_option, "%" + name + "%");
  EXPECT_EQ(platform::ReadEnv(name), std::nullopt);
  EXPECT_EQ(stored(platform::RegistryRoot::kCurrentUser, user_key), std::nullopt);
  EXPECT_EQ(stored(platform::RegistryRoot::kLocalMachine, machine_key), std::nullopt);

  r = Do("Set Environment Variable", "BAD=NAME", "x");
  EXPECT_EQ(r.outcome.result, 0);
  EXPECT_FALSE(r.outcome.error.empty());
  EXPECT_EQ(r.step.output_option, "%BAD=NAME%");
}

}  // namespace
}  // namespace olvex::test
