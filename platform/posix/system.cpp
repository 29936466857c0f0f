#include "platform/system.h"

#include <pwd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <vector>

namespace platform {

std::optional<MemoryStatus> PhysicalMemory() {
  MemoryStatus status;
  bool have_total = false, have_available = false;
  if (std::FILE* f = std::fopen("/proc/meminfo", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      unsigned long long kib = 0;
      if (std::sscanf(line, "MemTotal: %llu kB", &kib) == 1) {
        status.total = kib * 1024;
        have_total = true;
      } else if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
        status.available = kib * 1024;
        have_available = true;
      }
    }
    std::fclose(f);
  }
  long page = ::sysconf(_SC_PAGESIZE);
  if (!have_total) {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    if (pages <= 0 || page <= 0) return std::nullopt;
    status.total = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  }
  if (!have_available) {
    long pages = ::sysconf(_SC_AVPHYS_PAGES);
    if (pages > 0 && page > 0) status.available = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  }
  return status;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  for (int i = 0; i < 8; ++i) {
    if (::getcwd(buffer.data(), buffer.size())) return std::string(buffer.data());
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

std::optional<OsVersion> WindowsVersion() { return std::nullopt; }

std::uint64_t TickCount() {
  struct timespec ts;
#ifdef CLOCK_BOOTTIME
  if (::clock_gettime(CLOCK_BOOTTIME, &ts) != 0)
#endif
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

std::optional<long> TimeZoneBiasMinutes() {
  time_t now = ::time(nullptr);
  struct tm local;
  if (!::localtime_r(&now, &local)) return std::nullopt;
  return -local.tm_gmtoff / 60;
}

std::string UserName() {
  struct passwd entry;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
    return found->pw_name;
  const char* user = std::getenv("USER");
  return user ? user : "";
}

std::string FileVersion(const std::string&) { return {}; }

std::optional<std::string> NewTempFileName(const std::string& folder) {
  std::string pattern = folder + "olvXXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) return std::nullopt;
  ::close(fd);
  return pattern;
}

std::optional<std::string> KnownFolder(Folder) { return std::nullopt; }

std::optional<int> UserLanguageId() { return std::nullopt; }

}  // namespace platform
