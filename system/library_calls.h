#pragma once
// Calls of functions in dynamic-link libraries (the Run category's Call DLL Function).

namespace olvex {

int HandleCallDllStep(int slot, int step_index);

}  // namespace olvex
