// olvex-check SCRIPT...          checks scripts without running them
// olvex-check --journal FILE     prints a summary of a run journal
// olvex-check --reference        writes the action reference (docs/actions.md)
//
// A script is loaded exactly as the runtime loads it (script documents,
// scripts carried in executables, the loader's conversions); its problems are
// reported in the manner of a compiler, one line each:
//   FILE:STEP: error: message
//   FILE:STEP: warning: message
// and a summary line. Exit code: 0 no errors, 1 errors, 2 a file that cannot
// be loaded (the loader's own message is reported). Every rule uses the run
// engine's own code (catalog lookup, block and label searches), so that the
// checker and the runtime never disagree.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/catalog.h"
#include "engine/control.h"
#include "engine/document.h"
#include "engine/failure.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/module.h"
#include "tools/action_reference.h"
#include "vars/variables.h"
#include "olvex_version.h"

namespace {

using namespace olvex;

constexpr char kUsage[] =
    "usage: olvex-check SCRIPT...\n       olvex-check --journal FILE\n       olvex-check --reference\n"
    "       olvex-check --help | --version\n";

struct Finding {
  int step = 0;  // 1-based; 0: the file as a whole
  bool error = true;
  std::string message;
};

// The loader's message boxes, kept instead of shown.
class LoaderMessages : public platform::Dialogs {
 public:
  LoaderMessages() { platform::SetDialogsForTest(this); }
  ~LoaderMessages() override { platform::SetDialogsForTest(nullptr); }
  LoaderMessages(const LoaderMessages&) = delete;
  LoaderMessages& operator=(const LoaderMessages&) = delete;
  int ShowMessage(const std::string& text, const std::string& /*title*/, unsigned style) override {
    std::string line;
    for (char c : text) {
      if (c == '\n') {
        if (!line.empty() && line.back() != ' ') line += ' ';
      } else {
        line += c;
      }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    messages.push_back(line);
    return platform::box::DefaultAnswer(style);
  }
  std::vector<std::string> messages;
};

// A field whose value is known only at run time (variables, system values, a formula).
bool IsDynamic(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return text.find('%') != std::string_view::npos || text.find('{') != std::string_view::npos ||
         (first != std::string_view::npos && text[first] == '=');
}

std::string Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  std::string out(text.substr(first, last - first + 1));
  if (out.size() >= 2 && out.front() == '"' && out.back() == '"') out = out.substr(1, out.size() - 2);
  return out;
}

class Checker {
 public:
  Checker(const std::string& path, std::vector<Finding>& findings)
      : path_(path), doc_(Document(0)), steps_(doc_.steps), count_(static_cast<int>(steps_.size())), out_(findings) {
    const std::size_t slash = path.find_last_of("/\\");
    folder_ = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  }

  void Run() {
    for (int i = 0; i < count_; ++i) {
      const Step& step = At(i);
      if (step.category < 1 || step.category > 16) Error(i, "unknown action \"" + step.action + "\"");
    }
    CheckJumps();
    CheckIfBlocks();
    CheckLoops();
    CheckFiles();
    CheckVariables();
    CheckLabels();
    CheckUnreachable();
    CheckQuickIfTimeouts();
    CheckOptionWords();
    std::stable_sort(out_.begin(), out_.end(), [](const Finding& a, const Finding& b) { return a.step < b.step; });
  }

 private:
  const Step& At(int i) const { return steps_[static_cast<std::size_t>(i)]; }
  bool Enabled(int i) const { return (At(i).run_status & kRunStatusDisabled) == 0; }
  void Error(int i, std::string message) { out_.push_back({i + 1, true, std::move(message)}); }
  void Warning(int i, std::string message) { out_.push_back({i + 1, false, std::move(message)}); }
  bool IsFlow(int i, std::string_view word) const { return At(i).category == 13 && ContainsNoCase(At(i).action, word); }
  bool IsJump(int i) const {
    return At(i).category == 13 && (ContainsNoCase(At(i).action, "GOTO") || ContainsNoCase(At(i).action, "to Label") ||
                                    StartsWithNoCase(At(i).action, "GOSUB"));
  }

