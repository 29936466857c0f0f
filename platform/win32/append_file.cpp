#include "platform/append_file.h"

#include <windows.h>

namespace platform {

bool AppendFile::Open(const std::string& path, std::string* error) {
  Close();
  // Append access (with read, which the record lock needs): every write goes
  // to the file's end.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (error) *error = "error " + std::to_string(GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool AppendFile::Append(std::string_view bytes) {
  if (!is_open()) return false;
  // Appends of several processes are not always one piece each (Wine cut and
  // overwrote records): writers take turns through a lock on one byte far
  // past any content. The system drops the lock of a process that ends.
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  OVERLAPPED turn{};
  turn.OffsetHigh = 0x7FFFFFFF;
  const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != 0;
  bool ok = true;
  while (ok && !bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(bytes.size() > 0x40000000u ? 0x40000000u : bytes.size());
    ok = WriteFile(file, bytes.data(), chunk, &written, nullptr) && written != 0;
    bytes.remove_prefix(written);
  }
  if (locked) UnlockFileEx(file, 0, 1, 0, &turn);
  return ok;
}

void AppendFile::Close() {
  if (!is_open()) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kClosed;
}

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(GetCurrentProcessId()); }

}  // namespace platform
