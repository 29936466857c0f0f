#include "vars/expand.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/document.h"
#include "engine/settings.h"
#include "engine/text.h"
#include "platform/clipboard.h"
#include "platform/environment.h"
#include "platform/input.h"
#include "platform/locale.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/screen.h"
#include "platform/system.h"
#include "system/win_constants.h"
#include "vars/format.h"
#include "vars/formula.h"
#include "vars/registry_value.h"
#include "vars/variables.h"

namespace olvex {

namespace {

constexpr int kMaxLoopWidth = 32;
constexpr std::size_t kMaxSystemName = 32;
constexpr std::size_t kMaxStepName = 63;
constexpr std::size_t kStepTextShown = 254;
constexpr std::size_t kFormulaLimit = 4079;
constexpr std::size_t kLogLineLimit = 229;
constexpr int kScriptsWithVariables = 8;

ExpansionHost g_default_host;
std::atomic<ExpansionHost*> g_host{nullptr};

std::mutex g_constants_mutex;  // also guards the evaluator
ConstantsPass g_constants;

ExpandFormulaEvaluator g_evaluator;

std::string g_result;  // the shared expansion result
std::atomic<std::size_t> g_listings{0}, g_reads{0};

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string LowerText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

// True when the text holds a loop counter with a width: "{loop", "{loops" or
// "{loopcount" followed by a digit.
bool NamesLoopWidth(std::string_view text) {
  for (std::size_t p = FindNoCase(text, "{loop"); p != std::string_view::npos; p = FindNoCase(text, "{loop", p + 1)) {
    std::size_t at = p + 5;
    if (FindNoCase(text.substr(at, 5), "count") == 0) {
      at += 5;
    } else if (at < text.size() && (text[at] == 's' || text[at] == 'S')) {
      ++at;
    }
    if (at < text.size() && text[at] >= '0' && text[at] <= '9') return true;
  }
  return false;
}

std::string Printf(const char* format, long long value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string Padded(long long value, int width) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%0*lld", width, value);
  return buffer;
}

std::string TrimTrailingBackslashes(std::string s) {
  while (!s.empty() && (s.back() == '\\' || (s.size() > 1 && s.back() == '/'))) s.pop_back();
  return s;
}

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return Lower(c) - 'a' + 10;
}

// ---- pass 3: formula marking
bool IsReferenceChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

std::string MarkFormula(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2 + 8);
  char quote = 0;
  const std::size_t last_close = text.rfind('}');
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
      out += c;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      out += c;
      continue;
    }
    bool opens = c == '%' || (c == '{' && last_close != std::string_view::npos && last_close > i);
    if (!opens) {
      out += c;
      continue;
    }
    out += kFormulaMarker;
    out += c;
    long depth = c == '{' ? 10 : 1;
    std::size_t j = i + 1;
    for (; j < text.size(); ++j) {
      char d = text[j];
      if (d == '[' || d == '{') {
        depth = depth > 100000000L ? depth : depth * 10;
      } else if (d == ']' || d == '}') {
        if (depth <= 1) break;
        depth /= 10;
      } else if (depth <= 1 && !IsReferenceChar(d)) {
        break;
      }
      out += d;
    }
    out += kFormulaMarker;
    i = j - 1;
  }
  return out;
}

// A marked value of digits, `.` and `-` only stands as a bare number.
std::string SettleMarkers(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != kFormulaMarker) {
      out += text[i++];
      continue;
    }
    std::size_t close = text.find(kFormulaMarker, i + 1);
    if (close == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    std::string_view inner = text.substr(i + 1, close - i - 1);
    bool bare = !inner.empty() && inner.find_first_not_of("0123456789.-") == std::string_view::npos;
    if (bare) {
      out.append(inner);
    } else {
      out.append(text.substr(i, close - i + 1));
    }
    i = close + 1;
  }
  return out;
}

// ---- pass 6: user variables
class VariableNames {
 public:
  // One listing of the variables key.
  explicit VariableNames(const RegistryPath& path) {
    ++g_listings;
    std::vector<std::string> names;
    if (!path.ok || platform::ListRegistryValues(path.root, path.key, &names) != platform::RegistryStatus::kOk) return;
    for (const std::string& name : names) {
      if (name.empty()) continue;
      longest_ = std::max(longest_, name.size());
      names_.insert(LowerText(name));
    }
  }
  bool empty() const { return names_.empty(); }
  bool Has(std::string_view name) const { return names_.count(LowerText(name)) != 0; }
  std::size_t longest() const { return longest_; }

