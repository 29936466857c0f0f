// Prompts without a desktop: every box and dialog is written to standard
// error and, on a terminal, answered on the console (a line of input each;
// end of input, Ctrl-D, cancels). Without a terminal a message box takes its
// default button; the prompts of a script are not shown then (the prompt
// layer fails them unless an answers file answers).
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <functional>
#include <cstdio>
#include <string>

#include "platform/dialogs.h"
#include "platform/stop_key.h"
#include "platform/terminal.h"

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

enum class Got { kLine, kEnd, kTimeOut, kStopped };

void Say(const std::string& text) { WriteError(text); }

// Reads one line from standard input; a time-out (> 0) and the stop signals
// end the wait.
Got ReadLine(std::string* line, int timeout_ms) {
  line->clear();
  // The status line would be drawn over the question and what is typed.
  const struct Hold {
    Hold() { HoldStatusLine(true); }
    ~Hold() { HoldStatusLine(false); }
  } hold;
  const int signals = StopSignalCount();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  const std::function<bool()> stop_wanted = CurrentRunHooks().stop_wanted;
  for (;;) {
    if (StopSignalCount() != signals || (stop_wanted && stop_wanted())) return Got::kStopped;
    int wait = 100;
    if (timeout_ms > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return Got::kTimeOut;
      if (left < wait) wait = static_cast<int>(left);
    }
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&in, 1, wait);
    if (ready <= 0) continue;
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return line->empty() ? Got::kEnd : Got::kLine;
    if (c == '\n') {
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return Got::kLine;
    }
    line->push_back(c);
  }
}

// Asks for a line with the terminal's echo off (a password); the echo goes
// off before the question shows, so that nothing typed at once is echoed.
Got ReadSecret(const std::string& question, std::string* line, int timeout_ms) {
  termios saved{};
  const bool tty = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (tty) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  Say(question);
  const Got got = ReadLine(line, timeout_ms);
  if (tty) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  Say("\n");
  return got;
}

std::string Shown(const std::string& prompt) {
  std::size_t from = prompt.find_first_not_of("\r\n");
  return from == std::string::npos ? std::string() : prompt.substr(from);
}

std::string Bracketed(const std::string& value) { return value.empty() ? "" : " [" + value + "]"; }

// The numbers of the chosen items ("2", "1 3", "1,3"); false when one is not a choice.
bool Chosen(const std::string& line, std::size_t count, bool several, std::vector<std::size_t>* picks) {
  picks->clear();
  std::size_t i = 0;
  while (i < line.size()) {
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) {
      if (line[i] != ' ' && line[i] != ',' && line[i] != ';') return false;
      ++i;
      continue;
    }
    std::size_t n = 0;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) n = n * 10 + static_cast<std::size_t>(line[i++] - '0');
    if (n < 1 || n > count) return false;
    picks->push_back(n - 1);
  }
  return !picks->empty() && (several || picks->size() == 1);
}

class ConsoleDialogs : public Dialogs {
 public:
  int ShowMessage(const std::string& text, const std::string& title, unsigned style) override {
    Say(title + ": " + text + "\n");
    if (!::isatty(STDIN_FILENO)) return box::DefaultAnswer(style);
    const int answer = Ask(style, 0);
    return answer <= 0 ? box::DefaultAnswer(style) : answer;
  }

  int ShowPrompt(const std::string& text, const std::string& title, unsigned style, int timeout_ms) override {
    Say(title + ": " + text + "\n");
    return Ask(style, timeout_ms);
  }

