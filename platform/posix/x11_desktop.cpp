#include "platform/posix/x11_desktop.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/posix/x11_display.h"
#include "platform/stop_key.h"

namespace platform::x11 {
namespace {

// A request about a window that is gone fails with BadWindow: the caller sees
// the failure in the request's result, and the program goes on.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

}  // namespace

Display* Dpy() {
  static Display* const display = [] {
    Display* d = Connection();
    if (d) XSetErrorHandler(IgnoreError);
    return d;
  }();
  return display;
}

const Atoms& atoms() {
  static const Atoms a = [] {
    const char* names[] = {"WM_STATE", "WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_CHANGE_STATE", "WM_TRANSIENT_FOR",
                           "UTF8_STRING", "_NET_WM_NAME", "_NET_CLIENT_LIST_STACKING", "_NET_ACTIVE_WINDOW",
                           "_NET_SUPPORTING_WM_CHECK", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN",
                           "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ", "_NET_WM_STATE_ABOVE",
                           "_NET_WM_PID", "_NET_WM_PING", "_NET_CLOSE_WINDOW", "_NET_FRAME_EXTENTS"};
    constexpr int kCount = sizeof names / sizeof names[0];
    Atom got[kCount] = {};
    XInternAtoms(Dpy(), const_cast<char**>(names), kCount, False, got);
    Atoms r{};
    static_assert(sizeof(Atoms) == sizeof got, "one atom a name");
    std::memcpy(&r, got, sizeof got);
    return r;
  }();
  return a;
}

std::optional<Property> ReadProperty(Window window, Atom property, long most_items) {
  if (window == 0) return std::nullopt;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(Dpy(), window, property, 0, most_items, False, AnyPropertyType, &type, &format, &count, &after,
                         &data) != Success ||
      type == None) {
    if (data) XFree(data);
    return std::nullopt;
  }
  Property p;
  p.type = type;
  p.format = format;
  if (format == 32) {
    const unsigned long* longs = reinterpret_cast<const unsigned long*>(data);  // Xlib hands 32-bit items as longs
    p.items.assign(longs, longs + count);
  } else if (format == 8) {
    p.bytes.assign(reinterpret_cast<const char*>(data), count);
  }
  XFree(data);
  return p;
}

// Asked at most every half second: a window manager may come or go while the
// runtime runs.
bool ManagerRuns() {
  static std::mutex mutex;
  static std::chrono::steady_clock::time_point asked;
  static bool runs = false;
  std::lock_guard<std::mutex> lock(mutex);
  const auto now = std::chrono::steady_clock::now();
  if (asked.time_since_epoch().count() != 0 && now - asked < std::chrono::milliseconds(500)) return runs;
  asked = now;
  const Window root = DefaultRootWindow(Dpy());
  const auto check = ReadProperty(root, atoms().net_supporting_wm_check, 1);
  runs = false;
  if (check && !check->items.empty()) {
    const auto self = ReadProperty(static_cast<Window>(check->items[0]), atoms().net_supporting_wm_check, 1);
    runs = self && !self->items.empty() && self->items[0] == check->items[0];
  }
  return runs;
}

namespace {

bool HasWmState(Window w) { return ReadProperty(w, atoms().wm_state, 2).has_value(); }

// The window with WM_STATE below `w`, breadth first, a few levels deep.
Window ClientBelow(Window w, int depth) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (depth == 0 || !XQueryTree(Dpy(), w, &root, &parent, &children, &count)) return 0;
  std::vector<Window> list(children, children + count);
  if (children) XFree(children);
  for (Window c : list)
    if (HasWmState(c)) return c;
  for (Window c : list)
    if (const Window found = ClientBelow(c, depth - 1)) return found;
  return 0;
}

}  // namespace

Window ClientOf(Window window) {
  Display* d = Dpy();
  const Window root_window = DefaultRootWindow(d);
  Window w = window;
  for (int level = 0; w != 0 && w != root_window && level < 64; ++level) {
    if (HasWmState(w)) return w;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
    if (children) XFree(children);
    if (parent == root_window) {
      // A frame of the window manager holds the client; without one the child
      // of the root is the client.
      const Window below = ClientBelow(w, 3);
      return below ? below : w;
    }
    w = parent;
  }
  return 0;
}

