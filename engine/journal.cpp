#include "engine/journal.h"

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/document.h"
#include "engine/run_log.h"
#include "platform/append_file.h"
#include "platform/system.h"
#include "vars/variables.h"

namespace olvex {
namespace {

constexpr auto kFlushEvery = std::chrono::milliseconds(100);
constexpr std::size_t kFlushAt = 64 * 1024;         // pending bytes that wake the flusher thread
constexpr std::size_t kWriteHereAt = 8 * 1024 * 1024;  // ... that the maker writes itself (a slow disk)
// Input enough for the first 1 KB of the expanded text, a reference at the cut kept whole.
constexpr std::size_t kExpandInputMax = kJournalTextMax + 64;

using Clock = std::chrono::system_clock;

// The record of the step the run is in: its line is made when the run leaves
// the step, into the pending text that the flusher thread writes. Its buffers
// are kept from step to step.
struct OpenStep {
  // What few steps have.
  struct Rare {
    std::string fail_mode, error, output, value;
  };
  std::unique_ptr<Rare> rare;
  bool open = false;
  int number = 0;
  int attempts = 0;
  const char* result = "stopped";  // a literal of the callers'
  std::string action, text;
  Clock::time_point start;
  std::uint64_t began = 0, last = 0;  // tick counts (ms): the step's entry, its latest result

