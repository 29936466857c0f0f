// The Excel stand-in driven across processes by a bare client: the
// application created by its ProgID, every member called by name through
// IDispatch once, the saved file read back by the raw cell reader; the server
// ends when released, and when its client dies.
#include <gtest/gtest.h>
#include <objbase.h>
#include <oleauto.h>
#include <tlhelp32.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "documents/spreadsheet_reader.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

struct ComSession {
  ComSession() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~ComSession() { CoUninitialize(); }
};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

struct Ref {
  long value;
};
using Arg = std::variant<long, double, const char*, bool, Ref>;

// One late-bound call; the result rendered as "I4 3", "R8 8.43", "S text",
// "B 1", "E" (empty), "D" (an object, kept in `object`) or "X <hresult>".
std::string CallMember(IDispatch* on, const std::string& member, WORD how, const std::vector<Arg>& args,
                       IDispatch** object = nullptr) {
  std::wstring name = Wide(member);
  LPOLESTR names[] = {name.data()};
  DISPID id;
  HRESULT hr = on->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  char text[64];
  if (FAILED(hr)) return std::snprintf(text, sizeof text, "X %08lX", static_cast<unsigned long>(hr)), text;
  std::vector<VARIANT> v(args.size());
  long ref_target = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    VARIANT& a = v[args.size() - 1 - i];  // the last argument first
    VariantInit(&a);
    if (auto* l = std::get_if<long>(&args[i])) V_VT(&a) = VT_I4, V_I4(&a) = *l;
    if (auto* d = std::get_if<double>(&args[i])) V_VT(&a) = VT_R8, V_R8(&a) = *d;
    if (auto* s = std::get_if<const char*>(&args[i])) V_VT(&a) = VT_BSTR, V_BSTR(&a) = SysAllocString(Wide(*s).c_str());
    if (auto* b = std::get_if<bool>(&args[i])) V_VT(&a) = VT_BOOL, V_BOOL(&a) = *b ? VARIANT_TRUE : VARIANT_FALSE;
    if (auto* r = std::get_if<Ref>(&args[i])) ref_target = r->value, V_VT(&a) = VT_BYREF | VT_I4, V_I4REF(&a) = &ref_target;
  }
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{v.data(), how == DISPATCH_PROPERTYPUT ? &put_id : nullptr, static_cast<UINT>(v.size()),
                    how == DISPATCH_PROPERTYPUT ? 1u : 0u};
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO info{};
  hr = on->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, how, &params, &result, &info, nullptr);
  for (VARIANT& a : v) VariantClear(&a);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  std::string shown;
  if (FAILED(hr)) {
    std::snprintf(text, sizeof text, "X %08lX", static_cast<unsigned long>(hr));
    shown = text;
  } else if (V_VT(&result) == VT_I4) {
    shown = "I4 " + std::to_string(V_I4(&result));
  } else if (V_VT(&result) == VT_R8) {
    std::snprintf(text, sizeof text, "R8 %.15g", V_R8(&result));
    shown = text;
  } else if (V_VT(&result) == VT_BSTR) {
    const std::wstring w(V_BSTR(&result), SysStringLen(V_BSTR(&result)));
    shown = "S " + std::string(w.begin(), w.end());
  } else if (V_VT(&result) == VT_BOOL) {
    shown = V_BOOL(&result) ? "B 1" : "B 0";
  } else if (V_VT(&result) == VT_EMPTY) {
    shown = "E";
  } else if (V_VT(&result) == VT_DISPATCH) {
    shown = "D";
    if (object && V_DISPATCH(&result)) V_DISPATCH(&result)->AddRef(), *object = V_DISPATCH(&result);
  } else {
    shown = "vt " + std::to_string(V_VT(&result));
  }
  VariantClear(&result);
  return shown;
}

