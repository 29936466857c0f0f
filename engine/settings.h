#pragma once
// The settings store. Keys are paths; `*\` stands for the runtime's own root
// (HKEY_CURRENT_USER\SOFTWARE\Olvex\). A missing setting reads as 0 or empty.
#include <cstddef>
#include <string>

namespace olvex {

// The value's first number (0 when missing).
int ReadSettingNumber(const std::string& key);
// The value as text, cut to `max_chars` characters (empty when missing).
std::string ReadSettingString(const std::string& key, std::size_t max_chars = 4095);

}  // namespace olvex
