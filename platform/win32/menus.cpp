#include <windows.h>

#include <cstdint>
#include <mutex>

#include "platform/menus.h"

namespace platform {
namespace {

constexpr char kHandlerClass[] = "BrenvoMenuHandler";
constexpr UINT_PTR kCloseTimer = 1;

// Window ids keep the low 32 bits of the handle (sign-extended back).
HWND ToHwnd(WindowId id) {
  return reinterpret_cast<HWND>(static_cast<INT_PTR>(static_cast<std::int32_t>(static_cast<std::uint32_t>(id))));
}

// Reads the items of one menu; false when the system refuses the menu.
bool ReadMenu(HMENU menu, int levels_left, std::vector<MenuItem>& out) {
  const int count = GetMenuItemCount(menu);
  if (count < 0) return false;
  out.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    if (!GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info)) return false;
    MenuItem item;
    item.separator = (info.fType & MFT_SEPARATOR) != 0;
    item.disabled = (info.fState & MFS_DISABLED) != 0;  // MFS_GRAYED includes it
    HMENU submenu = info.hSubMenu;  // a second call clears it
    item.submenu = submenu != nullptr;
    if (!item.submenu && !item.separator) item.command = info.wID;
    if (info.cch > 0 && !item.separator) {
      std::string text(info.cch + 1, '\0');
      info.fMask = MIIM_STRING;
      info.dwTypeData = text.data();
      info.cch = static_cast<UINT>(text.size());
      if (GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info)) {
        text.resize(info.cch);
        item.text = std::move(text);
      }
    }
    if (submenu && levels_left > 1 && !ReadMenu(submenu, levels_left - 1, item.items)) return false;
    out.push_back(std::move(item));
  }
  return true;
}

// The hidden window that owns the popup menu; while the menu is open its
// timer asks whether the menu must close.
LRESULT CALLBACK HandlerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_TIMER && wp == kCloseTimer) {
    const auto* close = reinterpret_cast<const std::function<bool()>*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (close && *close && (*close)()) EndMenu();
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

class Win32Menus : public Menus {
 public:
  std::optional<std::vector<MenuItem>> MenuBar(WindowId window, int max_depth) override {
    HWND hwnd = ToHwnd(window);
    if (window == 0 || !IsWindow(hwnd)) return std::nullopt;
    HMENU bar = GetMenu(hwnd);
    if (!bar || !IsMenu(bar)) return std::nullopt;
    std::vector<MenuItem> items;
    if (!ReadMenu(bar, max_depth, items)) return std::nullopt;
    return items;
  }

  bool PostCommand(WindowId window, std::uint32_t command) override {
    HWND hwnd = ToHwnd(window);
    return window != 0 && IsWindow(hwnd) && PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(command & 0xFFFF, 0), 0);
  }

  bool PostSystemCommand(WindowId window, SystemCommand command) override {
    static constexpr WPARAM kCodes[] = {SC_MAXIMIZE, SC_MINIMIZE, SC_RESTORE, SC_MOVE, SC_CLOSE, SC_SIZE};
    HWND hwnd = ToHwnd(window);
    return window != 0 && IsWindow(hwnd) &&
           PostMessageA(hwnd, WM_SYSCOMMAND, kCodes[static_cast<int>(command)], 0);
  }

  int ShowPopup(const std::vector<PopupLine>& lines, const std::function<bool()>& close,
                std::string& error) override {
    static std::once_flag registered;
    std::call_once(registered, [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = HandlerProc;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = kHandlerClass;
      RegisterClassA(&wc);
    });
    HWND handler = CreateWindowExA(WS_EX_TOOLWINDOW, kHandlerClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    if (!handler) {
      error = "Unable to create the popup menu's window";
      return -1;
    }
    HMENU menu = CreatePopupMenu();
    bool built = menu != nullptr;
    for (const PopupLine& line : lines) {
      if (!built) break;
      built = line.separator ? AppendMenuA(menu, MF_SEPARATOR, 0, nullptr)
                             : AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(line.command), line.text.c_str());
    }
    int chosen = -1;
    if (built) {
      SetWindowLongPtrA(handler, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&close));
      SetTimer(handler, kCloseTimer, 100, nullptr);
      POINT at{};
      GetCursorPos(&at);
      // The owner must be the foreground window, or the menu does not close
      // when the user clicks elsewhere.
      SetForegroundWindow(handler);
      chosen = static_cast<int>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN |
                                                         TPM_RIGHTBUTTON, at.x, at.y, 0, handler, nullptr));
      KillTimer(handler, kCloseTimer);
      SetWindowLongPtrA(handler, GWLP_USERDATA, 0);
    } else {
      error = "Unable to build the popup menu";
    }
    if (menu) DestroyMenu(menu);
    DestroyWindow(handler);
    return chosen;
  }
};

}  // namespace

Menus& PlatformMenus() {
  static Win32Menus instance;
  return instance;
}

}  // namespace platform
