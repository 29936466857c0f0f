#include "platform/dialogs.h"

#include <atomic>

namespace platform {

Dialogs& PlatformDialogs();  // the backend's own service

namespace {
std::atomic<Dialogs*> g_dialogs_override{nullptr};
}

Dialogs& dialogs() {
  Dialogs* fake = g_dialogs_override.load(std::memory_order_acquire);
  return fake ? *fake : PlatformDialogs();
}

void SetDialogsForTest(Dialogs* fake) { g_dialogs_override.store(fake, std::memory_order_release); }

int box::DefaultAnswer(unsigned style) {
  static const int kButtons[6][3] = {
      {kAnswerOk, kAnswerOk, kAnswerOk},
      {kAnswerOk, kAnswerCancel, kAnswerCancel},
      {kAnswerAbort, kAnswerRetry, kAnswerIgnore},
      {kAnswerYes, kAnswerNo, kAnswerCancel},
      {kAnswerYes, kAnswerNo, kAnswerNo},
      {kAnswerRetry, kAnswerCancel, kAnswerCancel},
  };
  unsigned buttons = style & kButtonsMask;
  if (buttons > 5) buttons = 0;
  int which = (style & kDefaultButton3) ? 2 : (style & kDefaultButton2) ? 1 : 0;
  return kButtons[buttons][which];
}

}  // namespace platform
