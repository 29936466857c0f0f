#include "prompts/prompt_actions.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/control.h"
#include "engine/document.h"
#include "engine/journal.h"
#include "engine/main_loop.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/text.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/registry.h"
#include "platform/stop_key.h"
#include "prompts/answers.h"
#include "prompts/displays.h"
#include "vars/expand.h"
#include "vars/format.h"
#include "vars/registry_value.h"
#include "vars/variables.h"
#include "windows/window_match.h"

namespace olvex {
namespace {

constexpr std::size_t kMaxMessage = 4096, kTruncatedMessage = 3840, kMaxTitle = 259;

std::atomic<int> g_last_result{0};
std::mutex g_mutex;
std::string g_last_name;

Step& StepAt(int slot, int index) { return Document(slot).steps[static_cast<std::size_t>(index)]; }

std::string Expanded(const std::string& field, int slot, int index) {
  return field.empty() ? std::string() : std::string(ExpandText(field, slot, index, 0));
}

std::string Cut(std::string text, std::size_t size) {
  if (text.size() > size) text.resize(size);
  return text;
}

void SetLast(int code, std::string name) {
  g_last_result.store(code);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_last_name = std::move(name);
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

void NoteAnswered(const PromptAnswered& answered) {
  static constexpr const char* kBy[] = {"person", "answers file", "time-out"};
  JournalPrompt(answered.step_index, OneLine(answered.title + ": " + answered.text), answered.answer,
                kBy[answered.source]);
}

// After a prompt the window that Use Window activated comes forward again.
void Reactivate() {
  if (!WindowActivated()) return;
  if (const platform::WindowId window = CurrentWindow()) ActivateWindow(window, false);
}


// How a prompt gets its answer: the answers file, a person, or nobody.
enum class Asker { kFile, kPerson, kNobody };

// A login's answer as logs and the journal show it: the password (after the
// first ";") hidden.
std::string WithoutPassword(const std::string& login_answer) {
  const std::size_t semi = login_answer.find(';');
  return semi == std::string::npos ? login_answer : login_answer.substr(0, semi) + ";*****";
}

// Consults the answers file; kNobody with the step error set when the prompt
// cannot be answered.
Asker Consult(const std::string& title, const std::string& text, AnswerLookup* lookup, bool secret = false) {
  *lookup = LookUpAnswer(title, text);
  switch (lookup->status) {
    case AnswerLookup::kAnswered: {
      const std::string shown = secret ? WithoutPassword(lookup->answer) : lookup->answer;
      std::string button = ButtonName(lookup->button);
      if (button.empty()) button = "Button" + std::to_string(lookup->button - 1174);
      LogText("    Answered from the answers file, line " + std::to_string(lookup->line) + ": " + button +
              (shown.empty() ? "" : " \"" + shown + "\""));
      return Asker::kFile;
    }
    case AnswerLookup::kBadFile:
      SetStepError(lookup->error);
      return Asker::kNobody;
    case AnswerLookup::kNoAnswer:
      SetStepError("The answers file '" + lookup->file + "' has no answer for the prompt \"" + title + "\": \"" +
                   OneLine(text) + "\"");
      return Asker::kNobody;
    case AnswerLookup::kNoFile:
      break;
  }
  if (platform::dialogs().PersonCanAnswer()) return Asker::kPerson;
  SetStepError("Nobody can answer the prompt \"" + title + "\": \"" + OneLine(text) +
               "\" (no terminal, and OLVEX_ANSWERS names no answers file)");
  return Asker::kNobody;
}

// The saved rectangle of the edit or list dialogs (16 bytes: left, top, right, bottom).
std::string PositionPath(platform::InputKind kind) {
  const bool list = kind == platform::InputKind::kList || kind == platform::InputKind::kMultiList;
  return std::string("HKEY_CURRENT_USER\\SOFTWARE\\Olvex\\Palettes\\") + (list ? "ListDlgPos" : "EditDlgPos");
}

std::optional<platform::DialogRect> ReadPosition(platform::InputKind kind) {
  const std::optional<std::string> bytes = RegistryRead(PositionPath(kind));
  if (!bytes || bytes->size() != 16) return std::nullopt;
  std::int32_t v[4];
  std::memcpy(v, bytes->data(), 16);
  if (v[2] <= v[0] || v[3] <= v[1]) return std::nullopt;
  return platform::DialogRect{v[0], v[1], v[2], v[3]};
}

void SavePosition(platform::InputKind kind, const platform::DialogRect& rect) {
  const std::int32_t v[4] = {rect.left, rect.top, rect.right, rect.bottom};
  std::string bytes(16, '\0');
  std::memcpy(bytes.data(), v, 16);
  RegistryWrite(PositionPath(kind), platform::regtype::kBinary, bytes);
}

// A list's text: ";" separates when it occurs twice, else a line feed, a
// carriage return or ","; the first item is the prompt.
std::vector<std::string> SplitList(std::string text) {
  ReplaceAll(text, "\r\n", "\n", false);
  auto twice = [&](char c) {
    const std::size_t first = text.find(c);
    return first != std::string::npos && text.find(c, first + 1) != std::string::npos;
  };
  char separator = ';';
  for (char c : {';', '\n', '\r', ','})
    if (twice(c)) {
      separator = c;
      break;
    }
  std::vector<std::string> items;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text.find(separator, from);
    items.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) break;
    from = at + 1;
  }
  return items;
}

unsigned MessageStyle(const Step& step) {
  using namespace platform::box;
  const std::string& action = step.action;
  const std::string& options = step.options;
  unsigned style = 0;
  if (ContainsNoCase(action, "Display Warning")) {
    style = kIconExclamation;
  } else if (ContainsNoCase(action, "Ask")) {
    style = kYesNo | kIconQuestion;
  } else if (ContainsNoCase(action, "Custom")) {
    auto has = [&](const char* word) { return ContainsNoCase(options, word); };
    if (has("Abort")) style = kAbortRetryIgnore;
    else if (has("OK") && has("Cancel")) style = kOkCancel;
    else if (has("OK")) style = kOk;
    else if (has("Retry")) style = kRetryCancel;
    else if (has("Yes") && has("Cancel")) style = kYesNoCancel;
    else if (has("Yes")) style = kYesNo;
    if (has("INFO")) style |= kIconInformation;
    else if (has("QUESTION")) style |= kIconQuestion;
    else if (has("WARN")) style |= kIconExclamation;
    else if (has("STOP")) style |= kIconStop;
  } else {
    style = kIconInformation;
  }
  if (ContainsNoCase(options, "top")) style |= kTopmost | kSystemModal;
  return style | kSetForeground;
}

int MessageBoxStep(Step& step, int slot, int index, const std::string& title, int timeout_ms) {
  std::string message = Expanded(step.text, slot, index);
  if (message.size() >= kMaxMessage) message = message.substr(0, kTruncatedMessage) + "<<MESSAGE TRUNCATED>>";
  const unsigned style = MessageStyle(step);
  AnswerLookup lookup;
  int code = 0;
  PromptAnswered answered;
  answered.step_index = index;
  answered.title = title;
  answered.text = message;
  switch (Consult(title, message, &lookup)) {
    case Asker::kNobody:
      return 0;
    case Asker::kFile:
      code = lookup.button;
      answered.source = PromptAnswered::kAnswersFile;
      answered.answers_line = lookup.line;
      break;
    case Asker::kPerson:
      code = platform::dialogs().ShowPrompt(message, title, style, timeout_ms);
      if (code == -1) return -1;  // the stop key
      if (code == 0) answered.source = PromptAnswered::kTimeOut;
      break;
  }
  SetLast(code, ButtonName(code));
  answered.button = code;
  NoteAnswered(answered);
  if (ContainsNoCase(step.action, "Ask")) {
    SaveOutput(slot, index, code == platform::box::kAnswerNo || code <= 0 ? "0" : "1");
  } else if (ContainsNoCase(step.action, "Custom")) {
    SaveOutput(slot, index, std::to_string(code));
  }
  return 1;
}

// Runs an input prompt: from the answers file or a person; -1 stop, 0 failed, 1 done.
int AskInput(platform::InputRequest& request, const std::string& match_text, platform::InputReply* reply,
             PromptAnswered* answered) {
  answered->title = request.title;
  answered->text = match_text;
  AnswerLookup lookup;
  switch (Consult(request.title, match_text, &lookup, request.kind == platform::InputKind::kLogin)) {
    case Asker::kNobody:
      return 0;
    case Asker::kFile:
      reply->ok = lookup.button == platform::box::kAnswerOk || lookup.button == platform::box::kAnswerYes;
      reply->answer = lookup.answer;
      answered->source = PromptAnswered::kAnswersFile;
      answered->answers_line = lookup.line;
      return 1;
    case Asker::kPerson:
      break;
  }
  *reply = platform::dialogs().ShowInput(request);
  if (!reply->error.empty()) {
    SetStepError(reply->error);
    return 0;
  }
  return reply->stopped ? -1 : 1;
}

void Finish(bool ok, const std::string& answer, PromptAnswered& answered) {
  SetLast(ok ? 1 : 0, ok ? "OK" : "Cancel");
  answered.button = ok ? 1 : 0;
  answered.answer = ok ? answer : "";
  NoteAnswered(answered);
}

int InputStep(Step& step, int slot, int index, std::string title, const std::string& default_answer, int timeout_ms) {
  using platform::InputKind;
  namespace in = platform::prompt_flag;
  const std::string& action = step.action;
  const std::string& options = step.options;
  const bool multi = ContainsNoCase(options, "Multi");
  platform::InputRequest request;
  static const std::pair<const char*, unsigned> kFlags[] = {
      {"Top", in::kTop},          {"Courier", in::kCourier},  {"Read", in::kReadOnly}, {"Fixed", in::kFixed},
      {"1x2", in::kSize1x2},      {"2x1", in::kSize2x1},      {"2x2", in::kSize2x2},   {"2x3", in::kSize2x3},
      {"3x4", in::kSize3x4}};
  for (const auto& [word, flag] : kFlags)
    if (ContainsNoCase(options, word)) request.flags |= flag;
  const bool drive = ContainsNoCase(action, "Drive");
  if (drive) request.flags |= in::kDrive;
  if (ContainsNoCase(action, "Login")) request.kind = InputKind::kLogin;
  else if (ContainsNoCase(action, "Date")) request.kind = InputKind::kDate;
  else if (ContainsNoCase(action, "List") && multi) request.kind = InputKind::kMultiList;
  else if (ContainsNoCase(action, "List") || drive) request.kind = InputKind::kList;
  else request.kind = multi ? InputKind::kMultiLine : InputKind::kLine;

  std::string prompt;
  if (ContainsNoCase(action, "List")) {
    std::vector<std::string> items = SplitList(Expanded(step.text, slot, index));
    prompt = items.front();
    request.choices.assign(items.begin() + 1, items.end());
  } else {
    prompt = Cut(Expanded(step.text, slot, index), kMaxTitle);
  }
  if (title.empty()) title = "Olvex Message";
  request.title = title;
  request.prompt = prompt;
  if (prompt.find_first_of("\r\n") == std::string::npos && prompt.size() < 55) request.prompt = "\n" + prompt;
  request.initial = default_answer;
  request.timeout_ms = timeout_ms;
  if (request.kind == InputKind::kLogin) {
    if (step.output().empty()) request.initial = ReadUserVariable("login_username").value_or("");
    WriteUserVariable("login_password", "");
  } else if (request.kind == InputKind::kDate) {
    // The calendar starts at the variable's date when it reads as one, else today.
    const platform::LocalDateTime now = platform::locale().Now();
    request.year = now.year;
    request.month = now.month;
    request.day = now.day;
    if (const std::optional<CalendarDate> date = ParseDate(request.initial)) {
      request.year = date->year;
      request.month = date->month;
      request.day = date->day;
    }
    request.initial = platform::locale().ShortDate(request.year, request.month, request.day);
  }
  request.position = ReadPosition(request.kind);

  platform::InputReply reply;
  PromptAnswered answered;
  answered.step_index = index;
  const int asked = AskInput(request, prompt, &reply, &answered);
  if (asked != 1) return asked;
  if (reply.position) SavePosition(request.kind, *reply.position);
  std::string answer = reply.answer;
  if (reply.ok) {
    if (drive) ReplaceAll(answer, "[", "", false);
    if (request.kind == InputKind::kLogin) {
      const std::size_t semi = answer.find(';');
      WriteUserVariable("login_username", answer.substr(0, semi));
      const std::string password = semi == std::string::npos ? "" : answer.substr(semi + 1);
      WriteUserVariable("login_password", ScramblePassword(password.substr(0, password.find(';'))));
    }
  }
  Finish(reply.ok, request.kind == InputKind::kLogin ? WithoutPassword(answer) : answer, answered);
  if (reply.ok && !(request.flags & in::kReadOnly)) SaveOutput(slot, index, answer);
  Reactivate();
  return 1;
}

// The file dialogs' filter: "All Files (*.*)" alone, or the text as its own
// pair (its pattern from the first "(" with the brackets removed) and "All Files".
std::vector<std::pair<std::string, std::string>> FileFilters(const std::string& text) {
  const std::pair<std::string, std::string> all{"All Files (*.*)", "*.*"};
  const std::size_t open = text.find('(');
  if (open == std::string::npos) return {all};
  std::string pattern;
  for (char c : text.substr(open))
    if (c != '(' && c != ')') pattern += c;
  std::vector<std::pair<std::string, std::string>> filters{{text, pattern}};
  if (text.find("*.*") == std::string::npos) filters.push_back(all);
  return filters;
}

int FileStep(Step& step, int slot, int index, const std::string& title, const std::string& default_answer,
             int timeout_ms, bool folder) {
  using platform::InputKind;
  platform::InputRequest request;
  const std::string text = Expanded(step.text, slot, index);
  if (folder) {
    request.kind = InputKind::kFolder;
    if (timeout_ms > 0 && timeout_ms < 1000) timeout_ms = 1000;
  } else {
    request.kind = ContainsNoCase(step.options, "Multi")  ? InputKind::kOpenFiles
                   : ContainsNoCase(step.options, "Save") ? InputKind::kSaveFile
                                                          : InputKind::kOpenFile;
    request.filters = FileFilters(text);
    if (timeout_ms > 0 && timeout_ms < 1500) timeout_ms = 1500;
  }
  request.title = title;
  request.prompt = text;
  request.initial = default_answer;
  request.timeout_ms = timeout_ms;
  platform::InputReply reply;
  PromptAnswered answered;
  answered.step_index = index;
  const int asked = AskInput(request, text, &reply, &answered);
  if (asked != 1) return asked;
  Finish(reply.ok, reply.answer, answered);
  if (reply.ok) SaveOutput(slot, index, reply.answer);
  return 1;
}


// The custom dialog's rows: their kinds from `value2` to `value6`, their texts
// from `text` (items separated by "|", each expanded on its own), their
// defaults from the output variable (items separated by ";").
platform::CustomDialogRequest CustomRequest(const Step& step, int slot, int index, const std::string& title,
                                            const std::string& default_answer, int timeout_ms,
                                            std::vector<std::string>* texts) {
  using platform::RowKind;
  platform::CustomDialogRequest request;
  request.title = title;
  request.center = ContainsNoCase(step.options, "Center");
  request.top = ContainsNoCase(step.options, "Top");
  request.timeout_ms = timeout_ms;
  std::vector<std::string> items;
  std::size_t from = 0;
  for (;;) {
    const std::size_t bar = step.text.find('|', from);
    items.push_back(step.text.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
    if (bar == std::string::npos) break;
    from = bar + 1;
  }
  std::vector<std::string> defaults;
  if (ContainsNoCase(step.output(), "Variable")) {
    from = 0;
    for (;;) {
      const std::size_t semi = default_answer.find(';', from);
      defaults.push_back(default_answer.substr(from, semi == std::string::npos ? std::string::npos : semi - from));
      if (semi == std::string::npos) break;
      from = semi + 1;
    }
  }
  static const std::pair<const char*, RowKind> kKinds[] = {
      {"EDIT", RowKind::kEdit},     {"PASSWORD", RowKind::kPassword}, {"LABEL", RowKind::kLabel},
      {"FILE", RowKind::kFile},     {"FOLDER", RowKind::kFolder},     {"CHECK", RowKind::kCheck},
      {"BUTTON", RowKind::kButton}, {"LIST", RowKind::kList},         {"LINK", RowKind::kLink}};
  int empty_rows = 0;
  for (int n = 0; n < 5; ++n) {
    platform::CustomRow row;
    const std::string& type = step.value(n + 2);
    for (const auto& [word, kind] : kKinds)
      if (ContainsNoCase(type, word)) {
        row.kind = kind;
        break;
      }
    if (row.kind == RowKind::kFolder && ContainsNoCase(type, "FILE")) row.kind = RowKind::kFile;
    const std::string text = static_cast<std::size_t>(n) < items.size() ? Expanded(items[static_cast<std::size_t>(n)], slot, index) : "";
    texts->push_back(text);
    if (type.empty()) ++empty_rows;
    const int at = n - empty_rows;
    const std::string value = at >= 0 && static_cast<std::size_t>(at) < defaults.size() ? defaults[static_cast<std::size_t>(at)] : "";
    row.text = text;
    switch (row.kind) {
      case RowKind::kEdit:
      case RowKind::kPassword:
      case RowKind::kFile:
      case RowKind::kFolder:
        row.value = value;
        break;
      case RowKind::kCheck:
        row.checked = ContainsNoCase(value, "CHECKED") && !ContainsNoCase(value, "NOT");
        break;
      case RowKind::kList: {
        std::vector<std::string> list = SplitList(text);
        row.text = list.front();
        row.choices.assign(list.begin() + 1, list.end());
        for (const auto& choice : row.choices)
          if (StartsWithNoCase(choice, value)) {
            row.value = choice;
            break;
          }
        break;
      }
      case RowKind::kLink: {
        const std::size_t anchor = FindNoCase(text, "<a href=");
        const std::size_t close = FindNoCase(text, "</a>");
        if (FindNoCase(text, "<a") != std::string::npos && anchor != std::string::npos) {
          std::string target = text.substr(anchor + 8);
          target = target.substr(0, target.find('>'));
          if (!target.empty() && (target.front() == '"' || target.front() == '\'')) target.erase(0, 1);
          if (!target.empty() && (target.back() == '"' || target.back() == '\'')) target.pop_back();
          row.value = target;
          const std::size_t gt = text.find('>', anchor);
          row.text = text.substr(gt + 1, (close == std::string::npos ? text.size() : close) - gt - 1);
        } else {
          row.value = text;
        }
        break;
      }
      default:
        break;
    }
    request.rows.push_back(row);
  }
  return request;
}

std::string Trim(const std::string& text) {
  const std::size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return text.substr(b, text.find_last_not_of(" \t\r\n") - b + 1);
}

int CustomDialogStep(Step& step, int slot, int index, const std::string& title, const std::string& default_answer,
                     int timeout_ms) {
  namespace cd = platform::custom_dialog;
  std::vector<std::string> texts;
  const platform::CustomDialogRequest request = CustomRequest(step, slot, index, title, default_answer, timeout_ms, &texts);
  std::string match_text;
  for (const auto& row : request.rows)
    if (row.kind != platform::RowKind::kNone) match_text += (match_text.empty() ? "" : " ") + row.text;
  PromptAnswered answered;
  answered.step_index = index;
  answered.title = title;
  answered.text = match_text;
  AnswerLookup lookup;
  int result = cd::kCancel;
  std::string answer;
  switch (Consult(title, match_text, &lookup)) {
    case Asker::kNobody:
      return 0;
    case Asker::kFile:
      result = lookup.button == platform::box::kAnswerOk ? cd::kOk : lookup.button >= cd::kFirstRowButton ? lookup.button : cd::kCancel;
      answer = lookup.answer;
      answered.source = PromptAnswered::kAnswersFile;
      answered.answers_line = lookup.line;
      break;
    case Asker::kPerson: {
      const platform::CustomDialogReply reply = platform::dialogs().ShowCustomDialog(request);
      if (!reply.error.empty()) {
        SetStepError(reply.error);
        return 0;
      }
      if (reply.stopped) return -1;
      result = reply.result;
      for (const auto& value : reply.values)
        if (value) answer += *value + ";";
      if (!answer.empty()) answer.pop_back();
      if (answer.size() > (1u << 20)) answer.resize(1u << 20);
      break;
    }
  }
  std::string name = ButtonName(result);
  const bool row_button = result >= cd::kFirstRowButton && result <= cd::kLastRowButton;
  if (name.empty() && row_button) name = texts[static_cast<std::size_t>(result - cd::kFirstRowButton)];
  SetLast(result, name);
  answered.button = result;
  answered.answer = result == cd::kCancel ? "" : answer;
  NoteAnswered(answered);
  if (result != cd::kCancel) SaveOutput(slot, index, answer);
  if (row_button) {
    const std::string label = Trim(texts[static_cast<std::size_t>(result - cd::kFirstRowButton)]);
    const int target = FindLabel(slot, label);
    if (target >= 0) {
      LogText("    Jumping to label \"" + label + "\" at [Step " + std::to_string(target + 1) + "]");
      // The worker waits for this step, so its control state holds still.
      if (Control().if_depth > 0) CloseIfLevels(slot, index, target);
      RunShared().next_step.store(target);
    } else {
      LogText("    Label \"" + label + "\" not found");
    }
  }
  return 1;
}

std::atomic<int> g_prompt_slot{0};

// An open prompt closes when the run is asked to stop or the stop key is
// pressed; the tray menu stops the run as the stop key does.
void InstallRunHooks() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::RunHooks hooks;
    hooks.stop_wanted = [] {
      if (StopRequested()) return true;
      if (!platform::StopKeyPressed(RunShared().stop_key.load())) return false;
      RequestStop(false);
      return true;
    };
    hooks.stop = [] { RequestStop(false); };
    hooks.script_name = [] {
      const std::string& file = Document(g_prompt_slot.load()).file_name;
      return file.substr(file.find_last_of("\\/") + 1);
    };
    platform::SetRunHooks(std::move(hooks));
  });
}

}  // namespace

