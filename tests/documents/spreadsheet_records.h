#pragma once
// The records of a worksheet file, and a short text of those after the fixed
// start (custom fonts, cell formats, column widths, cells) that the case
// table compares.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace olvex::test {

struct SheetRecord {
  unsigned id;
  std::string data;
};

inline unsigned Le16(const std::string& s, std::size_t at) {
  return static_cast<unsigned char>(s[at]) | static_cast<unsigned>(static_cast<unsigned char>(s[at + 1])) << 8;
}

// The records in order; a cut or overlong last record ends the list with id 0xFFFF.
inline std::vector<SheetRecord> SplitRecords(const std::string& bytes) {
  std::vector<SheetRecord> records;
  std::size_t at = 0;
  while (at + 4 <= bytes.size()) {
    const std::size_t length = Le16(bytes, at + 2);
    if (at + 4 + length > bytes.size()) break;
    records.push_back({Le16(bytes, at), bytes.substr(at + 4, length)});
    at += 4 + length;
  }
  if (at != bytes.size()) records.push_back({0xFFFF, bytes.substr(at)});
  return records;
}

inline std::string DumpSheet(const std::string& bytes) {
  std::string out;
  int fonts = 0, xfs = 0;
  auto add = [&](const std::string& item) { out += (out.empty() ? "" : " ; ") + item; };
  auto where = [](const std::string& d) {
    return std::to_string(Le16(d, 0)) + "," + std::to_string(Le16(d, 2)) + "," + std::to_string(Le16(d, 4));
  };
  auto hex = [](const std::string& d) {
    std::string h;
    char two[3];
    for (unsigned char c : d) std::snprintf(two, sizeof two, "%02x", c), h += two;
    return h;
  };
  for (const SheetRecord& r : SplitRecords(bytes)) {
    const std::string& d = r.data;
    switch (r.id) {
      case 0x0209: case 0x001E: case 0x000A:
        break;
      case 0x0231:
        if (++fonts > 4)
          add("FONT " + std::to_string(Le16(d, 0)) + " " + std::to_string(Le16(d, 2)) + " " +
              std::to_string(Le16(d, 4)) + " " + d.substr(7));
        break;
      case 0x0243: {
        if (++xfs <= 16) break;
        const unsigned bg = Le16(d, 6);
        add("XF " + std::to_string(static_cast<unsigned char>(d[0])) + " " +
            std::to_string(static_cast<unsigned char>(d[1])) + " " + std::to_string(Le16(d, 4)) + " " +
            std::to_string(bg ? (bg >> 6) & 31 : 0) + " " + hex(d.substr(8)));
        break;
      }
      case 0x007D:
        add("COL " + std::to_string(Le16(d, 0)) + " " + std::to_string(Le16(d, 4)));
        break;
      case 0x0204:
        add("LABEL " + where(d) + " \"" + d.substr(8, Le16(d, 6)) + "\"");
        break;
      case 0x0203: {
        std::uint64_t bits = 0;
        for (int i = 7; i >= 0; --i) bits = bits << 8 | static_cast<unsigned char>(d[6 + i]);
        char number[32];
        std::snprintf(number, sizeof number, "%.15g", std::bit_cast<double>(bits));
        add("NUMBER " + where(d) + " " + number);
        break;
      }
      case 0x0206:
        add("FORMULA " + where(d) + (d.substr(6, 10) == std::string("\0\0\0\0\0\0\0\0\3\0", 10) ? " " : " ?") +
            hex(d.substr(18, Le16(d, 16))));
        break;
      case 0x0201:
        add("BLANK " + where(d));
        break;
      default:
        add("?" + hex(d));
    }
  }
  return out;
}

}  // namespace olvex::test
