// The store's earlier form on POSIX: a folder per key, a file per value.
//
// <store>/<ROOT>/k<key>/k<subkey>/v<value>
//
// File names are the names folded to lower case and encoded (bytes other than
// [a-z0-9._-] as %XX); names whose encoding is too long become a 128-bit hash.
// A key folder holds "@name" with the key's name as first written; a value
// file holds its name as written, its type and its bytes:
//
//   "OXRV" | type u32 | name length u32 | data length u32 | checksum u32 | name | data
//
// (little-endian; the checksum covers the first 16 bytes, the name and the
// data). A value is written to a temporary file in the key's folder that is
// then renamed over the value's file, so a reader sees the old or the new
// value and a writer killed midway leaves only a temporary file behind.
// A key is created as a temporary folder renamed into place. Temporary names
// begin with '.', and are ignored by readers.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <random>

#include "platform/posix/registry_folders.h"

namespace platform::folder_registry {

bool MakeFolders(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST &&
        !(::stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
      return false;
  }
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

constexpr char kMagic[4] = {'O', 'X', 'R', 'V'};
constexpr std::size_t kHeaderSize = 20;
constexpr std::size_t kMaxEncodedName = 200;
constexpr char kKeyNameFile[] = "@name";

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string FoldName(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = Fold(c);
  return out;
}

std::uint32_t Checksum(std::uint32_t h, std::string_view bytes) {
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

std::string HashHex(std::string_view bytes) {
  std::uint64_t a = 1469598103934665603ull, b = 0x9E3779B97F4A7C15ull;
  for (unsigned char c : bytes) {
    a = (a ^ c) * 1099511628211ull;
    b = (b ^ c) * 0xBF58476D1CE4E5B9ull;
    b ^= b >> 29;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::uint64_t v : {a, b})
    for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(v >> shift) & 0xF];
  return out;
}

// File name of a key (prefix 'k') or value (prefix 'v').
std::string EncodeName(char prefix, std::string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out(1, prefix);
  for (char raw : name) {
    char c = Fold(raw);
    unsigned char u = static_cast<unsigned char>(c);
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    }
    if (out.size() > kMaxEncodedName) return std::string(1, prefix) + "#" + HashHex(FoldName(name));
  }
  return out;
}

bool IsHashedName(const std::string& file) { return file.size() > 1 && file[1] == '#'; }

std::string Decode(std::string_view file) {  // without the prefix
  std::string out;
  for (std::size_t i = 0; i < file.size(); ++i) {
    if (file[i] == '%' && i + 2 < file.size()) {
      out += static_cast<char>(std::strtol(std::string(file.substr(i + 1, 2)).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += file[i];
    }
  }
  return out;
}

RegistryStatus FromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: return RegistryStatus::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return RegistryStatus::kAccessDenied;
    case ENAMETOOLONG: return RegistryStatus::kBadName;
    case ELOOP:
    case EISDIR: return RegistryStatus::kCorrupt;
    default: return RegistryStatus::kFailed;
  }
}

std::string UniqueSuffix() {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint32_t salt = std::random_device{}();
  return std::to_string(::getpid()) + "." + std::to_string(salt) + "." + std::to_string(counter++);
}

// A key path checked and turned into folder names.
struct KeyPath {
  RegistryStatus status = RegistryStatus::kOk;
  std::vector<std::string> names;    // as given
  std::vector<std::string> folders;  // encoded
};

KeyPath SplitKey(std::string_view key) {
  KeyPath out;
  if (key.empty()) return out;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = key.find('\\', start);
    std::string_view part = key.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (part.empty() || part.size() > kMaxRegistryKeyName || part.find('\0') != std::string_view::npos) {
      out.status = RegistryStatus::kBadName;
      return out;
    }
    out.names.emplace_back(part);
    out.folders.push_back(EncodeName('k', part));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return out;
}

bool ValueNameOk(std::string_view name) {
  return name.size() <= kMaxRegistryValueName && name.find('\0') == std::string_view::npos;
}

std::string RootFolder(const std::string& store, RegistryRoot root) { return store + "/" + RegistryRootName(root); }

std::string KeyFolder(const std::string& store, RegistryRoot root, const KeyPath& key) {
  std::string path = RootFolder(store, root);
  for (const auto& f : key.folders) {
    path += '/';
    path += f;
  }
  return path;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Removes a folder and everything in it; a few rounds, since a writer may
// drop a temporary file into it meanwhile.
void RemoveTree(const std::string& path) {
  for (int round = 0; round < 5; ++round) {
    if (DIR* dir = ::opendir(path.c_str())) {
      while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string child = path + "/" + name;
        struct stat st;
        if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
          RemoveTree(child);
        else
          ::unlink(child.c_str());
      }
      ::closedir(dir);
    }
    if (::rmdir(path.c_str()) == 0 || errno == ENOENT) return;
  }
}

// Makes sure every folder of the key exists. Each new key folder is built
// under a temporary name with its "@name" file and renamed into place, so
// that it never appears without its name.
RegistryStatus EnsureKey(const std::string& store, RegistryRoot root, const KeyPath& key) {
  std::string path = RootFolder(store, root);
  if (!MakeFolders(path)) return FromErrno(errno ? errno : ENOTDIR);
  for (std::size_t i = 0; i < key.folders.size(); ++i) {
    std::string child = path + "/" + key.folders[i];
    struct stat st;
    if (::stat(child.c_str(), &st) != 0) {
      std::string temp = path + "/.t" + UniqueSuffix();
      if (::mkdir(temp.c_str(), 0700) != 0) return FromErrno(errno);
      std::string name_file = temp + "/" + kKeyNameFile;
      int fd = ::open(name_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      bool named = fd >= 0 && WriteAll(fd, key.names[i].data(), key.names[i].size());
      if (fd >= 0) ::close(fd);
      int err = 0;
      if (!named || ::rename(temp.c_str(), child.c_str()) != 0) err = named ? errno : EIO;
      if (err != 0) {
        RemoveTree(temp);
        // Someone else created it meanwhile: fine. Anything else fails.
        if (!(err == EEXIST || err == ENOTEMPTY) || ::stat(child.c_str(), &st) != 0) return FromErrno(err);
      }
    }
    if (::stat(child.c_str(), &st) != 0) return FromErrno(errno);
    if (!S_ISDIR(st.st_mode)) return RegistryStatus::kCorrupt;
    path = child;
  }
  return RegistryStatus::kOk;
}

void PutU32(char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t GetU32(const char* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

struct ParsedValue {
  RegistryStatus status = RegistryStatus::kCorrupt;
  std::uint32_t type = 0;
  std::string_view name, data;
};

ParsedValue ParseValue(std::string_view file) {
  ParsedValue out;
  if (file.size() < kHeaderSize || std::memcmp(file.data(), kMagic, 4) != 0) return out;
  std::uint32_t name_len = GetU32(file.data() + 8), data_len = GetU32(file.data() + 12);
  if (static_cast<std::uint64_t>(kHeaderSize) + name_len + data_len != file.size()) return out;
  std::uint32_t sum = Checksum(Checksum(2166136261u, file.substr(0, 16)), file.substr(kHeaderSize));
  if (sum != GetU32(file.data() + 16)) return out;
  out.status = RegistryStatus::kOk;
  out.type = GetU32(file.data() + 4);
  out.name = file.substr(kHeaderSize, name_len);
  out.data = file.substr(kHeaderSize + name_len, data_len);
  return out;
}

// Reads a whole value file. Small values take one read.
RegistryStatus ReadFileBytes(const std::string& path, std::string* into) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return FromErrno(errno);
  char buf[4096];
  RegistryStatus status = RegistryStatus::kOk;
  into->clear();
  try {
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        status = FromErrno(errno) == RegistryStatus::kFailed ? RegistryStatus::kCorrupt : FromErrno(errno);
        break;
      }
      into->append(buf, static_cast<std::size_t>(n));
      if (n == 0) break;
      if (into->size() >= kHeaderSize) {
        if (std::memcmp(into->data(), kMagic, 4) != 0) {
          status = RegistryStatus::kCorrupt;
          break;
        }
        std::uint64_t want = kHeaderSize + std::uint64_t{GetU32(into->data() + 8)} + GetU32(into->data() + 12);
        if (want == into->size()) break;  // complete, no need to wait for end of file
        if (want > (std::uint64_t{1} << 32)) {
          status = RegistryStatus::kCorrupt;
          break;
        }
        if (into->capacity() < want) into->reserve(static_cast<std::size_t>(std::min<std::uint64_t>(want, 1u << 26)));
      }
    }
  } catch (const std::bad_alloc&) {
    status = RegistryStatus::kFailed;
  }
  ::close(fd);
  return status;
}

RegistryStatus ReadValueAt(const std::string& file_path, bool hashed, std::string_view name, RegistryData* out) {
  std::string bytes;
  RegistryStatus status = ReadFileBytes(file_path, &bytes);
  if (status != RegistryStatus::kOk) return status;
  ParsedValue v = ParseValue(bytes);
  if (v.status != RegistryStatus::kOk) return v.status;
  if (FoldName(v.name) != FoldName(name)) return hashed ? RegistryStatus::kNotFound : RegistryStatus::kCorrupt;
  if (out) {
    out->type = v.type;
    out->data.assign(v.data);
  }
  return RegistryStatus::kOk;
}

// Calls `f(entry name)` for each entry of a key folder; temporary names
// (beginning with '.') are left out.
template <class F>
RegistryStatus ForEachEntry(const std::string& folder, F&& f) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return FromErrno(errno);
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    f(name);
  }
  ::closedir(dir);
  return RegistryStatus::kOk;
}

