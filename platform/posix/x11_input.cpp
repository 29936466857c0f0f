// Keyboard and mouse of an X11 desktop, synthesised through XTEST. Virtual-key
// codes name keysyms (the letters, digits and punctuation of the US layout's
// unshifted keys, the named keys); each goes to the key code that carries its
// keysym on the server's layout. A character that the layout lacks is typed
// on a spare key code (one without keysyms) mapped to it: each such character
// keeps its own code while the runtime runs, since X programs read a changed
// key map only when they come to their next key, and every change makes every
// program (the window manager too) read the whole map again. The codes are
// given back all at once (after the program in front has read its keys) when
// they run out, and when the runtime ends.
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/x11_desktop.h"
#include "platform/posix/x11_text.h"

namespace platform::x11 {
namespace {

constexpr int kReadWaitMs = 2000;      // for a program to answer the ping after its keys
constexpr int kUnpingedReadMs = 200;   // a program that answers no ping is given this long

struct VkSym {
  int vk;
  KeySym sym;
};
// The named keys and the punctuation keys (VK_OEM_*) of the US layout.
constexpr VkSym kKeys[] = {
    {0x08, XK_BackSpace}, {0x09, XK_Tab}, {0x0C, XK_Clear}, {0x0D, XK_Return}, {0x10, XK_Shift_L},
    {0x11, XK_Control_L}, {0x12, XK_Alt_L}, {0x13, XK_Pause}, {0x14, XK_Caps_Lock}, {0x1B, XK_Escape},
    {0x20, XK_space}, {0x21, XK_Prior}, {0x22, XK_Next}, {0x23, XK_End}, {0x24, XK_Home}, {0x25, XK_Left},
    {0x26, XK_Up}, {0x27, XK_Right}, {0x28, XK_Down}, {0x29, XK_Select}, {0x2A, XK_Print}, {0x2B, XK_Execute},
    {0x2C, XK_Print}, {0x2D, XK_Insert}, {0x2E, XK_Delete}, {0x2F, XK_Help}, {0x5B, XK_Super_L}, {0x5C, XK_Super_R},
    {0x5D, XK_Menu}, {0x5F, 0x1008FF2F /* XF86Sleep */}, {0x6A, XK_KP_Multiply}, {0x6B, XK_KP_Add},
    {0x6C, XK_KP_Separator}, {0x6D, XK_KP_Subtract}, {0x6E, XK_KP_Decimal}, {0x6F, XK_KP_Divide},
    {0x90, XK_Num_Lock}, {0x91, XK_Scroll_Lock}, {0xA0, XK_Shift_L}, {0xA1, XK_Shift_R}, {0xA2, XK_Control_L},
    {0xA3, XK_Control_R}, {0xA4, XK_Alt_L}, {0xA5, XK_Alt_R}, {0xA6, 0x1008FF26 /* XF86Back */},
    {0xA7, 0x1008FF27 /* XF86Forward */}, {0xA8, 0x1008FF29 /* XF86Refresh */}, {0xA9, 0x1008FF28 /* XF86Stop */},
    {0xAA, 0x1008FF1B /* XF86Search */}, {0xAB, 0x1008FF30 /* XF86Favorites */}, {0xAC, 0x1008FF18 /* XF86HomePage */},
    {0xAD, 0x1008FF12 /* XF86AudioMute */}, {0xAE, 0x1008FF11 /* XF86AudioLowerVolume */},
    {0xAF, 0x1008FF13 /* XF86AudioRaiseVolume */}, {0xB0, 0x1008FF17 /* XF86AudioNext */},
    {0xB1, 0x1008FF16 /* XF86AudioPrev */}, {0xB2, 0x1008FF15 /* XF86AudioStop */},
    {0xB3, 0x1008FF14 /* XF86AudioPlay */}, {0xB4, 0x1008FF19 /* XF86Mail */}, {0xB5, 0x1008FF32 /* XF86AudioMedia */},
    {0xB6, 0x1008FF33 /* XF86MyComputer */}, {0xB7, 0x1008FF1D /* XF86Calculator */}, {0xBA, XK_semicolon},
    {0xBB, XK_equal}, {0xBC, XK_comma}, {0xBD, XK_minus}, {0xBE, XK_period}, {0xBF, XK_slash}, {0xC0, XK_grave},
    {0xDB, XK_bracketleft}, {0xDC, XK_backslash}, {0xDD, XK_bracketright}, {0xDE, XK_apostrophe}, {0xE2, XK_less},
};

KeySym SymOfVk(int vk) {
  if (vk >= 'A' && vk <= 'Z') return XK_a + static_cast<KeySym>(vk - 'A');
  if (vk >= '0' && vk <= '9') return XK_0 + static_cast<KeySym>(vk - '0');
  if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + static_cast<KeySym>(vk - 0x60);
  if (vk >= 0x70 && vk <= 0x87) return XK_F1 + static_cast<KeySym>(vk - 0x70);
  for (const VkSym& k : kKeys)
    if (k.vk == vk) return k.sym;
  return NoSymbol;
}

int VkOfSym(KeySym sym) {
  if (sym >= XK_a && sym <= XK_z) return 'A' + static_cast<int>(sym - XK_a);
  if (sym >= XK_0 && sym <= XK_9) return '0' + static_cast<int>(sym - XK_0);
  for (const VkSym& k : kKeys)
    if (k.sym == sym) return k.vk;
  return 0;
}

// The keysym that types a character of the code page.
KeySym SymOfChar(unsigned char c) {
  const unsigned u = CodePageToUnicode(c);
  if ((u >= 0x20 && u <= 0x7E) || (u >= 0xA0 && u <= 0xFF)) return u;
  if (u == '\t') return XK_Tab;
  if (u == '\n' || u == '\r') return XK_Return;
  if (u < 0x20 || u == 0x7F) return NoSymbol;
  return 0x1000000 + u;
}

// The presses since each key or button was last asked about. The key map
// shows only what is held when it is read, so a press and release between
// two polls leave no trace in it: the server's RECORD extension reports every
// press to a connection of our own, read on a thread of its own. Started on
// first use, it lives as long as the process.
class PressRecorder {
 public:
  // The recorder, or nullptr where the server has no RECORD extension.
  static PressRecorder* Get() {
    static PressRecorder* const recorder = new PressRecorder;
    static const bool recording = recorder->Start();
    return recording ? recorder : nullptr;
  }
  bool TakeKey(KeyCode code) { return keys_[code].exchange(false); }
  bool TakeButton(unsigned button) { return button < buttons_.size() && buttons_[button].exchange(false); }

