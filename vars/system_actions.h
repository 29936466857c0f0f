#pragma once
// The System category: Comment, the variable actions and the rest of the
// System actions (step delay, setting changes, output and log writes, the
// clipboard, log-off / restart / shut-down and the Windows API call).
#include <functional>
#include <string>

namespace olvex {

int HandleSystemStep(int slot, int step_index);

// The main window's output pane, when it has one: receives each line that
// Write to Output adds (at most 259 characters). None by default.
void SetOutputPane(std::function<void(const std::string& line)> pane);

}  // namespace olvex
