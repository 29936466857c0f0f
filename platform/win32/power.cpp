// ExitWindowsEx, after the shutdown privilege has been enabled.
#include <windows.h>

#include "platform/power.h"

namespace platform {
namespace {

void EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES privileges{};
  if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  }
  CloseHandle(token);
}

class Win32Power : public Power {
 public:
  bool ExitSystem(int mode, std::string* error) override {
    EnableShutdownPrivilege();
    if (ExitWindowsEx(static_cast<UINT>(mode), SHTDN_REASON_MAJOR_OTHER | SHTDN_REASON_FLAG_PLANNED)) return true;
    if (error) {
      char text[512] = "";
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0, text,
                     sizeof text, nullptr);
      std::string message = text;
      while (!message.empty() && (message.back() == '\r' || message.back() == '\n' || message.back() == ' '))
        message.pop_back();
      *error = message.empty() ? "The system refused to end the session" : message;
    }
    return false;
  }
};

}  // namespace

Power& PlatformPower() {
  static Win32Power instance;
  return instance;
}

}  // namespace platform