  Rare& rare_part() {
    if (!rare) rare = std::make_unique<Rare>();
    return *rare;
  }
};

struct Journal {
  std::mutex mutex;        // the state below
  std::mutex write_mutex;  // keeps batches in the order they were made
  std::condition_variable wake;
  platform::AppendFile file;
  std::string pending, spare;  // whole lines; spare: the last batch's room, kept for the next
  std::thread flusher;
  bool closing = false;
  bool flusher_woken = false;
  bool run_open = false;
  // The wall clock at the run's start and the tick count then: step times
  // follow from the tick count that the run log takes of every step.
  Clock::time_point wall_base;
  std::uint64_t tick_base = 0;
  int steps_run = 0;
  OpenStep step;
  std::string pid;
};

void Flush(Journal& j);
void StopFlusher(Journal& j);

Journal& J() {
  // A journal left open at the program's end is still written out whole.
  struct Owner {
    Journal journal;
    ~Owner() {
      StopFlusher(journal);
      Flush(journal);
    }
  };
  static Owner owner;
  return owner.journal;
}

std::atomic<bool> g_on{false};

std::string TimeText(Clock::time_point t) {
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(t);
  const auto day = std::chrono::floor<std::chrono::days>(ms);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{ms - day};
  char text[40];
  std::snprintf(text, sizeof text, "\"%04d-%02u-%02uT%02d:%02d:%02d.%03dZ\"", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

// A time as TimeText writes it; the text of the second is kept for the next
// call (the callers hold the journal's write lock).
void AppendTime(std::string& line, Clock::time_point t) {
  static std::int64_t cached_second = -1;
  static std::string cached;
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(t);
  const std::int64_t second = std::chrono::floor<std::chrono::seconds>(ms).time_since_epoch().count();
  if (second != cached_second) {
    cached = TimeText(t).substr(0, 20);  // "YYYY-MM-DDTHH:MM:SS
    cached_second = second;
  }
  const int milli = static_cast<int>(ms.time_since_epoch().count() - second * 1000);
  line += cached;
  line += '.';
  line += static_cast<char>('0' + milli / 100);
  line += static_cast<char>('0' + milli / 10 % 10);
  line += static_cast<char>('0' + milli % 10);
  line += "Z\"";
}

std::string Cut(std::string_view text) { return std::string(text.substr(0, std::min(text.size(), kJournalTextMax))); }

// Length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
std::size_t Utf8Length(std::string_view s, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) n = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) n = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
  else if (lead >= 0xF0 && lead <= 0xF4) n = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (at + n > s.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  return n;
}

void AppendJson(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t plain = 0;  // start of the stretch copied as it is
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      ++i;
      continue;
    }
    if (c >= 0x80) {
      if (const std::size_t n = Utf8Length(bytes, i)) {
        i += n;
        continue;
      }
    }
    out.append(bytes.substr(plain, i - plain));
    ++i;
    plain = i;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      // A control character, or a byte outside UTF-8: its Latin-1 reading.
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  out.append(bytes.substr(plain));
  out += '"';
}

// After lines were added: the flusher thread writes them beside the run; the
// maker writes them itself when asked, or when the flusher falls far behind.
void Pending(Journal& j, std::unique_lock<std::mutex>& lock, bool now) {
  if (!now && j.pending.size() < kWriteHereAt) {
    if (j.pending.size() >= kFlushAt && !j.flusher_woken) {
      j.flusher_woken = true;
      j.wake.notify_one();
    }
    return;
  }
  lock.unlock();
  FlushJournal();
  lock.lock();
}

void EmitLine(Journal& j, std::unique_lock<std::mutex>& lock, const std::string& line) {
  j.pending += line;
  j.pending += '\n';
  Pending(j, lock, true);
}

std::string Field(std::string_view name, std::string_view json_value) {
  std::string out = ",\"";
  out += name;
  out += "\":";
  out += json_value;
  return out;
}

void AppendName(std::string& line, std::string_view name) {
  line += ",\"";
  line += name;
  line += "\":";
}

void AppendText(std::string& line, std::string_view name, std::string_view text) {
  AppendName(line, name);
  AppendJson(line, text);
}

void AppendField(std::string& line, std::string_view name, std::string_view json_value) {
  line += ",\"";
  line += name;
  line += "\":";
  line += json_value;
}

void AppendNumber(std::string& line, std::string_view name, long long value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  AppendField(line, name, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

// The line of a step record, appended to `line`.
void AppendStepLine(std::string& line, const OpenStep& s, std::string_view pid) {
  line += "{\"event\":\"step\"";
  AppendField(line, "pid", pid);
  AppendNumber(line, "step", s.number);
  AppendText(line, "action", s.action);
  AppendText(line, "text", s.text);
  AppendText(line, "result", s.result);
  AppendNumber(line, "attempts", s.attempts);
  if (const OpenStep::Rare* rare = s.rare.get()) {
    if (!rare->fail_mode.empty()) AppendText(line, "fail_mode", rare->fail_mode);
    if (!rare->error.empty()) AppendText(line, "error", rare->error);
    if (!rare->output.empty()) {
      AppendText(line, "output", rare->output);
      AppendText(line, "value", rare->value);
    }
  }
  AppendName(line, "start");
  AppendTime(line, s.start);
  AppendNumber(line, "ms", static_cast<long long>(s.last - s.began));
  line += '}';
}

// The line of the open step, made when the run goes on to another step or ends.
void CloseStep(Journal& j, std::unique_lock<std::mutex>& lock) {
  OpenStep& s = j.step;
  if (!s.open) return;
  s.open = false;
  if (j.run_open) {
    AppendStepLine(j.pending, s, j.pid);
    j.pending += '\n';
  }
  s.attempts = 0;
  s.result = "stopped";
  if (s.rare) *s.rare = OpenStep::Rare{};
  if (j.run_open) Pending(j, lock, false);
}

void StopFlusher(Journal& j) {
  {
    std::lock_guard<std::mutex> lock(j.mutex);
    j.closing = true;
  }
  j.wake.notify_all();
  if (j.flusher.joinable()) j.flusher.join();
}

void FlusherBody() {
  Journal& j = J();
  std::unique_lock<std::mutex> lock(j.mutex);
  while (!j.closing) {
    j.wake.wait_for(lock, kFlushEvery);
    j.flusher_woken = false;
    if (j.pending.empty()) continue;
    lock.unlock();
    FlushJournal();
    lock.lock();
  }
}

}  // namespace

std::string JsonString(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 2);
  AppendJson(out, bytes);
  return out;
}

bool OpenJournal(const std::string& path, std::string* error) {
  CloseJournal();
  if (path.empty()) return true;
  Journal& j = J();
  {
    std::lock_guard<std::mutex> write(j.write_mutex);
    if (!j.file.Open(path, error)) return false;
  }
  std::lock_guard<std::mutex> lock(j.mutex);
  j.pid = std::to_string(platform::CurrentProcessId());
  j.closing = false;
  j.run_open = false;
  j.step = OpenStep{};
  j.flusher = std::thread(FlusherBody);
  g_on.store(true);
  return true;
}

void CloseJournal() {
  Journal& j = J();
  if (!g_on.exchange(false)) return;
  StopFlusher(j);
  Flush(j);
  std::lock_guard<std::mutex> write(j.write_mutex);
  j.file.Close();
}

void FlushJournal() { Flush(J()); }

namespace {

void Flush(Journal& j) {
  std::lock_guard<std::mutex> write(j.write_mutex);
  std::string batch;
  {
    std::lock_guard<std::mutex> lock(j.mutex);
    batch.swap(j.pending);
    j.pending.swap(j.spare);
  }
  if (batch.empty()) return;
  j.file.Append(batch);
  batch.clear();
  std::lock_guard<std::mutex> lock(j.mutex);
  if (j.spare.capacity() < batch.capacity()) j.spare.swap(batch);
}

}  // namespace

bool JournalOn() { return g_on.load(std::memory_order_relaxed); }

void JournalRunStart(const std::string& script, const std::string& command_line) {
  if (!JournalOn()) return;
  Journal& j = J();
  std::unique_lock<std::mutex> lock(j.mutex);
  CloseStep(j, lock);
  j.run_open = true;
  j.steps_run = 0;
  j.wall_base = Clock::now();
  j.tick_base = platform::TickCount();
  EmitLine(j, lock,
           "{\"event\":\"start\"" + Field("pid", j.pid) + Field("time", TimeText(Clock::now())) +
               Field("script", JsonString(script)) + Field("command_line", JsonString(command_line)) + "}");
}

void JournalStepBegin(int slot, int step_index) {
  if (!JournalOn()) return;
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  // Variables, memory slots and loop counters replaced (each begins with '%'
  // or '{'); system values and formulas stay as written (their evaluation may
  // log, or differ).
  const std::string_view head = std::string_view(step.text).substr(0, std::min(step.text.size(), kExpandInputMax));
  const bool plain = head.find_first_of("%{") == std::string_view::npos;
  std::string expanded = plain ? std::string() : Expand(ExpandContext{slot, step_index}, head, ExpandMode::kSingle);
  const std::string_view text = plain ? head : std::string_view(expanded);
  Journal& j = J();
  std::unique_lock<std::mutex> lock(j.mutex);
  CloseStep(j, lock);
  ++j.steps_run;
  OpenStep& s = j.step;
  s.open = true;
  s.number = step_index + 1;
  s.action = step.action;
  s.text.assign(text.substr(0, std::min(text.size(), kJournalTextMax)));
  s.began = s.last = StepStartTick();
  s.start = j.wall_base + std::chrono::milliseconds(static_cast<std::int64_t>(s.began - j.tick_base));
}

void JournalStepResult(const char* result, std::string_view fail_mode, std::string_view error) {
  if (!JournalOn()) return;
  Journal& j = J();
  std::lock_guard<std::mutex> lock(j.mutex);
  OpenStep& s = j.step;
  if (!s.open) return;
  ++s.attempts;
  s.last = platform::TickCount();
  s.result = result;
  if (!fail_mode.empty() || !error.empty() || s.rare) {
    OpenStep::Rare& rare = s.rare_part();
    rare.fail_mode.assign(fail_mode);
    rare.error = Cut(error);
  }
}

void JournalStepFailed(const Step& step, std::string_view error) {
  if (!JournalOn()) return;
  // The failure handling turns a false IF (not Quick) into a jump to its ELSE or END IF.
  if (ContainsNoCase(step.action, "IF ") && !ContainsNoCase(step.options, "Quick")) {
    JournalStepResult("false", "", error);
    return;
  }
  // Run result 3: the failure mode applied; 4: IGNORE applied.
  const bool applied = step.run_result == 3 || step.run_result == 4;
  JournalStepResult("failure", applied ? (step.fail_mode().empty() ? "ERROR" : step.fail_mode()) : "", error);
}

void JournalStepOutput(std::string_view destination, std::string_view value) {
  if (!JournalOn()) return;
  Journal& j = J();
  std::lock_guard<std::mutex> lock(j.mutex);
  if (!j.step.open) return;
  OpenStep::Rare& rare = j.step.rare_part();
  rare.output.assign(destination);
  rare.value = Cut(value);
}

void JournalRunEnd(std::string_view how, int exit_code) {
  if (!JournalOn()) return;
  Journal& j = J();
  std::unique_lock<std::mutex> lock(j.mutex);
  CloseStep(j, lock);
  if (!j.run_open) return;
  j.run_open = false;
  EmitLine(j, lock,
           "{\"event\":\"end\"" + Field("pid", j.pid) + Field("time", TimeText(Clock::now())) +
               Field("how", JsonString(how)) + Field("steps_run", std::to_string(j.steps_run)) +
               Field("exit_code", std::to_string(exit_code)) + "}");
}

void JournalPrompt(int step_index, std::string_view prompt, std::string_view answer, std::string_view by) {
  if (!JournalOn()) return;
  Journal& j = J();
  std::unique_lock<std::mutex> lock(j.mutex);
  EmitLine(j, lock,
           "{\"event\":\"prompt\"" + Field("pid", j.pid) + Field("time", TimeText(Clock::now())) +
               Field("step", std::to_string(step_index + 1)) + Field("prompt", JsonString(Cut(prompt))) +
               Field("answer", JsonString(Cut(answer))) + Field("by", JsonString(by)) + "}");
}

}  // namespace olvex
