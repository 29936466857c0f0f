#pragma once
// Files: whole-file reading, the questions the loaders ask about a path, and
// folder listings with wildcards.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class ReadStatus { Ok, NotFound, OpenFailed, TooLarge, OutOfMemory, ReadFailed };

struct FileContent {
  ReadStatus status = ReadStatus::NotFound;
  std::string data;
};

// Reads a whole regular file, opened for shared reading (another program may
// hold it open); a file larger than `max_bytes` is TooLarge. It never waits on
// a pipe or device: those are OpenFailed.
FileContent ReadWholeFile(const std::string& path, std::uint64_t max_bytes = ~std::uint64_t{0});

// True when a file or folder of that name exists.
bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);
// True when the path itself (trailing separators aside) is a symbolic link or
// another reparse point, whatever it points to.
bool IsLink(const std::string& path);

// Size of a file in bytes; nothing when it does not exist or is a folder.
std::optional<std::uint64_t> FileSize(const std::string& path);

// The separator of paths the system prefers: '\\' on Windows, '/' elsewhere.
// Paths given to ListFolder may use either on every system.
char PathSeparator();

struct FolderEntry {
  std::string name;        // the entry's own name, without its folder
  bool is_folder = false;  // a folder (or a link to one)
  bool is_link = false;    // a symbolic link or another reparse point: listings do not descend into it
};

// The entries of `folder` (empty: the current folder) whose names match
// `pattern`, as the system lists them; "." and ".." are left out. False when
// the folder cannot be read; a folder without matches gives true and no entry.
bool ListFolder(const std::string& folder, const std::string& pattern, std::vector<FolderEntry>* entries);

// Wildcards as Windows matches them, without regard to case (ASCII): `*` any
// run of characters, `?` one character; "*" and "*.*" match every name, a
// pattern ending in ".*" also matches the name without that ending
// ("readme.*" matches "readme"), and one ending in "." matches names without
// an extension ("*." matches "Makefile").
bool MatchesWildcard(std::string_view pattern, std::string_view name);
// `*` and `?` alone over the whole text, without regard to case (ASCII) and
// without the file-name rules above.
bool MatchesGlob(std::string_view pattern, std::string_view text);

}  // namespace platform
