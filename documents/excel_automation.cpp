#include "documents/excel_automation.h"

#include <array>
#include <charconv>
#include <cmath>
#include <mutex>
#include <span>
#include <vector>

#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "platform/files.h"
#include "vars/format.h"
#include "vars/formula.h"

namespace olvex {
namespace {

using platform::AutoCall;
using platform::AutoObject;
using platform::AutoValue;

constexpr char kProgId[] = "Excel.Application";
constexpr std::size_t kMostPathChars = 259;
constexpr int kEndOfRunBoundMs = 10000;

struct Word {
  const char* word;
  int value;
};
constexpr Word kBorderWeights[] = {{"thin", 2}, {"medium", -4138}, {"thick", 4}};
constexpr Word kLineStyles[] = {{"solid", 1}, {"dash", -4115}, {"dash dot", 4}, {"dash dot dot", 5},
                                {"dot", -4118}, {"double", -4119}, {"none", -4142}};
constexpr Word kHorizontal[] = {{"center", -4108}, {"center across selection", 7}, {"left", -4131}, {"right", -4152}};
constexpr Word kVertical[] = {{"bottom", -4107}, {"center", -4108}, {"distributed", -4117}, {"justify", -4130},
                              {"top", -4160}};

// Tested in this order: "Row Height" before "Height" alone is the same row.
constexpr CellProperty kProperties[] = {
    {"Data Format", nullptr, {"NumberFormat"}, false, PropertyWords::kFormat},
    {"Bold", nullptr, {"Font", "Bold"}, false, PropertyWords::kFlag},
    {"Italic", nullptr, {"Font", "Italic"}, false, PropertyWords::kFlag},
    {"Underline", nullptr, {"Font", "Underline"}, false, PropertyWords::kInteger},
    {"Font Name", nullptr, {"Font", "Name"}, false, PropertyWords::kText},
    {"Font Size", nullptr, {"Font", "Size"}, false, PropertyWords::kNumber},
    {"Font Color", nullptr, {"Font", "Color"}, false, PropertyWords::kColour},
    {"Background", nullptr, {"Interior", "Color"}, false, PropertyWords::kColour},
    {"Border Weight", nullptr, {"Borders", "Weight"}, false, PropertyWords::kBorderWeight},
    {"Border Line Style", nullptr, {"Borders", "LineStyle"}, false, PropertyWords::kLineStyle},
    {"Horizontal Align", nullptr, {"HorizontalAlignment"}, false, PropertyWords::kHorizontal},
    {"Vertical Align", nullptr, {"VerticalAlignment"}, false, PropertyWords::kVertical},
    {"Width", nullptr, {"ColumnWidth"}, false, PropertyWords::kNumber},
    {"Row Height", "Height", {"RowHeight"}, false, PropertyWords::kPixels},
    {"Total Rows", nullptr, {"UsedRange", "Rows", "Count"}, true, PropertyWords::kCount},
    {"Total Columns", nullptr, {"UsedRange", "Columns", "Count"}, true, PropertyWords::kCount},
};

std::span<const Word> WordsOf(PropertyWords words) {
  switch (words) {
    case PropertyWords::kBorderWeight: return kBorderWeights;
    case PropertyWords::kLineStyle: return kLineStyles;
    case PropertyWords::kHorizontal: return kHorizontal;
    case PropertyWords::kVertical: return kVertical;
    default: return {};
  }
}

std::optional<double> NumberIn(const AutoValue& value) {
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* i = std::get_if<std::int32_t>(&value)) return *i;
  if (const auto* b = std::get_if<bool>(&value)) return *b ? -1 : 0;
  if (const auto* s = std::get_if<std::string>(&value)) {
    double d = 0;
    const auto [end, ec] = std::from_chars(s->data(), s->data() + s->size(), d);
    if (ec == std::errc() && end == s->data() + s->size()) return d;
  }
  return std::nullopt;
}

std::string Trimmed(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  return std::string(text.substr(start, text.find_last_not_of(" \t") - start + 1));
}

// One number as written: a sign, digits (thousands commas allowed), one
// "." and an exponent; blanks around it.
bool IsOneNumber(std::string_view text) {
  std::size_t i = 0, n = text.size(), digits = 0;
  while (i < n && text[i] == ' ') ++i;
  if (i < n && (text[i] == '-' || text[i] == '+')) ++i;
  for (; i < n && ((text[i] >= '0' && text[i] <= '9') || (text[i] == ',' && digits > 0)); ++i)
    if (text[i] != ',') ++digits;
  if (i < n && text[i] == '.')
    for (++i; i < n && text[i] >= '0' && text[i] <= '9'; ++i) ++digits;
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '-' || text[i] == '+')) ++i;
    const std::size_t exponent = i;
    while (i < n && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == exponent) return false;
  }
  while (i < n && text[i] == ' ') ++i;
  return i == n;
}

