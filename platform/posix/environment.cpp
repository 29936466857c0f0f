#include "platform/environment.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <type_traits>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <random>

namespace platform {

namespace {

std::string ErrnoText(int err) {
  char buf[256];
  // The GNU strerror_r returns the text; the XSI one fills the buffer.
  auto r = strerror_r(err, buf, sizeof buf);
  if constexpr (std::is_same_v<decltype(r), char*>)
    return r;
  else
    return buf;
}

bool Fail(std::string* error, int err) {
  if (error) *error = ErrnoText(err);
  return false;
}

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), s.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                std::tolower(static_cast<unsigned char>(b)); });
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), s.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

}  // namespace

// setenv may move the environment while getenv reads it: the runtime's own
// reads and writes take turns.
std::mutex g_env_mutex;

std::optional<std::string> ReadEnv(const std::string& name) {
  std::lock_guard<std::mutex> lock(g_env_mutex);
  const char* v = std::getenv(name.c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

bool WriteEnv(const std::string& name, const std::string& value, std::string* error) {
  std::lock_guard<std::mutex> lock(g_env_mutex);
  if (::setenv(name.c_str(), value.c_str(), 1) != 0) return Fail(error, errno);
  return true;
}

bool RemoveEnv(const std::string& name, std::string* error) {
  std::lock_guard<std::mutex> lock(g_env_mutex);
  if (::unsetenv(name.c_str()) != 0) return Fail(error, errno);
  return true;
}

void BroadcastEnvironmentChange() {}

std::optional<std::string> TempFolder() {
  std::string base = ReadEnv("TMPDIR").value_or("");
  if (base.empty() || base[0] != '/') base = "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string folder = base + "/olvex-" + std::to_string(::getuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
  // Somebody else may have made it first: use it only when it is ours alone.
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return std::nullopt;
  if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) return std::nullopt;
  return folder + "/";
}

std::optional<std::uint64_t> RegularFileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

bool WriteFileReplacing(const std::string& path, const std::string& data) {
  static std::atomic<unsigned> counter{0};
  static const unsigned salt = std::random_device{}();
  std::string temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(salt) + "-" +
                     std::to_string(counter++);
  struct stat st;
  bool existed = ::stat(path.c_str(), &st) == 0;
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (existed) ::fchmod(fd, st.st_mode & 07777);
  const char* p = data.data();
  std::size_t left = data.size();
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::size_t RemoveFilesLike(const std::string& folder, const std::string& prefix, const std::string& suffix) {
  std::size_t removed = 0;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  std::string base = folder;
  if (!base.empty() && base.back() != '/') base += '/';
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() < prefix.size() + suffix.size() || !StartsWithNoCase(name, prefix) || !EndsWithNoCase(name, suffix))
      continue;
    struct stat st;
    std::string path = base + name;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace platform
