// excel_standin.exe: a local automation server registered as
// "Excel.Application", standing in for the spreadsheet application in the
// tests of the Excel actions (there is none under Wine).
//
//   excel_standin.exe /RegServer     register for the current user (see Register) and exit
//   excel_standin.exe /UnregServer   remove exactly that and exit
//   excel_standin.exe -Embedding     started by COM: serve one client, exit when it lets go
//
// Faults a test can provoke, read from the environment at start (under Wine
// the server inherits the client's environment, see WatchParent):
//   OLVEX_STANDIN_FAIL_START=1   exit at once without registering the class object
//   OLVEX_STANDIN_HANG=<member>  every call of that member (any object; "CreateInstance"
//                                for the creation itself) sleeps 10 minutes first
#include <objbase.h>
#include <tlhelp32.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "engine/text.h"
#include "tests/excel_standin/server/objects.h"

namespace standin {
namespace {

constexpr CLSID kClassId = {0x6F1C3E2A, 0x5B7D, 0x4C19, {0x9E, 0x43, 0x0A, 0x8B, 0x1D, 0x2C, 0x3E, 0x4F}};
constexpr char kClassText[] = "{6F1C3E2A-5B7D-4C19-9E43-0A8B1D2C3E4F}";
constexpr char kProgId[] = "Excel.Application";
constexpr char kTitle[] = "Olvex Excel stand-in (tests)";
// Far past any bound a client keeps, yet not for ever.
constexpr DWORD kHangMs = 10 * 60 * 1000;
// A server that no client takes within this time ends.
constexpr UINT kFirstClientMs = 60 * 1000;
// How long the registration waits for the RPC service, and then for a first activation.
constexpr ULONGLONG kRpcServiceMs = 180 * 1000;

// Wine keeps a class object registered after its single use, and after its
// server has died, handing later clients to it: so the server revokes its
// class object as soon as its one client has taken the application.
constexpr UINT kRevoke = WM_APP + 1;

std::atomic<long> live{0};
std::atomic<bool> created{false};
DWORD main_thread = 0;
std::string hang_member;

std::string Environment(const char* name) {
  char value[256];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// ---- the class object

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // One static object: the server's lifetime follows its objects and locks, not this.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    HangIfAsked("CreateInstance");
    if (!created.exchange(true)) PostThreadMessageA(main_thread, kRevoke, 0, 0);
    IDispatch* application = NewApplicationObject();
    const HRESULT hr = application->QueryInterface(iid, out);
    application->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ServerAddRef() : ServerRelease();
    return S_OK;
  }
};
Factory factory;

// ---- registration

bool SetDefault(HKEY root, const std::string& key, const std::string& value) {
  HKEY h;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr) != ERROR_SUCCESS)
    return false;
  const LONG r = RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1));
  RegCloseKey(h);
  return r == ERROR_SUCCESS;
}

bool WriteKeys(HKEY root, const std::string& classes, const std::string& command) {
  const std::string clsid = classes + "CLSID\\" + kClassText;
  return SetDefault(root, classes + kProgId, kTitle) && SetDefault(root, classes + kProgId + "\\CLSID", kClassText) &&
         SetDefault(root, clsid, kTitle) && SetDefault(root, clsid + "\\LocalServer32", command) &&
         SetDefault(root, clsid + "\\ProgID", kProgId);
}

// Our CLSID key, and the ProgID key while it names our CLSID.
void RemoveKeys(HKEY root, const std::string& classes) {
  RegDeleteTreeA(root, (classes + "CLSID\\" + kClassText).c_str());
  char value[64] = "";
  LONG size = sizeof value;
  if (RegQueryValueA(root, (classes + kProgId + "\\CLSID").c_str(), value, &size) == ERROR_SUCCESS &&
      olvex::EqualsNoCase(value, kClassText))
    RegDeleteTreeA(root, (classes + kProgId).c_str());
}

bool SeenByCom() {
  CLSID found;
  return CLSIDFromProgID(L"Excel.Application", &found) == S_OK && IsEqualCLSID(found, kClassId);
}

// Wine starts its RPC service (RpcSs) on the first out-of-process activation,
// but for the first 30 to 50 seconds of a new prefix the service database is
// locked (StartService fails with ERROR_SERVICE_DATABASE_LOCKED, each try
// taking about 3 s): that start fails, and the activation with it, after
// about 35 s. So the registration, which runs before the tests, starts the
// service and waits until it runs (bounded).
bool StartRpcService() {
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return false;
  const SC_HANDLE service = OpenServiceA(manager, "RpcSs", SERVICE_START | SERVICE_QUERY_STATUS);
  bool running = false;
  const ULONGLONG until = GetTickCount64() + kRpcServiceMs;
  while (service && !running && GetTickCount64() < until) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) break;
    running = status.dwCurrentState == SERVICE_RUNNING;
    const BOOL started = !running && status.dwCurrentState == SERVICE_STOPPED ? StartServiceA(service, 0, nullptr) : TRUE;
    const DWORD error = started ? 0 : GetLastError();
    if (error && error != ERROR_SERVICE_DATABASE_LOCKED && error != ERROR_SERVICE_REQUEST_TIMEOUT &&
        error != ERROR_SERVICE_ALREADY_RUNNING)
      break;
    if (!running) Sleep(100);
  }
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return running;
}

