#include "engine/run_log.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "engine/document.h"
#include "engine/settings.h"
#include "platform/environment.h"
#include "platform/locale.h"
#include "platform/module.h"
#include "platform/system.h"
#include "platform/terminal.h"

namespace olvex {
namespace {

constexpr std::size_t kLineBuffer = 992;

std::atomic<int> g_log_level{0};
std::atomic<bool> g_forced_high{false};  // -L: level 2 for every run
std::atomic<std::uint64_t> g_step_start{0};
std::mutex g_log_mutex;  // the cached path and the observer
std::string g_cached_path;
std::function<void(const std::string&)> g_observer;
std::atomic<bool> g_has_observer{false};
std::atomic<bool> g_followed{false};

// Lines are made even at log level 0 when someone reads them.
bool LinesWanted() { return g_log_level.load() > 0 || g_has_observer.load() || g_followed.load(); }

std::mutex g_status_mutex;
std::array<std::string, 4> g_status;
std::array<std::uint64_t, 4> g_status_tick{};

bool EndsWithExe(const std::string& path) {
  if (path.size() < 4) return false;
  const char* tail = path.c_str() + path.size() - 4;
  return tail[0] == '.' && (tail[1] | 0x20) == 'e' && (tail[2] | 0x20) == 'x' && (tail[3] | 0x20) == 'e';
}

bool CanAppend(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return false;
  std::fclose(f);
  return true;
}

// The folder for the log when the program's own folder cannot be written.
std::string StateFolderLog(const std::string& default_path) {
  std::string base;
  if (auto state = platform::ReadEnv("XDG_STATE_HOME"); state && !state->empty()) {
    base = *state;
  } else if (auto local = platform::ReadEnv("LOCALAPPDATA"); local && !local->empty()) {
    base = *local;
  } else if (auto home = platform::ReadEnv("HOME"); home && !home->empty()) {
    base = *home + "/.local/state";
  } else {
    return {};
  }
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::path(base) / "olvex";
  std::filesystem::create_directories(folder, ec);
  return (folder / std::filesystem::path(default_path).filename()).string();
}

std::string ComputeLogPath() {
  std::string path = ReadSettingString("*\\Logfile", 259);
  if (!path.empty()) return path;
  path = DefaultLogPath(platform::ModulePath());
  if (!CanAppend(path)) {
    std::string other = StateFolderLog(path);
    if (!other.empty()) return other;
  }
  return path;
}

std::string CachedLogPath() {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  if (g_cached_path.empty()) g_cached_path = ComputeLogPath();
  return g_cached_path;
}

void WriteFinished(std::string line) {
  for (char& c : line) {
    if (c == kPercentMarker) c = '%';
    else if (c == kQuoteMarker) c = '"';
    else if (c == '\t') c = ' ';
  }
  {
    std::function<void(const std::string&)> observer;
    {
      std::lock_guard<std::mutex> lock(g_log_mutex);
      observer = g_observer;
    }
    if (observer) observer(line);
  }
  if (g_followed.load()) platform::WriteError(line + "\n");
  if (g_log_level.load() <= 0) return;
  std::string out;
  out.reserve(line.size() + 8);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\n' && (i == 0 || line[i - 1] != '\r')) out += '\r';
    out += line[i];
  }
  out += "\r\n";
  const std::string path = CachedLogPath();
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return;  // a failed log write is ignored
  std::fwrite(out.data(), 1, out.size(), f);
  std::fclose(f);
}

std::string VFormat(const char* format, std::va_list args, std::size_t buffer) {
  std::string out(buffer, '\0');
  int n = std::vsnprintf(out.data(), buffer, format, args);
  if (n < 0) return std::string(format, std::min(std::strlen(format), buffer - 1));
  out.resize(std::min<std::size_t>(static_cast<std::size_t>(n), buffer - 1));
  return out;
}

std::string Cut(std::string_view text, std::size_t n) { return std::string(text.substr(0, std::min(text.size(), n))); }

}  // namespace

int LogLevel() { return g_log_level.load(); }
void SetLogLevel(int level) {
  {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_cached_path.clear();
  }
  g_forced_high.store(false);
  g_log_level.store(level);
}

void ReadLogLevelSetting() {
  {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_cached_path.clear();
  }
  if (g_log_level.load() == 99) g_forced_high.store(true);
  if (g_forced_high.load()) {
    g_log_level.store(2);
    return;
  }
  g_log_level.store(ReadSettingNumber("*\\LogLevel"));
}

std::string DefaultLogPath(const std::string& program_path) {
  if (EndsWithExe(program_path)) return program_path.substr(0, program_path.size() - 4) + "Log.txt";
  return program_path + "Log.txt";
}

std::string LogFilePath() { return ComputeLogPath(); }

