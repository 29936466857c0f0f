#pragma once
// The program starter the Run actions and Map Drive share: a chain of
// fall-back methods, then an optional wait for the program's exit.
#include <string>

namespace olvex {

inline constexpr int kProgramNotStarted = -12349;
inline constexpr int kProgramStillRunning = -12348;

// Starts `command` (visible or hidden). `wait_ms` 0: no wait (result 1);
// negative: wait without limit; else wait up to `wait_ms` + 500 ms. Returns
// the exit code, 1 (started, not waited for), kProgramStillRunning (still
// running at the limit; it keeps running) or kProgramNotStarted. A stop
// request of the run ends the wait and the program (exit code 0).
// `through_shell`: the command is a shell command line (POSIX /bin/sh -c).
int StartProgramAndWait(const std::string& command, bool visible, long long wait_ms, bool log,
                        bool through_shell = false);

}  // namespace olvex
