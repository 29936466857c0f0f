// Restart entries as XDG autostart entries: the session starts each
// "olvex-<name>.desktop" of $XDG_CONFIG_HOME/autostart (~/.config/autostart)
// when the user logs on. The command is kept as written in X-Olvex-Command.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/autorun.h"
#include "platform/environment.h"

namespace platform {
namespace {

constexpr const char* kCommandKey = "X-Olvex-Command=";

std::string AutostartFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config == '/') return std::string(config) + "/autostart";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.config/autostart";
}

std::string EntryPath(const std::string& name) {
  std::string file = "olvex-";
  for (const char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    file += plain ? c : '_';
  }
  return AutostartFolder() + "/" + file + ".desktop";
}

// The Exec key's form of the command: `%` doubled, and the backslash escaped
// for the quoting rules and again for the desktop file's string rules.
std::string ExecForm(const std::string& command) {
  std::string exec;
  for (const char c : command) {
    if (c == '%') exec += "%%";
    else if (c == '\\') exec += "\\\\\\\\";
    else if (c == '\n' || c == '\r') exec += ' ';
    else exec += c;
  }
  return exec;
}

class XdgAutostart : public AutoRun {
 public:
  std::optional<std::string> Read(const std::string& name) override {
    std::ifstream in(EntryPath(name), std::ios::binary);
    if (!in) return std::nullopt;
    std::string line;
    while (std::getline(in, line))
      if (line.rfind(kCommandKey, 0) == 0) return line.substr(std::string(kCommandKey).size());
    return std::string();
  }
  bool Write(const std::string& name, const std::string& command) override {
    const std::string folder = AutostartFolder();
    const std::string parent = folder.substr(0, folder.rfind('/'));
    mkdir(parent.c_str(), 0700);
    mkdir(folder.c_str(), 0700);
    std::string flat = command;
    for (char& c : flat)
      if (c == '\n' || c == '\r') c = ' ';
    std::ostringstream entry;
    entry << "[Desktop Entry]\nType=Application\nName=Olvex " << name << "\nExec=" << ExecForm(command) << "\n"
          << kCommandKey << flat << "\n";
    return WriteFileReplacing(EntryPath(name), entry.str());
  }
  bool Remove(const std::string& name) override {
    const std::string path = EntryPath(name);
    struct stat info {};
    return stat(path.c_str(), &info) != 0 || RemoveFile(path);
  }
};

}  // namespace

AutoRun& PlatformAutoRun() {
  static XdgAutostart service;
  return service;
}

}  // namespace platform
