#include "data/data_actions.h"

#include "engine/dispatch.h"

namespace olvex {

int HandleDataStep(int slot, int step_index) { return StepNotAvailable(slot, step_index); }

}  // namespace olvex
