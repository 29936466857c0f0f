#include "windows/window_text.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "input/keyboard.h"
#include "platform/clipboard.h"
#include "windows/window_actions.h"
#include "windows/window_match.h"

namespace olvex {
namespace {

using platform::WindowId;

constexpr std::size_t kBufferChars = 0xFFC00;      // the 1 MB text buffers
constexpr std::size_t kSelectionChars = 0xFFF00;  // the most of an edit's selection
constexpr std::size_t kLongestItem = 511;         // a longer list item gives an empty piece
constexpr int kAnswerMs = 250;                    // a control that does not answer within this fails the step
constexpr int kWholeTextMs = 5000;                // the plain Get Text of a long text
constexpr int kListDeadlineMs = 10000;            // all items of a list
constexpr int kClipboardWaitMs = 500;

std::function<void(int)> g_pause;

const Step& StepAt(int slot, int step_index) { return Document(slot).steps[static_cast<std::size_t>(step_index)]; }

int Fail(const std::string& text) {
  SetStepError(text);
  return 0;
}

int NoAnswer(WindowId window) {
  return Fail(platform::windows().Exists(window) ? "The window did not answer within the time allowed" : "The window is gone");
}

int Output(int slot, int step_index, const std::string& text) {
  SaveOutput(slot, step_index, text);
  return 1;
}

std::optional<std::string> AllItems(WindowId window, bool combo, bool& late) {
  const auto read = platform::windows().ListItems(window, combo, kLongestItem, kBufferChars, kAnswerMs, kListDeadlineMs);
  if (!read) return std::nullopt;
  late = read->timed_out;
  std::string text;
  for (const std::string& item : read->items) text += item + "\r\n";
  return text;
}

// The selection of a control of no known kind: copied with Ctrl+C, the
// clipboard's former text put back.
std::string CopiedSelection() {
  platform::Clipboard& clipboard = platform::clipboard();
  const std::optional<std::string> saved = clipboard.Text();
  clipboard.Clear();
  TypeKeys("{ControlDown}c{ControlUp}", false, 0);
  SettleTypedKeys();
  std::optional<std::string> copied;
  for (int waited = 0; waited < kClipboardWaitMs && !StopRequested(); waited += 50) {
    copied = clipboard.Text();
    if (copied && !copied->empty()) break;
    WindowActionPause(50);
  }
  if (saved) clipboard.SetText(*saved);
  else clipboard.Clear();
  return copied.value_or(std::string());
}

int SelectedText(int slot, int step_index, WindowId window) {
  platform::Windows& ws = platform::windows();
  switch (GetControlKind(window)) {
    case ControlKind::Static: case ControlKind::RadioButton: case ControlKind::Checkbox: case ControlKind::Button:
    case ControlKind::ComboBox: {
      const auto text = ws.ReadText(window, kBufferChars, kAnswerMs);
      return text ? Output(slot, step_index, *text) : NoAnswer(window);
    }
    case ControlKind::Edit: case ControlKind::MultilineEdit: {
      const auto text = ws.EditSelectedText(window, kSelectionChars, kWholeTextMs);
      return text ? Output(slot, step_index, *text) : NoAnswer(window);
    }
    case ControlKind::Listbox: {
      const auto text = ws.ListSelectedText(window, kAnswerMs);
      return text ? Output(slot, step_index, *text) : NoAnswer(window);
    }
    case ControlKind::Treeview:
      return Output(slot, step_index, "");
    case ControlKind::Listview: {
      const auto read = ws.ListViewSelection(window, kAnswerMs);
      if (!read) return NoAnswer(window);
      if (LogLevel() >= 2)
        LogLine("    ListView Total Items: %ld, Selected Items: %d", read->total, static_cast<int>(read->selected.size()));
      std::string text;
      int index = 0;
      for (const std::optional<std::string>& item : read->selected) {
        if (LogLevel() >= 2) LogLine("    Retrieving selected ListView item #%d", index);
        ++index;
        if (!item) {
          if (LogLevel() >= 2) LogLine("    FAILURE during listview read item!");
          continue;
        }
        text += *item + "\r\n";
      }
      return Output(slot, step_index, text);
    }
    default:
      if (!ws.Exists(window)) return NoAnswer(window);
      return Output(slot, step_index, CopiedSelection());
  }
}

std::string BaseName(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string FolderOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

const char* KindName(ControlKind kind) {
  static constexpr const char* kNames[] = {"Unknown Window Type", "Static", "Edit", "Combo Box", "Radio Button",
                                           "Checkbox", "Button", "Listbox", "Scrollbar", "Multiline Edit",
                                           "Treeview", "Listview"};
  return kNames[static_cast<int>(kind)];
}

}  // namespace

void SetWindowActionPauseForTest(std::function<void(int ms)> pause) { g_pause = std::move(pause); }

void WindowActionPause(int ms) {
  if (g_pause) return g_pause(ms);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!StopRequested()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) break;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(20)));
  }
}

