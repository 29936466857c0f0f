#pragma once
// The category handlers of the run engine: a step's category (2 .. 16) names
// the handler that runs it. Every handler returns 1 (success), 0 (failure,
// with the reason in the step error message) or -1 (stop the run).

namespace olvex {

using CategoryHandler = int (*)(int slot, int step_index);

// The handler of a category, or nullptr when this build has none for it.
CategoryHandler HandlerOfCategory(int category);

// Fails a step whose action this build does not have:
// "Action not available in this build: "<action>"".
int StepNotAvailable(int slot, int step_index);

}  // namespace olvex
