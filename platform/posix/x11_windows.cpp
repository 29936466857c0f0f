// The windows of an X11 desktop. A window is a client window (the one its
// program made, which carries WM_STATE under a window manager); its id is the
// handle. The top-level windows are the window manager's client list in
// stacking order, or without one the root's mapped children. A window counts
// as visible while its program has it mapped (minimised ones included, as on
// Windows); its rectangle is the outer frame the user sees.
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

#include "platform/posix/x11_desktop.h"
#include "platform/posix/x11_text.h"

namespace platform::x11 {
namespace {

constexpr int kPlacementWaitMs = 1000;  // a window manager's answer to a move, resize or state change
constexpr int kActivationWaitMs = 1000;  // until the window really has the keyboard focus

Window ToWindow(WindowId id) { return static_cast<Window>(id); }

struct Attributes {
  int x = 0, y = 0, width = 0, height = 0, border = 0, map_state = IsUnmapped;
};
std::optional<Attributes> AttributesOf(Window w) {
  XWindowAttributes a;
  if (w == 0 || !XGetWindowAttributes(Dpy(), w, &a)) return std::nullopt;
  return Attributes{a.x, a.y, a.width, a.height, a.border_width, a.map_state};
}

// The child of the root that holds `w` (the frame under a reparenting window manager).
Window TopOf(Window w) {
  Display* d = Dpy();
  const Window root_window = DefaultRootWindow(d);
  for (int level = 0; w != 0 && level < 64; ++level) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
    if (children) XFree(children);
    if (parent == root_window) return w;
    w = parent;
  }
  return 0;
}

bool HasState(Window w, Atom state) {
  const auto states = ReadProperty(w, atoms().net_wm_state, 64);
  return states && std::find(states->items.begin(), states->items.end(), state) != states->items.end();
}

// What a search asks of every top-level window (its title, whether it is
// mapped, the client inside a child of the root), kept from one search to the
// next on a connection of its own that watches each window it has seen: a
// change of title, a map, an unmap or the window's end comes as an event that
// the next search reads first (one round trip), so that a search over 200
// windows asks the server twice instead of hundreds of times.
class WatchedWindows {
 public:
  // The root's children, top first, each as the client it holds, that are
  // mapped or in `also`: the top-level windows where no window manager keeps a list.
  std::vector<WindowId> RootClients(const std::set<Window>& also) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Ready()) return {};
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::vector<WindowId> list;
    if (!XQueryTree(watch_, DefaultRootWindow(watch_), &root, &parent, &children, &count)) return list;
    const std::vector<Window> below(children, children + count);
    if (children) XFree(children);
    for (auto it = below.rbegin(); it != below.rend(); ++it) {
      Entry* e = Seen(*it);
      if (!e || e->ignored || (!e->mapped && !also.count(*it))) continue;
      if (e->client == 0) e->client = ClientOf(*it);
      list.push_back(e->client ? e->client : *it);
    }
    return list;
  }

  std::string Title(Window w) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Ready()) return {};
    Entry* e = Seen(w);
    if (!e) return {};
    if (!e->title) e->title = ReadName(w);
    return *e->title;
  }

  // Reads what changed since the last search.
  void CatchUp() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Ready()) return;
    XSync(watch_, False);
    while (XPending(watch_)) {
      XEvent ev;
      XNextEvent(watch_, &ev);
      const auto it = seen_.find(ev.xany.window);
      if (ev.type == DestroyNotify) {
        seen_.erase(ev.xdestroywindow.window);
      } else if (it == seen_.end()) {
        continue;
      } else if (ev.type == PropertyNotify) {
        if (ev.xproperty.atom == XA_WM_NAME || ev.xproperty.atom == atoms().net_wm_name) it->second.title.reset();
        if (ev.xproperty.atom == atoms().wm_state) it->second.client = 0;
      } else if (ev.type == MapNotify || ev.type == UnmapNotify) {
        it->second.mapped = ev.type == MapNotify;
      } else if (ev.type == ReparentNotify) {
        seen_.erase(it);  // its place in the tree changed: asked again when next seen
      }
    }
  }

  // _NET_WM_NAME (UTF-8), else WM_NAME (Latin-1, or UTF-8 where so marked).
  static std::string ReadName(Window w) {
    if (const auto name = ReadProperty(w, atoms().net_wm_name, 1024); name && name->format == 8)
      return Utf8ToCodePage(name->bytes);
    const auto name = ReadProperty(w, XA_WM_NAME, 1024);
    if (!name || name->format != 8) return {};
    return name->type == atoms().utf8_string ? Utf8ToCodePage(name->bytes) : Latin1ToCodePage(name->bytes);
  }

 private:
  struct Entry {
    std::optional<std::string> title;
    bool mapped = false, ignored = false;  // ignored: input-only or override-redirect
    Window client = 0;
  };
  bool Ready() {
    if (!opened_) {
      opened_ = true;
      watch_ = XOpenDisplay(DisplayString(Dpy()));
    }
    return watch_ != nullptr;
  }
  // The window's entry; a window seen for the first time is watched from now
  // on, then asked once.
  Entry* Seen(Window w) {
    if (const auto it = seen_.find(w); it != seen_.end()) return &it->second;
    XSelectInput(watch_, w, PropertyChangeMask | StructureNotifyMask);
    XWindowAttributes a;
    if (!XGetWindowAttributes(watch_, w, &a)) return nullptr;
    Entry e;
    e.mapped = a.map_state != IsUnmapped;
    e.ignored = a.c_class != InputOutput || a.override_redirect;
    if (seen_.size() > 100000) seen_.clear();
    return &(seen_[w] = e);
  }
  std::mutex mutex_;
  bool opened_ = false;
  Display* watch_ = nullptr;
  std::map<Window, Entry> seen_;
};

