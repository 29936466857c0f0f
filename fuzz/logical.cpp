// Fuzzes logical expressions (IF Expression, While) with arbitrary texts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/formula_guard.h"
#include "vars/formula.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  olvex::fuzz::SilenceDialogs();
  std::string expression(reinterpret_cast<const char*>(data), size);
  if (olvex::fuzz::StartsPrograms(expression)) return 0;
  bool truth = olvex::EvaluateLogical(expression);
  // A lone term without an operator is true exactly when something other than
  // white space and zeros is in it.
  if (expression.find_first_of("=<>!|&") == std::string::npos) {
    bool expected = expression.find_first_not_of(" \t\r\n0") != std::string::npos;
    if (truth != expected) __builtin_trap();
  }
  return 0;
}
