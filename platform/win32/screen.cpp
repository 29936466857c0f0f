#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <cstring>
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

  ScreenArea SearchArea() override {
    std::vector<RECT> monitors;
    EnumDisplayMonitors(
        nullptr, nullptr,
        [](HMONITOR, HDC, LPRECT r, LPARAM list) -> BOOL {
          reinterpret_cast<std::vector<RECT>*>(list)->push_back(*r);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&monitors));
    if (monitors.size() < 2) return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    RECT both;
    UnionRect(&both, &monitors[0], &monitors[1]);
    return {both.left, both.top, both.right - both.left, both.bottom - both.top};
  }

  bool Capture(const ScreenArea& area, bool slow, Pixels& out) override {
    if (area.width <= 0 || area.height <= 0) return false;
    out.width = area.width;
    out.height = area.height;
    out.colours.assign(static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height), 0);
    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    const bool done = slow ? CaptureSlowly(screen, area, out) : CaptureFast(screen, area, out);
    ReleaseDC(nullptr, screen);
    return done;
  }

  bool DecodePicture(const std::string& bytes, Pixels& out, std::string& error) override {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool decoded = Decode(bytes, out, error);
    if (SUCCEEDED(com)) CoUninitialize();
    return decoded;
  }

  std::uint32_t SwapPriorityClass(std::uint32_t priority_class) override {
    const DWORD old = GetPriorityClass(GetCurrentProcess());
    SetPriorityClass(GetCurrentProcess(), priority_class);
    return old;
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

 private:
  // One copy of the area into a bitmap, read back in the display's own
  // format (16 bits as 5-5-5, 24 and 32 bits as blue, green, red).
  static bool CaptureFast(HDC screen, const ScreenArea& area, Pixels& out) {
    const int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    if (bits != 16 && bits != 24 && bits != 32) return false;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = memory ? CreateCompatibleBitmap(screen, area.width, area.height) : nullptr;
    bool done = false;
    if (bitmap) {
      HGDIOBJ old = SelectObject(memory, bitmap);
      done = BitBlt(memory, 0, 0, area.width, area.height, screen, area.left, area.top, SRCCOPY) != 0;
      SelectObject(memory, old);
      BITMAPINFO info{};
      info.bmiHeader.biSize = sizeof info.bmiHeader;
      info.bmiHeader.biWidth = area.width;
      info.bmiHeader.biHeight = -area.height;  // rows from the top
      info.bmiHeader.biPlanes = 1;
      info.bmiHeader.biBitCount = static_cast<WORD>(bits);
      info.bmiHeader.biCompression = BI_RGB;
      const std::size_t stride = (static_cast<std::size_t>(area.width) * static_cast<std::size_t>(bits) + 31) / 32 * 4;
      std::vector<unsigned char> rows(stride * static_cast<std::size_t>(area.height));
      done = done && GetDIBits(memory, bitmap, 0, static_cast<UINT>(area.height), rows.data(), &info, DIB_RGB_COLORS) ==
                         area.height;
      for (int y = 0; done && y < area.height; ++y) {
        const unsigned char* row = rows.data() + stride * static_cast<std::size_t>(y);
        Colour* line = out.colours.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(area.width);
        for (int x = 0; x < area.width; ++x) {
          if (bits == 16) {
            const unsigned v = row[x * 2] | row[x * 2 + 1] << 8;
            line[x] = MakeColour(static_cast<int>((v >> 10) & 31) << 3, static_cast<int>((v >> 5) & 31) << 3,
                                 static_cast<int>(v & 31) << 3);
          } else {
            const unsigned char* p = row + x * (bits / 8);
            line[x] = MakeColour(p[2], p[1], p[0]);
          }
        }
      }
      DeleteObject(bitmap);
    }
    if (memory) DeleteDC(memory);
    return done;
  }

  static bool CaptureSlowly(HDC screen, const ScreenArea& area, Pixels& out) {
    for (int y = 0; y < area.height; ++y)
      for (int x = 0; x < area.width; ++x) {
        const COLORREF c = GetPixel(screen, area.left + x, area.top + y);
        out.colours[static_cast<std::size_t>(y) * static_cast<std::size_t>(area.width) + static_cast<std::size_t>(x)] =
            c == CLR_INVALID ? 0 : static_cast<Colour>(c & 0x00FFFFFF);
      }
    return true;
  }

  static bool Decode(const std::string& bytes, Pixels& out, std::string& error) {
    error = "The picture cannot be read";
    if (bytes.empty()) return false;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!memory) return false;
    if (void* p = GlobalLock(memory)) {
      std::memcpy(p, bytes.data(), bytes.size());
      GlobalUnlock(memory);
    }
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
      GlobalFree(memory);
      return false;
    }
    IPicture* picture = nullptr;
    const HRESULT loaded = OleLoadPicture(stream, static_cast<LONG>(bytes.size()), FALSE, IID_IPicture,
                                          reinterpret_cast<void**>(&picture));
    stream->Release();
    if (FAILED(loaded) || !picture) return false;
    OLE_XSIZE_HIMETRIC himetric_w = 0;
    OLE_YSIZE_HIMETRIC himetric_h = 0;
    picture->get_Width(&himetric_w);
    picture->get_Height(&himetric_h);
    HDC screen = GetDC(nullptr);
    const int width = MulDiv(himetric_w, GetDeviceCaps(screen, LOGPIXELSX), 2540);
    const int height = MulDiv(himetric_h, GetDeviceCaps(screen, LOGPIXELSY), 2540);
    bool done = false;
    if (width > 0 && height > 0) {
      BITMAPINFO info{};
      info.bmiHeader.biSize = sizeof info.bmiHeader;
      info.bmiHeader.biWidth = width;
      info.bmiHeader.biHeight = -height;
      info.bmiHeader.biPlanes = 1;
      info.bmiHeader.biBitCount = 32;
      info.bmiHeader.biCompression = BI_RGB;
      void* bits = nullptr;
      HDC memory = CreateCompatibleDC(screen);
      HBITMAP bitmap = memory ? CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
      if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
        done = SUCCEEDED(picture->Render(memory, 0, 0, width, height, 0, himetric_h, himetric_w, -himetric_h, nullptr));
        GdiFlush();
        SelectObject(memory, old);
        out.width = width;
        out.height = height;
        out.colours.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        const unsigned char* p = static_cast<const unsigned char*>(bits);
        for (std::size_t i = 0; i < out.colours.size(); ++i) out.colours[i] = MakeColour(p[i * 4 + 2], p[i * 4 + 1], p[i * 4]);
      }
      if (bitmap) DeleteObject(bitmap);
      if (memory) DeleteDC(memory);
    }
    ReleaseDC(nullptr, screen);
    picture->Release();
    if (done) error.clear();
    return done;
  }
};

}  // namespace

Screen& PlatformScreen() {
  static Win32Screen instance;
  return instance;
}

}  // namespace platform
