#pragma once
// File and folder operations that never lose what is stored: a copy is
// written under a temporary name and put in place only when complete; a move
// removes its source only after the destination is complete; a destination
// that is read-only is refused. On failure they return false with the reason
// in `error` (the system's own text, or a sentence of their own).
#include <functional>
#include <string>
#include <string_view>

#include "platform/file_ops.h"

namespace olvex {

using StopQuery = std::function<bool()>;

// Writes a new file under a temporary name beside `path` through `write`
// (given the open file) and renames it over `path` once it is complete: when
// anything fails the old file stays as it was and no half file is left.
bool ReplaceFileSafely(const std::string& path, const std::function<bool(platform::File&)>& write, std::string* error);
// The same for a file whose whole content is `bytes`.
bool WriteFileSafely(const std::string& path, std::string_view bytes, std::string* error);
// Copies a file over `to` (replacing an existing file).
bool CopyFileSafely(const std::string& from, const std::string& to, std::string* error, const StopQuery& stop = {});
// Moves a file: a rename, else (another file system) a copy whose size is
// checked before the source is deleted.
bool MoveFileSafely(const std::string& from, const std::string& to, std::string* error);
// Creates a folder and its missing parents; an existing folder is success.
bool CreateFolders(const std::string& path, std::string* error);
// Copies the contents of folder `from` into folder `to` (created when
// missing). `to` may not be `from` or lie inside it.
bool CopyFolderContents(const std::string& from, const std::string& to, std::string* error);
// Moves a folder: a rename when `to` does not exist, else its contents are
// copied and the source deleted only when all of them arrived.
bool MoveFolder(const std::string& from, const std::string& to, std::string* error);
// Deletes a folder and everything in it (links are removed, not followed).
bool DeleteFolderTree(const std::string& path, std::string* error);

}  // namespace olvex
