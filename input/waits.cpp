#include "input/waits.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "engine/dispatch.h"
#include "engine/document.h"
#include "engine/main_loop.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/text.h"
#include "engine/output.h"
#include "input/key_names.h"
#include "input/keyboard.h"
#include "platform/autorun.h"
#include "platform/clipboard.h"
#include "platform/file_watch.h"
#include "platform/files.h"
#include "platform/input.h"
#include "platform/locale.h"
#include "platform/module.h"
#include "platform/priority.h"
#include "platform/screen.h"
#include "platform/screen_saver.h"
#include "platform/system.h"
#include "platform/windows.h"
#include "vars/expand.h"
#include "vars/format.h"
#include "windows/window_match.h"
#include "screen/screen_actions.h"

namespace olvex {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kChecksumLimit = 64ull << 20;
constexpr int kFirstPollMs = 1000;
constexpr int kSliceMs = 100;
constexpr int kTypedPollMs = 10, kWindowPollMs = 1000;
constexpr std::size_t kTypedMost = 31;  // characters of typed text remembered

// Keys typed text ignores: the modifiers, the locks, Esc and the mouse buttons.
bool IsUntypedKey(int code) {
  switch (code) {
    case 0x01: case 0x02: case 0x04: case 0x10: case 0x11: case 0x12: case 0x14:
    case 0x1B: case 0x90: case 0x91: case 0xA0: case 0xA1: return true;
    default: return false;
  }
}  // the worker's waits look at the stop signals this often

struct Context {
  int slot;
  int index;
  const Step& step;
};

bool Has(std::string_view text, std::string_view word) { return ContainsNoCase(text, word); }

std::string Expanded(const Context& c, const std::string& field) { return ExpandText(field, c.slot, c.index, 0); }

bool StopNow() { return StopRequestedOrKeyPressed(); }

int Fail(const std::string& text) {
  SetStepError(text);
  return 0;
}

int Stopped() { return Fail("The wait was stopped"); }

long long TimeoutMs(const Context& c) { return TimeoutFieldMs(c.step.timeout(), c.slot, c.index); }

// Sleeps up to `ms`, in slices that look at the stop signals; false when stopped.
bool SleepUnlessStopped(long long ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (StopNow()) return false;
    const auto now = Clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(kSliceMs)));
  }
}

bool DesktopMissing() { return platform::screen().Info().width <= 0; }

int NoDesktop() { return Fail("No desktop is available on this system"); }

// ---- Delay

int DelayStep(const Context& c) {
  LogLine("    Duration: %s second(s)", Expanded(c, c.step.timeout()).c_str());
  return SleepUnlessStopped(TimeoutMs(c)) ? 1 : Stopped();
}

// ---- Wait for Keypress and Wait for Mouse, on the worker

// The key a text names first: a key name, else the character's key.
int FirstKeyOf(std::string_view text) {
  if (const KeyNameMatch match = MatchKeyName(text); match.code != 0) return match.code;
  if (text.front() == '{') {
    if (const std::size_t close = text.find('}'); close != std::string_view::npos)
      if (const int code = VirtualKeyOfName(text.substr(0, close + 1)); code != 0) return code;
  }
  const unsigned char ch = static_cast<unsigned char>(text.front());
  if (ch >= 'a' && ch <= 'z') return ch - 'a' + 'A';
  return ch;
}