IDispatch* CreateApplication(HRESULT& hr) {
  CLSID clsid;
  IDispatch* app = nullptr;
  hr = CLSIDFromProgID(L"Excel.Application", &clsid);
  if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&app));
  return app;
}

constexpr WORD kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT, kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

struct Row {
  const char* on;      // an object kept by an earlier row ("app": the application)
  const char* member;  // called by name
  WORD how;
  std::vector<Arg> args;
  std::string expect;     // the rendered result
  const char* keep = "";  // a name for the object returned
};

std::string TempPath(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

// Every member of every object kind, once, in one session with the server.
TEST(Standin, EveryMemberAcrossProcesses) {
  ComSession com;
  const std::string saved = TempPath("standin_saved.xls"), missing = TempPath("standin_missing.xls");
  std::filesystem::remove(saved);
  std::filesystem::remove(missing);
  const std::vector<Row> rows = {
      {"app", "Visible", kPut, {true}, "E"},
      {"app", "VISIBLE", kGet, {}, "B 1"},
      {"app", "ActiveWorkbook", kGet, {}, "X 80020009"},
      {"app", "Workbooks", kGet, {}, "D", "books"},
      {"books", "Add", kCall, {}, "D", "book"},
      {"books", "Count", kGet, {}, "I4 1"},
      {"books", "Item", kCall, {"book1"}, "D"},
      {"books", "Item", kCall, {2L}, "X 80020009"},
      {"app", "ActiveWorkbook", kGet, {}, "D", "active"},
      {"active", "Name", kGet, {}, "S Book1"},
      {"book", "FullName", kGet, {}, "S Book1"},
      {"book", "Save", kCall, {}, "X 80020009"},
      {"app", "ActiveSheet", kGet, {}, "D", "sheet1"},
      {"book", "Worksheets", kGet, {}, "D", "sheets"},
      {"sheets", "Count", kGet, {}, "I4 3"},
      {"sheets", "Item", kCall, {"SHEET2"}, "D", "sheet2"},
      {"sheets", "Item", kCall, {4L}, "X 80020009"},
      {"book", "Worksheets", kCall, {3.0}, "D", "sheet3"},
      {"sheet3", "Name", kGet, {}, "S Sheet3"},
      // Selecting needs the worksheet to be the active one.
      {"sheet2", "Range", kCall, {"c4"}, "D", "c4"},
      {"c4", "Select", kCall, {}, "X 80020009"},
      {"sheet2", "Activate", kCall, {}, "E"},
      {"book", "ActiveSheet", kGet, {}, "D", "active_sheet"},
      {"active_sheet", "Name", kGet, {}, "S Sheet2"},
      {"c4", "Select", kCall, {}, "E"},
      {"sheet1", "Select", kCall, {}, "E"},
      {"c4", "Activate", kCall, {}, "X 80020009"},
      {"c4", "Value", kPut, {3.5}, "E"},
      {"c4", "Value", kGet, {}, "R8 3.5"},
      // Values: numbers, texts, booleans as the shown text, by reference, emptied.
      {"sheet1", "Cells", kCall, {2L, 3L}, "D", "c2"},
      {"c2", "Value", kPut, {"hello"}, "E"},
      {"c2", "Value2", kGet, {}, "S hello"},
      {"c2", "Row", kGet, {}, "I4 2"},
      {"c2", "Column", kGet, {}, "I4 3"},
      {"sheet1", "Range", kCall, {"$B$3"}, "D", "b3"},
      {"b3", "Value", kGet, {}, "E"},
      {"b3", "Value", kPut, {Ref{7}}, "E"},
      {"b3", "Value2", kGet, {}, "R8 7"},
      {"b3", "Text", kGet, {}, "S 7"},
      {"b3", "NumberFormat", kGet, {}, "S General"},
      {"b3", "NumberFormat", kPut, {"#,##0.00"}, "E"},
      {"b3", "Value", kPut, {1234.5}, "E"},
      {"b3", "Text", kGet, {}, "S 1,234.50"},
      {"sheet1", "Range", kCall, {"D5"}, "D", "d5"},
      {"d5", "Value", kPut, {true}, "E"},
      {"d5", "Value", kGet, {}, "S TRUE"},
      {"d5", "Value", kPut, {"x"}, "E"},
      {"d5", "Value", kPut, {""}, "E"},
      {"d5", "Value", kGet, {}, "E"},
      // Formats, with their values for a new cell.
      {"b3", "Font", kGet, {}, "D", "font"},
      {"font", "Bold", kGet, {}, "B 0"},
      {"font", "Bold", kPut, {true}, "E"},
      {"font", "Bold", kGet, {}, "B 1"},
      {"font", "Italic", kPut, {1L}, "E"},
      {"font", "Italic", kGet, {}, "B 1"},
      {"font", "Underline", kGet, {}, "I4 -4142"},
      {"font", "Underline", kPut, {2L}, "E"},
      {"font", "Name", kGet, {}, "S Arial"},
      {"font", "Name", kPut, {"Courier New"}, "E"},
      {"font", "Name", kGet, {}, "S Courier New"},
      {"font", "Size", kGet, {}, "R8 10"},
      {"font", "Size", kPut, {"12.5"}, "E"},
      {"font", "Size", kGet, {}, "R8 12.5"},
      {"font", "Color", kGet, {}, "R8 0"},
      {"font", "Color", kPut, {255L}, "E"},
      {"font", "Color", kGet, {}, "R8 255"},
      {"b3", "Interior", kGet, {}, "D", "interior"},
      {"interior", "Color", kGet, {}, "R8 16777215"},
      {"interior", "Color", kPut, {65535.0}, "E"},
      {"b3", "Borders", kGet, {}, "D", "borders"},
      {"borders", "Weight", kGet, {}, "I4 2"},
      {"borders", "Weight", kPut, {-4138L}, "E"},
      {"borders", "LineStyle", kGet, {}, "I4 -4142"},
      {"borders", "linestyle", kPut, {1L}, "E"},
      {"borders", "LineStyle", kGet, {}, "I4 1"},
      {"b3", "HorizontalAlignment", kGet, {}, "I4 1"},
      {"b3", "HorizontalAlignment", kPut, {7L}, "E"},
      {"b3", "HorizontalAlignment", kGet, {}, "I4 7"},
      {"b3", "VerticalAlignment", kGet, {}, "I4 1"},
      {"b3", "VerticalAlignment", kPut, {-4160L}, "E"},
      {"b3", "ColumnWidth", kGet, {}, "R8 8.43"},
      {"b3", "ColumnWidth", kPut, {20.5}, "E"},
      {"b3", "RowHeight", kGet, {}, "R8 15"},
      {"b3", "RowHeight", kPut, {30L}, "E"},
      {"b3", "RowHeight", kGet, {}, "R8 30"},
      // A put on a range reaches each cell; a get answers for the first.
      {"sheet1", "Range", kCall, {"E2:F6"}, "D", "block"},
      {"block", "Count", kGet, {}, "I4 10"},
      {"block", "Rows", kGet, {}, "D", "rows"},
      {"rows", "Count", kGet, {}, "I4 5"},
      {"block", "Columns", kGet, {}, "D", "columns"},
      {"columns", "Count", kGet, {}, "I4 2"},
      {"block", "NumberFormat", kPut, {"0%"}, "E"},
      {"sheet1", "Range", kCall, {"F6"}, "D", "f6"},
      {"f6", "Value", kPut, {0.25}, "E"},
      {"f6", "Text", kGet, {}, "S 25%"},
      {"f6", "ColumnWidth", kGet, {}, "R8 8.43"},
      {"sheet1", "UsedRange", kGet, {}, "D", "used"},
      {"used", "Row", kGet, {}, "I4 1"},
      {"used", "Count", kGet, {}, "I4 36"},
      {"sheet3", "UsedRange", kGet, {}, "D", "used3"},
      {"used3", "Count", kGet, {}, "I4 1"},
      // Bad names and arguments.
      {"b3", "Nonesuch", kGet, {}, "X 80020006"},
      {"b3", "Count", kPut, {1L}, "X 80020003"},
      {"b3", "RowHeight", kPut, {"tall"}, "X 80020005"},
      {"sheet1", "Range", kCall, {"B0"}, "X 80020009"},
      {"sheet1", "Cells", kCall, {1L}, "X 80020009"},
      // Saving: SaveAs names the workbook; Close(true) saves it; Open reads the first worksheet back.
      {"book", "Saved", kGet, {}, "B 0"},
      {"book", "SaveAs", kCall, {saved.c_str()}, "E"},
      {"book", "Name", kGet, {}, "S standin_saved.xls"},
      {"book", "Saved", kGet, {}, "B 1"},
      {"c2", "Value", kPut, {"changed"}, "E"},
      {"book", "Saved", kGet, {}, "B 0"},
      {"book", "Saved", kPut, {true}, "E"},
      {"book", "Close", kCall, {true}, "E"},
      {"books", "Count", kGet, {}, "I4 0"},
      {"books", "Open", kCall, {missing.c_str()}, "X 80020009"},
      {"books", "Open", kCall, {saved.c_str()}, "D", "reopened"},
      {"reopened", "Worksheets", kCall, {1L}, "D", "first"},
      {"first", "Range", kCall, {"C2"}, "D", "read_c2"},
      {"read_c2", "Value", kGet, {}, "S changed"},
      {"first", "Cells", kCall, {3L, 2L}, "D", "read_b3"},
      {"read_b3", "Value", kGet, {}, "R8 1234.5"},
      {"read_b3", "Value", kPut, {-2L}, "E"},
      {"reopened", "Save", kCall, {}, "E"},
      {"reopened", "Close", kCall, {}, "E"},
      {"books", "Add", kCall, {}, "D"},
      {"app", "Quit", kCall, {}, "E"},
      {"books", "Count", kGet, {}, "I4 0"},
  };
  HRESULT hr;
  std::map<std::string, IDispatch*> objects{{"app", CreateApplication(hr)}};
  ASSERT_TRUE(objects["app"]) << std::hex << hr;
  for (const Row& row : rows) {
    IDispatch* kept = nullptr;
    ASSERT_TRUE(objects[row.on]) << row.on;
    EXPECT_EQ(CallMember(objects[row.on], row.member, row.how, row.args, &kept), row.expect)
        << row.on << "." << row.member;
    if (*row.keep) objects[row.keep] = kept;
    else if (kept) kept->Release();
  }
  for (auto& [name, object] : objects)
    if (object) object->Release();
  // The file holds the first worksheet's values, as the raw reader reads them.
  std::string error;
  const auto c2 = ReadRawCellFromFile(saved, 1, 2, 3, error), b3 = ReadRawCellFromFile(saved, 1, 3, 2, error);
  ASSERT_TRUE(c2 && b3) << error;
  EXPECT_EQ(c2->text, "changed");
  EXPECT_EQ(b3->number, -2);
  EXPECT_FALSE(ReadRawCellFromFile(saved, 1, 4, 3, error)) << "C4 of Sheet2 is not in the file";
  std::filesystem::remove(saved);
}

// ---- the server's process

std::vector<DWORD> Servers(DWORD parent) {
  std::vector<DWORD> found;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ParentProcessID == parent && lstrcmpiA(entry.szExeFile, "excel_standin.exe") == 0)
      found.push_back(entry.th32ProcessID);
  CloseHandle(snapshot);
  return found;
}

