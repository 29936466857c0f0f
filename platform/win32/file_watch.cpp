#include "platform/file_watch.h"

#include <windows.h>

namespace platform {
namespace {

class NotificationWatch : public FolderWatch {
 public:
  explicit NotificationWatch(HANDLE handle) : handle_(handle) {}
  ~NotificationWatch() override { FindCloseChangeNotification(handle_); }
  NotificationWatch(const NotificationWatch&) = delete;
  NotificationWatch& operator=(const NotificationWatch&) = delete;
  bool Changed() override {
    if (!changed_ && WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0) changed_ = true;
    return changed_;
  }

 private:
  HANDLE handle_;
  bool changed_ = false;
};

}  // namespace

std::unique_ptr<FolderWatch> WatchFolder(const std::string& folder, std::string* error) {
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (error) *error = "Folder not found: \"" + folder + "\"";
    return nullptr;
  }
  const HANDLE handle = FindFirstChangeNotificationA(
      folder.c_str(), FALSE,
      FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error) *error = "Unable to watch the folder \"" + folder + "\" (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  return std::make_unique<NotificationWatch>(handle);
}

}  // namespace platform
