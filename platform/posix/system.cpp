#include "platform/system.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

}  // namespace platform
