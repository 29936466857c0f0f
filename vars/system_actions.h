#pragma once
// The System category: Comment, the variable actions and the rest of the
// System actions.

namespace olvex {

int HandleSystemStep(int slot, int step_index);

}  // namespace olvex
