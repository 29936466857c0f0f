#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "platform/system.h"

namespace platform {

std::optional<MemoryStatus> PhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return std::nullopt;
  return MemoryStatus{status.ullTotalPhys, status.ullAvailPhys};
}

std::string CurrentDirectory() {
  DWORD needed = GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return {};
  std::vector<char> buffer(needed + 1, '\0');
  DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length == 0 || length >= buffer.size()) return {};
  return std::string(buffer.data(), length);
}

std::optional<OsVersion> WindowsVersion() {
  OSVERSIONINFOEXA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return std::nullopt;
#pragma GCC diagnostic pop
  OsVersion version;
  version.major = static_cast<int>(info.dwMajorVersion);
  version.minor = static_cast<int>(info.dwMinorVersion);
  version.build = static_cast<int>(info.dwBuildNumber & 0xFFFF);
  version.nt_family = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
  version.server = info.wProductType != 0 && info.wProductType != VER_NT_WORKSTATION;
  return version;
}

std::uint64_t TickCount() { return GetTickCount64(); }

std::optional<long> TimeZoneBiasMinutes() {
  TIME_ZONE_INFORMATION zone{};
  if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return std::nullopt;
  return static_cast<long>(zone.Bias);
}

std::string UserName() {
  char buffer[257] = {};
  DWORD size = sizeof buffer;
  if (!GetUserNameA(buffer, &size)) return {};
  return buffer;
}

std::string FileVersion(const std::string& path) {
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return {};
  std::string version;
  if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16))) {
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const unsigned char* bytes = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    // VS_FIXEDFILEINFO starts with its signature 0xFEEF04BD.
    for (DWORD i = 0; bytes && i + sizeof(VS_FIXEDFILEINFO) <= size; i += 4) {
      DWORD signature;
      std::memcpy(&signature, bytes + i, 4);
      if (signature != 0xFEEF04BD) continue;
      VS_FIXEDFILEINFO info;
      std::memcpy(&info, bytes + i, sizeof info);
      char text[64];
      wsprintfA(text, "%u.%u.%u.%u", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
      version = text;
      break;
    }
  }
  FreeLibrary(module);
  return version;
}

std::optional<std::string> NewTempFileName(const std::string& folder) {
  char buffer[MAX_PATH + 1] = {};
  if (!GetTempFileNameA(folder.c_str(), "olv", 0, buffer)) return std::nullopt;
  return std::string(buffer);
}

std::optional<std::string> KnownFolder(Folder folder) {
  char buffer[MAX_PATH + 1] = {};
  switch (folder) {
    case Folder::kSystem:
      if (!GetSystemDirectoryA(buffer, MAX_PATH)) return std::nullopt;
      return std::string(buffer);
    case Folder::kWindows:
      if (!GetWindowsDirectoryA(buffer, MAX_PATH)) return std::nullopt;
      return std::string(buffer);
    default: break;
  }
  int id = folder == Folder::kStartMenu ? CSIDL_STARTMENU
           : folder == Folder::kDesktop ? CSIDL_DESKTOPDIRECTORY
           : folder == Folder::kDocuments ? CSIDL_PERSONAL
                                          : CSIDL_APPDATA;
  if (FAILED(SHGetFolderPathA(nullptr, id, nullptr, 0, buffer))) return std::nullopt;
  return std::string(buffer);
}

std::optional<int> UserLanguageId() { return static_cast<int>(GetUserDefaultLCID()); }

}  // namespace platform
