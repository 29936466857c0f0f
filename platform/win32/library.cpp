// Libraries through LoadLibraryA / GetProcAddress. A fault in a called
// function is seen first by a vectored exception handler, before any frame
// handler (the C++ runtime's included) could take it, and the thread is
// turned back to the caller's frame.
#include <windows.h>

#include "platform/library.h"
#include "platform/library_call.h"

namespace platform {
namespace {

thread_local bool t_in_call = false;
thread_local DWORD t_code = 0;
thread_local void* t_jump[5];

[[noreturn]] void JumpBack() { __builtin_longjmp(t_jump, 1); }

bool Catchable(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
      return true;
    default:
      return false;
  }
}

LONG CALLBACK Catch(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (!t_in_call || !Catchable(code)) return EXCEPTION_CONTINUE_SEARCH;
  t_in_call = false;
  t_code = code;
  CONTEXT* context = info->ContextRecord;
  context->Rsp = (context->Rsp & ~static_cast<DWORD64>(15)) - 8;  // as if JumpBack had been called
  context->Rip = reinterpret_cast<DWORD64>(&JumpBack);
  return EXCEPTION_CONTINUE_EXECUTION;
}

std::string FaultName(DWORD code) {
  char text[80];
  const char* name = code == EXCEPTION_ACCESS_VIOLATION       ? "access violation"
                     : code == EXCEPTION_IN_PAGE_ERROR         ? "page error"
                     : code == EXCEPTION_ILLEGAL_INSTRUCTION   ? "illegal instruction"
                     : code == EXCEPTION_PRIV_INSTRUCTION      ? "privileged instruction"
                     : code == EXCEPTION_INT_DIVIDE_BY_ZERO    ? "integer division by zero"
                     : code == EXCEPTION_INT_OVERFLOW          ? "integer overflow"
                     : code == EXCEPTION_DATATYPE_MISALIGNMENT ? "misaligned data"
                                                               : "array bounds exceeded";
  wsprintfA(text, "%s (0x%08lX)", name, static_cast<unsigned long>(code));
  return text;
}

}  // namespace

void* LoadSharedLibrary(const std::string& path) {
  if (path.empty()) return nullptr;
  // No "insert the disk" boxes for a missing drive.
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryA(path.c_str());
  SetErrorMode(old_mode);
  return reinterpret_cast<void*>(module);
}

void FreeSharedLibrary(void* library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

void* FindExportedFunction(void* library, const std::string& name) {
  if (!library || name.empty()) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name.c_str()));
}

const std::vector<std::string>& DefaultLibraries() {
  static const std::vector<std::string> list = {"USER32.DLL",   "GDI32.DLL",    "KERNEL32.DLL", "SHELL32.DLL",
                                                "COMCTL32.DLL", "COMDLG32.DLL", "ADVAPI32.DLL", "WSOCK32.DLL",
                                                "WS2_32.DLL",   "WININET.DLL",  "ODBC32.DLL",   "OLE32.DLL",
                                                "OLEAUT32.DLL", "MPR.DLL",      "WINMM.DLL",    "MFC40.DLL"};
  return list;
}

bool CallFunction(void* function, const std::intptr_t* args, int count, std::intptr_t* result, std::string* fault) {
  static thread_local volatile std::intptr_t value;
  static void* const handler = AddVectoredExceptionHandler(1, Catch);
  (void)handler;
  t_in_call = true;
  if (__builtin_setjmp(t_jump) == 0) {
    value = InvokeWithArguments(function, args, count);
    t_in_call = false;
    *result = value;
    return true;
  }
  if (fault) *fault = FaultName(t_code);
  *result = 0;
  return false;
}

}  // namespace platform
