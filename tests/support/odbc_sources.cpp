#include "tests/support/odbc_sources.h"

#include <fstream>

#include "platform/environment.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace olvex::test {

namespace {

// A path as the host sees it: under Wine the Unix path of a Windows one.
std::string HostPath(const std::string& path) {
#ifdef _WIN32
  using UnixName = char*(CDECL*)(const WCHAR*);
  const auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_name) return path;
  wchar_t wide[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH)) return path;
  char* name = unix_name(wide);
  if (!name) return path;
  std::string host = name;
  HeapFree(GetProcessHeap(), 0, name);
  return host;
#else
  return path;
#endif
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

OdbcSources::OdbcSources(const std::string& folder) {
  const std::string host_folder = HostPath(folder);
  const char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
  database_ = host_folder + "/test.db";
  WriteFile(folder + separator + "odbcinst.ini",
            "[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=libsqlite3odbc.so\nSetup=libsqlite3odbc.so\n");
  WriteFile(folder + separator + "odbc.ini", "");
  std::string sources;
  for (const char* name : {"OlvexTest", "OlvexTest2"})
    sources += std::string("[") + name + "]\nDriver=SQLite3\nDatabase=" + database_ + "\nTimeout=2000\n\n";
  WriteFile(folder + separator + "user_odbc.ini", sources);
  // The SQLite driver's connection leaves blocks of the ODBC installer
  // library, which it unloads again, to the leak checker of sanitized builds;
  // telling them from the runtime's own takes the checker many seconds at
  // each exit (a stopped run would be ended by force): no leak check here.
  platform::WriteEnv("ASAN_OPTIONS", "detect_leaks=0");
  platform::WriteEnv("ODBCSYSINI", host_folder);
  platform::WriteEnv("ODBCINI", host_folder + "/user_odbc.ini");
}

OdbcSources::~OdbcSources() {
  platform::RemoveEnv("ODBCSYSINI");
  platform::RemoveEnv("ODBCINI");
  platform::RemoveEnv("ASAN_OPTIONS");
}

}  // namespace olvex::test
