#include "engine/settings.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <mutex>

#include "engine/text.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace olvex {

namespace {

constexpr std::size_t kMaxUserRegistryKey = 63;
constexpr std::uint64_t kMinIniSize = 11;
constexpr char kRoot[] = "HKEY_CURRENT_USER\\SOFTWARE\\Olvex\\";

std::mutex g_mutex;
SettingsState g_state;

SettingsState State() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_state;
}


// Numbers in INI files: blanks, a sign, then decimal digits or 0x hex, 0o
// octal, 0b binary, up to the first other character; 32 bits, as the
// profile API's integer reader.
int IniNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i + 1 < text.size() && text[i] == '0') {
    char b = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 1])));
    base = b == 'x' ? 16 : b == 'o' ? 8 : b == 'b' ? 2 : 10;
    if (base != 10) i += 2;
  }
  std::uint32_t v = 0;
  for (; i < text.size(); ++i) {
    int c = std::tolower(static_cast<unsigned char>(text[i]));
    unsigned digit = std::isdigit(c) ? static_cast<unsigned>(c - '0') : (c >= 'a' && c <= 'f') ? static_cast<unsigned>(c - 'a' + 10) : 99;
    if (digit >= base) break;
    v = v * base + digit;
  }
  return static_cast<int>(negative ? 0u - v : v);
}

// `*\X` -> HKEY_CURRENT_USER\SOFTWARE\Olvex\X; other paths as they stand.
std::string RegistryPathOf(const std::string& key) {
  if (key.size() >= 2 && key[0] == '*' && key[1] == '\\') return kRoot + key.substr(2);
  return key;
}

bool IsKeyForm(const std::string& key) { return !key.empty() && key.back() == '\\'; }

std::int32_t DwordValue(const std::string& data) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4 && i < data.size(); ++i)
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  return static_cast<std::int32_t>(v);
}

// A registry setting as text: DWORDs in decimal, strings up to their end.
std::optional<std::string> ReadRegistrySetting(const std::string& key) {
  std::uint32_t type = 0;
  std::optional<std::string> data = RegistryRead(RegistryPathOf(key), &type);
  if (!data) return std::nullopt;
  if (type == platform::regtype::kDword) return std::to_string(DwordValue(*data));
  return data->substr(0, data->find('\0'));
}

}  // namespace

void SetUpSettings(const std::string& program_path) {
  SettingsState state;
  if (!program_path.empty()) {
    std::string base = program_path;
    if (EndsWithNoCase(base, ".exe")) base.resize(base.size() - 4);
    state.ini_path = base + ".ini";
    std::string user_key =
        platform::ReadProfileValue(state.ini_path, "Olvex Studio", "UserRegistryKey").value_or("").substr(0, kMaxUserRegistryKey);
    if (!(user_key.size() == 5 && StartsWithNoCase(user_key, "Olvex"))) state.user_registry_key = user_key;
    // An INI file that only moves the registry key keeps the settings in the registry.
    state.ini_mode = state.user_registry_key.empty() && platform::FileSize(state.ini_path).value_or(0) >= kMinIniSize;
  }
  SetRegistryKeyOverride(state.user_registry_key);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_state = std::move(state);
}

SettingsState CurrentSettingsState() { return State(); }

namespace {

constexpr const char* kIniSections[] = {"Palettes", "Accelerators", "Colors", "Compile", "Favorites", "Report"};

// A key path without the runtime's root and without any `*`.
std::string BelowRoot(const std::string& key) {
  std::string s = key;
  for (std::string_view prefix : {std::string_view("HKEY_CURRENT_USER\\SOFTWARE\\Olvex\\"), std::string_view("SOFTWARE\\Olvex\\"),
                                   std::string_view("*\\")}) {
    if (StartsWithNoCase(s, prefix)) {
      s.erase(0, prefix.size());
      break;
    }
  }
  s.erase(std::remove(s.begin(), s.end(), '*'), s.end());
  return s;
}

IniLocation LocationBelowRoot(const std::string& s) {
  for (const char* section : kIniSections) {
    std::string prefix = std::string(section) + "\\";
    if (!StartsWithNoCase(s, prefix)) continue;
    std::string name = s.substr(prefix.size());
    if (prefix == "Palettes\\") {
      for (const char* sub : {"Actions\\", "MainList\\", "Output\\", "Properties\\", "Variables\\"}) {
        if (StartsWithNoCase(name, sub)) {
          name.erase(0, std::string_view(sub).size());
          break;
        }
      }
    }
    return {section, name};
  }
  return {"Olvex", s};
}

// What a key path ending in `\` names in the INI file: the root names the
// section "Olvex" and a named section (Palettes\, Colors\, ...) its own, both
// whole (an empty name); any other key is no section of its own and names at
// most the entry of its name ("FailStep\" the entry FailStep of "Olvex").
IniLocation IniKeyLocationOf(const std::string& key) {
  std::string s = BelowRoot(key);
  while (!s.empty() && s.back() == '\\') s.pop_back();
  if (s.empty()) return {"Olvex", ""};
  for (const char* section : kIniSections)
    if (EqualsNoCase(s, section)) return {section, ""};
  return LocationBelowRoot(s);
}

}  // namespace

