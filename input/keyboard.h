#pragma once
// The Keyboard category: Type, Text via Clipboard, Direct Window Entry, Block and Unblock Input.

namespace olvex {

int HandleKeyboardStep(int slot, int step_index);

}  // namespace olvex
