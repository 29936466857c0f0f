#pragma once
#include <cstddef>

namespace platform::posix {

struct CompiledResource {
  int id;
  const unsigned char* data;
  std::size_t size;
};

// Generated at build time from the resource list of the build.
extern const CompiledResource kCompiledResources[];
extern const std::size_t kCompiledResourceCount;

}  // namespace platform::posix
