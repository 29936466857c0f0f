#include "platform/screen_saver.h"

#include <windows.h>

namespace platform {

std::optional<bool> ScreenSaverRunning() {
  BOOL running = FALSE;
  if (!SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0)) return std::nullopt;
  return running != FALSE;
}

bool SetScreenSaverActive(bool active) {
  return SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, active ? TRUE : FALSE, nullptr, SPIF_SENDCHANGE) != FALSE;
}

}  // namespace platform
