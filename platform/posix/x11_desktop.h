// What the X11 windows and input services share: the atoms they name, the
// window manager's presence, the client window behind any window, the bounded
// waits (each ends early on a stop signal).
#pragma once
#include <X11/Xlib.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/input.h"
#include "platform/windows.h"

namespace platform::x11 {

// The services over the display of Connection() (which must be open).
Windows& DesktopWindows();
Input& DesktopInput();

struct Atoms {
  Atom wm_state, wm_protocols, wm_delete_window, wm_change_state, wm_transient_for, utf8_string;
  Atom net_wm_name, net_client_list_stacking, net_active_window, net_supporting_wm_check, net_wm_state;
  Atom net_wm_state_hidden, net_wm_state_max_vert, net_wm_state_max_horz, net_wm_state_above, net_wm_pid;
  Atom net_wm_ping, net_close_window, net_frame_extents;
};
// The display of Connection(), with an error handler that lets failed
// requests (a window that went away) come back as failures instead of ending
// the program.
Display* Dpy();
const Atoms& atoms();

// A property's items (format 32 items as unsigned longs, format 8 as bytes).
struct Property {
  Atom type = None;
  int format = 0;
  std::vector<unsigned long> items;
  std::string bytes;
};
std::optional<Property> ReadProperty(Window window, Atom property, long most_items = 4096);
// True when a window manager that follows the desktop conventions (EWMH) runs.
bool ManagerRuns();
// The client window (the one with WM_STATE, else the child of the root) that
// holds `window`; 0 for the root or none.
Window ClientOf(Window window);
// True when the keyboard focus is on `client`, inside it, or on its frame.
bool FocusInside(Window client);
// A client message about `window` (format 32), for XSendEvent.
XEvent ClientMessageOf(Window window, Atom type, long l0, long l1 = 0, long l2 = 0, long l3 = 0);
// A message to the window manager about `client` (on the root window).
void SendToManager(Window client, Atom type, long l0, long l1 = 0, long l2 = 0, long l3 = 0);
// True when the client names `protocol` in WM_PROTOCOLS.
bool HasProtocol(Window client, Atom protocol);
// _NET_WM_PING: asks the client to answer, on a connection of its own so
// that the answer is seen whatever else reads events. Every request sent
// before the ping has reached the client before it; the answer says that the
// client has read them. Send: a token, 0 when the client does not answer
// pings. Answered: true once the answer came.
unsigned long SendPing(Window client);
bool PingAnswered(unsigned long token);
// Polls `done` every few milliseconds until it holds, `bound_ms` have
// passed, or a stop signal arrives; returns its last answer.
bool WaitUntil(const std::function<bool()>& done, int bound_ms);

}  // namespace platform::x11