void DeleteLogFile() {
  std::remove(LogFilePath().c_str());
  std::lock_guard<std::mutex> lock(g_log_mutex);
  g_cached_path.clear();
}

void LogLine(const char* format, ...) {
  if (!LinesWanted()) return;
  const std::size_t length = std::strlen(format);
  if (std::memchr(format, '%', length) && length < kLineBuffer) {
    std::va_list args;
    va_start(args, format);
    std::string line = VFormat(format, args, kLineBuffer);
    va_end(args);
    WriteFinished(std::move(line));
  } else {
    WriteFinished(Cut(format, kLineBuffer - 1));
  }
}

void AppendToLogFile(std::string_view text) {
  if (text.empty()) return;
  if (g_followed.load()) platform::WriteError(text);
  if (g_log_level.load() <= 0) return;
  const std::string path = CachedLogPath();
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

void LogText(std::string_view line) {
  if (!LinesWanted()) return;
  WriteFinished(Cut(line, kLineBuffer - 1));
}

void SetLogObserver(std::function<void(const std::string&)> observer) {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  g_has_observer.store(static_cast<bool>(observer));
  g_observer = std::move(observer);
}

void SetLogFollowed(bool followed) { g_followed.store(followed); }

std::uint64_t StepStartTick() { return g_step_start.load(); }

void LogStep(int slot, int step_index) {
  ScriptDocument& doc = Document(slot);
  Step& step = doc.steps[static_cast<std::size_t>(step_index)];
  step.run_attempts = 0;
  g_step_start.store(platform::TickCount());
  const int level = g_log_level.load();
  const int number = step_index + 1;
  char head[400];
  if (level >= 2) {
    const platform::LocalDateTime now = platform::locale().Now();
    std::snprintf(head, sizeof head, "[STEP %d] (%02d:%02d:%02d.%04d):  %s ", number, now.hour, now.minute, now.second,
                  now.millisecond, step.action.c_str());
  } else {
    std::snprintf(head, sizeof head, "[STEP %d]: %s", number, step.action.c_str());
    if (step.category == 14) {
      std::string upper = step.options;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      std::string extra;
      if (upper.find("ELSE IF") != std::string::npos) extra += " ELSE";
      if (upper.find("IF NOT") != std::string::npos) extra += " NOT";
      if (upper.find("QUICK") != std::string::npos) extra += " (checkpoint)";
      std::strncat(head, extra.c_str(), sizeof head - std::strlen(head) - 1);
    }
  }
  std::string line = head;
  constexpr std::size_t kStepLineMax = 229;
  const std::string* shown = &step.text;
  if (shown->empty()) shown = &step.value(1);
  if (shown->empty()) shown = &step.value(2);
  if (shown->empty()) shown = &step.comment;
  auto add_cut = [&](std::string_view prefix, std::string_view body, std::string_view suffix) {
    if (line.size() + prefix.size() + suffix.size() >= kStepLineMax) return;
    const std::size_t room = kStepLineMax - line.size() - prefix.size() - suffix.size();
    line += prefix;
    line.append(body.substr(0, std::min(body.size(), room)));
    line += suffix;
  };
  if (!shown->empty()) add_cut(" \"", *shown, "\"");
  if (level >= 2 && !step.options.empty()) add_cut(", Options: ", step.options, "");
  std::string clean;
  clean.reserve(line.size());
  for (char c : line) {
    if (c == '\r') continue;
    if (c == '\n' || c == '\t') c = ' ';
    else if (c == '%') c = kPercentMarker;
    clean += c;
  }
  LogText(clean);
  SetStatusText(false, 0, " [STEP %d]:  %s", number, step.action.c_str());
}

void SetStatusText(bool force, int part, const char* format, ...) {
  if (part < 0 || part > 3) return;
  const std::uint64_t now = platform::TickCount();
  std::lock_guard<std::mutex> lock(g_status_mutex);
  if (!force && g_status_tick[static_cast<std::size_t>(part)] != 0 &&
      now - g_status_tick[static_cast<std::size_t>(part)] < 100)
    return;
  const std::size_t length = std::strlen(format);
  std::string text;
  if (std::memchr(format, '%', length) && length < 240) {
    std::va_list args;
    va_start(args, format);
    text = VFormat(format, args, 256);
    va_end(args);
  } else {
    text = Cut(format, 239);
  }
  g_status[static_cast<std::size_t>(part)] = std::move(text);
  g_status_tick[static_cast<std::size_t>(part)] = now;
}

std::string StatusText(int part) {
  if (part < 0 || part > 3) return {};
  std::lock_guard<std::mutex> lock(g_status_mutex);
  return g_status[static_cast<std::size_t>(part)];
}

}  // namespace olvex
