// olvex-x11-target: the X11 program the Linux desktop tests drive. One
// top-level window (white, with the blocks painted on command) that records
// the input it receives: keys with their modifiers, the text they type, mouse
// buttons at client coordinates, the wheel.
//
//   olvex-x11-target [--title T] [--class C] [--geometry WxH+X+Y] [--no-ping]
//
// It prints "ready <window id>" once its window is mapped, then reads one
// command a line on standard input and answers on standard output:
//   state                   "title", "geometry X Y W H" (the client area in root
//                           coordinates), "focused 0|1", "mapped 0|1", "text"
//                           (typed text in UTF-8; \n, \t, \\ escaped),
//                           "records N", "record:", the records, then "end"
//   clear                   forgets the records and the text         -> ok
//   paint X Y W H RRGGBB    a block in client coordinates            -> ok
//   title T                 a new title (_NET_WM_NAME and WM_NAME)   -> ok
//   refuse 1|0              ignore the window manager's close request -> ok
//   quit                    ends the program
// Records: "kd KEYSYM MODS", "ku KEYSYM MODS", "md B X Y MODS", "mu B X Y MODS",
// "wh up|down", "close" (a close request); MODS is a word of C, S, A, W or "-".
// It answers _NET_WM_PING (unless --no-ping), so that a sender of keys can tell
// when they have been read.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Block {
  int x, y, w, h;
  unsigned long pixel;
};

Display* g_display = nullptr;
Window g_window = 0;
GC g_gc = nullptr;
std::vector<Block> g_blocks;
std::vector<std::string> g_record;
std::string g_text, g_title = "Olvex X11 Target";
bool g_refuse = false, g_mapped = false;
Atom g_protocols, g_delete, g_ping, g_net_name, g_utf8;

std::string Mods(unsigned state) {
  std::string m;
  if (state & ControlMask) m += 'C';
  if (state & ShiftMask) m += 'S';
  if (state & Mod1Mask) m += 'A';
  if (state & Mod4Mask) m += 'W';
  return m.empty() ? "-" : m;
}