  // Why FindLabel does not find `label`: a disabled step it would name, or nothing.
  std::string MissingLabel(std::string_view label) const {
    const int named = StartsWithNoCase(label, "{STEP") ? FirstNumber(label.substr(5)) : 0;
    for (int i = 0; i < count_; ++i) {
      if (named == i + 1 || (At(i).action == "Label" && EqualsNoCase(At(i).text, label)))
        return "label \"" + std::string(label) + "\" names a disabled step (" + std::to_string(i + 1) + ")";
    }
    return "label \"" + std::string(label) + "\" does not exist";
  }

  void CheckJumps() {
    for (int i = 0; i < count_; ++i) {
      if (!Enabled(i)) continue;
      const Step& step = At(i);
      if (IsJump(i)) {
        const std::string label = step.text;
        const bool named_step = StartsWithNoCase(label, "{STEP") && label.find('%') == std::string::npos &&
                                label.find('{', 1) == std::string::npos;
        if (Trimmed(label).empty()) {
          Error(i, step.action + " without a label name");
        } else if ((named_step || !IsDynamic(label)) && FindLabel(0, label) < 0) {
          Error(i, step.action + ": " + MissingLabel(label));
        }
      }
      // The failure mode's label is taken as written.
      if (FailureModeWord(step.fail_mode()) == "JUMP" && FindLabel(0, step.fail_option()) < 0)
        Error(i, "failure mode JUMP: " + MissingLabel(step.fail_option()));
    }
  }

  void CheckIfBlocks() {
    std::vector<bool> partnered(static_cast<std::size_t>(count_), false);
    for (int i = 0; i < count_; ++i) {
      if (!Enabled(i) || !IsBlockIf(At(i))) continue;
      if (FindElseOrEndIf(0, i, true) >= count_) Error(i, "IF without END IF");
      for (int k = FindElseOrEndIf(0, i, false); k < count_; k = FindElseOrEndIf(0, k, false)) {
        partnered[static_cast<std::size_t>(k)] = true;
        if (EqualsNoCase(At(k).action, "END IF")) break;
      }
    }
    for (int i = 0; i < count_; ++i) {
      if (!Enabled(i) || partnered[static_cast<std::size_t>(i)]) continue;
      if (EqualsNoCase(At(i).action, "END IF")) Error(i, "END IF without IF");
      else if (EqualsNoCase(At(i).action, "ELSE") || IsElseIf(At(i))) Error(i, At(i).action + " (ELSE) without IF");
    }
  }

  void CheckLoops() {
    std::vector<bool> partnered(static_cast<std::size_t>(count_), false);
    for (int i = 0; i < count_; ++i) {
      if (!IsActiveStep(At(i)) || !IsLoopStart(At(i))) continue;
      const int end = FindLoopEnd(0, i);
      if (end >= count_ || !IsNextLoop(At(end)) || !IsActiveStep(At(end))) {
        Error(i, "loop start without NEXT LOOP");
        continue;
      }
      partnered[static_cast<std::size_t>(end)] = true;
      loops_.emplace_back(i, end);
    }
    for (int i = 0; i < count_; ++i) {
      if (!IsActiveStep(At(i))) continue;
      if (IsNextLoop(At(i)) && !partnered[static_cast<std::size_t>(i)]) Error(i, "NEXT LOOP without a loop start");
      if (IsFlow(i, "Break") && !IsJump(i) && !IsFlow(i, "Exit ") && !InsideLoop(i)) Error(i, "Break outside any loop");
    }
  }

  bool InsideLoop(int i) const {
    return std::any_of(loops_.begin(), loops_.end(), [i](const auto& loop) { return loop.first < i && i < loop.second; });
  }

  bool FileBesideScript(const std::string& name) const {
    return platform::PathExists(IsRootedPath(name) ? name : folder_ + name);
  }

