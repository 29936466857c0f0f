#pragma once
// The spreadsheet application reached through automation (platform/
// automation.h): one application object per process, created on first use
// and released at the end of the run; eight workbook slots; the five
// operations on a workbook named by its path; the cell-format properties and
// their words; the run flags that the end of a run reports on.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/automation.h"

namespace olvex {

inline constexpr int kWorkbookSlots = 8;

namespace workbook_flag {
inline constexpr int kSave = 1, kHidden = 2, kReadFormat = 8, kWriteFormat = 16;
}

// A cell-format property: the option word that names it and how its value
// reads and writes.
enum class PropertyWords { kFormat, kFlag, kInteger, kNumber, kText, kColour, kBorderWeight, kLineStyle,
                           kHorizontal, kVertical, kPixels, kCount };
struct CellProperty {
  const char* option;
  const char* also;        // a second option word naming it, or nullptr
  const char* members[3];  // the member path from the cell (or the sheet), nullptr-ended
  bool from_sheet;         // the path starts at the worksheet
  PropertyWords words;
};
// The first property (in the table's order) whose option word `options` contains.
const CellProperty* FindCellProperty(std::string_view options);
// The application's value as the words shown.
std::string PropertyText(const CellProperty& property, const platform::AutoValue& value);
// The value written for `text`; nothing, with `error`, when `text` means none.
std::optional<platform::AutoValue> PropertyValue(const CellProperty& property, std::string_view text, std::string& error);

// The value Set Cell writes: a short whole number (digits, blanks, commas, a
// leading "-") as an integer, one number of up to 31 characters as a real,
// anything else as text.
platform::AutoValue CellValueOf(std::string_view text);
// A cell's value as text: a number printed, a text as it is, empty as "".
std::string CellText(const platform::AutoValue& value);

// The operations. Each fails with its error text ("Excel Error: ...").
// 1 open: the slot number plus 1, 0 on failure.
int OpenWorkbook(const std::string& path, int flags, std::string& error);
// 2 get: the cell's value, or with `property` set that format property.
bool GetCell(const std::string& path, const std::string& cell, const CellProperty* property, std::string& text,
             std::string& error);
// 3 set: writes the cell's value and marks the workbook modified.
bool SetCell(const std::string& path, const std::string& cell, const platform::AutoValue& value, std::string& error);
// 4 close (flag kSave: save first) and free the slot.
bool CloseWorkbook(const std::string& path, int flags, std::string& error);
// 5 save (kSave), read a format property (kReadFormat, into `text`), write
// one (kWriteFormat, `text` the words), or else select the cell.
bool WorkbookOperation(const std::string& path, const std::string& cell, int flags, const CellProperty* property,
                       std::string& text, std::string& error);

// The slot (from 0) holding `path`, -1 when none.
int WorkbookSlotOf(const std::string& path);

struct WorkbookRunFlags {
  bool open = false, hidden = false, modified = false;
};
WorkbookRunFlags WorkbookFlags(int slot);
// A new run starts with no flags.
void ClearWorkbookFlags();
// The end of a run: warns about each workbook left modified or open, closes
// those opened hidden (unsaved) and releases the application.
void EndRunWorkbooks();

// The bound of each automation call (tests shorten it).
void SetAutomationCallBound(int ms);

}  // namespace olvex
