#pragma once
// Seeing a run: the run-tracking window (Windows) and the status line on a
// terminal (standard error), both showing the running step, its action, the
// time since the run started and the pass of the innermost loop. The main
// thread's loop refreshes them four times a second; without a served loop
// nothing is shown.
//
// The window shows while *\RunTrackingShow is set, looking as the settings
// *\RunTrackingAlpha (0 .. 255, 0: opaque), *\RunTrackingWidth (pixels),
// *\RunTrackingX and *\RunTrackingY (below 1: the screen's top-right corner),
// *\RunTrackingTimeout (ms after which it closes; 0: while the run lasts) and
// the colour SOFTWARE\Olvex\Colors\ResultSuccessFill (0xECFFEC when 0) say.
// The status line shows when standard error is a terminal, unless
// *\RunTrackingShow is there and 0.
#include <cstdint>
#include <string>

namespace olvex {

// A run starts: opens what the settings and the terminal ask for.
void BeginRunTracking();
// The runs are over: closes the window and clears the status line.
void EndRunTracking();
// The "Track" setting change: a new window (the old one closed), or none.
void SetRunTrackingShown(bool shown);

// The text shown: "[STEP 3]  Delay" and "0:01:05  loop 12" (the loop part
// only inside a loop), on two lines or, for the status line, on one.
std::string TrackingText(int step_number, const std::string& action, std::uint64_t elapsed_ms, int loop_pass,
                         bool one_line);

}  // namespace olvex
