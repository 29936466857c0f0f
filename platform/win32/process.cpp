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
