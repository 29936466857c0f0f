// ExitWindowsEx, after the shutdown privilege has been enabled.
#include <windows.h>

#include "platform/power.h"
#include "platform/win32/system_text.h"

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
    if (error) *error = SystemErrorText(GetLastError());
    return false;
  }
};

}  // namespace

Power& PlatformPower() {
  static Win32Power instance;
  return instance;
}

}  // namespace platform
