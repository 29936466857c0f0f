// User variables through the registry value accessor, next to the floor of
// any file-backed store: the same bytes written to files with write+rename
// and read back. Each iteration is 10,000 writes or 10,000 reads of 20-byte
// values; the goal is the accessor within 1.5x of the floor.
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
#include <fcntl.h>
#include <unistd.h>
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
std::string FloorFolder() { return g_root + "/floor"; }

void FloorWrite(benchmark::State& state) {
  std::string folder = FloorFolder();
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i) {
      std::string path = folder + "/var" + std::to_string(i);
      std::string temp = path + ".tmp";
      int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (fd < 0 || ::write(fd, kValue.data(), kValue.size()) != static_cast<ssize_t>(kValue.size()) ||
          ::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0)
        state.SkipWithError("floor write failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * kValues);
}

void FloorRead(benchmark::State& state) {
  std::string folder = FloorFolder();
  char buf[4096];
  for (auto _ : state) {
    for (int i = 0; i < kValues; ++i) {
      std::string path = folder + "/var" + std::to_string(i);
      int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      ssize_t n = fd < 0 ? -1 : ::read(fd, buf, sizeof buf);
      if (fd >= 0) ::close(fd);
      if (n != static_cast<ssize_t>(kValue.size())) state.SkipWithError("floor read failed");
      benchmark::DoNotOptimize(buf);
    }
  }
  state.SetItemsProcessed(state.iterations() * kValues);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  // A store of its own, next to the floor's folder, on the same file system.
  const char* base = std::getenv("OLVEX_BENCH_DIR");
  fs::path root = fs::path(base && *base ? base : fs::temp_directory_path().string()) /
                  ("olvex-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(root / "floor");
  g_root = root.string();
  platform::WriteEnv("OLVEX_REGISTRY", (root / "registry").string());

  // Writes first, then reads of what they wrote; accessor and floor alternate.
  benchmark::RegisterBenchmark("write/accessor", AccessorWrite)->Unit(benchmark::kMillisecond);
#ifndef _WIN32
  benchmark::RegisterBenchmark("write/floor", FloorWrite)->Unit(benchmark::kMillisecond);
#endif
  benchmark::RegisterBenchmark("read/accessor", AccessorRead)->Unit(benchmark::kMillisecond);
#ifndef _WIN32
  benchmark::RegisterBenchmark("read/floor", FloorRead)->Unit(benchmark::kMillisecond);
#endif
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
