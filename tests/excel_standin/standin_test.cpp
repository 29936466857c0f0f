// The Excel stand-in's own lifetime, across processes: a server ends when its
// client releases the application, and when its client dies. (Its members
// are driven through the Excel actions by tests/documents/excel_test.cpp.)
#include <gtest/gtest.h>
#include <objbase.h>
#include <oleauto.h>
#include <tlhelp32.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace olvex::test {
namespace {

struct ComSession {
  ComSession() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~ComSession() { CoUninitialize(); }
};

IDispatch* CreateApplication(HRESULT& hr) {
  CLSID clsid;
  IDispatch* app = nullptr;
  hr = CLSIDFromProgID(L"Excel.Application", &clsid);
  if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&app));
  return app;
}

// The application's Workbooks, got and released: a call that reaches the server.
HRESULT GetWorkbooks(IDispatch* app) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Workbooks")};
  DISPID id;
  HRESULT hr = app->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPPARAMS none{};
  VARIANT result;
  VariantInit(&result);
  hr = app->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
  if (SUCCEEDED(hr) && V_VT(&result) != VT_DISPATCH) hr = E_UNEXPECTED;
  VariantClear(&result);
  return hr;
}

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
  EXPECT_EQ(GetWorkbooks(app), S_OK);
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

}  // namespace
}  // namespace olvex::test
