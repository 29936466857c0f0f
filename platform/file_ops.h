#pragma once
// Files opened for reading and writing at 64-bit positions, and the file and
// folder operations of the Files & Folders actions. A call that fails leaves
// the system's own message text for the failure in LastErrorText() (per thread).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/locale.h"

namespace platform {

// The system's message for the latest failure of a call of this header on
// this thread ("Access is denied." / "Permission denied").
std::string LastErrorText();

class File {
 public:
  enum class Mode {
    kRead,       // shared reading
    kReadWrite,  // reading and writing, shared; created when missing
    kCreateNew,  // a new file for writing; fails when the name exists
  };
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool Open(const std::string& path, Mode mode);
  std::optional<std::uint64_t> Size();
  // Reads up to `n` bytes at `offset`: the count read (0 at the end), nothing on an error.
  std::optional<std::size_t> ReadAt(std::uint64_t offset, char* buffer, std::size_t n);
  // Writes `n` bytes at `offset`; `written` gets the count written.
  bool WriteAt(std::uint64_t offset, const char* data, std::size_t n, std::size_t* written = nullptr);
  // Sets the end of the file (a grown part reads as zero bytes).
  bool Resize(std::uint64_t size);
  // Closes the file; false when its data could not be written out.
  bool Close();

 private:
  friend class FileWrites;
  std::intptr_t handle_ = -1;
};

// Copies a file's bytes into a new file `to` that must not exist yet (the
// caller names a temporary one). `stop` is asked between blocks.
bool CopyFileData(const std::string& from, const std::string& to, const std::function<bool()>& stop = {});
// Renames a file or folder; an existing file `to` is replaced at once. Fails
// (without copying) when `to` is on another file system: LastRenameWasCrossDevice() then is true.
bool RenamePath(const std::string& from, const std::string& to);
bool LastRenameWasCrossDevice();
// Gives `to` the permissions of the existing file `from` (POSIX: the mode bits;
// Windows: the hidden, system and archive attributes), so that a file written
// beside another and renamed over it stays as private as it was. Nothing when
// `from` does not exist.
void CopyPermissions(const std::string& from, const std::string& to);
bool DeleteFileAt(const std::string& path);
// One folder (its parent must exist).
bool MakeFolder(const std::string& path);
bool RemoveEmptyFolder(const std::string& path);
bool SetCurrentFolder(const std::string& path);

// The calls that change stored files (File::WriteAt, CopyFileData, RenamePath,
// DeleteFileAt) go through a replaceable service, so that a test reaches a full
// disk, a refused write or a file gone midway without having one: a fake
// derives from the platform's own and overrides the call it breaks.
class FileWrites {
 public:
  virtual ~FileWrites() = default;
  virtual bool Write(File& file, std::uint64_t offset, const char* data, std::size_t n, std::size_t* written);
  virtual bool CopyData(const std::string& from, const std::string& to, const std::function<bool()>& stop);
  virtual bool Rename(const std::string& from, const std::string& to);
  virtual bool Delete(const std::string& path);
};
// Tests: install a fake (nullptr puts the platform's own back).
void SetFileWritesForTest(FileWrites* fake);
// A fake's failing call: the system's own failure of that kind becomes
// LastErrorText() (kCrossDevice also LastRenameWasCrossDevice()); returns false.
enum class FileFailure { kDiskFull, kAccessDenied, kNotFound, kCrossDevice };
bool FailFileCall(FileFailure kind);

// Windows attribute bits; POSIX maps its own facts onto them (a file its
// owner may not write is read-only, a name beginning with "." hidden, a
// regular file archived).
namespace attr {
constexpr std::uint32_t kReadOnly = 0x1, kHidden = 0x2, kSystem = 0x4, kDirectory = 0x10, kArchive = 0x20,
                        kNormal = 0x80, kTemporary = 0x100, kCompressed = 0x800;
}
std::optional<std::uint32_t> ReadAttributes(const std::string& path);
bool SetReadOnly(const std::string& path, bool read_only);

struct FileTimes {
  LocalDateTime created, accessed, modified;  // local time
};
std::optional<FileTimes> ReadFileTimes(const std::string& path);

struct VolumeInfo {
  std::uint64_t total = 0, free = 0;  // bytes; free: what the caller may use
  std::string label;
  std::string type;  // "Fixed", "CD-ROM", "Removable", "Remote", "RAM" or "Unknown"
};
std::optional<VolumeInfo> ReadVolume(const std::string& path);

}  // namespace platform
