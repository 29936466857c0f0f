// olvex-x11-target [--title T] [--class C] [--geometry WxH+X+Y] [--refuse 1] [--for S] [--text FILE]:
// the X11 program the Linux desktop tests drive. One white top-level window that
// records the input it receives. It prints "ready <window id>" once mapped, then
// answers one command a line on standard input; with --for (a script starts it)
// it reads no input and ends after S seconds at the latest:
//   state                 "geometry X Y W H" (client area, root coordinates),
//                         "focused 0|1", "text" (the typed text in UTF-8, \n and
//                         \\ escaped), "record:", the records, "end"
//   clear                 forgets records and text                  -> ok
//   paint X Y W H RRGGBB  a block in client coordinates             -> ok
//   quit
// --refuse 1: the close request (WM_DELETE_WINDOW) is ignored; --text: the typed
// text is written to FILE when the program ends.
// Records: "kd|ku KEYSYM MODS", "md|mu BUTTON X Y MODS", "wh up|down"; MODS is
// C, S, A, W or "-". It answers _NET_WM_PING, as toolkits do.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

struct Block {
  int x, y, w, h;
  unsigned long pixel;
};
Display* g_d = nullptr;
Window g_window = 0;
GC g_gc = nullptr;
std::vector<Block> g_blocks;
std::vector<std::string> g_record;
std::string g_text, g_text_file;
bool g_refuse = false;
Atom g_protocols, g_delete, g_ping;

std::string Mods(unsigned state) {
  std::string m;
  for (auto [mask, letter] : {std::pair{ControlMask, 'C'}, {ShiftMask, 'S'}, {Mod1Mask, 'A'}, {Mod4Mask, 'W'}})
    if (state & mask) m += letter;
  return m.empty() ? "-" : m;
}

void AppendUtf8(std::string& out, unsigned long u) {
  if (u < 0x80) return out.push_back(static_cast<char>(u));
  const int extra = u < 0x800 ? 1 : u < 0x10000 ? 2 : 3;
  out += static_cast<char>(((0xF0 << (3 - extra)) & 0xFF) | (u >> (6 * extra)));
  for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((u >> (6 * k)) & 0x3F));
}

// The character a keysym types; 0 for none.
unsigned long CharOf(KeySym sym) {
  if ((sym >= 0x20 && sym <= 0x7E) || (sym >= 0xA0 && sym <= 0xFF)) return sym;
  if (sym >= 0x1000000 && sym <= 0x110FFFF) return sym - 0x1000000;
  if (sym >= XK_KP_0 && sym <= XK_KP_9) return '0' + (sym - XK_KP_0);
  if (sym == XK_EuroSign) return 0x20AC;
  return sym == XK_Return || sym == XK_KP_Enter ? '\n' : sym == XK_Tab ? '\t' : 0;
}

[[noreturn]] void End() {
  if (FILE* f = g_text_file.empty() ? nullptr : std::fopen(g_text_file.c_str(), "wb")) {
    std::fwrite(g_text.data(), 1, g_text.size(), f);
    std::fclose(f);
  }
  std::exit(0);
}

void Redraw() {
  XSetForeground(g_d, g_gc, WhitePixel(g_d, DefaultScreen(g_d)));
  XFillRectangle(g_d, g_window, g_gc, 0, 0, 4000, 4000);
  for (const Block& b : g_blocks) {
    XSetForeground(g_d, g_gc, b.pixel);
    XFillRectangle(g_d, g_window, g_gc, b.x, b.y, static_cast<unsigned>(b.w), static_cast<unsigned>(b.h));
  }
  XSync(g_d, False);
}

void OnKey(XKeyEvent& e, bool down) {
  char buffer[32];
  KeySym sym = NoSymbol;
  XLookupString(&e, buffer, sizeof buffer, &sym, nullptr);
  const KeySym plain = XLookupKeysym(&e, 0);
  char* name = XKeysymToString(plain);  // Xlib makes the names of Unicode keysyms for the caller
  g_record.push_back(std::string(down ? "kd " : "ku ") + (name ? name : "NoSymbol") + " " + Mods(e.state));
  if (name && (plain & 0xFF000000) == 0x01000000) XFree(name);
  if (!down || (e.state & (ControlMask | Mod1Mask))) return;
  if (sym == XK_BackSpace) {
    while (!g_text.empty() && (static_cast<unsigned char>(g_text.back()) & 0xC0) == 0x80) g_text.pop_back();
    if (!g_text.empty()) g_text.pop_back();
  } else if (const unsigned long c = CharOf(sym)) {
    AppendUtf8(g_text, c);
  }
}

void OnEvent(XEvent& e) {
  if (e.type == Expose && e.xexpose.count == 0) Redraw();
  if (e.type == MappingNotify) XRefreshKeyboardMapping(&e.xmapping);
  if (e.type == KeyPress || e.type == KeyRelease) OnKey(e.xkey, e.type == KeyPress);
  if (e.type == ButtonPress || e.type == ButtonRelease) {
    const unsigned b = e.xbutton.button;
    if (b == 4 || b == 5) {
      if (e.type == ButtonPress) g_record.push_back(b == 4 ? "wh up" : "wh down");
    } else {
      g_record.push_back(std::string(e.type == ButtonPress ? "md " : "mu ") + std::to_string(b) + " " +
                         std::to_string(e.xbutton.x) + " " + std::to_string(e.xbutton.y) + " " + Mods(e.xbutton.state));
    }
  }
  if (e.type == ClientMessage && e.xclient.message_type == g_protocols) {
    const Atom what = static_cast<Atom>(e.xclient.data.l[0]);
    if (what == g_ping) {
      e.xclient.window = DefaultRootWindow(g_d);
      XSendEvent(g_d, e.xclient.window, False, SubstructureNotifyMask | SubstructureRedirectMask, &e);
      XFlush(g_d);
    } else if (what == g_delete && !g_refuse) {
      End();
    }
  }
}

