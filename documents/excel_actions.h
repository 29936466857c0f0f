#pragma once
// The Excel category: Create Workbook (with data written by the spreadsheet
// file writer), Open, Save and Close Workbook, Get Cell (read straight from
// the file when automation fails), Set Cell, Select Cell, Get and Set Cell
// Format, through the automation layer of documents/excel_automation.
#include <optional>
#include <string>
#include <string_view>

namespace olvex {

int HandleExcelStep(int slot, int step_index);

// A cell reference's row and column (from 1): "B3", "$AB$12"; nothing when
// it is not one.
struct CellPosition {
  int row = 0, column = 0;
};
std::optional<CellPosition> CellPositionOf(std::string_view cell);

// The worksheet number (from 1) that `name` names in the spreadsheet file
// `bytes` (its sheet list; a file without one holds a single worksheet,
// named "Sheet1" or after the file's base name `file_name`); nothing when
// the file has no such worksheet.
std::optional<int> WorksheetNumber(std::string_view bytes, std::string_view name, std::string_view file_name);

// The "Excel" output destination with a cell: `data` written to the cell
// (`sheet` may be empty) by the Set Cell value rule; a workbook that is not
// open is opened hidden for it, saved and closed again.
bool WriteWorkbookCell(const std::string& path, const std::string& sheet, const std::string& cell, std::string_view data,
                       std::string& error);

}  // namespace olvex
