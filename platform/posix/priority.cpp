// Linux keeps the process's priority: lowering the nice value is one-way for
// an unprivileged process, and the waiting worker only sleeps.
#include "platform/priority.h"

#include <time.h>

namespace platform {

int EnterIdlePriority() { return 0; }
void RestorePriority(int /*previous*/) {}

double ProcessCpuSeconds() {
  timespec t{};
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t) != 0) return 0;
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace platform