std::optional<std::int64_t> ColourNumber(std::string_view text) {
  std::string t = Trimmed(text);
  int base = 10;
  if (StartsWithNoCase(t, "0x") || StartsWithNoCase(t, "&H")) {
    t.erase(0, 2);
    base = 16;
  }
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, base);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size() || value < 0 || value > 0xFFFFFF) return std::nullopt;
  return value;
}

// --- The application and the slots -------------------------------------

struct Slot {
  std::string path;  // empty: free
  AutoObject book;
  bool added = false;  // made by Workbooks.Add and not saved under its path yet
  WorkbookRunFlags flags;
};

struct State {
  std::mutex mutex;  // held by each operation; the end of a run from another thread only tries it
  AutoObject application;
  std::array<Slot, kWorkbookSlots> slots;
  int bound_ms = 60000;
};

State& state() {
  static State s;
  return s;
}

bool Call(const AutoObject& object, AutoCall kind, const char* member, const std::vector<AutoValue>& args,
          AutoValue& result, std::string& error) {
  return platform::automation().Call(object, kind, member, args, result, error);
}

// A member's object, nothing (with `error`) when the call fails or answers no object.
std::optional<AutoObject> Get(const AutoObject& object, const char* member, const std::vector<AutoValue>& args,
                              std::string& error, AutoCall kind = AutoCall::kGet) {
  AutoValue v;
  if (!args.empty()) kind = AutoCall::kMethod;
  if (!Call(object, kind, member, args, v, error)) return std::nullopt;
  if (const auto* o = std::get_if<AutoObject>(&v); o && *o) return *o;
  error = std::string(member) + " gave no object";
  return std::nullopt;
}

bool Method(const AutoObject& object, const char* member, const std::vector<AutoValue>& args, std::string& error) {
  AutoValue ignored;
  return Call(object, AutoCall::kMethod, member, args, ignored, error);
}

bool Fail(std::string& error, std::string text) {
  error = std::move(text);
  return false;
}

// Every call of an operation is bounded and ends early on a stop request.
void SetBounds() { platform::automation().SetBounds(state().bound_ms, [] { return StopRequested(); }); }

// The start of each operation: false, with the reason, on a system without automation.
bool Ready(std::string& error) {
  SetBounds();
  if (platform::automation().Available()) return true;
  error = platform::kAutomationNotAvailable;
  return false;
}

bool EnsureApplication(std::string& error) {
  State& s = state();
  if (s.application) return true;
  AutoObject application;
  std::string why;
  const platform::AutoCreate created = platform::automation().Create(kProgId, application, why);
  if (created != platform::AutoCreate::kCreated && created != platform::AutoCreate::kNotAvailable)
    LogText("    " + why);
  switch (created) {
    case platform::AutoCreate::kCreated:
      s.application = application;
      return true;
    case platform::AutoCreate::kNotRegistered: return Fail(error, "Excel Error: Automation initialization error");
    case platform::AutoCreate::kServerFailed: return Fail(error, "Excel Error: Server error");
    case platform::AutoCreate::kNotAvailable: break;
  }
  return Fail(error, why);
}

Slot* SlotOf(const std::string& path) {
  const int at = WorkbookSlotOf(path);
  return at < 0 ? nullptr : &state().slots[static_cast<std::size_t>(at)];
}

// The workbook of `path`, or the error of a path that is empty or not open.
Slot* OpenSlot(const std::string& path, std::string& error) {
  if (path.empty()) {
    error = "Excel Error: No workbook name provided";
    return nullptr;
  }
  Slot* slot = SlotOf(path);
  if (!slot) error = "Excel Error: Workbook not opened";
  return slot;
}

struct CellTarget {
  AutoObject sheet, range;
};

