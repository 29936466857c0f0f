// The windows of the X server that DISPLAY names (platform/posix/x11_windows.cpp);
// without one there are no windows to find, activate or close.
#include "platform/windows.h"

#include "platform/posix/x11_desktop.h"
#include "platform/posix/x11_display.h"

namespace platform {
namespace {

class NoWindows : public Windows {
 public:
  WindowId FindTopLevel(const std::string&, const std::string&) override { return 0; }
  bool Exists(WindowId) override { return false; }
  WindowId Foreground() override { return 0; }
  WindowId NextInZOrder(WindowId) override { return 0; }
  bool IsVisible(WindowId) override { return false; }
  std::string Title(WindowId, std::size_t, int) override { return {}; }
  bool Activate(WindowId) override { return false; }
  bool PostClose(WindowId) override { return false; }
  bool Destroy(WindowId) override { return false; }
  bool HasDesktop() override { return false; }
};

}  // namespace

void DeclareDpiAware() {}

Windows& PlatformWindows() {
  if (x11::Connection()) return x11::DesktopWindows();
  static NoWindows instance;
  return instance;
}

}  // namespace platform
