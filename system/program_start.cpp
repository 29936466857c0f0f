#include "system/program_start.h"

#include <chrono>
#include <optional>
#include <thread>

#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/system.h"
#include "system/file_paths.h"

namespace olvex {
namespace {

std::string Unquoted(std::string text) {
  std::erase(text, '"');
  return text;
}

// The working folder of a command: the folder of its first (quoted) word, when that exists.
std::string WorkingFolder(const std::string& command) {
  std::string program;
  if (!command.empty() && command[0] == '"') {
    const std::size_t end = command.find('"', 1);
    program = command.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  } else {
    program = Unquoted(command);
  }
  std::string folder = FolderOf(program);
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';
  return platform::IsFolder(folder) ? folder : std::string();
}

std::optional<platform::ProcessHandle> CreateByMethods(const std::string& command, bool visible) {
  const bool quoted = command.find('"') != std::string::npos;
  // 1: the whole command as one program (quoted), in the program's folder.
  if (auto p = platform::CreateProcessFromLine(quoted ? command : "\"" + command + "\"", visible, WorkingFolder(command)))
    return p;
  // 2: a program located by the file locating rule.
  if (ContainsNoCase(command, ".EXE") || !platform::ProgramsHaveExeExtension()) {
    std::string located;
    if (!LocateFile(command, "", &located) && !quoted) {
      // The program is the first word, its arguments follow.
      const std::size_t blank = command.find(' ');
      if (blank != std::string::npos && LocateFile(command.substr(0, blank), "", &located))
        located = "\"" + located + "\"" + command.substr(blank);
    }
    if (auto p = platform::CreateProcessFromLine(located, visible, "")) return p;
  }
  // 3: the program associated with the command's file type.
  const std::size_t dot = command.find('.');
  if (dot != std::string::npos) {
    std::string extension = command.substr(dot, 15);
    const std::size_t end = extension.find_first_of(" \"");
    extension = extension.substr(0, end);
    std::string program;
    if (AssociatedProgram(extension, &program)) {
      std::string line;
      if (program.back() == ':' || program.back() == '=') line = program + Unquoted(command);
      else line = "\"" + program + "\" " + (quoted ? command : "\"" + command + "\"");
      if (auto p = platform::CreateProcessFromLine(line, visible, "")) return p;
    }
  }
  return std::nullopt;
}

// 4: the shell's own opening of the command (no process to wait for).
bool OpenThroughShell(const std::string& command, bool visible) {
  if (platform::ShellOpen(command, "", visible)) return true;
  const std::size_t quote = command.find('"');
  const std::size_t cut = quote != std::string::npos ? quote : command.find(' ');
  if (cut == std::string::npos || cut == 0) return false;
  std::string file = command.substr(0, cut);
  const std::string parameters = command.substr(cut);
  const std::size_t first = file.find_first_not_of(" \t\r\n"), last = file.find_last_not_of(" \t\r\n");
  file = first == std::string::npos ? std::string() : file.substr(first, last - first + 1);
  if (file.empty()) return false;
  if (platform::ShellOpen(file, parameters, visible)) return true;
  return platform::ProgramsHaveExeExtension() && !ContainsNoCase(file, ".EXE") &&
         platform::ShellOpen(file + ".EXE", parameters, visible);
}

std::string ForLog(const std::string& command) {
  return command.size() > 121 ? command.substr(0, 122) + "..." : command;
}

}  // namespace

int StartProgramAndWait(const std::string& command, bool visible, long long wait_ms, bool log, bool through_shell) {
  if (command.empty()) return kProgramNotStarted;
  std::optional<platform::ProcessHandle> process =
      through_shell ? platform::StartShellCommand(command) : CreateByMethods(command, visible);
  if (!process) {
    if (!through_shell && OpenThroughShell(command, visible)) return 1;
    if (log && LogLevel() >= 1) LogLine("    Unable to start [%s] with any method", ForLog(command).c_str());
    return kProgramNotStarted;
  }
  platform::WaitUntilReady(*process, wait_ms < 0 ? -1 : std::max<long long>(wait_ms, 5000));
  if (wait_ms == 0) {
    platform::ReleaseProcess(*process);
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::milliseconds(wait_ms + 500);
  while (!platform::HasEnded(*process)) {
    if (StopRequested()) {
      // The run stops: the program it waits for ends with it.
      platform::TerminateProcessById(process->id, 0);
      for (int i = 0; i < 50 && !platform::HasEnded(*process); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      platform::ReleaseProcess(*process);
      return 0;
    }
    if (wait_ms > 0 && std::chrono::steady_clock::now() - start >= limit) {
      platform::ReleaseProcess(*process);
      return kProgramStillRunning;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms > 0 && wait_ms < 1000 ? 20 : 100));
  }
  return process->exit_code;
}

}  // namespace olvex
