#include "platform/debug_output.h"

#include <windows.h>

namespace platform {
namespace {

class Win32DebugOutput : public DebugOutput {
 public:
  void Write(const std::string& text) override { OutputDebugStringA(text.c_str()); }
};

}  // namespace

DebugOutput& PlatformDebugOutput() {
  static Win32DebugOutput instance;
  return instance;
}

}  // namespace platform
