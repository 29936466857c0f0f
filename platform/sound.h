#pragma once
// Sound output: sound files and tones. Where the system has no sound output
// the calls say so instead of failing, so that a beep never stalls a script.
#include <string>

namespace platform {

enum class SoundResult { kPlayed, kNoOutput, kFailed };

// Plays a sound file (which exists); `wait` until it has played.
SoundResult PlaySoundFile(const std::string& path, bool wait);
// A tone of `hz` for `ms` milliseconds; returns when it has sounded. With
// kNoOutput nothing was heard and no time has passed.
SoundResult PlayTone(int hz, int ms);

}  // namespace platform
