#pragma once
// The Windows category: Use Window and the window actions.

namespace olvex {

int HandleWindowsStep(int slot, int step_index);
// The Menu category until its actions arrive: its steps fail, with the
// desktop error where there is no desktop.
int HandleMenuStep(int slot, int step_index);

}  // namespace olvex
