#include "platform/win32/system_text.h"

namespace platform {

std::string SystemErrorText(DWORD code) {
  char text[2048];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text - 1, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
  return n > 0 ? std::string(text, n) : "Error " + std::to_string(code);
}

}  // namespace platform
