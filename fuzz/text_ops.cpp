// Fuzzes the text operations of the Data category. The input's first byte
// picks the operation, the next eight choose option words (one bit each),
// and the rest, split at the byte 0xFF, gives the text, value1, value2,
// value3 and more options; every other byte, zero included, is data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/text_ops.h"
#include "fuzz/formula_guard.h"

namespace {

constexpr std::string_view kActions[] = {
    "Encrypt Text", "Decrypt Text", "Sort", "Binary Data", "Get Length", "Count Items", "Find", "Get Sub String",
    "Mid String", "Chop", "Insert", "Replace", "Replace Text", "Random Text", "Contains", "Find Text",
    "Change Case", "Trim", "Pad Text", "Left Text String", "Right Text String", "Format Number", "Number to Words",
    "Random Number", "Clock Ticks to Text", "Get Weekday", "Date Add", "Date Difference", "Time Add",
    "Time Difference", "Nothing"};
constexpr std::string_view kWords[] = {
    "ASCII", "Bit", "XOR", "Len", "Short", "Long", "Char", "A-Z", "Z-A", "Des", "Column", "Convert", "{\\", "HEX",
    "SENSITIVE", " Insensitive", "Quote", "Sensi", "Before", "Including", "First", "Last", "After", "BINARY",
    "CASE SENSITIVE", "Only", "Any", "Insens", "UP", "LOW", "TITLE", "White", "Front", "End", "Year", "Month", "Week",
    "Compar", "Diff", "Hour", "Minute", "a-z", "0-9", "a-z,A-Z,0-9,\\r\\n"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  olvex::fuzz::SilenceDialogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9 || size > 8192) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view action = kActions[static_cast<unsigned char>(input[0]) % std::size(kActions)];
  std::uint64_t bits = 0;
  for (std::size_t i = 1; i < 9; ++i) bits = (bits << 8) | static_cast<unsigned char>(input[i]);
  std::vector<std::string> fields;
  for (std::size_t at = 9;;) {
    const std::size_t end = input.find('\xFF', at);
    fields.emplace_back(input.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  fields.resize(std::max<std::size_t>(fields.size(), 5));
  std::string options = fields[4];
  for (std::size_t i = 0; i < std::size(kWords); ++i)
    if (bits >> i & 1) options += std::string(kWords[i]) + " ";
  olvex::TextStep step;
  step.action = action;
  step.options = options;
  step.text = fields[0];
  step.value1 = fields[1];
  step.value2 = fields[2];
  step.value3 = fields[3];
  step.raw_text = fields[0];
  step.raw_value1 = fields[1];
  step.max_result = 1 << 20;
  step.read_variable = [&](std::string_view) { return std::optional<std::string>(fields[2]); };
  // Format Number evaluates formulas; none may start a program.
  if (action == "Format Number" && olvex::fuzz::StartsPrograms(step.text)) return 0;
  const olvex::TextOutcome outcome = olvex::RunTextOperation(step);
  if (outcome.output.size() > step.max_result + 4096) __builtin_trap();
  return 0;
}
