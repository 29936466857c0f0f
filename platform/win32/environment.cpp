#include <windows.h>

#include <algorithm>
#include <cctype>
#include <new>

#include "platform/environment.h"
#include "platform/win32/system_text.h"

namespace platform {

namespace {

bool Fail(std::string* error) {
  DWORD err = GetLastError();
  if (error) *error = SystemErrorText(err);
  return false;
}

bool SameNoCase(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

std::optional<std::string> ReadEnv(const std::string& name) {
  char small[1024];
  SetLastError(ERROR_SUCCESS);
  DWORD n = GetEnvironmentVariableA(name.c_str(), small, sizeof small);
  if (n == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  if (n < sizeof small) return std::string(small, n);
  std::string big(n, '\0');
  n = GetEnvironmentVariableA(name.c_str(), big.data(), static_cast<DWORD>(big.size()));
  big.resize(std::min<std::size_t>(n, big.size()));
  return big;
}

bool WriteEnv(const std::string& name, const std::string& value, std::string* error) {
  if (!SetEnvironmentVariableA(name.c_str(), value.c_str())) return Fail(error);
  return true;
}

bool RemoveEnv(const std::string& name, std::string* error) {
  if (!SetEnvironmentVariableA(name.c_str(), nullptr)) return Fail(error);
  return true;
}

void BroadcastEnvironmentChange() {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"),
                      SMTO_ABORTIFHUNG, 5000, &result);
  Sleep(1000);
}

std::optional<std::string> TempFolder() {
  char buf[MAX_PATH + 2];
  DWORD n = GetTempPathA(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return std::nullopt;
  std::string folder(buf, n);
  if (folder.back() != '\\') folder += '\\';
  return folder;
}

std::optional<std::uint64_t> RegularFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool WriteFileReplacing(const std::string& path, const std::string& data) {
  DeleteFileA(path.c_str());
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < data.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30)), put = 0;
    ok = WriteFile(h, data.data() + done, chunk, &put, nullptr) && put > 0;
    done += put;
  }
  ok = ok && SetEndOfFile(h);
  CloseHandle(h);
  if (!ok) DeleteFileA(path.c_str());
  return ok;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

std::size_t RemoveFilesLike(const std::string& folder, const std::string& prefix, const std::string& suffix) {
  std::string base = folder;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((base + "*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return 0;
  std::size_t removed = 0;
  do {
    std::string name = found.cFileName;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (name.size() < prefix.size() + suffix.size()) continue;
    if (!std::equal(prefix.begin(), prefix.end(), name.begin(), SameNoCase)) continue;
    if (!std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<std::ptrdiff_t>(suffix.size()), SameNoCase))
      continue;
    if (DeleteFileA((base + name).c_str())) ++removed;
  } while (FindNextFileA(h, &found));
  FindClose(h);
  return removed;
}

}  // namespace platform
