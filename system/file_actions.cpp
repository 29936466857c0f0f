#include "system/file_actions.h"

#include "engine/dispatch.h"

namespace olvex {

int HandleFilesStep(int slot, int step_index) { return StepNotAvailable(slot, step_index); }

}  // namespace olvex