 private:
  std::unordered_set<std::string> names_;
  std::size_t longest_ = 0;
};

// The names of the variables key. The last listing is kept while the store's
// names mark stays the same (no value added or removed, by this process or
// another) and the key is the same. A mark belongs to one thread's view of the
// store, so another thread's expansion lists again rather than share it.
std::shared_ptr<const VariableNames> CurrentVariableNames() {
  struct Listing {
    platform::RegistryRoot root{};
    std::string key;
    platform::RegistryNamesMark mark;
    std::shared_ptr<const VariableNames> names;
  };
  static std::mutex mutex;
  static Listing last;
  const RegistryPath path = PrepareRegistryPath(std::string(kUserVariablesKey) + "\\x");
  // The mark comes first: a change during the listing shows in the next one.
  const std::optional<platform::RegistryNamesMark> mark = platform::CurrentRegistryNamesMark();
  if (mark) {
    std::lock_guard<std::mutex> lock(mutex);
    if (last.names && last.mark == *mark && last.root == path.root && last.key == path.key) return last.names;
  }
  auto names = std::make_shared<const VariableNames>(path);
  if (mark) {
    std::lock_guard<std::mutex> lock(mutex);
    last = {path.root, path.key, *mark, names};
  }
  return names;
}

// Replaces the references (every `%`, or with `after_bracket` those right
// after a `[`) by the values of the longest existing names that start them.
std::string SubstituteUserVariables(std::string_view text, const VariableNames& names, bool after_bracket) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t pct = text.find('%', i);
    if (pct == std::string_view::npos) break;
    out.append(text.substr(i, pct - i));
    i = pct + 1;
    if (after_bracket && (pct == 0 || text[pct - 1] != '[')) {
      out += '%';
      continue;
    }
    std::string_view candidate = text.substr(pct + 1, kMaxVariableName);
    candidate = candidate.substr(0, candidate.find_first_of("%\\"));
    candidate = candidate.substr(0, std::min(candidate.size(), names.longest()));
    bool replaced = false;
    for (std::size_t len = candidate.size(); len > 0; --len) {
      std::string_view name = candidate.substr(0, len);
      if (!names.Has(name)) continue;
      ++g_reads;
      std::optional<std::string> value = ReadUserVariable(name);
      if (!value) continue;  // vanished, or its spill file is gone: as if it did not exist
      out += *value;
      i = pct + 1 + len;
      replaced = true;
      break;
    }
    if (!replaced) out += '%';
  }
  if (i < text.size()) out.append(text.substr(i));
  return out;
}

// ---- pass 11: system variables
bool IsSystemNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '[' || c == ']' || c == '.' || c == '_';
}

// The length of the candidate `{name}` at `i` (through its `}`), or 0. Only
// names of two characters or more start the pass.
std::size_t CandidateAt(std::string_view text, std::size_t i, std::size_t shortest = 2) {
  if (text[i] != '{' || i + 1 >= text.size()) return 0;
  char first = text[i + 1];
  if (first < 'A' || first > 'z' || first == '\\') return 0;
  std::size_t j = i + 2;
  while (j < text.size() && j - (i + 2) <= kMaxSystemName && text[j] != '}' && IsSystemNameChar(text[j])) ++j;
  if (j >= text.size() || text[j] != '}' || j - i - 1 < shortest) return 0;
  return j - i + 1;
}

