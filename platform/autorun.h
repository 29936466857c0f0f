#pragma once
// Programs the system starts when the user logs on: the restart entries of
// Wait for Restart. Windows: string values under the current user's
// SOFTWARE\Microsoft\Windows\CurrentVersion\Run key. Linux: XDG autostart
// entries ($XDG_CONFIG_HOME/autostart, else ~/.config/autostart), one file
// "olvex-<name>.desktop" per entry. The service is an interface so that tests
// can put a fake in place of the real one (SetAutoRunForTest).
#include <optional>
#include <string>

namespace platform {

class AutoRun {
 public:
  virtual ~AutoRun() = default;
  // The command line of entry `name`; nothing when there is none.
  virtual std::optional<std::string> Read(const std::string& name) = 0;
  // Creates or replaces the entry; false when it cannot be stored.
  virtual bool Write(const std::string& name, const std::string& command) = 0;
  // Removes the entry; true when none is left.
  virtual bool Remove(const std::string& name) = 0;
};

// The service in force: the platform's own, or the one a test installed.
AutoRun& autorun();
// Tests: install a fake (nullptr puts the platform's own back).
void SetAutoRunForTest(AutoRun* fake);

}  // namespace platform
