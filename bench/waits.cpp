// Reaction time of a polled wait: from the moment the file is created to the
// moment the Wait for File step ends (the run ends with it), with the main
// loop served on the benchmark's thread as the runtime serves it. The file is
// created at a random moment of the wait, so the figures follow the polls:
// the first after 1 s, then every 3 s. IdleWaitCpu gives the processor share
// of a wait that runs out (goal: well under 1 %: no busy polling). Run by hand:
//   bench_waits --benchmark_repetitions=50 (median and worst ("max") of 50)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "engine/document.h"
#include "engine/main_loop.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "platform/environment.h"
#include "platform/priority.h"

namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    const auto f = std::filesystem::temp_directory_path() / ("olvex-bench-waits-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(f);
    platform::WriteEnv("OLVEX_REGISTRY", (f / "registry").string());
    olvex::SetUpSettings("");
    return f;
  }();
  return folder;
}

// Loads a script of one Wait for File step into slot 0.
void LoadWaitForFile(const std::string& path, int timeout_s) {
  olvex::CloseDocument(0);
  olvex::ParseSteps("<step><action>Wait for File</action><text>" + path + "</text><options>Exist</options><timeout>" +
                        std::to_string(timeout_s) + "</timeout></step>",
                    0, -1, 0);
  olvex::FixUpDocument(0);
  olvex::Document(0).file_name = "bench.oxm";
  olvex::SetLogLevel(0);
}

void FileReaction(benchmark::State& state) {
  const std::string path = (Folder() / "ready.txt").string();
  LoadWaitForFile(path, 30);
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delay_ms(0, 3000);
  Clock::time_point ended;
  olvex::SetRunEndedHandler([&ended] {
    ended = Clock::now();
    olvex::QuitMainLoop();
  });
  for (auto _ : state) {
    std::filesystem::remove(path);
    Clock::time_point created;
    olvex::ClaimMainThread();
    olvex::StartRun(0, olvex::kCommandNewRun, true, 0, 0);
    std::thread creator([&, wait = delay_ms(random)] {
      std::this_thread::sleep_for(std::chrono::milliseconds(wait));
      created = Clock::now();
      std::ofstream(path) << "x";
    });
    olvex::RunMainLoop();
    creator.join();
    olvex::WaitForWorkers();
    state.SetIterationTime(std::chrono::duration<double>(ended - created).count());
  }
  olvex::SetRunEndedHandler(nullptr);
  olvex::CloseDocument(0);
}

void IdleWaitCpu(benchmark::State& state) {
  LoadWaitForFile((Folder() / "never.txt").string(), 10);
  olvex::SetRunEndedHandler([] { olvex::QuitMainLoop(); });
  for (auto _ : state) {
    const double cpu = platform::ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    olvex::ClaimMainThread();
    olvex::StartRun(0, olvex::kCommandNewRun, true, 0, 0);
    olvex::RunMainLoop();
    olvex::WaitForWorkers();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    state.counters["cpu_percent"] = 100.0 * (platform::ProcessCpuSeconds() - cpu) / wall;
  }
  olvex::SetRunEndedHandler(nullptr);
  olvex::CloseDocument(0);
}
BENCHMARK(IdleWaitCpu)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK(FileReaction)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });

}  // namespace

BENCHMARK_MAIN();