  // A file that a Write/Create File step of the script makes (compared by its
  // last name part: the folder may be named by a variable) need not exist
  // before the run.
  bool WrittenByScript(std::string_view name) const {
    auto last_part = [](std::string_view path) { return path.substr(path.find_last_of("\\/") + 1); };
    for (int i = 0; i < count_; ++i) {
      const Step& step = At(i);
      if (step.category == 9 && ContainsNoCase(step.action, "Write") &&
          EqualsNoCase(last_part(Trimmed(step.value(1))), last_part(name)))
        return true;
    }
    return false;
  }

  void CheckFiles() {
    for (int i = 0; i < count_; ++i) {
      const Step& step = At(i);
      if (!Enabled(i) || IsDynamic(step.text)) continue;
      if (step.category == 2 && ContainsNoCase(step.action, "Call Script")) {
        const std::string name = Trimmed(step.text);
        if (!name.empty() && !ContainsNoCase(name, ".EXE") && !FileBesideScript(name) && !WrittenByScript(name))
          Error(i, "the script \"" + name + "\" does not exist");
        continue;
      }
      const bool image_step = ContainsNoCase(step.action, "Image") && !ContainsNoCase(step.action, "Capture");
      if (!image_step || step.embedded_id(1) != 0) continue;
      std::size_t from = 0;
      while (from <= step.text.size()) {
        std::size_t end = step.text.find(';', from);
        if (end == std::string::npos) end = step.text.size();
        const std::string item = Trimmed(std::string_view(step.text).substr(from, end - from));
        from = end + 1;
        const bool pixel_list = ((item.size() > 3 && item[3] == ',') || item.find('*') != std::string::npos) &&
                                item.find('.') == std::string::npos && item.find('\\') == std::string::npos;
        if (!item.empty() && !pixel_list && !FileBesideScript(item))
          Error(i, "the image file \"" + item + "\" does not exist");
      }
    }
  }

  // Names that some step writes; a name ending in '*' stands for every name it begins.
  std::vector<std::string> WrittenNames() const {
    std::vector<std::string> names;
    auto add = [&](std::string name) {
      if (!name.empty() && name.front() == '%') name.erase(0, 1);
      const std::size_t dynamic = name.find_first_of("%{");
      if (dynamic != std::string::npos) name = name.substr(0, dynamic) + "*";
      if (!name.empty()) names.push_back(name);
    };
    for (int i = 0; i < count_; ++i) {
      const Step& step = At(i);
      if (!step.output().empty() && (step.output()[0] == 'V' || step.output()[0] == 'v') &&
          MemorySlotOf(step.output_option()) == 0)
        add(step.output_option());
      if (FailureModeWord(step.fail_mode()) == "VARIABLE" && MemorySlotOf(step.fail_option()) == 0)
        add(step.fail_option());
      // A variable the script asks about may come from outside (the command line).
      if (step.category == 14 && ContainsNoCase(step.action, "Variable") && step.text.find('{') == std::string::npos)
        add(Trimmed(step.text));
    }
    return names;
  }

  // True when some prefix of `candidate` names a variable the script or the store holds.
  bool Known(std::string_view candidate, const std::vector<std::string>& written) {
    for (std::size_t n = candidate.size(); n > 0; --n) {
      const std::string_view name = candidate.substr(0, n);
      for (const std::string& w : written) {
        if (w.back() == '*' ? StartsWithNoCase(name, std::string_view(w).substr(0, w.size() - 1)) : EqualsNoCase(w, name))
          return true;
      }
      if (StartsWithNoCase(name, "parameter") || EqualsNoCase(name, "CLIPBOARD")) return true;
      auto [it, inserted] = store_.try_emplace(std::string(name), false);
      if (inserted) it->second = ReadUserVariable(std::string(name)).has_value();
      if (it->second) return true;
    }
    return false;
  }

