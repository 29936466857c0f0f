// No desktop keyboard to read: no key is held and no lock is on.
#include "platform/input.h"

namespace platform {
namespace {

class NoInput : public Input {
 public:
  bool IsKeyDown(int) override { return false; }
  bool IsKeyToggled(int) override { return false; }
};

}  // namespace

Input& PlatformInput() {
  static NoInput instance;
  return instance;
}

}  // namespace platform
