#pragma once
// The text operations of the Data category, over expanded step fields. Every
// operation is binary-safe: its inputs and its result may hold any byte,
// zero bytes included.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace olvex {

// The three scramblers of Encrypt Text and Decrypt Text. They are reversible
// scrambling kept for existing scripts, not encryption.
//
// Each byte rotated within 8 bits by the code of the key's next byte (the key
// repeats) taken as a signed 8-bit count; a count of 0 or less leaves the
// byte alone. Left when `encrypt`, right otherwise.
void RotateBytes(std::string& text, std::string_view key, bool encrypt);
// Each byte whose code lies in low..high moved up (encrypt) or down by the
// code of the key's next byte (signed 8-bit) and brought back into the range;
// the key advances only on bytes in the range.
void ShiftInRange(std::string& text, std::string_view key, bool encrypt, int low, int high);
// Each byte XORed with the key's next byte (the key repeats).
void XorBytes(std::string& data, std::string_view key);

// The fields of a Data step that the text operations read, already expanded
// (except `raw_text` and `raw_value1`, as the step holds them).
struct TextStep {
  std::string_view action;
  std::string_view options;
  std::string text, value1, value2, value3;
  std::string_view raw_text, raw_value1;
  // No result may be longer than this (a step asking for more fails).
  std::size_t max_result = 512000000;
  // Reads a user variable's stored bytes (Decrypt Text with XOR); nothing when missing.
  std::function<std::optional<std::string>(std::string_view name)> read_variable;
};

struct TextOutcome {
  int result = 1;      // 1 success, 0 failure
  std::string output;  // the step's output, saved also when the step fails
  bool save = true;    // false: nothing is saved (the step failed early)
  std::string error;   // the step error message of a failure (may be empty)
  // The operations from Get Length on write a zero byte of their result as
  // "{\00}" and warn when the step saves its output nowhere.
  bool text_function = false;
};

// True when the action name is one of the text operations.
bool IsTextOperation(std::string_view action);
// Runs the text operation the action names.
TextOutcome RunTextOperation(const TextStep& step);

// Items of `text` cut at `separator`: item `number` (1-based), nothing when
// there are fewer. With `quotes`, a separator inside "double quotes" does
// not cut and the quotes are dropped ("" inside them is one quote); the
// separator matches with regard to case only when `with_case`.
std::optional<std::string> ListItem(std::string_view text, std::string_view separator, int number, bool quotes,
                                    bool with_case);

// Format Number's printf-style format: the first conversion takes the
// argument, the others are written as they stand; "%%" is one "%".
struct FormatArgument {
  enum Kind { kInteger, kReal, kText } kind = kInteger;
  std::int32_t integer = 0;
  double real = 0;
  std::string_view text;
};
std::string FormatWith(std::string_view format, const FormatArgument& argument);

}  // namespace olvex
