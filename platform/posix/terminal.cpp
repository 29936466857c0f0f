// The status line: drawn from the start of the line and erased to its end
// ("\r", text, ESC [K), the cursor left behind it; cleared the same way.
#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace platform {
namespace {

std::mutex g_mutex;
bool g_line_shown = false;
std::string g_line;  // the line shown, as drawn
bool g_held = false;

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void Put(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void ClearLocked() {
  if (!g_line_shown) return;
  Put("\r\x1b[K");
  g_line_shown = false;
}

}  // namespace

bool ErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

void ShowStatusLine(std::string_view text) {
  if (!ErrorIsTerminal()) return;
  // The last column stays free: a line that fills it wraps on some terminals.
  const std::size_t room = static_cast<std::size_t>(TerminalWidth() - 1);
  std::string line = "\r";
  for (char c : text.substr(0, std::min(text.size(), room))) line += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
  line += "\x1b[K";
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_held || (g_line_shown && line == g_line)) return;
  Put(line);
  g_line = std::move(line);
  g_line_shown = true;
}

void ClearStatusLine() {
  std::lock_guard<std::mutex> lock(g_mutex);
  ClearLocked();
}

void HoldStatusLine(bool held) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_held = held;
}

void WriteError(std::string_view text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ClearLocked();
  Put(text);
}

}  // namespace platform