std::string SplitBaseName(const std::string& path) {
  std::size_t sep = path.find_last_of("\\/:");
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

std::string SplitFolder(const std::string& path) {
  std::size_t sep = path.find_last_of("\\/:");
  if (sep == std::string::npos) return {};
  return TrimTrailingBackslashes(path.substr(0, path[sep] == ':' ? sep + 1 : sep));
}

std::string SplitExtension(const std::string& path) {
  std::string base = SplitBaseName(path);
  std::size_t dot = base.find_last_of('.');
  return dot == std::string::npos ? std::string() : base.substr(dot);
}

const char* LanguageName(int primary) {
  switch (primary) {
    case 1: return "Arabic";
    case 4: return "Chinese";
    case 5: return "Czech";
    case 6: return "Danish";
    case 7: return "German";
    case 8: return "Greek";
    case 10: return "Spanish";
    case 11: return "Finnish";
    case 12: return "French";
    case 16: return "Italian";
    case 17: return "Japanese";
    case 18: return "Korean";
    case 19: return "Dutch";
    case 20: return "Norwegian";
    case 21: return "Polish";
    case 22: return "Portuguese";
    case 24: return "Romanian";
    case 25: return "Russian";
    case 26: return "Croatian";
    case 29: return "Swedish";
    case 30: return "Thai";
    case 31: return "Turkish";
    case 34: return "Ukrainian";
    case 36: return "Slovenian";
    case 38: return "Latvian";
    case 39: return "Lithuanian";
    case 41: return "Farsi";
    case 57: return "Hindi";
    case 70: return "Punjabi";
    default: return "English";
  }
}

std::optional<std::string> StepFieldValue(const Step& step, std::string_view field) {
  auto number = [](long long v) { return Printf("%lld", v); };
  auto is = [&](std::string_view name) { return LowerText(field) == name; };
  if (is("action")) return step.action;
  if (is("category")) return number(step.category);
  if (is("image")) return number(static_cast<long long>(step.action_id) + 1);
  if (is("text")) return step.text.substr(0, std::min(step.text.size(), kStepTextShown));
  if (is("comment")) return step.comment.substr(0, std::min(step.comment.size(), kStepTextShown));
  if (is("options")) return step.options;
  if (is("timeout")) return step.timeout();
  if (is("output_option")) return step.output_option();
  if (is("output")) return step.output();
  if (is("fail_mode")) return step.fail_mode();
  if (is("fail_option")) return step.fail_option();
  if (is("fail_snapshot")) return number(step.fail_snapshot);
  if (is("fail_log")) return number(step.fail_log);
  if (is("grid_text_column")) return number(step.grid_text_column);
  if (is("run_status")) return number(step.run_status);
  if (is("run_result")) return number(step.run_result);
  if (is("run_attempts")) return number(step.run_attempts);
  if (is("custom")) return step.custom();
  for (int n = 1; n <= 8; ++n)
    if (is(Printf("value%lld", n))) return step.value(n);
  return std::nullopt;
}

// The values of one system-variable pass, computed when first asked for.
class SystemValues {
 public:
  SystemValues(ExpansionHost& host, int slot, int step_index)
      : host_(host), slot_(slot), step_index_(step_index), now_(platform::locale().Now()) {}

  std::optional<std::string> Value(std::string_view braced) {
    std::string name = LowerText(braced.substr(1, braced.size() - 2));
    if (name.rfind("step[", 0) == 0) return StepValue(name);
    auto cached = cache_.find(name);
    if (cached != cache_.end()) return cached->second;
    std::optional<std::string> value = Compute(name);
    cache_.emplace(name, value);
    return value;
  }

 private:
  std::optional<std::string> StepValue(std::string_view name) {
    if (slot_ < 0 || slot_ > 7) return std::nullopt;
    std::size_t close = name.find(']');
    if (close == std::string_view::npos || close + 1 >= name.size() || name[close + 1] != '.') return std::nullopt;
    std::string_view digits = name.substr(5, close - 5);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos)
      return std::nullopt;
    long n = std::stol(std::string(digits));
    const ScriptDocument& document = Document(slot_);
    if (n < 1 || static_cast<std::size_t>(n) > document.steps.size()) return std::nullopt;
    return StepFieldValue(document.steps[static_cast<std::size_t>(n - 1)], name.substr(close + 2));
  }

  platform::WindowId Window() {
    if (!window_checked_) {
      window_checked_ = true;
      window_ = host_.CurrentWindow();
      if (!window_) {
        window_ = platform::windows().Foreground();
        if (window_) host_.SetCurrentWindow(window_);
      }
    }
    return window_;
  }

  std::optional<std::string> Compute(const std::string& n) {
    auto num = [](long long v) { return std::optional<std::string>(Printf("%lld", v)); };
    auto two = [](long long v) { return std::optional<std::string>(Padded(v, 2)); };
    const platform::LocalDateTime& t = now_;
    // Characters.
    if (n == "enter" || n == "linefeed" || n == "n") return "\n";
    if (n == "newline" || n == "rn") return "\r\n";
    if (n == "r" || n == "return") return "\r";
    if (n == "t" || n == "tab") return "\t";
    if (n == "space") return " ";
    // Date and time.
    if (n == "month_name" || n == "monthname") return platform::locale().MonthName(t.month, false);
    if (n == "month_abbr" || n == "monthabbr") return platform::locale().MonthName(t.month, true);
    if (n == "month_days" || n == "monthdays") return num(DaysInMonth(t.year, t.month));
    if (n == "month" || n == "month2") return two(t.month);
    if (n == "month1") return num(t.month);
    if (n == "minute" || n == "minute2") return two(t.minute);
    if (n == "minute1") return num(t.minute);
    if (n == "millisecond") return num(t.millisecond);
    if (n == "second" || n == "second2") return two(t.second);
    if (n == "second1") return num(t.second);
    if (n == "weeknum") return num(WeekNumber(CalendarDate{t.year, t.month, t.day}));
    if (n == "weekday_abbr" || n == "weekdayabbr") return platform::locale().DayName(t.weekday, true);
    if (n == "weekday") return platform::locale().DayName(t.weekday, false);
    if (n == "weekday1") return num(t.weekday);
    if (n == "weekday2") return two(t.weekday);
    if (n == "year2") return two(t.year - 2000);
    if (n == "year1") return num((t.year - 2000) % 10);
    if (n == "year" || n == "year4") return Padded(t.year, 4);
    if (n == "day" || n == "day2") return two(t.day);
    if (n == "day1") return num(t.day);
    if (n == "dayofyear") return num(DayOfYear(CalendarDate{t.year, t.month, t.day}));
    if (n == "hour24") return two(t.hour);
    int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    if (n == "hour2") return two(hour12);
    if (n == "hour" || n == "hour12" || n == "hour1") return num(hour12);
    if (n == "ampm") return t.hour < 12 ? "AM" : "PM";
    if (n == "today") return platform::locale().ShortDate(t.year, t.month, t.day);
    if (n == "time") return platform::locale().TimeText(t.hour, t.minute, t.second);
    if (n == "now")
      return platform::locale().ShortDate(t.year, t.month, t.day) + " " +
             platform::locale().TimeText(t.hour, t.minute, t.second);
    if (n == "timezone") {
      std::optional<long> bias = platform::TimeZoneBiasMinutes();
      if (!bias) return std::nullopt;
      return num(*bias / 60);
    }
    // The run.
    if (n == "currentstep" || n == "current_step") return num(static_cast<long long>(step_index_) + 1);
    if (n == "currentfile" || n == "current_file") return num(static_cast<long long>(slot_) + 1);
    if (n == "totalsteps" || n == "total_steps") {
      if (slot_ < 0 || slot_ > 7) return std::nullopt;
      return num(static_cast<long long>(Document(slot_).steps.size()));
    }
    if (n == "filename" || n == "filebasename" || n == "filepath" || n == "fileext") {
      if (slot_ < 0 || slot_ > 7) return std::nullopt;
      const std::string& file = Document(slot_).file_name;
      if (n == "filename") return file;
      if (n == "filebasename") return SplitBaseName(file);
      if (n == "filepath") return SplitFolder(file);
      return SplitExtension(file);
    }
    if (n == "failstep" || n == "fail_step") {
      return num(ReadSettingNumber("*\\FailStep"));
    }
    if (n == "login_username" || n == "login_name") return ReadUserVariable("login_username").value_or("");
    if (n == "login_password") {
      std::string stored = ReadUserVariable("login_password").value_or("");
      return UnscramblePassword(stored.substr(0, stored.find('\0')));
    }
    if (n == "repeatcount" || n == "repeats" || n == "repeat") {
      std::optional<long> r = host_.RepeatCount();
      return r ? num(*r) : std::nullopt;
    }
    for (int w = 2; w <= 5; ++w) {
      if (n == Printf("repeatcount%lld", w) || n == Printf("repeats%lld", w)) {
        std::optional<long> r = host_.RepeatCount();
        return r ? std::optional<std::string>(Padded(*r, w)) : std::nullopt;
      }
    }
    if (n == "command" || n == "cmd") return host_.LastCommand();
    if (n == "command_id" || n == "cmd_id") {
      std::optional<int> id = host_.LastCommandId();
      return id ? num(*id) : std::nullopt;
    }
    if (n == "cmdline") return host_.CommandLine();
    if (n == "logfile") return host_.LogFile();
    // The program.
    for (const char* brand : {"olvex_", "corvinate_", "quintaverse_"}) {
      if (n.rfind(brand, 0) != 0) continue;
      std::string part = n.substr(std::string_view(brand).size());
      if (part == "exe") return platform::ModulePath();
      if (part == "dir") {
        std::string path = platform::ModulePath();
        std::size_t sep = path.find_last_of("\\/");
        return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
      }
      if (part == "ver") return platform::FileVersion(platform::ModulePath());
      if (part == "hwnd" || part == "output" || part == "list" || part == "status" || part == "menu") {
        std::optional<std::uint64_t> handle = host_.MainWindowPart(part);
        return handle ? num(static_cast<long long>(*handle)) : std::nullopt;
      }
      return std::nullopt;
    }
    // The system.
    if (n == "curdir") {
      std::string dir = platform::CurrentDirectory();
      if (dir.empty()) return std::nullopt;
      return TrimTrailingBackslashes(dir);
    }
    if (n == "path" || n == "programfiles") {
      std::optional<std::string> v = platform::ReadEnv(n == "path" ? "PATH" : "PROGRAMFILES");
      if (!v) return std::nullopt;
      return TrimTrailingBackslashes(*v);
    }
    if (n == "tempdir") return platform::TempFolder();
    if (n == "tempfile") return platform::ProcessTempFileName();
    if (n == "memtotal" || n == "memfree") {
      std::optional<platform::MemoryStatus> m = platform::PhysicalMemory();
      if (!m) return std::nullopt;
      return std::to_string(n == "memtotal" ? m->total : m->available);
    }
    if (n == "ticks") return num(static_cast<long long>(platform::TickCount() & 0xFFFFFFFFu));
    if (n == "winver") return platform::WindowsVersionName(platform::WindowsVersion());
    if (n == "username") return platform::UserName();
    if (n == "sysdir") return platform::KnownFolder(platform::Folder::kSystem);
    if (n == "windir") return platform::KnownFolder(platform::Folder::kWindows);
    if (n == "startmenu" || n == "desktop" || n == "documents" || n == "appdata") {
      platform::Folder which = n == "startmenu" ? platform::Folder::kStartMenu
                               : n == "desktop" ? platform::Folder::kDesktop
                               : n == "documents" ? platform::Folder::kDocuments
                                                  : platform::Folder::kAppData;
      std::optional<std::string> dir = platform::KnownFolder(which);
      if (!dir) return std::nullopt;
      return TrimTrailingBackslashes(*dir);
    }
    if (n == "language") {
      std::optional<int> id = platform::UserLanguageId();
      return LanguageName(id ? (*id & 0x3FF) : 0);
    }
    // The desktop.
    if (n == "color_depth" || n == "monitors" || n == "screen_x" || n == "screen_y") {
      platform::ScreenInfo info = platform::screen().Info();
      if (info.width == 0 && info.monitors == 0) return std::nullopt;
      if (n == "color_depth") return num(info.bits_per_pixel);
      if (n == "monitors") return num(info.monitors);
      return num(n == "screen_x" ? info.width : info.height);
    }
    if (n == "screen_x2" || n == "screen_y2") {
      platform::ScreenInfo info = platform::screen().Info();
      if (info.width == 0 && info.monitors == 0) return std::nullopt;
      std::optional<platform::MonitorSize> second = platform::screen().SecondMonitor();
      if (!second) return num(0);
      return num(n == "screen_x2" ? second->width : second->height);
    }
    if (n == "mouse_x" || n == "mouse_y") {
      std::optional<platform::Point> at = platform::input().CursorPosition();
      if (!at) return std::nullopt;
      return num(n == "mouse_x" ? at->x : at->y);
    }
    bool window_name = n == "window" || n == "win_title" || n == "win_text" || n == "win_class" ||
                       n == "winclass" || n == "win_id" || n == "winid" || n == "win_data" ||
                       n == "win_userdata" || n == "windata" || n == "winuserdata" || n == "userdata" ||
                       n == "hwnd" || n == "window_x" || n == "window_y" || n == "window_width" ||
                       n == "window_height";
    if (window_name) {
      platform::WindowId w = Window();
      if (!w) return std::nullopt;
      platform::Windows& ws = platform::windows();
      if (n == "window" || n == "win_title" || n == "win_text") return ws.Title(w, 4095, 1000);
      if (n == "win_class" || n == "winclass") return ws.ClassName(w);
      if (n == "win_id" || n == "winid") return num(static_cast<long long>(ws.ControlId(w) & 0xFFFFFFFFu));
      if (n == "hwnd") return num(static_cast<long long>(w));
      if (n == "window_x" || n == "window_y" || n == "window_width" || n == "window_height") {
        std::optional<platform::WindowRect> r = ws.Rect(w);
        if (!r) return std::nullopt;
        if (n == "window_x") return num(r->x);
        if (n == "window_y") return num(r->y);
        if (n == "window_width") return num(r->width);
        return num(r->height);
      }
      return num(static_cast<long long>(ws.UserData(w) & 0xFFFFFFFFu));
    }
    return std::nullopt;
  }

  ExpansionHost& host_;
  int slot_;
  int step_index_;
  platform::LocalDateTime now_;
  bool window_checked_ = false;
  platform::WindowId window_ = 0;
  std::unordered_map<std::string, std::optional<std::string>> cache_;
};

