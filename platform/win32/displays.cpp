// Windows displays: the current mode of the primary display, the monitors
// and the video memory the display driver records in the registry.
#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/displays.h"

namespace platform {

namespace {

// HardwareInformation.MemorySize of the first video device, as the driver
// wrote it under its key (\Registry\Machine\... in DEVICEMAP\VIDEO).
std::uint64_t VideoMemoryBytes() {
  HKEY map = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\VIDEO", 0, KEY_READ, &map) != ERROR_SUCCESS) return 0;
  char device[512] = {};
  DWORD size = sizeof device - 1, type = 0;
  const LONG read = RegQueryValueExA(map, "\\Device\\Video0", nullptr, &type, reinterpret_cast<BYTE*>(device), &size);
  RegCloseKey(map);
  if (read != ERROR_SUCCESS) return 0;
  const char* prefix = "\\Registry\\Machine\\";
  const char* path = _strnicmp(device, prefix, std::strlen(prefix)) == 0 ? device + std::strlen(prefix) : device;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  unsigned char value[8] = {};
  size = sizeof value;
  std::uint64_t bytes = 0;
  if (RegQueryValueExA(key, "HardwareInformation.MemorySize", nullptr, &type, value, &size) == ERROR_SUCCESS)
    std::memcpy(&bytes, value, size <= 8 ? size : 8);
  RegCloseKey(key);
  return bytes;
}

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  reinterpret_cast<std::vector<HMONITOR>*>(data)->push_back(monitor);
  return TRUE;
}

}  // namespace

std::optional<DisplayFacts> ReadDisplays() {
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode)) return std::nullopt;
  DisplayFacts facts;
  facts.video_memory = VideoMemoryBytes();
  facts.refresh_hz = static_cast<int>(mode.dmDisplayFrequency);
  facts.bits_per_pixel = static_cast<int>(mode.dmBitsPerPel);
  facts.monitors = GetSystemMetrics(SM_CMONITORS);
  facts.width = GetSystemMetrics(SM_CXSCREEN);
  facts.height = GetSystemMetrics(SM_CYSCREEN);
  std::vector<HMONITOR> monitors;
  EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&monitors));
  for (HMONITOR monitor : monitors) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(monitor, &info) || (info.dwFlags & MONITORINFOF_PRIMARY)) continue;
    facts.second_width = info.rcMonitor.right - info.rcMonitor.left;
    facts.second_height = info.rcMonitor.bottom - info.rcMonitor.top;
    break;
  }
  return facts;
}

DisplayChange ChangeDisplayMode(int width, int height, int bits, int frequency) {
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode)) return DisplayChange::kNoDesktop;
  mode.dmFields = 0;
  if (width > 0 && height > 0) {
    mode.dmPelsWidth = static_cast<DWORD>(width);
    mode.dmPelsHeight = static_cast<DWORD>(height);
    mode.dmFields |= DM_PELSWIDTH | DM_PELSHEIGHT;
  }
  if (bits > 0) {
    mode.dmBitsPerPel = static_cast<DWORD>(bits);
    mode.dmFields |= DM_BITSPERPEL;
  }
  if (frequency > 0) {
    mode.dmDisplayFrequency = static_cast<DWORD>(frequency);
    mode.dmFields |= DM_DISPLAYFREQUENCY;
  }
  switch (ChangeDisplaySettingsA(&mode, CDS_UPDATEREGISTRY)) {
    case DISP_CHANGE_SUCCESSFUL: return DisplayChange::kDone;
    case DISP_CHANGE_RESTART: return DisplayChange::kRestartNeeded;
    default: return DisplayChange::kFailed;
  }
}

}  // namespace platform
