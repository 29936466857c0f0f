#include "input/keyboard.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/document.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/text.h"
#include "input/key_names.h"
#include "platform/clipboard.h"
#include "platform/input.h"
#include "platform/windows.h"
#include "vars/expand.h"
#include "windows/window_match.h"

namespace olvex {
namespace {

using KeyEvent = platform::Input::KeyEvent;

constexpr int kControl = 0x11, kShift = 0x10, kAlt = 0x12;
constexpr int kAltCodeShift = 4;
constexpr int kHeldCtrl = 1, kHeldShift = 2, kHeldAlt = 4;

std::mutex g_pause_mutex;
std::function<void(int)> g_pause;

void Pause(int ms) {
  if (ms <= 0) return;
  std::function<void(int)> hook;
  {
    std::lock_guard<std::mutex> lock(g_pause_mutex);
    hook = g_pause;
  }
  if (hook) return hook(ms);
  // In slices, so that a stop request ends a long pause.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (auto now = std::chrono::steady_clock::now(); now < end && !StopRequested(); now = std::chrono::steady_clock::now())
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(20)));
}

void Send(int code, bool up, bool send_input = false) {
  SendKeyEvent(KeyEvent{code, up, IsExtendedKey(code), send_input, false});
}

// The keys sent by this thread that the program may not have taken in yet.
struct KeyJournal {
  int depth = 0;         // open batches
  bool watching = false;  // the input service watches the program in front
  bool marked = false;    // a mark follows the keys: they can be waited for
  long long events = 0;   // key events since the watch began
};
thread_local KeyJournal t_journal;

constexpr long long kSettleBaseMs = 5000, kSettlePerEventMs = 25, kSettleMostMs = 120000;
constexpr int kSettlePollMs = 10;

void EndWatch() {
  if (t_journal.watching) platform::input().EndKeysWatch();
  t_journal.watching = t_journal.marked = false;
  t_journal.events = 0;
}

// Characters the keyboard cannot produce that may be typed as Alt plus their
// ANSI code on the numeric keypad.
bool InAltCodeSet(unsigned char c) {
  if ((c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) || (c >= 123 && c <= 126)) return true;
  if (c < 128) return false;
  for (unsigned char excluded : {129, 141, 143, 144, 157, 160, 168, 173})
    if (c == excluded) return false;
  return true;
}

// The integer of a pause: the first run of digits up to the closing brace,
// negative (and so no pause) when a '-' stands right before it.
int PauseLength(std::string_view text) { return std::max(0, FirstNumber(text.substr(0, text.find('}')))); }

void RewriteAliases(std::string& text, std::size_t from) {
  for (const KeyAlias& alias : KeyAliasTable()) {
    for (std::size_t at = FindNoCase(text, alias.alias, from); at != std::string::npos;
         at = FindNoCase(text, alias.alias, at + alias.canonical.size()))
      text.replace(at, alias.alias.size(), alias.canonical);
  }
}

// Rewriting the aliases once from the first "{" is the same as doing it at
// every "{": a canonical name contains no alias, so a second pass finds none.
struct TypingState {
  bool aliases_done = false;
};

KeyAt KeyAtPosition(std::string& text, std::size_t pos, TypingState& state) {
  if (text[pos] == '{' && pos + 1 < text.size() && !state.aliases_done) {
    RewriteAliases(text, pos);
    state.aliases_done = true;
  }
  const std::string_view rest = std::string_view(text).substr(pos);
  if (StartsWithNoCase(rest, "{Delay=")) {
    Pause(PauseLength(rest.substr(7)));
    const std::size_t close = rest.find('}');
    return KeyAt{0, 0, 2, close == std::string_view::npos ? rest.size() : close + 1};
  }
  if (rest[0] == '{') {
    const KeyNameMatch name = MatchKeyName(rest);
    if (name.code != 0) return KeyAt{name.code, 0, static_cast<int>(name.form), name.length};
  }
  const unsigned char c = static_cast<unsigned char>(rest[0]);
  // A line break types Enter, whatever key the layout reports for the
  // character (Wine's answer for a line feed types a line feed, not Enter).
  if (c == '\n' || c == '\r') return KeyAt{0x0D, 0, 2, 1};
  if (c >= 1 && c <= 127) {
    const int key = platform::input().KeyOfChar(c);
    const int vk = key & 0xFF, shift = (key >> 8) & 0xFF;
    // A key that needs Alt (AltGr on some layouts) is not typed by its key:
    // only Shift is acted upon, so such characters take the Alt-code road.
    if (key != -1 && vk != 0xFF && shift != 0xFF && (shift & 4) == 0) return KeyAt{vk, shift, 2, 1};
  }
  if (InAltCodeSet(c)) return KeyAt{c, kAltCodeShift, 2, 1};
  return KeyAt{0, 0, 2, 1};
}

