// End-to-end runs of the built runtime. Each case is a script
// (cases/<theme>/<name>.oxm) and its expectations (<name>.expect); every
// example (examples/<name>.oxm) is a case too, its expectations in
// cases/examples/<name>.expect (a test of its own: ctest's "examples"):
//   args: <words>        command-line words after "-r <script>" ("no-r" drops the -r)
//   file: <name>|<text>  a file written into the case's folder before the run (\r, \n, \t as escapes)
//   after: <name>|<text> a file of the case's folder that must hold exactly that text after the run
//   setting: Name=value  written under the runtime's root before the run
//   variable: name=value a user variable that must hold that value afterwards
//   exit: <code>         the expected exit code (0 when absent)
//   stop-key: <ms>       the stop key is pressed that long after the start:
//                        POSIX sends SIGINT; Windows holds the key (Pause, or
//                        the setting Accelerators\Stop) down until the end
//   box: <title>|<text>  a message box the run shows, in order (\n, \t as
//                        escapes; a failure report's time reads "Time:\t*");
//                        Windows: a real box, POSIX: standard error
//   answer: cancel       Windows answers the boxes with Cancel (else OK)
//   answer: none         Windows answers no box (the script answers its program's own dialogs)
//   answers: <line>      a line of the answers file that OLVEX_ANSWERS names for the run
//   skip: <reason>       the case is not run (yet), for the reason given
//   posix-only           the case needs POSIX behaviour
//   windows-only         the case needs the Windows desktop (the clipboard, say)
//   x11                  the case needs an X display (Linux): it runs only where
//                        DISPLAY is set (ctest's scripts_x11 and scripts_x11_wm)
//   odbc                 the data sources of tests/support/odbc_sources.h, over a
//                        database that odbc_fill.oxm fills before the run
// OLVEX_CASES=<prefix> runs only the cases whose name begins with it ("odbc/").
//   log: none            no log file may be written
//   checker: fails       the script is written to fail olvex-check (CI skips it there)
//   ini: <line>          a line of a hand-written INI file beside a copy of the
//                        runtime, which then keeps its settings there ("setting:"
//                        and the log file's name go into it too); every such
//                        line but blank ones must still stand in the file after
//                        the run (blanks around '=' and at the ends aside: the
//                        Windows profile API writes entries its own way)
//   log:                 the rest of the file is the expected log, time
//                        stamps and elapsed times masked
// OLVEX_UPDATE_EXPECTED=1 rewrites the expected logs from the runs.
// "{dir}/" stands for the case's private folder, in the script and the log;
// "{bin}/" for the runtime's folder, in the script and the log.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "engine/settings.h"
#include "engine/text.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/odbc_sources.h"
#include "tests/support/test_support.h"
#include "vars/registry_value.h"
#include "vars/variables.h"
#ifdef _WIN32
#include <windows.h>

#include "tests/support/box_answerer.h"
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace olvex::test {
namespace {

namespace fs = std::filesystem;

struct Case {
  std::string name;
  fs::path expect_path;
  std::string script;
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> settings, variables;
  int exit_code = 0, stop_after_ms = 0;
  bool answer_cancel = false, answer_none = false;
  std::vector<std::pair<std::string, std::string>> boxes;
  std::vector<std::string> answers;
  std::vector<std::pair<std::string, std::string>> files, after;
  bool posix_only = false, windows_only = false, no_r = false, expect_log = true, skip = false, odbc = false;
  bool x11 = false;
  std::vector<std::string> log, ini;
};

// Blank-separated words; a word in double quotes keeps its blanks (a backslash is no escape).
std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> std::quoted(word, '"', '\0');) words.push_back(word);
  return words;
}

