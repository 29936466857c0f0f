// The run log, output saving, the step loop and the main thread's loop.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/document.h"
#include "engine/main_loop.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "platform/clipboard.h"
#include "platform/environment.h"
#include "platform/instance.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/script_test.h"
#include "vars/variables.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace olvex::test {
namespace {

class RunTest : public ScriptTest {
 protected:
  void TearDown() override {
    SetRunRepeats(0, 0);
    SetCategoryHandler(13, nullptr);
    ScriptTest::TearDown();
  }
};

TEST_F(RunTest, LogLinesUndoTheMarkersEndWithCrLfAndLevelZeroWritesNothing) {
  SetLogLevel(0);
  LogLine("nothing %d", 1);
  EXPECT_FALSE(platform::PathExists(log_path_));
  SetLogLevel(1);
  LogLine("a %d\tb", 5);
  LogText(std::string("50") + kPercentMarker + " " + kQuoteMarker + "q" + kQuoteMarker + "\nnext");
  LogText("100% as written %s");
  EXPECT_EQ(Log(), "a 5 b\r\n50% \"q\"\r\nnext\r\n100% as written %s\r\n");
}

TEST(RunLogPath, ExeIsReplacedAndAPathWithoutItGetsTheSuffix) {
  EXPECT_EQ(DefaultLogPath("C:\\Tools\\Olvex.EXE"), "C:\\Tools\\OlvexLog.txt");
  EXPECT_EQ(DefaultLogPath("/opt/olvex/olvex"), "/opt/olvex/olvexLog.txt");
}

TEST_F(RunTest, AStopFromTheMainThreadAsksFirstAndEndsByForceSecond) {
  Load(StepText("Exit Run", "0") + StepText("Comment", "after"));
  std::atomic<bool> entered{false}, release{false};
  SetCategoryHandler(13, [&](int, int, int) {
    entered = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return 1;
  });
  WriteSetting("*\\LogLevel", 1);
  StartRun(0, kCommandNewRun, false, 0, 0);
  while (!entered) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EndRun(0, false, 0, false);
  EXPECT_TRUE(RunActive());
  EXPECT_EQ(RunShared().stop_flag.load(), 1);
  EndRun(0, true, 0, false);
  EXPECT_FALSE(RunActive());
  EXPECT_FALSE(WaitForWorkers());  // the stuck worker was abandoned
  EXPECT_EQ(ExitCodeForOutcome(LastRunOutcome()), 4);
  release = true;
  // The abandoned worker finishes its step and leaves without ending the run again.
  for (int i = 0; i < 400 && Log().find("Run Completed on") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::string log = Log();
  EXPECT_NE(log.find("Attempting to stop run...\r\nRun forcibly terminated\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Stopping run at [STEP 1]  Flags: 0/0/1"), std::string::npos) << log;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// The destinations a script case cannot see: a long result in a box, a failed
// retry (if/variables_registry_files saves to the environment).
TEST_F(RunTest, OutputToAMessageAndAfterAFailedRetry) {
  Load("<step><action>Comment</action><output value=\"{3}\">Memory</output></step>"
       "<step><action>Comment</action><output>Message</output></step>");
  SaveOutput(0, 0, "memory text");
  RecordingDialogs boxes;
  boxes.answers = {platform::box::kAnswerCancel};
  RunShared().stop_flag.store(0);
  SaveOutput(0, 1, std::string(600, 'm'));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].title, "[Step 2] Data Result  (Press Cancel to Stop)");
  EXPECT_EQ(boxes.boxes[0].text, std::string(487, 'm') + "  <<< DATA TRUNCATED >>>");
  EXPECT_EQ(RunShared().stop_flag.exchange(0), 1);
  // A failed retry keeps the earlier result.
  Document(0).steps[0].run_attempts = 2;
  SaveOutput(0, 0, "0");
  EXPECT_EQ(ReadMemorySlot(3).value_or(""), "memory text");
  FreeAllMemorySlots();
}

TEST(SingleInstance, ASecondClaimOfTheSameNameFails) {
  StoreSandbox sandbox;  // a private temporary folder
  const std::string name = "olvex_test_instance_" + std::to_string(std::random_device{}());
  EXPECT_TRUE(platform::ClaimSingleInstance(name));
  EXPECT_FALSE(platform::ClaimSingleInstance(name));
  EXPECT_TRUE(platform::ClaimSingleInstance(name + "_other"));
}

TEST(ExtractResource, AMissingResourceFailsWithAReason) {
  std::string error, content;
  EXPECT_EQ(ExtractResource("", 31999, "", &content, 100, &error), 0u);
  EXPECT_NE(error.find("31999"), std::string::npos);
}

TEST(MainLoop, RunOnMainThreadRunsTheTaskOnTheLoopsThread) {
  const std::thread::id main_id = std::this_thread::get_id();
  std::thread::id ran_on;
  int result = 0;
  // The worker starts once the loop is served, as a run's worker does.
  std::thread worker;
  PostToMainThread([&] {
    worker = std::thread([&] {
      result = RunOnMainThread([&] {
        ran_on = std::this_thread::get_id();
        return OnMainThread() ? 7 : -7;
      });
      PostToMainThread([] { QuitMainLoop(); });
    });
  });
  SetMainTimer(1, 10000, [] { QuitMainLoop(); });  // never hangs the test
  RunMainLoop();
  worker.join();
  EXPECT_EQ(result, 7);
  EXPECT_EQ(ran_on, main_id);
  EXPECT_FALSE(OnMainThread());
  EXPECT_EQ(RunOnMainThread([] { return 3; }), 3);  // no loop: runs on the caller
#ifdef _WIN32
  // The loop's thread owns the hidden main window.
  const HWND window = FindWindowA("OlvexClass", "Olvex Studio");
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
#endif
}

}  // namespace
}  // namespace olvex::test
