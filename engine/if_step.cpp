#include "engine/if_step.h"

namespace olvex {

int HandleIfStep(int /*slot*/, int /*step_index*/) { return 1; }

}  // namespace olvex
