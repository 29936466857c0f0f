#pragma once
// What the formula fuzzers keep away from the desktop: message boxes answer at
// once without showing anything, and texts that would start programs (RUN()
// names a program from the input) are not evaluated.
#include <cstddef>
#include <string>

#include "platform/dialogs.h"

namespace olvex::fuzz {

class SilentDialogs : public platform::Dialogs {
 public:
  int ShowMessage(const std::string&, const std::string&, unsigned style) override {
    return platform::box::DefaultAnswer(style);
  }
};

inline void SilenceDialogs() {
  static SilentDialogs dialogs;
  platform::SetDialogsForTest(&dialogs);
}

inline bool StartsPrograms(const std::string& text) {
  for (std::size_t i = 0; i + 4 <= text.size(); ++i) {
    auto lower = [&](std::size_t k) { return static_cast<char>(text[i + k] | 0x20); };
    if (lower(0) == 'r' && lower(1) == 'u' && lower(2) == 'n' && text[i + 3] == '(') return true;
  }
  return false;
}

}  // namespace olvex::fuzz