// The server a client started (Wine starts it from the client's process), waited for up to 30 s.
HANDLE ServerOf(DWORD client, const std::vector<DWORD>& before = {}) {
  for (int tries = 0; tries < 300; ++tries, Sleep(100))
    for (DWORD id : Servers(client))
      if (std::find(before.begin(), before.end(), id) == before.end())
        return OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
  return nullptr;
}

TEST(StandinProcess, TheServerEndsWhenReleased) {
  ComSession com;
  const std::vector<DWORD> before = Servers(GetCurrentProcessId());
  HRESULT hr;
  IDispatch* app = CreateApplication(hr);
  ASSERT_TRUE(app) << std::hex << hr;
  const HANDLE server = ServerOf(GetCurrentProcessId(), before);
  ASSERT_TRUE(server);
  EXPECT_EQ(CallMember(app, "Workbooks", kGet, {}), "D");
  app->Release();
  EXPECT_EQ(WaitForSingleObject(server, 20000), WAIT_OBJECT_0);
  CloseHandle(server);
}

// Run in a child process by the next test: a client that holds the application until it is ended.
TEST(StandinProcess, ChildHoldsTheApplication) {
  if (!std::getenv("OLVEX_STANDIN_CHILD")) GTEST_SKIP() << "run by AStrayServerEndsWithItsClient";
  ComSession com;
  HRESULT hr;
  IDispatch* app = CreateApplication(hr);
  ASSERT_TRUE(app);
  Sleep(60000);
  app->Release();
}

