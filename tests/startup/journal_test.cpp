// The run journal (OLVEX_JOURNAL): every line is a JSON object, the step
// records agree with the run log, and a stopped or killed run leaves only
// complete lines.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "engine/document.h"
#include "engine/journal.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "platform/environment.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/test_support.h"
#ifdef _WIN32
#include "tests/support/box_answerer.h"
#endif

namespace olvex::test {
namespace {

using nlohmann::json;

std::vector<json> ReadJournal(const std::string& path) {
  std::vector<json> records;
  std::istringstream in(ReadBytes(path));
  std::string line;
  while (std::getline(in, line)) {
    EXPECT_NO_THROW(records.push_back(json::parse(line))) << line;
    EXPECT_TRUE(records.back().is_object()) << line;
  }
  return records;
}

// Runs the runtime on `script` with the journal on and the log at level 1.
ChildResult RunJournaled(StoreSandbox& sandbox, const std::string& script, std::chrono::milliseconds timeout) {
  WriteSetting("*\\Logfile", sandbox.dir().File("run.log"));
  WriteSetting("*\\LogLevel", 1);
  platform::WriteEnv("OLVEX_JOURNAL", sandbox.dir().File("journal.jsonl"));
  ChildResult run;
  {
#ifdef _WIN32
    BoxAnswerer answerer(platform::box::kAnswerOk);
#endif
    run = RunChild({RuntimePath(), "-r", sandbox.dir().Write("s.oxm", script)}, timeout);
  }
  platform::WriteEnv("OLVEX_JOURNAL", "");
  return run;
}

// A prompt answered from the answers file keeps its password out.
TEST(Journal, StepsOfLoopsFailuresAndPromptsMatchTheRunLog) {
  StoreSandbox sandbox;
  ChildStore store;
  platform::WriteEnv("OLVEX_ANSWERS", sandbox.dir().Write("answers.txt", "* | * | OK | ann;secret\n"));
  const std::string script =
      "<step><action>Start 'For' Loop</action><text>2</text><output value=\"i\">Variable</output></step>"
      "<step><action>Set Variable</action><text>x%i \xE9\r\n\"\\\t\x01</text><output value=\"v\">Variable</output></step>"
      "<step><action>NEXT LOOP</action></step>"
      "<step><action>Start Browser</action><onfail>ERROR AND CONTINUE</onfail></step>"
      "<step><action>IF Variable</action><text>%i</text><value1>7</value1></step>"
      "<step><action>END IF</action></step>"
      "<step><action>Login Prompt</action><text>Sign in</text></step>";
  const ChildResult run = RunJournaled(sandbox, script, std::chrono::seconds(60));
  platform::WriteEnv("OLVEX_ANSWERS", "");
  ASSERT_FALSE(run.timed_out);
  // Not const: a key a faulty record lacks reads as null and fails its check
  // (on a const object the JSON library aborts the whole test program).
  std::vector<json> records = ReadJournal(sandbox.dir().File("journal.jsonl"));
  const std::string log = ReadBytes(sandbox.dir().File("run.log"));
  ASSERT_GE(records.size(), 2u) << log;

  // The steps in the order the log shows them: "[STEP n]: action".
  std::vector<std::pair<int, std::string>> logged, journaled;
  static const std::regex step_line(R"(\[STEP (\d+)\]: ([^"\r]*?)( "[^\r]*)?\r\n)");
  for (std::sregex_iterator it(log.begin(), log.end(), step_line), end; it != end; ++it)
    logged.emplace_back(std::stoi((*it)[1]), (*it)[2]);
  for (const json& r : records)
    if (r["event"] == "step") journaled.emplace_back(r["step"].get<int>(), r["action"].get<std::string>());
  EXPECT_EQ(journaled, logged) << log;

