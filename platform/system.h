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

// Minutes to add to local time to get UTC (Windows' time-zone bias); nothing
// when the platform cannot tell.
std::optional<long> TimeZoneBiasMinutes();
// The logged-on user's name; empty when unknown.
std::string UserName();
// The file version of an executable ("1.2.3.4"); empty when it has none.
std::string FileVersion(const std::string& path);
// A temporary file name made once per process in the temporary folder and
// then given again; nothing when none can be made.
std::optional<std::string> ProcessTempFileName();
// Folders of the system and of the user; nothing where the platform has none.
enum class Folder { kSystem, kWindows, kStartMenu, kDesktop, kDocuments, kAppData };
std::optional<std::string> KnownFolder(Folder folder);
// The user's default locale id (Windows LCID); nothing where there is none.
std::optional<int> UserLanguageId();

}  // namespace platform