int GetTextStep(int slot, int step_index, WindowId window, bool info) {
  platform::Windows& ws = platform::windows();
  const std::string& options = StepAt(slot, step_index).options;
  if (!ContainsNoCase(options, "Control") && !info) {
    std::optional<std::string> text;
    if (ContainsNoCase(options, "interactive")) text = ws.ReadText(window, kBufferChars, kAnswerMs);
    else if (ContainsNoCase(options, "GetWindowText")) text = ws.CaptionText(window);
    else text = ws.ReadText(window, 0, kWholeTextMs);
    return text ? Output(slot, step_index, *text) : NoAnswer(window);
  }
  if (ContainsNoCase(options, "selected")) return SelectedText(slot, step_index, window);
  const ControlKind kind = GetControlKind(window);
  if (kind == ControlKind::ComboBox || kind == ControlKind::Listbox) {
    bool late = false;
    const auto text = AllItems(window, kind == ControlKind::ComboBox, late);
    if (late) return Fail("The list did not give all its items within 10 s");
    return text ? Output(slot, step_index, *text) : NoAnswer(window);
  }
  const auto text = ws.ReadText(window, kBufferChars, kAnswerMs);
  return text ? Output(slot, step_index, *text) : NoAnswer(window);
}

int WindowInfoStep(int slot, int step_index, WindowId window) {
  platform::Windows& ws = platform::windows();
  const std::string& options = StepAt(slot, step_index).options;
  static constexpr const char* kWords[] = {"Width", "Height", "Left Coor", "Right Coor", "Bottom Coor", "Top Coor",
                                           "Style", "Visible", "Minimized", "Maximized", "Checked", "Enabled",
                                           "Control ID", "Class", "Process", "Control Type"};
  int word = 0;
  while (word < 16 && !ContainsNoCase(options, kWords[word])) ++word;
  auto flag = [&](bool on) { return Output(slot, step_index, on ? "1" : "0"); };
  if (word < 6) {
    const auto rect = ws.Rect(window);
    if (!rect) return Fail("The window is gone");
    const long values[] = {rect->width, rect->height, rect->x, rect->x + rect->width, rect->y + rect->height, rect->y};
    return Output(slot, step_index, std::to_string(values[word]));
  }
  switch (word) {
    case 6: return Output(slot, step_index, std::to_string(ws.Style(window)));
    case 7: return flag(ws.IsVisible(window));
    case 8: return flag(ws.IsMinimized(window));
    case 9: return flag(ws.IsMaximized(window));
    case 10: {
      const auto state = ws.CheckState(window, kAnswerMs);
      return state ? flag(*state == 1) : NoAnswer(window);
    }
    case 11: return flag(ws.IsEnabled(window));
    case 12: return Output(slot, step_index, std::to_string(static_cast<std::int32_t>(ws.ControlId(window))));
    case 13: return Output(slot, step_index, ws.ClassName(window));
    case 14: {
      const std::string path = ws.ProcessPath(window);
      if (path.empty()) return 1;
      if (ContainsNoCase(options, "Base")) return Output(slot, step_index, BaseName(path));
      return Output(slot, step_index, ContainsNoCase(options, "Path") ? FolderOf(path) : path);
    }
    case 15: return Output(slot, step_index, KindName(GetControlKind(window)));
    default: break;
  }
  // Without an information word (the catalog's example step says "Title"): the window's title.
  const auto text = ws.ReadText(window, kBufferChars, kAnswerMs);
  return text ? Output(slot, step_index, *text) : NoAnswer(window);
}

}  // namespace olvex
