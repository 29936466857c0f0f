// Linux volumes: the mount points of real file systems (those backed by a
// device) after the root, from /proc/self/mounts.
#include <fstream>
#include <set>
#include <sstream>

#include "platform/volumes.h"

namespace platform {

namespace {

// Mount-table fields escape blanks and the like as \ooo.
std::string Unescaped(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

}  // namespace

std::vector<VolumeEntry> ListVolumes() {
  // The root first, whatever it is mounted from (an overlay in a container).
  std::vector<VolumeEntry> volumes{{"/", ""}};
  std::set<std::string> seen{"/"};
  std::ifstream in("/proc/self/mounts");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string device, mount_point;
    if (!(fields >> device >> mount_point) || device.empty() || device[0] != '/') continue;
    mount_point = Unescaped(mount_point);
    if (seen.insert(mount_point).second) volumes.push_back({mount_point, ""});
  }
  return volumes;
}

std::string VolumePath(const std::string& drive) {
  return drive.find('/') != std::string::npos ? drive : "/";
}

}  // namespace platform