// Every event the server sent before now is handled first (a round trip).
void Pump() {
  XSync(g_d, False);
  while (XPending(g_d)) {
    XEvent e;
    XNextEvent(g_d, &e);
    OnEvent(e);
  }
}

void Command(const std::string& line) {
  Pump();
  Block b{};
  unsigned rgb = 0;
  if (line == "state") {
    Window child = 0, focus = 0;
    int x = 0, y = 0, revert = 0;
    XWindowAttributes a;
    XGetWindowAttributes(g_d, g_window, &a);
    XTranslateCoordinates(g_d, g_window, DefaultRootWindow(g_d), 0, 0, &x, &y, &child);
    XGetInputFocus(g_d, &focus, &revert);
    std::string text;
    for (char c : g_text) text += c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
    std::printf("geometry %d %d %d %d\nfocused %d\ntext %s\nrecord:\n", x, y, a.width, a.height, focus == g_window,
                text.c_str());
    for (const std::string& r : g_record) std::printf("%s\n", r.c_str());
    std::printf("end\n");
  } else if (line == "clear") {
    g_record.clear();
    g_text.clear();
    std::printf("ok\n");
  } else if (std::sscanf(line.c_str(), "paint %d %d %d %d %x", &b.x, &b.y, &b.w, &b.h, &rgb) == 5) {
    XColor c{};
    c.red = static_cast<unsigned short>(((rgb >> 16) & 0xFF) * 257);
    c.green = static_cast<unsigned short>(((rgb >> 8) & 0xFF) * 257);
    c.blue = static_cast<unsigned short>((rgb & 0xFF) * 257);
    XAllocColor(g_d, DefaultColormap(g_d, DefaultScreen(g_d)), &c);
    g_blocks.push_back(Block{b.x, b.y, b.w, b.h, c.pixel});
    Redraw();
    std::printf("ok\n");
  } else if (line == "quit") {
    End();
  } else {
    std::printf("error %s\n", line.c_str());
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string title = "Olvex X11 Target", class_name = "OlvexX11Target";
  int x = 40, y = 40, seconds = 0;
  unsigned w = 400, h = 300;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--title") title = argv[i + 1];
    if (arg == "--class") class_name = argv[i + 1];
    if (arg == "--geometry") std::sscanf(argv[i + 1], "%ux%u+%d+%d", &w, &h, &x, &y);
    if (arg == "--refuse") g_refuse = std::string(argv[i + 1]) == "1";
    if (arg == "--for") seconds = std::atoi(argv[i + 1]);
    if (arg == "--text") g_text_file = argv[i + 1];
  }
  if (!(g_d = XOpenDisplay(nullptr))) return std::fprintf(stderr, "olvex-x11-target: no X display\n"), 1;
  XKeysymToKeycode(g_d, XK_a);  // the key map is read at the start, as toolkits do
  g_window = XCreateSimpleWindow(g_d, DefaultRootWindow(g_d), x, y, w, h, 0, 0, WhitePixel(g_d, DefaultScreen(g_d)));
  g_gc = XCreateGC(g_d, g_window, 0, nullptr);
  g_protocols = XInternAtom(g_d, "WM_PROTOCOLS", False);
  g_delete = XInternAtom(g_d, "WM_DELETE_WINDOW", False);
  g_ping = XInternAtom(g_d, "_NET_WM_PING", False);
  Atom protocols[2] = {g_delete, g_ping};
  XSetWMProtocols(g_d, g_window, protocols, 2);
  XClassHint hint{const_cast<char*>("olvex-x11-target"), class_name.data()};
  XSetClassHint(g_d, g_window, &hint);
  XSizeHints size{};
  size.flags = USPosition | USSize;
  XSetWMNormalHints(g_d, g_window, &size);
  const long pid = static_cast<long>(getpid());
  XChangeProperty(g_d, g_window, XInternAtom(g_d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  XStoreName(g_d, g_window, title.c_str());
  XChangeProperty(g_d, g_window, XInternAtom(g_d, "_NET_WM_NAME", False), XInternAtom(g_d, "UTF8_STRING", False), 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
  XSelectInput(g_d, g_window, ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask);
  XMapWindow(g_d, g_window);
  // Ready once viewable (under a window manager, once it has put the window up).
  XWindowAttributes a{};
  for (int i = 0; i < 500 && XGetWindowAttributes(g_d, g_window, &a) && a.map_state != IsViewable; ++i) usleep(10000);
  Redraw();
  if (seconds == 0) std::printf("ready %lu\n", static_cast<unsigned long>(g_window));
  std::fflush(stdout);
  std::string pending;
  for (const time_t end = time(nullptr) + seconds;;) {
    Pump();
    if (seconds > 0 && time(nullptr) > end) End();
    pollfd fds[2] = {{ConnectionNumber(g_d), POLLIN, 0}, {0, POLLIN, 0}};
    if (poll(fds, seconds > 0 ? 1 : 2, 100) <= 0 || !(fds[1].revents & (POLLIN | POLLHUP))) continue;
    char chunk[4096];
    const ssize_t n = read(0, chunk, sizeof chunk);
    if (n <= 0) return 0;  // the test is gone
    pending.append(chunk, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1))
      Command(pending.substr(0, nl));
  }
}
