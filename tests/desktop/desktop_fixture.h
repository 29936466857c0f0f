#pragma once
// A one-step document on the fake desktop: the step is built field by field
// and run through its category's handler.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/document.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "input/keyboard.h"
#include "vars/expand.h"
#include "vars/variables.h"
#include "windows/window_actions.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/case_table.h"
#include "tests/support/fake_desktop.h"

namespace olvex::test {

// The tables of the fake-desktop tests.
inline constexpr char kDesktopCases[] = "tests/desktop/desktop_cases.txt";

struct StepSpec {
  StepSpec(std::string action_, std::string text_ = "", std::string options_ = "", std::string value1_ = "",
           std::string data_ = "", int category_ = 4)
      : action(std::move(action_)), text(std::move(text_)), options(std::move(options_)),
        value1(std::move(value1_)), data(std::move(data_)), category(category_) {}
  std::string action, text, options, value1, data;
  int category;
  std::string value2, timeout;
  std::string output;  // a user variable that receives the step's output
};

// The run's current window and the main window's handle.
class DesktopHost : public ExpansionHost {
 public:
  platform::WindowId main_window = 0;
  platform::WindowId CurrentWindow() override { return static_cast<platform::WindowId>(RunShared().current_window); }
  void SetCurrentWindow(platform::WindowId w) override { RunShared().current_window = static_cast<std::intptr_t>(w); }
  std::optional<std::uint64_t> MainWindowPart(std::string_view part) override {
    return part == "hwnd" ? std::optional<std::uint64_t>(main_window) : std::nullopt;
  }
};

// One step at a time on the real desktop services.
class StepFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExpansionHost(&host);
    CloseAllDocuments();
    SetLogLevel(2);
    SetLogObserver([this](const std::string& line) { log.push_back(line); });
    RunShared().held_keys = 0;
    RunShared().current_window = 0;
  }
  void TearDown() override {
    SetExpansionHost(nullptr);
    SetLogObserver(nullptr);
    SetLogLevel(0);
    RunShared().held_keys = 0;
    RunShared().current_window = 0;
    CloseAllDocuments();
  }
  // Runs one step through `handler`; the step error is left in `error`.
  int Run(int (*handler)(int, int), const StepSpec& spec) {
    ScriptDocument& doc = Document(0);
    doc.steps.clear();
    Step step;
    step.action = spec.action;
    step.text = spec.text;
    step.options = spec.options;
    step.category = spec.category;
    step.set_value(1, spec.value1);
    step.set_data(spec.data);
    step.set_value(2, spec.value2);
    step.set_timeout(spec.timeout);
    if (!spec.output.empty()) {
      step.set_output("Variable");
      step.set_output_option(spec.output);
    }
    doc.steps.push_back(step);
    doc.file_name = "desktop.oxm";
    ClearStepError();
    const int result = handler(0, 0);
    error = StepError();
    return result;
  }
  // A Windows step on the window with handle `window`; its output in `out`.
  int Act(const std::string& action, const std::string& options, platform::WindowId window,
          const std::string& value1 = "", const std::string& value2 = "", const std::string& timeout = "",
          const std::string& text = "") {
    StepSpec spec(action, text, options.empty() ? "Handle" : "Handle," + options, value1, std::to_string(window), 3);
    spec.value2 = value2;
    spec.timeout = timeout;
    spec.output = "out";
    WriteUserVariable("out", "-");
    const int result = Run(HandleWindowsStep, spec);
    out = ReadUserVariable("out").value_or("");
    return result;
  }
  bool Logged(const std::string& line) const {
    for (const std::string& l : log)
      if (l == line) return true;
    return false;
  }

  DesktopHost host;
  StoreSandbox sandbox;
  std::vector<std::string> log;
  std::string error, out;
};

// The same on the recording fakes; the main window is 109 and pauses are recorded as "P<ms>".
class DesktopFixture : public StepFixture {
 protected:
  void SetUp() override {
    StepFixture::SetUp();
    host.main_window = 109;
    SetKeyboardPauseForTest([this](int ms) { keys.events.push_back("P" + std::to_string(ms)); });
  }
  void TearDown() override {
    SetKeyboardPauseForTest(nullptr);
    StepFixture::TearDown();
  }
  // The calls the windows service received, "; " between them.
  std::string Calls() const {
    std::string joined;
    for (const std::string& c : desktop.calls) joined += (joined.empty() ? "" : "; ") + c;
    return joined;
  }
  FakeDesktop desktop;
  FakeKeyboard keys;
  FakeClipboard clipboard;
};

}  // namespace olvex::test
