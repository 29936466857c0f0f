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

  std::string Title(WindowId window, std::size_t max_chars, int timeout_ms) override {
    if (window == 0 || max_chars == 0) return {};
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
};

}  // namespace

Windows& PlatformWindows() {
  static Win32Windows instance;
  return instance;
}

}  // namespace platform