bool HasSystemCandidate(std::string_view text, std::string* first) {
  for (std::size_t i = text.find('{'); i != std::string_view::npos; i = text.find('{', i + 1)) {
    if (std::size_t len = CandidateAt(text, i)) {
      if (first) *first = std::string(text.substr(i, std::min<std::size_t>(len, 7)));
      return true;
    }
  }
  return false;
}

std::string ReplaceSystemVariables(std::string_view text, SystemValues& values) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t open = text.find('{', i);
    if (open == std::string_view::npos) break;
    out.append(text.substr(i, open - i));
    std::size_t len = CandidateAt(text, open, 1);
    if (LowerText(text.substr(open, 6)) == "{step[") {
      std::size_t close = text.substr(0, open + kMaxStepName + 2).find('}', open);
      len = close != std::string_view::npos ? close - open + 1 : 0;
    }
    std::optional<std::string> value;
    if (len) value = values.Value(text.substr(open, len));
    if (value) {
      out += *value;
      i = open + len;
    } else {
      out += '{';
      i = open + 1;
    }
  }
  if (i < text.size()) out.append(text.substr(i));
  return out;
}

std::string LogShown(std::string_view text) {
  std::string shown(text);
  if (shown.size() > kLogLineLimit) shown = shown.substr(0, kLogLineLimit - 3) + "...";
  for (char& c : shown)
    if (c == '%') c = '\xB0';
  return shown;
}

