#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace platform {
namespace {

// The folder of the program a command line starts: the text up to the last
// backslash of its first (quoted) word.
std::string ProgramFolder(const std::string& command) {
  std::string program;
  if (!command.empty() && command[0] == '"') {
    std::size_t end = command.find('"', 1);
    program = command.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  } else {
    program = command;
  }
  std::size_t slash = program.find_last_of("\\/");
  if (slash == std::string::npos) return {};
  std::string folder = program.substr(0, slash);
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';
  DWORD attrs = GetFileAttributesA(folder.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return folder;
}

bool Create(const std::string& command, bool visible) {
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  std::string folder = ProgramFolder(command);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = visible ? SW_SHOWDEFAULT : SW_HIDE;
  PROCESS_INFORMATION process{};
  DWORD flags = NORMAL_PRIORITY_CLASS | (visible ? 0 : CREATE_NO_WINDOW);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

std::optional<ProcessHandle> CreateProcessFromLine(const std::string& command_line, bool visible,
                                                   const std::string& folder) {
  if (command_line.empty()) return std::nullopt;
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = visible ? SW_SHOWDEFAULT : SW_HIDE;
  PROCESS_INFORMATION process{};
  const DWORD flags = NORMAL_PRIORITY_CLASS | (visible ? 0 : CREATE_NO_WINDOW);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process))
    return std::nullopt;
  CloseHandle(process.hThread);
  ProcessHandle started;
  started.handle = reinterpret_cast<std::intptr_t>(process.hProcess);
  started.id = process.dwProcessId;
  return started;
}

std::optional<ProcessHandle> StartShellCommand(const std::string&) { return std::nullopt; }

bool ProgramsHaveExeExtension() { return true; }

void WaitUntilReady(const ProcessHandle& process, long long ms) {
  WaitForInputIdle(reinterpret_cast<HANDLE>(process.handle), ms < 0 ? INFINITE : static_cast<DWORD>(ms));
}

bool HasEnded(ProcessHandle& process) {
  if (process.ended) return true;
  // The code is read once the process has ended: read before, it could be
  // STILL_ACTIVE of a process that ends a moment later.
  if (WaitForSingleObject(reinterpret_cast<HANDLE>(process.handle), 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (!GetExitCodeProcess(reinterpret_cast<HANDLE>(process.handle), &code)) return false;
  process.ended = true;
  process.exit_code = static_cast<int>(code);
  CloseHandle(reinterpret_cast<HANDLE>(process.handle));
  process.handle = 0;
  return true;
}

void ReleaseProcess(ProcessHandle& process) {
  if (process.handle != 0) CloseHandle(reinterpret_cast<HANDLE>(process.handle));
  process.handle = 0;
}

bool ShellOpen(const std::string& file, const std::string& parameters, bool visible) {
  HINSTANCE shell = ShellExecuteA(GetForegroundWindow(), nullptr, file.c_str(),
                                  parameters.empty() ? nullptr : parameters.c_str(), nullptr,
                                  visible ? SW_SHOWNORMAL : SW_HIDE);
  return reinterpret_cast<INT_PTR>(shell) > 32;
}

bool TerminateProcessById(std::uint32_t id, int exit_code) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
  if (process == nullptr) return false;
  const bool ok = TerminateProcess(process, static_cast<UINT>(exit_code)) != 0;
  // Termination completes on its own time: wait (at most a second) until it has.
  if (ok) WaitForSingleObject(process, 1000);
  CloseHandle(process);
  return ok;
}

namespace {
struct WindowSearch {
  DWORD id;
  HWND found;
};
BOOL CALLBACK FindMainWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner_id = 0;
  GetWindowThreadProcessId(window, &owner_id);
  if (owner_id != search->id || GetWindow(window, GW_OWNER) != nullptr || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}
}  // namespace

std::uint64_t MainWindowOfProcess(std::uint32_t id) {
  WindowSearch search{id, nullptr};
  EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
  return reinterpret_cast<std::uint64_t>(search.found);
}

bool StartProgram(const std::string& command_line, bool visible) {
  if (command_line.empty()) return false;
  bool quoted = command_line.find('"') != std::string::npos;
  if (Create(quoted ? command_line : "\"" + command_line + "\"", visible)) return true;
  if (!quoted && Create(command_line, visible)) return true;
  HINSTANCE shell = ShellExecuteA(nullptr, nullptr, command_line.c_str(), nullptr, nullptr,
                                  visible ? SW_SHOWNORMAL : SW_HIDE);
  return reinterpret_cast<INT_PTR>(shell) > 32;
}

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> list;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return list;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    list.push_back({entry.szExeFile, static_cast<std::uint32_t>(entry.th32ProcessID)});
  CloseHandle(snapshot);
  return list;
}

}  // namespace platform
