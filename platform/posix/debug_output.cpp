#include "platform/debug_output.h"

#include <cstdio>

#include "platform/environment.h"

namespace platform {
namespace {

class StderrDebugOutput : public DebugOutput {
 public:
  void Write(const std::string& text) override {
    if (ReadEnv("OLVEX_DEBUG_OUTPUT").value_or("").empty()) return;
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }
};

}  // namespace

DebugOutput& PlatformDebugOutput() {
  static StderrDebugOutput instance;
  return instance;
}

}  // namespace platform