void AppendUtf8(std::string& out, unsigned long u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else if (u < 0x10000) {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (u >> 18));
    out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

// The character a keysym types; 0 for none.
unsigned long CharOf(KeySym sym) {
  if ((sym >= 0x20 && sym <= 0x7E) || (sym >= 0xA0 && sym <= 0xFF)) return sym;
  if (sym >= 0x1000000 && sym <= 0x110FFFF) return sym - 0x1000000;
  if (sym == XK_Return || sym == XK_KP_Enter) return '\n';
  if (sym == XK_Tab) return '\t';
  if (sym >= XK_KP_0 && sym <= XK_KP_9) return '0' + (sym - XK_KP_0);
  if (sym == XK_EuroSign) return 0x20AC;
  return 0;
}

void SetTitle(const std::string& title) {
  g_title = title;
  XStoreName(g_display, g_window, title.c_str());
  XChangeProperty(g_display, g_window, g_net_name, g_utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
}

void Redraw() {
  XSetForeground(g_display, g_gc, WhitePixel(g_display, DefaultScreen(g_display)));
  XWindowAttributes a;
  XGetWindowAttributes(g_display, g_window, &a);
  XFillRectangle(g_display, g_window, g_gc, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height));
  for (const Block& b : g_blocks) {
    XSetForeground(g_display, g_gc, b.pixel);
    XFillRectangle(g_display, g_window, g_gc, b.x, b.y, static_cast<unsigned>(b.w), static_cast<unsigned>(b.h));
  }
  XFlush(g_display);
}

void OnKey(XKeyEvent& e, bool down) {
  char buffer[32];
  KeySym sym = NoSymbol;
  XLookupString(&e, buffer, sizeof buffer, &sym, nullptr);
  // The key's own keysym by name (Xlib's names of keysyms outside its table are
  // the caller's to free).
  char* allocated = nullptr;
  const KeySym plain = XLookupKeysym(&e, 0);
  const char* name = plain > 0xFFFF ? (allocated = XKeysymToString(plain)) : XKeysymToString(plain);
  char fallback[32];
  if (!name) {
    std::snprintf(fallback, sizeof fallback, "0x%lx", static_cast<unsigned long>(plain));
    name = fallback;
  }
  g_record.push_back(std::string(down ? "kd " : "ku ") + name + " " + Mods(e.state));
  if (allocated && (plain & 0xFF000000) == 0x01000000) XFree(allocated);
  if (!down || (e.state & (ControlMask | Mod1Mask))) return;
  if (sym == XK_BackSpace) {
    while (!g_text.empty() && (static_cast<unsigned char>(g_text.back()) & 0xC0) == 0x80) g_text.pop_back();
    if (!g_text.empty()) g_text.pop_back();
    return;
  }
  if (const unsigned long c = CharOf(sym)) AppendUtf8(g_text, c);
}

void OnEvent(XEvent& e) {
  switch (e.type) {
    case Expose:
      if (e.xexpose.count == 0) Redraw();
      break;
    case MappingNotify: XRefreshKeyboardMapping(&e.xmapping); break;
    case MapNotify: g_mapped = true; break;
    case UnmapNotify: g_mapped = false; break;
    case KeyPress: OnKey(e.xkey, true); break;
    case KeyRelease: OnKey(e.xkey, false); break;
    case ButtonPress:
    case ButtonRelease: {
      const unsigned b = e.xbutton.button;
      if (b == 4 || b == 5) {
        if (e.type == ButtonPress) g_record.push_back(b == 4 ? "wh up" : "wh down");
        break;
      }
      g_record.push_back(std::string(e.type == ButtonPress ? "md " : "mu ") + std::to_string(b) + " " +
                         std::to_string(e.xbutton.x) + " " + std::to_string(e.xbutton.y) + " " + Mods(e.xbutton.state));
      break;
    }
    case ClientMessage:
      if (e.xclient.message_type != g_protocols) break;
      if (static_cast<Atom>(e.xclient.data.l[0]) == g_ping) {
        Window root = DefaultRootWindow(g_display);
        e.xclient.window = root;
        XSendEvent(g_display, root, False, SubstructureNotifyMask | SubstructureRedirectMask, &e);
        XFlush(g_display);
      } else if (static_cast<Atom>(e.xclient.data.l[0]) == g_delete) {
        g_record.push_back("close");
        if (!g_refuse) {
          XCloseDisplay(g_display);
          std::exit(0);
        }
      }
      break;
    default: break;
  }
}

void Pump() {
  while (XPending(g_display)) {
    XEvent e;
    XNextEvent(g_display, &e);
    OnEvent(e);
  }
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out;
}

void WriteState() {
  // A round trip first: every event the server sent before it is then queued here.
  XSync(g_display, False);
  Pump();
  Window child = 0, focus = 0;
  int x = 0, y = 0, revert = 0;
  XWindowAttributes a;
  XGetWindowAttributes(g_display, g_window, &a);
  XTranslateCoordinates(g_display, g_window, DefaultRootWindow(g_display), 0, 0, &x, &y, &child);
  XGetInputFocus(g_display, &focus, &revert);
  std::printf("title %s\ngeometry %d %d %d %d\nfocused %d\nmapped %d\ntext %s\nrecords %zu\nrecord:\n", g_title.c_str(), x, y,
              a.width, a.height, focus == g_window ? 1 : 0, a.map_state == IsViewable ? 1 : 0, Escaped(g_text).c_str(),
              g_record.size());
  for (const std::string& line : g_record) std::printf("%s\n", line.c_str());
  std::printf("end\n");
}

void Command(const std::string& line) {
  if (line == "state") {
    WriteState();
  } else if (line == "clear") {
    XSync(g_display, False);
    Pump();
    g_record.clear();
    g_text.clear();
    std::printf("ok\n");
  } else if (line.rfind("paint ", 0) == 0) {
    Block b{};
    unsigned rgb = 0;
    if (std::sscanf(line.c_str() + 6, "%d %d %d %d %x", &b.x, &b.y, &b.w, &b.h, &rgb) == 5) {
      XColor colour{};
      colour.red = static_cast<unsigned short>(((rgb >> 16) & 0xFF) * 257);
      colour.green = static_cast<unsigned short>(((rgb >> 8) & 0xFF) * 257);
      colour.blue = static_cast<unsigned short>((rgb & 0xFF) * 257);
      XAllocColor(g_display, DefaultColormap(g_display, DefaultScreen(g_display)), &colour);
      b.pixel = colour.pixel;
      g_blocks.push_back(b);
      Redraw();
      XSync(g_display, False);
      std::printf("ok\n");
    } else {
      std::printf("error paint X Y W H RRGGBB\n");
    }
  } else if (line.rfind("title ", 0) == 0) {
    SetTitle(line.substr(6));
    XSync(g_display, False);
    std::printf("ok\n");
  } else if (line.rfind("refuse ", 0) == 0) {
    g_refuse = line.substr(7) == "1";
    std::printf("ok\n");
  } else if (line == "quit") {
    XCloseDisplay(g_display);
    std::exit(0);
  } else {
    std::printf("error unknown command\n");
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string class_name = "OlvexX11Target";
  int x = 40, y = 40;
  unsigned w = 400, h = 300;
  bool ping = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--title" && i + 1 < argc) g_title = argv[++i];
    else if (arg == "--class" && i + 1 < argc) class_name = argv[++i];
    else if (arg == "--geometry" && i + 1 < argc) std::sscanf(argv[++i], "%ux%u+%d+%d", &w, &h, &x, &y);
    else if (arg == "--no-ping") ping = false;
  }
  g_display = XOpenDisplay(nullptr);
  if (!g_display) {
    std::fprintf(stderr, "olvex-x11-target: no X display\n");
    return 1;
  }
  const int screen = DefaultScreen(g_display);
  // The key map is read at the start, as toolkits do: later changes then come as notices.
  XKeysymToKeycode(g_display, XK_a);
  g_window = XCreateSimpleWindow(g_display, RootWindow(g_display, screen), x, y, w, h, 0, BlackPixel(g_display, screen),
                                 WhitePixel(g_display, screen));
  g_gc = XCreateGC(g_display, g_window, 0, nullptr);
  g_protocols = XInternAtom(g_display, "WM_PROTOCOLS", False);
  g_delete = XInternAtom(g_display, "WM_DELETE_WINDOW", False);
  g_ping = XInternAtom(g_display, "_NET_WM_PING", False);
  g_net_name = XInternAtom(g_display, "_NET_WM_NAME", False);
  g_utf8 = XInternAtom(g_display, "UTF8_STRING", False);
  Atom protocols[2] = {g_delete, g_ping};
  XSetWMProtocols(g_display, g_window, protocols, ping ? 2 : 1);
  XClassHint hint{const_cast<char*>("olvex-x11-target"), class_name.data()};
  XSetClassHint(g_display, g_window, &hint);
  XSizeHints size{};
  size.flags = USPosition | USSize;
  size.x = x;
  size.y = y;
  size.width = static_cast<int>(w);
  size.height = static_cast<int>(h);
  XSetWMNormalHints(g_display, g_window, &size);
  XWMHints wm{};
  wm.flags = InputHint;
  wm.input = True;
  XSetWMHints(g_display, g_window, &wm);
  const long pid = static_cast<long>(getpid());
  XChangeProperty(g_display, g_window, XInternAtom(g_display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  SetTitle(g_title);
  XSelectInput(g_display, g_window,
               ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
  XMapWindow(g_display, g_window);
  XSync(g_display, False);
  // Ready once the window is mapped (under a window manager, once it has put it up).
  for (int i = 0; i < 500 && !g_mapped; ++i) {
    Pump();
    if (!g_mapped) usleep(10000);
  }
  Redraw();
  XSync(g_display, False);
  std::printf("ready %lu\n", static_cast<unsigned long>(g_window));
  std::fflush(stdout);

  std::string pending;
  for (;;) {
    Pump();
    pollfd fds[2] = {{ConnectionNumber(g_display), POLLIN, 0}, {0, POLLIN, 0}};
    if (poll(fds, 2, 100) < 0) continue;
    if (fds[1].revents & (POLLIN | POLLHUP)) {
      char chunk[4096];
      const ssize_t n = read(0, chunk, sizeof chunk);
      if (n <= 0) break;  // the test is gone
      pending.append(chunk, static_cast<std::size_t>(n));
      for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
        const std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        Command(line);
      }
    }
  }
  XCloseDisplay(g_display);
  return 0;
}
