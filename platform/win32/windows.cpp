#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/windows.h"

namespace platform {
namespace {

// Window handles have 32 significant bits and are sign-extended on 64-bit
// Windows; the id keeps the low 32 bits so that it travels as a number.
HWND ToHwnd(WindowId id) {
  return reinterpret_cast<HWND>(static_cast<INT_PTR>(static_cast<std::int32_t>(static_cast<std::uint32_t>(id))));
}
WindowId FromHwnd(HWND hwnd) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(hwnd));
}

class Win32Windows : public Windows {
 public:
  WindowId FindTopLevel(const std::string& title, const std::string& class_name) override {
    return FromHwnd(FindWindowA(class_name.empty() ? nullptr : class_name.c_str(),
                                title.empty() ? nullptr : title.c_str()));
  }

  bool Exists(WindowId window) override { return window != 0 && IsWindow(ToHwnd(window)); }

  WindowId Foreground() override { return FromHwnd(GetForegroundWindow()); }

  WindowId NextInZOrder(WindowId window) override {
    if (window == 0) return FromHwnd(GetTopWindow(nullptr));
    return FromHwnd(GetWindow(ToHwnd(window), GW_HWNDNEXT));
  }

  bool IsVisible(WindowId window) override { return window != 0 && IsWindowVisible(ToHwnd(window)); }

  std::string ClassName(WindowId window) override {
    char buffer[256] = {};
    if (window == 0 || !GetClassNameA(ToHwnd(window), buffer, sizeof buffer)) return {};
    return buffer;
  }

  std::uint64_t ControlId(WindowId window) override {
    return window ? static_cast<std::uint32_t>(GetWindowLongA(ToHwnd(window), GWL_ID)) : 0;
  }

  std::uint64_t UserData(WindowId window) override {
    return window ? static_cast<std::uint32_t>(GetWindowLongPtrA(ToHwnd(window), GWLP_USERDATA)) : 0;
  }

  std::optional<WindowRect> Rect(WindowId window) override {
    RECT r;
    if (window == 0 || !GetWindowRect(ToHwnd(window), &r)) return std::nullopt;
    return WindowRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
  }

  WindowId FirstChild(WindowId window) override { return window ? FromHwnd(GetWindow(ToHwnd(window), GW_CHILD)) : 0; }

  WindowId Parent(WindowId window) override { return window ? FromHwnd(GetParent(ToHwnd(window))) : 0; }

  bool HasFrame(WindowId window) override {
    return window != 0 && (GetWindowLongA(ToHwnd(window), GWL_STYLE) & (WS_DLGFRAME | WS_THICKFRAME)) != 0;
  }

