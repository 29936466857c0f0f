// Running 100,000 Comment steps with logging off: StartRun to the end of the
// worker (the step loop, the step line and the dispatch of every step).
//
// Goal: under 0.2 s for the whole run (natively, Release).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/document.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "platform/environment.h"

namespace {

void SetUpStore() {
  static bool done = false;
  if (done) return;
  done = true;
  const auto folder = std::filesystem::temp_directory_path() / ("olvex-bench-engine-" + std::to_string(std::rand()));
  std::filesystem::create_directories(folder);
  platform::WriteEnv("OLVEX_REGISTRY", (folder / "registry").string());
  olvex::SetUpSettings("");
}

void BM_RunCommentSteps(benchmark::State& state) {
  SetUpStore();
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "<step><action>Comment</action><text>Note " + std::to_string(i) + "</text></step>\n";
  olvex::CloseDocument(0);
  olvex::ParseSteps(text, 0, -1, 0);
  olvex::Document(0).file_name = "bench.oxm";
  olvex::SetLogLevel(0);
  for (auto _ : state) {
    olvex::StartRun(0, olvex::kCommandNewRun, true, 0, 0);
    olvex::WaitForWorkers();
  }
  state.counters["steps"] = static_cast<double>(olvex::Document(0).steps.size());
  olvex::CloseDocument(0);
}
BENCHMARK(BM_RunCommentSteps)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
