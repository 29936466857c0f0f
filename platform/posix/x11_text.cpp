#include "platform/posix/x11_text.h"

namespace platform::x11 {
namespace {

// Bytes 0x80 to 0x9F of Windows-1252.
constexpr unsigned short kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, unsigned u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

}  // namespace

unsigned CodePageToUnicode(unsigned char c) { return c >= 0x80 && c <= 0x9F ? kHigh[c - 0x80] : c; }

unsigned char UnicodeToCodePage(unsigned code_point) {
  if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) return static_cast<unsigned char>(code_point);
  for (unsigned i = 0; i < 32; ++i)
    if (kHigh[i] == code_point) return static_cast<unsigned char>(0x80 + i);
  return '?';
}

std::string Utf8ToCodePage(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    const int extra = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 ? (lead < 0xF0 ? 2 : -1) : lead >= 0xC2 ? 1 : 0;
    unsigned code = lead;
    bool valid = lead < 0x80 || extra > 0;
    if (extra > 0) {
      code = lead & (0x3F >> extra);
      for (int k = 1; k <= extra && valid; ++k) {
        const std::size_t at = i + static_cast<std::size_t>(k);
        valid = at < utf8.size() && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80;
        if (valid) code = (code << 6) | (static_cast<unsigned char>(utf8[at]) & 0x3F);
      }
    }
    if (!valid) {  // not UTF-8: the byte as Latin-1
      out += static_cast<char>(UnicodeToCodePage(lead));
      ++i;
      continue;
    }
    out += static_cast<char>(UnicodeToCodePage(code));
    i += static_cast<std::size_t>(extra > 0 ? extra + 1 : 1);
  }
  return out;
}

std::string CodePageToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) AppendUtf8(out, CodePageToUnicode(static_cast<unsigned char>(c)));
  return out;
}

std::string Latin1ToCodePage(std::string_view latin1) {
  std::string out(latin1);
  for (char& c : out)
    if (static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) <= 0x9F) c = '?';
  return out;
}

}  // namespace platform::x11