// Activates the workbook and the worksheet the reference names ("Sheet2!B3";
// else the active one) and selects the cell.
bool SelectCell(Slot& slot, const std::string& reference, CellTarget& target, std::string& error) {
  State& s = state();
  std::string why;
  if (!Method(slot.book, "Activate", {}, why)) return Fail(error, "Excel Error: " + why);
  std::string cell = reference;
  if (const std::size_t bang = reference.rfind('!'); bang != std::string::npos) {
    std::string sheet_name = reference.substr(0, bang);
    if (sheet_name.size() > 1 && sheet_name.front() == '\'' && sheet_name.back() == '\'')
      sheet_name = sheet_name.substr(1, sheet_name.size() - 2);
    cell = reference.substr(bang + 1);
    const std::optional<AutoObject> sheets = Get(slot.book, "Worksheets", {}, why);
    if (!sheets) return Fail(error, "Excel Error: Worksheets collection error");
    const std::optional<AutoObject> sheet = Get(*sheets, "Item", {sheet_name}, why);
    if (!sheet) return Fail(error, "Excel Error: Worksheet \"" + sheet_name + "\" not found");
    if (!Method(*sheet, "Activate", {}, why)) return Fail(error, "Excel Error: " + why);
  }
  const std::optional<AutoObject> sheet = Get(s.application, "ActiveSheet", {}, why);
  if (!sheet) return Fail(error, "Excel Error: Sheet error");
  if (!Method(*sheet, "Activate", {}, why)) return Fail(error, "Excel Error: " + why);
  const std::optional<AutoObject> range = Get(*sheet, "Range", {cell}, why);
  if (!range) return Fail(error, "Excel Error: Invalid cell reference \"" + cell + "\": " + why);
  if (!Method(*range, "Select", {}, why)) return Fail(error, "Excel Error: " + why);
  target = {*sheet, *range};
  return true;
}

// The object that holds a property's last member.
std::optional<AutoObject> PropertyHolder(const CellProperty& property, const CellTarget& target, const char*& last,
                                         std::string& error) {
  AutoObject holder = property.from_sheet ? target.sheet : target.range;
  std::size_t i = 0;
  for (; i + 1 < std::size(property.members) && property.members[i + 1]; ++i) {
    const std::optional<AutoObject> next = Get(holder, property.members[i], {}, error);
    if (!next) return std::nullopt;
    holder = *next;
  }
  last = property.members[i];
  return holder;
}

bool SaveSlot(Slot& slot, std::string& error) {
  std::string why;
  // An added workbook is saved under the path it was opened by.
  const bool ok = slot.added ? Method(slot.book, "SaveAs", {slot.path}, why) : Method(slot.book, "Save", {}, why);
  if (!ok) return Fail(error, "Excel Error: " + why);
  slot.added = false;
  slot.flags.modified = false;
  return true;
}

}  // namespace

const CellProperty* FindCellProperty(std::string_view options) {
  for (const CellProperty& p : kProperties)
    if (ContainsNoCase(options, p.option) || (p.also && ContainsNoCase(options, p.also))) return &p;
  return nullptr;
}

std::string PropertyText(const CellProperty& property, const AutoValue& value) {
  if (property.words == PropertyWords::kFormat || property.words == PropertyWords::kText) {
    std::string text = CellText(value);
    return property.words == PropertyWords::kFormat && EqualsNoCase(text, "General") ? "@" : text;
  }
  const std::optional<double> number = NumberIn(value);
  if (!number) return CellText(value);
  if (property.words == PropertyWords::kFlag) return *number != 0 ? "1" : "0";
  if (property.words == PropertyWords::kHorizontal && *number == 1) return "left";
  for (const Word& w : WordsOf(property.words))
    if (w.value == *number) return w.word;
  return FormatNumber(*number, 15);
}

std::optional<AutoValue> PropertyValue(const CellProperty& property, std::string_view text, std::string& error) {
  const std::string t = Trimmed(text);
  auto invalid = [&]() -> std::optional<AutoValue> {
    error = "Invalid value \"" + std::string(text) + "\" for the cell format \"" + property.option + "\"";
    return std::nullopt;
  };
  switch (property.words) {
    case PropertyWords::kFormat:
    case PropertyWords::kText:
      return AutoValue(std::string(text));
    case PropertyWords::kFlag:
      if (EqualsNoCase(t, "true") || EqualsNoCase(t, "yes")) return AutoValue(true);
      if (EqualsNoCase(t, "false") || EqualsNoCase(t, "no")) return AutoValue(false);
      if (!IsOneNumber(t)) return invalid();
      return AutoValue(LeadingDecimal(t) != 0);
    case PropertyWords::kColour:
      if (const std::optional<std::int64_t> colour = ColourNumber(t)) return AutoValue(static_cast<double>(*colour));
      return invalid();
    case PropertyWords::kCount:
      error = std::string("The cell format \"") + property.option + "\" can only be read";
      return std::nullopt;
    default:
      break;
  }
  for (const Word& w : WordsOf(property.words))
    if (EqualsNoCase(t, w.word)) return AutoValue(static_cast<std::int32_t>(w.value));
  if (!IsOneNumber(t)) return invalid();
  std::string plain = t;
  std::erase(plain, ',');
  const double number = LeadingDecimal(plain);
  switch (property.words) {
    case PropertyWords::kNumber: return AutoValue(number);
    case PropertyWords::kPixels: return AutoValue(number * 72 / 96);  // pixels to points
    default: return AutoValue(static_cast<std::int32_t>(std::lround(number)));
  }
}