// The name of a key folder as first written.
std::optional<std::string> KeyNameOf(const std::string& path, const std::string& entry) {
  std::string name;
  int fd = ::open((path + "/" + kKeyNameFile).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0) {
    char buf[kMaxRegistryKeyName + 1];
    ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n > 0 && static_cast<std::size_t>(n) <= kMaxRegistryKeyName) name.assign(buf, static_cast<std::size_t>(n));
  }
  if (name.empty() || EncodeName('k', name) != entry) {
    if (IsHashedName(entry)) return std::nullopt;  // no way to know its name
    name = Decode(std::string_view(entry).substr(1));
  }
  return name;
}

constexpr RegistryRoot kRoots[] = {RegistryRoot::kClassesRoot, RegistryRoot::kCurrentUser, RegistryRoot::kLocalMachine,
                                   RegistryRoot::kUsers, RegistryRoot::kCurrentConfig};

void WalkKey(const std::string& folder, RegistryRoot root, const std::string& key, const Visitor& visit) {
  if (!key.empty() && visit.key) visit.key(root, key);
  std::vector<std::string> entries;
  ForEachEntry(folder, [&](const std::string& e) { entries.push_back(e); });
  std::sort(entries.begin(), entries.end());
  for (const std::string& entry : entries) {
    const std::string path = folder + "/" + entry;
    if (entry[0] == 'v') {
      std::string bytes;
      ParsedValue v;
      if (ReadFileBytes(path, &bytes) == RegistryStatus::kOk) v = ParseValue(bytes);
      if (v.status != RegistryStatus::kOk) {
        if (visit.damaged) visit.damaged(path);
        continue;
      }
      if (visit.value) visit.value(root, key, std::string(v.name), RegistryData{v.type, std::string(v.data)});
    } else if (entry[0] == 'k') {
      struct stat st;
      if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
      std::optional<std::string> name = KeyNameOf(path, entry);
      if (!name) {
        if (visit.damaged) visit.damaged(path);
        continue;
      }
      WalkKey(path, root, key.empty() ? *name : key + "\\" + *name, visit);
    }
  }
}

}  // namespace

