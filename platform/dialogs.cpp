#include "platform/dialogs.h"

#include <mutex>

namespace platform {
namespace {

std::mutex g_hooks_mutex;
RunHooks g_hooks;

}  // namespace

void SetRunHooks(RunHooks hooks) {
  std::lock_guard<std::mutex> lock(g_hooks_mutex);
  g_hooks = std::move(hooks);
}

RunHooks CurrentRunHooks() {
  std::lock_guard<std::mutex> lock(g_hooks_mutex);
  return g_hooks;
}

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
