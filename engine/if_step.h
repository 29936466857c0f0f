#pragma once
// The IF actions: the block structure (IF, ELSE IF, ELSE, END IF) and every
// condition.

namespace olvex {

// 1 when the condition holds or the step only steers the block (the next
// step may be set through the run's next-step override), 0 when it is false.
int HandleIfStep(int slot, int step_index);

}  // namespace olvex
