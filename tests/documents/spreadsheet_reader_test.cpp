// The raw cell reader on files of the writer and on hand-made files of the
// later formats: RK, NUMBER and LABEL cells, several worksheets, cut and
// lying records.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "documents/spreadsheet_reader.h"
#include "documents/spreadsheet_writer.h"
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
// BOF of the later format: the workbook's globals (5) or a worksheet (0x10).
std::string Bof8(unsigned type) { return Rec(0x0809, Le(0x0600, 2) + Le(type, 2) + std::string(12, '\0')); }
std::string Bof3() { return Rec(0x0209, Le(3, 2) + Le(0x10, 2) + Le(0, 2)); }
std::string Eof() { return Rec(0x000A, ""); }
std::string Rk(unsigned row, unsigned column, std::uint32_t rk) { return Rec(0x027E, Cell(row, column) + Le(rk, 4)); }
std::string Number(unsigned row, unsigned column, double d) {
  return Rec(0x0203, Cell(row, column) + Le(std::bit_cast<std::uint64_t>(d), 8));
}
std::string Label(unsigned row, unsigned column, const std::string& text) {
  return Rec(0x0204, Cell(row, column) + Le(text.size(), 2) + text);
}
// A later format's label: an option byte, then 8-bit or (wide) 16-bit characters.
std::string Label8(unsigned row, unsigned column, const std::string& text, bool wide) {
  std::string chars;
  for (char c : text) chars += wide ? std::string(1, c) + '\0' : std::string(1, c);
  return Rec(0x0204, Cell(row, column) + Le(text.size(), 2) + (wide ? '\1' : '\0') + chars);
}

std::string Written(const std::string& data) {
  Worksheet sheet;
  std::string error;
  EXPECT_TRUE(BuildWorksheet(SheetText{data, {}, {}, {}}, sheet, error)) << error;
  return sheet.bytes;
}

std::string Shown(const std::optional<RawCell>& cell) {
  if (!cell) return "none";
  if (!cell->is_number) return "text:" + cell->text;
  char number[32];
  std::snprintf(number, sizeof number, "%.15g", cell->number);
  return std::string("number:") + number;
}

TEST(SpreadsheetReader, ReadsCells) {
  std::string rows;
  for (int i = 1; i <= 300; ++i) rows += (i == 44 ? "forty-four" : i == 300 ? "three hundred" : "") + std::string("\n");
  const std::string ours = Written("a\t42\n$1.50\t12/25/2012");
  const std::string tall = Written(rows);
  const std::string later = Bof8(5) + Eof() + Bof8(0x10) + Rk(0, 0, 42u << 2 | 2) + Eof() + Bof8(0x10) +
                            Rk(0, 0, 0x40040000) + Rk(0, 1, 0x40040001) + Rk(0, 2, static_cast<std::uint32_t>(-150 << 2 | 3)) +
                            Label8(1, 0, "plain", false) + Label8(1, 1, "wide", true) + Number(299, 300, -0.5) + Eof();
  const std::string two_old = Bof3() + Label(0, 0, "first") + Eof() + Bof3() + Label(0, 0, "second") + Eof();
  const std::string long_label = Bof3() + Label(0, 0, std::string(300, 'x')) + Eof();
  struct Case {
    const std::string* file;
    int sheet, row, column;
    std::string cell;
  };
  const Case cases[] = {
      {&ours, 1, 1, 1, "text:a"},
      {&ours, 1, 1, 2, "number:42"},
      {&ours, 1, 2, 1, "number:1.5"},
      {&ours, 1, 2, 2, "number:41268"},
      {&ours, 1, 3, 1, "none"},
      {&ours, 2, 1, 1, "none"},
      {&ours, 1, 257, 1, "none"},
      // Whole row numbers: row 300 is not row 44 (300 - 256).
      {&tall, 1, 44, 1, "text:forty-four"},
      {&tall, 1, 300, 1, "text:three hundred"},
      {&later, 1, 1, 1, "number:42"},
      {&later, 2, 1, 1, "number:2.5"},
      {&later, 2, 1, 2, "number:0.025"},
      {&later, 2, 1, 3, "number:-1.5"},
      {&later, 2, 2, 1, "text:plain"},
      {&later, 2, 2, 2, "text:wide"},
      {&later, 2, 300, 301, "number:-0.5"},
      {&later, 2, 44, 45, "none"},
      {&later, 3, 1, 1, "none"},
      {&two_old, 2, 1, 1, "text:second"},
      {&long_label, 1, 1, 1, "text:" + std::string(255, 'x')},
      {&ours, 0, 1, 1, "none"},
      {&ours, 1, 0, 1, "none"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Shown(ReadRawCell(*c.file, c.sheet, c.row, c.column)), c.cell)
        << "case " << (&c - cases) << ": sheet " << c.sheet << " row " << c.row << " column " << c.column;
}

// Records that claim more than the file or the record holds are not cells.
TEST(SpreadsheetReader, CutAndLyingRecords) {
  const std::string number = Number(0, 0, 7);
  const std::string cases[] = {
      Bof3() + number.substr(0, number.size() - 1),
      Bof3() + Rec(0x0203, Cell(0, 0) + "\1\2"),
      Bof3() + Rec(0x0204, Cell(0, 0) + Le(50, 2) + "short"),
      Bof3() + Rec(0x027E, Cell(0, 0)),
      Bof8(0x10) + Rec(0x0204, Cell(0, 0) + Le(4, 2) + '\1' + "ab"),
      Bof3() + Le(0x0204, 2) + Le(0xFFFF, 2) + Cell(0, 0) + Le(2, 2) + "ok",
      Number(0, 0, 7),
  };
  for (const std::string& bytes : cases) EXPECT_FALSE(ReadRawCell(bytes, 1, 1, 1)) << &bytes - cases;
}

TEST(SpreadsheetReader, FromFile) {
  ScratchDir dir;
  const std::string path = dir.Write("book.xls", Written("x\ty"));
  std::string error;
  EXPECT_EQ(Shown(ReadRawCellFromFile(path, 1, 1, 2, error)), "text:y");
  EXPECT_EQ(error, "");
  EXPECT_EQ(Shown(ReadRawCellFromFile(path, 1, 9, 9, error)), "none");
  EXPECT_EQ(error, "");
  EXPECT_EQ(Shown(ReadRawCellFromFile(dir.File("missing.xls"), 1, 1, 1, error)), "none");
  EXPECT_EQ(error, "The file '" + dir.File("missing.xls") + "' does not exist");
}

}  // namespace
}  // namespace olvex::test
