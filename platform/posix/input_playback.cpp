// No desktop to play recorded input into.
#include "platform/input_playback.h"

namespace platform {

PlaybackResult PlayRecordedInput(const std::vector<RecordedEvent>&, bool, const std::function<bool()>&) {
  return PlaybackResult::kNoDesktop;
}

}  // namespace platform
