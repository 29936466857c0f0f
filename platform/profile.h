#pragma once
// INI ("profile") files: sections of `key=value` lines.
//
// Windows: the profile API. POSIX: a reader and writer of its own with the
// same rules: sections and keys compare without regard to case, the first
// match wins, keys and values are trimmed of blanks and one pair of quotes
// around a value is dropped, `;` begins a comment line, and a missing file or
// section reads as missing. Writes keep every other line as it stands.
#include <optional>
#include <string>

namespace platform {

// The value of `key` in `section`; nothing when file, section or key is missing.
std::optional<std::string> ReadProfileValue(const std::string& file, const std::string& section,
                                            const std::string& key);
// Sets a value, adding the key, the section or the file when missing.
bool WriteProfileValue(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& value);
bool DeleteProfileValue(const std::string& file, const std::string& section, const std::string& key);
bool DeleteProfileSection(const std::string& file, const std::string& section);
// True when the section exists and holds at least one key.
bool ProfileSectionHasKeys(const std::string& file, const std::string& section);

}  // namespace platform
