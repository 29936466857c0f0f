#pragma once
// The spreadsheet file writer: delimited text becomes a one-worksheet file in
// the worksheet format of Excel 3.0 (BIFF3), with typed cells (numbers,
// currency, dates, simple formulas, text) and the per-cell formatting words
// width=, align=, border=, font=, font-size=, font-style=, bgcolor=, color=.
// Used by the "Excel" output destination and by Create Workbook with data.
#include <string>
#include <string_view>
#include <vector>

namespace olvex {

// Worksheet limits of this format: rows and columns of cells, and the rows
// (a reference holds 14 bits) a formula can name.
inline constexpr int kSheetRows = 65536, kSheetColumns = 256, kFormulaRows = 16384;

struct SheetText {
  std::string_view data;
  // Empty: the first of CR LF, LF, CR found in the data (else CR LF).
  std::string_view row_separator;
  // Empty: a tab when the data holds one, else "," when it holds one, else "|".
  std::string_view column_separator;
  // The font of cells that set a size, style or colour but no font name ("Arial" when empty).
  std::string_view default_font;
};

struct SheetFont {
  std::string name;
  int size = 0;    // points, 0 = 10
  int colour = 0;  // font colour index, 0 = automatic
  int style = 0;   // 1 bold, 2 italic, 4 underlined, 8 struck through
};

struct Worksheet {
  std::string bytes;                    // the whole file
  std::vector<SheetFont> custom_fonts;  // in slot order (file font index = slot + 5)
  bool empty_data = false;              // the data was empty: the sheet holds the blank A1 only
};

// Builds the file's bytes. Fails, with the reason in `error`, when a cell lies
// past the worksheet's last row or column (nothing is built then).
bool BuildWorksheet(const SheetText& text, Worksheet& sheet, std::string& error);

enum class SheetWrite { kConverted, kEmpty, kFailed };

// Builds the worksheet and writes it to `path` (beside the old file, then
// renamed over it). Each custom font is logged at log level 1 and above.
// kEmpty: the data was empty and a sheet with the blank A1 was written.
// kFailed: nothing was written; `error` tells why.
SheetWrite WriteSpreadsheetFile(const std::string& path, const SheetText& text, std::string& error);

// One cell given by its value rather than by text: a number, or a text taken
// as it is (no typing, formatting words or formulas). Row and column from 0.
struct SheetValue {
  int row = 0, column = 0;
  bool is_number = false;
  double number = 0;
  std::string_view text;
};

// Builds and writes (beside, then renamed) a file of these cells, a blank A1
// when there are none. Fails, with the reason in `error`, as the text form does.
bool WriteSpreadsheetValues(const std::string& path, const std::vector<SheetValue>& cells, std::string& error);

// A workbook reference of the "Excel" destination: a path, optionally
// followed by "!" and a cell ("C:\book.xls!B3") or by "!", a sheet name, "!"
// and a cell ("book.xls!Sheet2!B3"). `cell` is empty when no cell is named.
struct WorkbookReference {
  std::string path, sheet, cell;
};
WorkbookReference SplitWorkbookReference(std::string_view reference);

}  // namespace olvex
