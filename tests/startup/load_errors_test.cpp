// The runtime as a program: `olvex -r path` loads the script and runs its
// steps (seen in the run log); every load error is shown as a message box
// with its title and text (natively written to standard error, under Windows
// a real box), and the exit code tells a caller how the run ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/settings.h"
#include "tests/settings/store_sandbox.h"
#include "tests/startup/carried_script.h"
#include "tests/support/test_support.h"
#ifdef _WIN32
#include "tests/support/box_answerer.h"
#endif

namespace olvex::test {
namespace {

struct Box { std::string title, text; };

struct RuntimeRun { ChildResult child; std::vector<Box> boxes; };

// Runs the program `program` (a runtime) with `args`; `boxes` are the message
// boxes it showed. A script that does not load ends with exit code 2.
RuntimeRun RunRuntimeAt(const std::string& program, const std::vector<std::string>& args, std::size_t expected_boxes,
                        int expected_exit = 0) {
  std::vector<std::string> command = {program};
  command.insert(command.end(), args.begin(), args.end());
  RuntimeRun run;
#ifdef _WIN32
  // The answerer sees the boxes of every process on the desktop (other test
  // programs may run beside this one): keep those the runtime shows, whose
  // title is one of its own or the script's path.
  auto ours = [&](const BoxAnswerer::Box& b) {
    return b.title == "Olvex Error" || b.title == "Olvex Warning" ||
           std::find(command.begin(), command.end(), b.title) != command.end();
  };
  BoxAnswerer answerer(platform::box::kAnswerOk);
  run.child = RunChild(command);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(expected_boxes ? 20 : 0);
  for (;;) {
    run.boxes.clear();
    for (const auto& b : answerer.Seen())
      if (ours(b)) run.boxes.push_back({b.title, b.text});
    if (run.boxes.size() >= expected_boxes || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
#else
  run.child = RunChild(command);
  // A box reads "<title>: <text>" and a line break on standard error; the
  // report of a run that did not complete ("olvex: ..." lines) comes last.
  std::string err = run.child.err;
  if (err.rfind("olvex: ", 0) == 0) err.clear();
  if (const std::size_t report = err.find("\nolvex: "); report != std::string::npos) err.resize(report + 1);
  std::size_t start = 0;
  while (start < err.size()) {
    const std::size_t colon = err.find(": ", start);
    if (colon == std::string::npos) break;
    // The text runs to the next box ("\nOlvex " begins every other title) or the end.
    std::size_t end = err.find("\nOlvex ", colon);
    end = end == std::string::npos ? err.size() - 1 : end;
    run.boxes.push_back({err.substr(start, colon - start), err.substr(colon + 2, end - colon - 2)});
    start = end + 1;
  }
#endif
  EXPECT_FALSE(run.child.timed_out);
  EXPECT_EQ(run.child.exit_code, expected_exit);
  return run;
}

RuntimeRun RunRuntime(const std::vector<std::string>& args, std::size_t expected_boxes, int expected_exit = 0) {
  return RunRuntimeAt(RuntimePath(), args, expected_boxes, expected_exit);
}

std::string S(const std::string& action) { return "<step><action>" + action + "</action></step>"; }

struct LoggedRun { RuntimeRun run; std::string log; };

// Runs `program` with logging on (-L added) in a private store whose Logfile
// setting names a file of the sandbox; the log is what the run wrote there.
LoggedRun RunLogged(const std::string& program, std::vector<std::string> args) {
  StoreSandbox sandbox;
  ChildStore store;
  const std::string log = sandbox.dir().File("run.log");
  WriteSetting("*\\Logfile", log);
  args.push_back("-L");
  LoggedRun logged{RunRuntimeAt(program, args, 0), ""};
  logged.log = ReadBytes(log);
  return logged;
}

// The run of a script that was loaded whole: its path, where it ended and how
// many steps ran.
void ExpectRun(const LoggedRun& logged, const std::string& script, int last_step, int steps_run) {
  const std::string& log = logged.log;
  EXPECT_NE(log.find("SCRIPT: \"" + script + "\"\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Run Completed on [STEP " + std::to_string(last_step) + "] at "), std::string::npos) << log;
  EXPECT_NE(log.find("STEPS RUN: " + std::to_string(steps_run) + (steps_run == 1 ? " step\r\n" : " steps\r\n")),
            std::string::npos)
      << log;
  EXPECT_EQ(logged.run.child.out, "");
  EXPECT_TRUE(logged.run.boxes.empty()) << logged.run.child.err;
}

TEST(Startup, RunsTheScriptItNames) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.path() / "a b");
  const std::string path = dir.Write("a b/s.oxm", "<Olvex>\r\n" + S("Comment") + S("Comment") + "</Olvex>\r\n");
  ExpectRun(RunLogged(RuntimePath(), {"-r", path}), path, 2, 2);
  ExpectRun(RunLogged(RuntimePath(), {"/R", path}), path, 2, 2);
  ExpectRun(RunLogged(RuntimePath(), {"-s", "2", "-R", "\"" + path + "\""}), path, 2, 1);

  const std::string carrier = dir.Write("carrier.exe", WithCarriedScript("MZ" + std::string(64, '\0'), S("Comment")));
  ExpectRun(RunLogged(RuntimePath(), {"-r", carrier}), carrier, 1, 1);
}

TEST(Startup, WithoutAScriptFileItLoadsTheScriptItCarries) {
  ScratchDir dir;
  const std::string copy = dir.Write("carried" + std::filesystem::path(RuntimePath()).extension().string(),
                                     WithCarriedScript(ReadBytes(RuntimePath()), S("Comment") + S("Comment")));
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
  ExpectRun(RunLogged(copy, {}), copy, 2, 2);

  // The runtime itself carries no script: its tail is taken for a block and
  // decodes to no script (which error depends on the bytes the tail holds).
  RuntimeRun run = RunRuntime({}, 1, 2);
  ASSERT_GE(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find(RuntimePath()), std::string::npos) << run.boxes[0].text;
  EXPECT_EQ(run.child.out, "");
#ifndef _WIN32
  // Natively a usage line follows the load error.
  EXPECT_NE(run.child.err.find("\nusage: olvex -r SCRIPT"), std::string::npos) << run.child.err;
#endif
}

TEST(Startup, AScriptPackedByOlvexPackRunsWithoutAScriptFile) {
  ScratchDir dir;
  const std::string ext = std::filesystem::path(RuntimePath()).extension().string();
  const std::string pack = BuiltProgram("olvex-pack");
  const std::string script = dir.Write("tool.oxm", "<Olvex>\r\n" + S("Comment") + S("Comment") + S("Comment") + "</Olvex>\r\n");
  std::vector<std::vector<std::string>> forms = {{}};
#ifdef _WIN32
  forms.push_back({"--resource"});
#endif
  for (const auto& extra : forms) {
    SCOPED_TRACE(extra.empty() ? "appended" : "resource");
    const std::string tool = dir.File("MyTool" + std::to_string(extra.size()) + ext);
    std::vector<std::string> command = {pack, script, "-o", tool};
    command.insert(command.end(), extra.begin(), extra.end());
    ChildResult packed = RunChild(command);
    ASSERT_EQ(packed.exit_code, 0) << packed.err;
    ExpectRun(RunLogged(tool, {}), tool, 3, 3);
  }
}

TEST(Startup, EveryLoadErrorIsShownWithItsTitleAndText) {
  ScratchDir dir;
  const std::string missing = dir.File("missing.oxm");
  const std::string folder = dir.path().string();
  const std::string plain_exe = dir.Write("plain.exe", "MZ" + std::string(100, 'x') + std::string(4, '\0'));
  const std::string notes = dir.Write("notes.txt", "nothing to see");
  std::string many;
  for (int i = 0; i < 100001; ++i) many += S("Delay");
  const std::string too_many = dir.Write("many.oxm", many);
  const std::string empty_action = dir.Write("empty.oxm", S(""));

  const struct { std::string path, title, text; } cases[] = {
      {missing, "Olvex Error", "Unable to open file '" + missing + "'\n\nFile does not exist"},
      {folder, "Olvex Error",
       "Unable to open file '" + folder + "'!\n\nPlease verify that the file is not open in another program."},
      {plain_exe, "Olvex Error", "Unable to read \"" + plain_exe + "\""},
      {notes, notes, "\"" + notes + "\" does not appear to contain Olvex actions"},
      {too_many, "Olvex Error", "Internal Memory Error (step count)"},
      // The steps before the bad one stay loaded: none here, so nothing runs
      // (no "The file is empty." box either).
      {empty_action, "Olvex Error", "Empty <action> tag in step #1\n\nDiscontinuing file load at step #1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    RuntimeRun run = RunRuntime({"-r", c.path}, 1, 2);
    ASSERT_EQ(run.boxes.size(), 1u) << run.child.err;
    EXPECT_EQ(run.boxes[0].title, c.title);
    EXPECT_EQ(run.boxes[0].text, c.text);
    EXPECT_EQ(run.child.out, "");
  }
}


}  // namespace
}  // namespace olvex::test
