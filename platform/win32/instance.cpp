#include "platform/instance.h"

#include <windows.h>

namespace platform {

bool ClaimSingleInstance(const std::string& name) {
  HANDLE existing = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  if (existing) {
    CloseHandle(existing);
    return false;
  }
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());  // held until the process ends
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  return true;
}

}  // namespace platform
