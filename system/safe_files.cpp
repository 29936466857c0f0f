#include "system/safe_files.h"

#include <vector>

#include "engine/text.h"
#include "platform/file_ops.h"
#include "platform/files.h"
#include "system/file_paths.h"

namespace olvex {
namespace {

bool SystemFailure(std::string* error) {
  *error = platform::LastErrorText();
  return false;
}

bool IsReadOnly(const std::string& path) {
  const std::optional<std::uint32_t> bits = platform::ReadAttributes(path);
  return bits && (*bits & platform::attr::kReadOnly) && !(*bits & platform::attr::kDirectory);
}

bool RefuseReadOnly(const std::string& path, std::string* error) {
  if (!IsReadOnly(path)) return false;
  *error = "'" + path + "' is read-only";
  return true;
}

std::string Trimmed(std::string path) {
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/') && !(path.size() == 3 && path[1] == ':'))
    path.pop_back();
  return path;
}

// True when `inner` is `outer` or lies inside it (separators and case aside).
bool Inside(const std::string& inner, const std::string& outer) {
  auto norm = [](std::string p) {
    for (char& c : p)
      if (c == '\\') c = '/';
    return Trimmed(p) + "/";
  };
  const std::string a = norm(inner), b = norm(outer);
  return a.size() >= b.size() && EqualsNoCase(std::string_view(a).substr(0, b.size()), b);
}

// A free name of our own beside `path`, so that the final rename stays on its file system.
std::string TemporaryNameBeside(const std::string& path, std::string* error) {
  for (int n = 0; n < 100; ++n) {
    std::string temp = path + ".olvex-part" + std::to_string(n);
    if (!platform::PathExists(temp)) return temp;
  }
  *error = "No temporary name is free beside '" + path + "'";
  return {};
}

}  // namespace

bool ReplaceFileSafely(const std::string& path, const std::function<bool(platform::File&)>& write, std::string* error) {
  if (platform::IsFolder(path)) {
    *error = "'" + path + "' is a folder";
    return false;
  }
  if (RefuseReadOnly(path, error)) return false;
  const std::string temp = TemporaryNameBeside(path, error);
  if (temp.empty()) return false;
  platform::File file;
  if (!file.Open(temp, platform::File::Mode::kCreateNew)) return SystemFailure(error);
  bool ok = write(file);
  if (!ok) *error = platform::LastErrorText();
  if (!file.Close() && ok) ok = SystemFailure(error);
  if (ok) platform::CopyPermissions(path, temp);
  if (ok && !platform::RenamePath(temp, path)) ok = SystemFailure(error);
  if (!ok) platform::DeleteFileAt(temp);
  return ok;
}

bool CopyFileSafely(const std::string& from, const std::string& to, std::string* error, const StopQuery& stop) {
  const std::optional<std::uint64_t> size = platform::FileSize(from);
  if (!size) {
    *error = platform::IsFolder(from) ? "'" + from + "' is a folder" : "'" + from + "' does not exist";
    return false;
  }
  if (platform::IsFolder(to)) {
    *error = "'" + to + "' is a folder";
    return false;
  }
  if (RefuseReadOnly(to, error)) return false;
  const std::string temp = TemporaryNameBeside(to, error);
  if (temp.empty()) return false;
  if (!platform::CopyFileData(from, temp, stop)) {
    *error = platform::LastErrorText();
    platform::DeleteFileAt(temp);
    return false;
  }
  if (platform::FileSize(temp) != size) {
    platform::DeleteFileAt(temp);
    *error = "The copy of '" + from + "' is incomplete";
    return false;
  }
  if (!platform::RenamePath(temp, to)) {
    SystemFailure(error);
    platform::DeleteFileAt(temp);
    return false;
  }
  return true;
}

bool WriteFileSafely(const std::string& path, std::string_view bytes, std::string* error) {
  return ReplaceFileSafely(path, [&](platform::File& file) { return file.WriteAt(0, bytes.data(), bytes.size()); }, error);
}

bool MoveFileSafely(const std::string& from, const std::string& to, std::string* error) {
  if (!platform::FileSize(from)) {
    *error = platform::IsFolder(from) ? "'" + from + "' is a folder" : "'" + from + "' does not exist";
    return false;
  }
  if (platform::IsFolder(to)) {
    *error = "'" + to + "' is a folder";
    return false;
  }
  if (RefuseReadOnly(to, error)) return false;
  if (platform::RenamePath(from, to)) return true;
  if (!platform::LastRenameWasCrossDevice()) return SystemFailure(error);
  if (!CopyFileSafely(from, to, error)) return false;
  if (!platform::DeleteFileAt(from)) return SystemFailure(error);
  return true;
}

bool CreateFolders(const std::string& path_in, std::string* error) {
  const std::string path = Trimmed(path_in);
  if (path.empty()) {
    *error = "No folder name provided";
    return false;
  }
  if (platform::IsFolder(path)) return true;
  if (platform::PathExists(path)) {
    *error = "'" + path + "' exists and is not a folder";
    return false;
  }
  const std::string parent = FolderOf(path);
  if (!parent.empty() && parent != path && !(parent.size() == 2 && parent[1] == ':') &&
      !CreateFolders(parent, error))
    return false;
  if (platform::MakeFolder(path) || platform::IsFolder(path)) return true;
  return SystemFailure(error);
}

bool CopyFolderContents(const std::string& from_in, const std::string& to_in, std::string* error) {
  const std::string from = Trimmed(from_in), to = Trimmed(to_in);
  if (!platform::IsFolder(from)) {
    *error = "'" + from + "' is not an existing folder";
    return false;
  }
  if (Inside(to, from)) {
    *error = "A folder cannot be copied into itself ('" + to + "' lies in '" + from + "')";
    return false;
  }
  if (!CreateFolders(to, error)) return false;
  std::vector<platform::FolderEntry> entries;
  if (!platform::ListFolder(from, "*", &entries)) return SystemFailure(error);
  for (const platform::FolderEntry& entry : entries) {
    const std::string source = JoinPath(from, entry.name), target = JoinPath(to, entry.name);
    if (entry.is_folder) {
      // A link to a folder is not followed: the copy could otherwise never end.
      if (!entry.is_link && !CopyFolderContents(source, target, error)) return false;
    } else if (!CopyFileSafely(source, target, error)) {
      return false;
    }
  }
  return true;
}

bool DeleteFolderTree(const std::string& path_in, std::string* error) {
  const std::string path = Trimmed(path_in);
  if (!platform::IsFolder(path)) {
    *error = "'" + path + "' is not an existing folder";
    return false;
  }
  // A link to a folder goes, never what it points to.
  if (platform::IsLink(path)) return platform::RemoveEmptyFolder(path) || platform::DeleteFileAt(path) || SystemFailure(error);
  std::vector<platform::FolderEntry> entries;
  if (!platform::ListFolder(path, "*", &entries)) return SystemFailure(error);
  for (const platform::FolderEntry& entry : entries) {
    const std::string item = JoinPath(path, entry.name);
    if (entry.is_folder && !entry.is_link) {
      if (!DeleteFolderTree(item, error)) return false;
    } else if (entry.is_folder) {
      if (!platform::RemoveEmptyFolder(item) && !platform::DeleteFileAt(item)) return SystemFailure(error);
    } else {
      if (IsReadOnly(item)) platform::SetReadOnly(item, false);
      if (!platform::DeleteFileAt(item)) return SystemFailure(error);
    }
  }
  return platform::RemoveEmptyFolder(path) || SystemFailure(error);
}

bool MoveFolder(const std::string& from_in, const std::string& to_in, std::string* error) {
  const std::string from = Trimmed(from_in), to = Trimmed(to_in);
  if (!platform::IsFolder(from)) {
    *error = "'" + from + "' is not an existing folder";
    return false;
  }
  if (Inside(to, from) && !EqualsNoCase(Trimmed(to), from)) {
    *error = "A folder cannot be moved into itself ('" + to + "' lies in '" + from + "')";
    return false;
  }
  if (!platform::PathExists(to)) {
    const std::string parent = FolderOf(to);
    if (!parent.empty() && !CreateFolders(parent, error)) return false;
    if (platform::RenamePath(from, to)) return true;
  }
  if (!CopyFolderContents(from, to, error)) return false;
  return DeleteFolderTree(from, error);
}

}  // namespace olvex
