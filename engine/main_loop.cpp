#include "engine/main_loop.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/main_wait.h"
#include "platform/stop_key.h"

namespace olvex {
namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
  Clock::time_point due;
  std::function<void()> task;
};

std::mutex g_mutex;
std::deque<std::function<void()>> g_tasks;
std::map<int, Timer> g_timers;
bool g_quit = false;
bool g_serving = false;
std::thread::id g_main_id;
std::function<void(int)> g_stop_handler;
// Stop signals already handed to the handler: a signal that came before the
// loop was served (while the program started) is handled when it starts.
int g_signals_handled = 0;

constexpr auto kSignalPoll = std::chrono::milliseconds(50);

// Runs the first posted task outside the lock; false when there is none.
bool RunFirstTask(std::unique_lock<std::mutex>& lock) {
  if (g_tasks.empty()) return false;
  auto task = std::move(g_tasks.front());
  g_tasks.pop_front();
  lock.unlock();
  task();
  lock.lock();
  return true;
}

}  // namespace

void RunMainLoop() {
  std::unique_lock<std::mutex> lock(g_mutex);
  g_serving = true;
  g_main_id = std::this_thread::get_id();
  while (!g_quit) {
    if (RunFirstTask(lock)) continue;
    const auto now = Clock::now();
    auto due = g_timers.end();
    for (auto it = g_timers.begin(); it != g_timers.end(); ++it)
      if (it->second.due <= now && (due == g_timers.end() || it->second.due < due->second.due)) due = it;
    if (due != g_timers.end()) {
      auto task = std::move(due->second.task);
      g_timers.erase(due);
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    const int signals = platform::StopSignalCount();
    if (signals != g_signals_handled) {
      g_signals_handled = signals;
      auto handler = g_stop_handler;
      if (handler) {
        lock.unlock();
        handler(signals);
        lock.lock();
      }
      continue;
    }
    auto wake = now + kSignalPoll;
    for (const auto& [id, timer] : g_timers)
      if (timer.due < wake) wake = timer.due;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
    lock.unlock();
    platform::WaitOnMainThread(static_cast<int>(wait) + 1);
    lock.lock();
  }
  g_serving = false;
  g_quit = false;
  g_main_id = std::thread::id();
  // Tasks left over run now, so that a worker waiting on one is released.
  while (RunFirstTask(lock)) {
  }
  g_timers.clear();
}

void ClaimMainThread() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_serving = true;
  g_main_id = std::this_thread::get_id();
}

void QuitMainLoop() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_quit = true;
  platform::WakeMainThread();
}

bool OnMainThread() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_serving && g_main_id == std::this_thread::get_id();
}

void PostToMainThread(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_tasks.push_back(std::move(task));
  platform::WakeMainThread();
}

int RunOnMainThread(const std::function<int()>& task) {
  struct Shared {
    std::mutex m;
    std::condition_variable done_cv;
    bool done = false;
    int result = 0;
  };
  auto shared = std::make_shared<Shared>();
  bool here;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    // Not served, or already there: the task runs here.
    here = !g_serving || g_main_id == std::this_thread::get_id();
    if (!here) g_tasks.push_back([shared, &task] {
      const int r = task();
      std::lock_guard<std::mutex> l(shared->m);
      shared->result = r;
      shared->done = true;
      shared->done_cv.notify_all();
    });
    platform::WakeMainThread();
  }
  if (here) return task();
  std::unique_lock<std::mutex> l(shared->m);
  shared->done_cv.wait(l, [&] { return shared->done; });
  return shared->result;
}

void SetMainTimer(int id, int ms, std::function<void()> task) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_timers[id] = Timer{Clock::now() + std::chrono::milliseconds(ms), std::move(task)};
  platform::WakeMainThread();
}

void KillMainTimer(int id) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_timers.erase(id);
}

WaitEnd WaitPolledOnMainThread(const std::function<int()>& poll, int first_ms, int timeout_ms,
                               const std::function<bool()>& stopped) {
  struct Shared {
    std::mutex m;  // held by a poll while it runs, so that none outlives the wait
    std::condition_variable cv;
    bool ended = false;
    WaitEnd result = WaitEnd::kTimedOut;
  };
  constexpr auto kSlice = std::chrono::milliseconds(100);
  const auto start = Clock::now();
  const bool timed = timeout_ms > 0;
  const auto deadline = start + std::chrono::milliseconds(timed ? timeout_ms : 0);
  bool served;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    served = g_serving && g_main_id != std::this_thread::get_id();
  }
  if (!served) {
    auto due = start + std::chrono::milliseconds(first_ms);
    for (;;) {
      if (stopped()) return WaitEnd::kStopped;
      const auto now = Clock::now();
      if (timed && now >= deadline) return WaitEnd::kTimedOut;
      if (now >= due) {
        const int next = poll();
        if (next <= 0) return WaitEnd::kMet;
        due = Clock::now() + std::chrono::milliseconds(next);
        continue;
      }
      auto wake = std::min(due, now + kSlice);
      if (timed) wake = std::min(wake, deadline);
      std::this_thread::sleep_until(wake);
    }
  }
  auto shared = std::make_shared<Shared>();
  // The poll timer's task re-arms itself until the condition comes true.
  auto poll_task = std::make_shared<std::function<void()>>();
  std::weak_ptr<std::function<void()>> weak_task = poll_task;
  *poll_task = [shared, &poll, weak_task] {
    std::lock_guard<std::mutex> l(shared->m);
    if (shared->ended) return;
    const int next = poll();
    if (next <= 0) {
      shared->ended = true;
      shared->result = WaitEnd::kMet;
      shared->cv.notify_all();
    } else if (auto task = weak_task.lock()) {
      SetMainTimer(kWaitPollTimer, next, [task] { (*task)(); });
    }
  };
  SetMainTimer(kWaitPollTimer, first_ms, [task = poll_task] { (*task)(); });
  if (timed) SetMainTimer(kWaitTimeoutTimer, timeout_ms, [shared] {
      std::lock_guard<std::mutex> l(shared->m);
      if (shared->ended) return;
      shared->ended = true;
      shared->result = WaitEnd::kTimedOut;
      shared->cv.notify_all();
    });
  std::unique_lock<std::mutex> l(shared->m);
  while (!shared->ended) {
    if (stopped()) {
      shared->ended = true;
      shared->result = WaitEnd::kStopped;
      break;
    }
    // The worker keeps its own deadline too: a loop that quit runs no timer.
    if (timed && Clock::now() >= deadline + kSlice) {
      shared->ended = true;
      shared->result = WaitEnd::kTimedOut;
      break;
    }
    shared->cv.wait_for(l, kSlice);
  }
  const WaitEnd result = shared->result;
  l.unlock();
  KillMainTimer(kWaitPollTimer);
  KillMainTimer(kWaitTimeoutTimer);
  return result;
}

void SetStopSignalHandler(std::function<void(int)> handler) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_stop_handler = std::move(handler);
}

}  // namespace olvex
