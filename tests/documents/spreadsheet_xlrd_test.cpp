// A reader that is not ours (python3-xlrd) opens the writer's files and finds
// the values, types, number formats, fonts, alignment, colours and column
// widths the text asked for.
#include <gtest/gtest.h>

#include "documents/spreadsheet_writer.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

constexpr const char* kDumpScript = R"(
import sys, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True, encoding_override='cp1252')
sheet = book.sheet_by_index(0)
print(book.biff_version, book.nsheets, sheet.nrows, sheet.ncols)
for r in range(sheet.nrows):
    for c in range(sheet.ncols):
        cell = sheet.cell(r, c)
        if cell.ctype == xlrd.XL_CELL_EMPTY:
            continue
        xf = book.xf_list[cell.xf_index]
        font = book.font_list[xf.font_index]
        value = cell.value.encode('cp1252').hex() if cell.ctype == xlrd.XL_CELL_TEXT else repr(cell.value)
        print(r, c, cell.ctype, value, book.format_map[xf.format_key].format_str, font.name, font.height,
              font.bold, font.italic, font.underline_type, font.struck_out, font.colour_index,
              xf.alignment.hor_align, xf.background.pattern_colour_index, xf.border.top_line_style)
for c in sorted(sheet.colinfo_map):
    print('width', c, sheet.colinfo_map[c].width)
)";

TEST(SpreadsheetXlrd, ReadsWhatWasWritten) {
#ifdef _WIN32
  GTEST_SKIP() << "python3-xlrd runs on the Linux side";
#else
  ScratchDir dir;
  const std::string script = dir.Write("dump.py", kDumpScript);
  const std::string path = dir.File("book.xls");
  std::string error;
  const std::string data =
      "Name\tAmount\tDate\tFormula\n"
      "width=200 font=Times_New_Roman font-size=12 font-style=bold,italic Widget\t$1,234.50\t12/25/2012\t=B2*2\n"
      "align=right bgcolor=yellow color=red font-style=underlined Gadget\t12.5\tborder=2 align=center 1/2/2013\t42\n"
      "Caf\xE9\t \t=SUM(B2:B3)\t-7";
  ASSERT_EQ(WriteSpreadsheetFile(path, SheetText{data, {}, {}, {}}, error), SheetWrite::kConverted) << error;
  const ChildResult r = RunChild({"/usr/bin/python3", script, path});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "30 1 4 4\n"
            "0 0 1 4e616d65 General Arial 200 0 0 0 0 32767 0 24 0\n"
            "0 1 1 416d6f756e74 General Arial 200 0 0 0 0 32767 0 24 0\n"
            "0 2 1 44617465 General Arial 200 0 0 0 0 32767 0 24 0\n"
            "0 3 1 466f726d756c61 General Arial 200 0 0 0 0 32767 0 24 0\n"
            "1 0 1 576964676574 General Times New Roman 240 1 1 0 0 32767 0 0 0\n"
            "1 1 2 1234.5 \"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\) Arial 200 0 0 0 0 32767 0 0 0\n"
            "1 2 3 41268.0 d\\-mmm\\-yy Arial 200 0 0 0 0 32767 0 0 0\n"
            "1 3 2 0.0 General Arial 200 0 0 0 0 32767 0 24 0\n"
            "2 0 1 476164676574 General Arial 200 0 0 1 0 2 3 13 0\n"
            "2 1 2 12.5 0.00 Arial 200 0 0 0 0 32767 0 0 0\n"
            "2 2 3 41276.0 d\\-mmm\\-yy Arial 200 0 0 0 0 32767 2 0 1\n"
            "2 3 2 42.0 General Arial 200 0 0 0 0 32767 0 24 0\n"
            "3 0 1 436166e9 General Arial 200 0 0 0 0 32767 0 24 0\n"
            "3 1 6 '' General Arial 200 0 0 0 0 32767 0 24 0\n"
            "3 2 1 3d53554d2842323a423329 General Arial 200 0 0 0 0 32767 0 24 0\n"
            "3 3 2 -7.0 General Arial 200 0 0 0 0 32767 0 24 0\n"
            "width 0 7000\n");
#endif
}

}  // namespace
}  // namespace olvex::test
