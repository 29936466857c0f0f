#pragma once
// What expansion learns from the run: the command line, the log, the repeat
// counter and the current window.
#include <string>

namespace olvex {

// Installs the run's expansion host; `command_line` is the program's own.
void InstallRunExpansionHost(std::string command_line);

}  // namespace olvex
