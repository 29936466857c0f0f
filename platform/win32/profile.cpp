// INI files on Windows: the profile API.
#include <windows.h>

#include <string>

#include "platform/profile.h"

namespace platform {

namespace {
// A default no INI file holds, so that a missing key tells itself from an empty one.
constexpr char kMissing[] = "\x7f<olvex:missing>\x7f";
constexpr DWORD kMaxValue = 1u << 20;
}  // namespace

std::optional<std::string> ReadProfileValue(const std::string& file, const std::string& section,
                                            const std::string& key) {
  if (key.find_first_not_of(" \t") == std::string::npos) return std::nullopt;
  std::string buf(4096, '\0');
  for (;;) {
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), kMissing, buf.data(),
                                       static_cast<DWORD>(buf.size()), file.c_str());
    if (n + 1 < buf.size() || buf.size() >= kMaxValue) {
      buf.resize(n);
      break;
    }
    buf.assign(buf.size() * 2, '\0');
  }
  if (buf == kMissing) return std::nullopt;
  return buf;
}

bool WriteProfileValue(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& value) {
  if (key.find_first_not_of(" \t") == std::string::npos || section.find_first_not_of(" \t") == std::string::npos)
    return false;
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != 0;
}

bool DeleteProfileValue(const std::string& file, const std::string& section, const std::string& key) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, file.c_str()) != 0;
}

bool DeleteProfileSection(const std::string& file, const std::string& section) {
  return WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, file.c_str()) != 0;
}

bool ProfileSectionHasKeys(const std::string& file, const std::string& section) {
  char buf[512];
  return GetPrivateProfileStringA(section.c_str(), nullptr, "", buf, sizeof buf, file.c_str()) > 0;
}

}  // namespace platform
