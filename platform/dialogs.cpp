#include "platform/dialogs.h"

namespace platform {

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
