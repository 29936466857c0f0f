// Linux: the host name, the kernel's version numbers and the distribution's name.
#include <sys/utsname.h>

#include <cstdlib>
#include <fstream>

#include "platform/os_details.h"

namespace platform {

namespace {

// PRETTY_NAME of os-release, its quotes removed; empty when there is none.
std::string DistributionName() {
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
      std::string value = line.substr(12);
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      return value;
    }
  }
  return {};
}

}  // namespace

OsDetails ReadOsDetails() {
  OsDetails details;
  struct utsname names{};
  if (::uname(&names) == 0) {
    details.computer_name = names.nodename;
    char* at = names.release;
    int* const fields[] = {&details.major, &details.minor, &details.build};
    for (int* field : fields) {
      *field = static_cast<int>(std::strtol(at, &at, 10));
      if (*at != '.') break;
      ++at;
    }
  }
  details.description = DistributionName();
  return details;
}

}  // namespace platform