 private:
  bool Start() {
    Display* control = Dpy();
    int major = 0, minor = 0;
    if (!control || !XRecordQueryVersion(control, &major, &minor)) return false;
    Display* data = XOpenDisplay(XDisplayString(control));
    XRecordRange* range = XRecordAllocRange();
    XRecordContext context = 0;
    if (data && range) {
      range->device_events.first = KeyPress;
      range->device_events.last = ButtonPress;
      XRecordClientSpec clients = XRecordAllClients;
      context = XRecordCreateContext(control, 0, &clients, 1, &range, 1);
      XSync(control, False);
    }
    if (range) XFree(range);
    if (!context) {
      if (data) XCloseDisplay(data);
      return false;
    }
    std::thread([this, data, context] {
      if (!XRecordEnableContext(data, context, Receive, reinterpret_cast<XPointer>(this))) Started(false);
    }).detach();
    std::unique_lock<std::mutex> lock(mutex_);
    started_.wait_for(lock, std::chrono::seconds(2), [this] { return state_ != 0; });
    return state_ == 1;
  }
  void Started(bool ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = ok ? 1 : -1;
    started_.notify_all();
  }
  static void Receive(XPointer self, XRecordInterceptData* data) {
    PressRecorder& r = *reinterpret_cast<PressRecorder*>(self);
    if (data->category == XRecordStartOfData) r.Started(true);
    if (data->category == XRecordFromServer && data->data_len > 0) {
      const int type = data->data[0] & 0x7F, detail = data->data[1];
      if (type == KeyPress) r.keys_[static_cast<std::size_t>(detail)] = true;
      if (type == ButtonPress && static_cast<std::size_t>(detail) < r.buttons_.size()) r.buttons_[static_cast<std::size_t>(detail)] = true;
    }
    XRecordFreeData(data);
  }

