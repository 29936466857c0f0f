// The spreadsheet file writer: the records it makes for small inputs (the
// case table), the fixed start of every file, the worksheet's limits, and a
// file written beside the old one.
#include <gtest/gtest.h>

#include <filesystem>

#include "documents/spreadsheet_writer.h"
#include "engine/text.h"
#include "tests/documents/spreadsheet_records.h"
#include "tests/support/case_table.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

TEST(SpreadsheetWriter, CellsBecomeTheirRecords) {
  for (const CaseRow& row : CaseSection("tests/documents/spreadsheet_cases.txt", "cells", 2)) {
    Worksheet sheet;
    std::string error;
    ASSERT_TRUE(BuildWorksheet(SheetText{row.fields[0], {}, {}, {}}, sheet, error)) << row.where << error;
    EXPECT_EQ(DumpSheet(sheet.bytes), row.fields[1]) << row.where;
    EXPECT_EQ(sheet.empty_data, row.fields[0].empty()) << row.where;
  }
}

TEST(SpreadsheetWriter, EveryFileStartsAlike) {
  Worksheet sheet;
  std::string error;
  ASSERT_TRUE(BuildWorksheet(SheetText{"x", {}, {}, {}}, sheet, error));
  const std::vector<SheetRecord> records = SplitRecords(sheet.bytes);
  ASSERT_EQ(records.size(), 1u + 4 + 37 + 16 + 1 + 1);
  EXPECT_EQ(records[0].id, 0x0209);
  EXPECT_EQ(records[0].data, std::string("\x03\x00\x10\x00\x00\x00", 6));
  for (int i = 0; i < 4; ++i) {
    const char flags = "\x00\x01\x02\x04"[i];
    EXPECT_EQ(records[1 + i].data, std::string("\xC8\x00", 2) + flags + std::string("\x00\xFF\x7F\x05", 4) + "Arial");
  }
  EXPECT_EQ(records[5].data, std::string("\x07General"));
  EXPECT_EQ(records[5 + 8].data, std::string("\x22\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)"));
  EXPECT_EQ(records[5 + 14].data, std::string("\x0A" R"(d\-mmm\-yy)"));
  EXPECT_EQ(records[5 + 36].data, std::string("\x07#,##0.0"));
  const std::string xf0("\x00\x00\xF5\x03\xF0\xFF\x00\xCE\x00\x00\x00\x00", 12);
  const std::string xf3("\x02\x00\xF5\xF7\xF0\xFF\x00\xCE\x00\x00\x00\x00", 12);
  const std::string xf15("\x00\x00\x01\x00\x00\x00\x00\xCE\x00\x00\x00\x00", 12);
  EXPECT_EQ(records[42].data, xf0);
  EXPECT_EQ(records[45].data, xf3);
  EXPECT_EQ(records[57].data, xf15);
  EXPECT_EQ(records.back().id, 0x000A);
}

