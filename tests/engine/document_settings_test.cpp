// Loading reads and writes settings: default output and failure mode, the
// longest-script statistic. And the native runtime is an executable too.
#include <gtest/gtest.h>

#include "engine/document.h"
#include "engine/settings.h"
#include "tests/settings/store_sandbox.h"
#include "tests/startup/carried_script.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

std::string Step(const std::string& action) { return "<step><action>" + action + "</action></step>"; }

class DocumentSettings : public ::testing::Test {
 protected:
  void SetUp() override { CloseAllDocuments(); }
  void TearDown() override { CloseAllDocuments(); }
  StoreSandbox store_;
  RecordingDialogs dialogs_;
  ScratchDir dir_;
};

TEST_F(DocumentSettings, NewStepsTakeTheDefaultOutputAndFailureMode) {
  WriteSetting("*\\DefaultOutputTo", "Variable");
  WriteSetting("*\\DefaultOutputTo_Option", "result");
  WriteSetting("*\\DefaultFailureMode", "JUMP");
  WriteSetting("*\\DefaultFailureMode_Option", "Fallback");
  std::string script = Step("Get Text") + Step("Use Window") + Step("Comment") +
                       "<step><action>Read File</action><output value=\"x\">Clipboard</output></step>";
  ASSERT_EQ(LoadDocument(dir_.Write("d.oxm", script), 0), 5);
  const auto& steps = Document(0).steps;
  EXPECT_EQ(steps[0].output(), "Variable");
  EXPECT_EQ(steps[0].output_option(), "%result");  // the post-load pass marks the name
  EXPECT_EQ(steps[0].fail_mode(), "JUMP");
  EXPECT_EQ(steps[1].output(), "");  // Use Window never takes the default output
  EXPECT_EQ(steps[1].fail_mode(), "JUMP");
  EXPECT_EQ(steps[2].output(), "");  // Comment neither saves output nor fails
  EXPECT_EQ(steps[2].fail_mode(), "");
  EXPECT_EQ(steps[3].output(), "Clipboard");  // an output of its own stays

  WriteSetting("*\\DefaultOutputTo", "(do not save)");
  ASSERT_EQ(LoadDocument(dir_.Write("e.oxm", Step("Get Text")), 1), 2);
  EXPECT_EQ(Document(1).steps[0].output(), "");
}

TEST_F(DocumentSettings, LongestScriptIsCountedWhenStatisticsAreOn) {
  const std::string three = dir_.Write("three.oxm", Step("Comment") + Step("Comment") + Step("Comment"));
  ASSERT_EQ(LoadDocument(three, 0), 4);
  EXPECT_FALSE(SettingExists("SOFTWARE\\Olvex\\Report\\stats_longest_script"));

  WriteSetting("SOFTWARE\\Olvex\\Report\\stats_active", 1);
  ASSERT_EQ(LoadDocument(three, 0), 4);
  EXPECT_EQ(ReadSettingNumber("SOFTWARE\\Olvex\\Report\\stats_longest_script"), 4);
  ASSERT_EQ(LoadDocument(dir_.Write("one.oxm", Step("Comment")), 0), 2);
  EXPECT_EQ(ReadSettingNumber("SOFTWARE\\Olvex\\Report\\stats_longest_script"), 4);  // only ever raised
}

TEST_F(DocumentSettings, AnElfImageIsAnExecutableThatMayCarryAScript) {
  // An image whose strings look like a step, and whose last 4 bytes say it carries nothing.
  const std::string image =
      "\x7f" "ELF" + std::string(300, '\0') + "<step><action>Comment</action></step>" + std::string(4, '\0');
  EXPECT_EQ(LoadDocument(dir_.Write("plain", image), 0), 0);  // its own strings are no script
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].text, "Unable to read \"" + dir_.File("plain") + "\"");

  const std::string carrier = dir_.Write("carrier", WithCarriedScript(image, Step("Delay") + Step("Comment")));
  EXPECT_EQ(LoadDocument(carrier, 0), 3);
}

}  // namespace
}  // namespace olvex::test
