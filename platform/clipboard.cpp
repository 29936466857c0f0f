#include "platform/clipboard.h"

#include <atomic>

namespace platform {

Clipboard& PlatformClipboard();  // the backend's own service

namespace {
std::atomic<Clipboard*> g_clipboard_override{nullptr};
}

Clipboard& clipboard() {
  Clipboard* fake = g_clipboard_override.load(std::memory_order_acquire);
  return fake ? *fake : PlatformClipboard();
}

void SetClipboardForTest(Clipboard* fake) { g_clipboard_override.store(fake, std::memory_order_release); }

}  // namespace platform
