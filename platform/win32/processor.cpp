// The processor as Windows describes it: the environment's PROCESSOR_*
// variables and the CentralProcessor key.
#include <windows.h>

#include <cstdlib>

#include "platform/processor.h"

namespace platform {

namespace {

std::string Environment(const char* name) {
  char buffer[512] = {};
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

constexpr const char* kProcessorKey = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

}  // namespace

ProcessorIdentity ReadSystemProcessor() {
  ProcessorIdentity p;
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  p.count = static_cast<int>(info.dwNumberOfProcessors);
  p.architecture = Environment("PROCESSOR_ARCHITECTURE");
  p.identifier = Environment("PROCESSOR_IDENTIFIER");
  p.revision = Environment("PROCESSOR_REVISION");
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProcessorKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    char name[256] = {};
    DWORD size = sizeof name - 1, type = 0;
    if (RegQueryValueExA(key, "ProcessorNameString", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
        type == REG_SZ)
      p.name = name;
    DWORD mhz = 0;
    size = sizeof mhz;
    if (RegQueryValueExA(key, "~MHz", nullptr, &type, reinterpret_cast<BYTE*>(&mhz), &size) == ERROR_SUCCESS &&
        type == REG_DWORD)
      p.mhz = static_cast<double>(mhz);
    RegCloseKey(key);
  }
  return p;
}

}  // namespace platform
