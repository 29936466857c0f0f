#pragma once
// The Run category: programs, documents, processes, services and called scripts.

namespace olvex {

int HandleRunStep(int slot, int step_index);

}  // namespace olvex
