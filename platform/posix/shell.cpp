#include "platform/shell.h"

namespace platform {

bool HasWindowsShell() { return false; }
bool CreateShortcut(const Shortcut&) { return false; }
std::string ShortcutTarget(const std::string&) { return {}; }
std::string VersionString(const std::string&, const std::string&) { return {}; }
void NotifyAssociationsChanged() {}
bool MapNetworkDrive(const std::string&, const std::string&) { return false; }
bool ShowMapDriveDialog() { return false; }
bool PostCommand(std::uint64_t, int) { return false; }
bool StartSystemService(const std::string&) { return false; }
bool StopSystemService(const std::string&) { return false; }
bool SetServiceStartType(const std::string&, ServiceStart) { return false; }

}  // namespace platform
