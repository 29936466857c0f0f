// The Excel stand-in driven across processes by a bare client: the
// application created by its ProgID, every member called by name through
// IDispatch once, the saved file read back by the raw cell reader; the server
// ends when released, and when its client dies.
#include <gtest/gtest.h>
#include <objbase.h>
#include <oleauto.h>
#include <tlhelp32.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
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

TEST(Standin, Smoke) {
  ComSession com;
  HRESULT hr;
  IDispatch* app = CreateApplication(hr);
  ASSERT_TRUE(app) << std::hex << hr;
  IDispatch* books = nullptr;
  IDispatch* book = nullptr;
  IDispatch* sheet = nullptr;
  IDispatch* cell = nullptr;
  EXPECT_EQ(CallMember(app, "Workbooks", DISPATCH_PROPERTYGET, {}, &books), "D");
  EXPECT_EQ(CallMember(books, "Add", DISPATCH_METHOD, {}, &book), "D");
  EXPECT_EQ(CallMember(app, "ActiveSheet", DISPATCH_PROPERTYGET, {}, &sheet), "D");
  EXPECT_EQ(CallMember(sheet, "Range", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {"B3"}, &cell), "D");
  EXPECT_EQ(CallMember(cell, "Value", DISPATCH_PROPERTYPUT, {3.5}), "E");
  EXPECT_EQ(CallMember(cell, "Value", DISPATCH_PROPERTYGET, {}), "R8 3.5");
  const std::string path = (std::filesystem::temp_directory_path() / "standin_smoke.xls").string();
  EXPECT_EQ(CallMember(book, "SaveAs", DISPATCH_METHOD, {path.c_str()}), "E");
  EXPECT_EQ(CallMember(book, "Close", DISPATCH_METHOD, {}), "E");
  EXPECT_EQ(CallMember(app, "Quit", DISPATCH_METHOD, {}), "E");
  for (IDispatch* o : {cell, sheet, book, books, app}) o->Release();
  std::string error;
  const auto read = ReadRawCellFromFile(path, 1, 3, 2, error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->number, 3.5);
}

}  // namespace
}  // namespace olvex::test
