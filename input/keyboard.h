#pragma once
// The Keyboard category: Type, Text via Clipboard, Direct Window Entry, Block
// and Unblock Input; and the key language that Type speaks.
#include <cstddef>
#include <functional>
#include <string>

#include "platform/input.h"
#include "platform/windows.h"

namespace olvex {

int HandleKeyboardStep(int slot, int step_index);

// Direct Window Entry's delivery: the text replaces a window's text, or in a
// list box or combo box each ";"-separated piece becomes an item. 1, or 0 with
// the step error set (`window_text` names the window in it).
int EnterTextIntoWindow(platform::WindowId window, const std::string& text, const std::string& window_text);

// The key at `pos` of `text`. A "{" first rewrites the aliases in the rest of
// the text in place ("{Ctrl}" becomes "{ControlDown}"); "{Delay=n}" pauses
// and gives no key.
struct KeyAt {
  int code = 0;       // virtual-key code (an ANSI character for Alt-code typing); 0: no key
  int shift = 0;      // 0 none, 1 Shift (2 Ctrl, not acted upon), 4 type as Alt + keypad code
  int form = 2;       // 0 press only, 1 release only, 2 press and release
  std::size_t consumed = 1;
};
KeyAt KeyNameToVirtualKey(std::string& text, std::size_t pos);

// Types a whole text: with keybd_event, or with SendInput (`send_input`),
// pausing `delay_ms` after each key. Ends early when the run is asked to stop.
void TypeKeys(std::string text, bool send_input, int delay_ms);

// A program takes keys in later than they are sent, and a message that a
// step sends or posts to it overtakes the keys still queued. Every run of key
// events is therefore a KeyBatch: it first waits until the keys of the batch
// before it are taken in, watches the program in front while its keys are
// sent, and when it ends puts a mark behind them. Batches nest; only the
// outermost counts. The journal belongs to the thread that sends the keys.
class KeyBatch {
 public:
  KeyBatch();
  ~KeyBatch();
  KeyBatch(const KeyBatch&) = delete;
  KeyBatch& operator=(const KeyBatch&) = delete;
};
// One key event, counted in the journal.
void SendKeyEvent(const platform::Input::KeyEvent& event);
// Waits until the program has taken in the keys sent so far: at most 5 s and
// 25 ms a key event (2 minutes at most), and never past a stop request. False
// when they were not taken in by then; true also when that cannot be known.
bool SettleTypedKeys();

// True for the keys that are sent with the extended-key flag.
bool IsExtendedKey(int code);

// Ctrl+V as four key events, then 500 ms for the window to take the paste.
void PasteFromClipboard();

// The character a key the user pressed gives (Shift and Caps Lock as they are now).
char VirtualKeyToChar(int virtual_key);

// At the end of a run: lets go of the modifiers a "{...Down}" left pressed,
// with a warning in the log.
void ReleaseHeldModifiers();

// Tests: pauses are handed to this instead of being slept (an empty function
// puts the sleeping back).
void SetKeyboardPauseForTest(std::function<void(int ms)> pause);

}  // namespace olvex
