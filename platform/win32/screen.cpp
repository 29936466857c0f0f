#include <windows.h>

#include <vector>

#include "platform/screen.h"

namespace platform {
namespace {

class Win32Screen : public Screen {
 public:
  std::optional<Colour> PixelAt(int x, int y) override {
    HDC dc = GetDC(nullptr);
    if (!dc) return std::nullopt;
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(nullptr, dc);
    if (colour == CLR_INVALID) return std::nullopt;
    return static_cast<Colour>(colour & 0x00FFFFFF);
  }

  std::optional<MonitorSize> SecondMonitor() override {
    static const std::optional<MonitorSize> second = [] {
      std::vector<MonitorSize> sizes;
      EnumDisplayMonitors(
          nullptr, nullptr,
          [](HMONITOR, HDC, LPRECT r, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<MonitorSize>*>(list)->push_back({r->right - r->left, r->bottom - r->top});
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&sizes));
      return sizes.size() > 1 ? std::optional<MonitorSize>(sizes[1]) : std::nullopt;
    }();
    return second;
  }

  ScreenInfo Info() override {
    ScreenInfo info;
    info.width = GetSystemMetrics(SM_CXSCREEN);
    info.height = GetSystemMetrics(SM_CYSCREEN);
    info.monitors = GetSystemMetrics(SM_CMONITORS);
    if (HDC dc = GetDC(nullptr)) {
      info.bits_per_pixel = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
      ReleaseDC(nullptr, dc);
    }
    return info;
  }
};

}  // namespace

Screen& PlatformScreen() {
  static Win32Screen instance;
  return instance;
}

}  // namespace platform
