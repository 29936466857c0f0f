// The run-tracking window: a layered, topmost tool window of the class
// "OlvexTracking" that never takes the focus (the keys a script types must
// reach their program). Its own title stays empty, so that no window search
// of a script finds it; the text is in its one child, a Static control.
#include <windows.h>

#include "platform/tracking_window.h"

namespace platform {
namespace {

constexpr int kMargin = 6;
HWND g_window = nullptr;
HWND g_text = nullptr;
HBRUSH g_brush = nullptr;
COLORREF g_fill = 0;

LRESULT CALLBACK TrackingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CTLCOLORSTATIC:
      SetBkColor(reinterpret_cast<HDC>(wparam), g_fill);
      SetTextColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(g_brush);
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(window, &r);
      FillRect(reinterpret_cast<HDC>(wparam), &r, g_brush);
      return 1;
    }
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

bool RegisterTrackingClass() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TrackingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    wc.lpszClassName = "OlvexTracking";
    return RegisterClassA(&wc) != 0;
  }();
  return registered;
}

}  // namespace

bool OpenTrackingWindow(const TrackingLook& look) {
  CloseTrackingWindow();
  if (!RegisterTrackingClass()) return false;
  g_fill = look.fill;
  g_brush = CreateSolidBrush(look.fill);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  int line = 16;
  if (HDC dc = GetDC(nullptr)) {
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA metrics{};
    if (GetTextMetricsA(dc, &metrics)) line = metrics.tmHeight + metrics.tmExternalLeading;
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
  }
  const int height = 2 * line + 2 * kMargin + 2;
  const int x = look.x >= 0 ? look.x : GetSystemMetrics(SM_CXSCREEN) - look.width - 10;
  const int y = look.y >= 0 ? look.y : 10;
  g_window = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_LAYERED, "OlvexTracking", "",
                             WS_POPUP | WS_BORDER, x, y, look.width, height, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
  if (!g_window) {
    DeleteObject(g_brush);
    g_brush = nullptr;
    return false;
  }
  SetLayeredWindowAttributes(g_window, 0, static_cast<BYTE>(look.alpha), LWA_ALPHA);
  RECT client;
  GetClientRect(g_window, &client);
  g_text = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, kMargin, kMargin,
                           client.right - 2 * kMargin, client.bottom - 2 * kMargin, g_window, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  SendMessageA(g_text, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ShowWindow(g_window, SW_SHOWNOACTIVATE);
  return true;
}

void SetTrackingText(const std::string& text) {
  if (!g_text) return;
  // A Static control breaks lines at CR LF.
  std::string shown;
  for (char c : text) {
    if (c == '\n') shown += '\r';
    shown += c;
  }
  SetWindowTextA(g_text, shown.c_str());
}

void CloseTrackingWindow() {
  if (g_window) DestroyWindow(g_window);
  g_window = nullptr;
  g_text = nullptr;
  if (g_brush) DeleteObject(g_brush);
  g_brush = nullptr;
}

bool TrackingWindowOpen() { return g_window != nullptr; }

}  // namespace platform
