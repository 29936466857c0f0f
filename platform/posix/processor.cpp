// The processor as Linux describes it: /proc/cpuinfo, the online count and
// the clock figures of cpufreq.
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/processor.h"

namespace platform {

namespace {

// The value of the first "name : value" line of /proc/cpuinfo.
std::string CpuInfoValue(const std::string& name) {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    if (key != name) continue;
    const std::size_t start = line.find_first_not_of(' ', colon + 1);
    return start == std::string::npos ? "" : line.substr(start);
  }
  return {};
}

std::string WindowsArchitecture(const std::string& machine) {
  if (machine == "x86_64") return "AMD64";
  if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return "x86";
  if (machine == "aarch64") return "ARM64";
  if (machine.rfind("arm", 0) == 0) return "ARM";
  return machine;
}

}  // namespace

ProcessorIdentity ReadSystemProcessor() {
  ProcessorIdentity p;
  p.count = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
  struct utsname names{};
  if (::uname(&names) == 0) p.architecture = WindowsArchitecture(names.machine);
  p.name = CpuInfoValue("model name");
  std::ifstream max_freq("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq");
  double khz = 0;
  if (max_freq >> khz && khz > 0) {
    p.mhz = khz / 1000.0;
  } else if (const std::string mhz = CpuInfoValue("cpu MHz"); !mhz.empty()) {
    p.mhz = std::strtod(mhz.c_str(), nullptr);
  }
  return p;
}

}  // namespace platform
