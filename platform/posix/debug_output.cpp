#include "platform/debug_output.h"

#include "platform/environment.h"
#include "platform/terminal.h"

namespace platform {
namespace {

class StderrDebugOutput : public DebugOutput {
 public:
  void Write(const std::string& text) override {
    if (ReadEnv("OLVEX_DEBUG_OUTPUT").value_or("").empty()) return;
    WriteError(text);
  }
};

}  // namespace

DebugOutput& PlatformDebugOutput() {
  static StderrDebugOutput instance;
  return instance;
}

}  // namespace platform
