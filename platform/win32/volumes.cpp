// Windows volumes: the drive letters and their labels.
#include <windows.h>

#include "platform/volumes.h"

namespace platform {

std::vector<VolumeEntry> ListVolumes() {
  std::vector<VolumeEntry> volumes;
  // An empty floppy or card drive would ask the user to insert a disk.
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const DWORD drives = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(drives & (1u << i))) continue;
    const char letter = static_cast<char>('A' + i);
    const std::string root = std::string(1, letter) + ":\\";
    char label[MAX_PATH + 1] = {};
    VolumeEntry entry{std::string(1, letter) + ":", ""};
    if (GetVolumeInformationA(root.c_str(), label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0)) entry.label = label;
    if (entry.label.empty() && GetDriveTypeA(root.c_str()) == DRIVE_CDROM) entry.label = "CD-ROM";
    volumes.push_back(entry);
  }
  SetErrorMode(previous);
  return volumes;
}

std::string VolumePath(const std::string& drive) {
  if (drive.empty()) return "C:\\";
  if (drive.size() == 1) return drive + ":\\";
  if (drive.back() == ':') return drive + "\\";
  return drive;
}

}  // namespace platform
