// The clipboard's CF_TEXT contents.
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
