#include "engine/settings.h"

// Until the store lands every setting reads as missing.
namespace olvex {

int ReadSettingNumber(const std::string&) { return 0; }
std::string ReadSettingString(const std::string&, std::size_t) { return {}; }

}  // namespace olvex
