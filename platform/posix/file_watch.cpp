#include "platform/file_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

class InotifyWatch : public FolderWatch {
 public:
  explicit InotifyWatch(int fd) : fd_(fd) {}
  ~InotifyWatch() override { close(fd_); }
  InotifyWatch(const InotifyWatch&) = delete;
  InotifyWatch& operator=(const InotifyWatch&) = delete;
  bool Changed() override {
    if (changed_) return true;
    alignas(inotify_event) char buffer[4096];
    if (read(fd_, buffer, sizeof buffer) > 0) changed_ = true;  // the descriptor never blocks
    return changed_;
  }

 private:
  int fd_;
  bool changed_ = false;
};

}  // namespace

std::unique_ptr<FolderWatch> WatchFolder(const std::string& folder, std::string* error) {
  std::string path = folder;
  for (char& c : path)
    if (c == '\\') c = '/';
  struct stat info {};
  if (path.empty() || stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    if (error) *error = "Folder not found: \"" + folder + "\"";
    return nullptr;
  }
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 || inotify_add_watch(fd, path.c_str(),
                                  IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO |
                                      IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
    if (error) *error = "Unable to watch the folder \"" + folder + "\" (" + std::strerror(errno) + ")";
    if (fd >= 0) close(fd);
    return nullptr;
  }
  return std::make_unique<InotifyWatch>(fd);
}

}  // namespace platform
