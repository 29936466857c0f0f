#pragma once
// User variables and memory slots.
//
// A user variable is a string value of the key
// HKEY_CURRENT_USER\SOFTWARE\Olvex\UserVariables named after the variable
// (without the `%` that step fields put in front): the bytes of the value
// and a terminating zero. Variables
// outlive the run and are shared by every runtime instance of the user.
// Memory slots {1} to {9} are nine texts held in this process only.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace olvex {

constexpr std::string_view kUserVariablesKey = "SOFTWARE\\Olvex\\UserVariables";
constexpr std::size_t kMaxVariableName = 63;
constexpr int kMemorySlots = 9;

// ---- names
// Letters, digits and _ . [ ] { } %.
bool IsVariableNameChar(char c);
// The leading run of name characters of a field, at most 63 of them.
std::string VariableNameRun(std::string_view field);
// The slot number of a field of the form {N} (N from 1 to 9); 0 otherwise.
int MemorySlotOf(std::string_view field);

// ---- user variables (a leading % of the name is dropped)
bool WriteUserVariable(std::string_view name, std::string_view data);
// The value's bytes without the terminating zero; nothing when missing or unreadable.
std::optional<std::string> ReadUserVariable(std::string_view name);
bool DeleteUserVariable(std::string_view name);
// True when `reference` is a plain "%name" (no index, slot or second '%') and
// no user variable of exactly that name exists: a counter that starts from 0,
// where expanding it would give a shorter variable's value with the rest of
// the name after it (%count2 as "10" + "2" while %count is 10).
bool IsMissingPlainVariable(std::string_view reference);
// Deletes every user variable (the whole key) and asks the main window to
// clear its list of variables.
void ResetUserVariables();
// The main window's hook, called by ResetUserVariables.
void SetVariablesListClearer(std::function<void()> clear);
// True when at least one user variable exists.
bool AnyUserVariables();
// Removes this program's spill files ("SOFTWARE_Olvex*.dat") from the temporary folder.
std::size_t RemoveUserVariableSpillFiles();

// ---- memory slots 1..9
void SetMemorySlot(int slot, std::string_view data);
std::optional<std::string> ReadMemorySlot(int slot);
void FreeMemorySlot(int slot);
void FreeAllMemorySlots();

// ---- expansion of variables in step fields
// kKeepEscapes is the full expansion that leaves {\XX} escapes as written
// (Set Variable's default mode: a stored value keeps them until it is used).
enum class ExpandMode { kFull, kSingle, kKeepEscapes };
struct ExpandContext {
  int slot = 0;        // the script document
  int step_index = 0;
};
// The expander in force. Until one is installed, expansion copies the text,
// except that a formula (first non-blank character `=`, not in single mode,
// no "SUM(", holding a digit, `(` or `&`) is evaluated: its result text, or
// its number with at most 15 significant digits, replaces the text.
using Expander = std::function<std::string(const ExpandContext&, std::string_view text, ExpandMode mode)>;
void SetExpander(Expander expander);  // an empty function puts the copying one back
// Tests: an evaluator in place of EvaluateFormula (the formula text with its
// `=` in, the result text out); an empty function puts EvaluateFormula back.
using FormulaEvaluator = std::function<std::string(std::string_view formula)>;
void SetFormulaEvaluator(FormulaEvaluator evaluator);
bool IsFormula(std::string_view text);
std::string Expand(const ExpandContext& context, std::string_view text, ExpandMode mode = ExpandMode::kFull);
// Expands into a caller's buffer of `size` bytes: the result is cut to `size` - 1 characters.
std::string ExpandIntoBuffer(const ExpandContext& context, std::string_view text, std::size_t size);

// ---- the Variable destination of a step's output
// Saves data to what `output` / `output_option` name when that is a memory
// slot ({N} with an output beginning with M or V) or a user variable (an
// output beginning with V). Returns false when the destination is another
// kind, which the output saving of the run engine serves. Log lines go to `log`.
bool SaveToVariableDestination(const ExpandContext& context, std::string_view output, std::string_view output_option,
                               std::string_view data, const std::function<void(const std::string&)>& log);

// ---- environment variables
// Sets (or, with an empty value, removes) a variable of the process and the
// values of that name in the keys HKEY_CURRENT_USER\Environment and
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment,
// then tells the other programs. Every `%` of the name is dropped. The result
// is that of the process change; `error` gets the system's text on failure.
bool SetEnvironmentVariableEverywhere(std::string_view name, std::string_view value, std::string* error);

}  // namespace olvex
