#pragma once
// The process environment and the user's temporary folder.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// ---- environment variables of this process
std::optional<std::string> ReadEnv(const std::string& name);
// Sets (or, for RemoveEnv, removes) a variable. On failure `error` gets the
// system's text for the error.
bool WriteEnv(const std::string& name, const std::string& value, std::string* error = nullptr);
bool RemoveEnv(const std::string& name, std::string* error = nullptr);
// Tells the other programs that the environment stored for the user changed
// (Windows: WM_SETTINGCHANGE "Environment" to all top-level windows, then a
// pause of a second). POSIX: nothing to tell.
void BroadcastEnvironmentChange();

// ---- the temporary folder
// The folder for the runtime's temporary files, with a trailing separator.
// Windows: the user's temp folder. POSIX: $TMPDIR/olvex-<uid>/ (TMPDIR
// defaults to /tmp), created 0700 and used only when it is a real folder
// owned by this user that nobody else may enter; nothing otherwise.
std::optional<std::string> TempFolder();

// ---- files the runtime keeps in it
// (Reading them: ReadWholeFile of platform/files.h, with its size limit.)
// Size of a regular file; nothing when missing or not a regular file.
std::optional<std::uint64_t> RegularFileSize(const std::string& path);
// Replaces a file's contents. On POSIX the new contents appear at once (a
// reader sees the old file or the new one), an existing file keeps its
// permissions and a new one is for this user only.
bool WriteFileReplacing(const std::string& path, const std::string& data);
bool RemoveFile(const std::string& path);
// Removes the files of `folder` whose names begin with `prefix` and end with
// `suffix` (without regard to case); returns how many were removed.
std::size_t RemoveFilesLike(const std::string& folder, const std::string& prefix, const std::string& suffix);

}  // namespace platform
