#pragma once
// The part of Google Benchmark's interface the Windows benchmarks use, for
// the cross build (Debian has no Google Benchmark for mingw-w64): wall-clock
// time per iteration, fixed or grown iteration counts, counters, skipping.
// It prints one line per benchmark in Google Benchmark's manner.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace benchmark {

enum TimeUnit { kNanosecond, kMicrosecond, kMillisecond };

class State {
 public:
  explicit State(std::int64_t iterations) : max_(iterations) {}
  // Not trivially destroyed, so that the loop variable is not reported unused.
  struct Value {
    ~Value() {}
  };
  struct Iterator {
    State* state;
    std::int64_t left;
    bool operator!=(const Iterator&) const {
      if (left > 0 && !state->skipped_) return true;
      state->Stop();
      return false;
    }
    void operator++() { --left; }
    Value operator*() const { return {}; }
  };
  Iterator begin() {
    started_ = std::chrono::steady_clock::now();
    return {this, max_};
  }
  Iterator end() { return {this, 0}; }
  void SkipWithError(const char* why) { skipped_ = true, error_ = why; }
  std::int64_t iterations() const { return max_; }
  std::map<std::string, double> counters;

  double seconds() const { return seconds_; }
  bool skipped() const { return skipped_; }
  const std::string& error() const { return error_; }

 private:
  void Stop() {
    if (!stopped_) seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    stopped_ = true;
  }
  std::int64_t max_;
  std::chrono::steady_clock::time_point started_;
  double seconds_ = 0;
  bool skipped_ = false, stopped_ = false;
  std::string error_;
};

template <class T>
void DoNotOptimize(T&& value) {
  asm volatile("" : : "r,m"(value) : "memory");
}

class Benchmark {
 public:
  Benchmark(const char* name, void (*fn)(State&)) : name_(name), fn_(fn) {}
  Benchmark* Iterations(std::int64_t n) { return iterations_ = n, this; }
  Benchmark* Unit(TimeUnit unit) { return unit_ = unit, this; }
  Benchmark* UseRealTime() { return this; }

  void Run() const {
    // Without a fixed count: grow it until a run takes half a second.
    for (std::int64_t n = iterations_ ? iterations_ : 1;; n *= 10) {
      State state(n);
      fn_(state);
      if (state.skipped()) return (void)std::printf("%-40s ERROR: %s\n", name_.c_str(), state.error().c_str());
      if (iterations_ || state.seconds() >= 0.5 || n >= 1000000000) {
        static const char* const units[] = {"ns", "us", "ms"};
        const double scale = unit_ == kNanosecond ? 1e9 : unit_ == kMicrosecond ? 1e6 : 1e3;
        std::printf("%-40s %12.1f %s %10lld", name_.c_str(), state.seconds() * scale / static_cast<double>(n),
                    units[unit_], static_cast<long long>(n));
        for (const auto& [key, value] : state.counters) std::printf(" %s=%g", key.c_str(), value);
        std::printf("\n");
        return;
      }
    }
  }
  static std::vector<Benchmark*>& All() {
    static std::vector<Benchmark*> all;
    return all;
  }

 private:
  std::string name_;
  void (*fn_)(State&);
  std::int64_t iterations_ = 0;
  TimeUnit unit_ = kNanosecond;
};

inline Benchmark* Register(const char* name, void (*fn)(State&)) {
  Benchmark::All().push_back(new Benchmark(name, fn));
  return Benchmark::All().back();
}

}  // namespace benchmark

#define BENCHMARK_CONCAT_(a, b) a##b
#define BENCHMARK_NAME_(line) BENCHMARK_CONCAT_(benchmark_registered_, line)
#define BENCHMARK(fn) static ::benchmark::Benchmark* BENCHMARK_NAME_(__LINE__) = ::benchmark::Register(#fn, fn)
#define BENCHMARK_MAIN()                                                        \
  int main() {                                                                  \
    std::printf("%-40s %15s %10s\n", "Benchmark", "Time", "Iterations");        \
    for (const ::benchmark::Benchmark* b : ::benchmark::Benchmark::All()) b->Run(); \
    return 0;                                                                   \
  }
