#include "platform/processor.h"

#include <chrono>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define OLVEX_HAVE_CPUID 1
#endif

namespace platform {

ProcessorIdentity ReadSystemProcessor();  // the backend's own: count, names, clock figure

namespace {

void ReadCpuid(ProcessorIdentity& p) {
#ifdef OLVEX_HAVE_CPUID
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(0, &a, &b, &c, &d)) return;
  char vendor[13] = {};
  for (int i = 0; i < 4; ++i) {
    vendor[i] = static_cast<char>(b >> (8 * i));
    vendor[4 + i] = static_cast<char>(d >> (8 * i));
    vendor[8 + i] = static_cast<char>(c >> (8 * i));
  }
  p.vendor = vendor;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return;
  p.signature = a;
  auto set = [&](bool present, std::uint32_t bit) { p.features |= present ? bit : 0; };
  set(d & (1u << 23), cpu_feature::kMmx);
  set(d & (1u << 25), cpu_feature::kSse);
  set(d & (1u << 26), cpu_feature::kSse2);
  set(c & (1u << 0), cpu_feature::kSse3);
  set(c & (1u << 9), cpu_feature::kSsse3);
  set(c & (1u << 19), cpu_feature::kSse41);
  set(c & (1u << 20), cpu_feature::kSse42);
  set(d & (1u << 29), cpu_feature::kThermal);
  if (__get_cpuid(0x80000001, &a, &b, &c, &d)) set(d & (1u << 31), cpu_feature::k3DNow);
#else
  (void)p;
#endif
}

}  // namespace

ProcessorIdentity ReadProcessor() {
  ProcessorIdentity p = ReadSystemProcessor();
  ReadCpuid(p);
  return p;
}

std::optional<double> MeasureClockGhz() {
#ifdef OLVEX_HAVE_CPUID
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const unsigned long long ticks = __rdtsc();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const unsigned long long elapsed_ticks = __rdtsc() - ticks;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (seconds > 0 && elapsed_ticks / seconds >= 1e8) return elapsed_ticks / seconds / 1e9;
#endif
  const std::optional<double> mhz = ReadSystemProcessor().mhz;
  if (mhz) return *mhz / 1000.0;
  return std::nullopt;
}

}  // namespace platform
