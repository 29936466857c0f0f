// Windows sound: PlaySound for files, Beep for tones. Without a wave output
// device (Wine on a server) nothing can be heard, and the callers say so.
#include <windows.h>
#include <mmsystem.h>

#include "platform/sound.h"

namespace platform {

SoundResult PlaySoundFile(const std::string& path, bool wait) {
  if (waveOutGetNumDevs() == 0) return SoundResult::kNoOutput;
  const DWORD flags = SND_FILENAME | SND_NODEFAULT | (wait ? SND_SYNC : SND_ASYNC);
  return PlaySoundA(path.c_str(), nullptr, flags) ? SoundResult::kPlayed : SoundResult::kFailed;
}

SoundResult PlayTone(int hz, int ms) {
  if (waveOutGetNumDevs() == 0) return SoundResult::kNoOutput;
  const DWORD start = GetTickCount();
  if (!Beep(static_cast<DWORD>(hz), static_cast<DWORD>(ms))) return SoundResult::kNoOutput;
  // A Beep that returns at once (no speaker) has not sounded for the duration.
  const DWORD elapsed = GetTickCount() - start;
  if (elapsed + 20 < static_cast<DWORD>(ms)) Sleep(static_cast<DWORD>(ms) - elapsed);
  return SoundResult::kPlayed;
}

}  // namespace platform
