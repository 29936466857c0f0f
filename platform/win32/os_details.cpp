// Windows: the computer's name and the extended version information.
#include <windows.h>

#include "platform/os_details.h"
#include "platform/system.h"

namespace platform {

OsDetails ReadOsDetails() {
  OsDetails details;
  char name[MAX_COMPUTERNAME_LENGTH + 2] = {};
  DWORD size = sizeof name;
  if (GetComputerNameA(name, &size)) details.computer_name = name;
  OSVERSIONINFOEXA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
#pragma GCC diagnostic pop
    details.windows = true;
    details.nt_family = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    details.major = static_cast<int>(info.dwMajorVersion);
    details.minor = static_cast<int>(info.dwMinorVersion);
    details.build = static_cast<int>(info.dwBuildNumber & 0xFFFF);
    details.product_type = info.wProductType;
    details.platform_id = info.dwPlatformId;
    details.suite_mask = info.wSuiteMask;
    details.service_pack = info.szCSDVersion;
  }
  details.description = WindowsVersionName(WindowsVersion());
  char folder[MAX_PATH + 1] = {};
  if (GetWindowsDirectoryA(folder, MAX_PATH)) details.install_folder = folder;
  return details;
}

}  // namespace platform
