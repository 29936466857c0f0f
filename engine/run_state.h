#pragma once
// The state that the run's worker thread and the main thread share. Each
// value is written by one side and read by the other.
#include <atomic>
#include <cstdint>

namespace olvex {

struct SharedRunState {
  std::atomic<int> stop_flag{0};        // 1 asks the worker to stop after the current step
  std::atomic<int> next_step{-1};       // -1: the following step; else the zero-based index to go to
  std::atomic<int> held_keys{0};        // keys pressed by {-Down} and not released: 1 Ctrl, 2 Shift, 4 Alt
  std::atomic<std::intptr_t> current_window{0};  // the window of the latest Use Window step
  std::atomic<int> stop_key{0x13};      // the stop key's virtual-key code (Pause)
  std::atomic<int> exit_code{3829};     // 3829: not set by an Exit action
};

SharedRunState& RunShared();

inline constexpr int kExitCodeNotSet = 3829;

}  // namespace olvex
