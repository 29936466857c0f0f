// No desktop, no clipboard: nothing to read, and writing fails.
#include "platform/clipboard.h"

namespace platform {
namespace {

class PosixClipboard : public Clipboard {
 public:
  std::optional<std::string> Text() override { return std::nullopt; }
  bool SetText(const std::string&) override { return false; }
  bool Clear() override { return false; }
};

}  // namespace

Clipboard& PlatformClipboard() {
  static PosixClipboard instance;
  return instance;
}

}  // namespace platform
