// What a run hands to the platform besides its log: the lines of the "Output"
// destination for a debugger, and the key-up of keys a step left held.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/document.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "platform/debug_output.h"
#include "platform/input.h"
#include "tests/support/script_test.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace olvex::test {
namespace {

// Keys as the real service reports them; releases are recorded, not sent.
class RecordingInput : public platform::Input {
 public:
  RecordingInput() { platform::SetInputForTest(this); }
  ~RecordingInput() override { platform::SetInputForTest(nullptr); }
  bool IsKeyDown(int) override { return false; }
  bool IsKeyToggled(int) override { return false; }
  void SendKey(const KeyEvent& event) override {
    if (event.up) released.push_back(event.code);
  }
  std::vector<int> released;
};

class RunEndTest : public ScriptTest {
 protected:
  void TearDown() override {
    SetCategoryHandler(4, nullptr);
    ScriptTest::TearDown();
  }
  // Runs `steps` in slot 0 at `level` and returns the log.
  std::string RunAt(const std::string& steps, int level) {
    Load(steps);
    WriteSetting("*\\LogLevel", level);
    StartRun(0, kCommandNewRun, false, 0, 0);
    EXPECT_TRUE(WaitForWorkers());
    return Log();
  }
};

std::string OutputStep(const std::string& text) {
  return "<step><action>Set Variable</action><text>" + text + "</text><output>Output</output></step>\n";
}

TEST_F(RunEndTest, OutputLinesGoToTheDebuggerEachEndedByCrLfWhateverTheLogLevel) {
  RecordingDebugOutput debugger;
  RunAt(OutputStep("50% done\r\nnext line") + OutputStep(std::string(600, 'x')), 0);
  // The line break stays a space at the end of its line; a line holds at most
  // 255 characters, so the truncation marker of long data is cut off with it.
  EXPECT_EQ(debugger.texts,
            (std::vector<std::string>{"50% done  \r\n", "next line\r\n", std::string(255, 'x') + "\r\n"}));

  debugger.texts.clear();
  const std::string log = RunAt(OutputStep("logged too"), 1);
  EXPECT_EQ(debugger.texts, std::vector<std::string>{"logged too\r\n"});
  EXPECT_NE(log.find("\r\nlogged too\r\n"), std::string::npos) << log;
}

// The Keyboard category's handler, standing in for {-Down} keys of Type.
void HoldKeysInStep(int flags) {
  SetCategoryHandler(4, [flags](int, int, int) {
    RunShared().held_keys.fetch_or(flags);
    return 1;
  });
}

TEST_F(RunEndTest, KeysLeftHeldAreReleasedWithAWarning) {
  const std::string warning = "WARNING!  Key was pressed with the {-Down} TYPE command, but not released with {-Up}\r\n";
  const std::string type = "<step><action>Type</action><text>{SHIFT-Down}</text></step>\n";
  const struct { int flags; std::vector<int> released; } cases[] = {
      {0, {}}, {2, {platform::key::kShift}}, {1 | 4, {platform::key::kControl, platform::key::kAlt}},
      {7, {platform::key::kControl, platform::key::kShift, platform::key::kAlt}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    std::remove(log_path_.c_str());
    RecordingInput input;
    HoldKeysInStep(c.flags);
    const std::string log = RunAt(type, 1);
    EXPECT_EQ(input.released, c.released);
    EXPECT_EQ(log.find(warning) != std::string::npos, c.flags != 0) << log;
    EXPECT_EQ(RunShared().held_keys.load(), 0);
  }
}

#ifdef _WIN32
// The real keyboard: a Shift that Type left down is up after the run, with the warning.
TEST_F(RunEndTest, AShiftLeftDownIsUpAfterTheRun) {
  SetCategoryHandler(4, nullptr);
  const std::string log = RunAt("<step><action>Type</action><text>{Shift}</text></step>\n", 1);
  EXPECT_NE(log.find("WARNING!  Key was pressed with the {-Down} TYPE command"), std::string::npos) << log;
  EXPECT_EQ(GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
}
#endif

}  // namespace
}  // namespace olvex::test
