// The clipboard's CF_TEXT contents, and pictures as CF_DIB with a CF_BITMAP
// of the display's format beside it.
#include <windows.h>

#include <cstring>

#include "platform/clipboard.h"

namespace platform {
namespace {

// Another program may hold the clipboard for a moment: try for about a second.
bool OpenClipboardPatiently() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (OpenClipboard(nullptr)) return true;
    Sleep(20);
  }
  return false;
}

HGLOBAL GlobalCopy(const std::string& bytes) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!memory) return nullptr;
  void* target = GlobalLock(memory);
  if (!target) {
    GlobalFree(memory);
    return nullptr;
  }
  std::memcpy(target, bytes.data(), bytes.size());
  GlobalUnlock(memory);
  return memory;
}

// The bitmap of the display's format that the picture makes.
HBITMAP DeviceBitmapOf(const std::string& dib) {
  const auto* info = reinterpret_cast<const BITMAPINFO*>(dib.data());
  const BITMAPINFOHEADER& header = info->bmiHeader;
  std::size_t offset = header.biSize;
  if (header.biBitCount <= 8) offset += sizeof(RGBQUAD) * (header.biClrUsed ? header.biClrUsed : 1u << header.biBitCount);
  if (offset >= dib.size()) return nullptr;
  HDC screen = GetDC(nullptr);
  if (!screen) return nullptr;
  HBITMAP bitmap = CreateDIBitmap(screen, &header, CBM_INIT, dib.data() + offset, info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

class Win32Clipboard : public Clipboard {
 public:
  std::optional<std::string> Text() override {
    if (!IsClipboardFormatAvailable(CF_TEXT) || !OpenClipboardPatiently()) return std::nullopt;
    std::optional<std::string> text;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
      SIZE_T size = GlobalSize(data);
      if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
        text = std::string(bytes, strnlen(bytes, size));
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
    return text;
  }

  bool SetText(const std::string& text) override {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (!memory) return false;
    char* bytes = static_cast<char*>(GlobalLock(memory));
    if (!bytes) {
      GlobalFree(memory);
      return false;
    }
    std::memcpy(bytes, text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    if (!OpenClipboardPatiently()) {
      GlobalFree(memory);
      return false;
    }
    EmptyClipboard();
    bool ok = SetClipboardData(CF_TEXT, memory) != nullptr;
    CloseClipboard();
    if (!ok) GlobalFree(memory);
    return ok;
  }

  bool SetPicture(const std::string& dib, std::string& error) override {
    if (dib.size() < sizeof(BITMAPINFOHEADER)) {
      error = "The picture is not a bitmap";
      return false;
    }
    HGLOBAL memory = GlobalCopy(dib);
    HBITMAP bitmap = DeviceBitmapOf(dib);
    if (!memory || !bitmap) {
      if (memory) GlobalFree(memory);
      if (bitmap) DeleteObject(bitmap);
      error = "The picture's bitmap cannot be made";
      return false;
    }
    if (!OpenClipboardPatiently()) {
      GlobalFree(memory);
      DeleteObject(bitmap);
      error = "The clipboard cannot be opened";
      return false;
    }
    EmptyClipboard();
    // The clipboard owns what it took; what it refused is freed here.
    const bool dib_taken = SetClipboardData(CF_DIB, memory) != nullptr;
    const bool bitmap_taken = SetClipboardData(CF_BITMAP, bitmap) != nullptr;
    CloseClipboard();
    if (!dib_taken) GlobalFree(memory);
    if (!bitmap_taken) DeleteObject(bitmap);
    if (!dib_taken || !bitmap_taken) error = "The clipboard did not take the picture";
    return dib_taken && bitmap_taken;
  }

  std::optional<std::string> Picture() override {
    if (!IsClipboardFormatAvailable(CF_DIB) || !OpenClipboardPatiently()) return std::nullopt;
    std::optional<std::string> dib;
    if (HANDLE data = GetClipboardData(CF_DIB)) {
      if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
        dib = std::string(bytes, GlobalSize(data));
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
    return dib;
  }

  bool Clear() override {
    if (!OpenClipboardPatiently()) return false;
    const bool ok = EmptyClipboard() != 0;
    CloseClipboard();
    return ok;
  }
};

}  // namespace

Clipboard& PlatformClipboard() {
  static Win32Clipboard instance;
  return instance;
}

}  // namespace platform
