// Playback of recorded input. "Hardware": each event becomes synthesized
// input (SendInput) after its recorded gap. Journal: a WH_JOURNALPLAYBACK
// hook hands the events to the system while this thread pumps messages; a
// system that refuses the hook, or never asks it for an event, has played
// nothing and says so.
#include <windows.h>

#include <atomic>

#include "platform/input_playback.h"

namespace platform {

namespace {

// The longest recorded gap kept between two events.
constexpr DWORD kMaxGapMs = 10000;
// A journal hook not asked for its first event within this time is never
// called (Wine accepts the hook and never calls it); one not asked for its
// next event for the longer time has stopped.
constexpr DWORD kJournalFirstAskMs = 1000;
constexpr DWORD kJournalSilenceMs = 3000;

DWORD GapBefore(const std::vector<RecordedEvent>& events, std::size_t i) {
  if (i == 0 || events[i].time <= events[i - 1].time) return 0;
  const DWORD gap = events[i].time - events[i - 1].time;
  return gap < kMaxGapMs ? gap : kMaxGapMs;
}

bool SleepUnlessStopped(DWORD ms, const std::function<bool()>& stop) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    if (stop()) return false;
    const DWORD left = ms - (GetTickCount() - start);
    Sleep(left < 20 ? left : 20);
  }
  return !stop();
}

void SendRecorded(const RecordedEvent& e) {
  INPUT input{};
  if (e.message >= WM_KEYDOWN && e.message <= WM_SYSKEYUP) {
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(e.low & 0xFF);
    input.ki.wScan = static_cast<WORD>((e.low >> 8) & 0xFF);
    input.ki.dwFlags = ((e.high & 0x8000) ? KEYEVENTF_EXTENDEDKEY : 0) |
                       ((e.message == WM_KEYUP || e.message == WM_SYSKEYUP) ? KEYEVENTF_KEYUP : 0);
    SendInput(1, &input, sizeof input);
    return;
  }
  if (e.message < WM_MOUSEFIRST || e.message > WM_MOUSELAST) return;
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  input.type = INPUT_MOUSE;
  input.mi.dx = static_cast<LONG>((static_cast<LONGLONG>(static_cast<int>(e.low)) - left) * 65535 / (width > 1 ? width - 1 : 1));
  input.mi.dy = static_cast<LONG>((static_cast<LONGLONG>(static_cast<int>(e.high)) - top) * 65535 / (height > 1 ? height - 1 : 1));
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
  switch (e.message) {
    case WM_LBUTTONDOWN: input.mi.dwFlags |= MOUSEEVENTF_LEFTDOWN; break;
    case WM_LBUTTONUP: input.mi.dwFlags |= MOUSEEVENTF_LEFTUP; break;
    case WM_RBUTTONDOWN: input.mi.dwFlags |= MOUSEEVENTF_RIGHTDOWN; break;
    case WM_RBUTTONUP: input.mi.dwFlags |= MOUSEEVENTF_RIGHTUP; break;
    case WM_MBUTTONDOWN: input.mi.dwFlags |= MOUSEEVENTF_MIDDLEDOWN; break;
    case WM_MBUTTONUP: input.mi.dwFlags |= MOUSEEVENTF_MIDDLEUP; break;
    default: break;
  }
  SendInput(1, &input, sizeof input);
}

// The journal hook's state: one playback at a time, on the thread that installed it.
const std::vector<RecordedEvent>* g_events = nullptr;
std::atomic<std::size_t> g_next{0};
std::atomic<DWORD> g_asked_tick{0};
std::atomic<bool> g_asked{false};
bool g_gap_given = false;

LRESULT CALLBACK JournalPlayback(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_SKIP) {
    ++g_next;
    g_gap_given = false;
    return 0;
  }
  if (code == HC_GETNEXT && g_events && g_next < g_events->size()) {
    g_asked_tick = GetTickCount();
    g_asked = true;
    const RecordedEvent& e = (*g_events)[g_next];
    auto* out = reinterpret_cast<EVENTMSG*>(lparam);
    out->message = e.message;
    out->paramL = e.low;
    out->paramH = e.high;
    out->time = GetTickCount();
    out->hwnd = nullptr;
    // The gap is asked for once; the same event asked again comes at once.
    const DWORD gap = g_gap_given ? 0 : GapBefore(*g_events, g_next);
    g_gap_given = true;
    return static_cast<LRESULT>(gap);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

PlaybackResult PlayJournal(const std::vector<RecordedEvent>& events, const std::function<bool()>& stop) {
  g_events = &events;
  g_next = 0;
  g_gap_given = false;
  g_asked = false;
  g_asked_tick = GetTickCount();
  HHOOK hook = SetWindowsHookExA(WH_JOURNALPLAYBACK, JournalPlayback, GetModuleHandleA(nullptr), 0);
  if (!hook) {
    g_events = nullptr;
    return PlaybackResult::kJournalUnavailable;
  }
  PlaybackResult result = PlaybackResult::kPlayed;
  while (g_next < events.size()) {
    if (stop()) {
      result = PlaybackResult::kStopped;
      break;
    }
    const DWORD silence = GetTickCount() - g_asked_tick;
    if ((!g_asked && silence > kJournalFirstAskMs) || silence > kJournalSilenceMs + kMaxGapMs) {
      result = g_asked ? PlaybackResult::kStopped : PlaybackResult::kJournalUnavailable;
      break;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  UnhookWindowsHookEx(hook);
  g_events = nullptr;
  return result;
}

}  // namespace

PlaybackResult PlayRecordedInput(const std::vector<RecordedEvent>& events, bool journal, const std::function<bool()>& stop) {
  if (!GetDesktopWindow()) return PlaybackResult::kNoDesktop;
  if (journal) return PlayJournal(events, stop);
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (!SleepUnlessStopped(GapBefore(events, i), stop)) return PlaybackResult::kStopped;
    SendRecorded(events[i]);
  }
  return PlaybackResult::kPlayed;
}

}  // namespace platform
