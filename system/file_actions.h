#pragma once
// The Files & Folders category.

namespace olvex {

int HandleFilesStep(int slot, int step_index);

}  // namespace olvex
