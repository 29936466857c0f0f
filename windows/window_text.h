#pragma once
// Reading from a window for the Windows category: Get Text in its modes and
// Get Window Info.
#include <string>

#include "platform/windows.h"

namespace olvex {

// Get Text (and Get Window Info with "Text"): the text read is the step's
// output. 1, or 0 with the step error set.
int GetTextStep(int slot, int step_index, platform::WindowId window, bool info);
// Get Window Info: the value the first information word of the options names.
int WindowInfoStep(int slot, int step_index, platform::WindowId window);

// A pause of the window actions (in slices that end early when the run is
// asked to stop); tests may record it instead.
void WindowActionPause(int ms);

}  // namespace olvex