  std::array<std::atomic<bool>, 256> keys_{};
  std::array<std::atomic<bool>, 10> buttons_{};  // by X button number
  std::mutex mutex_;
  std::condition_variable started_;
  int state_ = 0;  // 1 recording, -1 failed
};

class X11Input : public Input {
 public:
  // The lent key codes go back at the program's end, once the program in front has read its keys.
  ~X11Input() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!lent_.empty()) GiveBackSpares();
  }

  bool IsKeyDown(int virtual_key) override { return Query(virtual_key, nullptr).down; }
  KeyState QueryKey(int virtual_key) override { return Query(virtual_key, PressRecorder::Get()); }

  // The key map (or the pointer's buttons) and, with a recorder, the marks.
  KeyState Query(int virtual_key, PressRecorder* recorder) {
    Display* d = Dpy();
    KeyState state;
    if (virtual_key == key::kLeftButton || virtual_key == key::kRightButton || virtual_key == key::kMiddleButton ||
        virtual_key == 0x05 || virtual_key == 0x06) {
      const unsigned button = virtual_key == key::kLeftButton    ? 1
                              : virtual_key == key::kRightButton ? 3
                              : virtual_key == key::kMiddleButton ? 2
                              : virtual_key == 0x05               ? 8
                                                                  : 9;
      const unsigned mask = button <= 3 ? Button1Mask << (button - 1) : 0;
      state.down = mask != 0 && (PointerMask() & mask) != 0;
      state.pressed = recorder && recorder->TakeButton(button);
      return state;
    }
    char keys[32] = {};
    XQueryKeymap(d, keys);
    auto check = [&](KeySym sym) {
      const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(d, sym);
      if (code == 0) return;
      state.down = state.down || (keys[code / 8] & (1 << (code % 8))) != 0;
      if (recorder && recorder->TakeKey(code)) state.pressed = true;
    };
    if (virtual_key == key::kShift || virtual_key == key::kControl || virtual_key == key::kAlt) {
      const bool shift = virtual_key == key::kShift, control = virtual_key == key::kControl;
      check(shift ? XK_Shift_L : control ? XK_Control_L : XK_Alt_L);
      check(shift ? XK_Shift_R : control ? XK_Control_R : XK_Alt_R);
    } else {
      check(SymOfVk(virtual_key));
    }
    return state;
  }

  bool IsKeyToggled(int virtual_key) override {
    const char* name = virtual_key == key::kCapsLock   ? "Caps Lock"
                       : virtual_key == key::kNumLock  ? "Num Lock"
                       : virtual_key == key::kScrollLock ? "Scroll Lock"
                                                          : nullptr;
    Bool on = False;
    return name && XkbGetNamedIndicator(Dpy(), XInternAtom(Dpy(), name, False), nullptr, &on, nullptr, nullptr) && on;
  }

  std::optional<Point> CursorPosition() override {
    Window root = 0, child = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    if (!XQueryPointer(Dpy(), DefaultRootWindow(Dpy()), &root, &child, &x, &y, &wx, &wy, &mask)) return std::nullopt;
    return Point{x, y};
  }

  void SendKey(const KeyEvent& event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Display* d = Dpy();
    if (event.unicode) {
      TypeSym(SymOfChar(static_cast<unsigned char>(event.code)), event.up);
    } else if (event.code == 0x05 || event.code == 0x06) {  // the X buttons of the mouse
      XTestFakeButtonEvent(d, event.code == 0x05 ? 8 : 9, event.up ? False : True, CurrentTime);
    } else if (const KeySym sym = SymOfVk(event.code); sym != NoSymbol) {
      const Found found = Find(sym);
      // A key whose keysym needs Shift on this layout (the keypad's digits)
      // goes on a spare code, where it needs none.
      const KeyCode code = found.code && found.level == 0 ? found.code : Spare(sym);
      if (code) XTestFakeKeyEvent(d, code, event.up ? False : True, CurrentTime);
    }
    XFlush(d);
  }

