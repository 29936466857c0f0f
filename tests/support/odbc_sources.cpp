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

// A host path as this program opens it: under Wine, drive Z: is the root.
std::string LocalPath(const std::string& host_path) {
#ifdef _WIN32
  std::string path = "Z:" + host_path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
#else
  return host_path;
#endif
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

OdbcSources::OdbcSources(const std::string& folder) {
  database_ = HostPath(folder) + "/test.db";
  std::string system_folder = HostPath(folder), user_file = system_folder + "/user_odbc.ini";
#ifdef _WIN32
  const auto inherited_system = platform::ReadEnv("ODBCSYSINI"), inherited_user = platform::ReadEnv("ODBCINI");
  if (!inherited_system || !inherited_user) return;
  system_folder = *inherited_system;
  user_file = *inherited_user;
#else
  set_environment_ = true;
#endif
  WriteFile(LocalPath(system_folder + "/odbcinst.ini"),
            "[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=libsqlite3odbc.so\nSetup=libsqlite3odbc.so\n");
  WriteFile(LocalPath(system_folder + "/odbc.ini"), "");
  std::string sources;
  for (const char* name : {"OlvexTest", "OlvexTest2"})
    sources += std::string("[") + name + "]\nDriver=SQLite3\nDatabase=" + database_ + "\nTimeout=2000\n\n";
  WriteFile(LocalPath(user_file), sources);
  available_ = true;
  if (!set_environment_) return;
  // The SQLite driver's connection leaves blocks of the ODBC installer
  // library, which it unloads again, to the leak checker of sanitized builds;
  // telling them from the runtime's own takes the checker many seconds at
  // each exit (a stopped run would be ended by force): no leak check here.
  platform::WriteEnv("ASAN_OPTIONS", "detect_leaks=0");
  platform::WriteEnv("ODBCSYSINI", system_folder);
  platform::WriteEnv("ODBCINI", user_file);
}

OdbcSources::~OdbcSources() {
  if (!set_environment_) return;
  platform::RemoveEnv("ODBCSYSINI");
  platform::RemoveEnv("ODBCINI");
  platform::RemoveEnv("ASAN_OPTIONS");
}

}  // namespace olvex::test
