// User variables through the registry value accessor (the store: the
// registry on Windows, the SQLite database on Linux), next to the store's
// earlier folder-per-key form on Linux (its own functions, without the
// accessor's path handling). Each iteration is 10,000 writes or 10,000 reads
// of 20-byte values.
//
//   bench_registry_store --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/environment.h"
#include "vars/registry_value.h"

#ifndef _WIN32
#include "platform/posix/registry_folders.h"
#endif

namespace {

constexpr int kValues = 10000;
const std::string kValue = std::string("0123456789abcdefghi") + '\0';  // 20 bytes, a variable's text and zero

std::string g_root;  // the benchmark's own folder

void AccessorWrite(benchmark::State& state) {
  std::uint32_t type = platform::regtype::kSz;
  std::string data = kValue;
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i)
      if (!olvex::RegistryValue(olvex::kRegWrite, &type, &data, data.size(), "SOFTWARE\\Olvex\\UserVariables\\var%d", i))
        state.SkipWithError("write failed");
  }
  state.SetItemsProcessed(state.iterations() * kValues);
}

void AccessorRead(benchmark::State& state) {
  std::uint32_t type = 0;
  std::string data;
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i)
      if (olvex::RegistryValue(olvex::kRegRead, &type, &data, 4096, "SOFTWARE\\Olvex\\UserVariables\\var%d", i) !=
          kValue.size())
        state.SkipWithError("read failed");
  }
  state.SetItemsProcessed(state.iterations() * kValues);
}

#ifndef _WIN32
// The store's earlier form: a folder per key, a file per value, each write a
// new file renamed over the old one.
std::string FolderStore() { return g_root + "/folders"; }

void FolderWrite(benchmark::State& state) {
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i)
      if (platform::folder_registry::Write(FolderStore(), platform::RegistryRoot::kCurrentUser,
                                           "SOFTWARE\\Olvex\\UserVariables", "var" + std::to_string(i),
                                           platform::regtype::kSz, kValue) != platform::RegistryStatus::kOk)
        state.SkipWithError("folder write failed");
  }
  state.SetItemsProcessed(state.iterations() * kValues);
}

void FolderRead(benchmark::State& state) {
  platform::RegistryData v;
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i)
      if (platform::folder_registry::Read(FolderStore(), platform::RegistryRoot::kCurrentUser,
                                          "SOFTWARE\\Olvex\\UserVariables", "var" + std::to_string(i),
                                          &v) != platform::RegistryStatus::kOk ||
          v.data.size() != kValue.size())
        state.SkipWithError("folder read failed");
  }
  state.SetItemsProcessed(state.iterations() * kValues);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  // A store of its own, beside the folder store, on the same file system.
  const char* base = std::getenv("OLVEX_BENCH_DIR");
  fs::path root = fs::path(base && *base ? base : fs::temp_directory_path().string()) /
                  ("olvex-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(root);
  g_root = root.string();
  platform::WriteEnv("OLVEX_REGISTRY", (root / "registry").string());

  // Writes first, then reads of what they wrote; the two stores alternate.
  benchmark::RegisterBenchmark("write/accessor", AccessorWrite)->Unit(benchmark::kMillisecond);
#ifndef _WIN32
  benchmark::RegisterBenchmark("write/folders", FolderWrite)->Unit(benchmark::kMillisecond);
#endif
  benchmark::RegisterBenchmark("read/accessor", AccessorRead)->Unit(benchmark::kMillisecond);
#ifndef _WIN32
  benchmark::RegisterBenchmark("read/folders", FolderRead)->Unit(benchmark::kMillisecond);
#endif
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