  bool WatchKeys() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lent_.empty()) LoadMap();  // the layout may have changed
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(Dpy(), &focus, &revert);
    watched_ = focus == None || focus == PointerRoot ? 0 : ClientOf(focus);
    token_ = 0;
    return watched_ != 0;
  }

  // The mark is a ping after the keys: answered, it says that the program has read them.
  void MarkKeys() override {
    std::lock_guard<std::mutex> lock(mutex_);
    token_ = watched_ ? SendPing(watched_) : 0;
  }

  std::optional<bool> KeysTaken() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (token_ == 0) return std::nullopt;
    return PingAnswered(token_);
  }

  void EndKeysWatch() override {
    std::lock_guard<std::mutex> lock(mutex_);
    watched_ = 0;
    token_ = 0;
  }

  int KeyOfChar(unsigned char c) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (c == '\b') return 0x08;
    if (c == '\t') return 0x09;
    if (c == 0x1B) return 0x1B;
    if (c < 0x20 || c > 0x7E) return -1;
    if (map_.empty()) LoadMap();
    const Found found = Find(c);
    if (!found.code) return -1;
    const int vk = VkOfSym(SymAt(found.code, 0));
    // The key must be the one its virtual key names on this layout.
    if (vk == 0 || Find(SymOfVk(vk)).code != found.code) return -1;
    return vk | (found.level == 1 ? 0x100 : 0);
  }

  int CharOfKey(int virtual_key) override {
    const KeySym sym = SymOfVk(virtual_key);
    if (sym >= XK_a && sym <= XK_z) return static_cast<int>(sym - XK_a) + 'A';
    return sym >= 0x20 && sym <= 0x7E ? static_cast<int>(sym) : 0;
  }

  void MoveMouse(Point to) override { SetCursorPosition(to); }
  void SetCursorPosition(Point to) override {
    XTestFakeMotionEvent(Dpy(), -1, static_cast<int>(to.x), static_cast<int>(to.y), CurrentTime);
    XSync(Dpy(), False);
  }
  void MouseButton(int button, bool up) override {
    const unsigned x_button = button == key::kLeftButton    ? 1
                              : button == key::kMiddleButton ? 2
                              : button == key::kRightButton  ? 3
                                                             : 0;
    if (x_button == 0) return;
    XTestFakeButtonEvent(Dpy(), x_button, up ? False : True, CurrentTime);
    XSync(Dpy(), False);  // the next step finds the click done
  }
  // A notch is a click of button 4 (away from the user) or 5 (toward).
  void MouseWheel(int delta) override {
    const int notches = std::max(1, std::abs(delta) / 120);
    for (int i = 0; i < notches; ++i) {
      XTestFakeButtonEvent(Dpy(), delta > 0 ? 4 : 5, True, CurrentTime);
      XTestFakeButtonEvent(Dpy(), delta > 0 ? 4 : 5, False, CurrentTime);
    }
    XSync(Dpy(), False);
  }
  // The toolkits' usual double-click time (GTK 400 ms; xterm takes 250).
  int DoubleClickTimeMs() override { return 400; }
  bool HasAltCodes() override { return false; }

 private:
  struct Found {
    KeyCode code = 0;
    int level = 0;  // 1: with Shift
  };

  void LoadMap() {
    Display* d = Dpy();
    XDisplayKeycodes(d, &min_code_, &max_code_);
    int per = 0;
    KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(min_code_), max_code_ - min_code_ + 1, &per);
    per_ = per;
    map_.assign(syms, syms + static_cast<std::size_t>(per) * static_cast<std::size_t>(max_code_ - min_code_ + 1));
    if (syms) XFree(syms);
    spares_.clear();
    for (int code = max_code_; code >= min_code_; --code) {
      bool empty = true;
      for (int level = 0; level < per_ && empty; ++level) empty = SymAt(static_cast<KeyCode>(code), level) == NoSymbol;
      if (empty) spares_.push_back(static_cast<KeyCode>(code));
    }
    // A layout without empty codes lends its last ones (given back afterwards).
    for (int code = max_code_; spares_.size() < 8 && code > max_code_ - 16; --code)
      if (std::find(spares_.begin(), spares_.end(), static_cast<KeyCode>(code)) == spares_.end())
        spares_.push_back(static_cast<KeyCode>(code));
  }

  KeySym SymAt(KeyCode code, int level) const {
    const std::size_t at = static_cast<std::size_t>(code - min_code_) * static_cast<std::size_t>(per_) +
                           static_cast<std::size_t>(level);
    return code >= min_code_ && code <= max_code_ && level < per_ && at < map_.size() ? map_[at] : NoSymbol;
  }

  // The code that carries `sym` plainly (level 0) or with Shift (level 1).
  Found Find(KeySym sym) {
    if (map_.empty()) LoadMap();
    for (int level = 0; level < 2; ++level)
      for (int code = min_code_; code <= max_code_; ++code)
        if (SymAt(static_cast<KeyCode>(code), level) == sym) return Found{static_cast<KeyCode>(code), level};
    return {};
  }

  // A character typed by its own code: Shift around it where it needs it and
  // nobody holds it (the key's release lets go of the Shift its press added).
  void TypeSym(KeySym sym, bool up) {
    if (sym == NoSymbol) return;
    Display* d = Dpy();
    Found found = Find(sym);
    if (!found.code) found = Found{Spare(sym), 0};
    const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L);
    if (!found.code || !shift) return;
    if (!up && found.level == 1 && !IsKeyDown(key::kShift)) {
      XTestFakeKeyEvent(d, shift, True, CurrentTime);
      shifted_ = found.code;
    }
    XTestFakeKeyEvent(d, found.code, up ? False : True, CurrentTime);
    if (up && shifted_ == found.code) {
      XTestFakeKeyEvent(d, shift, False, CurrentTime);
      shifted_ = 0;
    }
  }

  // A spare code that types `sym` (with or without Shift). When every spare
  // code is lent, the program first reads its keys and they all come back.
  KeyCode Spare(KeySym sym) {
    for (const Lent& l : lent_)
      if (l.sym == sym) return l.code;
    if (spares_.empty()) return 0;
    if (lent_.size() == spares_.size()) GiveBackSpares();
    const KeyCode code = spares_[lent_.size()];
    KeySym both[2] = {sym, sym};
    XChangeKeyboardMapping(Dpy(), code, 2, both, 1);
    XSync(Dpy(), False);
    lent_.push_back(Lent{code, sym});
    return code;
  }

  // Waits (bounded) until the program in front has read the keys sent so far,
  // then puts the lent codes back as they were, in one change.
  void GiveBackSpares() {
    Display* d = Dpy();
    XSync(d, False);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    const Window client = focus == None || focus == PointerRoot ? 0 : ClientOf(focus);
    const unsigned long token = client ? SendPing(client) : 0;
    if (token != 0) WaitUntil([&] { return PingAnswered(token); }, kReadWaitMs);
    else WaitUntil([] { return false; }, kUnpingedReadMs);
    KeyCode low = lent_.front().code, high = low;
    for (const Lent& l : lent_) {
      low = std::min(low, l.code);
      high = std::max(high, l.code);
    }
    const auto first = map_.begin() + static_cast<long>(low - min_code_) * per_;
    std::vector<KeySym> original(first, first + static_cast<long>(high - low + 1) * per_);
    XChangeKeyboardMapping(d, low, per_, original.data(), high - low + 1);
    lent_.clear();
    XSync(d, False);
    // Every client hears of a changed map; this connection reads nothing else of it.
    XEvent e;
    while (XCheckTypedEvent(d, MappingNotify, &e)) {
    }
  }

  static unsigned PointerMask() {
    Window root = 0, child = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(Dpy(), DefaultRootWindow(Dpy()), &root, &child, &x, &y, &wx, &wy, &mask);
    return mask;
  }

  struct Lent {
    KeyCode code;
    KeySym sym;
  };
  std::mutex mutex_;
  int min_code_ = 8, max_code_ = 255, per_ = 0;
  std::vector<KeySym> map_;
  std::vector<KeyCode> spares_;
  std::vector<Lent> lent_;
  Window watched_ = 0;
  unsigned long token_ = 0;
  KeyCode shifted_ = 0;  // the key whose press added Shift
};

}  // namespace

Input& DesktopInput() {
  static X11Input instance;
  return instance;
}

}  // namespace platform::x11