class X11Windows : public Windows {
 public:
  WindowId FindTopLevel(const std::string& title, const std::string& class_name) override {
    for (WindowId w : TopLevelWindows())
      if ((title.empty() || Name(ToWindow(w)) == title) && (class_name.empty() || ClassName(w) == class_name)) return w;
    return 0;
  }

  bool Exists(WindowId window) override { return AttributesOf(ToWindow(window)).has_value(); }

  WindowId Foreground() override {
    if (ManagerRuns()) {
      const auto active = ReadProperty(DefaultRootWindow(Dpy()), atoms().net_active_window, 1);
      if (active && !active->items.empty() && active->items[0] != 0) return active->items[0];
    }
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(Dpy(), &focus, &revert);
    return focus == None || focus == PointerRoot ? 0 : ClientOf(focus);
  }

  WindowId NextInZOrder(WindowId window) override {
    const std::vector<WindowId> list = TopLevelWindows();
    if (window == 0) return list.empty() ? 0 : list.front();
    const auto at = std::find(list.begin(), list.end(), window);
    return at == list.end() || at + 1 == list.end() ? 0 : *(at + 1);
  }

  std::vector<WindowId> TopLevelWindows() override {
    watched_.CatchUp();
    if (ManagerRuns()) {
      if (const auto stacking = ReadProperty(DefaultRootWindow(Dpy()), atoms().net_client_list_stacking, 1 << 16))
        return std::vector<WindowId>(stacking->items.rbegin(), stacking->items.rend());
    }
    return watched_.RootClients(Minimised());
  }

  std::vector<WindowId> Descendants(WindowId) override { return {}; }

  // Shown by its program: mapped, or minimised (a window manager unmaps a
  // minimised window; without one this service does).
  bool IsVisible(WindowId window) override {
    const auto a = AttributesOf(ToWindow(window));
    return a && (a->map_state == IsViewable || IsMinimized(window));
  }

  // A search reads the titles it has read before from the watch (TopLevelWindows
  // caught up with their changes first).
  std::string TitleOf(WindowId window, bool top_level, std::size_t max_chars, int) override {
    std::string title = top_level ? watched_.Title(ToWindow(window)) : Name(ToWindow(window));
    if (title.size() > max_chars) title.resize(max_chars);
    return title;
  }

  std::string Title(WindowId window, std::size_t max_chars, int) override {
    std::string title = Name(ToWindow(window));
    if (title.size() > max_chars) title.resize(max_chars);
    return title;
  }

  bool Activate(WindowId window) override {
    const Window w = ToWindow(window);
    if (!Exists(window)) return false;
    if (IsMinimized(window)) Place(window, Placement::Restore);
    if (!IsVisible(window)) XMapWindow(Dpy(), w);
    return MakeForeground(w);
  }

  bool PostClose(WindowId window) override { return SendDelete(ToWindow(window)); }

  // The runtime owns no top-level window that a script could name.
  bool Destroy(WindowId) override { return false; }