std::string ReplaceHexEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '{' && i + 4 < text.size() && text[i + 1] == '\\' && IsHex(text[i + 2]) && IsHex(text[i + 3]) &&
        text[i + 4] == '}') {
      out += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
      i += 5;
    } else {
      out += text[i++];
    }
  }
  return out;
}

// Any of % { = _ or the text "ID" (memchr scans many bytes at a time).
bool NeedsExpansion(std::string_view text) {
  const char* p = text.data();
  const std::size_t n = text.size();
  for (char c : {'%', '{', '=', '_'})
    if (std::memchr(p, c, n)) return true;
  for (const char* at = static_cast<const char*>(std::memchr(p, 'I', n)); at;
       at = static_cast<const char*>(std::memchr(at + 1, 'I', static_cast<std::size_t>(p + n - at - 1)))) {
    if (at + 1 < p + n && at[1] == 'D') return true;
  }
  return false;
}

std::string RunPasses(std::string_view input, int slot, int step_index, int flags) {
  if ((flags & kExpandNone) || input.empty() || !NeedsExpansion(input)) return std::string(input);
  ExpansionHost& host = expansion_host();
  const bool single = (flags & kExpandSingle) != 0;

  // Percent placeholder.
  std::string text;
  text.reserve(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] == '%' && i + 1 < input.size() && input[i + 1] == '%') {
      text += kPercentPlaceholder;
      ++i;
    } else {
      text += input[i];
    }
  }

  // Formula marking.
  std::size_t first = input.find_first_not_of(" \t\r\n");
  const bool formula_input = first != std::string_view::npos && input[first] == '=';
  bool marked = false;
  if (formula_input && text.find_first_of("%{") != std::string::npos) {
    text = MarkFormula(text);
    marked = true;
  }

  // Memory slots.
  if (text.find('{') != std::string::npos && text.find('}') != std::string::npos) {
    for (int n = 1; n <= kMemorySlots; ++n) {
      std::string name = "{" + std::to_string(n) + "}";
      if (text.find(name) == std::string::npos) continue;
      std::optional<std::string> slot_text = ReadMemorySlot(n);
      if (slot_text && !slot_text->empty()) ReplaceAll(text, name, *slot_text);
    }
  }

  // Loop counters.
  if (slot >= 0 && slot < kScriptsWithVariables && ContainsNoCase(text, "{loop")) {
    if (std::optional<double> loop = host.LoopValue(slot)) {
      const long long whole = WholePart(*loop);
      for (int w = 1; w <= kMaxLoopWidth && NamesLoopWidth(text); ++w) {
        std::string padded = Padded(whole, w);
        std::string digits = std::to_string(w);
        ReplaceAll(text, "{loopcount" + digits + "}", padded);
        ReplaceAll(text, "{loops" + digits + "}", padded);
        ReplaceAll(text, "{loop" + digits + "}", padded);
      }
      std::string plain = FormatNumber(*loop, 7);
      ReplaceAll(text, "{loopcount}", plain);
      ReplaceAll(text, "{loops}", plain);
      ReplaceAll(text, "{loop}", plain);
    }
  }

  // User variables.
  if (text.find('%') != std::string::npos && slot >= 0 && slot < kScriptsWithVariables) {
    const platform::RegistryReadScope one_state;  // the listing and the reads see one state
    const std::shared_ptr<const VariableNames> names = CurrentVariableNames();
    if (!names->empty()) {
      if (text.find("[%") != std::string::npos) text = SubstituteUserVariables(text, *names, true);
      text = SubstituteUserVariables(text, *names, false);
    }
  }

  // Parameters.
  if (ContainsNoCase(text, "%parameter")) {
    for (int n = 1; n <= 9; ++n) {
      std::string name = "%parameter" + std::to_string(n);
      if (!ContainsNoCase(text, name)) continue;
      std::string value = ReadUserVariable("parameter" + std::to_string(n)).value_or("");
      ReplaceAll(text, name, value);
    }
  }

  // Symbolic constants.
  if (text.find('_') != std::string::npos || text.find("ID") != std::string::npos) {
    ConstantsPass constants;
    {
      std::lock_guard<std::mutex> lock(g_constants_mutex);
      constants = g_constants;
    }
    if (constants) constants(text);
  }

  if (!single) {
    // Character escapes.
    if (text.find("{\\") != std::string::npos && text.find('}') != std::string::npos) {
      ReplaceAll(text, "{\\r\\n}", "\r\n");
      ReplaceAll(text, "{\\r}", "\r");
      ReplaceAll(text, "{\\n}", "\n");
      ReplaceAll(text, "{\\t}", "\t");
    }
    // System variables.
    std::string first_candidate;
    if (HasSystemCandidate(text, &first_candidate)) {
      if (host.LogLevel() >= 2)
        host.Log("    System Variables Processing Performed: \"" + LogShown(first_candidate) + "\"...");
      SystemValues values(host, slot, step_index);
      text = ReplaceSystemVariables(text, values);
    }
  }

  // Placeholder restored.
  std::replace(text.begin(), text.end(), kPercentPlaceholder, '%');

  // Clipboard.
  if (ContainsNoCase(text, "{CLIPBOARD}") || ContainsNoCase(text, "%CLIPBOARD")) {
    if (ContainsNoCase(text, "{CLIPBOARD}"))
      ReplaceAll(text, "{CLIPBOARD}", platform::clipboard().Text().value_or(""));
  }

  // Formula.
  bool evaluated = false;
  if (formula_input && !single && text.find("SUM(") == std::string::npos &&
      text.find_first_of("0123456789(&") != std::string::npos) {
    text = SettleMarkers(text);
    std::string_view formula = std::string_view(text).substr(text.find('='));
    if (host.LogLevel() >= 2) host.Log("Pre-Formula: " + LogShown(formula));
    if (formula.size() > kFormulaLimit) host.Log("WARNING!  Formulas in Olvex are limited to 4k (4096 bytes)");
    ExpandFormulaEvaluator evaluator;
    {
      std::lock_guard<std::mutex> lock(g_constants_mutex);
      evaluator = g_evaluator;
    }
    FormulaResult result = evaluator ? evaluator(formula) : EvaluateFormula(formula);
    std::string value = result.failed || !result.text.empty() ? result.text : FormatNumber(result.number, 15);
    if (host.LogLevel() >= 2) host.Log("Post-Formula: " + LogShown(value));
    text = std::move(value);
    evaluated = true;
  }
  if (marked && !evaluated) text.erase(std::remove(text.begin(), text.end(), kFormulaMarker), text.end());

  // Hexadecimal escapes.
  if (!(flags & kExpandKeepEscapes) && text.find("{\\") != std::string::npos && text.find('}') != std::string::npos)
    text = ReplaceHexEscapes(text);
  return text;
}

}  // namespace

