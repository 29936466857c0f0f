#pragma once
// The Windows constant names of the library-call language (MB_OK, SW_SHOW,
// WM_CLOSE, IDYES, ...) and their substitution in a text.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace olvex {

struct WindowsConstant {
  std::string_view name;
  std::uint32_t value;
};

// The table in its order: a longer name comes before a name that begins it
// (MB_OKCANCEL before MB_OK).
std::span<const WindowsConstant> WindowsConstants();

// Unless the text holds neither "_" nor "ID": each name of the table that
// occurs in the text (in its own case) has its first occurrence (found
// without regard to case) replaced by its unsigned decimal value; then, when
// anything was replaced, each run of digits, blanks and "|" around a "|" is
// folded into the bitwise or of its numbers ("0 | 64" becomes "64").
void SubstituteConstants(std::string& text);

}  // namespace olvex
