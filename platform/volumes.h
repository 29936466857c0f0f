#pragma once
// Volumes: the present drives (Windows: the letters A to Z; Linux: the mount
// points of real file systems) and the path that names a drive.
#include <string>
#include <vector>

namespace platform {

struct VolumeEntry {
  std::string name;   // "C:" or "/home"
  std::string label;  // the volume label ("CD-ROM" for an unlabelled CD drive); may be empty
};
// System error boxes are suppressed while drives are queried.
std::vector<VolumeEntry> ListVolumes();

// The path whose volume a Storage Details step asks about: Windows "C:" gives
// "C:\"; Linux gives a path with a "/" as it is and "/" for anything else
// (an empty text, "C:").
std::string VolumePath(const std::string& drive);

}  // namespace platform
