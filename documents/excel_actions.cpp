#include "documents/excel_actions.h"

#include <vector>

#include "documents/excel_automation.h"
#include "documents/spreadsheet_reader.h"
#include "documents/spreadsheet_writer.h"
#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "platform/files.h"
#include "system/file_paths.h"
#include "vars/format.h"
#include "vars/variables.h"

namespace olvex {
namespace {

constexpr std::size_t kSeparatorBuffer = 256, kValue3Buffer = 64, kCellBuffer = 65536;

int Fail(const std::string& text) {
  SetStepError(text);
  return 0;
}

struct Fields {
  int slot, index;
  const Step& step;
  std::string path, cell;
};

int Done(const Fields& f, std::string_view result) {
  SaveOutput(f.slot, f.index, result);
  return 1;
}

void LogAction(const Fields& f, const std::string& what) { LogText("    " + f.step.action + " [" + what + "]"); }
void LogAction(const Fields& f, const std::string& what, const std::string& value) {
  LogText("    " + f.step.action + " [" + what + "] \"" + value + "\"");
}

int CreateWorkbook(const Fields& f) {
  const ExpandContext c{f.slot, f.index};
  const std::string column_separator = ExpandIntoBuffer(c, f.step.value(2), kSeparatorBuffer);
  const std::string row_separator = ExpandIntoBuffer(c, f.step.value(3), kSeparatorBuffer);
  const std::string font = ExpandIntoBuffer(c, f.step.value(4), kSeparatorBuffer);
  const std::string data = ContainsNoCase(f.step.options, "No Variable Expansion") ? f.step.text : Expand(c, f.step.text);
  std::string error;
  if (!data.empty()) {
    const SheetWrite written = WriteSpreadsheetFile(f.path, SheetText{data, row_separator, column_separator, font}, error);
    return written == SheetWrite::kFailed ? Fail(error) : 1;
  }
  if (OpenWorkbook(f.path, workbook_flag::kSave | workbook_flag::kHidden, error) == 0) return Fail(error);
  return CloseWorkbook(f.path, workbook_flag::kSave, error) ? 1 : Fail(error);
}

// Get Cell's fall-back: the cell read straight from the file, in the
// worksheet the reference names (the first when it names none).
int ReadCellFromFile(const Fields& f, const std::string& automation_error) {
  const std::size_t bang = f.cell.rfind('!');
  const std::string sheet = bang == std::string::npos ? "Sheet1" : f.cell.substr(0, bang);
  const std::string cell = bang == std::string::npos ? f.cell : f.cell.substr(bang + 1);
  LogText("    Failure using Excel Automation: \"" + automation_error + "\"");
  LogText("    Attempting to read raw native XLS data for " + sheet + "!" + cell + "...");
  const std::optional<CellPosition> at = CellPositionOf(cell);
  if (!at) return Fail("Invalid cell reference \"" + cell + "\"");
  const platform::FileContent file = platform::ReadWholeFile(f.path, 256ull << 20);
  if (file.status != platform::ReadStatus::Ok) {
    std::string error;  // the reason in the reader's words
    ReadRawCellFromFile(f.path, 1, at->row, at->column, error);
    return Fail(error.empty() ? "The file '" + f.path + "' cannot be read" : error);
  }
  const std::optional<int> number = WorksheetNumber(file.data, sheet, PathParts(f.path, 4));
  if (!number) return Fail("The worksheet \"" + sheet + "\" was not found in '" + f.path + "'");
  const std::optional<RawCell> raw = ReadRawCell(file.data, *number, at->row, at->column);
  if (!raw) return Done(f, "");
  return Done(f, raw->is_number ? FormatNumber(raw->number, 15) : raw->text);
}

int GetCellStep(const Fields& f) {
  const std::string property_name = ExpandIntoBuffer({f.slot, f.index}, f.step.value(3), kValue3Buffer);
  const CellProperty* property = nullptr;
  if (!property_name.empty() && !(property = FindCellProperty(property_name)))
    return Fail("Unknown cell format property \"" + property_name + "\"");
  LogAction(f, f.cell);
  std::string text, error;
  if (GetCell(f.path, f.cell, property, text, error)) {
    if (text.size() >= kCellBuffer) text.resize(kCellBuffer - 1);
    return Done(f, text);
  }
  if (property || f.path.empty()) return Fail(error);
  return ReadCellFromFile(f, error);
}

int CellFormatStep(const Fields& f, bool write) {
  const CellProperty* property = FindCellProperty(f.step.options);
  std::string cell = f.cell;
  if (cell.empty() && property && property->from_sheet) cell = "A1";
  std::string text = write ? Expand({f.slot, f.index}, f.step.text) : std::string();
  if (write) {
    LogAction(f, cell, text);
  } else {
    LogAction(f, cell);
  }
  std::string error;
  const int flags = write ? workbook_flag::kWriteFormat : workbook_flag::kReadFormat;
  if (!WorkbookOperation(f.path, cell, flags, property, text, error)) return Fail(error);
  return write ? 1 : Done(f, text);
}

}  // namespace

std::optional<CellPosition> CellPositionOf(std::string_view cell) {
  std::size_t i = 0;
  CellPosition at;
  if (i < cell.size() && cell[i] == '$') ++i;
  const std::size_t letters = i;
  for (; i < cell.size() && AsciiLower(cell[i]) >= 'a' && AsciiLower(cell[i]) <= 'z' && i - letters < 3; ++i)
    at.column = at.column * 26 + (AsciiLower(cell[i]) - 'a' + 1);
  if (i == letters) return std::nullopt;
  if (i < cell.size() && cell[i] == '$') ++i;
  const std::size_t digits = i;
  for (; i < cell.size() && cell[i] >= '0' && cell[i] <= '9' && i - digits < 7; ++i) at.row = at.row * 10 + (cell[i] - '0');
  if (i == digits || i != cell.size() || at.row == 0) return std::nullopt;
  return at;
}

std::optional<int> WorksheetNumber(std::string_view bytes, std::string_view name, std::string_view file_name) {
  const std::vector<std::string> names = ReadWorksheetNames(bytes);
  for (std::size_t i = 0; i < names.size(); ++i)
    if (EqualsNoCase(names[i], name)) return static_cast<int>(i) + 1;
  if (!names.empty()) return std::nullopt;
  const std::string_view base = file_name.substr(0, file_name.rfind('.'));
  if (EqualsNoCase(name, "Sheet1") || EqualsNoCase(name, base)) return 1;
  return std::nullopt;
}

bool WriteWorkbookCell(const std::string& path, const std::string& sheet, const std::string& cell, std::string_view data,
                       std::string& error) {
  const std::string reference = sheet.empty() ? cell : sheet + "!" + cell;
  if (WorkbookSlotOf(path) >= 0) return SetCell(path, reference, CellValueOf(data), error);
  if (OpenWorkbook(path, workbook_flag::kHidden, error) == 0) return false;
  if (!SetCell(path, reference, CellValueOf(data), error)) {
    std::string ignored;
    CloseWorkbook(path, 0, ignored);
    return false;
  }
  return CloseWorkbook(path, workbook_flag::kSave, error);
}

int HandleExcelStep(int slot, int step_index) {
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const std::string_view a = step.action;
  const ExpandContext c{slot, step_index};
  std::string located;
  LocateFile(Expand(c, step.value(1)), ScriptFolder(slot), &located);
  Fields f{slot, step_index, step, CleanedPath(located), Expand(c, step.value(2))};
  if (f.path.empty() && (ContainsNoCase(a, " Workbook") || ContainsNoCase(a, " Cell")))
    return Fail("No workbook name provided");
  std::string error, ignored;
  if (ContainsNoCase(a, "Create Workbook")) return CreateWorkbook(f);
  if (ContainsNoCase(a, "Open Workbook")) {
    int flags = ContainsNoCase(step.options, "Save") ? workbook_flag::kSave : 0;
    if (ContainsNoCase(step.options, "Hidden")) flags |= workbook_flag::kHidden;
    LogAction(f, f.path);
    return OpenWorkbook(f.path, flags, error) != 0 ? 1 : Fail(error);
  }
  if (ContainsNoCase(a, "Close Workbook")) {
    const int flags = ContainsNoCase(step.options, "Save") ? workbook_flag::kSave : 0;
    return CloseWorkbook(f.path, flags, error) ? 1 : Fail(error);
  }
  if (ContainsNoCase(a, "Save Workbook"))
    return WorkbookOperation(f.path, "", workbook_flag::kSave, nullptr, ignored, error) ? 1 : Fail(error);
  if (ContainsNoCase(a, "Get Cell Format")) return CellFormatStep(f, false);
  if (ContainsNoCase(a, "Get Cell")) return GetCellStep(f);
  if (ContainsNoCase(a, "Set Cell Format")) return CellFormatStep(f, true);
  if (ContainsNoCase(a, "Select Cell"))
    return WorkbookOperation(f.path, f.cell, 0, nullptr, ignored, error) ? 1 : Fail(error);
  if (ContainsNoCase(a, "Set Cell")) {
    const std::string value = Expand(c, step.text);
    LogAction(f, f.cell, value);
    return SetCell(f.path, f.cell, CellValueOf(value), error) ? 1 : Fail(error);
  }
  return Fail("Unknown Excel action \"" + step.action + "\"");
}

}  // namespace olvex
