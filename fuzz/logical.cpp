// Fuzzes logical expressions (IF Expression, While) with arbitrary texts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/dialogs.h"
#include "vars/formula.h"

namespace {

// Message boxes answer at once and show nothing.
class SilentDialogs : public platform::Dialogs {
 public:
  int ShowMessage(const std::string&, const std::string&, unsigned style) override {
    return platform::box::DefaultAnswer(style);
  }
};

// RUN( would start programs named by the input: such inputs are skipped.
bool StartsPrograms(const std::string& text) {
  for (std::size_t i = 0; i + 4 <= text.size(); ++i) {
    auto lower = [&](std::size_t k) { return static_cast<char>(text[i + k] | 0x20); };
    if (lower(0) == 'r' && lower(1) == 'u' && lower(2) == 'n' && text[i + 3] == '(') return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static SilentDialogs dialogs;
  platform::SetDialogsForTest(&dialogs);
  std::string expression(reinterpret_cast<const char*>(data), size);
  if (StartsPrograms(expression)) return 0;
  bool truth = olvex::EvaluateLogical(expression);
  // A lone term without an operator is true exactly when something other than
  // white space and zeros is in it.
  if (expression.find_first_of("=<>!|&") == std::string::npos) {
    bool expected = expression.find_first_not_of(" \t\r\n0") != std::string::npos;
    if (truth != expected) __builtin_trap();
  }
  return 0;
}
