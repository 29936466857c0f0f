// The stand-in's object model: the application, its workbooks, their
// worksheets and cells, with the members the Excel actions call. Cell values and
// formats, column widths and row heights live in the server while it runs;
// a file holds only the first worksheet's values (numbers and texts), written
// by the spreadsheet file writer and read back by the raw cell reader.
#include "tests/excel_standin/server/objects.h"

#include <algorithm>
#include <map>
#include <memory>
#include <variant>
#include <vector>

#include "documents/spreadsheet_reader.h"
#include "documents/spreadsheet_writer.h"
#include "engine/text.h"
#include "platform/files.h"
#include "tests/excel_standin/server/dispatch.h"

namespace standin {
namespace {

using olvex::EqualsNoCase;

// Values of the spreadsheet application's constants.
constexpr long kAlignGeneral = 1, kUnderlineNone = -4142, kLineNone = -4142, kThin = 2;
constexpr double kWhite = 16777215, kStandardWidth = 8.43, kStandardHeight = 15;
constexpr long long kMaxPutCells = 1'000'000;

struct Format {
  std::string number_format = "General";
  bool bold = false, italic = false;
  long underline = kUnderlineNone;
  std::string font_name = "Arial";
  double font_size = 10, font_colour = 0, background = kWhite;
  long border_weight = kThin, border_style = kLineNone;
  long horizontal = kAlignGeneral, vertical = kAlignGeneral;
};

// Empty, a number or a text. A boolean is kept as the text the application shows ("TRUE").
using Value = std::variant<std::monostate, double, std::string>;

struct Cell {
  Value value;
  Format format;
  bool formatted = false;  // a format was set: the cell counts for UsedRange
};

struct Workbook;

struct Sheet {
  std::string name;
  Workbook* book = nullptr;
  std::map<std::pair<int, int>, Cell> cells;  // (row, column) from 1
  std::map<int, double> widths, heights;
};

struct Workbook {
  std::string path;  // empty until saved or opened
  std::vector<std::unique_ptr<Sheet>> sheets;
  std::size_t active_sheet = 0;
};

struct Application {
  bool visible = false;
  std::vector<std::shared_ptr<Workbook>> books;
  std::shared_ptr<Workbook> active;
};
Application app;

std::shared_ptr<Workbook> NewWorkbook() {
  auto book = std::make_shared<Workbook>();
  for (int i = 1; i <= 3; ++i) {
    book->sheets.push_back(std::make_unique<Sheet>());
    book->sheets.back()->name = "Sheet" + std::to_string(i);
    book->sheets.back()->book = book.get();
  }
  app.books.push_back(book);
  app.active = book;
  return book;
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return n == 0 || n >= sizeof full ? path : std::string(full, n);
}

void SaveTo(Workbook& book, const std::string& path) {
  std::vector<olvex::SheetValue> values;
  for (const auto& [at, cell] : book.sheets[0]->cells) {
    if (const double* n = std::get_if<double>(&cell.value))
      values.push_back({at.first - 1, at.second - 1, true, *n, {}});
    else if (const std::string* t = std::get_if<std::string>(&cell.value))
      values.push_back({at.first - 1, at.second - 1, false, 0, *t});
  }
  std::string error;
  if (!olvex::WriteSpreadsheetValues(path, values, error)) Fail(error);
  book.path = path;
}

// ---- ranges

enum class CountBy { kCells, kRows, kColumns };

struct Area {
  std::shared_ptr<Workbook> book;  // keeps the sheet alive
  Sheet* sheet;
  int top, left, bottom, right;
  CountBy by = CountBy::kCells;

  // A put reaches each cell; the cells of a whole worksheet would not fit in memory.
  template <class F>
  void ForEachCell(F f) const {
    if (static_cast<long long>(bottom - top + 1) * (right - left + 1) > kMaxPutCells)
      Fail("a put on more than " + std::to_string(kMaxPutCells) + " cells is not supported");
    for (int r = top; r <= bottom; ++r)
      for (int c = left; c <= right; ++c) f(sheet->cells[{r, c}]);
  }
  const Cell& First() const {
    static const Cell empty;
    const auto found = sheet->cells.find({top, left});
    return found == sheet->cells.end() ? empty : found->second;
  }
  template <class F>
  void SetFormat(F f) const {
    ForEachCell([&](Cell& cell) {
      f(cell.format);
      cell.formatted = true;
    });
  }
};

// "B3", "$B$3" or "A1:C4" (letters in either case) as an area of `sheet`.
bool ParseCell(std::string_view text, int& row, int& column) {
  std::size_t i = 0;
  row = column = 0;
  if (i < text.size() && text[i] == '$') ++i;
  int letters = 0;
  for (; i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])); ++i, ++letters)
    column = column * 26 + (olvex::AsciiLower(text[i]) - 'a' + 1);
  if (i < text.size() && text[i] == '$') ++i;
  int digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 6; ++i, ++digits) row = row * 10 + (text[i] - '0');
  return i == text.size() && letters >= 1 && letters <= 2 && digits >= 1 && row >= 1 && row <= olvex::kSheetRows &&
         column <= olvex::kSheetColumns;
}

