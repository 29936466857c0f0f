// The programs on the command line: --help and --version, the report of a run
// that did not complete, following the run log, and seeing a run (the status
// line on a terminal; under Windows the run-tracking window).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "engine/settings.h"
#include "platform/files.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/test_support.h"
#include "olvex_version.h"
#ifdef _WIN32
#include <windows.h>

#include "tests/support/box_answerer.h"
#else
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace olvex::test {
namespace {

// Standard error as lines ending in LF (Windows writes CR LF).
std::string Lf(std::string text) { return std::erase(text, '\r'), text; }

std::string Script(const std::string& steps) { return "<Olvex>\r\n" + steps + "</Olvex>\r\n"; }
std::string Delay(const std::string& s) { return "<step><action>Delay</action><timeout>" + s + "</timeout></step>\n"; }

TEST(CommandLine, EveryProgramPrintsItsHelpAndVersion) {
  for (const std::string name : {"olvex", "olvex-check", "olvex-pack", "olvex-reg"}) {
    SCOPED_TRACE(name);
    const ChildResult help = RunChild({BuiltProgram(name), "--help"});
    const std::string usage = Lf(help.out);
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_TRUE(usage.rfind("usage: " + name, 0) == 0 || usage.rfind("Usage:\n  " + name, 0) == 0) << usage;
    EXPECT_EQ(help.err, "");
    const ChildResult version = RunChild({BuiltProgram(name), "--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(Lf(version.out), name + " " OLVEX_VERSION "\n");
  }
}

// A run that does not complete says how it ended on standard error, after
// what the run showed; a completed run says nothing.
TEST(CommandLine, ARunThatDoesNotCompleteSaysHowItEnded) {
  StoreSandbox sandbox;
  ChildStore store;
  const std::string log = sandbox.dir().File("run.log");
  WriteSetting("*\\Logfile", log);
  const std::string failing = sandbox.dir().Write(
      "failing.oxm", Script("<step><action>Comment</action></step>\n<step><action>Start Browser</action>"
                            "<onfail value=\"\">SILENT</onfail></step>\n"));
  const std::string bad_step = sandbox.dir().Write(
      "bad.oxm", Script("<step><action>Comment</action></step>\n<step><action>Fly Away</action></step>\n"));
  std::filesystem::create_directories(sandbox.dir().path() / "a b");
  const std::string fine = sandbox.dir().Write("a b/fine.oxm", Script("<step><action>Comment</action></step>\n"));
  const std::string missing = sandbox.dir().File("missing.oxm");
  // The first of two runs fails at step 4; the second completes.
  const std::string repeated = sandbox.dir().Write(
      "repeated.oxm", Script("<step><action>Set Run Repeats</action><text>2</text></step>\n"
                             "<step><action>Increment Variable</action><output value=\"r\">Variable</output></step>\n"
                             "<step><action>IF Expression</action><text>%r = 1</text></step>\n"
                             "<step><action>Start Browser</action><onfail>SILENT</onfail></step>\n"
                             "<step><action>END IF</action></step>\n<step><action>Comment</action></step>\n"));
  // Step 70,001 is a comment; the one a 16-bit start number would name fails.
  std::string long_text;
  for (int i = 1; i <= 70001; ++i)
    long_text += i == 70001 - 65536 ? "<step><action>Start Browser</action></step>\n" : "<step><action>Comment</action></step>\n";
  const std::string long_script = sandbox.dir().Write("long.oxm", Script(long_text));
  const struct {
    std::vector<std::string> args;
    int exit_code;
    std::string report;  // the end of standard error
  } cases[] = {
      {{"-r", failing, "-L"}, 1,
       "olvex: the run failed at [STEP 2] Start Browser: Internet actions are not available: \"Start Browser\"\n"
       "olvex: the run log: " + log + "\n"},
      {{"-r", failing, "-F"}, 1,
       "olvex: the run failed at [STEP 2] Start Browser: Internet actions are not available: \"Start Browser\"\n"
       "olvex: logging is off (-L writes the run log to " + log + ")\n"},
      {{"-r", missing, "-L"}, 2,
       "olvex: the script \"" + missing + "\" was not loaded: Unable to open file '" + missing +
           "'  File does not exist\nolvex: the run log: " + log + "\n"},
      // A step the catalog does not know ends the run when it is reached.
      {{"-r", bad_step, "-L"}, 1,
       "olvex: the run failed at [STEP 2] Fly Away: Invalid next step in File 1 at [STEP 2]\n"
       "olvex: the run log: " + log + "\n"},
      {{"-r", repeated, "-L"}, 1,
       "olvex: the run failed at [STEP 4] Start Browser: Internet actions are not available: \"Start Browser\"\n"
       "olvex: the run log: " + log + "\n"},
      {{"-r", long_script, "-s", "70001"}, 0, ""},
      {{"-r", fine, "-L"}, 0, ""},
      {{"-R", "\"" + fine + "\"", "-L"}, 0, ""},  // the path quoted in the argument itself
  };
#ifdef _WIN32
  BoxAnswerer answerer;  // the load error's box
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2]);
    std::vector<std::string> command = {RuntimePath()};
    command.insert(command.end(), c.args.begin(), c.args.end());
    const ChildResult run = RunChild(command);
    const std::string err = Lf(run.err);
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(run.out, "");
    if (c.report.empty()) {
      EXPECT_EQ(err, "");
    } else {
      ASSERT_GE(err.size(), c.report.size()) << err;
      EXPECT_EQ(err.substr(err.size() - c.report.size()), c.report);
    }
  }
}

// --follow: every line of the log on standard error as it is written; the
// log file is the same with it as without it, and with logging off none is written.
TEST(CommandLine, FollowCopiesTheLogToStandardError) {
  StoreSandbox sandbox;
  ChildStore store;
  const std::string log = sandbox.dir().File("run.log");
  WriteSetting("*\\Logfile", log);
  const std::string script = sandbox.dir().Write(
      "s.oxm", Script("<step><action>Comment</action><text>first</text></step>\n"
                      "<step><action>Write to Log</action><text>by the script</text></step>\n"));
  const ChildResult followed = RunChild({RuntimePath(), "-r", script, "-L", "--follow"});
  EXPECT_EQ(followed.exit_code, 0);
  const std::string written = Lf(ReadBytes(log)), shown = Lf(followed.err);
  EXPECT_EQ(shown, written);
  EXPECT_NE(shown.find("[STEP 1] ("), std::string::npos) << shown;
  EXPECT_NE(shown.find("\nby the script\n"), std::string::npos) << shown;

  std::filesystem::remove(log);
  const ChildResult quiet = RunChild({RuntimePath(), "-r", script, "-F", "--follow"});
  EXPECT_EQ(quiet.exit_code, 0);
  EXPECT_NE(Lf(quiet.err).find("\n[STEP 1]: Comment \"first\"\n"), std::string::npos) << quiet.err;
  EXPECT_FALSE(platform::PathExists(log));
}

#ifndef _WIN32
struct TerminalRun { int exit_code = -1; std::string shown; };

// Runs the runtime with `script` on a pseudo-terminal, sending SIGINT once the
// terminal shows `stop_at` (when given); what the terminal received, and the exit code.
TerminalRun RunOnTerminal(const std::string& script, std::string stop_at = "") {
  TerminalRun result;
  int terminal = -1;
  const std::string runtime = RuntimePath();
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execl(runtime.c_str(), runtime.c_str(), "-r", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool ended = false;
  int status = 0;
  while (pid > 0 && std::chrono::steady_clock::now() < deadline) {
    if (!stop_at.empty() && result.shown.find(stop_at) != std::string::npos) {
      kill(pid, SIGINT);  // once: a second signal ends the run by force
      stop_at.clear();
    }
    pollfd p{terminal, POLLIN, 0};
    char buffer[4096];
    // A terminal whose program has ended reads as an error (EIO), not as data.
    const ssize_t n = poll(&p, 1, 20) > 0 ? read(terminal, buffer, sizeof buffer) : 0;
    if (n > 0) result.shown.append(buffer, static_cast<std::size_t>(n));
    else if (ended) break;  // ended, and nothing more to read
    else ended = waitpid(pid, &status, WNOHANG) == pid;
  }
  if (!ended && pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  close(terminal);
  result.exit_code = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(CommandLine, OnATerminalAStatusLineShowsTheRunningStep) {
  StoreSandbox sandbox;
  ChildStore store;
  WriteSetting("*\\Logfile", sandbox.dir().File("run.log"));
  const std::string script = sandbox.dir().Write(
      "s.oxm", Script("<step><action>Comment</action></step>\n" + Delay("0.9") +
                      "<step><action>Start 'For' Loop</action><text>3</text><value1>1</value1><value2>1</value2></step>\n" + Delay("0.4") +
                      "<step><action>NEXT LOOP</action></step>\n"));
  const TerminalRun run = RunOnTerminal(script);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.shown.find("\r[STEP 2]  Delay  0:00:00\x1b[K"), std::string::npos) << run.shown;
  EXPECT_NE(run.shown.find("  loop 2\x1b[K"), std::string::npos) << run.shown;
  // Cleared at the end: the terminal is left on an empty line.
  ASSERT_GE(run.shown.size(), 4u);
  EXPECT_EQ(run.shown.substr(run.shown.size() - 4), "\r\x1b[K") << run.shown;

  // A stop: the line goes before the report of how the run ended.
  const TerminalRun stopped = RunOnTerminal(script, "[STEP 2]  Delay");
  EXPECT_EQ(stopped.exit_code, 3);
  EXPECT_NE(stopped.shown.find("\r\x1b[Kolvex: the run was stopped at [STEP 2] Delay\r\n"), std::string::npos)
      << stopped.shown;

  // The setting turned off: no line.
  WriteSetting("*\\RunTrackingShow", 0);
  const TerminalRun quiet = RunOnTerminal(script);
  EXPECT_EQ(quiet.exit_code, 0);
  EXPECT_EQ(quiet.shown, "");
}
#else
// The run-tracking window: shown while the setting asks, looking as the
// settings say, with the running step; "Track OFF" closes it.
TEST(CommandLine, TheRunTrackingWindowShowsTheRunningStep) {
  StoreSandbox sandbox;
  ChildStore store;
  for (const auto& [name, value] : {std::pair{"Show", 1}, {"Alpha", 200}, {"Width", 300}, {"X", 40}, {"Y", 50}})
    WriteSetting(std::string("*\\RunTracking") + name, value);
  const std::string script = sandbox.dir().Write(
      "s.oxm", Script(Delay("1.5") + "<step><action>Olvex Setting Change</action><text>Track</text>"
                      "<options>OFF</options></step>\n" + Delay("1.5")));
  auto run = std::async(std::launch::async, [&] { return RunChild({RuntimePath(), "-r", script}); });
  HWND window = nullptr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!window && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    window = FindWindowA("OlvexTracking", nullptr);
  }
  ASSERT_NE(window, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  char text[200] = {};
  GetWindowTextA(GetWindow(window, GW_CHILD), text, sizeof text);
  EXPECT_EQ(std::string(text).rfind("[STEP 1]  Delay\r\n0:00:0", 0), 0u) << text;
  RECT r{};
  GetWindowRect(window, &r);
  EXPECT_EQ(std::make_tuple(r.left, r.top, r.right - r.left), std::make_tuple(40L, 50L, 300L));
  EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  BYTE alpha = 0;
  DWORD flags = 0;
  EXPECT_TRUE(GetLayeredWindowAttributes(window, nullptr, &alpha, &flags));
  EXPECT_EQ(alpha, 200);
  // "Track OFF" at step 2 closes it while the run goes on.
  while (IsWindow(window) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(run.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  EXPECT_EQ(run.get().exit_code, 0);
}
#endif

}  // namespace
}  // namespace olvex::test
