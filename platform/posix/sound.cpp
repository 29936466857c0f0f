// Linux: no sound output the runtime may use (its libraries are the system's
// C library, SQLite, unixODBC and X11), so nothing is heard.
#include "platform/sound.h"

namespace platform {

SoundResult PlaySoundFile(const std::string&, bool) { return SoundResult::kNoOutput; }

SoundResult PlayTone(int, int) { return SoundResult::kNoOutput; }

}  // namespace platform
