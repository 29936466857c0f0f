// The database query: a 100,000-row, 5-column result read through ODBC (the
// SQLite ODBC driver under unixODBC) and made into the text a step saves,
// beside the sqlite3 command-line program writing the same rows to /dev/null
// in the same run (goal: at most 2 times its time). On a busy machine the
// wall-clock times wander: the processor times compare better (the CPU
// column for the query; the counter child_cpu_ms for sqlite3, a child
// process).
//
//   bench_odbc --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "data/odbc_actions.h"
#include "platform/odbc.h"
#include "tests/support/odbc_sources.h"

namespace {

namespace fs = std::filesystem;
constexpr const char* kQuery = "SELECT id, name, amount, stamp, code FROM sales";

struct Database {
  Database() : folder(fs::temp_directory_path() / ("olvex-bench-odbc-" + std::to_string(std::rand()))) {
    fs::create_directories(folder);
    sources.emplace(folder.string());
    platform::odbc::Failure failure;
    platform::odbc::QueryResult ignored;
    ok = connection.Connect("OlvexTest", "", "", "", &failure) &&
         connection.Query("CREATE TABLE sales (id INTEGER, name TEXT, amount REAL, stamp TEXT, code INTEGER)", 0, {},
                          &ignored, &failure) &&
         connection.Query("INSERT INTO sales WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 100000) "
                          "SELECT n, 'customer ' || n, n * 1.25, '2024-05-' || (n % 28 + 10) || ' 12:00:00', n % 977 FROM c",
                          0, {}, &ignored, &failure);
    if (!ok) std::fprintf(stderr, "the benchmark database was not filled: %s\n", failure.driver_message.c_str());
  }
  ~Database() {
    connection.Close();
    sources.reset();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  fs::path folder;
  std::optional<olvex::test::OdbcSources> sources;
  platform::odbc::Connection connection;
  bool ok = false;
};

Database& Db() {
  static Database db;
  return db;
}

// The processor time of the finished child processes, in milliseconds.
double ChildrenCpuMs() {
#ifdef _WIN32
  return 0;
#else
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
#endif
}

void QueryAsText(benchmark::State& state) {
  Database& db = Db();
  if (!db.ok) return state.SkipWithError("no database");
  for (auto _ : state) {
    platform::odbc::QueryResult result;
    platform::odbc::Failure failure;
    if (!db.connection.Query(kQuery, 1000000, [] { return false; }, &result, &failure) || result.rows.size() != 100000)
      return state.SkipWithError("the query failed");
    std::string text = olvex::QueryResultText(result, false, ", ", "\r\n");
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(QueryAsText)->Unit(benchmark::kMillisecond);

void Sqlite3CommandLine(benchmark::State& state) {
  Database& db = Db();
  if (!db.ok) return state.SkipWithError("no database");
  const std::string command = "sqlite3 '" + db.sources->database() + "' '" + kQuery + "' > /dev/null";
  const double before = ChildrenCpuMs();
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) return state.SkipWithError("sqlite3 failed");
  state.counters["child_cpu_ms"] = (ChildrenCpuMs() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(Sqlite3CommandLine)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
