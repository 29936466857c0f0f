#pragma once
// A stand-in for the part of Google Benchmark that bench_window_match uses,
// for the Windows build (run under Wine), for which the library has no
// package. Each benchmark runs with more iterations until it has run for
// half a second; the line it prints is the wall-clock time per iteration and
// the counters.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace benchmark {

inline const void* volatile g_kept = nullptr;
template <class T>
void DoNotOptimize(const T& value) {
  g_kept = &value;
}

class State {
 public:
  explicit State(std::int64_t iterations) : iterations_(iterations) {}
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
  void SkipWithError(const char* text) { error_ = text; }
  double seconds() const { return std::chrono::duration<double>(stopped_ - started_).count(); }
  const std::string& error() const { return error_; }
  std::map<std::string, double> counters;

 private:
  std::int64_t iterations_;
  std::chrono::steady_clock::time_point started_{}, stopped_{};
  std::string error_;
};

struct Registered {
  const char* name;
  void (*fn)(State&);
};
inline std::vector<Registered>& All() {
  static std::vector<Registered> all;
  return all;
}
inline int Register(const char* name, void (*fn)(State&)) {
  All().push_back({name, fn});
  return 0;
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
  for (const Registered& b : All()) {
    if (std::string(b.name).find(Filter()) == std::string::npos) continue;
    for (std::int64_t n = 1;; n *= 4) {
      State state(n);
      b.fn(state);
      if (!state.error().empty()) {
        std::printf("%-40s ERROR: %s\n", b.name, state.error().c_str());
        break;
      }
      if (state.seconds() >= 0.5 || n >= (std::int64_t{1} << 30)) {
        std::printf("%-40s %14.0f ns %10lld", b.name, state.seconds() * 1e9 / static_cast<double>(n),
                    static_cast<long long>(n));
        for (const auto& [counter, value] : state.counters) std::printf(" %s=%g", counter.c_str(), value);
        std::printf("\n");
        break;
      }
    }
  }
}

}  // namespace benchmark

#define OLVEX_BENCH_CAT2(a, b) a##b
#define OLVEX_BENCH_CAT(a, b) OLVEX_BENCH_CAT2(a, b)
#define BENCHMARK(fn) [[maybe_unused]] static const int OLVEX_BENCH_CAT(bench_registered_, __LINE__) = ::benchmark::Register(#fn, fn)
