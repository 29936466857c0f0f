// What a run does after a failed step: the time-out retry, each failure mode,
// the report and its box.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "engine/document.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "platform/dialogs.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/test_support.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

constexpr int kFailingCategory = 3;  // "Maximize" and its kin

class FailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_path_ = sandbox_.dir().File("run.log");
    WriteSetting("*\\Logfile", log_path_);
    CloseAllDocuments();
    calls_.store(0);
    // The test action fails until its call number reaches `succeed_at_` (never when 0).
    SetCategoryHandler(kFailingCategory, [this](int, int, int) {
      const int call = ++calls_;
      if (succeed_at_ != 0 && call >= succeed_at_) return 1;
      SetStepError("100% broken");
      return 0;
    });
  }
  void TearDown() override {
    SetCategoryHandler(kFailingCategory, nullptr);
    SetCategoryHandler(14, nullptr);
    SetLogLevel(0);
    CloseAllDocuments();
  }
  void Load(const std::string& steps) {
    ASSERT_EQ(ParseSteps(steps, 0, -1, 0).status, ParseStatus::Parsed);
    FixUpDocument(0);
    Document(0).file_name = "test.oxm";
  }
  std::string Run(int level = 1) {
    WriteSetting("*\\LogLevel", level);
    StartRun(0, kCommandNewRun, false, 0, 0);
    EXPECT_TRUE(WaitForWorkers());
    return ReadBytes(log_path_);
  }
  static std::string Failing(const std::string& onfail, const std::string& extra = "") {
    return "<step><action>Maximize</action>" + onfail + extra + "</step>\n";
  }
  static std::string Comment(const std::string& text) {
    return "<step><action>Comment</action><text>" + text + "</text></step>\n";
  }
  static bool Has(const std::string& log, const std::string& part) { return log.find(part) != std::string::npos; }

  StoreSandbox sandbox_;
  RecordingDialogs dialogs_;
  std::string log_path_;
  std::atomic<int> calls_{0};
  int succeed_at_ = 0;
};

TEST_F(FailureTest, RetryRunsTheStepOnceMoreForEachCountedRetryThenTheRunFails) {
  Load(Failing("<onfail value=\"2\">RETRY</onfail>") + Comment("never"));
  const std::string log = Run();
  EXPECT_EQ(calls_.load(), 3);
  EXPECT_TRUE(Has(log, "    Retrying step (retry 1 of 2)\r\n[STEP 1]: Maximize")) << log;
  EXPECT_TRUE(Has(log, "    Retrying step (retry 2 of 2)")) << log;
  EXPECT_FALSE(Has(log, "retry 3 of 2"));
  EXPECT_TRUE(Has(log, "RUN FAILED"));
  EXPECT_FALSE(Has(log, "never"));
  EXPECT_EQ(ReadSettingNumber("SOFTWARE\\Olvex\\FailStep"), 1);
  EXPECT_EQ(Document(0).steps[0].run_result, 3);
  EXPECT_TRUE(dialogs_.boxes.empty());

  // A success within the retries goes on; the counter starts afresh at the next step.
  CloseAllDocuments();
  calls_.store(0);
  succeed_at_ = 2;
  Load(Failing("<onfail value=\"1\">RETRY</onfail>") + Comment("reached"));
  EXPECT_TRUE(Has(Run(), "reached"));
}

TEST_F(FailureTest, TheReportNamesFileStepTimeActionAndErrorWithoutPercentSigns) {
  Load(Failing("") + Comment("never"));
  const std::string log = Run();
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  const RecordingDialogs::Box& box = dialogs_.boxes[0];
  EXPECT_EQ(box.title, "test.oxm - Step 1");
  EXPECT_EQ(box.text.rfind("Failure during Run\n\nFile:\ttest.oxm\nStep:\t1\nTime:\t", 0), 0u) << box.text;
  EXPECT_TRUE(Has(box.text, "\nAction:\t\"Maximize\"\t\nError:  100 broken")) << box.text;
  EXPECT_EQ(box.style & 0xFFFFF, platform::box::kIconExclamation | platform::box::kTaskModal | platform::box::kSetForeground);
  EXPECT_TRUE(Has(log, "    Failure Mode: (no failure mode selected)\r\nFailure during Run\r\n\r\nFile: test.oxm\r\n")) << log;
  EXPECT_TRUE(Has(log, "Error:  100 broken\r\nRUN FAILED\r\n")) << log;
  EXPECT_EQ(StatusText(0).rfind("Run Completed", 0), 0u);
  EXPECT_EQ(Document(0).steps[0].run_result, 3);
}