void TypeAltCode(unsigned char c) {
  Send(kAlt, false);
  const int digits[4] = {c / 1000, c / 100 % 10, c / 10 % 10, c % 10};
  for (int d : digits) {
    Send(0x60 + d, false);
    Send(0x60 + d, true);
  }
  Send(kAlt, true);
}

std::string Expanded(std::string_view text, int slot, int step_index, int flags = 0) {
  return ExpandText(text, slot, step_index, flags);
}

int TypeStep(int slot, int step_index, const Step& step) {
  const int delay = std::max(0, FirstNumber(Expanded(step.value(1), slot, step_index)));
  const bool plain = ContainsNoCase(step.options, "No Variable Expansion");
  std::string text = Expanded(step.text, slot, step_index, plain ? kExpandNone : 0);
  ReplaceAll(text, "\r\n", "\n", false);
  TypeKeys(std::move(text), ContainsNoCase(step.options, "SendKey"), delay);
  return 1;
}

}  // namespace

KeyBatch::KeyBatch() {
  if (t_journal.depth > 0) {
    ++t_journal.depth;
    return;
  }
  // One watch at a time: the keys of the batch before are waited for first.
  SettleTypedKeys();
  t_journal.depth = 1;
  t_journal.watching = platform::input().WatchKeys();
}

KeyBatch::~KeyBatch() {
  if (--t_journal.depth > 0) return;
  if (t_journal.watching && t_journal.events > 0) {
    platform::input().MarkKeys();
    t_journal.marked = true;
  } else {
    EndWatch();
  }
}

void SendKeyEvent(const KeyEvent& event) {
  ++t_journal.events;
  platform::input().SendKey(event);
}

bool SettleTypedKeys() {
  if (t_journal.depth > 0) return true;  // inside a batch its own keys are not waited for
  if (!t_journal.marked) {
    EndWatch();
    return true;
  }
  const long long bound = std::min(kSettleBaseMs + kSettlePerEventMs * t_journal.events, kSettleMostMs);
  const auto start = std::chrono::steady_clock::now();
  auto waited = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  };
  std::optional<bool> taken;
  while (!(taken = platform::input().KeysTaken()).value_or(true) && waited() < bound && !StopRequested())
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettlePollMs));
  EndWatch();
  if (taken.value_or(true)) return true;
  if (!StopRequested())
    LogLine("    The window has not taken in the typed keys after %lld ms", static_cast<long long>(waited()));
  return false;
}

bool IsExtendedKey(int code) {
  return (code >= 0x21 && code <= 0x2E) || code == 0x11 || code == 0x5B || code == 0x5C || code == 0x5D;
}

void PasteFromClipboard() {
  const KeyBatch batch;
  Send(kControl, false);
  Send('V', false);
  Send('V', true);
  Send(kControl, true);
  Pause(500);
}

namespace {

int ClipboardStep(int slot, int step_index, const Step& step) {
  platform::Clipboard& clipboard = platform::clipboard();
  const std::optional<std::string> saved = clipboard.Text();
  if (!clipboard.SetText(Expanded(step.text, slot, step_index))) {
    SetStepError("Unable to put the text on the clipboard");
    return 0;
  }
  PasteFromClipboard();
  if (saved) clipboard.SetText(*saved);
  return 1;
}

int DirectEntryStep(int slot, int step_index, const Step& step) {
  const platform::WindowId window = ResolveStepWindow(slot, step_index, step.data());
  if (window == 0) return 0;
  return EnterTextIntoWindow(window, Expanded(step.text, slot, step_index), Expanded(step.data(), slot, step_index));
}

}  // namespace

int EnterTextIntoWindow(platform::WindowId window, const std::string& text, const std::string& window_text) {
  platform::Windows& ws = platform::windows();
  const std::string cls = ws.ClassName(window);
  const bool combo = ContainsNoCase(cls, "COMBOBOX");
  bool delivered = true;
  if (combo || ContainsNoCase(cls, "LISTBOX")) {
    for (std::size_t from = 0;;) {
      const std::size_t semi = text.find(';', from);
      delivered = ws.AddListItem(window, text.substr(from, semi == std::string::npos ? std::string::npos : semi - from),
                                 combo) && delivered;
      if (semi == std::string::npos) break;
      from = semi + 1;
    }
  } else {
    delivered = ws.SetText(window, text);
  }
  if (!delivered && !ws.Exists(window)) {
    SetStepError("Unable to find window '" + window_text + "'");
    return 0;
  }
  if (!delivered) {
    SetStepError("The window did not take the text");
    return 0;
  }
  return 1;
}

KeyAt KeyNameToVirtualKey(std::string& text, std::size_t pos) {
  TypingState state;
  return KeyAtPosition(text, pos, state);
}

