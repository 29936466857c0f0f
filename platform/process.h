#pragma once
// Starting programs.
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Starts the program (or opens the document) named by a command line, without
// waiting for it; a command line without quotation marks is first tried as
// one program path. True when something was started.
bool StartProgram(const std::string& command_line, bool visible);


struct ProcessEntry {
  std::string name;  // the program's file name without folder ("notepad.exe")
  std::uint32_t id = 0;
};
// The running processes, in the system's order; empty when they cannot be listed.
std::vector<ProcessEntry> ListProcesses();

}  // namespace platform
