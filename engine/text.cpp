#include "engine/text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>

namespace olvex {

std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (needle.empty()) return from <= haystack.size() ? from : std::string_view::npos;
  if (from >= haystack.size() || haystack.size() - from < needle.size()) return std::string_view::npos;
  const char first = AsciiLower(needle[0]);
  const unsigned char fold = (first >= 'a' && first <= 'z') ? 0x20 : 0;
  const std::string_view rest = needle.substr(1);
  // Only the positions where the whole needle still fits.
  const std::string_view starts = haystack.substr(0, haystack.size() - needle.size() + 1);
  for (std::size_t i = FindByte(starts, from, first, fold); i < starts.size(); i = FindByte(starts, i + 1, first, fold))
    if (EqualsNoCase(haystack.substr(i + 1, rest.size()), rest)) return i;
  return std::string_view::npos;
}

bool ReplaceAll(std::string& s, std::string_view from, std::string_view to, bool ignore_case) {
  if (from.empty()) return false;
  std::size_t at = ignore_case ? FindNoCase(s, from) : s.find(from);
  if (at == std::string::npos) return false;
  std::string out;
  std::size_t done = 0;
  while (at != std::string::npos) {
    out.append(s, done, at - done);
    out.append(to);
    done = at + from.size();
    at = ignore_case ? FindNoCase(s, from, done) : s.find(from, done);
  }
  out.append(s, done, std::string::npos);
  s.swap(out);
  return true;
}

int FirstNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] < '0' || text[i] > '9')) ++i;
  if (i == text.size()) return 0;
  const bool negative = i > 0 && text[i - 1] == '-';
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > 2147483648LL) v = 2147483648LL;
  }
  if (negative) v = -v;
  return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

double LeadingDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t e = i + 1;
    if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
    if (e < text.size() && std::isdigit(static_cast<unsigned char>(text[e]))) {
      while (e < text.size() && std::isdigit(static_cast<unsigned char>(text[e]))) ++e;
      i = e;
    }
  }
  std::string_view number = text.substr(start, i - start);
  bool negative = !number.empty() && number.front() == '-';
  if (!number.empty() && (number.front() == '+' || number.front() == '-')) number.remove_prefix(1);
  double value = 0;
  auto [end, err] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (err != std::errc()) return 0;
  return negative ? -value : value;
}

std::int64_t WholePart(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
  if (x <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(x);
}

}  // namespace olvex
