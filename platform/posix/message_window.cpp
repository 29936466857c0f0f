#include "platform/message_window.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/environment.h"

namespace platform {
namespace {

struct Pipe {
  std::mutex mutex;
  std::string path;
  int fd = -1;
  ino_t inode = 0;
  std::string pending;  // bytes read that do not yet end a line

  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  ~Pipe() {
    Close();
    if (!path.empty()) ::unlink(path.c_str());
  }
};

Pipe& ThePipe() {
  static Pipe pipe;
  return pipe;
}

// The first whole line of `pending`, taken off it.
std::optional<std::string> TakeLine(std::string& pending) {
  const std::size_t end = pending.find('\n');
  if (end == std::string::npos) return std::nullopt;
  std::string line = pending.substr(0, end);
  pending.erase(0, end + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

bool OpenMessageWindow(std::string* name, bool* created, std::string* error) {
  Pipe& pipe = ThePipe();
  std::lock_guard<std::mutex> lock(pipe.mutex);
  *created = false;
  struct stat info {};
  if (pipe.fd >= 0 && ::lstat(pipe.path.c_str(), &info) == 0 && info.st_ino == pipe.inode) {
    *name = pipe.path;
    return true;
  }
  pipe.Close();  // a pipe removed meanwhile is replaced
  pipe.pending.clear();
  const std::optional<std::string> folder = TempFolder();
  if (!folder) {
    *error = "The message window cannot be opened: there is no private temporary folder";
    return false;
  }
  const std::string path = *folder + "messages-" + std::to_string(::getpid());
  ::unlink(path.c_str());
  if (::mkfifo(path.c_str(), 0600) != 0 || ::lstat(path.c_str(), &info) != 0) {
    *error = "The message window \"" + path + "\" cannot be opened: " + std::strerror(errno);
    return false;
  }
  // Non-blocking: a read finds what the writers sent so far, and none waiting is no end.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = "The message window \"" + path + "\" cannot be opened: " + std::strerror(errno);
    ::unlink(path.c_str());
    return false;
  }
  pipe.path = path;
  pipe.fd = fd;
  pipe.inode = info.st_ino;
  *name = path;
  *created = true;
  return true;
}

WindowMessage NextWindowMessage() {
  Pipe& pipe = ThePipe();
  std::lock_guard<std::mutex> lock(pipe.mutex);
  WindowMessage next;
  if (pipe.fd >= 0) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(pipe.fd, buffer, sizeof buffer);
      if (n <= 0) break;
      pipe.pending.append(buffer, static_cast<std::size_t>(n));
    }
    struct stat info {};
    if (::lstat(pipe.path.c_str(), &info) != 0 || info.st_ino != pipe.inode) {
      // Removed: what was written before still counts, a last unfinished line too.
      pipe.Close();
      pipe.path.clear();
      if (!pipe.pending.empty() && pipe.pending.back() != '\n') pipe.pending += '\n';
    }
  }
  next.message = TakeLine(pipe.pending);
  next.open = pipe.fd >= 0 || next.message.has_value();
  return next;
}

}  // namespace platform
