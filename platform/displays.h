#pragma once
// The displays: video memory, refresh rate, colour depth, monitors and
// resolution, and a change of the display mode. Systems without a desktop
// answer with nothing.
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct DisplayFacts {
  std::uint64_t video_memory = 0;  // bytes; 0 when the system does not say
  int refresh_hz = 0;
  int bits_per_pixel = 0;
  int monitors = 0;
  int width = 0, height = 0;                // the primary screen
  int second_width = 0, second_height = 0;  // the second monitor; 0 without one
};
std::optional<DisplayFacts> ReadDisplays();

enum class DisplayChange { kDone, kRestartNeeded, kFailed, kNoDesktop };
// A 0 figure keeps the current one.
DisplayChange ChangeDisplayMode(int width, int height, int bits, int frequency);

}  // namespace platform