bool Exists(const std::string& store) { return !RootFolders(store).empty(); }

std::vector<std::string> RootFolders(const std::string& store) {
  std::vector<std::string> out;
  for (RegistryRoot root : kRoots) {
    struct stat st;
    const std::string folder = RootFolder(store, root);
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) out.push_back(folder);
  }
  return out;
}

void Walk(const std::string& store, const Visitor& visit) {
  for (RegistryRoot root : kRoots) {
    struct stat st;
    const std::string folder = RootFolder(store, root);
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) WalkKey(folder, root, "", visit);
  }
}

RegistryStatus CreateKey(const std::string& store, RegistryRoot root, std::string_view key) {
  KeyPath k = SplitKey(key);
  return k.status != RegistryStatus::kOk ? k.status : EnsureKey(store, root, k);
}

RegistryStatus Read(const std::string& store, RegistryRoot root, std::string_view key, std::string_view name,
                    RegistryData* out) {
  KeyPath k = SplitKey(key);
  if (k.status != RegistryStatus::kOk) return k.status;
  if (!ValueNameOk(name)) return RegistryStatus::kBadName;
  std::string file = EncodeName('v', name);
  return ReadValueAt(KeyFolder(store, root, k) + "/" + file, IsHashedName(file), name, out);
}

RegistryStatus Write(const std::string& store, RegistryRoot root, std::string_view key, std::string_view name,
                     std::uint32_t type, std::string_view data) {
  KeyPath k = SplitKey(key);
  if (k.status != RegistryStatus::kOk) return k.status;
  if (!ValueNameOk(name)) return RegistryStatus::kBadName;

  char header[kHeaderSize];
  std::memcpy(header, kMagic, 4);
  PutU32(header + 4, type);
  PutU32(header + 8, static_cast<std::uint32_t>(name.size()));
  PutU32(header + 12, static_cast<std::uint32_t>(data.size()));
  PutU32(header + 16, Checksum(Checksum(Checksum(2166136261u, std::string_view(header, 16)), name), data));

  std::string folder = KeyFolder(store, root, k);
  std::string target = folder + "/" + EncodeName('v', name);
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::string temp = folder + "/.t" + UniqueSuffix();
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      int err = errno;
      if (err == EEXIST) continue;
      if (err != ENOENT) return FromErrno(err);
      RegistryStatus made = EnsureKey(store, root, k);
      if (made != RegistryStatus::kOk) return made;
      continue;
    }
    iovec parts[3] = {{header, kHeaderSize},
                      {const_cast<char*>(name.data()), name.size()},
                      {const_cast<char*>(data.data()), data.size()}};
    std::size_t total = kHeaderSize + name.size() + data.size();
    ssize_t n;
    do n = ::writev(fd, parts, 3);
    while (n < 0 && errno == EINTR);
    bool ok = n == static_cast<ssize_t>(total);
    if (!ok && n >= 0) {  // a short write: finish the rest piece by piece
      std::string all(header, kHeaderSize);
      all.append(name).append(data);
      ok = WriteAll(fd, all.data() + n, total - static_cast<std::size_t>(n));
    }
    int err = ok ? 0 : (errno ? errno : EIO);
    if (::close(fd) != 0 && ok) {
      ok = false;
      err = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return RegistryStatus::kOk;
    if (ok) err = errno;
    ::unlink(temp.c_str());
    if (err != ENOENT) return FromErrno(err);
  }
  return RegistryStatus::kFailed;
}

}  // namespace platform::folder_registry
