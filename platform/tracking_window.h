#pragma once
// The run-tracking window: a small topmost window that shows the running
// step while a script runs (Windows: a layered pop-up of the class
// "OlvexTracking"). Called on the main thread only. POSIX has no desktop:
// it opens none (the terminal's status line stands in for it).
#include <cstdint>
#include <string>

namespace platform {

struct TrackingLook {
  std::uint32_t fill = 0xECFFEC;  // background, 0x00BBGGRR
  int alpha = 255;                // 1 (almost clear) .. 255 (opaque)
  int width = 320;                // pixels
  int x = -1, y = -1;             // top-left corner; below 0: the screen's top-right corner
};

// Opens the window (an open one is closed first); false when the system has none.
bool OpenTrackingWindow(const TrackingLook& look);
// Replaces its text (lines split at '\n'); nothing when it is not open.
void SetTrackingText(const std::string& text);
void CloseTrackingWindow();
bool TrackingWindowOpen();

}  // namespace platform
