// The X server's CLIPBOARD selection when DISPLAY names one; otherwise no
// clipboard: nothing to read, and writing fails.
#include "platform/clipboard.h"

#include "platform/posix/x11_clipboard.h"

namespace platform {
namespace {

class NoClipboard : public Clipboard {
 public:
  std::optional<std::string> Text() override { return std::nullopt; }
  bool SetText(const std::string&) override { return false; }
  bool Clear() override { return false; }
};

}  // namespace

Clipboard& PlatformClipboard() {
  if (Clipboard* desktop = x11::DesktopClipboard()) return *desktop;
  static NoClipboard instance;
  return instance;
}

}  // namespace platform
