// The runtime is a program without a console: standard error is a pipe or a
// file when a caller gave it one, never a terminal, and has no status line.
#include "platform/terminal.h"

#include <cstdio>

namespace platform {

bool ErrorIsTerminal() { return false; }
void ShowStatusLine(std::string_view) {}
void ClearStatusLine() {}
void HoldStatusLine(bool) {}

void WriteError(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace platform
