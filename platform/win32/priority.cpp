#include "platform/priority.h"

#include <windows.h>

namespace platform {

int EnterIdlePriority() {
  const DWORD previous = GetPriorityClass(GetCurrentProcess());
  if (previous == 0 || previous == IDLE_PRIORITY_CLASS) return 0;
  return SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS) ? static_cast<int>(previous) : 0;
}

void RestorePriority(int previous) {
  if (previous != 0) SetPriorityClass(GetCurrentProcess(), static_cast<DWORD>(previous));
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 1e7;
}

}  // namespace platform
