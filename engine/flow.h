#pragma once
// The "Loops & Flow" actions: loops, NEXT LOOP, Break, labels, GOTO, GOSUB
// and RETURN, run repeats and the exit actions.

namespace olvex {

// Returns 1 (success; the next step is the run's next-step override), 0
// (failure, with the reason in the step error message) or -1 (stop the run).
int HandleFlowStep(int slot, int step_index);

// Releases the loop work data (item lists, an open file): when a loop ends
// and when the run ends.
void ReleaseLoopWork();

}  // namespace olvex
