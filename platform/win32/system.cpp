#include <windows.h>

#include <vector>

#include "platform/system.h"

namespace platform {

std::optional<MemoryStatus> PhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return std::nullopt;
  return MemoryStatus{status.ullTotalPhys, status.ullAvailPhys};
}

std::string CurrentDirectory() {
  DWORD needed = GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return {};
  std::vector<char> buffer(needed + 1, '\0');
  DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length == 0 || length >= buffer.size()) return {};
  return std::string(buffer.data(), length);
}

std::optional<OsVersion> WindowsVersion() {
  OSVERSIONINFOEXA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return std::nullopt;
#pragma GCC diagnostic pop
  OsVersion version;
  version.major = static_cast<int>(info.dwMajorVersion);
  version.minor = static_cast<int>(info.dwMinorVersion);
  version.build = static_cast<int>(info.dwBuildNumber & 0xFFFF);
  version.nt_family = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
  version.server = info.wProductType != 0 && info.wProductType != VER_NT_WORKSTATION;
  return version;
}

std::uint64_t TickCount() { return GetTickCount64(); }

}  // namespace platform
