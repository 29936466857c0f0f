#pragma once
// The Data category: text operations, registry and INI actions, database queries.

namespace olvex {

int HandleDataStep(int slot, int step_index);

}  // namespace olvex
