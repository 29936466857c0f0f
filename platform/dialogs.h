#pragma once
// Dialogs shown to the user. The service is an interface so that tests can
// put a recording fake in place of the real one (SetDialogsForTest).
#include <string>

namespace platform {

// Message box styles and answers; the numbers are those of the Win32 API.
namespace box {
constexpr unsigned kOk = 0x0, kOkCancel = 0x1, kAbortRetryIgnore = 0x2, kYesNoCancel = 0x3,
                   kYesNo = 0x4, kRetryCancel = 0x5;
constexpr unsigned kButtonsMask = 0xF;
constexpr unsigned kIconStop = 0x10, kIconQuestion = 0x20, kIconExclamation = 0x30,
                   kIconInformation = 0x40;
constexpr unsigned kDefaultButton2 = 0x100, kDefaultButton3 = 0x200;
constexpr unsigned kTaskModal = 0x2000, kSetForeground = 0x10000, kTopmost = 0x40000;

constexpr int kAnswerOk = 1, kAnswerCancel = 2, kAnswerAbort = 3, kAnswerRetry = 4,
              kAnswerIgnore = 5, kAnswerYes = 6, kAnswerNo = 7;

// The answer a box gives when nobody is there to press a button.
int DefaultAnswer(unsigned style);
}  // namespace box

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Shows a modal message box; returns the answer (box::kAnswer...).
  virtual int ShowMessage(const std::string& text, const std::string& title, unsigned style) = 0;
};

// The dialogs service in force: the platform's own, or the one a test installed.
Dialogs& dialogs();
// Tests: install a fake (nullptr puts the platform's own back).
void SetDialogsForTest(Dialogs* fake);

}  // namespace platform