void TypeKeys(std::string text, bool send_input, int delay_ms) {
  const KeyBatch batch;
  std::atomic<int>& held = RunShared().held_keys;
  TypingState state;
  for (std::size_t pos = 0; pos < text.size() && !StopRequested();) {
    KeyAt key = KeyAtPosition(text, pos, state);
    if (held.load() != 0 && key.shift != kAltCodeShift) key.shift = 0;
    const unsigned char character = static_cast<unsigned char>(text[pos]);
    if (key.code != 0 && send_input) {
      if (key.shift == kAltCodeShift) {
        // No key on this layout: the character itself reaches the window.
        SendKeyEvent(KeyEvent{key.code, false, false, true, true});
        SendKeyEvent(KeyEvent{key.code, true, false, true, true});
      } else {
        if (key.shift & 1) Send(kShift, false);
        Send(key.code, false, true);
        Send(key.code, true, true);
        if (key.shift & 1) Send(kShift, true);
      }
    } else if (key.code != 0 && key.shift == kAltCodeShift && !platform::input().HasAltCodes()) {
      SendKeyEvent(KeyEvent{key.code, false, false, false, true});
      SendKeyEvent(KeyEvent{key.code, true, false, false, true});
    } else if (key.code != 0 && key.shift == kAltCodeShift) {
      TypeAltCode(static_cast<unsigned char>(key.code));
    } else if (key.code != 0) {
      if (key.shift & 1) Send(kShift, false);
      if (key.form != 1) Send(key.code, false);
      if (key.form != 0) Send(key.code, true);
      if (key.shift & 1) Send(kShift, true);
      const int flag = key.code == kControl ? kHeldCtrl : key.code == kShift ? kHeldShift : key.code == kAlt ? kHeldAlt : 0;
      if (flag != 0 && key.form == 0) held.fetch_or(flag);
      if (flag != 0 && key.form == 1) held.fetch_and(~flag);
    } else if (send_input && key.consumed == 1 && character >= 32 && character != 127) {
      // A printable character without a key and without an Alt code.
      SendKeyEvent(KeyEvent{character, false, false, true, true});
      SendKeyEvent(KeyEvent{character, true, false, true, true});
    }
    pos += key.consumed;
    if (key.code == kControl && key.shift != kAltCodeShift) Pause(10);
    else if (delay_ms > 0) Pause(delay_ms);
  }
}

char VirtualKeyToChar(int virtual_key) {
  if (virtual_key == 0) return 0;
  platform::Input& in = platform::input();
  const bool shift = in.IsKeyDown(kShift);
  if (virtual_key >= 'A' && virtual_key <= 'Z') {
    const bool caps = in.IsKeyToggled(platform::key::kCapsLock);
    return static_cast<char>(shift == caps ? virtual_key - 'A' + 'a' : virtual_key);
  }
  static constexpr std::string_view kPlain = "`1234567890-=[]\\;',./";
  static constexpr std::string_view kShifted = "~!@#$%^&*()_+{}|:\"<>?";
  const char plain = static_cast<char>(in.CharOfKey(virtual_key));
  if (const std::size_t at = kPlain.find(plain); plain != 0 && at != std::string_view::npos && shift) return kShifted[at];
  if ((virtual_key >= 'A' && virtual_key <= 'Z') || (virtual_key >= '0' && virtual_key <= '9'))
    return static_cast<char>(virtual_key);
  return plain;
}

void ReleaseHeldModifiers() {
  const int held = RunShared().held_keys.exchange(0);
  if (held == 0) return;
  LogText("WARNING!  Key was pressed with the {-Down} TYPE command, but not released with {-Up}");
  if (held & kHeldCtrl) Send(kControl, true);
  if (held & kHeldShift) Send(kShift, true);
  if (held & kHeldAlt) Send(kAlt, true);
}

void SetKeyboardPauseForTest(std::function<void(int)> pause) {
  std::lock_guard<std::mutex> lock(g_pause_mutex);
  g_pause = std::move(pause);
}

int HandleKeyboardStep(int slot, int step_index) {
  if (FailWithoutDesktop()) return 0;
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const std::string& action = step.action;
  if (ContainsNoCase(action, "Block Input") || ContainsNoCase(action, "Unblock Input")) {
    if (!platform::input().BlockUserInput(!ContainsNoCase(action, "Unblock"))) {
      SetStepError("Unable to load USER32.DLL");
      return 0;
    }
    return 1;
  }
  if (ContainsNoCase(action, "Direct Window Entry")) {
    SettleTypedKeys();
    return DirectEntryStep(slot, step_index, step);
  }
  if (ContainsNoCase(action, "Text via Clipboard")) return ClipboardStep(slot, step_index, step);
  return TypeStep(slot, step_index, step);
}

}  // namespace olvex
