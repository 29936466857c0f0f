#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <winnetwk.h>

#include <string>

#include "platform/shell.h"

namespace platform {
namespace {

std::wstring Wide(const std::string& text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
  wide.resize(wide.size() - 1);
  return wide;
}

// COM for the calling thread, for as long as it lives.
struct ComScope {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~ComScope() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

FARPROC MprFunction(const char* name) {
  HMODULE mpr = LoadLibraryA("MPR.DLL");
  return mpr ? GetProcAddress(mpr, name) : nullptr;
}

bool OnService(const std::string& name, DWORD rights, bool (*act)(SC_HANDLE)) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceA(manager, name.c_str(), rights);
  bool ok = service != nullptr && act(service);
  const DWORD error = GetLastError();
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  SetLastError(error);
  return ok;
}

}  // namespace

void NoteShellError();

bool HasWindowsShell() { return true; }

bool CreateShortcut(const Shortcut& shortcut) {
  ComScope com;
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link)))) {
    NoteShellError();
    return false;
  }
  link->SetPath(shortcut.target.c_str());
  if (!shortcut.description.empty()) link->SetDescription(shortcut.description.c_str());
  if (!shortcut.folder.empty()) link->SetWorkingDirectory(shortcut.folder.c_str());
  if (!shortcut.arguments.empty()) link->SetArguments(shortcut.arguments.c_str());
  link->SetShowCmd(shortcut.show);
  IPersistFile* file = nullptr;
  HRESULT hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(hr)) {
    hr = file->Save(Wide(shortcut.link).c_str(), TRUE);
    file->Release();
  }
  link->Release();
  if (FAILED(hr)) {
    SetLastError(HRESULT_CODE(hr));
    NoteShellError();
  }
  return SUCCEEDED(hr);
}

std::string ShortcutTarget(const std::string& link_path) {
  ComScope com;
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link))))
    return {};
  std::string target;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    char path[MAX_PATH] = "";
    if (SUCCEEDED(file->Load(Wide(link_path).c_str(), STGM_READ)) &&
        SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0)))
      target = path;
    file->Release();
  }
  link->Release();
  return target;
}

std::string VersionString(const std::string& path, const std::string& name) {
  HMODULE version = LoadLibraryA("VERSION.DLL");
  if (version == nullptr) return {};
  using SizeOf = DWORD(WINAPI*)(LPCSTR, LPDWORD);
  using Info = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
  using Query = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  auto size_of = reinterpret_cast<SizeOf>(reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoSizeA")));
  auto info = reinterpret_cast<Info>(reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoA")));
  auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(version, "VerQueryValueA")));
  std::string result;
  DWORD handle = 0;
  const DWORD size = size_of && info && query ? size_of(path.c_str(), &handle) : 0;
  std::string block(size, '\0');
  WORD* translation = nullptr;
  UINT length = 0;
  if (size > 0 && info(path.c_str(), 0, size, block.data()) &&
      query(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
      length >= 4) {
    char key[256];
    wsprintfA(key, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], name.substr(0, 200).c_str());
    char* text = nullptr;
    if (query(block.data(), key, reinterpret_cast<void**>(&text), &length) && text) result = text;
  }
  FreeLibrary(version);
  return result;
}

void NotifyAssociationsChanged() { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

bool MapNetworkDrive(const std::string& local, const std::string& remote) {
  using Add = DWORD(WINAPI*)(LPNETRESOURCEA, LPCSTR, LPCSTR, DWORD);
  auto add = reinterpret_cast<Add>(reinterpret_cast<void*>(MprFunction("WNetAddConnection2A")));
  if (add == nullptr) {
    NoteShellError();
    return false;
  }
  NETRESOURCEA resource{};
  resource.dwType = RESOURCETYPE_DISK;
  std::string l = local, r = remote;
  resource.lpLocalName = l.data();
  resource.lpRemoteName = r.data();
  const DWORD result = add(&resource, nullptr, nullptr, CONNECT_UPDATE_PROFILE);
  if (result != NO_ERROR) {
    SetLastError(result);
    NoteShellError();
  }
  return result == NO_ERROR;
}

bool ShowMapDriveDialog() {
  using Dialog = DWORD(WINAPI*)(HWND, DWORD);
  auto dialog = reinterpret_cast<Dialog>(reinterpret_cast<void*>(MprFunction("WNetConnectionDialog")));
  return dialog != nullptr && dialog(GetForegroundWindow(), RESOURCETYPE_DISK) == NO_ERROR;
}

bool PostCommand(std::uint64_t window, int command) {
  return PostMessageA(reinterpret_cast<HWND>(window), WM_COMMAND, static_cast<WPARAM>(command), 0) != 0;
}

bool StartSystemService(const std::string& name) {
  const bool ok = OnService(name, SERVICE_START | SERVICE_STOP, [](SC_HANDLE s) { return StartServiceA(s, 0, nullptr) != 0; });
  if (!ok) NoteShellError();
  return ok;
}

bool StopSystemService(const std::string& name) {
  const bool ok = OnService(name, SERVICE_START | SERVICE_STOP, [](SC_HANDLE s) {
    SERVICE_STATUS status;
    return ControlService(s, SERVICE_CONTROL_STOP, &status) != 0;
  });
  if (!ok) NoteShellError();
  return ok;
}

bool SetServiceStartType(const std::string& name, ServiceStart type) {
  static thread_local DWORD start_type = 0;
  start_type = static_cast<DWORD>(type);
  const bool ok = OnService(name, SERVICE_CHANGE_CONFIG, [](SC_HANDLE s) {
    return ChangeServiceConfigA(s, SERVICE_NO_CHANGE, start_type, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr) != 0;
  });
  if (!ok) NoteShellError();
  return ok;
}

}  // namespace platform
