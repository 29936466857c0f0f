// A reader that is not ours (python3-xlrd, through spreadsheet_dump.py) opens
// the writer's file and finds the values, types, number formats, fonts,
// alignment, colours and column widths of spreadsheet_xlrd.expect.
#include <gtest/gtest.h>

#include "documents/spreadsheet_writer.h"
#include "tests/support/test_support.h"

namespace olvex::test {

TEST(SpreadsheetXlrd, ReadsWhatWasWritten) {
#ifdef _WIN32
  GTEST_SKIP() << "python3-xlrd runs on the Linux side";
#else
  ScratchDir dir;
  const std::string path = dir.File("book.xls"), here = OLVEX_SOURCE_DIR "/tests/documents/";
  std::string error;
  const std::string data =
      "Name\tAmount\tDate\tFormula\n"
      "width=200 font=Times_New_Roman font-size=12 font-style=bold,italic Widget\t$1,234.50\t12/25/2012\t=B2*2\n"
      "align=right bgcolor=yellow color=red font-style=underlined Gadget\t12.5\tborder=2 align=center 1/2/2013\t42\n"
      "Caf\xE9\t \t=SUM(B2:B3)\t-7\n"
      "font-style=italic Slanted\tfont-style=underlined Lined";
  ASSERT_EQ(WriteSpreadsheetFile(path, SheetText{data, {}, {}, {}}, error), SheetWrite::kConverted) << error;
  const ChildResult r = RunChild({"/usr/bin/python3", here + "spreadsheet_dump.py", path});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, ReadBytes(here + "spreadsheet_xlrd.expect"));
#endif
}

}  // namespace olvex::test
