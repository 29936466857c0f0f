#include "platform/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/environment.h"

namespace platform {

bool ClaimSingleInstance(const std::string& name) {
  const auto folder = TempFolder();
  if (!folder) return true;
  std::string file = *folder;
  for (char c : name) file += (c == '/' || c == '\\') ? '_' : c;
  file += ".lock";
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  return true;  // the descriptor stays open, and locked, until the process ends
}

}  // namespace platform
