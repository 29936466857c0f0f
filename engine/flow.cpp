#include "engine/flow.h"

namespace olvex {

int HandleFlowStep(int /*slot*/, int /*step_index*/) { return 1; }

void ReleaseLoopWork() {}

}  // namespace olvex