  void CheckVariables() {
    const std::vector<std::string> written = WrittenNames();
    std::set<std::string> reported;
    for (int i = 0; i < count_; ++i) {
      const Step& step = At(i);
      if (!Enabled(i) || EqualsNoCase(step.action, "Comment") || step.action == "Label") continue;
      std::vector<const std::string*> fields = {&step.timeout(), &step.data(), &step.custom()};
      if (!ContainsNoCase(step.options, "No Variable Expansion")) fields.push_back(&step.text);
      for (int n = 1; n <= 8; ++n) fields.push_back(&step.value(n));
      const char kind = step.output().empty() ? ' ' : AsciiLower(step.output()[0]);
      if (kind != 'v' && kind != 'm') fields.push_back(&step.output_option());
      for (const std::string* field : fields) {
        for (std::size_t at = field->find('%'); at != std::string::npos; at = field->find('%', at + 1)) {
          if (at + 1 < field->size() && (*field)[at + 1] == '%') {
            ++at;  // %% is a literal %
            continue;
          }
          std::string candidate = field->substr(at + 1, kMaxVariableName);
          candidate = candidate.substr(0, candidate.find_first_of("%\\"));
          std::size_t word = 0;
          while (word < candidate.size() && (std::isalnum(static_cast<unsigned char>(candidate[word])) ||
                                             candidate[word] == '_'))
            ++word;
          if (word == 0 || Known(candidate, written)) continue;
          std::string name = candidate.substr(0, word);
          for (char& c : name) c = AsciiLower(c);
          if (reported.insert(name).second)
            Warning(i, "%" + candidate.substr(0, word) + " is read but no step writes it and the store does not hold it");
        }
      }
    }
  }

  void CheckLabels() {
    std::map<std::string, int> first;
    for (int i = 0; i < count_; ++i) {
      if (!Enabled(i) || At(i).action != "Label") continue;
      std::string key = At(i).text;
      for (char& c : key) c = AsciiLower(c);
      auto [it, inserted] = first.try_emplace(key, i);
      if (!inserted)
        Warning(i, "label \"" + At(i).text + "\" is defined again (step " + std::to_string(it->second + 1) + " wins)");
    }
  }

  // Steps after an Exit Run or a GOTO outside any IF block that no label,
  // {STEPn} or failure jump reaches.
  void CheckUnreachable() {
    std::vector<bool> target(static_cast<std::size_t>(count_), false);
    for (int i = 0; i < count_; ++i) {
      const Step& step = At(i);
      if (step.action == "Label") target[static_cast<std::size_t>(i)] = true;
      for (const std::string* label : {&step.text, &step.fail_option()}) {
        if (!StartsWithNoCase(*label, "{STEP")) continue;
        const int n = FirstNumber(label->substr(5));
        if (n >= 1 && n <= count_) target[static_cast<std::size_t>(n - 1)] = true;
      }
    }
    int depth = 0;
    for (int i = 0; i < count_; ++i) {
      if (!Enabled(i)) continue;
      const Step& step = At(i);
      if (IsBlockIf(step)) ++depth;
      if (EqualsNoCase(step.action, "END IF") && depth > 0) --depth;
      const bool goto_step = IsJump(i) && !StartsWithNoCase(step.action, "GOSUB");
      if (depth > 0 || !(goto_step || EqualsNoCase(step.action, "Exit Run"))) continue;
      int first = -1, last = -1;
      int k = i + 1;
      for (; k < count_ && !target[static_cast<std::size_t>(k)]; ++k) {
        if (!Enabled(k)) continue;
        if (first < 0) first = k;
        last = k;
      }
      if (first >= 0)
        Warning(first, "step" + (last > first ? "s " + std::to_string(first + 1) + " to " + std::to_string(last + 1) : "") +
                           " cannot be reached after \"" + step.action + "\" at step " + std::to_string(i + 1));
      i = k - 1;
    }
  }

  void CheckQuickIfTimeouts() {
    for (int i = 0; i < count_; ++i) {
      const Step& step = At(i);
      if (!Enabled(i) || !StartsWithNoCase(step.action, "IF ") || !IsQuickIf(step)) continue;
      const std::string timeout = Trimmed(step.timeout());
      if (timeout.empty() || IsDynamic(timeout)) continue;
      char* end = nullptr;
      std::strtod(timeout.c_str(), &end);
      if (end != timeout.c_str() + timeout.size())
        Warning(i, "the Quick IF's time-out \"" + timeout + "\" is not a number or formula");
    }
  }