ExpansionHost& expansion_host() {
  ExpansionHost* host = g_host.load(std::memory_order_acquire);
  return host ? *host : g_default_host;
}

void SetExpansionHost(ExpansionHost* host) { g_host.store(host, std::memory_order_release); }

void SetConstantsPass(ConstantsPass pass) {
  std::lock_guard<std::mutex> lock(g_constants_mutex);
  g_constants = std::move(pass);
}

void SetExpandFormulaEvaluator(ExpandFormulaEvaluator evaluator) {
  std::lock_guard<std::mutex> lock(g_constants_mutex);
  g_evaluator = std::move(evaluator);
}

std::size_t ReplaceAll(std::string& text, std::string_view name, std::string_view value) {
  if (name.empty()) return 0;
  std::size_t count = 0;
  for (std::size_t p = FindNoCase(text, name); p != std::string::npos; p = FindNoCase(text, name, p + name.size()))
    ++count;
  if (count == 0) return 0;
  std::string out;
  out.reserve(text.size() - count * name.size() + count * value.size());
  std::size_t from = 0;
  for (std::size_t p = FindNoCase(text, name); p != std::string::npos; p = FindNoCase(text, name, from)) {
    out.append(text, from, p - from);
    out.append(value);
    from = p + name.size();
  }
  out.append(text, from, std::string::npos);
  text = std::move(out);
  return count;
}

