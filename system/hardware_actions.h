#pragma once
// The Hardware category: processor, memory, video, storage and operating
// system details, display settings, sound and tones, the screen saver, the
// serial port and recordings.
#include <string>

namespace olvex {

int HandleHardwareStep(int slot, int step_index);

// The operating-system index of the running system (0 .. 11; 0 off
// Windows); `name` receives its name, followed by a blank and the service
// pack when there is one.
int OperatingSystemIndex(std::string* name = nullptr);

}  // namespace olvex
