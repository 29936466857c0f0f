#include "platform/module.h"

#include <limits.h>
#include <unistd.h>

#include "platform/posix/compiled_resources.h"

namespace platform {

std::string ModulePath() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::optional<std::string> ReadModuleResource(int id) {
  for (std::size_t i = 0; i < posix::kCompiledResourceCount; ++i) {
    const auto& r = posix::kCompiledResources[i];
    if (r.id == id) return std::string(reinterpret_cast<const char*>(r.data), r.size);
  }
  return std::nullopt;
}

std::optional<std::string> ReadFileResource(const std::string&, int) {
  return std::nullopt;  // resources of executable files are a Windows affair
}

bool WriteFileResource(const std::string&, int, const std::string&) {
  return false;  // resources of executable files are a Windows affair
}

}  // namespace platform
