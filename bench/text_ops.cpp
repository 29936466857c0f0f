// The Data category's text operations on large texts.
//
// Sort of 1,000,000 lines (about 50 MB) beside `LC_ALL=C sort` of the same
// file in the same run (goal: at most 1.5 times its time). Replace over 1, 10
// and 100 MB of text with one match per 100 bytes (goal: linear time).
//
//   bench_text_ops --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "data/text_ops.h"

namespace {

// 1,000,000 lines of 20 to 80 letters, digits and blanks.
const std::string& Lines() {
  static const std::string text = [] {
    std::mt19937 random(1);
    const std::string chars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789   ";
    std::string t;
    t.reserve(52'000'000);
    for (int line = 0; line < 1'000'000; ++line) {
      for (std::size_t n = 20 + random() % 61; n > 0; --n) t += chars[random() % chars.size()];
      t += '\n';
    }
    return t;
  }();
  return text;
}

void SortLines(benchmark::State& state) {
  olvex::TextStep step;
  step.action = "Sort";
  step.text = Lines();
  step.value1 = "\n";
  for (auto _ : state) {
    const olvex::TextOutcome out = olvex::RunTextOperation(step);
    benchmark::DoNotOptimize(out.output.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * step.text.size()));
}

// The system's sort of the same lines, from file to file.
void SystemSort(benchmark::State& state) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const std::string in = (dir / "olvex-bench-sort.txt").string(), out = (dir / "olvex-bench-sorted.txt").string();
  std::ofstream(in, std::ios::binary) << Lines();
  const std::string command = "LC_ALL=C sort '" + in + "' -o '" + out + "'";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("sort failed");
  std::remove(in.c_str());
  std::remove(out.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Lines().size()));
}

// `megabytes` of text with "needle" once in every 100 bytes.
void ReplaceText(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0)) * 1'000'000;
  olvex::TextStep step;
  step.action = "Replace";
  std::string block(94, 'x');
  block += "needle";
  step.text.reserve(size);
  while (step.text.size() < size) step.text += block;
  step.value1 = "NEEDLE";
  step.value2 = "pin";
  for (auto _ : state) {
    const olvex::TextOutcome out = olvex::RunTextOperation(step);
    benchmark::DoNotOptimize(out.output.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

}  // namespace

BENCHMARK(SortLines)->Unit(benchmark::kMillisecond);
BENCHMARK(SystemSort)->Unit(benchmark::kMillisecond);
BENCHMARK(ReplaceText)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
