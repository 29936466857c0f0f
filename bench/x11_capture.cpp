// The full-screen capture on an X server (run it under cmake/x11-session.sh,
// whose Xvfb is 1920 x 1080 at 24 bits) beside `xwd -root` of the same
// screen in the same run (Debian x11-apps; its output goes to /dev/null).
// Goal: the runtime's capture (shared memory) takes at most twice xwd's time.
//
//   cmake/x11-session.sh build/relbench/bin/bench_x11_capture
//       --benchmark_repetitions=5 --benchmark_report_aggregates_only=true  (one line)
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>

#include "platform/screen.h"
#include "screen/screen_actions.h"

extern char** environ;

namespace {

bool HaveScreen(benchmark::State& state) {
  const platform::ScreenInfo info = platform::screen().Info();
  if (info.width > 0) {
    state.counters["pixels"] = static_cast<double>(info.width) * info.height;
    return true;
  }
  state.SkipWithError("no X server: run under cmake/x11-session.sh");
  return false;
}

// CaptureScreen as the image search calls it (slow: XGetImage instead of shared memory).
void CaptureScreen(benchmark::State& state) {
  if (!HaveScreen(state)) return;
  const bool slow = state.range(0) != 0;
  olvex::ScreenCapture capture;
  for (auto _ : state) {
    if (!olvex::CaptureScreen(capture, slow)) state.SkipWithError("the screen cannot be read");
    benchmark::DoNotOptimize(capture.pixels.colours.data());
  }
}
BENCHMARK(CaptureScreen)->ArgName("slow")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void XwdRoot(benchmark::State& state) {
  if (!HaveScreen(state)) return;
  char program[] = "/bin/sh", dash_c[] = "-c", command[] = "exec xwd -root -silent >/dev/null";
  char* argv[] = {program, dash_c, command, nullptr};
  for (auto _ : state) {
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0 || waitpid(pid, &status, 0) != pid ||
        status != 0)
      state.SkipWithError("xwd did not run (Debian x11-apps)");
  }
}
BENCHMARK(XwdRoot)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
