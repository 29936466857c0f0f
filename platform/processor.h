#pragma once
// The processor: its identity (cpuid signature, vendor, feature flags), the
// number of processors, the system's names for it and its clock rate.
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Feature bits of the processor, in the order the "Instructions" option lists them.
namespace cpu_feature {
constexpr std::uint32_t kMmx = 1, k3DNow = 2, kSse = 4, kSse2 = 8, kSse3 = 16, kSsse3 = 32, kSse41 = 64,
                        kSse42 = 128, kThermal = 256;
}

struct ProcessorIdentity {
  std::uint32_t signature = 0;  // cpuid leaf 1, EAX (0 off x86)
  std::string vendor;           // "GenuineIntel", "AuthenticAMD", ...
  std::uint32_t features = 0;   // cpu_feature bits
  int count = 0;                // online processors
  std::string architecture;     // Windows' names: "x86", "AMD64", "ARM64", ...
  std::string name;             // the model name ("Intel(R) Core(TM) ...")
  std::string identifier;       // Windows: PROCESSOR_IDENTIFIER; empty elsewhere
  std::string revision;         // Windows: PROCESSOR_REVISION; empty elsewhere
  std::optional<double> mhz;    // the system's clock figure
};
ProcessorIdentity ReadProcessor();

// The clock rate in GHz measured with the time-stamp counter over about
// 100 ms; below 0.1 GHz (or without a counter) the system's figure. Nothing
// when neither is known.
std::optional<double> MeasureClockGhz();

}  // namespace platform
