#include "platform/system.h"

#include <mutex>

#include "platform/environment.h"

namespace platform {

std::optional<std::string> NewTempFileName(const std::string& folder);  // the backend's own

std::optional<std::string> ProcessTempFileName() {
  static std::mutex mutex;
  static std::optional<std::string> name;
  std::lock_guard<std::mutex> lock(mutex);
  if (!name) {
    std::optional<std::string> folder = TempFolder();
    if (folder) name = NewTempFileName(*folder);
  }
  return name;
}

std::string WindowsVersionName(const std::optional<OsVersion>& version) {
  if (!version) return "Unknown";
  const OsVersion& v = *version;
  if (!v.nt_family) {
    if (v.major == 4 && v.minor == 10) return "Windows 98";
    if (v.major == 4 && v.minor == 90) return "Windows ME";
    return "Unknown";
  }
  if (v.major >= 3 && v.major <= 4) return "Windows NT";
  if (v.major == 5 && v.minor == 0) return "Windows 2000";
  if (v.major == 5 && v.minor == 1) return "Windows XP";
  if (v.major == 5 && v.minor == 2) return "Windows 2003";
  if (v.major == 6 && v.minor == 0) return v.server ? "Windows Server 2008" : "Windows Vista";
  if (v.major == 6 && v.minor == 1) return v.server ? "Windows Server 2008" : "Windows 7";
  return "Unknown";
}

}  // namespace platform