TEST_F(FailureTest, ErrorAndContinueGoesOnAndShowsOneBoxForFailuresCloseTogether) {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // no box of an earlier test counts
  Load(Failing("<onfail>ERROR AND CONTINUE</onfail>") + Failing("<onfail>ERROR AND CONTINUE</onfail>") +
       Comment("reached"));
  const std::string log = Run();
  EXPECT_TRUE(Has(log, "reached"));
  EXPECT_FALSE(Has(log, "RUN FAILED"));
  EXPECT_EQ(dialogs_.boxes.size(), 1u);
}

TEST_F(FailureTest, IgnoreAndSilentShowNoBoxAndAnErrorLongerThanABoxIsLoggedAlone) {
  SetCategoryHandler(kFailingCategory, [](int, int, int) {
    SetStepError(std::string(400, 'e'));
    return 0;
  });
  Load(Failing("<onfail>IGNORE</onfail>") + Failing("<onfail>SILENT</onfail>") + Comment("never"));
  const std::string log = Run();
  EXPECT_TRUE(dialogs_.boxes.empty());
  EXPECT_EQ(Document(0).steps[0].run_result, 4);
  EXPECT_EQ(Document(0).steps[1].run_result, 3);
  EXPECT_TRUE(Has(log, std::string(400, 'e') + "\r\nFailure during Run")) << log;
  EXPECT_FALSE(Has(log, "Error:  e"));
  EXPECT_FALSE(Has(log, "never"));
  EXPECT_EQ(ReadSettingNumber("SOFTWARE\\Olvex\\FailStep"), 2);
}

TEST_F(FailureTest, AskContinuesOnYesAndStopsOnNo) {
  dialogs_.answers = {platform::box::kAnswerYes, platform::box::kAnswerNo};
  Load(Failing("<onfail>ASK</onfail>") + Comment("between") + Failing("<onfail>ASK</onfail>") + Comment("never"));
  const std::string log = Run();
  ASSERT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_EQ(dialogs_.boxes[0].style & platform::box::kButtonsMask, platform::box::kYesNo);
  EXPECT_TRUE(Has(dialogs_.boxes[0].text, "\n\nContinue?"));
  EXPECT_TRUE(Has(log, "    User chose to CONTINUE\r\n[STEP 2]: Comment \"between\""));
  EXPECT_TRUE(Has(log, "    User chose to STOP\r\nRUN FAILED"));
  EXPECT_FALSE(Has(log, "never"));
}

TEST_F(FailureTest, JumpGoesToTheLabelAndAMissingLabelFailsWithABox) {
  Load(Failing("<onfail value=\"there\">JUMP</onfail>") + Comment("skipped") +
       "<step><action>Label</action><text>there</text></step>\n" + Failing("<onfail value=\"nowhere\">JUMP</onfail>"));
  const std::string log = Run();
  EXPECT_TRUE(Has(log, "    Jumping to label \"there\" [test.oxm - STEP 3]")) << log;
  EXPECT_FALSE(Has(log, "skipped"));
  EXPECT_TRUE(Has(log, "    Label \"nowhere\" not found\r\n"));
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].text, "Label \"nowhere\" not found");
  EXPECT_EQ(dialogs_.boxes[0].title, "test.oxm - Step 4");
  EXPECT_TRUE(Has(log, "RUN FAILED"));
  // A jump leaves the FailStep setting alone.
  EXPECT_FALSE(SettingExists("SOFTWARE\\Olvex\\FailStep"));
}

TEST_F(FailureTest, RestartBeginsAgainAtTheFirstStep) {
  succeed_at_ = 2;
  Load(Comment("first") + Failing("<onfail>RESTART</onfail>") + Comment("last"));
  const std::string log = Run();
  EXPECT_TRUE(Has(log, "    Restarting Run at at [Step 1]\r\n[STEP 2]: Maximize\r\n[STEP 1]: Comment \"first\"")) << log;
  EXPECT_EQ(calls_.load(), 2);
  EXPECT_TRUE(Has(log, "last"));
}

