#include "engine/expansion_host.h"

#include <memory>

#include "engine/control.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "prompts/prompt_actions.h"
#include "vars/expand.h"

namespace olvex {
namespace {

// Prompts keep their own answers (the defaults) until they land.
class RunExpansionHost : public ExpansionHost {
 public:
  explicit RunExpansionHost(std::string command_line) : command_line_(std::move(command_line)) {}
  std::optional<double> LoopValue(int slot) override {
    if (slot < 0 || slot >= kMaxDocuments) return std::nullopt;
    const LoopEntry& loop = InnermostLoop(slot);
    if (loop.start_step == 0) return std::nullopt;
    return loop.current;
  }
  std::optional<long> RepeatCount() override { return RunRepeats(0); }
  std::optional<std::string> CommandLine() override { return command_line_; }
  std::optional<std::string> LastCommand() override { return LastButtonName(); }
  std::optional<int> LastCommandId() override { return LastPromptResult(); }
  std::optional<std::string> LogFile() override { return LogFilePath(); }
  platform::WindowId CurrentWindow() override {
    return static_cast<platform::WindowId>(RunShared().current_window.load());
  }
  void SetCurrentWindow(platform::WindowId window) override {
    RunShared().current_window.store(static_cast<std::intptr_t>(window));
  }
  int LogLevel() override { return olvex::LogLevel(); }
  void Log(const std::string& line) override { LogText(line); }

 private:
  const std::string command_line_;
};

}  // namespace

void InstallRunExpansionHost(std::string command_line) {
  static std::unique_ptr<RunExpansionHost> host;
  auto next = std::make_unique<RunExpansionHost>(std::move(command_line));
  SetExpansionHost(next.get());
  host = std::move(next);
}

}  // namespace olvex
