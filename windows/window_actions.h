#pragma once
// The Windows category: Use Window and the window actions.

namespace olvex {

int HandleWindowsStep(int slot, int step_index);
// The Menu and Mouse categories until their actions arrive: they fail, with
// the desktop error where there is no desktop.
int HandleMenuStep(int slot, int step_index);
int HandleMouseStep(int slot, int step_index);

}  // namespace olvex