AutoValue CellValueOf(std::string_view text) {
  if (text.size() <= 9 && text.find_first_of("0123456789") != std::string_view::npos &&
      text.find_first_not_of("0123456789 ,-") == std::string_view::npos) {
    const std::size_t first = text.find_first_not_of(' ');
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos || (dash == first && text.find('-', dash + 1) == std::string_view::npos)) {
      std::int32_t value = 0;  // at most 8 digits: no overflow
      for (char c : text)
        if (c >= '0' && c <= '9') value = value * 10 + (c - '0');
      return dash == std::string_view::npos ? value : -value;
    }
  }
  if (text.size() <= 31 && IsOneNumber(text)) {
    std::string plain(text);
    std::erase(plain, ',');
    const FormulaResult r = EvaluateFormula(plain);
    if (!r.failed && r.text.empty()) return r.number;
    // A text the evaluator leaves as it is ("1e3"): read as a number.
    if (const std::optional<double> n = NumberIn(AutoValue(Trimmed(plain)))) return *n;
  }
  return std::string(text);
}

std::string CellText(const AutoValue& value) {
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  if (const auto* d = std::get_if<double>(&value)) return FormatNumber(*d, 15);
  if (const auto* i = std::get_if<std::int32_t>(&value)) return std::to_string(*i);
  if (const auto* b = std::get_if<bool>(&value)) return *b ? "TRUE" : "FALSE";
  return {};
}

int WorkbookSlotOf(const std::string& path) {
  if (path.empty()) return -1;
  for (int i = 0; i < kWorkbookSlots; ++i)
    if (EqualsNoCase(state().slots[static_cast<std::size_t>(i)].path, path)) return i;
  return -1;
}

int OpenWorkbook(const std::string& path, int flags, std::string& error) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!Ready(error)) return 0;
  if (path.empty()) return Fail(error, "Excel Error: No workbook name provided");
  if (!EnsureApplication(error)) return 0;
  const bool hidden = (flags & workbook_flag::kHidden) != 0;
  std::string why;
  AutoValue ignored;
  if (!hidden && !Call(s.application, AutoCall::kPut, "Visible", {true}, ignored, why))
    return Fail(error, "Excel Error: " + why);
  // A workbook that is open already keeps its slot.
  if (Slot* open = SlotOf(path)) {
    if (!Method(open->book, "Activate", {}, why)) return Fail(error, "Excel Error: " + why);
    return static_cast<int>(open - s.slots.data()) + 1;
  }
  Slot* slot = nullptr;
  for (Slot& candidate : s.slots) {
    if (candidate.path.empty()) {
      slot = &candidate;
      break;
    }
  }
  if (!slot) return Fail(error, "Excel Error: All " + std::to_string(kWorkbookSlots) + " workbooks are open");
  const std::optional<AutoObject> books = Get(s.application, "Workbooks", {}, why);
  if (!books) return Fail(error, "Excel Error: Workbooks collection error");
  const bool exists = platform::PathExists(path) && !platform::IsFolder(path);
  const std::optional<AutoObject> book = exists ? Get(*books, "Open", {path}, why) : Get(*books, "Add", {}, why, AutoCall::kMethod);
  if (!book) return Fail(error, "Excel Error: Workbook error");
  *slot = Slot{path.substr(0, kMostPathChars), *book, !exists, {true, hidden, false}};
  if (!Method(*book, "Activate", {}, why)) return Fail(error, "Excel Error: " + why);
  return static_cast<int>(slot - s.slots.data()) + 1;
}