int KeyOrMouseStep(const Context& c) {
  if (DesktopMissing()) return NoDesktop();
  platform::Input& input = platform::input();
  const std::string text = Expanded(c, c.step.text);
  int wanted = 0;
  if (!text.empty()) {
    wanted = FirstKeyOf(text);
    if (c.step.run_attempts <= 2) LogLine("    Waiting for keypress %s (%d)", text.c_str(), wanted);
  }
  enum class Mode { kNone, kKey, kMove, kLeft, kRight, kMiddle, kAny } mode = Mode::kNone;
  const std::string& options = c.step.options;
  if (Has(c.step.action, "Keypress")) mode = Mode::kKey;
  else if (Has(options, "Move")) mode = Mode::kMove;
  else if (Has(options, "Left")) mode = Mode::kLeft;
  else if (Has(options, "Right")) mode = Mode::kRight;
  else if (Has(options, "Middle")) mode = Mode::kMiddle;
  else if (Has(options, "Any")) mode = Mode::kAny;
  if (mode == Mode::kNone) return Fail("No mouse event chosen (Move, Left, Right, Middle or Any)");
  if (!SleepUnlessStopped(350)) return Stopped();
  // Presses before the wait do not count.
  for (int code = 0; code < 255; ++code) input.QueryKey(code);
  const std::optional<platform::Point> start = input.CursorPosition();
  const long long timeout = TimeoutMs(c);
  const auto begin = Clock::now();
  const auto is_down = [&](int code) {
    const platform::Input::KeyState key = input.QueryKey(code);
    return key.down || key.pressed;
  };
  for (;;) {
    if (StopNow()) return Stopped();
    bool met = false;
    switch (mode) {
      case Mode::kKey:
        if (wanted != 0) met = is_down(wanted);
        else
          for (int code = 8; code <= 159 && !met; ++code) met = is_down(code);
        break;
      case Mode::kMove: {
        const std::optional<platform::Point> now = input.CursorPosition();
        met = start && now && (now->x != start->x || now->y != start->y);
        break;
      }
      case Mode::kLeft: met = is_down(0x01); break;
      case Mode::kRight: met = is_down(0x02); break;
      case Mode::kMiddle: met = is_down(0x04); break;
      case Mode::kAny: met = is_down(0x01) || is_down(0x02); break;
      case Mode::kNone: break;
    }
    if (met) return 1;
    if (std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count() >= timeout)
      return Fail("The time-out ran out");
    if (!SleepUnlessStopped(std::min<long long>(250, std::max<long long>(timeout, 1)))) return Stopped();
  }
}

// ---- Wait for Restart

