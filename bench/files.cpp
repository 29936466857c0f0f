// The Files & Folders actions beside the system's own tools on the same data
// in the same run: Copy File and Read File of a 1 GB file beside `cp` and
// `cat > /dev/null` (goal: at least 0.8 of their throughput), Search in File
// over 200 MB of text beside `grep -F -c` (goal: at least 0.5), Count
// Files/Folders with "Recur" over 100,000 files beside `find | wc -l` (goal:
// at most 1.5 times its time).
//
//   bench_files --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
// OLVEX_BENCH_DIR chooses the folder (default: the temporary folder); it needs about 2.5 GB.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "engine/document.h"
#include "engine/run.h"
#include "system/file_actions.h"

namespace {

namespace fs = std::filesystem;

fs::path g_root;

std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// One step of the Files & Folders category, run through its handler.
void RunFilesStep(benchmark::State& state, const std::string& step) {
  olvex::CloseAllDocuments();
  if (olvex::ParseSteps(step, 0, -1, 0).status != olvex::ParseStatus::Parsed) state.SkipWithError("parse failed");
  olvex::FixUpDocument(0);
  if (olvex::HandleFilesStep(0, 0) != 1) state.SkipWithError(olvex::StepError().c_str());
}

void Shell(benchmark::State& state, const std::string& command) {
  if (std::system(command.c_str()) != 0) state.SkipWithError(command.c_str());
}

void SetBytes(benchmark::State& state, std::uintmax_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// Runs `step` (a Files & Folders step) or `command` (a shell command) once per iteration; the
// throughput counts the bytes of `data`.
void StepOverData(benchmark::State& state, const std::string& step, const std::string& command, const char* data) {
  for (auto _ : state) {
    if (!step.empty()) RunFilesStep(state, step);
    else Shell(state, command);
  }
  SetBytes(state, fs::file_size(g_root / data));
}

std::string StepText(const std::string& action, const std::string& file, const std::string& rest) {
  return "<step><action>" + action + "</action><value1>" + (g_root / file).string() + "</value1>" + rest + "</step>";
}

void CopyFileAction(benchmark::State& state) {
  StepOverData(state, StepText("Copy File", "big.bin", "<text>" + (g_root / "copy-olvex.bin").string() + "</text>"), "",
               "big.bin");
}

void CopyFileCp(benchmark::State& state) {
  StepOverData(state, "", "cp " + Quoted(g_root / "big.bin") + " " + Quoted(g_root / "copy-cp.bin"), "big.bin");
}

void ReadFileAction(benchmark::State& state) {
  // The copies before leave much unwritten data, which a large allocation would first wait for.
  Shell(state, "sync");
  StepOverData(state, StepText("Read File", "big.bin", ""), "", "big.bin");
}

void ReadFileCat(benchmark::State& state) {
  StepOverData(state, "", "cat " + Quoted(g_root / "big.bin") + " > /dev/null", "big.bin");
}

void SearchAction(benchmark::State& state) {
  StepOverData(state, StepText("Search in File", "text.txt", "<value2>zebra-quartz</value2>"), "", "text.txt");
}

void SearchGrep(benchmark::State& state) {
  StepOverData(state, "", "grep -F -c zebra-quartz " + Quoted(g_root / "text.txt") + " > /dev/null; true", "text.txt");
}

void CountAction(benchmark::State& state) {
  for (auto _ : state)
    RunFilesStep(state, "<step><action>Count Files/Folders</action><text>" + (g_root / "tree" / "*.*").string() +
                            "</text><options>Recur</options></step>");
}

void CountFind(benchmark::State& state) {
  for (auto _ : state) Shell(state, "find " + Quoted(g_root / "tree") + " -type f | wc -l > /dev/null");
}

void MakeData() {
  fs::create_directories(g_root / "tree");
  {
    std::ofstream big(g_root / "big.bin", std::ios::binary);
    std::string block(1 << 20, '\0');
    std::mt19937 random(1);
    for (char& c : block) c = static_cast<char>('a' + random() % 26);  // no zero bytes: nothing to escape
    for (int i = 0; i < 1024; ++i) big.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  {
    static const char* const kWords[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "theta", "kappa"};
    std::ofstream text(g_root / "text.txt", std::ios::binary);
    std::mt19937 random(2);
    std::string line;
    for (std::uintmax_t written = 0; written < (std::uintmax_t{200} << 20); written += line.size()) {
      line.clear();
      for (int w = 0; w < 10; ++w) line += std::string(kWords[random() % 8]) + ' ';
      line += '\n';
      text << line;
    }
  }
  for (int d = 0; d < 100; ++d) {
    const fs::path folder = g_root / "tree" / ("d" + std::to_string(d));
    fs::create_directories(folder);
    for (int f = 0; f < 1000; ++f) std::ofstream(folder / ("f" + std::to_string(f) + ".txt"));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* base = std::getenv("OLVEX_BENCH_DIR");
  g_root = fs::path(base && *base ? base : fs::temp_directory_path().string()) /
           ("olvex-bench-files-" + std::to_string(std::random_device{}()));
  MakeData();
  // Each pair reads the same data, which the first run of the pair brings into the page cache.
  benchmark::RegisterBenchmark("copy_1gb/olvex", CopyFileAction)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("copy_1gb/cp", CopyFileCp)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("read_1gb/olvex", ReadFileAction)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("read_1gb/cat", ReadFileCat)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("search_200mb/olvex", SearchAction)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("search_200mb/grep", SearchGrep)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("count_100k/olvex", CountAction)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("count_100k/find", CountFind)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(g_root, ec);
  return 0;
}
