#pragma once
// A file that records are appended to, shared by several processes: each
// Append is one write at the file's end (POSIX O_APPEND; Windows
// FILE_APPEND_DATA), so that writers never interleave within a record and a
// process killed between two writes leaves every record it wrote complete.
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile() { Close(); }
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens (creating, private to the user) `path`; false with the reason in `error`.
  bool Open(const std::string& path, std::string* error);
  bool is_open() const { return handle_ != kClosed; }
  // Appends `bytes` in one write; false when they could not all be written.
  bool Append(std::string_view bytes);
  void Close();

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
};

// The running process's id, which tags the records of each writer.
std::int64_t CurrentProcessId();

}  // namespace platform
