#include <windows.h>

#include "platform/module.h"

namespace platform {
namespace {

std::optional<std::string> ResourceOf(HMODULE module, int id) {
  HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (!res) return std::nullopt;
  DWORD size = SizeofResource(module, res);
  HGLOBAL loaded = LoadResource(module, res);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return std::nullopt;
  return std::string(static_cast<const char*>(data), size);
}

}  // namespace

std::string ModulePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::optional<std::string> ReadModuleResource(int id) { return ResourceOf(GetModuleHandleA(nullptr), id); }

std::optional<std::string> ReadFileResource(const std::string& path, int id) {
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return std::nullopt;
  auto result = ResourceOf(module, id);
  FreeLibrary(module);
  return result;
}

bool WriteFileResource(const std::string& path, int id, const std::string& bytes) {
  if (bytes.size() > 0xFFFFFFFFu) return false;
  HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
  if (!update) return false;
  BOOL ok = UpdateResourceA(update, MAKEINTRESOURCEA(10) /* RT_RCDATA */, MAKEINTRESOURCEA(id),
                            MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), const_cast<char*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
  // Ending the update without writing when the update itself failed.
  return EndUpdateResourceA(update, ok ? FALSE : TRUE) && ok;
}

}  // namespace platform
