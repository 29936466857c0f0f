#include "system/run_actions.h"

#include "engine/dispatch.h"

namespace olvex {

int HandleRunStep(int slot, int step_index) { return StepNotAvailable(slot, step_index); }

}  // namespace olvex
