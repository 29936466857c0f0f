#pragma once
// The Wait category: Delay, the key and mouse waits on the worker, and the
// long waits (windows, files, folders, pixels, images, the clipboard, the
// screen saver, idleness, typed text, a date and time) polled on the main
// thread while the worker waits; Wait for Restart registers the script to
// run again when the user next logs on.
#include <cstdint>
#include <string>

namespace olvex {

int HandleWaitStep(int slot, int step_index);

// The file-change watch's record of a file: its size and the FNV-1a 64
// checksum of its contents; a missing file has size -1, a file over 64 MiB
// is recorded by its size alone.
struct FileRecord {
  std::int64_t size = -1;
  std::uint64_t checksum = 0;
  bool operator==(const FileRecord&) const = default;
};
FileRecord RecordFile(const std::string& path);

}  // namespace olvex
