#pragma once
// What Operating System Details reports: the computer's name and the
// system's version numbers and names.
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct OsDetails {
  std::string computer_name;
  bool windows = false;  // the fields below marked (Windows) are set
  bool nt_family = true;
  int major = 0, minor = 0, build = 0;     // Linux: the kernel's version numbers
  std::string description;                 // Windows: WindowsVersionName; Linux: the distribution's name
  std::uint32_t product_type = 0, platform_id = 0, suite_mask = 0;  // (Windows)
  std::string service_pack;                // (Windows)
  std::string install_folder;              // (Windows) the Windows directory
};
OsDetails ReadOsDetails();

}  // namespace platform
