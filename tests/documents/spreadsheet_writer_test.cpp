// The spreadsheet file writer: the records it makes for small inputs (the
// case table), the worksheet's limits, and a file written beside the old one.
// (The fixed start of every file is read by an independent reader in
// spreadsheet_xlrd_test.cpp.)
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "documents/spreadsheet_writer.h"
#include "tests/support/case_table.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

// The records of a file, and a short text of those after the fixed start that the case table compares.
struct SheetRecord {
  unsigned id;
  std::string data;
};

unsigned Le16(const std::string& s, std::size_t at) {
  return static_cast<unsigned char>(s[at]) | static_cast<unsigned>(static_cast<unsigned char>(s[at + 1])) << 8;
}

// The records in order; bytes after the last whole record end the list as id 0xFFFF.
std::vector<SheetRecord> SplitRecords(const std::string& bytes) {
  std::vector<SheetRecord> records;
  std::size_t at = 0;
  for (; at + 4 <= bytes.size() && at + 4 + Le16(bytes, at + 2) <= bytes.size(); at += 4 + records.back().data.size())
    records.push_back({Le16(bytes, at), bytes.substr(at + 4, Le16(bytes, at + 2))});
  if (at != bytes.size()) records.push_back({0xFFFF, bytes.substr(at)});
  return records;
}

std::string DumpSheet(const std::string& bytes) {
  std::string out;
  int fonts = 0, xfs = 0;
  auto add = [&](const std::string& item) { out += (out.empty() ? "" : " ; ") + item; };
  auto n = [](unsigned v) { return std::to_string(v); };
  auto hex = [](const std::string& d) {
    std::string h;
    char two[3];
    for (unsigned char c : d) std::snprintf(two, sizeof two, "%02x", c), h += two;
    return h;
  };
  for (const SheetRecord& r : SplitRecords(bytes)) {
    const std::string& d = r.data;
    const std::string cell = r.id < 0x0200 ? "" : n(Le16(d, 0)) + "," + n(Le16(d, 2)) + "," + n(Le16(d, 4)) + " ";
    if (r.id == 0x0231 && ++fonts > 4) {
      add("FONT " + n(Le16(d, 0)) + " " + n(Le16(d, 2)) + " " + n(Le16(d, 4)) + " " + d.substr(7));
    } else if (r.id == 0x0243 && ++xfs > 16) {
      const unsigned bg = Le16(d, 6);
      add("XF " + n(static_cast<unsigned char>(d[0])) + " " + n(static_cast<unsigned char>(d[1])) + " " +
          n(Le16(d, 4)) + " " + n(bg ? (bg >> 6) & 31 : 0) + " " + hex(d.substr(8)));
    } else if (r.id == 0x007D) {
      add("COL " + n(Le16(d, 0)) + " " + n(Le16(d, 4)));
    } else if (r.id == 0x0204) {
      add("LABEL " + cell + "\"" + d.substr(8, Le16(d, 6)) + "\"");
    } else if (r.id == 0x0203) {
      char number[32];
      std::snprintf(number, sizeof number, "%.15g",
                    std::bit_cast<double>(Le16(d, 6) | std::uint64_t{Le16(d, 8)} << 16 |
                                          std::uint64_t{Le16(d, 10)} << 32 | std::uint64_t{Le16(d, 12)} << 48));
      add("NUMBER " + cell + number);
    } else if (r.id == 0x0206) {
      // The cached result is zero and the options ask for a calculation.
      add("FORMULA " + cell + (d.substr(6, 10) == std::string("\0\0\0\0\0\0\0\0\3\0", 10) ? "" : "? ") +
          hex(d.substr(18, Le16(d, 16))));
    } else if (r.id == 0x0201) {
      add("BLANK " + cell.substr(0, cell.size() - 1));
    } else if (r.id != 0x0209 && r.id != 0x001E && r.id != 0x000A && r.id != 0x0231 && r.id != 0x0243) {
      add("?" + hex(d));
    }
  }
  return out;
}

// Rows of two fields use the default separators and font; a row of five gives them.
TEST(SpreadsheetWriter, CellsBecomeTheirRecords) {
  for (const CaseRow& row : CaseTable("tests/documents/spreadsheet_cases.txt").at("cells")) {
    const std::vector<std::string>& f = row.fields;
    ASSERT_TRUE(f.size() == 2 || f.size() == 5) << row.where;
    Worksheet sheet;
    std::string error;
    const SheetText text = f.size() == 2 ? SheetText{f[0], {}, {}, {}} : SheetText{f[0], f[2], f[3], f[4]};
    ASSERT_TRUE(BuildWorksheet(text, sheet, error)) << row.where << error;
    EXPECT_EQ(DumpSheet(sheet.bytes), f[1]) << row.where;
    EXPECT_EQ(sheet.empty_data, f[0].empty()) << row.where;
  }
}

// Rows and columns past the worksheet's last fail, instead of landing on other cells.
TEST(SpreadsheetWriter, CellsPastTheLastRowOrColumnFail) {
  const std::string rows(65535, '\n'), columns(255, '\t');
  const std::pair<std::string, std::string> cases[] = {
      {rows + "x", ""}, {rows + "\n\n", ""}, {rows + "\nx", "Row 65537 is past the last row of a worksheet (65536)"},
      {columns + "x", ""}, {columns + "\tx", "Column 257 is past the last column of a worksheet (256)"}};
  for (const auto& [data, message] : cases) {
    Worksheet sheet;
    std::string error;
    EXPECT_EQ(BuildWorksheet(SheetText{data, {}, {}, {}}, sheet, error), message.empty()) << message;
    EXPECT_EQ(error, message);
  }
}

// Fonts past 63 fall back to font 0, cell formats past 64 to none.
TEST(SpreadsheetWriter, FontAndFormatLimits) {
  std::string data;
  for (int i = 1; i <= 70; ++i) {
    const std::string size = "font-size=" + std::to_string(i);
    data += size + " align=left x\talign=right " + size + " x\n";
  }
  Worksheet sheet;
  std::string error;
  ASSERT_TRUE(BuildWorksheet(SheetText{data, {}, {}, {}}, sheet, error));
  EXPECT_EQ(sheet.custom_fonts.size(), 63u);
  int xfs = 0, plain_cells = 0;
  for (const SheetRecord& r : SplitRecords(sheet.bytes)) {
    xfs += r.id == 0x0243;
    plain_cells += r.id == 0x0204 && Le16(r.data, 4) == 0;
  }
  EXPECT_EQ(xfs, 16 + 64);
  EXPECT_EQ(plain_cells, 140 - 64);
}

TEST(SpreadsheetWriter, WorkbookReferences) {
  for (const CaseRow& row : CaseSection("tests/documents/spreadsheet_cases.txt", "references", 4)) {
    const WorkbookReference r = SplitWorkbookReference(row.fields[0]);
    EXPECT_EQ(r.path + "|" + r.sheet + "|" + r.cell, row.fields[1] + "|" + row.fields[2] + "|" + row.fields[3])
        << row.where;
  }
}

// The new file replaces the old one whole; a file that cannot be made is a
// failure that leaves the old one as it was.
TEST(SpreadsheetWriter, WritesBesideAndReplaces) {
  ScratchDir dir;
  const std::string path = dir.File("book.xls");
  std::string error;
  EXPECT_EQ(WriteSpreadsheetFile(path, SheetText{"1\t2", {}, {}, {}}, error), SheetWrite::kConverted);
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
