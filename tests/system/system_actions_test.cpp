// The System actions beside the variable actions: settings changed in the
// running runtime (the pause of the step delay: cases/system/step_delay), output and log
// writes, the clipboard (the real one: cases/system/clipboard_steps_windows),
// and the end of the session through a recorder.
#include <gtest/gtest.h>

#include "engine/document.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "input/keyboard.h"
#include "platform/clipboard.h"
#include "platform/debug_output.h"
#include "platform/power.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/script_test.h"
#include "vars/expand.h"
#include "vars/system_actions.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

class RecordingPower : public platform::Power {
 public:
  RecordingPower() { platform::SetPowerForTest(this); }
  ~RecordingPower() override { platform::SetPowerForTest(nullptr); }
  bool ExitSystem(int mode, std::string* error) override {
    modes.push_back(mode);
    *error = "refused by the test";
    return accept;
  }
  std::vector<int> modes;
  bool accept = true;
};


class SystemActionsTest : public HandlerTest {
 protected:
  void TearDown() override {
    SetStepDelay(0, 0);
    RunShared().stop_key.store(0x13);
    HandlerTest::TearDown();
  }
  // Runs each step's handler in turn; returns their results.
  std::vector<int> RunEach(const std::string& steps) {
    Load(steps);
    std::vector<int> results;
    for (int i = 0; i < static_cast<int>(Document(0).steps.size()); ++i) results.push_back(HandleSystemStep(0, i));
    return results;
  }
};

// The changes take effect in the running runtime too (what they store: cases/system/setting_changes).
TEST_F(SystemActionsTest, SettingChangesTakeEffectAtOnce) {
  EXPECT_EQ(RunEach(StepText("Set Step Delay", "9", "<timeout>=2*20</timeout><options>Global</options>") +
                    StepText("Olvex Setting Change", "Stop", "<value1>Q</value1>") +
                    StepText("Olvex Setting Change", "Log", "<options>OFF</options>")),
            (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(StepDelay(0), 40);
  EXPECT_EQ(RunShared().stop_key.load(), 'Q');
  EXPECT_EQ(LogLevel(), 0);
}

TEST_F(SystemActionsTest, OutputPaneDebugOutputAndLogGetTheirTexts) {
  RecordingDebugOutput debug;
  std::vector<std::string> pane;
  SetOutputPane([&](const std::string& line) { pane.push_back(line); });
  const std::string long_text(300, 'x');
  EXPECT_EQ(RunEach(StepText("Write to Output", long_text) + StepText("Write to Log", "50%% {\\t}as it %stands")),
            (std::vector<int>{1, 1}));
  SetOutputPane(nullptr);
  EXPECT_EQ(pane, std::vector<std::string>{std::string(259, 'x')});
  EXPECT_EQ(debug.texts, std::vector<std::string>{long_text + "\r\n"});
  EXPECT_EQ(ReadBytes(log_path_), "50% \tas it %stands\r\n");
}

TEST_F(SystemActionsTest, ClipboardActionsSetEmptyAndClear) {
  FakeClipboard clipboard;
  WriteUserVariable("v", "from a variable");
  EXPECT_EQ(RunEach(StepText("Set Clipboard Text", "%v")), std::vector<int>{1});
  EXPECT_EQ(clipboard.text, "from a variable");
  EXPECT_EQ(RunEach(StepText("Set Clipboard Text", "") + StepText("Clear Clipboard", "")), (std::vector<int>{1, 1}));
  EXPECT_EQ(clipboard.clears, 2);
  EXPECT_FALSE(clipboard.text);
}

TEST_F(SystemActionsTest, LogoffRestartShutdownGoThroughThePowerService) {
  RecordingPower power;
  EXPECT_EQ(RunEach(StepText("Logoff", "") + StepText("Restart", "") + StepText("Shutdown", "")), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(power.modes, (std::vector<int>{0, 6, 5}));
  EXPECT_EQ(ReadBytes(log_path_), "Logoff at [Step 1]...\r\nRebooting at [Step 2]...\r\nShutdown at [Step 3]...\r\n");
  power.accept = false;
  EXPECT_EQ(RunEach(StepText("Shutdown", "")), std::vector<int>{0});
  EXPECT_EQ(StepError(), "refused by the test");
}

TEST_F(SystemActionsTest, PasteClipboardSendsControlV) {
  FakeDesktop desktop;
  FakeKeyboard keys;
  SetKeyboardPauseForTest([&keys](int ms) { keys.events.push_back("P" + std::to_string(ms)); });
  EXPECT_EQ(RunEach(StepText("Paste Clipboard", "")), std::vector<int>{1});
  SetKeyboardPauseForTest(nullptr);
  EXPECT_EQ(keys.Events(), "Ctrl*+ V+ V- Ctrl*- P500");
}

}  // namespace
}  // namespace olvex::test