namespace {

// Reads (`put` null, into `text`) or writes a cell's value; a write marks the workbook modified.
bool CellValue(const std::string& path, const std::string& cell, const AutoValue* put, std::string* text,
               std::string& error) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!Ready(error)) return false;
  Slot* slot = OpenSlot(path, error);
  CellTarget target;
  if (!slot || !SelectCell(*slot, cell, target, error)) return false;
  AutoValue value;
  std::string why;
  if (!Call(target.range, put ? AutoCall::kPut : AutoCall::kGet, "Value",
            put ? std::vector<AutoValue>{*put} : std::vector<AutoValue>{}, value, why))
    return Fail(error, "Excel Error: " + why);
  if (put) {
    slot->flags.modified = true;
  } else {
    *text = CellText(value);
  }
  return true;
}

}  // namespace

bool GetCell(const std::string& path, const std::string& cell, const CellProperty* property, std::string& text,
             std::string& error) {
  if (property) return WorkbookOperation(path, cell, workbook_flag::kReadFormat, property, text, error);
  return CellValue(path, cell, nullptr, &text, error);
}

bool SetCell(const std::string& path, const std::string& cell, const AutoValue& value, std::string& error) {
  return CellValue(path, cell, &value, nullptr, error);
}

bool CloseWorkbook(const std::string& path, int flags, std::string& error) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!Ready(error)) return false;
  Slot* slot = OpenSlot(path, error);
  if (!slot) return false;
  const bool save = (flags & workbook_flag::kSave) != 0;
  if (save && !SaveSlot(*slot, error)) return false;
  std::string why;
  if (!Method(slot->book, "Close", {false}, why)) return Fail(error, "Excel Error: " + why);
  *slot = Slot{};
  return true;
}

bool WorkbookOperation(const std::string& path, const std::string& cell, int flags, const CellProperty* property,
                       std::string& text, std::string& error) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!Ready(error)) return false;
  Slot* slot = OpenSlot(path, error);
  if (!slot) return false;
  if (flags & workbook_flag::kSave) return SaveSlot(*slot, error);
  const bool read = (flags & workbook_flag::kReadFormat) != 0, write = (flags & workbook_flag::kWriteFormat) != 0;
  if ((read || write) && !property) return Fail(error, "Excel Error: No cell format property named");
  std::optional<AutoValue> written;
  if (write && !(written = PropertyValue(*property, text, error))) return false;
  CellTarget target;
  if (!SelectCell(*slot, cell, target, error)) return false;
  if (!read && !write) return true;
  std::string why;
  const char* member = nullptr;
  const std::optional<AutoObject> holder = PropertyHolder(*property, target, member, why);
  if (!holder) return Fail(error, "Excel Error: " + why);
  AutoValue value;
  if (!Call(*holder, read ? AutoCall::kGet : AutoCall::kPut, member, read ? std::vector<AutoValue>{}
                                                                        : std::vector<AutoValue>{*written},
            value, why))
    return Fail(error, "Excel Error: " + why);
  if (read) text = PropertyText(*property, value);
  return true;
}

WorkbookRunFlags WorkbookFlags(int slot) {
  if (slot < 0 || slot >= kWorkbookSlots) return {};
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.slots[static_cast<std::size_t>(slot)].flags;
}

void ClearWorkbookFlags() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (Slot& slot : s.slots) slot.flags = {};
}

void EndRunWorkbooks() {
  State& s = state();
  // A worker that is still in a call (a run ended by force) keeps its workbooks.
  std::unique_lock<std::mutex> lock(s.mutex, std::try_to_lock);
  if (!lock.owns_lock()) return;
  // The run may have ended by a stop request: these calls only have their bound.
  platform::automation().SetBounds(kEndOfRunBoundMs, {});
  for (int i = 0; i < kWorkbookSlots; ++i) {
    Slot& slot = s.slots[static_cast<std::size_t>(i)];
    if (slot.flags.modified)
      LogLine("WARNING!  Excel Workbook #%d was modified, but not saved (use \"Save Workbook\" action)", i + 1);
    if (slot.flags.open) LogLine("WARNING!  Excel Workbook #%d was not closed (use \"Close Workbook\" action)", i + 1);
    if (slot.flags.open && slot.flags.hidden) {
      std::string ignored;
      if (slot.book) Method(slot.book, "Close", {false}, ignored);
      LogLine("WARNING!  Excel Workbook #%d was opened hidden, and is being closed automatically", i + 1);
    }
  }
  for (Slot& slot : s.slots) slot = Slot{};
  s.application.reset();
}

void SetAutomationCallBound(int ms) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.bound_ms = ms;
}

}  // namespace olvex
