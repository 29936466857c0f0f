#pragma once
// The running program: its own path and the resources it carries.
#include <optional>
#include <string>

namespace platform {

// Full path of the running executable.
std::string ModulePath();

// RCDATA resource `id` of the running executable. On POSIX the resources
// are a table compiled into the program.
std::optional<std::string> ReadModuleResource(int id);

// RCDATA resource `id` of another executable file; nothing when the file
// has no such resource or the platform cannot read resources of files.
std::optional<std::string> ReadFileResource(const std::string& path, int id);

// Writes `bytes` as RCDATA resource `id` (language neutral) into the executable
// file `path`, replacing one of that id. The file may be rewritten as a whole.
// False when it cannot be done; POSIX cannot write resources into files.
bool WriteFileResource(const std::string& path, int id, const std::string& bytes);

}  // namespace platform