bool FocusInside(Window client) {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(Dpy(), &focus, &revert);
  if (focus == None || focus == PointerRoot) return false;
  return focus == client || ClientOf(focus) == client;
}

XEvent ClientMessageOf(Window window, Atom type, long l0, long l1, long l2, long l3) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = type;
  e.xclient.format = 32;
  e.xclient.data.l[0] = l0;
  e.xclient.data.l[1] = l1;
  e.xclient.data.l[2] = l2;
  e.xclient.data.l[3] = l3;
  return e;
}

void SendToManager(Window client, Atom type, long l0, long l1, long l2, long l3) {
  Display* d = Dpy();
  XEvent e = ClientMessageOf(client, type, l0, l1, l2, l3);
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  XFlush(d);
}

bool HasProtocol(Window client, Atom protocol) {
  const auto protocols = ReadProperty(client, atoms().wm_protocols, 64);
  return protocols && std::find(protocols->items.begin(), protocols->items.end(), protocol) != protocols->items.end();
}

namespace {

// The connection that hears the answers: it watches the root only while a
// ping is open, so that no event piles up unread.
struct Pings {
  std::mutex mutex;
  Display* listener = nullptr;
  bool opened = false;
  unsigned long next = 0x7E000000;  // far from the server's own time stamps
  std::vector<unsigned long> open, answered;
};
// Never destroyed: the input service gives its key codes back at the program's end.
Pings& pings() {
  static Pings& p = *new Pings;
  return p;
}

void DrainAnswers(Pings& p) {
  while (p.listener && XPending(p.listener)) {
    XEvent e;
    XNextEvent(p.listener, &e);
    if (e.type != ClientMessage || e.xclient.message_type != atoms().wm_protocols ||
        static_cast<Atom>(e.xclient.data.l[0]) != atoms().net_wm_ping)
      continue;
    const unsigned long token = static_cast<unsigned long>(e.xclient.data.l[1]);
    for (auto it = p.open.begin(); it != p.open.end(); ++it) {
      if (*it != token) continue;
      p.open.erase(it);
      p.answered.push_back(token);
      break;
    }
  }
  if (p.listener && p.open.empty()) XSelectInput(p.listener, DefaultRootWindow(p.listener), NoEventMask);
}

}  // namespace

unsigned long SendPing(Window client) {
  if (!HasProtocol(client, atoms().net_wm_ping)) return 0;
  XSync(Dpy(), False);  // what was sent before is with the server first
  Pings& p = pings();
  std::lock_guard<std::mutex> lock(p.mutex);
  if (!p.opened) {
    p.opened = true;
    p.listener = XOpenDisplay(DisplayString(Dpy()));
  }
  if (!p.listener) return 0;
  if (p.answered.size() > 64) p.answered.erase(p.answered.begin(), p.answered.begin() + 32);
  if (p.open.size() > 64) p.open.erase(p.open.begin(), p.open.begin() + 32);
  const unsigned long token = ++p.next;
  p.open.push_back(token);
  XSelectInput(p.listener, DefaultRootWindow(p.listener), SubstructureNotifyMask);
  XEvent e = ClientMessageOf(client, atoms().wm_protocols, static_cast<long>(atoms().net_wm_ping),
                             static_cast<long>(token), static_cast<long>(client));
  XSendEvent(p.listener, client, False, NoEventMask, &e);
  XFlush(p.listener);
  return token;
}

bool PingAnswered(unsigned long token) {
  Pings& p = pings();
  std::lock_guard<std::mutex> lock(p.mutex);
  DrainAnswers(p);
  for (unsigned long t : p.answered)
    if (t == token) return true;
  return false;
}

bool WaitUntil(const std::function<bool()>& done, int bound_ms) {
  const int stops = StopSignalCount();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end || StopSignalCount() != stops) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace platform::x11
