#pragma once
// The Windows shell's services: shortcuts, file-type registrations, network
// drives, and the system's services (the service control manager). POSIX
// has none of them: HasWindowsShell() is false there and every call fails.
// A failing call leaves the system's text in LastErrorText() (platform/file_ops.h).
#include <cstdint>
#include <string>

namespace platform {

bool HasWindowsShell();

struct Shortcut {
  std::string link;  // the .lnk file to write
  std::string target, description, folder, arguments;
  int show = 1;      // 1 normal, 3 maximised, 7 minimised without activation
};
bool CreateShortcut(const Shortcut& shortcut);
// Reads a shortcut's target back (tests); empty when it cannot.
std::string ShortcutTarget(const std::string& link);
// A string of a program's version resource (`name`: "CompanyName", "ProductName", ...) in its
// first listed translation; empty when it has none.
std::string VersionString(const std::string& path, const std::string& name);
// Tells the shell that file associations changed.
void NotifyAssociationsChanged();
// Connects `local` ("H:") to the share `remote`, remembered for later sessions.
bool MapNetworkDrive(const std::string& local, const std::string& remote);
// The system's dialog that maps a network drive, owned by the foreground window.
bool ShowMapDriveDialog();

// Posts WM_COMMAND with `command` to a window.
bool PostCommand(std::uint64_t window, int command);

enum class ServiceStart { kAutomatic = 2, kManual = 3, kDisabled = 4 };
bool StartSystemService(const std::string& name);
bool StopSystemService(const std::string& name);
bool SetServiceStartType(const std::string& name, ServiceStart type);

}  // namespace platform