  // Option words that the action's handler would not notice ("Partial Titel").
  void CheckOptionWords() {
    for (int i = 0; i < count_; ++i) {
      const Step& step = At(i);
      const ActionNotes* notes = ActionReference::Builtin().Find(step.action);
      if (!Enabled(i) || !notes || !notes->words_checked) continue;
      for (const std::string& word : ActionReference::UnknownWords(*notes, step.options)) {
        const std::string nearest = ActionReference::NearestWord(*notes, word);
        Warning(i, "\"" + step.action + "\" does not know the option word \"" + word + "\"" +
                       (nearest.empty() ? "" : " (\"" + nearest + "\"?)"));
      }
    }
  }

  std::string path_, folder_;
  const ScriptDocument& doc_;
  const std::vector<Step>& steps_;
  int count_;
  std::vector<Finding>& out_;
  std::vector<std::pair<int, int>> loops_;
  std::map<std::string, bool> store_;
};

// Checks one file; returns 0, 1 or 2 as the program's exit code, and counts.
int CheckFile(const std::string& path, int& errors, int& warnings) {
  std::vector<Finding> findings;
  bool load_failed = false;
  {
    LoaderMessages loader;
    const int loaded = LoadDocument(path, 0);
    for (const std::string& m : loader.messages) findings.push_back({0, true, m});
    load_failed = loaded <= 0 || !loader.messages.empty();
  }
  if (!load_failed) Checker(path, findings).Run();
  for (const Finding& f : findings) {
    const std::string where = f.step > 0 ? path + ":" + std::to_string(f.step) : path;
    std::printf("%s: %s: %s\n", where.c_str(), f.error ? "error" : "warning", f.message.c_str());
    ++(f.error ? errors : warnings);
  }
  CloseDocument(0);
  if (load_failed) return 2;
  return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.error; }) ? 1 : 0;
}

// ---- the journal summary ----

// One journal line: a flat JSON object of strings and numbers.
using Record = std::map<std::string, std::string>;

bool ParseString(std::string_view line, std::size_t& at, std::string& out) {
  if (at >= line.size() || line[at] != '"') return false;
  ++at;
  while (at < line.size() && line[at] != '"') {
    char c = line[at++];
    if (c != '\\') {
      out += c;
      continue;
    }
    if (at >= line.size()) return false;
    c = line[at++];
    if (c == 'u') {
      if (at + 4 > line.size()) return false;
      const unsigned code = static_cast<unsigned>(std::strtoul(std::string(line.substr(at, 4)).c_str(), nullptr, 16));
      at += 4;
      if (code < 0x100) out += static_cast<char>(code);  // the journal writes \u00XX only
      else out += '?';
    } else {
      out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c == 'b' ? '\b' : c == 'f' ? '\f' : c;
    }
  }
  return at++ < line.size();
}

bool ParseRecord(std::string_view line, Record& record) {
  std::size_t at = line.find('{');
  if (at == std::string_view::npos) return false;
  ++at;
  auto skip = [&] {
    while (at < line.size() && (line[at] == ' ' || line[at] == ',' || line[at] == ':')) ++at;
  };
  for (;;) {
    skip();
    if (at >= line.size()) return false;
    if (line[at] == '}') return true;
    std::string key, value;
    if (!ParseString(line, at, key)) return false;
    skip();
    if (at < line.size() && line[at] == '"') {
      if (!ParseString(line, at, value)) return false;
    } else {
      const std::size_t end = line.find_first_of(",}", at);
      if (end == std::string_view::npos) return false;
      value = std::string(line.substr(at, end - at));
      at = end;
    }
    record[key] = value;
  }
}

double MsOf(const Record& r) {
  const auto it = r.find("ms");
  return it == r.end() ? 0.0 : std::atof(it->second.c_str());
}

