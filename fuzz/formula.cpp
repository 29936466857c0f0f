// Fuzzes the formula evaluator with arbitrary formula texts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/formula_guard.h"
#include "vars/formula.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  olvex::fuzz::SilenceDialogs();
  std::string formula(reinterpret_cast<const char*>(data), size);
  if (olvex::fuzz::StartsPrograms(formula)) return 0;
  olvex::FormulaResult result = olvex::EvaluateFormula(formula);
  // Values hold at most 4095 characters; only an unevaluated formula comes back whole.
  if (result.text.size() > 4095 + 64 && result.text != formula) __builtin_trap();
  return 0;
}
