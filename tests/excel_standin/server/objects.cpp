// The stand-in's object model: the application, its workbooks, their
// worksheets and cells, with the members the Excel actions call. Cell values and
// formats, column widths and row heights live in the server while it runs;
// a file holds only the first worksheet's values (numbers and texts), written
// by the spreadsheet file writer and read back by the raw cell reader.
//
// Every object is one generic IDispatch (Item): its kind and the workbook,
// worksheet or cells it stands for. One table lists the members of every kind
// (kind, name, handler, whether a put is allowed); a member's DISPID is its
// place in the table plus one. GetIDsOfNames finds a name of the object's kind
// ignoring case; Invoke hands the call to the handler, which answers through
// `Call` and fails by throwing `Fault`.
#include "tests/excel_standin/server/objects.h"

#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "documents/spreadsheet_reader.h"
#include "documents/spreadsheet_writer.h"
#include "engine/text.h"
#include "platform/files.h"

namespace standin {
namespace {

using olvex::EqualsNoCase;

// A failed call: DISP_E_EXCEPTION with a description, or another result code.
struct Fault {
  HRESULT code;
  std::string description;
};
[[noreturn]] void Fail(std::string description) { throw Fault{DISP_E_EXCEPTION, std::move(description)}; }

std::string Narrow(const wchar_t* text, int length = -1) {
  if (!text) return "";
  const int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), n, nullptr, nullptr);
  if (length < 0 && !out.empty()) out.pop_back();  // the terminating zero
  return out;
}

BSTR NewBstr(std::string_view text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  if (out && n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out, n);
  return out;
}

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

// ---- cells

enum class CountBy { kCells, kRows, kColumns };

struct Area {
  std::shared_ptr<Workbook> book;  // keeps the sheet alive
  Sheet* sheet = nullptr;
  int top = 0, left = 0, bottom = 0, right = 0;
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

// "B3" or "$B$3" (letters in either case) as its row and column.
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

// ---- a call: its arguments (from 0; kPut for the put value) and its result

class Call {
 public:
  static constexpr int kPut = -1;
  Call(bool put, DISPPARAMS* params, VARIANT* result, UINT* arg_error)
      : put_(put), params_(params), result_(result), arg_error_(arg_error) {}

  bool IsPut() const { return put_; }
  // Argument `i` with VT_BYREF taken away (the caller clears it); fails unless it was given.
  VARIANT Plain(int i) const {
    const unsigned count = params_->cArgs - (put_ ? 1 : 0);
    const VARIANT* arg = i == kPut ? &params_->rgvarg[0]
                         : static_cast<unsigned>(i) < count ? &params_->rgvarg[params_->cArgs - 1 - static_cast<unsigned>(i)]
                                                            : nullptr;
    if (!arg || (V_VT(arg) == VT_ERROR && V_ERROR(arg) == DISP_E_PARAMNOTFOUND))
      Fail("argument " + std::to_string(i + 1) + " is missing");
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantCopyInd(&v, const_cast<VARIANT*>(arg)))) throw Fault{DISP_E_TYPEMISMATCH, ""};
    return v;
  }
  // Argument `i` coerced; a failure is DISP_E_TYPEMISMATCH.
  std::string Text(int i) const {
    VARIANT v = Coerced(i, VT_BSTR);
    std::string text = Narrow(V_BSTR(&v), static_cast<int>(SysStringLen(V_BSTR(&v))));
    VariantClear(&v);
    return text;
  }
  long Long(int i) const { return Coerced(i, VT_I4).lVal; }
  double Double(int i) const { return Coerced(i, VT_R8).dblVal; }
  bool Bool(int i) const { return Coerced(i, VT_BOOL).boolVal != VARIANT_FALSE; }
  template <class V>
  V As(int i) const {
    if constexpr (std::is_same_v<V, bool>) return Bool(i);
    else if constexpr (std::is_same_v<V, long>) return Long(i);
    else if constexpr (std::is_same_v<V, double>) return Double(i);
    else return Text(i);
  }

  void Return(long v) { Set(VT_I4).lVal = v; }
  void Return(double v) { Set(VT_R8).dblVal = v; }
  void Return(bool v) { Set(VT_BOOL).boolVal = v ? VARIANT_TRUE : VARIANT_FALSE; }
  void Return(std::string_view v) { Set(VT_BSTR).bstrVal = NewBstr(v); }
  // Takes over the reference of `object`.
  void Return(IDispatch* object) {
    if (!result_) {
      object->Release();
      return;
    }
    Set(VT_DISPATCH).pdispVal = object;
  }

 private:
  VARIANT& Set(VARTYPE type) {
    static VARIANT ignored;
    VARIANT& v = result_ ? *result_ : ignored;
    VariantClear(&v);
    V_VT(&v) = type;
    return v;
  }
  VARIANT Coerced(int i, VARTYPE type) const {
    VARIANT v = Plain(i);
    if (FAILED(VariantChangeType(&v, &v, 0, type))) {
      VariantClear(&v);
      if (arg_error_) *arg_error_ = i == kPut ? 0 : params_->cArgs - 1 - static_cast<unsigned>(i);
      throw Fault{DISP_E_TYPEMISMATCH, ""};
    }
    return v;
  }

  bool put_;
  DISPPARAMS* params_;
  VARIANT* result_;
  UINT* arg_error_;
};

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

