#pragma once
// Expansion of a step field: user variables (%name), memory slots ({1}..{9}),
// loop and repeat counters, system variables ({TODAY}, {WINDOW},
// {step[3].text}, ...), character escapes, the clipboard and formulas
// (a text whose first non-blank character is `=`).
//
// The passes run in a fixed order over the text left by the previous one;
// within one pass an inserted value is never scanned again.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/windows.h"
#include "vars/formula.h"

namespace olvex {

// Mode flags.
constexpr int kExpandNone = 1;         // a plain copy of the input
constexpr int kExpandKeepEscapes = 2;  // {\XX} hexadecimal escapes stay as written
constexpr int kExpandSingle = 4;       // no system variables, {\r}-style escapes or formula

constexpr char kPercentPlaceholder = '\xFF';  // a doubled %% while the passes run
constexpr char kFormulaMarker = '\x02';       // brackets a reference inside a formula

// What the run engine knows and expansion reads. Every answer has a default
// for "no run": no loop, no repeat, no prompt answered, nothing logged.
class ExpansionHost {
 public:
  virtual ~ExpansionHost() = default;
  // The value of the innermost running loop of script `slot`; nothing when none runs.
  virtual std::optional<double> LoopValue(int /*slot*/) { return std::nullopt; }
  // The run's repeat counter.
  virtual std::optional<long> RepeatCount() { return std::nullopt; }
  // The button or command that closed the last prompt, and its id.
  virtual std::optional<std::string> LastCommand() { return std::nullopt; }
  virtual std::optional<int> LastCommandId() { return std::nullopt; }
  virtual std::optional<std::string> CommandLine() { return std::nullopt; }
  virtual std::optional<std::string> LogFile() { return std::nullopt; }
  // The current window of the run (0: none chosen yet) and its setter.
  virtual platform::WindowId CurrentWindow() { return current_window_; }
  virtual void SetCurrentWindow(platform::WindowId window) { current_window_ = window; }
  // Handles of the main window's parts, by name: "hwnd", "output", "list", "status", "menu".
  virtual std::optional<std::uint64_t> MainWindowPart(std::string_view /*part*/) { return std::nullopt; }
  // The run log.
  virtual int LogLevel() { return 0; }
  virtual void Log(const std::string& /*line*/) {}

 private:
  platform::WindowId current_window_ = 0;
};
// The host in force (a default one until the run engine installs its own).
ExpansionHost& expansion_host();
// nullptr puts the default back.
void SetExpansionHost(ExpansionHost* host);

// The symbolic constants of the library-call language (MB_OK, IDYES, ...):
// a pass that replaces them in place. Nothing is replaced until one is installed.
using ConstantsPass = std::function<void(std::string& text)>;
void SetConstantsPass(ConstantsPass pass);

// Tests and fuzzers: an evaluator in place of EvaluateFormula for the formula
// pass (the text from its `=` in); an empty function puts EvaluateFormula back.
using ExpandFormulaEvaluator = std::function<FormulaResult(std::string_view formula)>;
void SetExpandFormulaEvaluator(ExpandFormulaEvaluator evaluator);

// Expands `text` for script `slot` (0..7) and step `step_index` (0-based)
// into the shared expansion result and returns it: callers copy what they
// keep, for the next expansion replaces it. `length`, when given, gets the
// result's byte length (0 while the expansion runs).
const std::string& ExpandText(std::string_view text, int slot, int step_index, int flags, std::size_t* length = nullptr);
// A step's `timeout` field: expanded, read as a formula in seconds, in whole
// milliseconds (at most INT_MAX); 0 when empty or not above 0.
int TimeoutFieldMs(std::string_view field, int slot, int step_index);
// The result of the latest ExpandText.
const std::string& ExpansionResult();
// Expands into a caller's buffer of `size` bytes (the result cut to
// `size` - 1 bytes), leaving the shared expansion result as it was.
std::string ExpandIntoBuffer(std::string_view text, int slot, int step_index, std::size_t size);

// Installs ExpandText as the expander of the variable actions and output
// saving (full mode: flags 0; single mode: flag 4).
void InstallExpander();

// The replace-all of every pass: each occurrence of `name`, compared without
// regard to case, becomes `value`; scanning goes on after the inserted value.
// The text grows at most once. Returns the number of replacements.
std::size_t ReplaceAll(std::string& text, std::string_view name, std::string_view value);

// Store calls made by the user-variable pass since the last reset (benchmarks).
struct ExpandStoreCalls {
  std::size_t listings = 0;
  std::size_t reads = 0;
};
ExpandStoreCalls ExpandStoreCallCount();
void ResetExpandStoreCallCount();

// The login password as it is stored: each byte rotated left by the code of
// the key "MOXIEWARP"'s character at the same position; Unscramble reverses it.
std::string ScramblePassword(std::string text);
std::string UnscramblePassword(std::string text);

}  // namespace olvex
