#include "documents/spreadsheet_reader.h"

#include <bit>
#include <cstdint>

#include "platform/files.h"

namespace olvex {
namespace {

constexpr std::uint64_t kMaxFile = 256ull << 20;

unsigned U16(std::string_view b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned>(static_cast<unsigned char>(b[at + 1])) << 8;
}
std::uint32_t U32(std::string_view b, std::size_t at) {
  return U16(b, at) | static_cast<std::uint32_t>(U16(b, at + 2)) << 16;
}
double F64(std::string_view b, std::size_t at) {
  return std::bit_cast<double>(U32(b, at) | static_cast<std::uint64_t>(U32(b, at + 4)) << 32);
}

double DecodeRk(std::uint32_t rk) {
  double value = (rk & 2) ? static_cast<double>(static_cast<std::int32_t>(rk) >> 2)
                          : std::bit_cast<double>(static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32);
  return (rk & 1) ? value / 100 : value;
}

// A worksheet's BOF record: BIFF2 (00 09), BIFF3 (02 09), BIFF4 (04 09) or
// BIFF5 to 8 (08 09), with the worksheet type six bytes on.
bool IsWorksheetBof(std::string_view b, std::size_t at) {
  if (at + 7 >= b.size() || b[at] != '\x09') return false;
  const char high = b[at + 1];
  return (high == 0 || high == 2 || high == 4 || high == 8) && b[at + 6] == '\x10' && b[at + 7] == 0;
}

// Calls `cell(row, column, value, is_number_record)` (row and column from 0)
// for each number and text cell of worksheet `sheet`, in file order, until it
// returns false.
template <class Visit>
void ForEachRawCell(std::string_view b, int sheet, Visit cell) {
  int sheets = 0;
  bool biff8 = false;
  // Byte by byte: the records of a later format's container need not follow one another.
  for (std::size_t at = 0; at + 4 <= b.size(); ++at) {
    if (IsWorksheetBof(b, at)) {
      if (++sheets > sheet) break;
      biff8 = b[at + 1] == 8;
      continue;
    }
    if (sheets != sheet) continue;
    const unsigned id = U16(b, at);
    if (id != 0x027E && id != 0x0203 && id != 0x0204) continue;
    const std::size_t length = U16(b, at + 2), end = at + 4 + length;
    // The record must hold its cell and lie inside the file.
    if (end > b.size() || length < 8) continue;
    const unsigned row = U16(b, at + 4), column = U16(b, at + 6);
    if (id == 0x027E) {
      if (length < 10) continue;
      if (!cell(row, column, RawCell{true, DecodeRk(U32(b, at + 10)), {}}, false)) return;
    } else if (id == 0x0203) {
      if (length < 14) continue;
      if (!cell(row, column, RawCell{true, F64(b, at + 10), {}}, true)) return;
    } else {
      const std::size_t n = U16(b, at + 10);
      std::size_t from = at + 12, step = 1;
      if (biff8) {
        // A later format's string: an option byte, then bytes or (bit 0) 16-bit characters.
        if (end < from + 1) continue;
        step = (b[from] & 1) ? 2 : 1;
        ++from;
      }
      if (from + n * step > end) continue;
      RawCell text;
      for (std::size_t i = 0; i < n && i < 255; ++i) text.text += b[from + i * step];
      if (!cell(row, column, std::move(text), false)) return;
    }
  }
}

}  // namespace

std::optional<RawCell> ReadRawCell(std::string_view b, int sheet, int row, int column) {
  if (sheet < 1 || row < 1 || column < 1 || row > 0x10000 || column > 0x10000) return std::nullopt;
  const unsigned want_row = static_cast<unsigned>(row - 1), want_column = static_cast<unsigned>(column - 1);
  std::optional<RawCell> found;
  // A NUMBER record answers at once; of RK and LABEL records the last one counts.
  ForEachRawCell(b, sheet, [&](unsigned r, unsigned c, RawCell&& value, bool number_record) {
    if (r != want_row || c != want_column) return true;
    found = std::move(value);
    return !number_record;
  });
  return found;
}

std::vector<RawSheetCell> ReadRawCells(std::string_view bytes, int sheet) {
  std::vector<RawSheetCell> cells;
  if (sheet < 1) return cells;
  ForEachRawCell(bytes, sheet, [&](unsigned r, unsigned c, RawCell&& value, bool) {
    cells.push_back({static_cast<int>(r) + 1, static_cast<int>(c) + 1, std::move(value)});
    return true;
  });
  return cells;
}

// Records are looked for byte by byte (the container's sectors need not
// follow one another), each checked for a length that fits its name.
std::vector<std::string> ReadWorksheetNames(std::string_view b) {
  std::vector<std::string> names;
  for (std::size_t at = 0; at + 12 <= b.size(); ++at) {
    if (b[at] != '\x85' || b[at + 1] != 0) continue;
    const std::size_t length = U16(b, at + 2), visibility = static_cast<unsigned char>(b[at + 8]),
                      kind = static_cast<unsigned char>(b[at + 9]), n = static_cast<unsigned char>(b[at + 10]);
    if (visibility > 2 || (kind != 0 && kind != 1 && kind != 2 && kind != 6) || n == 0 || at + 4 + length > b.size())
      continue;
    std::string name;
    if (length == 7 + n) {  // Excel 5: bytes
      name.assign(b.substr(at + 11, n));
    } else if (length == 8 + n && b[at + 11] == 0) {  // Excel 97: one byte a character
      name.assign(b.substr(at + 12, n));
    } else if (length == 8 + 2 * n && b[at + 11] == 1) {  // Excel 97: two bytes a character
      for (std::size_t i = 0; i < n; ++i) name += b[at + 12 + 2 * i];
    } else {
      continue;
    }
    if (kind == 0) names.push_back(std::move(name));
    at += 3 + length;
  }
  return names;
}

std::optional<RawCell> ReadRawCellFromFile(const std::string& path, int sheet, int row, int column,
                                           std::string& error) {
  error.clear();
  const platform::FileContent file = platform::ReadWholeFile(path, kMaxFile);
  switch (file.status) {
    case platform::ReadStatus::Ok:
      return ReadRawCell(file.data, sheet, row, column);
    case platform::ReadStatus::NotFound:
      error = "The file '" + path + "' does not exist";
      break;
    case platform::ReadStatus::TooLarge:
      error = "The file '" + path + "' is too large to read";
      break;
    default:
      error = "The file '" + path + "' cannot be read";
      break;
  }
  return std::nullopt;
}

}  // namespace olvex
