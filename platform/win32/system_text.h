// The system's own message for an error code.
#pragma once
#include <windows.h>

#include <string>

namespace platform {

// FormatMessage's text without its line end; "Error <code>" when the system has none.
std::string SystemErrorText(DWORD code);

}  // namespace platform
