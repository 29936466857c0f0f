#pragma once
// Text for a debugger. Windows hands it to OutputDebugStringA (a debugger, or
// a viewer of debug strings, shows it). POSIX has no such channel: the text
// goes to standard error when the environment variable OLVEX_DEBUG_OUTPUT is
// set to a non-empty value, and nowhere otherwise. The service is an interface
// so that tests can put a recorder in its place (SetDebugOutputForTest).
#include <string>

namespace platform {

class DebugOutput {
 public:
  virtual ~DebugOutput() = default;
  // Writes `text` as it is (the caller ends lines with CR LF).
  virtual void Write(const std::string& text) = 0;
};

// The service in force: the platform's own, or the one a test installed.
DebugOutput& debug_output();
// Tests: install a fake (nullptr puts the platform's own back).
void SetDebugOutputForTest(DebugOutput* fake);

inline void WriteDebugOutput(const std::string& text) { debug_output().Write(text); }

}  // namespace platform