  InputReply ShowInput(const InputRequest& request) override {
    InputReply reply;
    Say(request.title + ": " + Shown(request.prompt) + "\n");
    std::string line;
    const int t = request.timeout_ms;
    auto ended = [&](Got got, const std::string& on_time_out) {
      if (got == Got::kStopped) reply.stopped = true;
      if (got == Got::kTimeOut) {
        reply.ok = true;
        reply.answer = on_time_out;
      }
      return reply;
    };
    if (request.flags & prompt_flag::kReadOnly) {
      Say(request.initial + "\nPress Enter to close. ");
      const Got got = ReadLine(&line, t);
      if (got == Got::kStopped) reply.stopped = true;
      return reply;
    }
    switch (request.kind) {
      case InputKind::kList:
      case InputKind::kMultiList: {
        std::vector<std::string> choices = request.choices;
        if (choices.empty() && (request.flags & prompt_flag::kDrive)) choices.push_back("/");
        for (std::size_t i = 0; i < choices.size(); ++i) Say("  " + std::to_string(i + 1) + ") " + choices[i] + "\n");
        const bool several = request.kind == InputKind::kMultiList;
        for (;;) {
          Say(several ? "Numbers (Enter accepts, Ctrl-D cancels): " : "Number (Enter accepts, Ctrl-D cancels): ");
          const Got got = ReadLine(&line, t);
          if (got != Got::kLine) return ended(got, "");
          std::vector<std::size_t> picks;
          if (!Chosen(line, choices.size(), several, &picks)) {
            Say("Please choose " + std::string(several ? "numbers" : "a number") + " from 1 to " + std::to_string(choices.size()) + ".\n");
            continue;
          }
          reply.ok = true;
          for (std::size_t k = 0; k < picks.size(); ++k) reply.answer += (k ? ";" : "") + choices[picks[k]];
          return reply;
        }
      }
      case InputKind::kLogin: {
        Say("User name" + Bracketed(request.initial) + ": ");
        Got got = ReadLine(&line, t);
        if (got != Got::kLine) return ended(got, request.initial + ";");
        const std::string user = line.empty() ? request.initial : line;
        got = ReadSecret("Password: ", &line, t);
        if (got != Got::kLine) return ended(got, user + ";");
        reply.ok = true;
        reply.answer = user + ";" + line;
        return reply;
      }
      case InputKind::kMultiLine: {
        Say("Lines (a line with a single \".\" ends them; Ctrl-D cancels):\n");
        std::string text;
        bool first = true;
        for (;;) {
          const Got got = ReadLine(&line, t);
          if (got != Got::kLine) return ended(got, first ? request.initial : text);
          if (line == ".") break;
          text += (first ? "" : "\r\n") + line;
          first = false;
        }
        reply.ok = true;
        reply.answer = first ? request.initial : text;
        return reply;
      }
      default: {
        const char* what = request.kind == InputKind::kDate     ? "Date"
                           : request.kind == InputKind::kFolder ? "Folder"
                           : request.kind == InputKind::kLine   ? "Value"
                                                                : "File";
        Say(std::string(what) + Bracketed(request.initial) + " (Enter accepts, Ctrl-D cancels): ");
        const Got got = ReadLine(&line, t);
        if (got != Got::kLine) return ended(got, request.initial);
        reply.ok = true;
        reply.answer = line.empty() ? request.initial : line;
        return reply;
      }
    }
  }


