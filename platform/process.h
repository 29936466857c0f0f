#pragma once
// Starting programs, waiting for them, and the running processes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Starts the program (or opens the document) named by a command line, without
// waiting for it; a command line without quotation marks is first tried as
// one program path. True when something was started.
bool StartProgram(const std::string& command_line, bool visible);

// A started process, to wait for or to let go.
struct ProcessHandle {
  std::intptr_t handle = 0;  // Windows: the process handle; POSIX: the process id
  std::uint32_t id = 0;
  bool ended = false;
  int exit_code = 0;
};
// Starts a command line. Windows: CreateProcess over the whole line; POSIX:
// the whole line as one program path when it names an executable file, else
// its words (quotation marks group them), the first searched in PATH.
// `folder` is the working folder (empty: the runtime's).
std::optional<ProcessHandle> CreateProcessFromLine(const std::string& command_line, bool visible,
                                                   const std::string& folder);
// POSIX: `/bin/sh -c command`. Windows: nothing (a command names CMD.EXE itself).
std::optional<ProcessHandle> StartShellCommand(const std::string& command);
// True on systems whose programs carry the ".EXE" extension.
bool ProgramsHaveExeExtension();
// Waits until a new program is ready for input (at most `ms`; negative: no limit). POSIX: at once.
void WaitUntilReady(const ProcessHandle& process, long long ms);
// True once the process has ended; its exit code is then in `exit_code`.
bool HasEnded(ProcessHandle& process);
// Lets go of a process (it goes on running; POSIX collects its exit later).
void ReleaseProcess(ProcessHandle& process);
// Opens a file or program through the system's shell: Windows ShellExecute
// with the default verb; POSIX `xdg-open` when it is installed.
bool ShellOpen(const std::string& file, const std::string& parameters, bool visible);

struct ProcessEntry {
  std::string name;  // the program's file name without folder ("notepad.exe")
  std::uint32_t id = 0;
};
// The running processes, in the system's order; empty when they cannot be listed.
std::vector<ProcessEntry> ListProcesses();
// The first process whose id is `name_or_id` (a text of digits only) or whose
// program name equals the base name of `name_or_id` (without regard to case).
std::optional<ProcessEntry> FindProcess(std::string_view name_or_id);
// Ends a process at once with `exit_code` (POSIX: SIGKILL).
bool TerminateProcessById(std::uint32_t id, int exit_code);
// Ends the first process FindProcess finds; false when none or it cannot be ended.
bool TerminateProcessNamed(std::string_view name_or_id);
// The main window of a process (a visible top-level window without owner); 0 when none.
std::uint64_t MainWindowOfProcess(std::uint32_t id);

}  // namespace platform
