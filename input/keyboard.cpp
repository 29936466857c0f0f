#include "input/keyboard.h"

#include "engine/dispatch.h"

namespace olvex {

int HandleKeyboardStep(int slot, int step_index) { return StepNotAvailable(slot, step_index); }

}  // namespace olvex
