// Expansion of step fields. A 200-byte text without references is expanded
// beside a plain copy of it (goal: within 2x). A text with ten %name
// references to existing variables is expanded and the store calls it makes
// are counted (goal: one listing of the variables plus one read per reference).
//
//   bench_expand --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/environment.h"
#include "vars/expand.h"
#include "vars/variables.h"

namespace {

std::string PlainText() {
  std::string text;
  while (text.size() < 200) text += "The quick brown fox jumps over the lazy dog. ";
  text.resize(200);
  return text;
}

void CopyPlain(benchmark::State& state) {
  const std::string text = PlainText();
  for (auto _ : state) {
    std::string copy(text);
    benchmark::DoNotOptimize(copy.data());
  }
}

void ExpandPlain(benchmark::State& state) {
  const std::string text = PlainText();
  for (auto _ : state) {
    const std::string& out = olvex::ExpandText(text, 0, 0, 0);
    benchmark::DoNotOptimize(out.data());
  }
}

void ExpandTenReferences(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 10; ++i) text += "item %name" + std::to_string(i) + " ";
  olvex::ResetExpandStoreCallCount();
  for (auto _ : state) {
    const std::string& out = olvex::ExpandText(text, 0, 0, 0);
    if (out.find('%') != std::string::npos) state.SkipWithError("a reference was not replaced");
    benchmark::DoNotOptimize(out.data());
  }
  olvex::ExpandStoreCalls calls = olvex::ExpandStoreCallCount();
  double n = static_cast<double>(state.iterations());
  state.counters["listings"] = static_cast<double>(calls.listings) / n;
  state.counters["reads"] = static_cast<double>(calls.reads) / n;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const char* base = std::getenv("OLVEX_BENCH_DIR");
  fs::path root = fs::path(base && *base ? base : fs::temp_directory_path().string()) /
                  ("olvex-bench-expand-" + std::to_string(std::random_device{}()));
  fs::create_directories(root / "tmp");
  platform::WriteEnv("OLVEX_REGISTRY", (root / "registry").string());
  for (int i = 0; i < 10; ++i) olvex::WriteUserVariable("name" + std::to_string(i), "value " + std::to_string(i));
  for (int i = 0; i < 990; ++i) olvex::WriteUserVariable("other" + std::to_string(i), "x");

  benchmark::RegisterBenchmark("plain200/copy", CopyPlain);
  benchmark::RegisterBenchmark("plain200/expand", ExpandPlain);
  benchmark::RegisterBenchmark("ten_references/expand", ExpandTenReferences)->Unit(benchmark::kMicrosecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  olvex::ResetUserVariables();
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