  std::vector<WindowId> TopLevelWindows() override {
    std::vector<WindowId> list;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&list));
    return list;
  }

  std::vector<WindowId> Descendants(WindowId window) override {
    std::vector<WindowId> list;
    if (window != 0) EnumChildWindows(ToHwnd(window), Collect, reinterpret_cast<LPARAM>(&list));
    return list;
  }

  // A top-level window's title is the caption the system keeps for it (what
  // WM_GETTEXT gives unless the window answers it itself): read without a
  // message, so that a search over many windows, hung ones included, waits on
  // none. A control's text (an edit's contents) is asked for, within the time-out.
  std::string Title(WindowId window, std::size_t max_chars, int timeout_ms) override {
    if (window == 0 || max_chars == 0) return {};
    HWND hwnd = ToHwnd(window);
    if (!(GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD)) {
      std::vector<wchar_t> wide(max_chars + 1, L'\0');
      const int n = InternalGetWindowText(hwnd, wide.data(), static_cast<int>(wide.size()));
      if (n <= 0) return {};
      std::string text(static_cast<std::size_t>(n) * 2 + 1, '\0');
      const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), n, text.data(), static_cast<int>(text.size()), nullptr,
                                            nullptr);
      text.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
      if (text.size() > max_chars) text.resize(max_chars);
      return text;
    }
    std::vector<char> buffer(max_chars + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(ToHwnd(window), WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, timeout_ms < 0 ? 0 : static_cast<UINT>(timeout_ms), &copied))
      return {};
    buffer.back() = '\0';
    return std::string(buffer.data());
  }

  bool Activate(WindowId window) override {
    HWND hwnd = ToHwnd(window);
    if (window == 0 || !IsWindow(hwnd)) return false;
    if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    // Activation and focus belong to the window's thread: share its input
    // state for the two calls when it is another thread.
    DWORD own = GetCurrentThreadId();
    DWORD theirs = GetWindowThreadProcessId(hwnd, nullptr);
    bool attached = theirs != 0 && theirs != own && AttachThreadInput(own, theirs, TRUE);
    SetActiveWindow(hwnd);
    SetFocus(hwnd);
    if (attached) AttachThreadInput(own, theirs, FALSE);
    return true;
  }

  bool PostClose(WindowId window) override {
    return window != 0 && PostMessageA(ToHwnd(window), WM_CLOSE, 0, 0) != 0;
  }

  bool Destroy(WindowId window) override { return window != 0 && DestroyWindow(ToHwnd(window)) != 0; }

  std::uint32_t Style(WindowId window) override {
    return window ? static_cast<std::uint32_t>(GetWindowLongA(ToHwnd(window), GWL_STYLE)) : 0;
  }
  bool IsMinimized(WindowId window) override { return window != 0 && IsIconic(ToHwnd(window)); }
  WindowId DesktopWindow() override { return FromHwnd(GetDesktopWindow()); }
  WindowId AtPoint(long x, long y) override { return FromHwnd(WindowFromPoint(POINT{x, y})); }

  WindowId FocusOfForegroundThread() override {
    HWND foreground = GetForegroundWindow();
    if (!foreground) return 0;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(foreground, nullptr), &info)) return 0;
    return FromHwnd(info.hwndFocus);
  }

  WindowId NextTabItem(WindowId window) override {
    HWND hwnd = ToHwnd(window);
    HWND parent = window ? GetParent(hwnd) : nullptr;
    return parent ? FromHwnd(GetNextDlgTabItem(parent, hwnd, FALSE)) : 0;
  }

  void Do(WindowId window, Call call) override {
    HWND hwnd = ToHwnd(window);
    if (window == 0 || !IsWindow(hwnd)) return;
    switch (call) {
      case Call::BringToTop: BringWindowToTop(hwnd); break;
      case Call::SetForeground: SetForegroundWindow(hwnd); break;
      case Call::Restore: ShowWindow(hwnd, SW_RESTORE); break;
      case Call::Show: ShowWindow(hwnd, SW_SHOW); break;
      case Call::SetFocus: WithInputOf(GetWindowThreadProcessId(hwnd, nullptr), [&] { SetFocus(hwnd); }); break;
      case Call::SetActive: WithInputOf(GetWindowThreadProcessId(hwnd, nullptr), [&] { SetActiveWindow(hwnd); }); break;
      case Call::HotkeyCommand:
        SendMessageTimeoutA(hwnd, WM_SYSCOMMAND, SC_HOTKEY, reinterpret_cast<LPARAM>(hwnd), SMTO_ABORTIFHUNG, 100,
                            nullptr);
        break;
      case Call::SelectAllText:
        SendMessageTimeoutA(hwnd, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, 100, nullptr);
        break;
      case Call::AttachedForeground: {
        HWND foreground = GetForegroundWindow();
        WithInputOf(foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0, [&] {
          SetForegroundWindow(hwnd);
          BringWindowToTop(hwnd);
          SetFocus(hwnd);
        });
        break;
      }
    }
  }

  bool SetText(WindowId window, const std::string& text) override {
    DWORD_PTR result = 0;
    return window != 0 && SendMessageTimeoutA(ToHwnd(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                              SMTO_ABORTIFHUNG, 1000, &result) != 0;
  }

  // The wide form: the system carries the text to another process's list
  // whole, which the ANSI form does not do reliably.
  bool AddListItem(WindowId window, const std::string& text, bool combo) override {
    const int chars = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (window == 0 || chars <= 0) return false;
    std::vector<wchar_t> wide(static_cast<std::size_t>(chars));
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), chars);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(ToHwnd(window), combo ? CB_ADDSTRING : LB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG, 1000, &result))
      return false;
    return static_cast<LRESULT>(result) >= 0;
  }

 private:
  static BOOL CALLBACK Collect(HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<WindowId>*>(list)->push_back(FromHwnd(hwnd));
    return TRUE;
  }
  // Runs `body` with this thread's input state shared with `thread` (when
  // that is another thread), so that focus and activation calls reach it.
  template <class Body>
  static void WithInputOf(DWORD thread, Body body) {
    const DWORD own = GetCurrentThreadId();
    bool attached = false, reversed = false;
    if (thread != 0 && thread != own) {
      attached = AttachThreadInput(own, thread, TRUE) != 0;
      if (!attached) reversed = AttachThreadInput(thread, own, TRUE) != 0;
    }
    body();
    if (attached) AttachThreadInput(own, thread, FALSE);
    if (reversed) AttachThreadInput(thread, own, FALSE);
  }
};

}  // namespace

void DeclareDpiAware() {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  if (!user32) return;
  using ContextFn = BOOL(WINAPI*)(HANDLE);
  if (auto per_monitor = reinterpret_cast<ContextFn>(
          reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")))) {
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, else the first per-monitor form.
    if (per_monitor(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))) ||
        per_monitor(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3))))
      return;
  }
  using AwareFn = BOOL(WINAPI*)();
  if (auto system_aware = reinterpret_cast<AwareFn>(reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDPIAware"))))
    system_aware();
}

Windows& PlatformWindows() {
  static Win32Windows instance;
  return instance;
}

}  // namespace platform
