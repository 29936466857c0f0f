// No desktop: no run-tracking window.
#include "platform/tracking_window.h"

namespace platform {

bool OpenTrackingWindow(const TrackingLook&) { return false; }
void SetTrackingText(const std::string&) {}
void CloseTrackingWindow() {}
bool TrackingWindowOpen() { return false; }

}  // namespace platform