// Even with the service running, activations in a new prefix fail for a while
// (the client cannot reach RpcSs and cannot start it either): the registration
// ends only when one has worked (bounded), so that the tests find COM settled.
bool ActivationWorks() {
  const ULONGLONG until = GetTickCount64() + kRpcServiceMs;
  do {
    IDispatch* application = nullptr;
    if (SUCCEEDED(CoCreateInstance(kClassId, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&application)))) {
      application->Release();
      return true;
    }
  } while (GetTickCount64() < until);
  return false;
}

// Under HKCU\Software\Classes, which Windows merges into HKEY_CLASSES_ROOT.
// Wine 8 does not: COM there reads only HKEY_CLASSES_ROOT (HKLM\Software\Classes,
// private to each test session's prefix), so the keys go there too when COM
// does not see the first ones.
int Register() {
  char exe[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  if (n == 0 || n >= sizeof exe) return 1;
  const std::string path(exe, n);
  const std::string command = path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
  if (!StartRpcService()) std::fprintf(stderr, "excel_standin: the RPC service is not running\n");
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool ok = WriteKeys(HKEY_CURRENT_USER, "Software\\Classes\\", command);
  if (ok && !SeenByCom()) ok = WriteKeys(HKEY_CLASSES_ROOT, "", command) && SeenByCom();
  if (!ok) std::fprintf(stderr, "excel_standin: the registration of %s failed\n", kProgId);
  else if (!ActivationWorks()) std::fprintf(stderr, "excel_standin: registered, but COM cannot start it\n"), ok = false;
  CoUninitialize();
  return ok ? 0 : 1;
}

int Unregister() {
  RemoveKeys(HKEY_CURRENT_USER, "Software\\Classes\\");
  RemoveKeys(HKEY_CLASSES_ROOT, "");
  return 0;
}

// ---- serving

// Wine starts a local server from the client's own process (ole32 calls
// CreateProcess there) and never runs down the references of a client that
// died, so the server watches its parent and ends with it. Windows starts it
// from its DCOM launcher, which stays, and runs the references down itself.
void WatchParent() {
  DWORD parent = 0;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  const HANDLE process = parent ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent) : nullptr;
  if (!process) return;
  // A parent that started after us is another process that took the ended parent's id.
  FILETIME theirs, ours, unused1, unused2, unused3;
  if (!GetProcessTimes(process, &theirs, &unused1, &unused2, &unused3) ||
      !GetProcessTimes(GetCurrentProcess(), &ours, &unused1, &unused2, &unused3) ||
      CompareFileTime(&theirs, &ours) > 0) {
    CloseHandle(process);
    return;
  }
  std::thread([process] {
    WaitForSingleObject(process, INFINITE);
    ExitProcess(3);
  }).detach();
}

int Serve() {
  if (Environment("OLVEX_STANDIN_FAIL_START") == "1") return 1;
  hang_member = Environment("OLVEX_STANDIN_HANG");
  main_thread = GetCurrentThreadId();
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  WatchParent();
  DWORD cookie = 0;
  if (FAILED(CoRegisterClassObject(kClassId, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie))) {
    CoUninitialize();
    return 1;
  }
  const UINT_PTR first_client = SetTimer(nullptr, 0, kFirstClientMs, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == kRevoke && msg.hwnd == nullptr && cookie) {
      CoRevokeClassObject(cookie);
      cookie = 0;
      continue;
    }
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == first_client) {
      if (!created) break;
      KillTimer(nullptr, first_client);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (cookie) CoRevokeClassObject(cookie);
  CoUninitialize();
  return 0;
}

}  // namespace

void ServerAddRef() { ++live; }
void ServerRelease() {
  if (--live == 0) PostThreadMessageA(main_thread, WM_QUIT, 0, 0);
}
void HangIfAsked(const std::string& member) {
  if (!hang_member.empty() && olvex::EqualsNoCase(member, hang_member)) Sleep(kHangMs);
}

}  // namespace standin

int main(int argc, char** argv) {
  const std::string switch_word = argc > 1 && (argv[1][0] == '/' || argv[1][0] == '-') ? argv[1] + 1 : "";
  if (olvex::EqualsNoCase(switch_word, "RegServer")) return standin::Register();
  if (olvex::EqualsNoCase(switch_word, "UnregServer")) return standin::Unregister();
  if (olvex::EqualsNoCase(switch_word, "Embedding")) return standin::Serve();
  std::fprintf(stderr, "usage: excel_standin /RegServer | /UnregServer | -Embedding (started by COM)\n");
  return 2;
}