const std::string& ExpandText(std::string_view text, int slot, int step_index, int flags, std::size_t* length) {
  if (length) *length = 0;
  try {
    if ((flags & kExpandNone) || text.empty() || !NeedsExpansion(text)) {
      g_result.assign(text);  // keeps the previous result's buffer when it is large enough
    } else {
      g_result = RunPasses(text, slot, step_index, flags);
    }
  } catch (const std::bad_alloc&) {
    g_result.clear();  // no room: what there is, which is nothing
  } catch (const std::length_error&) {
    g_result.clear();
  }
  if (length) *length = g_result.size();
  return g_result;
}

const std::string& ExpansionResult() { return g_result; }

std::string ExpandIntoBuffer(std::string_view text, int slot, int step_index, std::size_t size) {
  std::string saved = g_result;
  std::string out = ExpandText(text, slot, step_index, 0);
  g_result = std::move(saved);
  if (out.size() + 1 > size) out.resize(size ? size - 1 : 0);
  return out;
}

void InstallExpander() {
  SetConstantsPass(SubstituteConstants);
  SetExpander([](const ExpandContext& context, std::string_view text, ExpandMode mode) {
    const int flags = mode == ExpandMode::kSingle ? kExpandSingle : mode == ExpandMode::kKeepEscapes ? kExpandKeepEscapes : 0;
    return ExpandText(text, context.slot, context.step_index, flags);
  });
}

