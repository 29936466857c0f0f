// Shared objects through dlopen / dlsym. For the length of a call, handlers
// of the fault signals take the thread back to the caller's frame; a fault on
// another thread meanwhile goes to the handler that was there before.
#include <dlfcn.h>
#include <setjmp.h>
#include <signal.h>

#include <cstring>

#include "platform/library.h"
#include "platform/library_call.h"

namespace platform {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

thread_local bool t_in_call = false;
thread_local int t_signal = 0;
thread_local sigjmp_buf t_jump;
struct sigaction g_previous[4];

int IndexOf(int signal_number) {
  for (int i = 0; i < 4; ++i)
    if (kFaultSignals[i] == signal_number) return i;
  return 0;
}

void OnFault(int signal_number, siginfo_t*, void*) {
  if (!t_in_call) {
    // Not ours: the earlier handler takes the fault when it happens again.
    sigaction(signal_number, &g_previous[IndexOf(signal_number)], nullptr);
    return;
  }
  t_in_call = false;
  t_signal = signal_number;
  siglongjmp(t_jump, 1);
}

std::string FaultName(int signal_number) {
  switch (signal_number) {
    case SIGSEGV: return "segmentation fault (SIGSEGV)";
    case SIGBUS: return "bus error (SIGBUS)";
    case SIGFPE: return "arithmetic fault (SIGFPE)";
    default: return "illegal instruction (SIGILL)";
  }
}

void Install() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 4; ++i) sigaction(kFaultSignals[i], &action, &g_previous[i]);
}

void Restore() {
  for (int i = 0; i < 4; ++i) sigaction(kFaultSignals[i], &g_previous[i], nullptr);
}

}  // namespace

void* LoadSharedLibrary(const std::string& path) {
  if (path.empty()) return nullptr;
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void FreeSharedLibrary(void* library) {
  if (library) dlclose(library);
}

void* FindExportedFunction(void* library, const std::string& name) {
  if (!library || name.empty()) return nullptr;
  return dlsym(library, name.c_str());
}

const std::vector<std::string>& DefaultLibraries() {
  static const std::vector<std::string> list = {"libc.so.6", "libm.so.6"};
  return list;
}

bool CallFunction(void* function, const std::intptr_t* args, int count, std::intptr_t* result, std::string* fault) {
  static thread_local volatile std::intptr_t value;
  Install();
  t_in_call = true;
  if (sigsetjmp(t_jump, 1) == 0) {
    value = InvokeWithArguments(function, args, count);
    t_in_call = false;
    Restore();
    *result = value;
    return true;
  }
  Restore();
  if (fault) *fault = FaultName(t_signal);
  *result = 0;
  return false;
}

}  // namespace platform
