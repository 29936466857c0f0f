// The recording decoder on arbitrary text: never more events than the decode
// buffer holds, and the events of a text written back in the recording format
// decode to the same events.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "system/hardware_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto events = olvex::DecodeRecording(text);
  if (events.size() > size / 25 * 2 + 204) __builtin_trap();
  std::string written;
  for (const auto& e : events) {
    if (e.window != 0) __builtin_trap();
    written += "[" + std::to_string(e.message) + "," + std::to_string(e.high) + "," + std::to_string(e.low) + "," +
               std::to_string(e.time) + "]" + std::string(16, ' ');
  }
  const auto again = olvex::DecodeRecording(written);
  if (again.size() != events.size() || again != events) __builtin_trap();
  return 0;
}