IniLocation IniLocationOf(const std::string& key) { return LocationBelowRoot(BelowRoot(key)); }

int ReadSettingNumber(const std::string& key) {
  SettingsState state = State();
  if (state.ini_mode) {
    IniLocation at = IniLocationOf(key);
    return IniNumber(platform::ReadProfileValue(state.ini_path, at.section, at.name).value_or(""));
  }
  std::uint32_t type = 0;
  std::optional<std::string> data = RegistryRead(RegistryPathOf(key), &type);
  if (!data) return 0;
  if (type == platform::regtype::kDword) return DwordValue(*data);
  return FirstNumber(std::string_view(*data).substr(0, data->find('\0')));
}

std::string ReadSettingString(const std::string& key, std::size_t max_chars) {
  SettingsState state = State();
  std::optional<std::string> value;
  if (state.ini_mode) {
    IniLocation at = IniLocationOf(key);
    value = platform::ReadProfileValue(state.ini_path, at.section, at.name);
  } else {
    value = ReadRegistrySetting(key);
  }
  if (!value) return {};
  if (value->size() > max_chars) value->resize(max_chars);
  return *value;
}

bool WriteSetting(const std::string& key, std::string_view text) {
  SettingsState state = State();
  if (state.ini_mode) {
    IniLocation at = IniLocationOf(key);
    return platform::WriteProfileValue(state.ini_path, at.section, at.name, std::string(text.substr(0, text.find('\0'))));
  }
  std::string data(text);
  data.push_back('\0');
  return RegistryWrite(RegistryPathOf(key), platform::regtype::kSz, data);
}

bool WriteSetting(const std::string& key, int number) {
  SettingsState state = State();
  if (state.ini_mode) {
    IniLocation at = IniLocationOf(key);
    return platform::WriteProfileValue(state.ini_path, at.section, at.name, std::to_string(number));
  }
  std::uint32_t v = static_cast<std::uint32_t>(number);
  char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return RegistryWrite(RegistryPathOf(key), platform::regtype::kDword, std::string_view(bytes, 4));
}

bool DeleteSetting(const std::string& key) {
  SettingsState state = State();
  if (state.ini_mode) {
    IniLocation at = IsKeyForm(key) ? IniKeyLocationOf(key) : IniLocationOf(key);
    if (IsKeyForm(key) && at.name.empty()) return platform::DeleteProfileSection(state.ini_path, at.section);
    // A path that names no entry (a Palettes sub-tree without a name, say) deletes nothing.
    if (at.name.empty()) return false;
    return platform::DeleteProfileValue(state.ini_path, at.section, at.name);
  }
  if (IsKeyForm(key)) return RegistryDeleteKeyAt(RegistryPathOf(key));
  return RegistryDelete(RegistryPathOf(key));
}

bool SettingExists(const std::string& key) {
  SettingsState state = State();
  if (state.ini_mode) {
    IniLocation at = IsKeyForm(key) ? IniKeyLocationOf(key) : IniLocationOf(key);
    if (IsKeyForm(key) && at.name.empty()) return platform::ProfileSectionHasKeys(state.ini_path, at.section);
    return !at.name.empty() && !platform::ReadProfileValue(state.ini_path, at.section, at.name).value_or("").empty();
  }
  if (IsKeyForm(key)) return RegistryKeyExistsAt(RegistryPathOf(key));
  return RegistryExists(RegistryPathOf(key));
}

}  // namespace olvex