int LastPromptResult() { return g_last_result.load(); }

std::string LastButtonName() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_last_name;
}

int HandlePromptStep(int slot, int step_index) { return PromptAction(slot, step_index, 0); }

int PromptAction(int slot, int step_index, int on_main) {
  if (!on_main) {
    InstallRunHooks();
    if (slot >= 0 && slot < kMaxDocuments) g_prompt_slot.store(slot);
    return RunOnMainThread([&] { return PromptAction(slot, step_index, 1); });
  }
  if (slot < 0 || slot >= kMaxDocuments || step_index < 0 ||
      static_cast<std::size_t>(step_index) >= Document(slot).steps.size()) {
    SetStepError("Internal error: '" + std::to_string(slot) + "'");
    return 0;
  }
  Step& step = StepAt(slot, step_index);
  const int timeout_ms = TimeoutFieldMs(step.timeout(), slot, step_index);
  if (!step.timeout().empty() && step.run_attempts <= 2)
    LogText("    " + step.timeout() + " second(s) allowed for message to close");
  const std::string title = Cut(Expanded(step.value(1), slot, step_index), kMaxTitle);
  // The output variable's value ("%name" stays as written when it does not exist).
  std::string default_answer = Cut(Expanded(step.output_option(), slot, step_index), kMaxTitle);
  if (!default_answer.empty() && default_answer[0] == '%') default_answer.clear();

  const std::string& action = step.action;
  if (ContainsNoCase(action, "Display Message") || ContainsNoCase(action, "Display Warning") ||
      ContainsNoCase(action, "Ask") || ContainsNoCase(action, "Custom Message"))
    return MessageBoxStep(step, slot, step_index, title, timeout_ms);
  if (ContainsNoCase(action, "File")) return FileStep(step, slot, step_index, title, default_answer, timeout_ms, false);
  if (ContainsNoCase(action, "Folder")) return FileStep(step, slot, step_index, title, default_answer, timeout_ms, true);
  if (ContainsNoCase(action, "Screen Message") || ContainsNoCase(action, "Popup") ||
      ContainsNoCase(action, "Tray Icon") || ContainsNoCase(action, "Display Image"))
    return DisplayStep(step, slot, step_index, title, timeout_ms);
  if (ContainsNoCase(action, "Custom Dialog"))
    return CustomDialogStep(step, slot, step_index, title, default_answer, timeout_ms);
  if (ContainsNoCase(action, "Input") || ContainsNoCase(action, "Login") || ContainsNoCase(action, "List") ||
      ContainsNoCase(action, "Drive") || ContainsNoCase(action, "Date"))
    return InputStep(step, slot, step_index, title, default_answer, timeout_ms);
  SetStepError("Action not available in this build: \"" + action + "\"");
  return 0;
}

}  // namespace olvex