ExpandStoreCalls ExpandStoreCallCount() { return {g_listings.load(), g_reads.load()}; }

void ResetExpandStoreCallCount() {
  g_listings = 0;
  g_reads = 0;
}

// The Login Prompt keeps its password rotated left, byte by byte, by the
// code of the key's character at the same position (the key repeating).
namespace {
std::string RotatePassword(std::string text, bool left) {
  static constexpr std::string_view kKey = "MOXIEWARP";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned byte = static_cast<unsigned char>(text[i]);
    const unsigned turn = static_cast<unsigned char>(kKey[i % kKey.size()]) % 8;
    const unsigned right = left ? (8 - turn) % 8 : turn;
    text[i] = static_cast<char>(((byte >> right) | (byte << ((8 - right) % 8))) & 0xFF);
  }
  return text;
}
}  // namespace

std::string ScramblePassword(std::string text) { return RotatePassword(std::move(text), true); }
std::string UnscramblePassword(std::string text) { return RotatePassword(std::move(text), false); }

int TimeoutFieldMs(std::string_view field, int slot, int step_index) {
  if (field.empty()) return 0;
  const double seconds = EvaluateFormula(ExpandText(field, slot, step_index, 0)).number;
  if (!(seconds > 0)) return 0;
  return static_cast<int>(std::min(seconds * 1000.0, static_cast<double>(INT_MAX)));
}

}  // namespace olvex