// ---- the generic object

enum class Kind { kApplication, kWorkbooks, kWorkbook, kWorksheets, kWorksheet, kRange, kFont, kInterior, kBorders };

class Item;
struct Member {
  Kind kind;
  const wchar_t* name;
  void (*handler)(Item&, Call&);
  bool settable = false;
};
std::span<const Member> Members();

class Item : public IDispatch {
 public:
  Item(Kind k, Area a) : kind(k), area(std::move(a)) { ServerAddRef(); }
  Item(const Item&) = delete;
  Item& operator=(const Item&) = delete;
  virtual ~Item() { ServerRelease(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT n = 0; n < count; ++n) ids[n] = DISPID_UNKNOWN;
    const std::span<const Member> members = Members();
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (members[i].kind == kind && names[0] && lstrcmpiW(names[0], members[i].name) == 0)
        ids[0] = static_cast<DISPID>(i + 1);
    }
    // Named arguments are not known either.
    return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* info, UINT* arg_error) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const std::span<const Member> members = Members();
    if (id < 1 || static_cast<std::size_t>(id) > members.size() || members[static_cast<std::size_t>(id) - 1].kind != kind)
      return DISP_E_MEMBERNOTFOUND;
    const Member& member = members[static_cast<std::size_t>(id) - 1];
    static DISPPARAMS no_params{};
    if (!params) params = &no_params;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (put && !member.settable) return DISP_E_MEMBERNOTFOUND;
    if (put && (params->cArgs == 0 || params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
      return DISP_E_PARAMNOTOPTIONAL;
    if (!put && params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    HangIfAsked(Narrow(member.name));
    if (result) VariantInit(result);
    Call call(put, params, result, arg_error);
    try {
      member.handler(*this, call);
      return S_OK;
    } catch (const Fault& fault) {
      if (result) VariantClear(result);
      if (fault.code == DISP_E_EXCEPTION && info) {
        *info = EXCEPINFO{};
        info->bstrSource = NewBstr("Excel stand-in");
        info->bstrDescription = NewBstr(Narrow(member.name) + ": " + fault.description);
        info->scode = E_FAIL;
      }
      return fault.code;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  const Kind kind;
  const Area area;  // the workbook, worksheet and cells the object stands for, as far as its kind has them

 private:
  std::atomic<ULONG> refs_{1};
};

IDispatch* New(Kind kind, Area area = {}) { return new Item(kind, std::move(area)); }

IDispatch* NewWorksheet(const std::shared_ptr<Workbook>& book, std::size_t index) {
  return New(Kind::kWorksheet, {book, book->sheets[index].get()});
}

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

// ---- the members

// A format field, read from the first cell and written to every cell.
template <auto field>
void FormatMember(Item& self, Call& call) {
  using V = std::remove_cvref_t<decltype(std::declval<Format&>().*field)>;
  if (!call.IsPut()) return call.Return(self.area.First().format.*field);
  const V value = call.As<V>(Call::kPut);
  self.area.SetFormat([&](Format& f) { f.*field = value; });
}

template <Kind kind>
void Sub(Item& self, Call& call) {
  call.Return(New(kind, self.area));
}

void Visible(Item&, Call& call) {
  if (call.IsPut()) app.visible = call.Bool(Call::kPut);
  else call.Return(app.visible);
}

void ActiveSheet(Item&, Call& call) {
  if (!app.active) Fail("no workbook is open");
  call.Return(NewWorksheet(app.active, app.active->active_sheet));
}

void Save(Item& self, Call&) {
  if (self.area.book->path.empty()) Fail("no file name: the workbook was never saved (use SaveAs)");
  SaveTo(*self.area.book, self.area.book->path);
}

// Closes without saving (the actions save first).
void Close(Item& self, Call&) {
  std::erase(app.books, self.area.book);
  if (app.active == self.area.book) app.active = app.books.empty() ? nullptr : app.books.back();
}

// A worksheet by its name, in any case.
void WorksheetItem(Item& self, Call& call) {
  const std::string name = call.Text(0);
  const auto& sheets = self.area.book->sheets;
  for (std::size_t k = 0; k < sheets.size(); ++k)
    if (EqualsNoCase(sheets[k]->name, name)) return call.Return(NewWorksheet(self.area.book, k));
  Fail("there is no worksheet named '" + name + "'");
}

// Activating a worksheet activates its workbook too.
void ActivateSheet(Item& self, Call&) {
  const auto& sheets = self.area.book->sheets;
  self.area.book->active_sheet = static_cast<std::size_t>(
      std::find_if(sheets.begin(), sheets.end(), [&](const auto& s) { return s.get() == self.area.sheet; }) -
      sheets.begin());
  app.active = self.area.book;
}

void Range(Item& self, Call& call) {
  const std::string ref = call.Text(0);
  const std::size_t colon = ref.find(':');
  int top, left, bottom, right;
  if (!ParseCell(ref.substr(0, colon), top, left) ||
      !ParseCell(colon == std::string::npos ? ref : ref.substr(colon + 1), bottom, right))
    Fail("'" + ref + "' is not a cell or range reference");
  call.Return(New(Kind::kRange, {self.area.book, self.area.sheet, std::min(top, bottom), std::min(left, right),
                                 std::max(top, bottom), std::max(left, right)}));
}

// From A1 to the last row and column holding a value or a set format.
void UsedRange(Item& self, Call& call) {
  int bottom = 1, right = 1;
  for (const auto& [at, cell] : self.area.sheet->cells) {
    if (cell.value.index() == 0 && !cell.formatted) continue;
    bottom = std::max(bottom, at.first);
    right = std::max(right, at.second);
  }
  call.Return(New(Kind::kRange, {self.area.book, self.area.sheet, 1, 1, bottom, right}));
}

// Select needs the range's worksheet to be the active one, as in the application.
void Select(Item& self, Call&) {
  if (app.active != self.area.book || self.area.book->sheets[self.area.book->active_sheet].get() != self.area.sheet)
    Fail("the range's worksheet is not the active worksheet");
}

void CellValue(Item& self, Call& call) {
  if (call.IsPut()) {
    const Value value = ValueOf(call, Call::kPut);
    self.area.ForEachCell([&](Cell& cell) { cell.value = value; });
    return;
  }
  const Value& value = self.area.First().value;
  if (const double* n = std::get_if<double>(&value)) call.Return(*n);
  else if (const std::string* t = std::get_if<std::string>(&value)) call.Return(std::string_view(*t));
}

// Column widths and row heights belong to the columns and rows the range covers.
template <bool columns>
void Size(Item& self, Call& call) {
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
void Lines(Item& self, Call& call) {
  Area lines = self.area;
  lines.by = by;
  call.Return(New(Kind::kRange, std::move(lines)));
}

void Count(Item& self, Call& call) {
  const Area& a = self.area;
  const long rows = a.bottom - a.top + 1, columns = a.right - a.left + 1;
  call.Return(a.by == CountBy::kRows ? rows : a.by == CountBy::kColumns ? columns : rows * columns);
}

std::span<const Member> Members() {
  using enum Kind;
  static const Member members[] = {
      {kApplication, L"Visible", Visible, true},
      {kApplication, L"Workbooks", Sub<kWorkbooks>},
      {kApplication, L"ActiveSheet", ActiveSheet},
      {kWorkbooks, L"Open", [](Item&, Call& call) { call.Return(New(kWorkbook, {OpenWorkbook(call.Text(0))})); }},
      {kWorkbooks, L"Add", [](Item&, Call& call) { call.Return(New(kWorkbook, {NewWorkbook()})); }},
      {kWorkbook, L"Activate", [](Item& self, Call&) { app.active = self.area.book; }},
      {kWorkbook, L"Save", Save},
      {kWorkbook, L"SaveAs", [](Item& self, Call& call) { SaveTo(*self.area.book, FullPath(call.Text(0))); }},
      {kWorkbook, L"Close", Close},
      {kWorkbook, L"Worksheets", Sub<kWorksheets>},
      {kWorksheets, L"Item", WorksheetItem},
      {kWorksheet, L"Activate", ActivateSheet},
      {kWorksheet, L"Range", Range},
      {kWorksheet, L"UsedRange", UsedRange},
      {kRange, L"Select", Select},
      {kRange, L"Value", CellValue, true},
      {kRange, L"NumberFormat", FormatMember<&Format::number_format>, true},
      {kRange, L"Font", Sub<kFont>},
      {kRange, L"Interior", Sub<kInterior>},
      {kRange, L"Borders", Sub<kBorders>},
      {kRange, L"HorizontalAlignment", FormatMember<&Format::horizontal>, true},
      {kRange, L"VerticalAlignment", FormatMember<&Format::vertical>, true},
      {kRange, L"ColumnWidth", Size<true>, true},
      {kRange, L"RowHeight", Size<false>, true},
      {kRange, L"Rows", Lines<CountBy::kRows>},
      {kRange, L"Columns", Lines<CountBy::kColumns>},
      {kRange, L"Count", Count},
      {kFont, L"Bold", FormatMember<&Format::bold>, true},
      {kFont, L"Italic", FormatMember<&Format::italic>, true},
      {kFont, L"Underline", FormatMember<&Format::underline>, true},
      {kFont, L"Name", FormatMember<&Format::font_name>, true},
      {kFont, L"Size", FormatMember<&Format::font_size>, true},
      {kFont, L"Color", FormatMember<&Format::font_colour>, true},
      {kInterior, L"Color", FormatMember<&Format::background>, true},
      {kBorders, L"Weight", FormatMember<&Format::border_weight>, true},
      {kBorders, L"LineStyle", FormatMember<&Format::border_style>, true},
  };
  return members;
}

}  // namespace

IDispatch* NewApplicationObject() { return New(Kind::kApplication); }

}  // namespace standin