TEST(StandinProcess, AStrayServerEndsWithItsClient) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string command = std::string("\"") + self + "\" --gtest_filter=StandinProcess.ChildHoldsTheApplication";
  SetEnvironmentVariableA("OLVEX_STANDIN_CHILD", "1");
  STARTUPINFOA start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION child{};
  const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &child);
  SetEnvironmentVariableA("OLVEX_STANDIN_CHILD", nullptr);
  ASSERT_TRUE(started);
  const HANDLE server = ServerOf(child.dwProcessId);
  TerminateProcess(child.hProcess, 1);
  ASSERT_TRUE(server);
  EXPECT_EQ(WaitForSingleObject(server, 20000), WAIT_OBJECT_0);
  CloseHandle(server);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
}

// The faults a test can ask for through the environment the server inherits.
TEST(StandinProcess, FaultsOnRequest) {
  ComSession com;
  HRESULT hr;
  SetEnvironmentVariableA("OLVEX_STANDIN_FAIL_START", "1");
  IDispatch* app = CreateApplication(hr);
  SetEnvironmentVariableA("OLVEX_STANDIN_FAIL_START", nullptr);
  EXPECT_FALSE(app);
  EXPECT_TRUE(FAILED(hr));
  // A hanging member: the call returns (failed) only when the server is ended.
  SetEnvironmentVariableA("OLVEX_STANDIN_HANG", "count");
  app = CreateApplication(hr);
  SetEnvironmentVariableA("OLVEX_STANDIN_HANG", nullptr);
  ASSERT_TRUE(app) << std::hex << hr;
  const HANDLE server = ServerOf(GetCurrentProcessId());
  ASSERT_TRUE(server);
  IDispatch* books = nullptr;
  EXPECT_EQ(CallMember(app, "Workbooks", kGet, {}, &books), "D");
  std::atomic<bool> returned{false};
  std::thread ender([&] {
    Sleep(2000);
    EXPECT_FALSE(returned) << "Count did not hang";
    TerminateProcess(server, 1);
  });
  EXPECT_EQ(CallMember(books, "Count", kGet, {}).substr(0, 2), "X ");
  returned = true;
  ender.join();
  CloseHandle(server);
  books->Release();
  app->Release();
  // A server that died leaves nothing behind: the next client gets a server of its own.
  app = CreateApplication(hr);
  ASSERT_TRUE(app) << std::hex << hr;
  EXPECT_EQ(CallMember(app, "Visible", kGet, {}), "B 0");
  app->Release();
}

}  // namespace
}  // namespace olvex::test