  CustomDialogReply ShowCustomDialog(const CustomDialogRequest& r) override {
    CustomDialogReply reply;
    reply.values.resize(r.rows.size());
    Say(r.title + "\n");
    std::string line;
    const int t = r.timeout_ms;
    // End of input, the time-out and the stop key end the dialog as Cancel.
    auto ended = [&](Got got) {
      reply.stopped = got == Got::kStopped;
      reply.result = custom_dialog::kCancel;
      return reply;
    };
    std::vector<std::size_t> buttons;
    for (std::size_t i = 0; i < r.rows.size(); ++i) {
      const CustomRow& row = r.rows[i];
      std::optional<std::string>& value = reply.values[i];
      switch (row.kind) {
        case RowKind::kNone:
          break;
        case RowKind::kLabel:
        case RowKind::kLink:
          Say(row.text + (row.kind == RowKind::kLink && row.value != row.text ? " <" + row.value + ">" : "") + "\n");
          value = row.text;
          break;
        case RowKind::kButton:
          buttons.push_back(i);
          value = row.text;
          break;
        case RowKind::kCheck: {
          Say(row.text + " (y/n)" + Bracketed(row.checked ? "y" : "n") + ": ");
          const Got got = ReadLine(&line, t);
          if (got != Got::kLine) return ended(got);
          const bool on = line.empty() ? row.checked : std::tolower(static_cast<unsigned char>(line[0])) == 'y';
          value = on ? "checked" : "false";
          break;
        }
        case RowKind::kList: {
          Say(row.text + "\n");
          for (std::size_t k = 0; k < row.choices.size(); ++k) Say("  " + std::to_string(k + 1) + ") " + row.choices[k] + "\n");
          for (;;) {
            Say("Number" + Bracketed(row.value) + ": ");
            const Got got = ReadLine(&line, t);
            if (got != Got::kLine) return ended(got);
            std::vector<std::size_t> picks;
            if (line.empty()) {
              value = row.value;
              break;
            }
            if (Chosen(line, row.choices.size(), false, &picks)) {
              value = row.choices[picks.front()];
              break;
            }
          }
          break;
        }
        case RowKind::kPassword: {
          const Got got = ReadSecret(row.text + ": ", &line, t);
          if (got != Got::kLine) return ended(got);
          value = (line.empty() ? row.value : line).substr(0, 255);
          break;
        }
        default: {
          Say(row.text + Bracketed(row.value) + ": ");
          const Got got = ReadLine(&line, t);
          if (got != Got::kLine) return ended(got);
          value = (line.empty() ? row.value : line).substr(0, 255);
        }
      }
    }
    for (;;) {
      Say("[O]K [C]ancel");
      for (std::size_t k = 0; k < buttons.size(); ++k) Say(" [" + std::to_string(k + 1) + "] " + r.rows[buttons[k]].text);
      Say("? ");
      const Got got = ReadLine(&line, t);
      if (got != Got::kLine) return ended(got);
      const char c = line.empty() ? 'o' : static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
      if (c == 'o' || c == 'c') {
        reply.result = c == 'o' ? custom_dialog::kOk : custom_dialog::kCancel;
        return reply;
      }
      std::vector<std::size_t> picks;
      if (Chosen(line, buttons.size(), false, &picks)) {
        reply.result = custom_dialog::kFirstRowButton + static_cast<int>(buttons[picks.front()]);
        return reply;
      }
    }
  }

  void ShowNotice(const Notice& notice) override {
    static const char* const kNames[] = {"Status Popup", "Progress Bar Popup", "Screen Message", "Balloon Popup",
                                         "Balloon Popup", "Tray Icon", "Display Image"};
    const std::string name = kNames[static_cast<int>(notice.kind)];
    if (notice.text.empty()) {
      Say(name + (notice.kind == NoticeKind::kTrayIcon ? " removed\n" : " closed\n"));
      return;
    }
    Say(name + (notice.title.empty() ? "" : " \"" + notice.title + "\"") + ": " + notice.text + "\n");
  }

  bool PersonCanAnswer() override { return ::isatty(STDIN_FILENO) != 0; }

 private:
  // The buttons of a box; 0 when the time ran out, -1 for the stop key.
  int Ask(unsigned style, int timeout_ms) {
    Button buttons[3];
    const int n = ButtonsOf(style, buttons);
    std::string line;
    for (;;) {
      if (n == 1) {
        Say("Press Enter to continue. ");
      } else {
        for (int i = 0; i < n; ++i) Say(std::string(i ? " " : "") + buttons[i].label);
        Say("? ");
      }
      const Got got = ReadLine(&line, timeout_ms);
      if (got == Got::kStopped) return -1;
      if (got == Got::kTimeOut) return 0;
      if (got == Got::kEnd) {
        for (int i = 0; i < n; ++i)
          if (buttons[i].answer == box::kAnswerCancel) return box::kAnswerCancel;
        return box::DefaultAnswer(style);
      }
      if (n == 1 || line.empty()) return box::DefaultAnswer(style);
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
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
