// Fuzzes expansion with arbitrary texts and variable sets. The input is split
// at zero bytes: the first piece is the text (its first byte picks the mode
// flags), every further piece "name=value" is a user variable of a private
// store in a temporary folder. No message box is shown and no formula that
// could start a program is evaluated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/formula_guard.h"
#include "platform/clipboard.h"
#include "platform/environment.h"
#include "vars/expand.h"
#include "vars/registry_value.h"
#include "vars/variables.h"

namespace {

class FixedClipboard : public platform::Clipboard {
 public:
  std::optional<std::string> Text() override { return std::string("clip%a{TODAY}"); }
  bool SetText(const std::string&) override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::filesystem::path root = std::filesystem::temp_directory_path() /
                               ("olvex-fuzz-expand-" + std::to_string(static_cast<unsigned long>(std::rand())));
  std::filesystem::create_directories(root / "tmp");
  platform::WriteEnv("OLVEX_REGISTRY", (root / "registry").string());
  platform::WriteEnv("TMPDIR", (root / "tmp").string());
  olvex::fuzz::SilenceDialogs();
  static FixedClipboard clipboard;
  platform::SetClipboardForTest(&clipboard);
  olvex::SetExpandFormulaEvaluator([](std::string_view formula) {
    std::string text(formula);
    if (olvex::fuzz::StartsPrograms(text)) return olvex::FormulaResult{0, "no programs here", true};
    return olvex::EvaluateFormula(text);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> pieces;
  for (std::size_t at = 0;;) {
    std::size_t zero = input.find('\0', at);
    pieces.push_back(input.substr(at, zero == std::string_view::npos ? std::string_view::npos : zero - at));
    if (zero == std::string_view::npos) break;
    at = zero + 1;
  }
  if (pieces.size() > 9) return 0;
  olvex::RegistryDeleteKeyAt(std::string(olvex::kUserVariablesKey));
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    std::size_t eq = pieces[i].find('=');
    if (eq == 0 || eq == std::string_view::npos || eq > olvex::kMaxVariableName) continue;
    olvex::WriteUserVariable(pieces[i].substr(0, eq), pieces[i].substr(eq + 1));
  }
  olvex::SetMemorySlot(1, "slot%a");
  std::string_view text = pieces[0];
  int flags = text.empty() ? 0 : (static_cast<unsigned char>(text.front()) & 7);
  if (!text.empty()) text.remove_prefix(1);
  std::size_t length = 0;
  std::string result = olvex::ExpandText(text, 0, 0, flags, &length);  // a copy: the next call replaces it
  if (length != result.size()) __builtin_trap();
  if ((flags & olvex::kExpandNone) && result != text) __builtin_trap();
  std::string kept = olvex::ExpandIntoBuffer(text, 0, 0, 16);
  if (kept.size() > 15 || olvex::ExpansionResult() != result) __builtin_trap();
  return 0;
}
