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

// Set Variable, the counters and Delete Variable run as a script case; here
// what a script cannot reach: the expansion mode, binary bytes, the other names.
TEST(SetVariable, ExpandsInTheModeAskedAndKeepsBinaryBytesOnlyInFull) {
  StoreSandbox box;
  StandInExpander expand;
  ASSERT_TRUE(WriteUserVariable("name", "World"));
  Do("Set Variable", "%single", "%name", "single");
  ASSERT_FALSE(expand.modes.empty());
  EXPECT_EQ(expand.modes[0], ExpandMode::kSingle);
  Do("Create Variable", "%made", "1");
  Do("Update Variable", "%made", "2");
  EXPECT_EQ(ReadUserVariable("made"), "2");
  ASSERT_TRUE(WriteUserVariable("bin", "a\0b"s));
  Do("Set Variable", "%copy", "%bin");
  EXPECT_EQ(ReadUserVariable("copy"), "a\0b"s);
  Do("Set Variable", "%cut", "%bin", "Single");
  EXPECT_EQ(ReadUserVariable("cut"), "a");
}

TEST(IncrementDecrement, ReadingTheNumber) {
  EXPECT_EQ(FormatVariableNumber(42), "42");
  EXPECT_EQ(FormatVariableNumber(3.5), "3.5");
  const std::pair<const char*, double> cases[] = {{"  -12.5e1x", -125}, {"+4", 4}, {".5", 0.5}, {"0x10", 0},
                                                  {"inf", 0}, {"1e", 1}, {"-", 0}, {"1e999", 0}};
  for (const auto& [text, value] : cases) EXPECT_EQ(LeadingDecimal(text), value) << text;
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
