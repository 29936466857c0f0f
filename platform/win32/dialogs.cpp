#include <windows.h>

#include "platform/dialogs.h"

namespace platform {
namespace {

class Win32Dialogs : public Dialogs {
 public:
  int ShowMessage(const std::string& text, const std::string& title, unsigned style) override {
    return MessageBoxA(nullptr, text.c_str(), title.c_str(), style);
  }
};

}  // namespace

Dialogs& PlatformDialogs() {
  static Win32Dialogs instance;
  return instance;
}

}  // namespace platform
