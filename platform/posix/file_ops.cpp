#include "platform/file_ops.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace platform {
namespace {

thread_local int t_error = 0;
thread_local bool t_cross_device = false;

bool Fail() {
  t_error = errno;
  return false;
}

LocalDateTime Local(const timespec& when) {
  return LocalDateTimeOf(when.tv_sec, static_cast<int>(when.tv_nsec / 1000000));
}

// Opens a regular file (a folder or a device is refused); -1 on failure.
int OpenRegular(const std::string& path, int flags, mode_t mode = 0666) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | ((flags & O_ACCMODE) == O_RDONLY ? O_NONBLOCK : 0), mode);
  if (fd < 0) {
    Fail();
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    t_error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return -1;
  }
  // Reading never waits on a device, but a regular file is read in the ordinary way.
  if ((flags & O_ACCMODE) == O_RDONLY) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

std::string LastErrorText() { return std::strerror(t_error); }

File::~File() { Close(); }

bool File::Open(const std::string& path, Mode mode) {
  Close();
  const int flags = mode == Mode::kRead ? O_RDONLY : mode == Mode::kReadWrite ? O_RDWR | O_CREAT : O_WRONLY | O_CREAT | O_EXCL;
  const int fd = OpenRegular(path, flags);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

std::optional<std::uint64_t> File::Size() {
  struct stat st;
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &st) != 0) {
    Fail();
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::size_t> File::ReadAt(std::uint64_t offset, char* buffer, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(static_cast<int>(handle_), buffer + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      Fail();
      return std::nullopt;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool FileWrites::Write(File& file, std::uint64_t offset, const char* data, std::size_t n, std::size_t* written) {
  std::size_t done = 0;
  bool ok = true;
  while (done < n) {
    const ssize_t put = ::pwrite(static_cast<int>(file.handle_), data + done, n - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = ENOSPC;
      ok = Fail();
      break;
    }
    done += static_cast<std::size_t>(put);
  }
  if (written) *written = done;
  return ok;
}

bool File::Resize(std::uint64_t size) {
  return ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) == 0 || Fail();
}

bool File::Close() {
  if (handle_ < 0) return true;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  return ::close(fd) == 0 || Fail();
}

bool FileWrites::CopyData(const std::string& from, const std::string& to, const std::function<bool()>& stop) {
  const int in = OpenRegular(from, O_RDONLY);
  if (in < 0) return false;
  struct stat st;
  ::fstat(in, &st);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    Fail();
    ::close(in);
    return false;
  }
  bool ok = true;
  // The kernel copies (no trip through this process) in blocks of 64 MiB, asking `stop` between them.
  constexpr std::size_t kBlock = std::size_t{64} << 20;
  bool kernel = true;
  std::vector<char> buffer;
  for (;;) {
    if (stop && stop()) {
      t_error = EINTR;
      ok = false;
      break;
    }
    ssize_t n = -1;
    if (kernel) {
      n = ::copy_file_range(in, nullptr, out, nullptr, kBlock, 0);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
        n = ::sendfile(out, in, nullptr, kBlock);
        if (n < 0 && (errno == EINVAL || errno == ENOSYS)) kernel = false;
      }
    }
    if (!kernel) {
      if (buffer.empty()) buffer.resize(std::size_t{1} << 20);
      n = ::read(in, buffer.data(), buffer.size());
      if (n > 0) {
        ssize_t done = 0;
        while (done < n) {
          const ssize_t put = ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
          if (put < 0 && errno == EINTR) continue;
          if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            n = -1;
            break;
          }
          done += put;
        }
      }
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = Fail();
      break;
    }
    if (n == 0) break;
  }
  ::close(in);
  if (::close(out) != 0 && ok) ok = Fail();
  return ok;
}

bool FileWrites::Rename(const std::string& from, const std::string& to) {
  t_cross_device = false;
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  t_cross_device = errno == EXDEV;
  return Fail();
}

bool LastRenameWasCrossDevice() { return t_cross_device; }

void CopyPermissions(const std::string& from, const std::string& to) {
  struct stat st;
  if (::stat(from.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::chmod(to.c_str(), st.st_mode & 07777);
}

bool FailFileCall(FileFailure kind) {
  t_cross_device = kind == FileFailure::kCrossDevice;
  t_error = kind == FileFailure::kDiskFull       ? ENOSPC
            : kind == FileFailure::kAccessDenied ? EACCES
            : kind == FileFailure::kNotFound     ? ENOENT
                                                 : EXDEV;
  return false;
}

bool FileWrites::Delete(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    t_error = EISDIR;
    return false;
  }
  return ::unlink(path.c_str()) == 0 || Fail();
}

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0 || Fail(); }
bool RemoveEmptyFolder(const std::string& path) { return ::rmdir(path.c_str()) == 0 || Fail(); }
bool SetCurrentFolder(const std::string& path) { return ::chdir(path.c_str()) == 0 || Fail(); }

std::optional<std::uint32_t> ReadAttributes(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    Fail();
    return std::nullopt;
  }
  std::uint32_t bits = 0;
  if (S_ISDIR(st.st_mode)) bits |= attr::kDirectory;
  else bits |= attr::kArchive;
  if (!(st.st_mode & S_IWUSR)) bits |= attr::kReadOnly;
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 1 && name[0] == '.' && name != "..") bits |= attr::kHidden;
  return bits;
}

bool SetReadOnly(const std::string& path, bool read_only) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return Fail();
  const mode_t mode = read_only ? (st.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) : (st.st_mode | S_IWUSR);
  return ::chmod(path.c_str(), mode & 07777) == 0 || Fail();
}

std::optional<FileTimes> ReadFileTimes(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    Fail();
    return std::nullopt;
  }
  // The status change time stands for the creation time, which POSIX does not keep.
  return FileTimes{Local(st.st_ctim), Local(st.st_atim), Local(st.st_mtim)};
}

std::optional<VolumeInfo> ReadVolume(const std::string& path) {
  struct statvfs vfs;
  struct statfs fs;
  if (::statvfs(path.c_str(), &vfs) != 0 || ::statfs(path.c_str(), &fs) != 0) {
    Fail();
    return std::nullopt;
  }
  VolumeInfo info;
  info.total = static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize;
  info.free = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  // File system magic numbers: tmpfs, nfs, cifs, smb2, smb, iso9660; any other is a fixed disk.
  static constexpr std::pair<unsigned long, const char*> kTypes[] = {
      {0x01021994, "RAM"},    {0x6969, "Remote"}, {0xFF534D42, "Remote"},
      {0xFE534D42, "Remote"}, {0x517B, "Remote"}, {0x9660, "CD-ROM"}};
  info.type = "Fixed";
  for (const auto& [magic, type] : kTypes)
    if (static_cast<unsigned long>(fs.f_type) == magic) info.type = type;
  return info;
}

}  // namespace platform
