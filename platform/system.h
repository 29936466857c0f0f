#pragma once
// Facts about the running system: memory, the current directory, the
// operating-system version and the time since start.
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct MemoryStatus {
  std::uint64_t total = 0;      // physical memory, bytes
  std::uint64_t available = 0;  // of it, available
};
// Nothing when the platform cannot tell.
std::optional<MemoryStatus> PhysicalMemory();

// The process's current directory; empty when it cannot be read.
std::string CurrentDirectory();

struct OsVersion {
  int major = 0, minor = 0, build = 0;
  bool nt_family = true;  // false for the Windows 95 family
  bool server = false;    // a server product
};
// The Windows version; nothing on other systems.
std::optional<OsVersion> WindowsVersion();
// "Windows 98", "Windows ME", "Windows NT", "Windows 2000", "Windows XP",
// "Windows 2003", "Windows Vista", "Windows Server 2008", "Windows 7" or
// "Unknown" (also for nothing).
std::string WindowsVersionName(const std::optional<OsVersion>& version);

// Milliseconds since the system started.
std::uint64_t TickCount();

}  // namespace platform