  // The class part of WM_CLASS ("XTerm" of "xterm", "XTerm").
  std::string ClassName(WindowId window) override {
    const auto p = ReadProperty(ToWindow(window), XA_WM_CLASS, 256);
    if (!p) return {};
    const std::size_t end_of_instance = p->bytes.find('\0');
    if (end_of_instance == std::string::npos) return {};
    std::string cls = p->bytes.substr(end_of_instance + 1);
    if (const std::size_t end = cls.find('\0'); end != std::string::npos) cls.resize(end);
    return Latin1ToCodePage(cls);
  }

  std::optional<WindowRect> Rect(WindowId window) override {
    const auto a = AttributesOf(TopOf(ToWindow(window)));
    if (!a) return std::nullopt;
    return WindowRect{a->x, a->y, a->width + 2 * a->border, a->height + 2 * a->border};
  }

  // A transient window's owner.
  WindowId Parent(WindowId window) override {
    const auto owner = ReadProperty(ToWindow(window), atoms().wm_transient_for, 1);
    return owner && !owner->items.empty() ? owner->items[0] : 0;
  }
  WindowId TreeParent(WindowId) override { return 0; }
  bool HasFrame(WindowId window) override { return Exists(window); }
  bool HasControls() override { return false; }

  std::uint32_t Style(WindowId window) override {
    if (!Exists(window)) return 0;
    std::uint32_t bits = style::kCaption | style::kThickFrame | style::kMaximizeBox | style::kMinimizeBox;
    if (IsVisible(window)) bits |= style::kVisible;
    if (IsMinimized(window)) bits |= style::kMinimize;
    if (IsMaximized(window)) bits |= style::kMaximize;
    return bits;
  }

  bool IsMinimized(WindowId window) override {
    const Window w = ToWindow(window);
    if (ManagerRuns()) {
      const auto state = ReadProperty(w, atoms().wm_state, 2);
      return (state && !state->items.empty() && state->items[0] == IconicState) || HasState(w, atoms().net_wm_state_hidden);
    }
    const auto a = AttributesOf(w);
    return a && a->map_state == IsUnmapped && Minimised().count(w);
  }

  bool IsMaximized(WindowId window) override {
    const Window w = ToWindow(window);
    if (ManagerRuns()) return HasState(w, atoms().net_wm_state_max_vert) && HasState(w, atoms().net_wm_state_max_horz);
    std::lock_guard<std::mutex> lock(mutex_);
    return maximised_.count(w) != 0;
  }
  bool IsEnabled(WindowId window) override { return Exists(window); }

  WindowId DesktopWindow() override { return DefaultRootWindow(Dpy()); }

  // The top-level window under a screen point.
  WindowId AtPoint(long x, long y) override {
    for (WindowId w : TopLevelWindows()) {
      const auto r = Rect(w);
      const auto a = AttributesOf(ToWindow(w));
      if (r && a && a->map_state == IsViewable && x >= r->x && y >= r->y && x < r->x + r->width && y < r->y + r->height)
        return w;
    }
    return DesktopWindow();
  }

  WindowId FocusOfForegroundThread() override { return Foreground(); }
  WindowId FocusInThreadOf(WindowId window) override { return FocusInside(ToWindow(window)) ? window : 0; }

  void Do(WindowId window, Call call) override {
    const Window w = ToWindow(window);
    if (!Exists(window)) return;
    switch (call) {
      case Call::BringToTop: Raise(w); break;
      case Call::SetForeground:
      case Call::SetActive:
      case Call::AttachedForeground: MakeForeground(w); break;
      case Call::SetFocus:
        if (!FocusInside(w)) {
          XSetInputFocus(Dpy(), w, RevertToParent, CurrentTime);
          XSync(Dpy(), False);
        }
        break;
      case Call::Restore:
        if (IsMinimized(window)) Place(window, Placement::Restore);
        break;
      case Call::Show:
        if (!IsVisible(window)) Place(window, Placement::Show);
        break;
      case Call::HotkeyCommand:
      case Call::SelectAllText: break;  // no such thing on X11
    }
  }

  // A top-level window's text is its title.
  std::optional<std::string> ReadText(WindowId window, std::size_t max_chars, int timeout_ms) override {
    if (!Exists(window)) return std::nullopt;
    return Title(window, max_chars == 0 ? 0xFFC00 : max_chars, timeout_ms);
  }
  std::string CaptionText(WindowId window) override { return Name(ToWindow(window)); }

