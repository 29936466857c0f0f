#pragma once
// The raw cell reader: one cell of a spreadsheet file read straight from its
// bytes, without a spreadsheet application (Get Cell's fall-back). It knows the
// worksheets of this program's files (BIFF3) and of the later formats (BIFF4
// to BIFF8, also inside their container file) and reads RK, NUMBER and LABEL
// cells.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace olvex {

struct RawCell {
  bool is_number = false;
  double number = 0;
  std::string text;  // at most 255 characters
};

// The cell at `row`, `column` (from 1) of worksheet `sheet` (from 1) in the
// file's bytes; nothing when there is no such number or text cell.
std::optional<RawCell> ReadRawCell(std::string_view bytes, int sheet, int row, int column);

// Every number and text cell of worksheet `sheet` (from 1), in file order;
// `row` and `column` count from 1.
struct RawSheetCell {
  int row, column;
  RawCell cell;
};
std::vector<RawSheetCell> ReadRawCells(std::string_view bytes, int sheet);

// The worksheet names of a workbook's sheet list (BOUNDSHEET records of the
// Excel 5 to 97 formats), in order; other sheet kinds are left out, as the
// reader counts worksheets only. Empty for a one-worksheet file (BIFF2 to 4).
std::vector<std::string> ReadWorksheetNames(std::string_view bytes);

// The same cell from the file `path`; nothing when the file cannot be read
// (`error` then says why) or holds no such cell (`error` empty).
std::optional<RawCell> ReadRawCellFromFile(const std::string& path, int sheet, int row, int column, std::string& error);

}  // namespace olvex
