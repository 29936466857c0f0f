#pragma once
// A watch on a folder: notes when an entry of the folder is created, deleted,
// renamed, written or resized. Windows: a change notification
// (FindFirstChangeNotification); Linux: inotify. Neither needs a thread: the
// owner asks Changed() when it polls.
#include <memory>
#include <string>

namespace platform {

class FolderWatch {
 public:
  virtual ~FolderWatch() = default;
  // True once anything in the folder changed since the watch began.
  virtual bool Changed() = 0;
};

// Starts watching `folder` (its own entries, not those of sub-folders);
// nothing, with the reason in `error`, when it is not a folder or cannot be watched.
std::unique_ptr<FolderWatch> WatchFolder(const std::string& folder, std::string* error);

}  // namespace platform
