#pragma once
// Dialogs shown to the user. The service is an interface so that tests can
// put a recording fake in place of the real one (SetDialogsForTest).
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Message box styles and answers; the numbers are those of the Win32 API.
namespace box {
constexpr unsigned kOk = 0x0, kOkCancel = 0x1, kAbortRetryIgnore = 0x2, kYesNoCancel = 0x3,
                   kYesNo = 0x4, kRetryCancel = 0x5;
constexpr unsigned kButtonsMask = 0xF;
constexpr unsigned kIconStop = 0x10, kIconQuestion = 0x20, kIconExclamation = 0x30,
                   kIconInformation = 0x40;
constexpr unsigned kDefaultButton2 = 0x100, kDefaultButton3 = 0x200;
constexpr unsigned kSystemModal = 0x1000, kTaskModal = 0x2000, kSetForeground = 0x10000, kTopmost = 0x40000;

constexpr int kAnswerOk = 1, kAnswerCancel = 2, kAnswerAbort = 3, kAnswerRetry = 4,
              kAnswerIgnore = 5, kAnswerYes = 6, kAnswerNo = 7;

// The answer a box gives when nobody is there to press a button.
int DefaultAnswer(unsigned style);
}  // namespace box

// The prompts a script shows: input dialogs, lists, login, dates, files and folders.
enum class InputKind { kLine, kMultiLine, kList, kMultiList, kLogin, kDate, kOpenFile, kSaveFile, kOpenFiles, kFolder };

namespace prompt_flag {
constexpr unsigned kTop = 0x1, kCourier = 0x2, kReadOnly = 0x4, kDrive = 0x20, kFixed = 0x40, kSize1x2 = 0x80,
                   kSize2x1 = 0x100, kSize2x2 = 0x200, kSize2x3 = 0x400, kSize3x4 = 0x800;
}  // namespace prompt_flag

struct DialogRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const DialogRect&) const = default;
};

struct InputRequest {
  InputKind kind = InputKind::kLine;
  std::string title, prompt;
  std::string initial;                // the default answer, the login's user name, the starting file or folder
  std::vector<std::string> choices;   // lists
  std::vector<std::pair<std::string, std::string>> filters;  // files: description, pattern
  int timeout_ms = 0;                 // > 0: the dialog ends as OK when the time runs out
  unsigned flags = 0;                 // prompt_flag::k...
  std::optional<DialogRect> position; // where the dialog last stood
  int year = 0, month = 0, day = 0;   // dates: the day chosen first (0: today)
};

struct InputReply {
  bool ok = false;                    // OK (also by the time-out); false: Cancel
  bool stopped = false;               // the stop key ended the prompt
  std::string answer;                 // by kind: the text, "user;password", the item(s), the date, the path(s)
  std::optional<DialogRect> position; // where the dialog stood when it closed
  std::string error;                  // not empty: the prompt could not be shown
};

// The custom dialog: up to five rows, each a field, label, check box, button,
// drop-down list or link.
enum class RowKind { kNone, kEdit, kPassword, kLabel, kFile, kFolder, kCheck, kButton, kList, kLink };

struct CustomRow {
  RowKind kind = RowKind::kNone;
  std::string text;                  // the label, caption or link text
  std::string value;                 // fields: the default; lists: the entry chosen first; links: the target
  bool checked = false;              // check boxes
  std::vector<std::string> choices;  // lists
};

struct CustomDialogRequest {
  std::string title;
  std::vector<CustomRow> rows;
  bool center = false, top = false;
  int timeout_ms = 0;  // > 0: the dialog ends as Cancel when the time runs out
};

namespace custom_dialog {
constexpr int kOk = 1, kCancel = 2, kFirstRowButton = 1175, kLastRowButton = 1179;
}  // namespace custom_dialog

struct CustomDialogReply {
  int result = custom_dialog::kCancel;  // kOk, kCancel, or the row button pressed (1175 + row)
  // Per row, its value ("checked"/"false" for a check box, the text of a
  // field, the entry of a list, a button's caption, a label's text); nothing
  // for an empty row.
  std::vector<std::optional<std::string>> values;
  bool stopped = false;
  std::string error;
};

// The non-modal displays: the status and progress popups, the screen message,
// balloons, the tray icon and the image popup.
enum class NoticeKind { kStatus, kProgress, kScreenMessage, kBalloon, kFloatingBalloon, kTrayIcon, kImage };

struct Notice {
  NoticeKind kind = NoticeKind::kStatus;
  std::string title, text;  // an empty text closes (the tray icon: removes) the display
  int timeout_ms = 0;       // > 0: the display closes by itself
  bool top = false;
  int x = -1, y = -1;       // the position; -1: the default (centred, or at the cursor)
  int width = 0, height = 0;
  int percent = 0;          // progress popups: the bar's position, 0 to 100
  bool track = false;       // floating balloons: follow the mouse
  std::string icon_file;    // the tray icon: the script's file (a program's first icon is the picture)
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Shows a modal message box; returns the answer (box::kAnswer...).
  virtual int ShowMessage(const std::string& text, const std::string& title, unsigned style) = 0;
  // A script's message box: closed by the time-out (> 0) it answers 0; the
  // stop key answers -1.
  virtual int ShowPrompt(const std::string& text, const std::string& title, unsigned style, int timeout_ms) {
    return ShowMessage(text, title, style);
  }
  // Input dialogs; a service without them reports an error.
  virtual InputReply ShowInput(const InputRequest& request) {
    InputReply reply;
    reply.error = "Input dialogs are not available";
    return reply;
  }
  virtual CustomDialogReply ShowCustomDialog(const CustomDialogRequest& request) {
    CustomDialogReply reply;
    reply.error = "The custom dialog is not available";
    return reply;
  }
  // A non-modal display; an empty text closes the display of that kind.
  // Services without a desktop write it as a line.
  virtual void ShowNotice(const Notice& notice) {}
  // False when nobody can answer a prompt (no terminal on Linux).
  virtual bool PersonCanAnswer() { return true; }
};

// What the dialogs ask of the run (the prompts install them): whether the run
// is asked to stop, polled while a prompt is open (the prompt then closes at
// once and reports `stopped`); how the tray menu's "Stop Script" stops it;
// the script's file name that the tray menu shows.
struct RunHooks {
  std::function<bool()> stop_wanted;
  std::function<void()> stop;
  std::function<std::string()> script_name;
};
void SetRunHooks(RunHooks hooks);
RunHooks CurrentRunHooks();

// The dialogs service in force: the platform's own, or the one a test installed.
Dialogs& dialogs();
// Tests: install a fake (nullptr puts the platform's own back).
void SetDialogsForTest(Dialogs* fake);

}  // namespace platform
