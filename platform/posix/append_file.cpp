#include "platform/append_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool AppendFile::Open(const std::string& path, std::string* error) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  handle_ = fd;
  return true;
}

bool AppendFile::Append(std::string_view bytes) {
  if (!is_open()) return false;
  // A regular file takes the whole write at once; a short write (a full disk)
  // is finished by further writes.
  while (!bytes.empty()) {
    const ssize_t n = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void AppendFile::Close() {
  if (!is_open()) return;
  ::close(static_cast<int>(handle_));
  handle_ = kClosed;
}

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(::getpid()); }

}  // namespace platform
