#include "platform/message_window.h"

#include <windows.h>

#include <deque>
#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
HWND g_window = nullptr;
DWORD g_thread = 0;
std::deque<std::string> g_messages;

LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
      std::string text;
      if (data && data->lpData) text.assign(static_cast<const char*>(data->lpData), data->cbData);
      text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
      std::lock_guard<std::mutex> lock(g_mutex);
      g_messages.push_back(std::move(text));
      return TRUE;
    }
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY: {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_window == window) g_window = nullptr;
      return 0;
    }
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

}  // namespace

bool OpenMessageWindow(std::string* name, bool* created, std::string* error) {
  const std::string title = "Olvex Messages " + std::to_string(GetCurrentProcessId());
  *created = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    // A window whose thread has ended went with it.
    if (g_window && IsWindow(g_window)) {
      *name = title;
      return true;
    }
    g_window = nullptr;
  }
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = MessageWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "OlvexMessageWindow";
    return RegisterClassA(&wc) != 0;
  }();
  HWND window = registered ? CreateWindowExA(WS_EX_TOOLWINDOW, "OlvexMessageWindow", title.c_str(), WS_POPUP, 0, 0, 0,
                                             0, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr)
                           : nullptr;
  if (!window) {
    *error = "The message window cannot be opened";
    return false;
  }
  // Messages from lower integrity levels are welcome too.
  using Filter = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  if (auto filter = reinterpret_cast<Filter>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "ChangeWindowMessageFilterEx"))))
    filter(window, WM_COPYDATA, 1 /* MSGFLT_ALLOW */, nullptr);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_window = window;
  g_thread = GetCurrentThreadId();
  *name = title;
  *created = true;
  return true;
}

WindowMessage NextWindowMessage() {
  HWND window;
  bool own_thread;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    window = g_window;
    own_thread = g_thread == GetCurrentThreadId();
  }
  // The window's own thread serves its messages here (a thread without a loop).
  if (window && own_thread) {
    MSG msg;
    while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  WindowMessage next;
  if (!g_messages.empty()) {
    next.message = std::move(g_messages.front());
    g_messages.pop_front();
  }
  if (g_window && !IsWindow(g_window)) g_window = nullptr;
  next.open = g_window != nullptr || next.message.has_value();
  return next;
}

}  // namespace platform
