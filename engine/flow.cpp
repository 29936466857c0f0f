#include "engine/flow.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "engine/catalog.h"
#include "engine/control.h"
#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/stop_key.h"
#include "platform/windows.h"
#include "prompts/displays.h"
#include "system/file_list.h"
#include "vars/expand.h"
#include "vars/format.h"
#include "vars/formula.h"
#include "vars/registry_value.h"
#include "vars/variable_actions.h"

namespace olvex {
namespace {

constexpr std::size_t kSeparatorMax = 63;
constexpr std::size_t kFileSpecMax = 259;
constexpr std::size_t kNameMax = 259;             // registry names and window titles
constexpr std::size_t kLineMax = 33554431;        // a longer line is cut there (the rest is skipped)
constexpr std::size_t kDatasetColumns = 16;
constexpr int kWindowTitleTimeoutMs = 2000;
constexpr auto kMessagePollInterval = std::chrono::milliseconds(200);

// What one running loop holds besides its loop-stack entry. Every loop has
// its own, so that loops of the same kind can be nested.
struct LoopWork {
  LoopWork(int s, int start) : slot(s), start_step(start) {}
  LoopWork(const LoopWork&) = delete;
  LoopWork& operator=(const LoopWork&) = delete;
  ~LoopWork() {
    if (file) std::fclose(file);
  }
  int slot;
  int start_step;            // 1-based, as in the loop stack
  bool started = false;      // the first pass has run
  std::string items;         // Files, Folders, Process: one item per line
  std::size_t cursor = 0;    // where the next item begins
  std::vector<std::string> names;  // Registry: the key's value or sub-key names
  std::FILE* file = nullptr;       // File Line, read through the buffer
  std::string read_buffer;
  std::size_t read_pos = 0;
  platform::WindowId window = 0;   // Windows: the latest window taken
  std::vector<std::vector<std::string>> rows;  // Dataset
};

std::vector<std::unique_ptr<LoopWork>>& Work() {
  static std::vector<std::unique_ptr<LoopWork>> work;
  return work;
}

std::mutex g_sources_mutex;
DatasetSource g_dataset_source;
MessageSource g_message_source;

// A copy of an installed source, to call without the lock.
template <class Source>
Source Installed(const Source& source) {
  std::lock_guard<std::mutex> lock(g_sources_mutex);
  return source;
}

void DropWork(int slot, int start_step) {
  auto& work = Work();
  work.erase(std::remove_if(work.begin(), work.end(),
                            [&](const auto& w) { return w->slot == slot && w->start_step == start_step; }),
             work.end());
}

// Work of loops that fell off the bottom of the loop stack.
void DropOrphanedWork() {
  auto& work = Work();
  work.erase(std::remove_if(work.begin(), work.end(),
                            [](const auto& w) {
                              const auto& stack = Control().loops[static_cast<std::size_t>(w->slot)];
                              return std::none_of(stack.begin(), stack.end(),
                                                  [&](const LoopEntry& e) { return e.start_step == w->start_step; });
                            }),
             work.end());
}

LoopWork& WorkFor(int slot, int start_step) {
  auto& work = Work();
  for (auto& w : work) {
    if (w->slot == slot && w->start_step == start_step) return *w;
  }
  work.push_back(std::make_unique<LoopWork>(slot, start_step));
  return *work.back();
}

std::string Number(double value) { return FormatNumber(value, 7); }

// A field's expansion, copied out of the shared result.
std::string Expanded(std::string_view text, int slot, int step_index) { return ExpandText(text, slot, step_index, 0); }

double NumberOr(const std::string& text, double fallback) { return text.empty() ? fallback : LeadingDecimal(text); }

// The next line of an item list, or nothing at its end.
std::optional<std::string> NextItem(LoopWork& work) {
  if (work.cursor >= work.items.size()) return std::nullopt;
  std::size_t end = work.items.find('\n', work.cursor);
  if (end == std::string::npos) end = work.items.size();
  std::string item = work.items.substr(work.cursor, end - work.cursor);
  work.cursor = end + 1;
  if (item.empty()) return std::nullopt;
  return item;
}

// The next line of the open file without its line break (LF or CR LF);
// nothing at the end of the file.
std::optional<std::string> ReadLine(LoopWork& work) {
  std::string line;
  bool any = false;
  for (;;) {
    if (work.read_pos >= work.read_buffer.size()) {
      work.read_buffer.resize(65536);
      const std::size_t got = std::fread(work.read_buffer.data(), 1, work.read_buffer.size(), work.file);
      work.read_buffer.resize(got);
      work.read_pos = 0;
      if (got == 0) break;
    }
    any = true;
    const std::size_t end = work.read_buffer.find('\n', work.read_pos);
    const std::size_t stop = end == std::string::npos ? work.read_buffer.size() : end;
    if (line.size() < kLineMax)
      line.append(work.read_buffer, work.read_pos, std::min(stop - work.read_pos, kLineMax - line.size()));
    work.read_pos = stop;
    if (end != std::string::npos) {
      ++work.read_pos;
      break;
    }
  }
  if (!any) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The `field`-th (1-based) field of `text` split at `separator`. A trailing
// separator ends the last field and starts none.
std::optional<std::string> TextField(const std::string& text, const std::string& separator, long long field) {
  if (text.empty() || field < 1) return std::nullopt;
  std::size_t begin = 0;
  for (long long i = 1; i < field; ++i) {
    const std::size_t at = text.find(separator, begin);
    if (at == std::string::npos) return std::nullopt;
    begin = at + separator.size();
    if (begin >= text.size()) return std::nullopt;
  }
  const std::size_t end = text.find(separator, begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// ---- Jumps -----------------------------------------------------------------

int JumpToLabel(int slot, int step_index, const std::string& label, bool gosub) {
  if (label.empty()) {
    SetStepError("No label name provided");
    return 0;
  }
  const int target = FindLabel(slot, label);
  if (target < 0) {
    SetStepError("Label \"" + label + "\" not found");
    return 0;
  }
  LogLine("    Jumping to label \"%s\" at [Step %d]", label.c_str(), target + 1);
  ControlState& control = Control();
  if (!gosub && control.if_depth > 0) CloseIfLevels(slot, step_index, target);
  RunShared().next_step.store(target);
  if (gosub) {
    // At the limit the top return address is overwritten.
    if (control.gosub_depth < kMaxGosubDepth) ++control.gosub_depth;
    control.gosub_callers[static_cast<std::size_t>(control.gosub_depth)] = step_index;
    LogLine("    GOSUB stack depth: %d", control.gosub_depth);
  }
  return 1;
}

int ReturnFromGosub(int slot) {
  ControlState& control = Control();
  if (control.gosub_depth <= 0) {
    SetStepError("No matching GOSUB found");
    return 0;
  }
  const int count = static_cast<int>(Document(slot).steps.size());
  const int caller = std::clamp(control.gosub_callers[static_cast<std::size_t>(control.gosub_depth)], 0, count - 1);
  LogLine("    Returning from GOSUB to [Step %d]", caller + 2);
  RunShared().next_step.store(caller + 1);
  --control.gosub_depth;
  return 1;
}

void SetRepeats(int slot, const std::string& text) {
  const int counter = RunRepeats(slot);
  if (counter == 0) {
    const long long repeats = text == "-1" ? kRepeatForever : static_cast<long long>(FirstNumber(text)) - 1;
    SetRunRepeats(slot, static_cast<int>(std::clamp<long long>(repeats, INT_MIN, kRepeatForever)));
  } else if (counter == kRepeatForever) {
    LogText("    An eternity of Run Repeats still remaining....");
  } else {
    LogLine("    %d Run Repeat(s) remaining", std::max(counter, 0));
  }
}

// ---- Loops -----------------------------------------------------------------

// Ends the innermost loop: the run goes on after the NEXT LOOP that belongs
// to step `from_index` (the loop's start, or a Break inside the loop).
int EndLoop(int slot, int from_index) {
  const LoopEntry loop = InnermostLoop(slot);
  const int next = FindLoopEnd(slot, from_index) + 1;
  const std::string value = Number(loop.current);
  LogLine("    END OF LOOP from [Step %d], Final Value: %s, Total Loops: %d, Continuing with [Step %d]...",
          loop.start_step, value.c_str(), loop.passes, next + 1);
  SetStatusText(true, 2, "Loop: %s", value.c_str());
  RunShared().next_step.store(next);
  PopLoop(slot);
  DropWork(slot, loop.start_step);
  return 1;
}

// When the loop of `start_step` is on the stack below the innermost one, the
// loops above it were left by a jump (a GOTO out of an inner loop): they are
// popped, so that the loop goes on where it was. False when the loop of that
// step is not on the stack.
bool SettleLoopStack(int slot, int start_step) {
  const auto& stack = Control().loops[static_cast<std::size_t>(slot)];
  const auto it = std::find_if(stack.begin(), stack.end(), [&](const LoopEntry& e) { return e.start_step == start_step; });
  if (it == stack.end()) return false;
  for (auto above = it - stack.begin(); above > 0; --above) {
    DropWork(slot, InnermostLoop(slot).start_step);
    PopLoop(slot);
  }
  return true;
}

int NextLoop(int slot, int step_index) {
  const int start = FindLoopStart(slot, step_index);
  SettleLoopStack(slot, start + 1);
  LoopEntry& loop = InnermostLoop(slot);
  if (loop.start_step != 0) {
    if (loop.passes < INT32_MAX) ++loop.passes;
    loop.current += loop.increment == 0.0 ? 1.0 : loop.increment;
  }
  LogLine("    Jumping to START LOOP at [Step %d]...", start + 1);
  RunShared().next_step.store(start);
  return 1;
}

// The For loop goes on while the value has not passed the end; a tolerance
// of a millionth of the increment keeps rounding errors of fractional
// increments (0.1 ten times) from losing the last pass.
std::optional<std::string> ForPass(LoopEntry& loop) {
  const double slack = std::abs(loop.increment) * 1e-6;
  const bool going = loop.increment == 0.0 || (loop.increment > 0.0 && loop.current <= loop.end_value + slack) ||
                     (loop.increment < 0.0 && loop.current >= loop.end_value - slack);
  if (!going) {
    loop.current -= loop.increment;
    return std::nullopt;
  }
  LogLine("    Loop %s of %s", Number(loop.current).c_str(), Number(loop.end_value).c_str());
  return Number(loop.current);
}

std::optional<std::string> WhilePass(const LoopEntry& loop, const std::string& text) {
  const bool truth = EvaluateLogical(text);
  if (LogLevel() >= 2) LogLine("    Expression: [%s] = %s", text.c_str(), truth ? "TRUE" : "FALSE");
  if (!truth) return std::nullopt;
  return Number(loop.current);
}

std::optional<std::string> TextPass(const LoopEntry& loop, const std::string& text, const std::string& separator) {
  const long long field = loop.current >= 1.0 && loop.current < 9e18 ? static_cast<long long>(loop.current) : 0;
  return TextField(text, separator, field);
}

std::optional<std::string> FileLinePass(int slot, LoopWork& work, const std::string& text) {
  if (!work.started) {
    const std::string path = ScriptRelativePath(slot, text);
    work.file = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
    if (!work.file) LogLine("    WARNING!  Unable to open file [%s]", path.c_str());
  }
  if (!work.file) return std::nullopt;
  return ReadLine(work);
}

void ListFiles(LoopWork& work, const std::string& text, bool folders, bool recurse) {
  std::string spec = text.substr(0, kFileSpecMax);
  const bool wild = spec.find_first_of("*?") != std::string::npos;
  if (!spec.empty() && (spec.back() == '\\' || spec.back() == '/') && !wild) spec += "*.*";
  if (spec.find_first_of("*?.") == std::string::npos)
    LogText("    WARNING!  The filespec does not appear to contain any wildcards");
  const std::size_t count = BuildFileList(spec, recurse, folders, '\n', &work.items, SIZE_MAX);
  LogLine("    %d %s match for file spec [%s]", static_cast<int>(std::min<std::size_t>(count, INT_MAX)),
          count == 1 ? "file" : "total files", spec.c_str());
}

void ListProcesses(LoopWork& work) {
  for (const platform::ProcessEntry& p : platform::ListProcesses()) {
    work.items += p.name;
    work.items += '|';
    work.items += std::to_string(p.id);
    work.items += '\n';
  }
}

std::optional<std::string> ProcessPass(LoopWork& work, const std::string& options) {
  std::optional<std::string> line = NextItem(work);
  if (!line) return std::nullopt;
  const std::size_t bar = line->rfind('|');
  const std::string name = line->substr(0, bar);
  const std::string id = bar == std::string::npos ? std::string() : line->substr(bar + 1);
  if (ContainsNoCase(options, "ID,")) return id + "," + name;
  if (ContainsNoCase(options, "EXE,")) return name + "," + id;
  if (ContainsNoCase(options, "ID")) return id;
  return name;
}

std::optional<std::string> RegistryPass(const LoopEntry& loop, LoopWork& work, const std::string& text,
                                        const std::string& options) {
  if (!work.started) ListRegistryEntries(text, ContainsNoCase(options, "Parent"), &work.names);
  const std::size_t pass = static_cast<std::size_t>(loop.passes);
  if (pass >= work.names.size()) return std::nullopt;
  return work.names[pass].substr(0, kNameMax);
}

// Top-level windows count when visible, without parent and with a frame;
// "Child" takes every window, "Controls" walks the start window's children.
std::optional<std::string> WindowPass(int slot, int step_index, LoopWork& work, const std::string& options) {
  platform::Windows& windows = platform::windows();
  const bool controls = ContainsNoCase(options, "Controls");
  const bool every = controls || ContainsNoCase(options, "Child");
  platform::WindowId candidate = 0;
  if (!work.started) {
    const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
    platform::WindowId start = static_cast<platform::WindowId>(
        static_cast<std::uint32_t>(FirstNumber(Expanded(step.value(1), slot, step_index))));
    if (start == 0) start = windows.NextInZOrder(0);
    if (start == 0) start = windows.Foreground();
    // The start window itself is the first candidate of a top-level walk.
    candidate = controls ? windows.FirstChild(start) : start;
  } else if (work.window != 0) {
    candidate = windows.NextInZOrder(work.window);
  }
  while (candidate != 0 &&
         !(every || (windows.IsVisible(candidate) && windows.Parent(candidate) == 0 && windows.HasFrame(candidate))))
    candidate = windows.NextInZOrder(candidate);
  work.window = candidate;
  if (candidate == 0) return std::nullopt;
  if (ContainsNoCase(options, "handle")) return std::to_string(candidate);
  return windows.Title(candidate, kNameMax, kWindowTitleTimeoutMs);
}

std::optional<std::string> DatasetPass(LoopEntry& loop, LoopWork& work) {
  if (!work.started) {
    const DatasetSource source = Installed(g_dataset_source);
    std::optional<DatasetCopy> copy = source ? source() : std::nullopt;
    if (copy) work.rows = std::move(copy->rows);
    loop.end_value = static_cast<double>(work.rows.size());
  }
  const std::size_t row = static_cast<std::size_t>(loop.passes);
  if (row >= work.rows.size()) return std::nullopt;
  std::string joined;
  const auto& values = work.rows[row];
  for (std::size_t c = 0; c < values.size() && c < kDatasetColumns; ++c) {
    if (c > 0) joined += ", ";
    joined += values[c];
  }
  return joined;
}

// Waits for the message window's next message; -1 when the run is asked to stop.
int MessagePass(std::optional<std::string>* item) {
  for (;;) {
    const MessageSource source = Installed(g_message_source);
    MessagePoll poll = source ? source() : PollMessageWindow();
    if (poll.message) {
      *item = std::move(poll.message);
      return 1;
    }
    if (!poll.window_exists) return 1;
    if (StopRequested() || platform::StopKeyPressed(RunShared().stop_key.load())) return -1;
    std::this_thread::sleep_for(kMessagePollInterval);
  }
}

int LoopPass(int slot, int step_index, const std::string& text, const std::string& separator) {
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const std::string& action = step.action;
  const int start_step = step_index + 1;
  const bool pushed = !SettleLoopStack(slot, start_step);
  if (pushed) {
    LoopEntry entry;
    entry.start_step = start_step;
    entry.current = 1.0;
    entry.increment = 1.0;
    entry.end_value = NumberOr(text, 1.0);
    if (ContainsNoCase(action, "FOR")) {
      entry.current = NumberOr(Expanded(step.value(1), slot, step_index), 1.0);
      entry.increment = NumberOr(Expanded(step.value(2), slot, step_index), 1.0);
    }
    DropWork(slot, start_step);  // of an earlier loop of this step that was left by a jump
    PushLoop(slot, entry);
    DropOrphanedWork();
  }
  LoopEntry& loop = InnermostLoop(slot);
  SetStatusText(false, 2, "Loop: %s", Number(loop.current).c_str());

  LoopWork& work = WorkFor(slot, start_step);
  std::optional<std::string> item;
  try {
    if (ContainsNoCase(action, "FOR")) {
      item = ForPass(loop);
    } else if (ContainsNoCase(action, "WHILE")) {
      // The text was expanded before this loop began: its own {loop} is read again.
      item = WhilePass(loop, pushed && ContainsNoCase(step.text, "{loop") ? Expanded(step.text, slot, step_index) : text);
    } else if (ContainsNoCase(action, "TEXT")) {
      item = TextPass(loop, text, separator);
    } else if (ContainsNoCase(action, "FILE LINE")) {
      item = FileLinePass(slot, work, text);
    } else if (ContainsNoCase(action, "FILE") || ContainsNoCase(action, "FOLDER")) {
      if (!work.started) ListFiles(work, text, !ContainsNoCase(action, "FILE"), ContainsNoCase(step.options, "Recur"));
      item = NextItem(work);
    } else if (ContainsNoCase(action, "PROCESS")) {
      if (!work.started) ListProcesses(work);
      item = ProcessPass(work, step.options);
    } else if (ContainsNoCase(action, "REGISTRY")) {
      item = RegistryPass(loop, work, text, step.options);
    } else if (ContainsNoCase(action, "WINDOW")) {
      item = WindowPass(slot, step_index, work, step.options);
    } else if (ContainsNoCase(action, "DATA")) {
      item = DatasetPass(loop, work);
    } else if (ContainsNoCase(action, "MESSAGE")) {
      if (MessagePass(&item) < 0) return -1;
    }
  } catch (const std::bad_alloc&) {
    SetStepError("Out of memory for the loop's items");
    DropWork(slot, start_step);
    return 0;
  }
  work.started = true;
  if (!item) return EndLoop(slot, step_index);
  SaveOutput(slot, step_index, *item);
  return 1;
}

}  // namespace

int HandleFlowStep(int slot, int step_index) {
  if (slot < 0 || slot >= kMaxDocuments || step_index < 0 ||
      step_index >= static_cast<int>(Document(slot).steps.size()))
    return 0;
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const std::string& action = step.action;
  const std::string text = Expanded(step.text, slot, step_index);
  std::string separator;
  if (ContainsNoCase(action, "TEXT")) {
    separator = Expanded(step.value(1), slot, step_index).substr(0, kSeparatorMax);
    if (separator.empty()) separator = "\n";
  }

  if (ContainsNoCase(action, "GOTO") || ContainsNoCase(action, "to Label") || StartsWithNoCase(action, "GOSUB"))
    return JumpToLabel(slot, step_index, text, StartsWithNoCase(action, "GOSUB"));
  if (ContainsNoCase(action, "RETURN")) return ReturnFromGosub(slot);
  if (ContainsNoCase(action, "Repeats")) {
    SetRepeats(slot, text);
    return 1;
  }
  if (ContainsNoCase(action, "Exit ")) {
    // "Exit Run" stops the run; the other exit actions close the program,
    // which this runtime does after every run anyway.
    RunShared().exit_code.store(FirstNumber(text));
    return -1;
  }
  if (ContainsNoCase(action, "Break")) {
    if (Control().if_depth > 0) CloseIfLevels(slot, step_index, FindLoopEnd(slot, step_index));
    return EndLoop(slot, step_index);
  }
  if (ContainsNoCase(action, "Start")) return LoopPass(slot, step_index, text, separator);
  if (ContainsNoCase(action, "NEXT LOOP")) return NextLoop(slot, step_index);
  return 1;
}

void ReleaseLoopWork() { Work().clear(); }

void SetDatasetSource(DatasetSource source) {
  std::lock_guard<std::mutex> lock(g_sources_mutex);
  g_dataset_source = std::move(source);
}

void SetMessageSource(MessageSource source) {
  std::lock_guard<std::mutex> lock(g_sources_mutex);
  g_message_source = std::move(source);
}

}  // namespace olvex