int SummarizeJournal(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "olvex-check: cannot open the journal \"%s\"\n", path.c_str());
    return 2;
  }
  struct Run {
    std::string pid, script, time, how = "(running or killed)", steps = "-", exit_code = "-";
  };
  std::vector<Run> runs;
  std::map<std::string, std::size_t> open_run;  // by process id
  std::vector<Record> failed, steps;
  std::string line;
  int bad = 0;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    Record r;
    if (!ParseRecord(line, r)) {
      ++bad;
      continue;
    }
    const std::string& event = r["event"];
    if (event == "start") {
      open_run[r["pid"]] = runs.size();
      runs.push_back({r["pid"], r["script"], r["time"]});
      continue;
    }
    const auto it = open_run.find(r["pid"]);
    if (it != open_run.end()) r["script"] = runs[it->second].script;
    if (event == "step") {
      if (r["result"] == "failure") failed.push_back(r);
      steps.push_back(std::move(r));
    } else if (event == "end" && it != open_run.end()) {
      Run& run = runs[it->second];
      run.how = r["how"];
      run.steps = r["steps_run"];
      run.exit_code = r["exit_code"];
    }
  }
  std::printf("Runs: %zu\n", runs.size());
  std::printf("  %-24s %-8s %-20s %6s %5s  %s\n", "started", "pid", "ended", "steps", "exit", "script");
  for (const Run& run : runs)
    std::printf("  %-24s %-8s %-20s %6s %5s  %s\n", run.time.c_str(), run.pid.c_str(), run.how.c_str(), run.steps.c_str(),
                run.exit_code.c_str(), run.script.c_str());
  std::printf("Failed steps: %zu\n", failed.size());
  for (Record& r : failed)
    std::printf("  %s:%s %s [%s]: %s\n", r["script"].c_str(), r["step"].c_str(), r["action"].c_str(),
                r["fail_mode"].c_str(), r["error"].c_str());
  std::stable_sort(steps.begin(), steps.end(),
                   [](const Record& a, const Record& b) { return MsOf(a) > MsOf(b); });
  if (steps.size() > 10) steps.resize(10);
  std::printf("Slowest steps:\n");
  for (Record& r : steps)
    std::printf("  %8s ms  %s:%s %s\n", r["ms"].c_str(), r["script"].c_str(), r["step"].c_str(), r["action"].c_str());
  if (bad > 0) std::printf("Lines that are not journal records: %d\n", bad);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files(argv + 1, argv + argc);
  if (files.empty() || files[0] == "-h" || files[0] == "--help") {
    std::fputs(kUsage, files.empty() ? stderr : stdout);
    return files.empty() ? 2 : 0;
  }
  if (files[0] == "--reference") {
    ActionReference reference;
    std::string error, page;
    const Catalog* catalog = ProgramCatalog();
    if (!reference.Parse(kActionReferenceText, &error) || !catalog ||
        !reference.WriteMarkdown(catalog->text(), &page, &error)) {
      std::fprintf(stderr, "olvex-check: the action reference cannot be written:\n%s\n", error.c_str());
      return 1;
    }
    std::fwrite(page.data(), 1, page.size(), stdout);
    return 0;
  }
  if (files[0] == "--version") {
    std::puts("olvex-check " OLVEX_VERSION);
    return 0;
  }
  if (files[0] == "--journal") {
    if (files.size() != 2) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    return SummarizeJournal(files[1]);
  }
  // The settings of the runtime beside this program (its INI file, say).
  const std::filesystem::path self = platform::ModulePath();
  SetUpSettings((self.parent_path() / ("olvex" + self.extension().string())).string());
  SetLogLevel(0);
  int worst = 0, errors = 0, warnings = 0;
  for (const std::string& file : files) worst = std::max(worst, CheckFile(file, errors, warnings));
  std::printf("%zu file%s checked: %d error%s, %d warning%s\n", files.size(), files.size() == 1 ? "" : "s", errors,
              errors == 1 ? "" : "s", warnings, warnings == 1 ? "" : "s");
  return worst;
}
