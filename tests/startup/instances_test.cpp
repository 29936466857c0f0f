// Several runtimes at once: the setting ResetUserVariables deletes the user
// variables at the start of a run and at the program's end only while no
// other runtime is running (its main window open), whose run may use them.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine/settings.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/test_support.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

TEST(Instances, ASecondRuntimeKeepsTheVariablesTheFirstOneUses) {
  StoreSandbox sandbox;
  ChildStore store;
  const std::string log = sandbox.dir().File("run.log");
  WriteSetting("*\\Logfile", log);
  WriteSetting("*\\LogLevel", 1);
  WriteSetting("*\\ResetUserVariables", 1);
  WriteSetting("*\\InterStepDelay", 2500);
  WriteUserVariable("old", "from before");
  const std::string first = sandbox.dir().Write(
      "first.oxm",
      "<step><action>Set Variable</action><text>yes</text><output value=\"%started\">Variable</output></step>"
      "<step><action>Comment</action><text>still running</text></step>"
      "<step><action>Comment</action><text>and still</text></step>");
  const std::string second = sandbox.dir().Write("second.oxm", "<step><action>Comment</action><text>x</text></step>");

  // The first runtime is alone: its run starts without the old variables.
  ChildResult first_run;
  std::thread runner([&] { first_run = RunChild({RuntimePath(), "-r", first}, std::chrono::seconds(60)); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!ReadUserVariable("started") && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(ReadUserVariable("started").value_or("(missing)"), "yes");
  EXPECT_FALSE(ReadUserVariable("old"));

  // While it runs, a second runtime's start and end leave the variables alone.
  WriteUserVariable("kept", "1");
  const ChildResult second_run = RunChild({RuntimePath(), "-r", second}, std::chrono::seconds(60));
  EXPECT_FALSE(second_run.timed_out);
  EXPECT_EQ(ReadUserVariable("kept").value_or("(missing)"), "1");
  EXPECT_EQ(ReadUserVariable("started").value_or("(missing)"), "yes");

  // The first one ends alone again: the variables go.
  runner.join();
  EXPECT_FALSE(first_run.timed_out);
  EXPECT_EQ(first_run.exit_code, 0);
  EXPECT_FALSE(ReadUserVariable("kept"));
  EXPECT_FALSE(ReadUserVariable("started"));
  // Only the first one's end reset them.
  const std::string text = ReadBytes(log);
  const std::string line = "WM_DESTROY: ResetUserVariables: 1\r\n";
  const std::size_t at = text.find(line);
  EXPECT_NE(at, std::string::npos) << text;
  EXPECT_EQ(text.find(line, at + 1), std::string::npos) << text;
}

}  // namespace
}  // namespace olvex::test