// ---- reading arguments

template <class V>
V ArgAs(const Call& call, int i) {
  if constexpr (std::is_same_v<V, bool>) return call.Bool(i);
  else if constexpr (std::is_same_v<V, long>) return call.Long(i);
  else if constexpr (std::is_same_v<V, double>) return call.Double(i);
  else return call.Text(i);
}

// A cell value from a VARIANT: empty, a text, TRUE/FALSE, else a number.
Value ValueOf(const Call& call, int i) {
  VARIANT v = call.Plain(i);
  Value value;
  switch (V_VT(&v)) {
    case VT_EMPTY:
    case VT_NULL:
      break;
    case VT_BSTR:
      if (SysStringLen(V_BSTR(&v)) > 0) value = Narrow(V_BSTR(&v), static_cast<int>(SysStringLen(V_BSTR(&v))));
      break;
    case VT_BOOL:
      value = std::string(V_BOOL(&v) ? "TRUE" : "FALSE");
      break;
    default:
      value = call.Double(i);
      break;
  }
  VariantClear(&v);
  return value;
}

IDispatch* NewRange(Area area);

// ---- Font, Interior and Borders: the format fields of a range's cells

template <int Kind>
class Part : public Object<Part<Kind>> {
 public:
  explicit Part(Area a) : area(std::move(a)) {}
  Area area;
  static std::span<const Member<Part>> Members();
};
using FontObject = Part<0>;
using InteriorObject = Part<1>;
using BordersObject = Part<2>;

// A format field read from the first cell and written to every cell.
template <class T, auto field>
void FormatMember(T& self, Call& call) {
  using V = std::remove_cvref_t<decltype(std::declval<Format&>().*field)>;
  if (!call.IsPut()) return call.Return(self.area.First().format.*field);
  const V value = ArgAs<V>(call, Call::kPut);
  self.area.SetFormat([&](Format& f) { f.*field = value; });
}

template <>
std::span<const Member<FontObject>> FontObject::Members() {
  static const Member<FontObject> members[] = {
      {L"Bold", FormatMember<FontObject, &Format::bold>, true},
      {L"Italic", FormatMember<FontObject, &Format::italic>, true},
      {L"Underline", FormatMember<FontObject, &Format::underline>, true},
      {L"Name", FormatMember<FontObject, &Format::font_name>, true},
      {L"Size", FormatMember<FontObject, &Format::font_size>, true},
      {L"Color", FormatMember<FontObject, &Format::font_colour>, true},
  };
  return members;
}
template <>
std::span<const Member<InteriorObject>> InteriorObject::Members() {
  static const Member<InteriorObject> members[] = {
      {L"Color", FormatMember<InteriorObject, &Format::background>, true},
  };
  return members;
}
template <>
std::span<const Member<BordersObject>> BordersObject::Members() {
  static const Member<BordersObject> members[] = {
      {L"Weight", FormatMember<BordersObject, &Format::border_weight>, true},
      {L"LineStyle", FormatMember<BordersObject, &Format::border_style>, true},
  };
  return members;
}

// ---- Range

class RangeObject : public Object<RangeObject> {
 public:
  explicit RangeObject(Area a) : area(std::move(a)) {}
  Area area;

