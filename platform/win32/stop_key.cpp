#include "platform/stop_key.h"

#include <windows.h>

namespace platform {

void WatchStopSignals() {}

int StopSignalCount() { return 0; }

bool StopKeyPressed(int virtual_key) {
  if (virtual_key <= 0 || virtual_key > 0xFE) return false;
  return (GetAsyncKeyState(virtual_key) & 0x8001) != 0;
}

}  // namespace platform