  EXPECT_EQ(records.front()["event"], "start");
  EXPECT_EQ(records.front()["script"], sandbox.dir().File("s.oxm"));
  json& end = records.back();
  EXPECT_EQ(end["event"], "end");
  EXPECT_EQ(end["how"], "completed");
  EXPECT_EQ(end["exit_code"], run.exit_code);
  EXPECT_NE(log.find("STEPS RUN: " + std::to_string(end["steps_run"].get<int>()) + " steps"), std::string::npos) << log;
  // A byte that is not UTF-8 arrives as its Latin-1 reading; line breaks and control characters escaped.
  EXPECT_EQ(records[2]["text"], "x1 \xC3\xA9\r\n\"\\\t\x01");
  EXPECT_EQ(records[2]["output"], "Variable");
  EXPECT_EQ(records[2]["value"], records[2]["text"]);
  json& failed = records[records.size() - 6];
  EXPECT_EQ(failed["result"], "failure");
  EXPECT_EQ(failed["fail_mode"], "ERROR AND CONTINUE");
  EXPECT_NE(log.find("Error:  " + failed["error"].get<std::string>()), std::string::npos) << log;
  EXPECT_EQ(records[records.size() - 5]["result"], "false");
  int prompts = 0;
  for (json& r : records) {
    if (r["event"] != "prompt") continue;
    ++prompts;
    EXPECT_EQ(r["step"], 7);
    EXPECT_EQ(r["by"], "answers file");
    EXPECT_EQ(r["answer"], "ann;*****");
  }
  EXPECT_EQ(prompts, 1);
}

TEST(Journal, AKilledRunLeavesCompleteLines) {
  StoreSandbox sandbox;
  ChildStore store;
  WriteSetting("*\\InterStepDelay", 30);
  std::string script;
  for (int i = 0; i < 500; ++i) script += "<step><action>Comment</action><text>step " + std::to_string(i) + "</text></step>";
  const ChildResult run = RunJournaled(sandbox, script, std::chrono::milliseconds(4000));
  ASSERT_TRUE(run.timed_out);  // killed
  const std::string text = ReadBytes(sandbox.dir().File("journal.jsonl"));
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::vector<json> records = ReadJournal(sandbox.dir().File("journal.jsonl"));
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records.front()["event"], "start");
  EXPECT_EQ(records.back()["event"], "step");
}

TEST(Journal, TwoRuntimesShareAJournalLineByLine) {
  StoreSandbox sandbox;
  ChildStore store;
  std::string script;
  for (int i = 0; i < 2000; ++i) script += "<step><action>Comment</action><text>" + std::string(100, 'x') + "</text></step>";
  const std::string path = sandbox.dir().Write("s.oxm", script);
  platform::WriteEnv("OLVEX_JOURNAL", sandbox.dir().File("journal.jsonl"));
  ChildResult runs[2];
  {
    std::thread other([&] { runs[1] = RunChild({RuntimePath(), "-r", path}); });
    runs[0] = RunChild({RuntimePath(), "-r", path});
    other.join();
  }
  platform::WriteEnv("OLVEX_JOURNAL", "");
  std::map<std::int64_t, int> steps, ends;
  for (const json& r : ReadJournal(sandbox.dir().File("journal.jsonl"))) {
    if (r["event"] == "step") ++steps[r["pid"].get<std::int64_t>()];
    if (r["event"] == "end") ++ends[r["pid"].get<std::int64_t>()];
  }
  ASSERT_EQ(steps.size(), 2u) << "exit codes " << runs[0].exit_code << ", " << runs[1].exit_code << "\n"
                              << runs[0].err << runs[1].err;
  for (const auto& [pid, count] : steps) {
    EXPECT_EQ(count, 2000) << pid;
    EXPECT_EQ(ends[pid], 1) << pid;
  }
}

TEST(Journal, AStoppedRunEndsWithItsStepAndHow) {
  StoreSandbox sandbox;
  const std::string path = sandbox.dir().File("journal.jsonl");
  ASSERT_TRUE(OpenJournal(path));
  CloseAllDocuments();
  ASSERT_EQ(ParseSteps("<step><action>Comment</action><text>a</text></step><step><action>Comment</action></step>", 0, -1, 0)
                .status,
            ParseStatus::Parsed);
  Document(0).file_name = "stop.oxm";
  SetCategoryHandler(16, [](int, int, int) {
    RequestStop(false);
    return 1;
  });
  StartRun(0, kCommandNewRun, true, 0, 0);
  EXPECT_TRUE(WaitForWorkers());
  SetCategoryHandler(16, nullptr);
  CloseJournal();
  CloseAllDocuments();
  std::vector<json> records = ReadJournal(path);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1]["step"], 1);
  EXPECT_EQ(records[1]["text"], "a");
  EXPECT_EQ(records[1]["result"], "stopped");
  EXPECT_EQ(records[2]["how"], "stopped");
  EXPECT_EQ(records[2]["steps_run"], 1);
  EXPECT_EQ(records[2]["exit_code"], 3);
}

}  // namespace
}  // namespace olvex::test