std::string ScriptFileName(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The entry is named after the script's file name.
std::string RestartEntryName(int slot) { return ScriptFileName(Document(slot).file_name); }

// The command that runs the script again from the step after `step_index`.
std::string RestartCommand(int slot, int step_index) {
  const std::string program = platform::ModulePath();
  const std::string& script = Document(slot).file_name;
  std::string command = "\"" + program + "\"";
  if (Has(ScriptFileName(program), "Olvex.exe") || Has(script, ".OXM")) command += " -r \"" + script + "\"";
  return command + " -s " + std::to_string(step_index + 2);
}

bool StartedFromEntry() {
  const std::optional<std::string> line = expansion_host().CommandLine();
  return (line && Has(*line, "-r")) || !Has(ScriptFileName(platform::ModulePath()), "Olvex.EXE");
}

// `options` are the step's own, or "Temp" for a Date/Time wait that holds an
// entry while it waits.
int RestartStep(const Context& c, const std::string& options) {
  platform::AutoRun& autorun = platform::autorun();
  const std::string name = RestartEntryName(c.slot);
  if (name.empty()) return Fail("The script has no file name to restart");
  if (Has(options, "Remove")) {
    if (!autorun.Remove(name)) return Fail("Unable to remove the restart entry for \"" + name + "\"");
    LogLine("    Successfully removed restart entry for \"%s\"", name.c_str());
    return 1;
  }
  const bool existed = autorun.Read(name).has_value();
  const bool temporary = Has(options, "Temp");
  if (existed && StartedFromEntry()) {
    if (temporary && !autorun.Remove(name)) return Fail("Unable to remove the restart entry for \"" + name + "\"");
    return 1;
  }
  const std::string command = RestartCommand(c.slot, c.index);
  if (options.empty() || Has(options, "Perm") || (temporary && !existed)) {
    if (!autorun.Write(name, command)) return Fail("Unable to save the restart entry for \"" + name + "\"");
  }
  LogText("    Successfully saved restart configuration");
  LogLine("    Script will be launched next time Windows is started [%s]", command.c_str());
  return 1;
}

// ---- the polled waits

// The file-change watch's record of a file: its size and the FNV-1a 64
// checksum of its contents; a missing file has size -1, a file over 64 MiB
// is recorded by its size alone.
struct FileRecord {
  std::int64_t size = -1;
  std::uint64_t checksum = 0;
  bool operator==(const FileRecord&) const = default;
};

FileRecord RecordFile(const std::string& path) {
  FileRecord record;
  if (path.empty() || platform::IsFolder(path)) return record;
  const std::optional<std::uint64_t> size = platform::FileSize(path);
  if (!size) return record;
  record.size = static_cast<std::int64_t>(*size);
  if (*size > kChecksumLimit) return record;
  const platform::FileContent content = platform::ReadWholeFile(path, kChecksumLimit);
  if (content.status != platform::ReadStatus::Ok) return record;
  record.size = static_cast<std::int64_t>(content.data.size());
  std::uint64_t hash = 14695981039346656037ull;
  for (const char ch : content.data) {
    hash ^= static_cast<unsigned char>(ch);
    hash *= 1099511628211ull;
  }
  record.checksum = hash;
  return record;
}


// Seconds since 1900 of a date and time (serial days scaled).
double SecondsOf(const CalendarDate& d, const TimeOfDay& t) {
  return std::round((DateToSerial(d.year, d.month, d.day) + TimeToFraction(t.hour, t.minute, t.second)) * 86400.0);
}

// Wait for Date/Time: 0 when the moment has come, else the next poll's delay;
// -1 with the step error when the date cannot be read.
int PollDateTime(const Context& c) {
  const platform::LocalDateTime now = platform::locale().Now();
  const CalendarDate today{now.year, now.month, now.day};
  const std::string date_text = Expanded(c, c.step.value(1));
  std::optional<CalendarDate> date = today;
  if (!date_text.empty()) date = ParseDate(date_text, today);
  if (!date) {
    SetStepError("Not a date: \"" + date_text + "\"");
    return -1;
  }
  const TimeOfDay time = ParseTime(Expanded(c, c.step.text));
  const TimeOfDay now_time{now.hour, now.minute, now.second};
  const double remaining_s = SecondsOf(*date, time) - SecondsOf(today, now_time);
  if (remaining_s <= 0) {
    if (LogLevel() >= 1)
      LogLine("    \"%s\" Done!  Final Comparison: %02d-%02d-%02d %02d:%02d:%02d --> %02d-%02d-%02d %02d:%02d:%02d",
              c.step.action.c_str(), date->year, date->month, date->day, time.hour, time.minute, time.second, now.year,
              now.month, now.day, now.hour, now.minute, now.second);
    return 0;
  }
  const double remaining_ms = remaining_s * 1000.0 - now.millisecond;
  if (LogLevel() >= 1)
    LogLine("    \"%s\" Duration Remaining: %s", c.step.action.c_str(),
            DurationText(static_cast<std::int64_t>(remaining_ms)).c_str());
  return remaining_ms < 60000 ? static_cast<int>(remaining_ms) + 500 : 60000;
}

struct PolledWait {
  explicit PolledWait(const Context& context) : c(context) {}
  const Context& c;
  std::string kind;  // the first word that chose the condition
  std::optional<FileRecord> file_record;
  std::unique_ptr<platform::FolderWatch> folder_watch;
  bool failed = false;  // the condition cannot be tested (the step error says why)
  // Idleness: the cursor, the foreground window's title and the tick count
  // when either last changed (nothing before the first poll).
  struct Activity {
    std::optional<platform::Point> cursor;
    std::string title;
  };
  std::optional<Activity> last_activity;
  std::uint64_t last_change = 0;
  // Typed text: the wanted text reversed, the latest characters typed
  // (newest first) and the key states as last seen.
  std::string wanted_reversed, history;
  std::array<bool, 256> key_down{};
  std::optional<ImageSpot> found_spot;  // a pixel or picture found

  void PrepareTyped() {
    platform::Input& input = platform::input();
    std::string wanted = Expanded(c, c.step.text).substr(0, kTypedMost);
    wanted_reversed.assign(wanted.rbegin(), wanted.rend());
    history.clear();
    // Keys already held, and presses before the wait, do not count.
    for (int code = 0; code < 255; ++code) {
      key_down[static_cast<std::size_t>(code)] = input.QueryKey(code).down;
    }
  }

  // One key change per poll; a press and release between two polls counts
  // as a press.
  int PollTyped() {
    platform::Input& input = platform::input();
    for (int code = 1; code < 255; ++code) {
      if (IsUntypedKey(code)) continue;
      bool& was = key_down[static_cast<std::size_t>(code)];
      const platform::Input::KeyState key = input.QueryKey(code);
      const bool down = key.down;
      const bool pressed = down ? !was : !was && key.pressed;
      if (down == was && !pressed) continue;
      was = down;
      if (!pressed) break;
      history.insert(history.begin(), VirtualKeyToChar(code));
      if (history.size() > kTypedMost) history.pop_back();
      const bool met = !wanted_reversed.empty() && history.compare(0, wanted_reversed.size(), wanted_reversed) == 0;
      return met ? 0 : kTypedPollMs;
    }
    return kTypedPollMs;
  }

  int PollWindow() {
    const std::string& appear = c.step.value(1);
    const std::optional<std::uint64_t> main = expansion_host().MainWindowPart("hwnd");
    const platform::WindowId found = FindWindowByCriteria(WindowMatchFlagsFromOptions(c.step.options),
                                                          Expanded(c, c.step.text), main.value_or(0), 0);
    if (Has(appear, "Close") || Has(appear, "Disappear")) return found == 0 ? 0 : kWindowPollMs;
    if (found == 0) return kWindowPollMs;
    if (CurrentWindow() == 0) SetCurrentWindow(found);
    if (Has(appear, "Activ") && found != TopVisibleWindow() && found != platform::windows().Foreground())
      return kWindowPollMs;
    return 0;
  }

  int PollPicture() {
    ImageSpot spot;
    const int found = FindImageForStep(c.slot, c.index, spot);
    if (found < 0) failed = true;
    if (found == 1) found_spot = spot;
    return found == 0 ? 3000 : 0;
  }

  int PollIdle() {
    platform::Input& input = platform::input();
    platform::Windows& windows = platform::windows();
    Activity now{input.CursorPosition(), windows.Title(windows.Foreground(), 31, 200)};
    bool held = false;
    for (int code = 1; code <= 255 && !held; ++code) held = input.IsKeyDown(code);
    const auto same_cursor = [](const std::optional<platform::Point>& a, const std::optional<platform::Point>& b) {
      return a.has_value() == b.has_value() && (!a || (a->x == b->x && a->y == b->y));
    };
    if (last_activity && !held && same_cursor(now.cursor, last_activity->cursor) && now.title == last_activity->title) {
      const long long quiet_ms = (static_cast<long long>(FirstNumber(Expanded(c, c.step.text))) + 1) * 1000;
      return static_cast<long long>(platform::TickCount() - last_change) > quiet_ms ? 0 : 3000;
    }
    last_activity = std::move(now);
    last_change = platform::TickCount();
    return 3000;
  }

  bool ExistsAs(bool folder) const {
    const std::string path = Expanded(c, c.step.text);
    const bool exists = !path.empty() && platform::PathExists(path) && platform::IsFolder(path) == folder;
    return Has(c.step.options, "Not Exist") ? !exists : exists;
  }

  // 0: met; else the next poll's delay.
  int Poll() {
    const std::string& options = c.step.options;
    if (StopRequested()) return 0;  // the worker sees the stop and ends the wait
    if (kind == "File") {
      if (Has(options, "Exist")) return ExistsAs(false) ? 0 : 3000;
      const FileRecord now = RecordFile(Expanded(c, c.step.text));
      if (!file_record) {
        file_record = now;
        return 3000;
      }
      return now == *file_record ? 3000 : 0;
    }
    if (kind == "Folder") {
      if (Has(options, "Exist")) return ExistsAs(true) ? 0 : 3000;
      return folder_watch->Changed() ? 0 : 3000;
    }
    if (kind == "Date") {
      const int next = PollDateTime(c);
      if (next < 0) failed = true;
      return next <= 0 ? 0 : next;
    }
    if (kind == "Idle") return PollIdle();
    if (kind == "Type") return PollTyped();
    if (kind == "Window") return PollWindow();
    if (kind == "Picture") return PollPicture();
    if (kind == "Saver") {
      const std::optional<bool> running = platform::ScreenSaverRunning();
      if (!running) {
        SetStepError("The screen saver's state cannot be read on this system");
        failed = true;
        return 0;
      }
      return *running ? 0 : 3000;
    }
    if (kind == "Clipboard") {
      const std::string clip = platform::clipboard().Text().value_or(std::string());
      if (clip.empty()) return Has(options, "Empty") ? 0 : 3000;
      if (Has(options, "Any")) return 0;
      const std::string wanted = Expanded(c, c.step.text);
      if (!wanted.empty() && Has(options, "Partial") && ContainsNoCase(clip, wanted)) return 0;
      if (Has(options, "Exact") && clip == wanted) return 0;
      return 3000;
    }
    return 3000;
  }
};

int PolledStep(const Context& c) {
  const std::string& action = c.step.action;
  PolledWait wait(c);
  if (Has(action, "File")) wait.kind = "File";
  else if (Has(action, "Folder")) wait.kind = "Folder";
  else if (Has(action, "Type") || Has(action, "Idle") || Has(action, "Window") || Has(action, "Pixel") ||
           Has(action, "Image") || Has(action, "Saver") || Has(action, "Clipboard")) {
    if (DesktopMissing()) return NoDesktop();
    if (Has(action, "Idle")) wait.kind = "Idle";
    else if (Has(action, "Saver")) wait.kind = "Saver";
    else if (Has(action, "Clipboard")) wait.kind = "Clipboard";
    else if (Has(action, "Type")) wait.kind = "Type";
    else if (Has(action, "Window")) wait.kind = "Window";
    else wait.kind = "Picture";
  } else if (Has(action, "Date") || Has(action, "Time")) wait.kind = "Date";
  else return StepNotAvailable(c.slot, c.index);

  if ((wait.kind == "File" || wait.kind == "Folder") && Expanded(c, c.step.text).empty())
    return Fail("No " + std::string(wait.kind == "File" ? "file" : "folder") + " named in the step's text");
  if (wait.kind == "Folder" && !Has(c.step.options, "Exist")) {
    std::string error;
    wait.folder_watch = platform::WatchFolder(Expanded(c, c.step.text), &error);
    if (!wait.folder_watch) return Fail(error);
  }
  if (wait.kind == "Idle" && !SleepUnlessStopped(1000)) return Stopped();
  if (wait.kind == "Window" && (Has(c.step.value(1), "Open") || Has(c.step.value(1), "Appear"))) {
    // The quick path: a window already there ends the wait at once.
    const std::optional<std::uint64_t> main = expansion_host().MainWindowPart("hwnd");
    const platform::WindowId found =
        FindWindowByCriteria(WindowMatchFlagsFromOptions(c.step.options) | match::kFirst, Expanded(c, c.step.text),
                             main.value_or(0), 0);
    if (found != 0) {
      if (CurrentWindow() == 0) SetCurrentWindow(found);
      return 1;
    }
  }
  if (wait.kind == "Type") wait.PrepareTyped();
  const int first_ms = wait.kind == "Type" ? kTypedPollMs : kFirstPollMs;
  const bool restart = wait.kind == "Date" && Has(c.step.options, "restart");
  if (restart && RestartStep(c, "Temp") != 1) return 0;
  const WaitEnd end = WaitPolledOnMainThread([&wait] { return wait.Poll(); }, first_ms,
                                             static_cast<int>(TimeoutMs(c)), StopNow);
  if (restart) platform::autorun().Remove(RestartEntryName(c.slot));
  if (wait.failed) return 0;
  if (wait.found_spot)
    SaveOutput(c.slot, c.index, std::to_string(wait.found_spot->left) + ", " + std::to_string(wait.found_spot->top));
  switch (end) {
    case WaitEnd::kMet: return StopRequested() ? Stopped() : 1;
    case WaitEnd::kStopped: return Stopped();
    case WaitEnd::kTimedOut: break;
  }
  return Fail("The time-out ran out");
}

int WaitStep(const Context& c) {
  const std::string& action = c.step.action;
  if (Has(action, "Freeze") || Has(action, "Delay")) return DelayStep(c);
  if (Has(action, "Keypress") || Has(action, "Mouse")) return KeyOrMouseStep(c);
  if (Has(action, "Restart")) return RestartStep(c, c.step.options);
  return PolledStep(c);
}

}  // namespace

int HandleWaitStep(int slot, int step_index) {
  const Context c{slot, step_index, Document(slot).steps[static_cast<std::size_t>(step_index)]};
  const int previous = platform::EnterIdlePriority();
  const int result = WaitStep(c);
  platform::RestorePriority(previous);
  return result;
}

}  // namespace olvex
