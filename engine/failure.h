#pragma once
// What happens after a failed step: the time-out retry, then the step's
// failure mode (error box, ignore, retry, ask, jump, count, restart, program).

namespace olvex {

// The zero-based index of the next step, or -1 to end the run.
int HandleStepFailure(int slot, int step_index);

}  // namespace olvex
