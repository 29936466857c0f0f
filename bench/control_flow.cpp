// Counting to 100,000 with a For loop whose body is one IF Expression and one
// Set Variable, logging off: the whole run from StartRun to the worker's end.
//
// BM_CountWithVariables keeps the counter in a user variable (the settings
// store: a registry value read by expansion and written by output saving);
// BM_CountInMemory runs the same steps on the loop counter and a memory slot,
// so that the difference of the two is the share of the store.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <functional>
#include <filesystem>
#include <string>

#include "engine/document.h"
#include "engine/expansion_host.h"
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
  const auto folder = std::filesystem::temp_directory_path() / ("olvex-bench-flow-" + std::to_string(std::rand()));
  std::filesystem::create_directories(folder);
  platform::WriteEnv("OLVEX_REGISTRY", (folder / "registry").string());
  olvex::SetUpSettings("");
  olvex::InstallExpander();
  olvex::InstallRunExpansionHost("");
}

std::string Step(const std::string& action, const std::string& text, const std::string& extra = "") {
  return "<step><action>" + action + "</action><text>" + text + "</text>" + extra + "</step>\n";
}

void RunCount(benchmark::State& state, const std::string& condition, const std::string& formula, const std::string& output,
              const std::function<std::string()>& result) {
  SetUpStore();
  const std::string script = Step("Start 'For' Loop", "100000", "<value1>1</value1><value2>1</value2>") +
                             Step("IF Expression", condition, "<options>Quick</options>") +
                             Step("Set Variable", formula, "<output value=\"" + output + "\">Variable</output>") +
                             Step("NEXT LOOP", "");
  olvex::CloseDocument(0);
  olvex::ParseSteps(script, 0, -1, 0);
  olvex::FixUpDocument(0);
  olvex::Document(0).file_name = "bench.oxm";
  olvex::SetLogLevel(0);
  for (auto _ : state) {
    olvex::WriteUserVariable("n", "0");
    olvex::StartRun(0, olvex::kCommandNewRun, true, 0, 0);
    olvex::WaitForWorkers();
  }
  if (result() != "100000") state.SkipWithError(("the count ended at " + result()).c_str());
  state.counters["steps_per_s"] =
      benchmark::Counter(3.0 * 100000 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  olvex::CloseDocument(0);
}

void BM_CountWithVariables(benchmark::State& state) {
  RunCount(state, "%n < 100000", "=%n+1", "%n", [] { return olvex::ReadUserVariable("n").value_or(""); });
}
void BM_CountInMemory(benchmark::State& state) {
  RunCount(state, "{loop} < 100001", "={loop}", "{1}", [] { return olvex::ReadMemorySlot(1).value_or(""); });
}

BENCHMARK(BM_CountWithVariables)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_CountInMemory)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