  std::uint32_t ProcessId(WindowId window) override {
    const auto pid = ReadProperty(ToWindow(window), atoms().net_wm_pid, 1);
    return pid && !pid->items.empty() ? static_cast<std::uint32_t>(pid->items[0]) : 0;
  }
  std::string ProcessPath(WindowId window) override {
    const std::uint32_t pid = ProcessId(window);
    if (pid == 0) return {};
    char path[PATH_MAX];
    const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
  }

  // The request is made at once; the wait lets it take effect before the next step.
  bool Place(WindowId window, Placement how) override {
    const Window w = ToWindow(window);
    if (!Exists(window)) return false;
    Display* d = Dpy();
    const bool managed = ManagerRuns();
    switch (how) {
      case Placement::Maximize:
        if (IsMinimized(window)) Place(window, Placement::Restore);
        if (managed) {
          SendToManager(w, atoms().net_wm_state, 1, static_cast<long>(atoms().net_wm_state_max_vert),
                        static_cast<long>(atoms().net_wm_state_max_horz), 2);
        } else if (const auto r = Rect(window)) {
          {
            std::lock_guard<std::mutex> lock(mutex_);
            maximised_.emplace(w, *r);
          }
          MoveResizeFrame(w, 0, 0, DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d)));
        }
        WaitUntil([&] { return IsMaximized(window); }, kPlacementWaitMs);
        return true;
      case Placement::Minimize:
        if (managed) {
          XIconifyWindow(d, w, DefaultScreen(d));
          XFlush(d);
        } else {
          {
            std::lock_guard<std::mutex> lock(mutex_);
            minimised_.insert(w);
          }
          XUnmapWindow(d, w);
          XSync(d, False);
        }
        WaitUntil([&] { return IsMinimized(window); }, kPlacementWaitMs);
        return true;
      case Placement::Restore:
        if (IsMinimized(window)) {
          {
            std::lock_guard<std::mutex> lock(mutex_);
            minimised_.erase(w);
          }
          XMapWindow(d, w);  // a minimised window mapped again is restored
          XFlush(d);
          WaitUntil([&] { return !IsMinimized(window) && ViewableNow(w); }, kPlacementWaitMs);
          return true;
        }
        if (managed) {
          SendToManager(w, atoms().net_wm_state, 0, static_cast<long>(atoms().net_wm_state_max_vert),
                        static_cast<long>(atoms().net_wm_state_max_horz), 2);
          WaitUntil([&] { return !IsMaximized(window); }, kPlacementWaitMs);
          return true;
        }
        if (std::optional<WindowRect> before = TakeMaximised(w))
          MoveResizeFrame(w, before->x, before->y, before->width, before->height);
        return true;
      case Placement::Show:
        XMapWindow(d, w);
        XFlush(d);
        WaitUntil([&] { return ViewableNow(w) || IsMinimized(window); }, kPlacementWaitMs);
        return true;
      case Placement::Hide:
        XWithdrawWindow(d, w, DefaultScreen(d));
        XSync(d, False);
        WaitUntil([&] { return !ViewableNow(w); }, kPlacementWaitMs);
        return true;
    }
    return false;
  }

  bool MoveTo(WindowId window, long x, long y) override {
    const auto r = Rect(window);
    return r && MoveResizeFrame(ToWindow(window), x, y, r->width, r->height);
  }

  bool ResizeTo(WindowId window, long width, long height) override {
    const auto r = Rect(window);
    return r && MoveResizeFrame(ToWindow(window), r->x, r->y, width, height);
  }

  bool SetTopmost(WindowId window, bool topmost) override {
    const Window w = ToWindow(window);
    if (!Exists(window)) return false;
    if (ManagerRuns()) SendToManager(w, atoms().net_wm_state, topmost ? 1 : 0, static_cast<long>(atoms().net_wm_state_above), 0, 2);
    else if (topmost) Raise(w);
    return true;
  }

  void Update(WindowId) override { XSync(Dpy(), False); }

  // WM_DELETE_WINDOW, then a ping: a program that answers it within the time
  // has taken the request. False for a program that knows no such request or
  // does not answer (then its connection is ended).
  bool SendClose(WindowId window, int timeout_ms) override {
    const Window w = ToWindow(window);
    if (!SendDelete(w)) return false;
    const unsigned long token = SendPing(w);
    if (token == 0) return true;
    return WaitUntil([&] { return PingAnswered(token) || !Exists(window); }, std::max(timeout_ms, 1));
  }

  // XKillClient ends the program's connection (a program ends with it); never
  // the runtime's own: its windows' ids share the bits above the server's
  // resource mask (21 bits unless the server takes more clients) with an id
  // of its connection.
  bool EndProcessOf(WindowId window) override {
    const Window w = ToWindow(window);
    static const XID own = XAllocID(Dpy()) >> 21;
    if (!Exists(window) || ProcessId(window) == static_cast<std::uint32_t>(getpid()) || (w >> 21) == own) return false;
    XKillClient(Dpy(), w);
    XSync(Dpy(), False);
    return true;
  }

 private:
  static std::string Name(Window w) { return WatchedWindows::ReadName(w); }

  static bool ViewableNow(Window w) {
    const auto a = AttributesOf(w);
    return a && a->map_state == IsViewable;
  }

  static void Raise(Window w) {
    if (ManagerRuns()) XRaiseWindow(Dpy(), w);  // the window manager raises the frame
    else XRaiseWindow(Dpy(), TopOf(w));
    XSync(Dpy(), False);
  }

  // Through the window manager where one runs (it activates asynchronously:
  // the wait ends once the window has the keyboard focus), else raise and focus.
  bool MakeForeground(Window w) {
    Display* d = Dpy();
    if (FocusInside(w) && Foreground() == w) return true;
    if (ManagerRuns()) {
      SendToManager(w, atoms().net_active_window, 2, CurrentTime, 0);
      if (WaitUntil([&] { return FocusInside(w) && Foreground() == w; }, kActivationWaitMs)) return true;
    }
    Raise(w);
    if (ViewableNow(w)) XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XSync(d, False);
    return WaitUntil([&] { return FocusInside(w); }, 250);
  }

  static bool SendDelete(Window w) {
    if (!HasProtocol(w, atoms().wm_delete_window)) return false;
    XEvent e = ClientMessageOf(w, atoms().wm_protocols, static_cast<long>(atoms().wm_delete_window), CurrentTime);
    const bool sent = XSendEvent(Dpy(), w, False, NoEventMask, &e) != 0;
    XFlush(Dpy());
    return sent;
  }

  // Puts the outer frame at (x, y) with this size. A window manager places
  // the frame by its own reading of the request (the frame's corner, for the
  // usual gravity): what it made of it is read back and the request corrected once.
  bool MoveResizeFrame(Window w, long x, long y, long width, long height) {
    Display* d = Dpy();
    const bool managed = ManagerRuns();
    long ask_x = x, ask_y = y;
    auto placed = [&] {
      const auto now = Rect(w);
      return now && now->x == x && now->y == y && now->width == width && now->height == height;
    };
    for (int attempt = 0; attempt < 2; ++attempt) {
      const auto frame = Rect(w);
      const auto client = AttributesOf(w);
      if (!frame || !client) return false;
      if (placed()) return true;
      const unsigned cw = static_cast<unsigned>(std::max(1L, width - (frame->width - client->width)));
      const unsigned ch = static_cast<unsigned>(std::max(1L, height - (frame->height - client->height)));
      XMoveResizeWindow(d, managed ? w : TopOf(w), static_cast<int>(ask_x), static_cast<int>(ask_y), cw, ch);
      XSync(d, False);
      if (managed) WaitUntil(placed, kPlacementWaitMs / 2);
      const auto now = Rect(w);
      if (!now) return false;
      ask_x += x - now->x;
      ask_y += y - now->y;
    }
    return placed();
  }

  std::set<Window> Minimised() {
    std::lock_guard<std::mutex> lock(mutex_);
    return minimised_;
  }
  std::optional<WindowRect> TakeMaximised(Window w) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = maximised_.find(w);
    if (it == maximised_.end()) return std::nullopt;
    const WindowRect r = it->second;
    maximised_.erase(it);
    return r;
  }

  // Without a window manager this service minimises and maximises itself.
  std::mutex mutex_;
  std::set<Window> minimised_;
  std::map<Window, WindowRect> maximised_;
  WatchedWindows watched_;
};

}  // namespace

Windows& DesktopWindows() {
  static X11Windows instance;
  return instance;
}

}  // namespace platform::x11
