#include "windows/window_actions.h"

#include "engine/dispatch.h"

namespace olvex {

int HandleWindowsStep(int slot, int step_index) { return StepNotAvailable(slot, step_index); }

}  // namespace olvex
