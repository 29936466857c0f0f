// User variables through the registry value accessor (the store: the
// registry on Windows, the SQLite database on Linux), next to the store's
// earlier folder-per-key form on Linux (its own functions, without the
// accessor's path handling). Each iteration is 10,000 writes or 10,000 reads
// of 20-byte values. On Linux, write/bare-sqlite is the yardstick of a
// write: the same number of one-row UPDATEs, each its own commit, made
// directly through SQLite on a database of the store's form and settings.
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
#include <sqlite3.h>

#include "platform/posix/registry_folders.h"
#endif

namespace {

constexpr int kValues = 10000;
const std::string kValue = std::string("0123456789abcdefghi") + '\0';  // 20 bytes, a variable's text and zero

std::string g_root;  // the benchmark's own folder

void AccessorWrite(benchmark::State& state) {
  std::uint32_t type = platform::regtype::kSz;
  std::string data = kValue;
  int round = 0;
  for (auto _ : state) {
    data[0] = static_cast<char>('a' + round++ % 26);  // values the store does not hold yet
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

void BareSqliteWrite(benchmark::State& state) {
  const std::string file = g_root + "/bare.db";
  sqlite3* db = nullptr;
  sqlite3_stmt* update = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db,
                   "PRAGMA page_size=1024; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                   "CREATE TABLE IF NOT EXISTS vals(root INTEGER NOT NULL, key TEXT NOT NULL COLLATE NOCASE,"
                   " name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL,"
                   " PRIMARY KEY(root, key, name)) WITHOUT ROWID;"
                   "INSERT OR IGNORE INTO vals VALUES(1, 'SOFTWARE\\Olvex\\UserVariables', 'n', 1, '');",
                   nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, "UPDATE vals SET type=1, data=?1 WHERE root=1 AND key=?2 AND name='n'", -1, &update,
                         nullptr) != SQLITE_OK) {
    state.SkipWithError("the bare database could not be made");
  }
  int n = 0;
  for (auto _ : state) {
    for (int i = 0; i < kValues && update; ++i) {
      const std::string value = std::to_string(++n);
      sqlite3_reset(update);
      sqlite3_bind_blob(update, 1, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
      sqlite3_bind_text(update, 2, "SOFTWARE\\Olvex\\UserVariables", -1, SQLITE_STATIC);
      if (sqlite3_step(update) != SQLITE_DONE || sqlite3_changes(db) != 1) state.SkipWithError("bare write failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * kValues);
  sqlite3_finalize(update);
  sqlite3_close(db);
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
  benchmark::RegisterBenchmark("write/bare-sqlite", BareSqliteWrite)->Unit(benchmark::kMillisecond);
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
