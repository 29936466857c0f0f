#pragma once
// Starting programs.
#include <string>

namespace platform {

// Starts the program (or opens the document) named by a command line, without
// waiting for it; a command line without quotation marks is first tried as
// one program path. True when something was started.
bool StartProgram(const std::string& command_line, bool visible);

}  // namespace platform
