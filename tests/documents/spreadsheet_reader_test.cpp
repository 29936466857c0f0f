// The raw cell reader on files of the writer and on hand-made files of the
// later formats: RK, NUMBER and LABEL cells, several worksheets, cut and
// lying records.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <map>

#include "documents/spreadsheet_reader.h"
#include "documents/spreadsheet_writer.h"
#include "tests/support/case_table.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

std::string Le(std::uint64_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}
std::string Rec(unsigned id, const std::string& data) { return Le(id, 2) + Le(data.size(), 2) + data; }
std::string Cell(unsigned row, unsigned column) { return Le(row, 2) + Le(column, 2) + Le(15, 2); }
// BOF of the later format (the workbook's globals: 5, a worksheet: 0x10) and of this one; EOF.
std::string Bof8(unsigned type) { return Rec(0x0809, Le(0x0600, 2) + Le(type, 2) + std::string(12, '\0')); }
const std::string kBof3 = Rec(0x0209, Le(3, 2) + Le(0x10, 2) + Le(0, 2)), kEof = Rec(0x000A, "");
std::string Rk(unsigned row, unsigned column, std::uint32_t rk) { return Rec(0x027E, Cell(row, column) + Le(rk, 4)); }
std::string Number(unsigned row, unsigned column, double d) {
  return Rec(0x0203, Cell(row, column) + Le(std::bit_cast<std::uint64_t>(d), 8));
}
// A label; in the later format an option byte comes first, then 8-bit or (wide) 16-bit characters.
std::string Label(unsigned row, unsigned column, const std::string& text, int later = 0) {
  std::string chars;
  for (char c : text) chars += later == 2 ? std::string(1, c) + '\0' : std::string(1, c);
  const std::string option = later ? std::string(1, later == 2 ? '\1' : '\0') : "";
  return Rec(0x0204, Cell(row, column) + Le(text.size(), 2) + option + chars);
}

std::string Written(const std::string& data) {
  Worksheet sheet;
  std::string error;
  return BuildWorksheet(SheetText{data, {}, {}, {}}, sheet, error) ? sheet.bytes : error;
}

std::string Shown(const std::optional<RawCell>& cell) {
  char number[32];
  if (cell && cell->is_number) std::snprintf(number, sizeof number, "%.15g", cell->number);
  return !cell ? "none" : cell->is_number ? std::string("number:") + number : "text:" + cell->text;
}

// The files the case table names.
std::map<std::string, std::string> Files() {
  std::string rows;
  for (int i = 1; i <= 300; ++i) rows += (i == 44 ? "forty-four" : i == 300 ? "three hundred" : "") + std::string("\n");
  const std::string number = Number(0, 0, 7);
  return {
      {"ours", Written("a\t42\n$1.50\t12/25/2012")},
      {"tall", Written(rows)},
      {"later", Bof8(5) + kEof + Bof8(0x10) + Rk(0, 0, 42u << 2 | 2) + kEof + Bof8(0x10) + Rk(0, 0, 0x40040000) +
                    Rk(0, 1, 0x40040001) + Rk(0, 2, static_cast<std::uint32_t>(-150 << 2 | 3)) +
                    Label(1, 0, "plain", 1) + Label(1, 1, "wide", 2) + Number(299, 300, -0.5) + kEof},
      {"two_old", kBof3 + Label(0, 0, "first") + kEof + kBof3 + Label(0, 0, "second") + kEof},
      {"long_label", kBof3 + Label(0, 0, std::string(300, 'x')) + kEof},
      // Records that claim more than the file or the record holds.
      {"cut", kBof3 + number.substr(0, number.size() - 1)},
      {"short_number", kBof3 + Rec(0x0203, Cell(0, 0) + "\1\2")},
      {"lying_label", kBof3 + Rec(0x0204, Cell(0, 0) + Le(50, 2) + "short")},
      {"short_rk", kBof3 + Rec(0x027E, Cell(0, 0))},
      {"lying_wide_label", Bof8(0x10) + Rec(0x0204, Cell(0, 0) + Le(4, 2) + '\1' + "ab")},
      {"lying_length", kBof3 + Le(0x0204, 2) + Le(0xFFFF, 2) + Cell(0, 0) + Le(2, 2) + "ok"},
      {"no_sheet", number},
  };
}

TEST(SpreadsheetReader, ReadsCells) {
  const std::map<std::string, std::string> files = Files();
  for (const CaseRow& row : CaseSection("tests/documents/spreadsheet_cases.txt", "reader", 5)) {
    const std::vector<std::string>& f = row.fields;
    EXPECT_EQ(Shown(ReadRawCell(files.at(f[0]), std::stoi(f[1]), std::stoi(f[2]), std::stoi(f[3]))), f[4]) << row.where;
  }
}

// Cells given by value keep it: texts that the text form would type, split or
// format stay texts; every cell of a worksheet comes back in file order.
TEST(SpreadsheetReader, ValuesWrittenAndReadWhole) {
  ScratchDir dir;
  const std::string path = dir.File("values.xls");
  const std::vector<SheetValue> cells = {
      {0, 0, true, -2.5, {}},  {0, 1, false, 0, "=A1+1"}, {1, 0, false, 0, "12/25/2012"},
      {1, 1, false, 0, "42"},  {2, 3, false, 0, "a\tb bold=1"}, {65535, 255, true, 1e300, {}}};
  std::string error;
  ASSERT_TRUE(WriteSpreadsheetValues(path, cells, error)) << error;
  std::string shown;
  for (const RawSheetCell& c : ReadRawCells(ReadBytes(path), 1))
    shown += std::to_string(c.row) + "," + std::to_string(c.column) + " " + Shown(c.cell) + ";";
  EXPECT_EQ(shown, "1,1 number:-2.5;1,2 text:=A1+1;2,1 text:12/25/2012;2,2 text:42;3,4 text:a\tb bold=1;"
                   "65536,256 number:1e+300;");
  EXPECT_FALSE(WriteSpreadsheetValues(path, {{65536, 0, true, 1, {}}}, error));
  EXPECT_EQ(error, "Row 65537 is past the last row of a worksheet (65536)");
  EXPECT_FALSE(WriteSpreadsheetValues(path, {{-1, 0, true, 1, {}}}, error));
  EXPECT_TRUE(ReadRawCells(ReadBytes(path), 2).empty());
}

}  // namespace
}  // namespace olvex::test
