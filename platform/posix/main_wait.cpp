#include "platform/main_wait.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
std::condition_variable g_cv;
bool g_woken = false;

}  // namespace

void WaitOnMainThread(int max_ms) {
  std::unique_lock<std::mutex> lock(g_mutex);
  g_cv.wait_for(lock, std::chrono::milliseconds(max_ms < 0 ? 0 : max_ms), [] { return g_woken; });
  g_woken = false;
}

void WakeMainThread() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_woken = true;
  g_cv.notify_all();
}

}  // namespace platform