  // Select needs the range's worksheet to be the active one, as in the application.
  static void Select(RangeObject& self, Call&) {
    if (app.active.get() != self.area.sheet->book ||
        self.area.book->sheets[self.area.book->active_sheet].get() != self.area.sheet)
      Fail("the range's worksheet is not the active worksheet");
  }
  static void Value(RangeObject& self, Call& call) {
    if (call.IsPut()) {
      const standin::Value value = ValueOf(call, Call::kPut);
      self.area.ForEachCell([&](Cell& cell) { cell.value = value; });
      return;
    }
    const standin::Value& value = self.area.First().value;
    if (const double* n = std::get_if<double>(&value)) call.Return(*n);
    else if (const std::string* t = std::get_if<std::string>(&value)) call.Return(std::string_view(*t));
  }
  template <class T>
  static void Sub(RangeObject& self, Call& call) {
    call.Return(static_cast<IDispatch*>(new T(self.area)));
  }
  // Column widths and row heights belong to the columns and rows the range covers.
  template <bool columns>
  static void Size(RangeObject& self, Call& call) {
    std::map<int, double>& sizes = columns ? self.area.sheet->widths : self.area.sheet->heights;
    const int from = columns ? self.area.left : self.area.top, to = columns ? self.area.right : self.area.bottom;
    if (!call.IsPut()) {
      const auto found = sizes.find(from);
      return call.Return(found != sizes.end() ? found->second : columns ? kStandardWidth : kStandardHeight);
    }
    const double size = call.Double(Call::kPut);
    if (size < 0 || size > (columns ? 255 : 409)) Fail("the size " + std::to_string(size) + " is out of range");
    for (int i = from; i <= to; ++i) sizes[i] = size;
  }
  template <CountBy by>
  static void Lines(RangeObject& self, Call& call) {
    Area lines = self.area;
    lines.by = by;
    call.Return(NewRange(std::move(lines)));
  }
  static void Count(RangeObject& self, Call& call) {
    const Area& a = self.area;
    const long rows = a.bottom - a.top + 1, columns = a.right - a.left + 1;
    call.Return(a.by == CountBy::kRows ? rows : a.by == CountBy::kColumns ? columns : rows * columns);
  }

  static std::span<const Member<RangeObject>> Members() {
    static const Member<RangeObject> members[] = {
        {L"Select", Select},
        {L"Value", Value, true},
        {L"NumberFormat", FormatMember<RangeObject, &Format::number_format>, true},
        {L"Font", Sub<FontObject>},
        {L"Interior", Sub<InteriorObject>},
        {L"Borders", Sub<BordersObject>},
        {L"HorizontalAlignment", FormatMember<RangeObject, &Format::horizontal>, true},
        {L"VerticalAlignment", FormatMember<RangeObject, &Format::vertical>, true},
        {L"ColumnWidth", Size<true>, true},
        {L"RowHeight", Size<false>, true},
        {L"Rows", Lines<CountBy::kRows>},
        {L"Columns", Lines<CountBy::kColumns>},
        {L"Count", Count},
    };
    return members;
  }
};

IDispatch* NewRange(Area area) { return new RangeObject(std::move(area)); }

// ---- Worksheet and Worksheets

class WorksheetObject : public Object<WorksheetObject> {
 public:
  WorksheetObject(std::shared_ptr<Workbook> b, Sheet* s) : book(std::move(b)), sheet(s) {}
  std::shared_ptr<Workbook> book;
  Sheet* sheet;

  // Activating a worksheet activates its workbook too.
  static void Activate(WorksheetObject& self, Call&) {
    const auto& sheets = self.book->sheets;
    self.book->active_sheet = static_cast<std::size_t>(
        std::find_if(sheets.begin(), sheets.end(), [&](const auto& s) { return s.get() == self.sheet; }) -
        sheets.begin());
    app.active = self.book;
  }
  static void Range(WorksheetObject& self, Call& call) {
    call.Need(0);
    const std::string ref = call.Text(0);
    const std::size_t colon = ref.find(':');
    int top, left, bottom, right;
    if (!ParseCell(ref.substr(0, colon), top, left) ||
        !ParseCell(colon == std::string::npos ? ref : ref.substr(colon + 1), bottom, right))
      Fail("'" + ref + "' is not a cell or range reference");
    call.Return(NewRange({self.book, self.sheet, std::min(top, bottom), std::min(left, right), std::max(top, bottom),
                          std::max(left, right)}));
  }
  // From A1 to the last row and column holding a value or a set format.
  static void UsedRange(WorksheetObject& self, Call& call) {
    int bottom = 1, right = 1;
    for (const auto& [at, cell] : self.sheet->cells) {
      if (cell.value.index() == 0 && !cell.formatted) continue;
      bottom = std::max(bottom, at.first);
      right = std::max(right, at.second);
    }
    call.Return(NewRange({self.book, self.sheet, 1, 1, bottom, right}));
  }

  static std::span<const Member<WorksheetObject>> Members() {
    static const Member<WorksheetObject> members[] = {
        {L"Activate", Activate},
        {L"Range", Range},
        {L"UsedRange", UsedRange},
    };
    return members;
  }
};

IDispatch* NewWorksheet(const std::shared_ptr<Workbook>& book, std::size_t index) {
  return new WorksheetObject(book, book->sheets[index].get());
}

class WorksheetsObject : public Object<WorksheetsObject> {
 public:
  explicit WorksheetsObject(std::shared_ptr<Workbook> b) : book(std::move(b)) {}
  std::shared_ptr<Workbook> book;

