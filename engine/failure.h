#pragma once
// What happens after a failed step: the time-out retry, then the step's
// failure mode (error box, ignore, retry, ask, jump, count, restart, program).
#include <string_view>

namespace olvex {

// The failure mode that a step's `fail_mode` text chooses, as HandleStepFailure
// tests the words (containment, in its order): "IGNORE", "RETRY", "ERROR" (also
// for an empty mode), "SILENT", "ASK", "JUMP", "VARIABLE", "RESTART", "PROGRAM",
// or "" for any other text (the run fails).
std::string_view FailureModeWord(std::string_view mode);

// The zero-based index of the next step, or -1 to end the run.
int HandleStepFailure(int slot, int step_index);

}  // namespace olvex
