// Text between the X server and the runtime: the runtime keeps text in the
// script's code page, Windows-1252 (as scripts written on Windows are); X
// programs speak UTF-8 (_NET_WM_NAME, UTF8_STRING selections) and Latin-1
// (STRING properties).
#pragma once
#include <string>
#include <string_view>

namespace platform::x11 {

// The Unicode code point of a Windows-1252 byte (the five unassigned bytes
// keep their own number, as Windows converts them).
unsigned CodePageToUnicode(unsigned char c);
// The Windows-1252 byte of a code point; '?' when the code page lacks it.
unsigned char UnicodeToCodePage(unsigned code_point);
// Whole texts. Bytes that are not UTF-8 are taken as Latin-1.
std::string Utf8ToCodePage(std::string_view utf8);
std::string CodePageToUtf8(std::string_view text);
std::string Latin1ToCodePage(std::string_view latin1);

}  // namespace platform::x11
