// Message boxes without a desktop: the box is written to standard error. On a
// terminal the user answers on the console; otherwise the default button is taken.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>

#include "platform/dialogs.h"

namespace platform {
namespace {

struct Button {
  char key;
  const char* label;
  int answer;
};

int ButtonsOf(unsigned style, Button out[3]) {
  using namespace box;
  switch (style & kButtonsMask) {
    case kOkCancel: out[0] = {'o', "[O]K", kAnswerOk}; out[1] = {'c', "[C]ancel", kAnswerCancel}; return 2;
    case kAbortRetryIgnore:
      out[0] = {'a', "[A]bort", kAnswerAbort}; out[1] = {'r', "[R]etry", kAnswerRetry};
      out[2] = {'i', "[I]gnore", kAnswerIgnore}; return 3;
    case kYesNoCancel:
      out[0] = {'y', "[Y]es", kAnswerYes}; out[1] = {'n', "[N]o", kAnswerNo};
      out[2] = {'c', "[C]ancel", kAnswerCancel}; return 3;
    case kYesNo: out[0] = {'y', "[Y]es", kAnswerYes}; out[1] = {'n', "[N]o", kAnswerNo}; return 2;
    case kRetryCancel: out[0] = {'r', "[R]etry", kAnswerRetry}; out[1] = {'c', "[C]ancel", kAnswerCancel}; return 2;
    default: out[0] = {'o', "[O]K", kAnswerOk}; return 1;
  }
}

class ConsoleDialogs : public Dialogs {
 public:
  int ShowMessage(const std::string& text, const std::string& title, unsigned style) override {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(stderr);
    int fallback = box::DefaultAnswer(style);
    if (!::isatty(STDIN_FILENO)) return fallback;
    Button buttons[3];
    int n = ButtonsOf(style, buttons);
    if (n == 1) {
      std::fprintf(stderr, "Press Enter to continue.\n");
      std::string line;
      std::getline(std::cin, line);
      return fallback;
    }
    for (;;) {
      for (int i = 0; i < n; ++i) std::fprintf(stderr, "%s%s", i ? " " : "", buttons[i].label);
      std::fprintf(stderr, "? ");
      std::fflush(stderr);
      std::string line;
      if (!std::getline(std::cin, line)) return fallback;
      if (line.empty()) return fallback;
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
      for (int i = 0; i < n; ++i)
        if (buttons[i].key == c) return buttons[i].answer;
    }
  }
};

}  // namespace

Dialogs& PlatformDialogs() {
  static ConsoleDialogs instance;
  return instance;
}

}  // namespace platform