  // A worksheet by its name, in any case.
  static void Item(WorksheetsObject& self, Call& call) {
    call.Need(0);
    const std::string name = call.Text(0);
    const auto& sheets = self.book->sheets;
    for (std::size_t k = 0; k < sheets.size(); ++k)
      if (EqualsNoCase(sheets[k]->name, name)) return call.Return(NewWorksheet(self.book, k));
    Fail("there is no worksheet named '" + name + "'");
  }
  static std::span<const Member<WorksheetsObject>> Members() {
    static const Member<WorksheetsObject> members[] = {
        {L"Item", Item},
    };
    return members;
  }
};

// ---- Workbook and Workbooks

class WorkbookObject : public Object<WorkbookObject> {
 public:
  explicit WorkbookObject(std::shared_ptr<Workbook> b) : book(std::move(b)) {}
  std::shared_ptr<Workbook> book;

  static void Save(WorkbookObject& self, Call&) {
    if (self.book->path.empty()) Fail("no file name: the workbook was never saved (use SaveAs)");
    SaveTo(*self.book, self.book->path);
  }
  static void SaveAs(WorkbookObject& self, Call& call) {
    call.Need(0);
    SaveTo(*self.book, FullPath(call.Text(0)));
  }
  // Closes without saving (the actions save first).
  static void Close(WorkbookObject& self, Call&) {
    std::erase(app.books, self.book);
    if (app.active == self.book) app.active = app.books.empty() ? nullptr : app.books.back();
  }

  static std::span<const Member<WorkbookObject>> Members() {
    static const Member<WorkbookObject> members[] = {
        {L"Activate", [](WorkbookObject& self, Call&) { app.active = self.book; }},
        {L"Save", Save},
        {L"SaveAs", SaveAs},
        {L"Close", Close},
        {L"Worksheets",
         [](WorkbookObject& self, Call& call) { call.Return(static_cast<IDispatch*>(new WorksheetsObject(self.book))); }},
    };
    return members;
  }
};

// A file's first worksheet becomes Sheet1 of a workbook shaped like an added one.
std::shared_ptr<Workbook> OpenWorkbook(const std::string& path) {
  const std::string full = FullPath(path);
  for (const auto& book : app.books) {
    if (EqualsNoCase(book->path, full)) {
      app.active = book;
      return book;
    }
  }
  const platform::FileContent file = platform::ReadWholeFile(full, 256ull << 20);
  if (file.status == platform::ReadStatus::NotFound) Fail("'" + full + "' could not be found");
  if (file.status != platform::ReadStatus::Ok) Fail("'" + full + "' cannot be read");
  std::shared_ptr<Workbook> book = NewWorkbook();
  book->path = full;
  for (olvex::RawSheetCell& raw : olvex::ReadRawCells(file.data, 1)) {
    Cell& cell = book->sheets[0]->cells[{raw.row, raw.column}];
    if (raw.cell.is_number) cell.value = raw.cell.number;
    else if (!raw.cell.text.empty()) cell.value = std::move(raw.cell.text);
  }
  return book;
}

class WorkbooksObject : public Object<WorkbooksObject> {
 public:
  static std::span<const Member<WorkbooksObject>> Members() {
    static const Member<WorkbooksObject> members[] = {
        {L"Open",
         [](WorkbooksObject&, Call& call) {
           call.Need(0);
           call.Return(static_cast<IDispatch*>(new WorkbookObject(OpenWorkbook(call.Text(0)))));
         }},
        {L"Add", [](WorkbooksObject&, Call& call) { call.Return(static_cast<IDispatch*>(new WorkbookObject(NewWorkbook()))); }},
    };
    return members;
  }
};

// ---- Application

class ApplicationObject : public Object<ApplicationObject> {
 public:
  static std::span<const Member<ApplicationObject>> Members() {
    static const Member<ApplicationObject> members[] = {
        {L"Visible",
         [](ApplicationObject&, Call& call) {
           if (call.IsPut()) app.visible = call.Bool(Call::kPut);
           else call.Return(app.visible);
         },
         true},
        {L"Workbooks", [](ApplicationObject&, Call& call) { call.Return(static_cast<IDispatch*>(new WorkbooksObject)); }},
        {L"ActiveSheet",
         [](ApplicationObject&, Call& call) {
           if (!app.active) Fail("no workbook is open");
           call.Return(NewWorksheet(app.active, app.active->active_sheet));
         }},
    };
    return members;
  }
};

}  // namespace

IDispatch* NewApplicationObject() { return new ApplicationObject; }

}  // namespace standin
