// Block partners, labels, the loop stack and closing IF levels on a jump.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "engine/control.h"
#include "engine/document.h"
#include "engine/run_log.h"

namespace olvex::test {
namespace {

struct S { std::string action, text, options; };

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseAllDocuments();
    ClearControlState();
    SetLogObserver([this](const std::string& line) { log_.push_back(line); });
    SetLogLevel(1);
  }
  void TearDown() override {
    SetLogObserver(nullptr);
    SetLogLevel(0);
    CloseAllDocuments();
  }
  void Load(const std::vector<S>& steps) {
    std::string text;
    for (const S& s : steps)
      text += "<step><action>" + s.action + "</action><text>" + s.text + "</text><options>" + s.options + "</options></step>\n";
    ASSERT_EQ(ParseSteps(text, 0, -1, 0).status, ParseStatus::Parsed);
    FixUpDocument(0);
  }
  std::vector<std::string> log_;
};

TEST_F(ControlTest, LoopPartnersSkipNestedLoopsAndDisabledSteps) {
  Load({{"Start 'For' Loop", "3", ""},   // 0
        {"Start Text Loop", "a,b", ""},  // 1
        {"Comment", "", ""},             // 2
        {"NEXT LOOP", "", ""},           // 3
        {"NEXT LOOP", "", ""},           // 4 (disabled below)
        {"NEXT LOOP", "", ""}});         // 5
  Document(0).steps[4].run_status = kRunStatusDisabled;
  EXPECT_EQ(std::make_tuple(FindLoopEnd(0, 0), FindLoopEnd(0, 1), FindLoopEnd(0, 2)), std::make_tuple(5, 3, 3));
  EXPECT_EQ(std::make_tuple(FindLoopStart(0, 3), FindLoopStart(0, 5), FindLoopStart(0, 2)), std::make_tuple(1, 0, 1));
  // A loop start without its NEXT LOOP: the step after it; a NEXT LOOP without start: step 0.
  Load({{"Comment", "", ""}, {"NEXT LOOP", "", ""}, {"Start 'While' Loop", "1", ""}});
  EXPECT_EQ(FindLoopEnd(0, 8), 9);
  EXPECT_EQ(FindLoopStart(0, 7), 0);
}

TEST_F(ControlTest, ElseOrEndIfSkipsNestedBlocksButNotQuickIfs) {
  Load({{"IF Expression", "1", ""},          // 0
        {"IF Text", "", "Quick"},            // 1: no block
        {"IF Expression", "0", ""},          // 2: nested block
        {"ELSE", "", ""},                    // 3
        {"END IF", "", ""},                  // 4
        {"IF Expression", "1", "ELSE IF"},   // 5
        {"ELSE", "", ""},                    // 6
        {"END IF", "", ""}});                // 7
  EXPECT_EQ(std::make_tuple(FindElseOrEndIf(0, 0, false), FindElseOrEndIf(0, 0, true), FindElseOrEndIf(0, 5, false),
                            FindElseOrEndIf(0, 2, false)),
            std::make_tuple(5, 7, 6, 3));
  Document(0).steps[7].run_status = kRunStatusDisabled;
  log_.clear();
  EXPECT_EQ(FindElseOrEndIf(0, 6, true), 8);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0], "    WARNING: Matching ELSE/END IF statement not found!");
}

TEST_F(ControlTest, LabelsByNameWithoutCaseAndByStepNumber) {
  Load({{"Label", "Start", ""}, {"Label", "again", ""}, {"Comment", "", ""}, {"Label", "again", ""}});
  for (const auto& [label, step] : {std::pair{"AGAIN", 1}, {"{STEP4}", 3}, {"{step2}", 1}, {"{STEP9}", -1}, {"missing", -1}})
    EXPECT_EQ(FindLabel(0, label), step) << label;
  Document(0).steps[1].run_status = kRunStatusDisabled;
  EXPECT_EQ(FindLabel(0, "again"), 3);
  EXPECT_EQ(FindLabel(0, "{STEP2}"), -1);
}

TEST_F(ControlTest, TheLoopStackDropsTheOutermostOnTheSeventeenthPush) {
  for (int i = 1; i <= kLoopDepth + 1; ++i) PushLoop(2, LoopEntry{i, 0, 0, 1, 1});
  EXPECT_EQ(InnermostLoop(2).start_step, kLoopDepth + 1);
  EXPECT_EQ(Control().loops[2][kLoopDepth - 1].start_step, 2);
  PopLoop(2);
  EXPECT_EQ(InnermostLoop(2).start_step, kLoopDepth);
  EXPECT_EQ(Control().loops[2][kLoopDepth - 1].start_step, 0);
  EXPECT_EQ(InnermostLoop(0).start_step, 0);
}

TEST_F(ControlTest, AJumpClosesTheIfLevelsItCrossesInEitherDirection) {
  Load({{"IF Expression", "1", ""},         // 0
        {"IF Expression", "1", "Quick"},    // 1: not a level
        {"IF Expression", "1", ""},         // 2
        {"GOTO Label", "out", ""},          // 3
        {"END IF", "", ""},                 // 4
        {"END IF", "", ""},                 // 5
        {"Label", "out", ""}});             // 6
  Control().if_depth = 2;
  Control().if_taken[1] = 1;
  Control().if_taken[2] = 3;
  CloseIfLevels(0, 3, 6);
  EXPECT_EQ(Control().if_depth, 0);
  EXPECT_EQ(log_, (std::vector<std::string>{"    Leaving (and closing) IF block which was entered at [Step 3]",
                                            "    Leaving (and closing) IF block which was entered at [Step 1]"}));
  // Backwards over the two IF steps; the depth never goes below 0.
  Control().if_depth = 1;
  CloseIfLevels(0, 3, 0);
  EXPECT_EQ(Control().if_depth, 0);
}

}  // namespace
}  // namespace olvex::test
