// A user program cannot end the session or the system here: every request fails.
#include "platform/power.h"

namespace platform {
namespace {

class PosixPower : public Power {
 public:
  bool ExitSystem(int /*mode*/, std::string* error) override {
    if (error) *error = "Logging off, restarting and shutting down are not available on this system";
    return false;
  }
};

}  // namespace

Power& PlatformPower() {
  static PosixPower instance;
  return instance;
}

}  // namespace platform
