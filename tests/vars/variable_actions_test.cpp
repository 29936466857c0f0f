// The variable actions of the System category, with the runtime's expansion.
#include "vars/variable_actions.h"

#include <gtest/gtest.h>

#include <tuple>

#include "engine/text.h"
#include "platform/environment.h"
#include "tests/settings/store_sandbox.h"
#include "vars/expand.h"

namespace olvex::test {
namespace {

using namespace std::string_literals;

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
// what a script cannot reach: the expansion modes, binary bytes, the other names.
TEST(SetVariable, ExpandsInTheModeAskedAndKeepsBinaryBytesOnlyInFull) {
  StoreSandbox box;
  ASSERT_TRUE(WriteUserVariable("name", "World"));
  ASSERT_TRUE(WriteUserVariable("bin", "a\0b"s));
  InstallExpander();
  Do("Set Variable", "%full", "%name{SPACE}{\\41}");
  Do("Set Variable", "%single", "%name{SPACE}{\\41}", "single");
  Do("Create Variable", "%made", "1");
  Do("Update Variable", "%made", "2");
  Do("Set Variable", "%copy", "%bin");
  Do("Set Variable", "%cut", "%bin", "Single");
  SetExpander(nullptr);
  EXPECT_EQ(std::make_tuple(ReadUserVariable("full"), ReadUserVariable("single"), ReadUserVariable("made")),
            std::make_tuple("World {\\41}", "World{SPACE}A", "2"));
  EXPECT_EQ(ReadUserVariable("copy"), "a\0b"s);
  EXPECT_EQ(ReadUserVariable("cut"), "a");
}

// What Set Environment Variable stores in both registry places, and the numbers
// Increment and Decrement read, are the script cases vars/environment and
// vars/fields_and_destinations; here the runtime's own environment and a name it refuses.
TEST(SetEnvironmentVariable, ChangesTheProcessEnvironment) {
  StoreSandbox box;
  const std::string name = "OLVEX_" + box.key();
  StepRun r = Do("Set Environment Variable", name, std::string(5000, 'v'));
  EXPECT_EQ(r.outcome.result, 1) << r.outcome.error;
  EXPECT_EQ(platform::ReadEnv(name), std::string(5000, 'v'));
  r = Do("Set Environment Variable", "%" + name + "%", "");
  EXPECT_EQ(r.outcome.result, 1) << r.outcome.error;
  EXPECT_EQ(platform::ReadEnv(name), std::nullopt);
  r = Do("Set Environment Variable", "BAD=NAME", "x");  // the system's own error text
  EXPECT_EQ(r.outcome.result, 0);
  EXPECT_FALSE(r.outcome.error.empty());
}

}  // namespace
}  // namespace olvex::test
