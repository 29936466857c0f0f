// A runtime that "creates its window" locks the byte at its process id of
// OlvexClass.windows in the private temporary folder; counting asks the
// kernel for the locks other processes hold there. Record locks belong to the
// process and end with it, so a runtime that crashed is never counted.
// (Closing any descriptor of the file would drop the process's locks: the one
// descriptor stays open for the life of the process.)
#include "platform/main_window.h"

#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "platform/environment.h"

namespace platform {
namespace {

std::mutex g_mutex;
int g_fd = -1;
std::string g_path;
bool g_created = false;

// The file in the temporary folder in force; -1 when there is none.
int WindowsFile() {
  const auto folder = TempFolder();
  if (!folder) return g_created ? g_fd : -1;
  const std::string path = *folder + "OlvexClass.windows";
  // The folder moved (tests change TMPDIR): follow it, unless this process's
  // own mark lives in the old file.
  if (g_fd >= 0 && path != g_path && !g_created) {
    ::close(g_fd);
    g_fd = -1;
  }
  if (g_fd < 0) {
    g_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    g_path = path;
  }
  return g_fd;
}

}  // namespace

bool CreateMainWindow() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_created) return true;
  const int fd = WindowsFile();
  if (fd < 0) return true;  // no folder to mark in: the runtime runs all the same
  struct flock mark {};
  mark.l_type = F_WRLCK;
  mark.l_whence = SEEK_SET;
  mark.l_start = static_cast<off_t>(::getpid());
  mark.l_len = 1;
  g_created = ::fcntl(fd, F_SETLK, &mark) == 0;
  return true;
}

int CountMainWindows() {
  std::lock_guard<std::mutex> lock(g_mutex);
  int count = g_created ? 1 : 0;
  const int fd = WindowsFile();
  if (fd < 0) return count;
  // F_GETLK reports the first lock of another process that overlaps the range.
  off_t start = 0;
  for (;;) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = start;
    probe.l_len = 0;  // to the end of any file size
    if (::fcntl(fd, F_GETLK, &probe) != 0 || probe.l_type == F_UNLCK) break;
    ++count;
    if (probe.l_len <= 0) break;
    start = probe.l_start + probe.l_len;
  }
  return count;
}

}  // namespace platform
