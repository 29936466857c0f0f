#pragma once
// The settings store. Keys are paths; `*\` stands for the runtime's own root
// (HKEY_CURRENT_USER\SOFTWARE\Olvex\), paths that begin with SOFTWARE\Olvex or
// a root name are used as they stand, and a path without a root lies under
// HKEY_CURRENT_USER. The last component is the value name. A missing setting
// reads as 0 or empty.
//
// Settings live in the registry, or, when an INI file of at least 11 bytes
// stands beside the program (its path without ".exe", plus ".ini"), in that
// file. The INI file's section "Olvex Studio" may name a UserRegistryKey:
// then everything the program keeps in the registry (settings and user
// variables) lives under HKEY_CURRENT_USER\SOFTWARE\<that key>, and the
// settings stay in the registry.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "vars/registry_value.h"

namespace olvex {

// Reads the INI file beside `program_path` and sets the store up; called once
// at start-up. Tests call it with a program path of their own; an empty path
// puts the store back to the registry without an override.
void SetUpSettings(const std::string& program_path);

// The value's first number (0 when missing).
int ReadSettingNumber(const std::string& key);
// The value as text, cut to `max_chars` characters (empty when missing).
std::string ReadSettingString(const std::string& key, std::size_t max_chars = 4095);
// Writes a string value (REG_SZ), or a number (REG_DWORD; decimal text in the INI file).
bool WriteSetting(const std::string& key, std::string_view text);
bool WriteSetting(const std::string& key, int number);
// Deletes the value; a key ending in `\` deletes the whole key (the section in INI mode).
bool DeleteSetting(const std::string& key);
// True when the value (or the key, for a key ending in `\`) exists; in INI
// mode when it reads as a non-empty text, or the section has keys.
bool SettingExists(const std::string& key);

// A key formatted with arguments: SettingKey("*\\InterStepDelay-%d", slot).
template <class... Args>
std::string SettingKey(std::string_view format, const Args&... args) {
  const std::array<PathArg, sizeof...(Args)> list{PathArg(args)...};
  return FormatPath(format, list);
}

// What SetUpSettings found.
struct SettingsState {
  std::string ini_path;
  bool ini_mode = false;
  std::string user_registry_key;  // empty when none
};
SettingsState CurrentSettingsState();

// INI mode: the section and value name a key path maps to.
struct IniLocation {
  std::string section, name;
};
IniLocation IniLocationOf(const std::string& key);

}  // namespace olvex
