#pragma once
// A stand-in for the part of Google Benchmark that bench_window_match uses,
// for the Windows build (run under Wine), for which the library has no
// package. Each benchmark runs with more iterations until it has run for
// half a second (or the iterations it asks for); the line it prints is the
// wall-clock time per iteration and the counters.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace benchmark {

enum TimeUnit { kNanosecond, kMicrosecond, kMillisecond };

struct Counter {
  enum Flags { kDefaults = 0, kIsIterationInvariantRate = 1 };
  Counter(double v = 0, Flags = kDefaults) : value(v) {}
  double value;
};

inline const void* volatile g_kept = nullptr;
template <class T>
void DoNotOptimize(const T& value) {
  g_kept = &value;
}

class State {
 public:
  State(std::int64_t iterations, std::int64_t arg) : iterations_(iterations), arg_(arg) {}
  struct [[gnu::unused]] Value {};
  struct Iterator {
    State* state;
    std::int64_t n;
    Value operator*() const { return {}; }
    void operator++() { ++n; }
    bool operator!=(const Iterator& end) const {
      if (n != end.n) return true;
      state->stopped_ = std::chrono::steady_clock::now();
      return false;
    }
  };
  Iterator begin() {
    started_ = std::chrono::steady_clock::now();
    return {this, 0};
  }
  Iterator end() { return {this, iterations_}; }
  std::int64_t iterations() const { return iterations_; }
  std::int64_t range(int) const { return arg_; }
  void SkipWithError(const char* text) { error_ = text; }
  double seconds() const { return std::chrono::duration<double>(stopped_ - started_).count(); }
  const std::string& error() const { return error_; }
  std::map<std::string, Counter> counters;

 private:
  std::int64_t iterations_, arg_;
  std::chrono::steady_clock::time_point started_{}, stopped_{};
  std::string error_;
};

class Benchmark {
 public:
  Benchmark(const char* name, void (*fn)(State&)) : name_(name), fn_(fn) {}
  Benchmark* Arg(std::int64_t a) { return args_.push_back(a), this; }
  Benchmark* Unit(TimeUnit) { return this; }
  Benchmark* UseRealTime() { return this; }
  Benchmark* Iterations(std::int64_t n) { return fixed_ = n, this; }

  void Run(const std::string& filter) const {
    const std::vector<std::int64_t> args = args_.empty() ? std::vector<std::int64_t>{-1} : args_;
    for (const std::int64_t arg : args) {
      const std::string name = name_ + (arg < 0 ? "" : "/" + std::to_string(arg));
      if (name.find(filter) == std::string::npos) continue;
      for (std::int64_t n = fixed_ ? fixed_ : 1;; n *= 4) {
        State state(n, arg);
        fn_(state);
        if (!state.error().empty()) {
          std::printf("%-40s ERROR: %s\n", name.c_str(), state.error().c_str());
          break;
        }
        if (fixed_ || state.seconds() >= 0.5 || n >= (std::int64_t{1} << 30)) {
          std::printf("%-40s %14.0f ns %10lld", name.c_str(), state.seconds() * 1e9 / static_cast<double>(n),
                      static_cast<long long>(n));
          for (const auto& [counter, c] : state.counters) std::printf(" %s=%g", counter.c_str(), c.value);
          std::printf("\n");
          break;
        }
      }
    }
  }

  static std::vector<std::unique_ptr<Benchmark>>& All() {
    static std::vector<std::unique_ptr<Benchmark>> all;
    return all;
  }

 private:
  std::string name_;
  void (*fn_)(State&);
  std::vector<std::int64_t> args_;
  std::int64_t fixed_ = 0;
};

inline Benchmark* Register(const char* name, void (*fn)(State&)) {
  Benchmark::All().push_back(std::make_unique<Benchmark>(name, fn));
  return Benchmark::All().back().get();
}

inline std::string& Filter() {
  static std::string filter;
  return filter;
}
inline void Initialize(int* argc, char** argv) {
  for (int i = 1; i < *argc; ++i)
    if (std::strncmp(argv[i], "--benchmark_filter=", 19) == 0) Filter() = argv[i] + 19;
}
inline void RunSpecifiedBenchmarks() {
  for (const auto& b : Benchmark::All()) b->Run(Filter());
}

}  // namespace benchmark

#define OLVEX_BENCH_CAT2(a, b) a##b
#define OLVEX_BENCH_CAT(a, b) OLVEX_BENCH_CAT2(a, b)
#define BENCHMARK(fn) \
  static ::benchmark::Benchmark* OLVEX_BENCH_CAT(bench_registered_, __LINE__) = ::benchmark::Register(#fn, fn)
#define BENCHMARK_MAIN()                      \
  int main(int argc, char** argv) {           \
    ::benchmark::Initialize(&argc, argv);     \
    ::benchmark::RunSpecifiedBenchmarks();    \
    return 0;                                 \
  }
