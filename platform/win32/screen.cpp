#include <windows.h>

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