std::pair<std::string, std::string> NameValue(const std::string& text) {
  const std::size_t eq = text.find('=');
  return {text.substr(0, eq), eq == std::string::npos ? "" : text.substr(eq + 1)};
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      out += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A failure report's time of day, masked in the boxes a run shows.
std::string MaskedBoxText(const std::string& text) {
  static const std::regex clock(R"(Time:\t\d\d:\d\d)");
  return std::regex_replace(text, clock, "Time:\t*");
}

// The script cases, or the examples.
std::vector<Case> LoadCases(bool examples) {
  std::vector<Case> cases;
  const fs::path root = fs::path(OLVEX_SOURCE_DIR) / "tests" / "scripts" / "cases";
  std::vector<std::pair<fs::path, fs::path>> scripts;  // script, its expectations
  if (!examples) {
    for (const auto& entry : fs::recursive_directory_iterator(root))
      if (entry.path().extension() == ".oxm")
        scripts.emplace_back(entry.path(), fs::path(entry.path()).replace_extension(".expect"));
  } else {
    for (const auto& entry : fs::directory_iterator(fs::path(OLVEX_SOURCE_DIR) / "examples"))
      if (entry.path().extension() == ".oxm")
        scripts.emplace_back(entry.path(), root / "examples" / entry.path().filename().replace_extension(".expect"));
  }
  for (const auto& [script, expect_path] : scripts) {
    Case c;
    c.name = script.parent_path().filename().string() + "/" + script.stem().string();
    if (const char* only = std::getenv("OLVEX_CASES"); only && c.name.rfind(only, 0) != 0) continue;
    c.script = ReadBytes(script.string());
    c.expect_path = expect_path;
    EXPECT_TRUE(fs::exists(expect_path)) << c.name << " has no expectations: " << expect_path.string();
    std::istringstream expect(ReadBytes(expect_path.string()));
    std::string line;
    bool in_log = false;
    while (std::getline(expect, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (in_log) {
        c.log.push_back(line);
      } else if (line.rfind("args:", 0) == 0) {
        for (auto& w : Words(line.substr(5))) {
          if (w == "no-r") c.no_r = true;
          else c.args.push_back(w);
        }
      } else if (line.rfind("setting:", 0) == 0) {
        c.settings.push_back(NameValue(line.substr(9)));
      } else if (line.rfind("variable:", 0) == 0) {
        c.variables.push_back(NameValue(line.substr(10)));
      } else if (line.rfind("exit:", 0) == 0) {
        c.exit_code = std::stoi(line.substr(5));
      } else if (line.rfind("stop-key:", 0) == 0) {
        c.stop_after_ms = std::stoi(line.substr(9));
      } else if (line.rfind("box:", 0) == 0) {
        const std::string box = Unescaped(line.substr(5));
        const std::size_t bar = box.find('|');
        c.boxes.emplace_back(box.substr(0, bar), bar == std::string::npos ? "" : box.substr(bar + 1));
      } else if (line.rfind("file:", 0) == 0 || line.rfind("after:", 0) == 0) {
        const std::size_t colon = line.find(':');
        const std::string file = Unescaped(line.substr(line.size() > colon + 1 && line[colon + 1] == ' ' ? colon + 2 : colon + 1));
        const std::size_t bar = file.find('|');
        (colon == 4 ? c.files : c.after).emplace_back(file.substr(0, bar), bar == std::string::npos ? "" : file.substr(bar + 1));
      } else if (line.rfind("answers:", 0) == 0) {
        c.answers.push_back(line.substr(line.size() > 8 && line[8] == ' ' ? 9 : 8));
      } else if (line.rfind("skip:", 0) == 0) {
        c.skip = true;
      } else if (line.rfind("ini:", 0) == 0) {
        c.ini.push_back(line.size() > 5 ? line.substr(5) : "");
      } else if (line == "log: none") {
        c.expect_log = false;
      } else if (line == "log:") {
        in_log = true;
      } else {
        const std::pair<const char*, bool Case::*> flags[] = {
            {"answer: cancel", &Case::answer_cancel}, {"answer: none", &Case::answer_none}, {"posix-only", &Case::posix_only},
            {"windows-only", &Case::windows_only},   {"odbc", &Case::odbc},                {"x11", &Case::x11}};
        for (const auto& [word, flag] : flags)
          if (line == word) c.*flag = true;
      }
    }
    while (!c.log.empty() && c.log.back().empty() && c.log.size() > 1 && c.log[c.log.size() - 2].empty()) c.log.pop_back();
    cases.push_back(std::move(c));
  }
  std::sort(cases.begin(), cases.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
  return cases;
}

// The log as lines, with what changes from run to run masked.
std::vector<std::string> MaskedLog(std::string log, const std::string& dir) {
  ReplaceAll(log, dir, "{dir}/", false);
  const std::string runtime = RuntimePath();
  ReplaceAll(log, runtime.substr(0, runtime.find_last_of("\\/") + 1), "{bin}/", false);
  static const std::regex stamp(R"(\(\d\d:\d\d:\d\d\.\d{4}\))");
  static const std::regex time_line(R"(^TIME:   .*)");
  static const std::regex completed(R"( at \d+:\d\d:\d\d   ELAPSED TIME: .*   STEPS RUN)");
  static const std::regex failure_time(R"(^Time: \d\d:\d\d$)");
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find("\r\n", start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    line = std::regex_replace(line, stamp, "(hh:mm:ss.tttt)");
    line = std::regex_replace(line, time_line, "TIME:   *");
    line = std::regex_replace(line, completed, " at *   ELAPSED TIME: *   STEPS RUN");
    line = std::regex_replace(line, failure_time, "Time: *");
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

// The stop key of a case: the setting Accelerators\Stop ("%d|0"), else Pause.
int StopKeyOf(const Case& c) {
  for (const auto& [name, value] : c.settings)
    if (name == "Accelerators\\Stop") return std::stoi(value);
  return 0x13;
}

#ifdef _WIN32
void SendKey(int virtual_key, bool up) {
  INPUT key{};
  key.type = INPUT_KEYBOARD;
  key.ki.wVk = static_cast<WORD>(virtual_key);
  key.ki.wScan = static_cast<WORD>(MapVirtualKeyA(static_cast<UINT>(virtual_key), MAPVK_VK_TO_VSC));
  key.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &key, sizeof key);
}

// Starts the runtime, holds the stop key down from `after` until it has
// ended, and returns its exit code (-2 when it had to be ended).
int RunAndStop(const std::vector<std::string>& args, std::chrono::milliseconds after, int stop_key) {
  std::atomic<bool> ended{false};
  ChildResult run;
  std::thread child([&] {
    run = RunChild(args, std::chrono::seconds(60));
    ended = true;
  });
  const auto press_at = std::chrono::steady_clock::now() + after;
  while (!ended && std::chrono::steady_clock::now() < press_at) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  SendKey(stop_key, false);
  while (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  SendKey(stop_key, true);
  child.join();
  return run.timed_out ? -2 : run.exit_code;
}
#else
// Starts the runtime, sends SIGINT after `after`, and waits for it.
int RunAndStop(const std::vector<std::string>& args, std::chrono::milliseconds after, int /*stop_key*/) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::this_thread::sleep_for(after);
  kill(pid, SIGINT);
  int status = 0;
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -2;
}
#endif

void RunCases(const std::vector<Case>& cases) {
  if (cases.empty() && std::getenv("OLVEX_CASES")) GTEST_SKIP() << "no case begins with OLVEX_CASES";
  ASSERT_FALSE(cases.empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.skip) continue;
#ifdef _WIN32
    if (c.posix_only || c.x11) continue;
    const char separator = '\\';
#else
    if (c.windows_only) continue;
    const char* display = std::getenv("DISPLAY");
    if (c.x11 && (display == nullptr || *display == '\0')) continue;
    const char separator = '/';
#endif
    StoreSandbox sandbox;
    ChildStore store;
    const std::string dir = sandbox.dir().File("x");
    const std::string dir_prefix = dir.substr(0, dir.size() - 1);
    ASSERT_EQ(dir_prefix.back(), separator);
    std::string script = c.script;
    ReplaceAll(script, "{dir}/", dir_prefix, false);
    ReplaceAll(script, "{bin}/", RuntimePath().substr(0, RuntimePath().find_last_of("\\/") + 1), false);
    const std::string script_path = sandbox.dir().Write("case.oxm", script);
    for (const auto& [name, text] : c.files) {
      fs::create_directories(fs::path(dir_prefix + name).parent_path());
      std::ofstream(dir_prefix + name, std::ios::binary) << text;
    }
    const std::string log_path = sandbox.dir().File("run.log");
    std::optional<OdbcSources> odbc;
    if (c.odbc) {
      odbc.emplace(dir_prefix.substr(0, dir_prefix.size() - 1));
      if (!odbc->available()) {
        std::printf("skipped %s: Wine was started without ODBCSYSINI and ODBCINI\n", c.name.c_str());
        continue;
      }
      const fs::path fill = fs::path(OLVEX_SOURCE_DIR) / "tests" / "scripts" / "odbc_fill.oxm";
      const ChildResult filled = RunChild({RuntimePath(), "-r", fill.string(), "-F"}, std::chrono::seconds(60));
      ASSERT_EQ(filled.exit_code, 0) << "the test database was not filled";
    }
    std::string runtime = RuntimePath(), ini_path;
    std::vector<std::string> ini_lines = c.ini;
    if (!ini_lines.empty()) {
      runtime = sandbox.dir().Write(fs::path(runtime).filename().string(), ReadBytes(runtime));
      fs::permissions(runtime, fs::perms::owner_all);
      std::string text;
      for (std::string& line : ini_lines) {
        ReplaceAll(line, "{dir}/", dir_prefix, false);
        text += line + "\r\n";
      }
      ini_path = fs::path(runtime).replace_extension(".ini").string();
      std::ofstream(ini_path, std::ios::binary) << text;
    }
    auto put_setting = [&](const std::string& name, const std::string& value) {
      if (!ini_path.empty()) {
        const IniLocation at = IniLocationOf("*\\" + name);
        platform::WriteProfileValue(ini_path, at.section, at.name, value);
      } else if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos) {
        WriteSetting("*\\" + name, std::stoi(value));
      } else {
        WriteSetting("*\\" + name, value);
      }
    };
    put_setting("Logfile", log_path);
    for (const auto& [name, value] : c.settings) put_setting(name, value);
    std::string answers;
    for (const auto& a : c.answers) answers += a + "\n";
    if (!c.answers.empty()) platform::WriteEnv("OLVEX_ANSWERS", sandbox.dir().Write("answers.txt", answers));
    struct ClearAnswers {
      ~ClearAnswers() { platform::RemoveEnv("OLVEX_ANSWERS"); }
    } clear_answers;
    std::vector<std::string> command = {runtime};
    if (!c.no_r) command.insert(command.end(), {"-r", script_path});
    for (std::string arg : c.args) {
      ReplaceAll(arg, "{dir}/", dir_prefix, false);
      command.push_back(arg);
    }
    int code = 0;
    std::vector<std::pair<std::string, std::string>> boxes, expected_boxes = c.boxes;
    for (auto& [title, text] : expected_boxes) {
      ReplaceAll(title, "{dir}/", dir_prefix, false);
      ReplaceAll(text, "{dir}/", dir_prefix, false);
    }
    if (c.stop_after_ms > 0) {
      code = RunAndStop(command, std::chrono::milliseconds(c.stop_after_ms), StopKeyOf(c));
    } else {
#ifdef _WIN32
      std::optional<BoxAnswerer> answerer;
      if (!c.answer_none) answerer.emplace(c.answer_cancel ? platform::box::kAnswerCancel : platform::box::kAnswerOk);
#endif
      const ChildResult run = RunChild(command, std::chrono::seconds(60));
      ASSERT_FALSE(run.timed_out);
      code = run.exit_code;
#ifdef _WIN32
      for (const auto& b : !answerer ? std::vector<BoxAnswerer::Box>{} : answerer->WaitFor(expected_boxes.size(), std::chrono::seconds(expected_boxes.empty() ? 0 : 5)))
        boxes.emplace_back(b.title, MaskedBoxText(b.text));
#else
      // Each box is "<title>: <text>" and a line break on standard error.
      std::size_t from = 0;
      for (const auto& [title, text] : expected_boxes) {
        const std::size_t at = MaskedBoxText(run.err).find(title + ": " + text + "\n", from);
        if (at == std::string::npos) break;
        boxes.emplace_back(title, text);
        from = at + 1;
      }
#endif
    }
    EXPECT_EQ(boxes, expected_boxes);
    EXPECT_EQ(code, c.exit_code);
    for (const auto& [name, value] : c.variables) EXPECT_EQ(ReadUserVariable(name).value_or("(missing)"), value) << name;
    for (const auto& [name, text] : c.after) EXPECT_EQ(ReadBytes(dir_prefix + name), text) << name;
    if (!ini_path.empty()) {
      // The hand-written entries, in order, among the file's.
      auto entry = [](std::string line) {
        static const std::regex blanks(R"(^[ \t\r]+|[ \t\r]+$|[ \t]*(=)[ \t]*)");
        return std::regex_replace(line, blanks, "$1");
      };
      std::vector<std::string> wanted;
      for (const std::string& line : ini_lines)
        if (!entry(line).empty()) wanted.push_back(entry(line));
      std::istringstream after(ReadBytes(ini_path));
      std::size_t kept = 0;
      for (std::string line; kept < wanted.size() && std::getline(after, line);)
        if (entry(line) == wanted[kept]) ++kept;
      EXPECT_EQ(kept, wanted.size()) << "lost from the INI file: " << wanted[std::min(kept, wanted.size() - 1)] << "\n"
                                     << ReadBytes(ini_path);
    }
    if (!c.expect_log) {
      EXPECT_FALSE(platform::PathExists(log_path));
      continue;
    }
    const std::vector<std::string> log = MaskedLog(ReadBytes(log_path), dir_prefix);
    std::string expected_text, actual_text;
    for (const auto& l : c.log) expected_text += l + "\n";
    for (const auto& l : log) actual_text += l + "\n";
    EXPECT_EQ(actual_text, expected_text);
    if (actual_text != expected_text && std::getenv("OLVEX_UPDATE_EXPECTED")) {
      // Rewrites the expected log from this run (review the change before committing it).
      std::string text = ReadBytes(c.expect_path.string());
      text = text.substr(0, text.find("log:\n") + 5) + actual_text;
      std::ofstream(c.expect_path, std::ios::binary) << text;
    }
  }
}

TEST(ScriptCases, EveryCaseLogsAndEndsAsExpected) { RunCases(LoadCases(false)); }

TEST(ScriptCases, EveryExampleRunsAsExpected) { RunCases(LoadCases(true)); }

}  // namespace
}  // namespace olvex::test
