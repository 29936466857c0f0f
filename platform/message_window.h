#pragma once
// The message window: where other programs send a running script the messages
// that its Message loop takes one at a time, in the order they arrived.
// Windows: a hidden window of class "OlvexMessageWindow" titled "Olvex
// Messages <process id>"; each WM_COPYDATA it receives is one message (its
// bytes up to the first zero byte); WM_CLOSE closes it.
// POSIX: a named pipe "messages-<process id>" in the private temporary
// folder; each line written to it is one message (a closing CR dropped);
// removing the pipe closes the window. The pipe goes when the program ends.
#include <optional>
#include <string>

namespace platform {

// Opens the message window, or keeps the one open (`created` tells which).
// Windows: the calling thread must serve messages (the main thread). `name`
// gets where senders find it (the window's title, the pipe's path); false
// with `error` when it cannot be opened.
bool OpenMessageWindow(std::string* name, bool* created, std::string* error);

struct WindowMessage {
  bool open = false;                   // false once the window was closed (or never opened)
  std::optional<std::string> message;  // the oldest message not yet taken
};
// Takes the next message. Messages that arrived before the window was closed
// are still delivered.
WindowMessage NextWindowMessage();

}  // namespace platform
