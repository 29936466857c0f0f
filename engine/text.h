#pragma once
// Text helpers every subsystem shares: comparisons without regard to case
// (ASCII letters, as names, option words and settings compare) and the
// number-reading rules of step fields.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace olvex {

// Names, option words and settings compare without regard to case (ASCII letters).
inline char AsciiLower(char c) {
  return static_cast<char>(c | (static_cast<unsigned char>(c - 'A') < 26 ? 0x20 : 0));
}
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}
inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}
inline bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}
// Position of the next byte at or after `from` that equals `c`, or, with `fold`
// 0x20 and `c` a lower-case letter, that equals `c` in either case; the text's
// size when there is none. Tags stand a few bytes apart, so this looks at eight
// bytes at a time in line rather than paying a library call per tag.
inline std::size_t FindByte(std::string_view text, std::size_t from, char c, unsigned char fold = 0) {
  const char* p = text.data();
  const std::size_t n = text.size();
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const std::uint64_t pattern = kOnes * static_cast<unsigned char>(c);
  const std::uint64_t fold_mask = kOnes * fold;
  auto matches = [&](char b) { return static_cast<char>(b | static_cast<char>(fold)) == c; };
  std::size_t i = from;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    word = (word | fold_mask) ^ pattern;
    const std::uint64_t found = (word - kOnes) & ~word & 0x8080808080808080ull;
    if (found) {
      // Bytes above a match may be marked falsely, the lowest mark never is.
      if constexpr (std::endian::native == std::endian::little)
        return i + static_cast<std::size_t>(std::countr_zero(found)) / 8;
      for (std::size_t j = i;; ++j)
        if (matches(p[j])) return j;
    }
  }
  for (; i < n; ++i)
    if (matches(p[i])) return i;
  return n;
}
// Position of the first occurrence of `needle` at or after `from`, or npos.
std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from = 0);
inline bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
  return FindNoCase(haystack, needle) != std::string_view::npos;
}

// Replaces every occurrence of `from`, scanning on after each replacement.
// Returns whether anything was replaced.
bool ReplaceAll(std::string& s, std::string_view from, std::string_view to, bool ignore_case);

// The integer value of a text: its first run of decimal digits, negative when
// a '-' stands right before it, 0 when there is none (clamped to the int range).
// Counts, time-outs, codes and settings are read this way.
int FirstNumber(std::string_view text);

// The decimal number a text begins with (after blanks and a sign; a fraction
// and an exponent allowed), 0 when there is none.
double LeadingDecimal(std::string_view text);

// A number cut to a whole number, clamped to the 64-bit range (NaN: 0).
std::int64_t WholePart(double x);

}  // namespace olvex
