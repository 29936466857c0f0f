// The loop stack. Block partners, labels and closing IF levels on a jump run
// as script cases (flow/block_partners and the others).
#include <gtest/gtest.h>

#include "engine/control.h"

namespace olvex::test {
namespace {

TEST(ControlState, TheLoopStackDropsTheOutermostOnTheSeventeenthPush) {
  ClearControlState();
  for (int i = 1; i <= kLoopDepth + 1; ++i) PushLoop(2, LoopEntry{i, 0, 0, 1, 1});
  EXPECT_EQ(InnermostLoop(2).start_step, kLoopDepth + 1);
  EXPECT_EQ(Control().loops[2][kLoopDepth - 1].start_step, 2);
  PopLoop(2);
  EXPECT_EQ(InnermostLoop(2).start_step, kLoopDepth);
  EXPECT_EQ(Control().loops[2][kLoopDepth - 1].start_step, 0);
  EXPECT_EQ(InnermostLoop(0).start_step, 0);
  ClearControlState();
}

}  // namespace
}  // namespace olvex::test
