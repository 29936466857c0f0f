#pragma once
// Helpers shared by the test programs.
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/dialogs.h"

namespace olvex::test {

// A folder of its own below the temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Path of `name` inside the folder, as the runtime's 8-bit text.
  std::string File(const std::string& name) const;
  // Writes `bytes` to `name` and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

std::string ReadBytes(const std::string& path);

// Script text: one step with its action, text and further fields; a step's
// output into a variable; a step's options.
inline std::string StepText(const std::string& action, const std::string& text, const std::string& extra = "") {
  return "<step><action>" + action + "</action><text>" + text + "</text>" + extra + "</step>\n";
}
inline std::string VariableOutput(const std::string& variable) {
  return "<output value=\"" + variable + "\">Variable</output>";
}
inline std::string OptionsField(const std::string& options) { return "<options>" + options + "</options>"; }

// Runs the script of slot 0 as a run with the main loop served on the calling
// thread, `meanwhile` on a thread of its own from the start; the run's time.
std::chrono::steady_clock::duration RunLoadedScript(const std::function<void()>& meanwhile = {});

// Path of a program of the build beside the test program, with the test
// program's extension ("olvex-reg": olvex-reg or olvex-reg.exe).
std::string BuiltProgram(const std::string& name);
// Path of the built runtime (olvex or olvex.exe beside the test program).
inline std::string RuntimePath() { return BuiltProgram("olvex"); }

struct ChildResult {
  int exit_code = -1;
  bool timed_out = false;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs a program with standard input closed and waits for it at most `timeout`.
ChildResult RunChild(const std::vector<std::string>& args,
                     std::chrono::milliseconds timeout = std::chrono::seconds(60));

// A dialogs service that records every message box and answers from a script.
class RecordingDialogs : public platform::Dialogs {
 public:
  struct Box { std::string text, title; unsigned style; };
  RecordingDialogs() { platform::SetDialogsForTest(this); }
  ~RecordingDialogs() override { platform::SetDialogsForTest(nullptr); }
  int ShowMessage(const std::string& text, const std::string& title, unsigned style) override {
    boxes.push_back({text, title, style});
    if (!answers.empty()) {
      int a = answers.front();
      answers.erase(answers.begin());
      return a;
    }
    return platform::box::DefaultAnswer(style);
  }
  platform::InputReply ShowInput(const platform::InputRequest& request) override {
    inputs.push_back(request);
    if (input_replies.empty()) return {};
    platform::InputReply reply = input_replies.front();
    input_replies.erase(input_replies.begin());
    return reply;
  }
  platform::CustomDialogReply ShowCustomDialog(const platform::CustomDialogRequest& request) override {
    custom_dialogs.push_back(request);
    return custom_reply;
  }
  void ShowNotice(const platform::Notice& notice) override { notices.push_back(notice); }
  std::vector<Box> boxes;
  std::vector<int> answers;  // answers to give, in order; then the default button
  std::vector<platform::Notice> notices;
  std::vector<platform::CustomDialogRequest> custom_dialogs;
  platform::CustomDialogReply custom_reply;  // Cancel unless a test sets it
  std::vector<platform::InputRequest> inputs;
  std::vector<platform::InputReply> input_replies;  // in order; then Cancel
};

// A debugger output that records every text written to it.
class RecordingDebugOutput : public platform::DebugOutput {
 public:
  RecordingDebugOutput() { platform::SetDebugOutputForTest(this); }
  ~RecordingDebugOutput() override { platform::SetDebugOutputForTest(nullptr); }
  void Write(const std::string& text) override { texts.push_back(text); }
  std::vector<std::string> texts;
};

}  // namespace olvex::test
