#pragma once
// Files: whole-file reading and the questions the loaders ask about a path.
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

enum class ReadStatus { Ok, NotFound, OpenFailed, OutOfMemory, ReadFailed };

struct FileContent {
  ReadStatus status = ReadStatus::NotFound;
  std::string data;
};

// Reads a whole file, opened for shared reading (another program may hold it open).
FileContent ReadWholeFile(const std::string& path);

// True when a file or folder of that name exists.
bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);

// Size of a file in bytes; nothing when it does not exist or is a folder.
std::optional<std::uint64_t> FileSize(const std::string& path);

}  // namespace platform
