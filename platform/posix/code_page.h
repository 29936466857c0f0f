// The runtime's text on Linux is in Windows-1252 (as scripts written on
// Windows are); the X server's texts are UTF-8 (UTF8_STRING, _NET_WM_NAME)
// or ISO Latin-1 (STRING).
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string Utf8FromCodePage(std::string_view text);
// Characters Windows-1252 lacks, and bytes that are not UTF-8, become '?'.
std::string CodePageFromUtf8(std::string_view text);
// Latin-1 lacks the characters at 0x80 to 0x9F of Windows-1252: they become '?'.
std::string Latin1FromCodePage(std::string_view text);

}  // namespace platform