// Rows and columns past the worksheet's last fail, instead of landing on other cells.
TEST(SpreadsheetWriter, CellsPastTheLastRowOrColumnFail) {
  struct Case {
    std::string data, error;
  };
  std::string rows(65535, '\n'), columns(255, '\t');
  const Case cases[] = {
      {rows + "x", ""},
      {rows + "\nx", "Row 65537 is past the last row of a worksheet (65536)"},
      {rows + "\n\n", ""},
      {columns + "x", ""},
      {columns + "\tx", "Column 257 is past the last column of a worksheet (256)"},
  };
  for (const Case& c : cases) {
    Worksheet sheet;
    std::string error;
    EXPECT_EQ(BuildWorksheet(SheetText{c.data, {}, {}, {}}, sheet, error), c.error.empty()) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

TEST(SpreadsheetWriter, GivenSeparatorsAndDefaultFont) {
  Worksheet sheet;
  std::string error;
  ASSERT_TRUE(BuildWorksheet(SheetText{"a;b<>c;font-size=9 d", "<>", ";", "Courier"}, sheet, error));
  EXPECT_EQ(DumpSheet(sheet.bytes), "FONT 180 0 32767 Courier ; XF 5 0 0 0 00000000 ; LABEL 0,0,0 \"a\" ; "
                                    "LABEL 0,1,0 \"b\" ; LABEL 1,0,0 \"c\" ; LABEL 1,1,16 \"d\"");
}

// Fonts past 63 fall back to font 0, cell formats past 64 to none.
TEST(SpreadsheetWriter, FontAndFormatLimits) {
  struct Case {
    std::string row;  // "%" stands for the row's number
    int rows;
    std::size_t fonts;
    int formats, plain_cells;
  };
  const Case cases[] = {{"font-size=% x", 70, 63, 63, 7},
                        {"font-size=% align=left x\tfont-size=% align=right x", 35, 35, 64, 6}};
  for (const Case& c : cases) {
    std::string data;
    for (int i = 1; i <= c.rows; ++i) {
      std::string row = c.row;
      ReplaceAll(row, "%", std::to_string(i), false);
      data += row + "\n";
    }
    Worksheet sheet;
    std::string error;
    ASSERT_TRUE(BuildWorksheet(SheetText{data, {}, {}, {}}, sheet, error));
    EXPECT_EQ(sheet.custom_fonts.size(), c.fonts) << c.row;
    int xfs = 0, plain_cells = 0;
    for (const SheetRecord& r : SplitRecords(sheet.bytes)) {
      xfs += r.id == 0x0243;
      plain_cells += r.id == 0x0204 && Le16(r.data, 4) == 0;
    }
    EXPECT_EQ(xfs, 16 + c.formats) << c.row;
    EXPECT_EQ(plain_cells, c.plain_cells) << c.row;
  }
}

TEST(SpreadsheetWriter, WorkbookReferences) {
  struct Case {
    std::string reference, path, sheet, cell;
  };
  const Case cases[] = {
      {"C:\\data\\book.xls", "C:\\data\\book.xls", "", ""},
      {"C:\\data\\book.xls!B3", "C:\\data\\book.xls", "", "B3"},
      {"/tmp/book.xls!Sheet2!$C$4", "/tmp/book.xls", "Sheet2", "$C$4"},
      {"/tmp/odd!name.xls", "/tmp/odd!name.xls", "", ""},
      {"/tmp/a!b/book.xls", "/tmp/a!b/book.xls", "", ""},
      {"!A1", "", "", "A1"},
  };
  for (const Case& c : cases) {
    const WorkbookReference r = SplitWorkbookReference(c.reference);
    EXPECT_EQ(r.path, c.path) << c.reference;
    EXPECT_EQ(r.sheet, c.sheet) << c.reference;
    EXPECT_EQ(r.cell, c.cell) << c.reference;
  }
}

// The new file replaces the old one whole; a file that cannot be made is a
// failure that leaves the old one as it was.
TEST(SpreadsheetWriter, WritesBesideAndReplaces) {
  ScratchDir dir;
  const std::string path = dir.File("book.xls");
  std::string error;
  EXPECT_EQ(WriteSpreadsheetFile(path, SheetText{"1\t2", {}, {}, {}}, error), SheetWrite::kConverted);
  Worksheet expected;
  ASSERT_TRUE(BuildWorksheet(SheetText{"1\t2", {}, {}, {}}, expected, error));
  EXPECT_EQ(ReadBytes(path), expected.bytes);
  EXPECT_EQ(WriteSpreadsheetFile(path, SheetText{"", {}, {}, {}}, error), SheetWrite::kEmpty);
  const std::string blank = ReadBytes(path);
  EXPECT_EQ(DumpSheet(blank), "BLANK 0,0,0");

  EXPECT_EQ(WriteSpreadsheetFile(path, SheetText{std::string(70000, '\n') + "x", {}, {}, {}}, error),
            SheetWrite::kFailed);
  EXPECT_EQ(ReadBytes(path), blank);
  const std::string missing = dir.File("no/such/folder/book.xls");
  EXPECT_EQ(WriteSpreadsheetFile(missing, SheetText{"x", {}, {}, {}}, error), SheetWrite::kFailed);
  EXPECT_EQ(error.rfind("Unable to create the spreadsheet file '" + missing + "': ", 0), 0u) << error;
  EXPECT_EQ(WriteSpreadsheetFile(dir.path().string(), SheetText{"x", {}, {}, {}}, error), SheetWrite::kFailed);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "nothing left beside";
}

}  // namespace
}  // namespace olvex::test
