// One cross-process automation call: Range.Value put and got on the Excel
// stand-in by a bare client (IDispatch, member numbers looked up once), 1,000
// puts then 1,000 gets; and the same through Worksheet.Range per cell (two
// calls and a release). The Set Cell and Get Cell steps are compared with
// these. Windows build only, in a Wine session (the program registers the
// stand-in beside it, and removes it at the end):
//
//   cmake/wine-session.sh bash -c 'cd build/win && /usr/lib/wine/wine64 bin/bench_excel_standin.exe'
#include <benchmark/benchmark.h>

#ifdef _WIN32
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kCalls = 1000;
constexpr DWORD kRegisterMs = 180 * 1000;  // the registration waits for Wine's RPC service

bool RunStandin(const char* switch_word) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string command(path, n);
  command = "\"" + command.substr(0, command.find_last_of('\\') + 1) + "excel_standin.exe\" " + switch_word;
  STARTUPINFOA start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &process))
    return false;
  DWORD code = 1;
  if (WaitForSingleObject(process.hProcess, kRegisterMs) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code == 0;
}

DISPID Id(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  return id;
}

HRESULT Invoke(IDispatch* object, DISPID id, WORD how, VARIANT* args, UINT count, VARIANT* result) {
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{args, how == DISPATCH_PROPERTYPUT ? &put : nullptr, count, how == DISPATCH_PROPERTYPUT ? 1u : 0u};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, how, &params, result, nullptr, nullptr);
}

IDispatch* Object(IDispatch* from, const wchar_t* member, VARIANT* args = nullptr, UINT count = 0) {
  VARIANT result;
  VariantInit(&result);
  if (!from || FAILED(Invoke(from, Id(from, member), DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, count, &result)) ||
      V_VT(&result) != VT_DISPATCH)
    return nullptr;
  return V_DISPATCH(&result);
}

// The application with one added workbook, its first worksheet and its cell A1.
struct Session {
  Session() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    registered = RunStandin("/RegServer");
    CLSID clsid;
    HRESULT hr = E_FAIL;
    if (!registered || FAILED(hr = CLSIDFromProgID(L"Excel.Application", &clsid)) ||
        FAILED(hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&app)))) {
      std::fprintf(stderr, "the stand-in did not start (registered: %d, result %08lx)\n", registered,
                   static_cast<unsigned long>(hr));
      return;
    }
    IDispatch* books = Object(app, L"Workbooks");
    IDispatch* book = Object(books, L"Add");
    sheet = Object(app, L"ActiveSheet");
    VARIANT a1;
    V_VT(&a1) = VT_BSTR;
    V_BSTR(&a1) = SysAllocString(L"A1");
    cell = Object(sheet, L"Range", &a1, 1);
    VariantClear(&a1);
    for (IDispatch* o : {books, book})
      if (o) o->Release();
  }
  ~Session() {
    for (IDispatch* o : {cell, sheet, app})
      if (o) o->Release();
    CoUninitialize();
    if (registered) RunStandin("/UnregServer");
  }
  bool registered = false;
  IDispatch* app = nullptr;
  IDispatch* sheet = nullptr;
  IDispatch* cell = nullptr;
};

Session& Standin() {
  static Session session;
  return session;
}

void PutOrGet(benchmark::State& state, IDispatch* cell, WORD how) {
  const DISPID value = Id(cell, L"Value");
  int i = 0;
  for (auto _ : state) {
    VARIANT number, result;
    V_VT(&number) = VT_R8;
    V_R8(&number) = ++i * 1.5;
    VariantInit(&result);
    if (FAILED(Invoke(cell, value, how, &number, how == DISPATCH_PROPERTYPUT ? 1 : 0, &result)))
      return state.SkipWithError("the call failed");
    VariantClear(&result);
  }
}

void BM_ValuePut(benchmark::State& state) {
  if (!Standin().cell) return state.SkipWithError("the stand-in did not start");
  PutOrGet(state, Standin().cell, DISPATCH_PROPERTYPUT);
}
void BM_ValueGet(benchmark::State& state) {
  if (!Standin().cell) return state.SkipWithError("the stand-in did not start");
  PutOrGet(state, Standin().cell, DISPATCH_PROPERTYGET);
}

// Worksheet.Range("A<n>") for each call, then its Value: a step's calls for one cell.
void ThroughRange(benchmark::State& state, WORD how) {
  IDispatch* sheet = Standin().sheet;
  if (!sheet) return state.SkipWithError("the stand-in did not start");
  const DISPID range = Id(sheet, L"Range");
  DISPID value = DISPID_UNKNOWN;
  int row = 0;
  for (auto _ : state) {
    VARIANT ref, cell, number, result;
    V_VT(&ref) = VT_BSTR;
    V_BSTR(&ref) = SysAllocString((L"A" + std::to_wstring(++row)).c_str());
    VariantInit(&cell);
    const HRESULT hr = Invoke(sheet, range, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &ref, 1, &cell);
    VariantClear(&ref);
    if (FAILED(hr) || V_VT(&cell) != VT_DISPATCH) return state.SkipWithError("Range failed");
    if (value == DISPID_UNKNOWN) value = Id(V_DISPATCH(&cell), L"Value");
    V_VT(&number) = VT_R8;
    V_R8(&number) = row;
    VariantInit(&result);
    Invoke(V_DISPATCH(&cell), value, how, &number, how == DISPATCH_PROPERTYPUT ? 1 : 0, &result);
    VariantClear(&result);
    VariantClear(&cell);
  }
}
void BM_RangeValuePut(benchmark::State& state) { ThroughRange(state, DISPATCH_PROPERTYPUT); }
void BM_RangeValueGet(benchmark::State& state) { ThroughRange(state, DISPATCH_PROPERTYGET); }

}  // namespace

BENCHMARK(BM_ValuePut)->Iterations(kCalls)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ValueGet)->Iterations(kCalls)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RangeValuePut)->Iterations(kCalls)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RangeValueGet)->Iterations(kCalls)->Unit(benchmark::kMicrosecond)->UseRealTime();

#else

namespace {
void BM_ValuePut(benchmark::State& state) { state.SkipWithError("automation needs the Windows build (under Wine)"); }
}  // namespace
BENCHMARK(BM_ValuePut);

#endif

BENCHMARK_MAIN();
