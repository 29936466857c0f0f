#include "system/library_calls.h"

#include "engine/dispatch.h"

namespace olvex {

int HandleCallDllStep(int slot, int step_index) { return StepNotAvailable(slot, step_index); }

}  // namespace olvex
