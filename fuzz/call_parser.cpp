// Fuzzes the parser of library-call texts and the constant substitution
// that runs before it, with arbitrary texts. Nothing is called.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/formula_guard.h"
#include "system/library_calls.h"
#include "system/win_constants.h"

namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  olvex::fuzz::SilenceDialogs();
  std::string text(reinterpret_cast<const char*>(data), size);
  olvex::SubstituteConstants(text);
  olvex::ParsedCall call;
  std::string error;
  if (!olvex::ParseCall(text, &call, &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  // A parsed call has a name of name characters and at most one argument per comma.
  if (call.name.empty() || call.name.size() > 127) __builtin_trap();
  for (char c : call.name)
    if (!IsNameChar(c)) __builtin_trap();
  std::size_t commas = 0;
  for (char c : text) commas += c == ',';
  if (call.arguments.size() > commas + 1) __builtin_trap();
  for (const olvex::CallArgument& a : call.arguments) {
    if (a.text.size() > olvex::kCallArgumentMax) __builtin_trap();
    if (a.variable.size() > 31) __builtin_trap();
  }
  return 0;
}
