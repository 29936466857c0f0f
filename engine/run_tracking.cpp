#include "engine/run_tracking.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "engine/document.h"
#include "engine/main_loop.h"
#include "engine/run.h"
#include "engine/settings.h"
#include "platform/system.h"
#include "platform/terminal.h"
#include "platform/tracking_window.h"

namespace olvex {
namespace {

constexpr int kTrackingTimer = 0x8071;
constexpr int kRefreshMs = 250;
constexpr std::uint32_t kDefaultFill = 0xECFFEC;
constexpr int kDefaultWidth = 320;
constexpr int kMinWidth = 120;

// Main thread only, except these two (written where the run starts and ends).
std::atomic<std::uint64_t> g_start_tick{0};
std::atomic<bool> g_asked{false};  // a display was asked for: the end must close it
bool g_tracking = false;       // the refresh timer runs
bool g_line = false;           // the status line is shown
std::uint64_t g_window_until = 0;  // tick at which the window closes; 0: never

platform::TrackingLook LookFromSettings() {
  platform::TrackingLook look;
  const auto fill = static_cast<std::uint32_t>(ReadSettingNumber("SOFTWARE\\Olvex\\Colors\\ResultSuccessFill"));
  look.fill = fill != 0 ? fill : kDefaultFill;
  const int alpha = ReadSettingNumber("*\\RunTrackingAlpha");
  look.alpha = alpha <= 0 ? 255 : std::min(alpha, 255);
  const int width = ReadSettingNumber("*\\RunTrackingWidth");
  look.width = width <= 0 ? kDefaultWidth : std::max(width, kMinWidth);
  const int x = ReadSettingNumber("*\\RunTrackingX"), y = ReadSettingNumber("*\\RunTrackingY");
  look.x = x < 1 ? -1 : x;
  look.y = y < 1 ? -1 : y;
  return look;
}

std::string CurrentText(bool one_line) {
  const int index = RunningStep();
  if (index < 0) return "Starting...";
  const ScriptDocument& doc = Document(RunningSlot());
  const std::string& action =
      static_cast<std::size_t>(index) < doc.steps.size() ? doc.steps[static_cast<std::size_t>(index)].action : "";
  return TrackingText(index + 1, action, platform::TickCount() - g_start_tick.load(), RunningLoopPass(), one_line);
}

void Refresh() {
  if (!g_tracking) return;
  if (platform::TrackingWindowOpen()) {
    if (g_window_until != 0 && platform::TickCount() >= g_window_until) platform::CloseTrackingWindow();
    else platform::SetTrackingText(CurrentText(false));
  }
  if (g_line) platform::ShowStatusLine(CurrentText(true));
  SetMainTimer(kTrackingTimer, kRefreshMs, Refresh);
}

void OpenWindow() {
  if (!platform::OpenTrackingWindow(LookFromSettings())) return;
  const int timeout = ReadSettingNumber("*\\RunTrackingTimeout");
  g_window_until = timeout > 0 ? platform::TickCount() + static_cast<std::uint64_t>(timeout) : 0;
}

void StartRefresh() {
  g_tracking = true;
  Refresh();
}

}  // namespace

std::string TrackingText(int step_number, const std::string& action, std::uint64_t elapsed_ms, int loop_pass,
                         bool one_line) {
  const std::uint64_t seconds = elapsed_ms / 1000;
  char time[48];
  std::snprintf(time, sizeof time, "%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  std::string text = "[STEP " + std::to_string(step_number) + "]  " + action + (one_line ? "  " : "\n") + time;
  if (loop_pass > 0) text += "  loop " + std::to_string(loop_pass);
  return text;
}

void BeginRunTracking() {
  g_start_tick.store(platform::TickCount());
  const bool setting_there = SettingExists("*\\RunTrackingShow");
  const bool shown = ReadSettingNumber("*\\RunTrackingShow") != 0;
  const bool line = platform::ErrorIsTerminal() && (shown || !setting_there);
  if (!shown && !line) return;
  g_asked.store(true);
  PostToMainThread([shown, line] {
    if (shown && !platform::TrackingWindowOpen()) OpenWindow();
    g_line = line;
    StartRefresh();
  });
}

void EndRunTracking() {
  if (!g_asked.exchange(false)) return;
  PostToMainThread([] {
    g_tracking = false;
    KillMainTimer(kTrackingTimer);
    platform::CloseTrackingWindow();
    if (g_line) platform::ClearStatusLine();
    g_line = false;
  });
}

void SetRunTrackingShown(bool shown) {
  g_asked.store(true);
  PostToMainThread([shown] {
    platform::CloseTrackingWindow();
    if (!shown) {
      if (g_line) platform::ClearStatusLine();
      g_line = false;
      return;
    }
    OpenWindow();
    g_line = platform::ErrorIsTerminal();
    StartRefresh();
  });
}

}  // namespace olvex
