// Runs of 100,000 steps with logging off: StartRun to the end of the worker
// (the step loop, the step line and the dispatch of every step).
//   RunCommentSteps: Comment steps. Goal: under 0.2 s for the whole run
//     (natively, Release). /1: the same with the run journal on (a JSON line
//     per step into a file). Goal: within 1.5 times /0.
//   RunSetVariableSteps/0: Set Variable of a plain text, no output.
//   RunSetVariableSteps/1: the same text saved to a user variable (one
//     store write per step).
//   RunSetVariableSteps/2: "=%count+1" saved to count (a store read, a
//     formula and a store write per step).
//   CountInForLoop: a For loop counting to 20,000 whose body is one Quick IF
//     Expression and one Set Variable. /0 keeps the counter in a user variable
//     (the store: two reads and a write a pass), /1 reads the loop counter and
//     writes a memory slot: the difference of the two is the store's share.
//     Goal: /0 at most 2.5 times /1 (Linux: the store's value cache answers
//     the reads, each write is one statement).
// The work is on the run's worker thread: the times are wall-clock times.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/document.h"
#include "engine/expansion_host.h"
#include "engine/journal.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "platform/environment.h"
#include "vars/expand.h"
#include "vars/variables.h"

namespace {

void SetUpStore() {
  static bool done = false;
  if (done) return;
  done = true;
  const auto folder = std::filesystem::temp_directory_path() / ("olvex-bench-engine-" + std::to_string(std::rand()));
  std::filesystem::create_directories(folder);
  platform::WriteEnv("OLVEX_REGISTRY", (folder / "registry").string());
  olvex::SetUpSettings("");
  olvex::InstallExpander();
  olvex::InstallRunExpansionHost("");
}

// Loads `text` into slot 0 and runs it once per iteration.
void RunSteps(benchmark::State& state, const std::string& text) {
  olvex::CloseDocument(0);
  olvex::ParseSteps(text, 0, -1, 0);
  olvex::FixUpDocument(0);
  olvex::Document(0).file_name = "bench.oxm";
  olvex::SetLogLevel(0);
  for (auto _ : state) {
    olvex::StartRun(0, olvex::kCommandNewRun, true, 0, 0);
    olvex::WaitForWorkers();
  }
  state.counters["steps"] = static_cast<double>(olvex::Document(0).steps.size());
  state.counters["steps/s"] =
      benchmark::Counter(static_cast<double>(olvex::Document(0).steps.size()), benchmark::Counter::kIsIterationInvariantRate);
  olvex::CloseDocument(0);
}

void BM_RunCommentSteps(benchmark::State& state) {
  SetUpStore();
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "<step><action>Comment</action><text>Note " + std::to_string(i) + "</text></step>\n";
  const auto journal = std::filesystem::temp_directory_path() / ("olvex-bench-journal-" + std::to_string(std::rand()));
  if (state.range(0) == 1) olvex::OpenJournal(journal.string());
  RunSteps(state, text);
  olvex::CloseJournal();
  std::filesystem::remove(journal);
}
BENCHMARK(BM_RunCommentSteps)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RunSetVariableSteps(benchmark::State& state) {
  SetUpStore();
  const std::int64_t form = state.range(0);
  olvex::WriteUserVariable("count", "0");
  std::string text;
  for (int i = 0; i < 100000; ++i) {
    if (form == 2)
      text += "<step><action>Set Variable</action><text>=%count+1</text><output value=\"%count\">Variable</output></step>\n";
    else
      text += "<step><action>Set Variable</action><text>Value " + std::to_string(i) + "</text>" +
              (form == 1 ? "<output value=\"%v\">Variable</output>" : "") + "</step>\n";
  }
  RunSteps(state, text);
}
BENCHMARK(BM_RunSetVariableSteps)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

std::string Step(const std::string& action, const std::string& text, const std::string& extra = "") {
  return "<step><action>" + action + "</action><text>" + text + "</text>" + extra + "</step>\n";
}

constexpr int kPasses = 20000;

void BM_CountInForLoop(benchmark::State& state) {
  SetUpStore();
  const bool in_store = state.range(0) == 0;
  olvex::WriteUserVariable("n", "0");
  const std::string text = Step("Start 'For' Loop", std::to_string(kPasses), "<value1>1</value1><value2>1</value2>") +
                           Step("IF Expression", in_store ? "%n < " + std::to_string(kPasses) : "{loop} < " + std::to_string(kPasses + 1),
                                "<options>Quick</options>") +
                           Step("Set Variable", in_store ? "=%n+1" : "={loop}",
                                in_store ? "<output value=\"%n\">Variable</output>" : "<output value=\"{1}\">Variable</output>") +
                           Step("NEXT LOOP", "");
  RunSteps(state, text);
  state.counters.erase("steps/s");
  state.counters["steps"] = 4.0 * kPasses + 1;  // each pass runs the four steps; the last start ends the loop
  const std::string count = in_store ? olvex::ReadUserVariable("n").value_or("") : olvex::ReadMemorySlot(1).value_or("");
  if (count != std::to_string(kPasses)) state.SkipWithError(("the count ended at " + count).c_str());
}
BENCHMARK(BM_CountInForLoop)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
