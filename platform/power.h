#pragma once
// Ending the user's session or the system: log off, restart, shut down. The
// service is an interface so that tests put a recorder in its place
// (SetPowerForTest) and nobody is ever logged off by a test.
#include <string>

namespace platform {

// The modes of ExitWindowsEx.
namespace exit_mode {
constexpr int kLogoff = 0, kShutdown = 1, kReboot = 2, kForce = 4, kPowerOff = 8;
}

class Power {
 public:
  virtual ~Power() = default;
  // Asks the system to end in `mode` (exit_mode::...). False when it refuses,
  // with the reason in `error`.
  virtual bool ExitSystem(int mode, std::string* error) = 0;
};

// The service in force: the platform's own, or the one a test installed.
// POSIX fails every request: a user program cannot end the session there.
Power& power();
// Tests: install a fake (nullptr puts the platform's own back).
void SetPowerForTest(Power* fake);

}  // namespace platform
