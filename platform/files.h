#pragma once
// Files: whole-file reading and the questions the loaders ask about a path.
#include <cstdint>
#include <optional>
#include <string>

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

// Size of a file in bytes; nothing when it does not exist or is a folder.
std::optional<std::uint64_t> FileSize(const std::string& path);

}  // namespace platform
