#pragma once
// Playback of recorded input: keyboard and mouse events replayed either as
// synthesized input ("Hardware") or through a journal playback hook
// ("Software"), keeping the recorded gaps between events.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// One event as a journal playback hook takes it: the input message (WM_KEYDOWN,
// WM_MOUSEMOVE, ...), its parameters (keys: virtual key | scan code << 8 and
// repeat | extended flag 0x8000; mouse: x and y) and its time in milliseconds.
struct RecordedEvent {
  std::uint32_t message = 0, low = 0, high = 0, time = 0, window = 0;
  bool operator==(const RecordedEvent&) const = default;
};

enum class PlaybackResult { kPlayed, kStopped, kNoDesktop, kJournalUnavailable };
// Plays the events in order; `stop` is asked between events and while
// waiting, and ends the playback (kStopped, which a journal the system stops
// asking also gives). kJournalUnavailable: the system refused the journal
// hook or never asked it for an event; nothing was played.
PlaybackResult PlayRecordedInput(const std::vector<RecordedEvent>& events, bool journal,
                                 const std::function<bool()>& stop);

}  // namespace platform
