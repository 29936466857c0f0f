#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace platform {

FileContent ReadWholeFile(const std::string& path, std::uint64_t max_bytes) {
  FileContent result;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    result.status = (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::NotFound : ReadStatus::OpenFailed;
    return result;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    result.status = ReadStatus::OpenFailed;
    return result;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    result.status = ReadStatus::OpenFailed;
    return result;
  }
  if (static_cast<std::uint64_t>(st.st_size) > max_bytes) {
    ::close(fd);
    result.status = ReadStatus::TooLarge;
    return result;
  }
  try {
    result.data.resize(static_cast<std::size_t>(st.st_size));
  } catch (const std::bad_alloc&) {
    ::close(fd);
    result.status = ReadStatus::OutOfMemory;
    return result;
  }
  std::size_t done = 0;
  while (done < result.data.size()) {
    ssize_t n = ::read(fd, result.data.data() + done, result.data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // a file that shrank while being read keeps what was read
    done += static_cast<std::size_t>(n);
  }
  if (done < result.data.size()) {
    // Either a read error or the file shrank; tell them apart by one more read.
    char probe;
    if (::read(fd, &probe, 1) < 0) {
      ::close(fd);
      result.data.clear();
      result.status = ReadStatus::ReadFailed;
      return result;
    }
    result.data.resize(done);
  }
  ::close(fd);
  result.status = ReadStatus::Ok;
  return result;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsLink(const std::string& path) {
  std::string own = path;
  while (own.size() > 1 && (own.back() == '/' || own.back() == '\\')) own.pop_back();
  struct stat st;
  return ::lstat(own.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

char PathSeparator() { return '/'; }

bool ListFolder(const std::string& folder, const std::string& pattern, std::vector<FolderEntry>* entries) {
  entries->clear();
  std::string path = folder.empty() ? std::string(".") : folder;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  if (path.back() != '/') path += '/';
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || !MatchesWildcard(pattern, name)) continue;
    FolderEntry entry;
    entry.name = name;
    struct stat st;
    const std::string full = path + name;
    // The entry's type as the folder tells it saves a status query per file.
    if (e->d_type == DT_REG || e->d_type == DT_DIR) {
      entry.is_folder = e->d_type == DT_DIR;
    } else if (::lstat(full.c_str(), &st) == 0) {
      entry.is_link = S_ISLNK(st.st_mode);
      entry.is_folder = entry.is_link ? ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode) : S_ISDIR(st.st_mode);
    }
    entries->push_back(std::move(entry));
  }
  ::closedir(dir);
  return true;
}

}  // namespace platform
