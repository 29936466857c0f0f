// What a run does after a failed step where a step must fail or succeed on
// cue: the time-out retry, the boxes, long errors (the other failure modes run
// as script cases).
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
#include "tests/support/script_test.h"
#include "tests/support/test_support.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

constexpr int kFailingCategory = 3;  // "Maximize" and its kin

class FailureTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
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
    ScriptTest::TearDown();
  }
  // Runs `steps` as "test.oxm" at log `level`, counting the calls afresh; the log.
  std::string RunSteps(const std::string& steps, int level = 1) {
    Load(steps);
    Document(0).file_name = "test.oxm";
    calls_.store(0);
    std::remove(log_path_.c_str());
    WriteSetting("*\\LogLevel", level);
    StartRun(0, kCommandNewRun, false, 0, 0);
    EXPECT_TRUE(WaitForWorkers());
    return Log();
  }
  static std::string Failing(const std::string& onfail, const std::string& extra = "") {
    return "<step><action>Maximize</action>" + onfail + extra + "</step>\n";
  }
  static std::string Comment(const std::string& text) {
    return "<step><action>Comment</action><text>" + text + "</text></step>\n";
  }
  static bool Has(const std::string& log, const std::string& part) { return log.find(part) != std::string::npos; }

  RecordingDialogs dialogs_;
  std::atomic<int> calls_{0};
  int succeed_at_ = 0;
};

TEST_F(FailureTest, ErrorAndContinueGoesOnAndShowsOneBoxForFailuresCloseTogether) {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // no box of an earlier test counts
  const std::string log = RunSteps(Failing("<onfail>ERROR AND CONTINUE</onfail>") +
                                   Failing("<onfail>ERROR AND CONTINUE</onfail>") + Comment("reached"));
  EXPECT_TRUE(Has(log, "reached"));
  EXPECT_FALSE(Has(log, "RUN FAILED"));
  EXPECT_EQ(dialogs_.boxes.size(), 1u);
}

TEST_F(FailureTest, IgnoreAndSilentShowNoBoxAndAnErrorLongerThanABoxIsLoggedAlone) {
  SetCategoryHandler(kFailingCategory, [](int, int, int) {
    SetStepError(std::string(400, 'e'));
    return 0;
  });
  const std::string log = RunSteps(Failing("<onfail>IGNORE</onfail>") + Failing("<onfail>SILENT</onfail>") + Comment("never"));
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
  const std::string log =
      RunSteps(Failing("<onfail>ASK</onfail>") + Comment("between") + Failing("<onfail>ASK</onfail>") + Comment("never"));
  ASSERT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_EQ(dialogs_.boxes[0].style & platform::box::kButtonsMask, platform::box::kYesNo);
  // The error is shown without its percent signs.
  EXPECT_TRUE(Has(dialogs_.boxes[0].text, "\nError:  100 broken\n\nContinue?")) << dialogs_.boxes[0].text;
  EXPECT_TRUE(Has(log, "    User chose to CONTINUE\r\n[STEP 2]: Comment \"between\""));
  EXPECT_TRUE(Has(log, "    User chose to STOP\r\nRUN FAILED"));
  EXPECT_FALSE(Has(log, "never"));
}

TEST_F(FailureTest, ATimeOutRetriesTheStepUntilItSucceedsOrTheTimeRunsOut) {
  succeed_at_ = 3;
  std::string log = RunSteps(Failing("<onfail>SILENT</onfail>", "<timeout>5</timeout>") + Comment("reached"));
  EXPECT_EQ(calls_.load(), 3);
  EXPECT_TRUE(Has(log, "reached"));
  EXPECT_FALSE(Has(log, "Failure Mode"));

  // A success within the counted retries goes on.
  succeed_at_ = 2;
  EXPECT_TRUE(Has(RunSteps(Failing("<onfail value=\"1\">RETRY</onfail>") + Comment("reached")), "reached"));

  succeed_at_ = 0;
  const auto start = std::chrono::steady_clock::now();
  log = RunSteps(Failing("<onfail>SILENT</onfail>", "<timeout>=0.5+0.5</timeout>"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950));
  EXPECT_GT(calls_.load(), 1);
  EXPECT_TRUE(Has(log, "RUN FAILED"));
}

TEST_F(FailureTest, AFalseBlockIfJumpsToItsElseAndDelayFailuresEndTheRun) {
  // A jump to a label writes no FailStep (the step a run failed at).
  RunSteps(Failing("<onfail value=\"{STEP2}\">JUMP</onfail>") + Comment("landed"));
  EXPECT_FALSE(SettingExists("SOFTWARE\\Olvex\\FailStep"));
  SetCategoryHandler(14, [](int, int step_index, int) { return step_index == 0 ? 0 : 1; });
  std::string log = RunSteps("<step><action>IF Expression</action><text>0</text></step>\n" + Comment("then") +
                             "<step><action>ELSE</action></step>\n" + Comment("else"));
  EXPECT_EQ(Document(0).steps[0].run_result, 4);
  EXPECT_TRUE(Has(log, "    Jumping to next ELSE/END IF statement: [Step 3]"));
  EXPECT_FALSE(Has(log, "then"));
  EXPECT_FALSE(Has(log, "Failure Mode"));

  SetCategoryHandler(7, [](int, int, int) { return 0; });
  log = RunSteps("<step><action>Delay</action><text>1</text></step>\n" + Comment("never"));
  SetCategoryHandler(7, nullptr);
  EXPECT_EQ(Document(0).steps[0].run_result, 1);
  EXPECT_FALSE(Has(log, "Failure Mode"));
  EXPECT_FALSE(Has(log, "never"));
}

}  // namespace
}  // namespace olvex::test
