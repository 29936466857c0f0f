#include <windows.h>

#include <algorithm>
#include <new>

#include "platform/files.h"

namespace platform {

FileContent ReadWholeFile(const std::string& path, std::uint64_t max_bytes) {
  FileContent result;
  DWORD attrs = GetFileAttributesA(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    DWORD err = GetLastError();
    result.status = (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME)
                        ? ReadStatus::NotFound
                        : ReadStatus::OpenFailed;
    return result;
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE || (attrs & FILE_ATTRIBUTE_DIRECTORY) || GetFileType(h) != FILE_TYPE_DISK) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    result.status = ReadStatus::OpenFailed;
    return result;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h, &size)) {
    CloseHandle(h);
    result.status = ReadStatus::ReadFailed;
    return result;
  }
  if (static_cast<std::uint64_t>(size.QuadPart) > max_bytes) {
    CloseHandle(h);
    result.status = ReadStatus::TooLarge;
    return result;
  }
  try {
    result.data.resize(static_cast<std::size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    CloseHandle(h);
    result.status = ReadStatus::OutOfMemory;
    return result;
  }
  std::size_t done = 0;
  while (done < result.data.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(result.data.size() - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(h, result.data.data() + done, chunk, &got, nullptr)) {
      CloseHandle(h);
      result.data.clear();
      result.status = ReadStatus::ReadFailed;
      return result;
    }
    if (got == 0) break;  // the file shrank while being read
    done += got;
  }
  result.data.resize(done);
  CloseHandle(h);
  result.status = ReadStatus::Ok;
  return result;
}

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::string& path) {
  DWORD attrs = GetFileAttributesA(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsLink(const std::string& path) {
  std::string own = path;
  while (own.size() > 3 && (own.back() == '/' || own.back() == '\\')) own.pop_back();
  DWORD attrs = GetFileAttributesA(own.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

char PathSeparator() { return '\\'; }

bool ListFolder(const std::string& folder, const std::string& pattern, std::vector<FolderEntry>* entries) {
  entries->clear();
  std::string query = folder;
  if (!query.empty() && query.back() != '\\' && query.back() != '/' && query.back() != ':') query += '\\';
  query += pattern;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(query.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    // No match in a folder that exists is an empty listing.
    const DWORD err = GetLastError();
    const DWORD attrs = GetFileAttributesA(folder.empty() ? "." : folder.c_str());
    return err == ERROR_FILE_NOT_FOUND || (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY));
  }
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    FolderEntry entry;
    entry.name = name;
    entry.is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries->push_back(std::move(entry));
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return true;
}

}  // namespace platform