TEST_F(FailureTest, ATimeOutRetriesTheStepUntilItSucceedsOrTheTimeRunsOut) {
  succeed_at_ = 3;
  Load(Failing("<onfail>SILENT</onfail>", "<timeout>5</timeout>") + Comment("reached"));
  std::string log = Run();
  EXPECT_EQ(calls_.load(), 3);
  EXPECT_TRUE(Has(log, "reached"));
  EXPECT_FALSE(Has(log, "Failure Mode"));

  CloseAllDocuments();
  calls_.store(0);
  succeed_at_ = 0;
  Load(Failing("<onfail>SILENT</onfail>", "<timeout>=0.5+0.5</timeout>"));
  const auto start = std::chrono::steady_clock::now();
  log = Run();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950));
  EXPECT_GT(calls_.load(), 1);
  EXPECT_TRUE(Has(log, "RUN FAILED"));
}

TEST_F(FailureTest, AFalseBlockIfJumpsToItsElseAndDelayFailuresEndTheRun) {
  SetCategoryHandler(14, [](int, int step_index, int) { return step_index == 0 ? 0 : 1; });
  Load("<step><action>IF Expression</action><text>0</text></step>\n" + Comment("then") +
       "<step><action>ELSE</action></step>\n" + Comment("else"));
  std::string log = Run();
  EXPECT_EQ(Document(0).steps[0].run_result, 4);
  EXPECT_TRUE(Has(log, "    Jumping to next ELSE/END IF statement: [Step 3]"));
  EXPECT_FALSE(Has(log, "then"));
  EXPECT_FALSE(Has(log, "Failure Mode"));

  CloseAllDocuments();
  std::remove(log_path_.c_str());
  SetCategoryHandler(7, [](int, int, int) { return 0; });
  Load("<step><action>Delay</action><text>1</text></step>\n" + Comment("never"));
  log = Run();
  SetCategoryHandler(7, nullptr);
  EXPECT_EQ(Document(0).steps[0].run_result, 1);
  EXPECT_FALSE(Has(log, "Failure Mode"));
  EXPECT_FALSE(Has(log, "never"));
}

TEST_F(FailureTest, ALoggedFailureIsWrittenAtLogLevelZeroAndTheLevelComesBack) {
  Load(Failing("<onfail log=\"1\">SILENT</onfail>"));
  const std::string log = Run(0);
  EXPECT_TRUE(Has(log, "Failure during Run")) << log;
  EXPECT_FALSE(Has(log, "RUN FAILED"));
  EXPECT_EQ(LogLevel(), 0);
}

TEST_F(FailureTest, ProgramStartsTheCommandWithTheEnvironmentExpandedAndTheRunFails) {
  const std::string marker = sandbox_.dir().File("started.txt");
  ASSERT_TRUE(platform::WriteEnv("OLVEX_FAIL_MARKER", marker));
#ifdef _WIN32
  const std::string command = "cmd.exe /c echo x > %OLVEX_FAIL_MARKER%";
#else
  const std::string command = "touch %OLVEX_FAIL_MARKER%";
#endif
  std::string attribute = command;
  if (const std::size_t gt = attribute.find('>'); gt != std::string::npos) attribute.replace(gt, 1, "&gt;");
  Load(Failing("<onfail value=\"" + attribute + "\">PROGRAM</onfail>") + Comment("never"));
  std::string log = Run();
  EXPECT_TRUE(Has(log, "    Running program: [" + command.substr(0, command.find('%')) + marker + "]")) << log;
  EXPECT_TRUE(Has(log, "RUN FAILED"));
  EXPECT_FALSE(Has(log, "never"));
  for (int i = 0; i < 100 && !platform::PathExists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(platform::PathExists(marker));
  platform::RemoveEnv("OLVEX_FAIL_MARKER");

  CloseAllDocuments();
  Load(Failing("<onfail value=\"no-such-program-x %UNSET_OLVEX_NAME%\">PROGRAM</onfail>"));
  log = Run();
  EXPECT_TRUE(Has(log, "    Unable to start program \"no-such-program-x %UNSET_OLVEX_NAME%\"")) << log;
}

}  // namespace
}  // namespace olvex::test
