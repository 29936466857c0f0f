// Loading reads and writes settings: default output and failure mode, the
// longest-script statistic. And the native runtime is an executable too.
#include <gtest/gtest.h>

#include <tuple>

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

// Steps that take the defaults run as a script case; here the steps that never take them.
TEST_F(DocumentSettings, SomeStepsNeverTakeTheDefaultOutputOrFailureMode) {
  WriteSetting("*\\DefaultOutputTo", "Variable");
  WriteSetting("*\\DefaultOutputTo_Option", "result");
  WriteSetting("*\\DefaultFailureMode", "JUMP");
  ASSERT_EQ(LoadDocument(dir_.Write("d.oxm", Step("Get Text") + Step("Use Window") + Step("Comment")), 0), 4);
  const auto& steps = Document(0).steps;
  EXPECT_EQ(std::make_tuple(steps[0].output(), steps[0].fail_mode()), std::make_tuple("Variable", "JUMP"));
  EXPECT_EQ(std::make_tuple(steps[1].output(), steps[1].fail_mode()), std::make_tuple("", "JUMP"));
  EXPECT_EQ(std::make_tuple(steps[2].output(), steps[2].fail_mode()), std::make_tuple("", ""));

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
