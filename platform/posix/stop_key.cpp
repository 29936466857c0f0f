#include "platform/stop_key.h"

#include <atomic>
#include <csignal>

namespace platform {
namespace {

volatile std::sig_atomic_t g_signals = 0;

extern "C" void OnStopSignal(int) {
  if (g_signals < 1000) g_signals = g_signals + 1;
}

}  // namespace

void WatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int StopSignalCount() { return static_cast<int>(g_signals); }

bool StopKeyPressed(int) { return false; }

}  // namespace platform
