#include "platform/posix/x11_errors.h"

#include <X11/Xlib.h>

#include <atomic>
#include <mutex>

namespace platform::x11 {
namespace {

// The traps set on this thread and the errors they caught.
thread_local int t_traps = 0;
thread_local int t_errors = 0;

// The quiet connections (the clipboard's, and a test's second one).
std::atomic<Display*> g_quiet[4] = {};
XErrorHandler g_previous = nullptr;

int OnError(Display* display, XErrorEvent* event) {
  if (t_traps > 0) {
    ++t_errors;
    return 0;
  }
  for (const auto& quiet : g_quiet)
    if (quiet.load() == display) return 0;
  if (g_previous == nullptr) return 0;
  return g_previous(display, event);
}

void InstallHandler() {
  static std::once_flag once;
  std::call_once(once, [] { g_previous = XSetErrorHandler(OnError); });
}

}  // namespace

ErrorTrap::ErrorTrap(Display* display) : display_(display), outer_count_(t_errors) {
  InstallHandler();
  ++t_traps;
}

ErrorTrap::~ErrorTrap() {
  XSync(display_, False);
  --t_traps;
}

bool ErrorTrap::Failed() {
  XSync(display_, False);
  return t_errors != outer_count_;
}

void MarkQuiet(Display* display) {
  InstallHandler();
  for (auto& quiet : g_quiet) {
    Display* empty = nullptr;
    if (quiet.compare_exchange_strong(empty, display)) return;
  }
}

void Unmark(Display* display) {
  for (auto& quiet : g_quiet) {
    Display* marked = display;
    quiet.compare_exchange_strong(marked, nullptr);
  }
}

}  // namespace platform::x11
