// No desktop: nothing to report and no mode to change.
#include "platform/displays.h"

namespace platform {

std::optional<DisplayFacts> ReadDisplays() { return std::nullopt; }

DisplayChange ChangeDisplayMode(int, int, int, int) { return DisplayChange::kNoDesktop; }

}  // namespace platform
