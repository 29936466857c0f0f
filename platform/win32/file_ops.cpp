#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/file_ops.h"
#include "platform/win32/system_text.h"

namespace platform {
namespace {

thread_local DWORD t_error = 0;
thread_local bool t_cross_device = false;

bool Fail() {
  t_error = GetLastError();
  return false;
}

LocalDateTime Local(const FILETIME& when) {
  const ULONGLONG ticks = (static_cast<ULONGLONG>(when.dwHighDateTime) << 32) | when.dwLowDateTime;
  return LocalDateTimeOf(static_cast<long long>(ticks / 10000000ULL) - 11644473600LL,
                         static_cast<int>((ticks / 10000ULL) % 1000ULL));
}

HANDLE H(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

bool Seek(HANDLE h, std::uint64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(h, at, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

// The shell's services (shell.cpp) keep their failures here too.
void NoteShellError() { t_error = GetLastError(); }

std::string LastErrorText() { return SystemErrorText(t_error); }

File::~File() { Close(); }

bool File::Open(const std::string& path, Mode mode) {
  Close();
  const DWORD access = mode == Mode::kRead ? GENERIC_READ : mode == Mode::kReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
  const DWORD disposition = mode == Mode::kRead ? OPEN_EXISTING : mode == Mode::kReadWrite ? OPEN_ALWAYS : CREATE_NEW;
  HANDLE h = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail();
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

std::optional<std::uint64_t> File::Size() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(H(handle_), &size)) {
    Fail();
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<std::size_t> File::ReadAt(std::uint64_t offset, char* buffer, std::size_t n) {
  if (!Seek(H(handle_), offset)) {
    Fail();
    return std::nullopt;
  }
  std::size_t done = 0;
  while (done < n) {
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
    if (!ReadFile(H(handle_), buffer + done, ask, &got, nullptr)) {
      Fail();
      return std::nullopt;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

bool FileWrites::Write(File& file, std::uint64_t offset, const char* data, std::size_t n, std::size_t* written) {
  std::size_t done = 0;
  bool ok = Seek(H(file.handle_), offset) || Fail();
  while (ok && done < n) {
    DWORD put = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
    if (!WriteFile(H(file.handle_), data + done, ask, &put, nullptr) || put == 0) ok = Fail();
    done += put;
  }
  if (written) *written = done;
  return ok;
}

bool File::Resize(std::uint64_t size) {
  return (Seek(H(handle_), size) && SetEndOfFile(H(handle_))) || Fail();
}

bool File::Close() {
  if (handle_ == -1) return true;
  HANDLE h = H(handle_);
  handle_ = -1;
  return CloseHandle(h) || Fail();
}

bool FileWrites::CopyData(const std::string& from, const std::string& to, const std::function<bool()>& stop) {
  HANDLE in = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE) return Fail();
  HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    Fail();
    CloseHandle(in);
    return false;
  }
  std::vector<char> buffer(std::size_t{4} << 20);
  bool ok = true;
  for (;;) {
    if (stop && stop()) {
      t_error = ERROR_OPERATION_ABORTED;
      ok = false;
      break;
    }
    DWORD got = 0, put = 0;
    if (!ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      ok = Fail();
      break;
    }
    if (got == 0) break;
    if (!WriteFile(out, buffer.data(), got, &put, nullptr) || put != got) {
      ok = Fail();
      break;
    }
  }
  FILETIME created, accessed, written;
  if (ok && GetFileTime(in, &created, &accessed, &written)) SetFileTime(out, nullptr, nullptr, &written);
  CloseHandle(in);
  if (!CloseHandle(out) && ok) ok = Fail();
  return ok;
}

bool FileWrites::Rename(const std::string& from, const std::string& to) {
  t_cross_device = false;
  const DWORD attrs = GetFileAttributesA(from.c_str());
  const DWORD flags = (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) ? 0 : MOVEFILE_REPLACE_EXISTING;
  if (MoveFileExA(from.c_str(), to.c_str(), flags)) return true;
  Fail();
  t_cross_device = t_error == ERROR_NOT_SAME_DEVICE;
  return false;
}

bool LastRenameWasCrossDevice() { return t_cross_device; }

void CopyPermissions(const std::string& from, const std::string& to) {
  const DWORD attrs = GetFileAttributesA(from.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY)) return;
  const DWORD kept = attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  if (kept != 0) SetFileAttributesA(to.c_str(), kept);
}

bool FileWrites::Delete(const std::string& path) { return DeleteFileA(path.c_str()) || Fail(); }

bool FailFileCall(FileFailure kind) {
  t_cross_device = kind == FileFailure::kCrossDevice;
  t_error = kind == FileFailure::kDiskFull       ? ERROR_DISK_FULL
            : kind == FileFailure::kAccessDenied ? ERROR_ACCESS_DENIED
            : kind == FileFailure::kNotFound     ? ERROR_FILE_NOT_FOUND
                                                 : ERROR_NOT_SAME_DEVICE;
  return false;
}
bool MakeFolder(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) || Fail(); }
bool RemoveEmptyFolder(const std::string& path) { return RemoveDirectoryA(path.c_str()) || Fail(); }
bool SetCurrentFolder(const std::string& path) { return SetCurrentDirectoryA(path.c_str()) || Fail(); }

std::optional<std::uint32_t> ReadAttributes(const std::string& path) {
  const DWORD attrs = GetFileAttributesA(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    Fail();
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(attrs);
}

bool SetReadOnly(const std::string& path, bool read_only) {
  DWORD attrs = GetFileAttributesA(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return Fail();
  attrs = read_only ? (attrs | FILE_ATTRIBUTE_READONLY) : (attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  return SetFileAttributesA(path.c_str(), attrs) || Fail();
}

std::optional<FileTimes> ReadFileTimes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    Fail();
    return std::nullopt;
  }
  return FileTimes{Local(data.ftCreationTime), Local(data.ftLastAccessTime), Local(data.ftLastWriteTime)};
}

std::optional<VolumeInfo> ReadVolume(const std::string& path) {
  // The root of the path's volume.
  char root[MAX_PATH + 1] = "";
  if (!GetVolumePathNameA(path.c_str(), root, sizeof root)) {
    if (path.size() < 2 || path[1] != ':') {
      Fail();
      return std::nullopt;
    }
    root[0] = path[0];
    root[1] = ':';
    root[2] = '\\';
    root[3] = '\0';
  }
  ULARGE_INTEGER free_to_caller, total, free_all;
  if (!GetDiskFreeSpaceExA(root, &free_to_caller, &total, &free_all)) {
    Fail();
    return std::nullopt;
  }
  VolumeInfo info;
  info.total = total.QuadPart;
  info.free = free_to_caller.QuadPart;
  char label[MAX_PATH + 1] = "";
  if (GetVolumeInformationA(root, label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0)) info.label = label;
  switch (GetDriveTypeA(root)) {
    case DRIVE_FIXED: info.type = "Fixed"; break;
    case DRIVE_CDROM: info.type = "CD-ROM"; break;
    case DRIVE_REMOVABLE: info.type = "Removable"; break;
    case DRIVE_REMOTE: info.type = "Remote"; break;
    case DRIVE_RAMDISK: info.type = "RAM"; break;
    default: info.type = "Unknown"; break;
  }
  return info;
}

}  // namespace platform
