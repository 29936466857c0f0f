#pragma once
// The Windows category: Use Window and the window actions.

namespace olvex {

int HandleWindowsStep(int slot, int step_index);

}  // namespace olvex
