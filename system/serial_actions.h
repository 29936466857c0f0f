#pragma once
// Serial Port Send and Serial Port Receive.
#include <cstddef>

namespace olvex {

class Step;

// Serial Port Send (an action name without "RECEIVE") or Receive.
int SerialStep(int slot, int step_index, const Step& step);

// The receive buffer's size: bytes beyond it are counted and reported, not kept.
inline constexpr std::size_t kSerialReceiveLimit = 32u << 20;

}  // namespace olvex
