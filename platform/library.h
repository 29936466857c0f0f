#pragma once
// Libraries of the system loaded by name, their exported functions, and a
// call of such a function with register-sized integer arguments.
//
// Windows: LoadLibraryA / GetProcAddress. The build is 64-bit, where one
// calling convention serves every function, so the "caller cleans" choice
// changes nothing there. A function that faults (access violation, division
// by zero, ...) is caught by a vectored exception handler and reported.
// POSIX: dlopen / dlsym on shared objects; a fault (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL) in the called function is caught by a signal handler installed for
// the call and reported. Faults that do not leave the thread runnable (a
// smashed stack, say) cannot be caught on either system.
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

constexpr int kMaxCallArguments = 12;

// The library, or nullptr when it cannot be loaded.
void* LoadSharedLibrary(const std::string& path);
void FreeSharedLibrary(void* library);
// The exported function of that name (exact case), or nullptr.
void* FindExportedFunction(void* library, const std::string& name);

// The libraries searched, in order, when a call names none (Windows: USER32.DLL,
// GDI32.DLL, KERNEL32.DLL, ...; POSIX: the C and maths libraries).
const std::vector<std::string>& DefaultLibraries();

// Calls `function` with `count` (0 .. 12) arguments. True when it returned,
// with its result in `result`; false when it faulted, with the fault named in
// `fault` ("access violation", ...).
bool CallFunction(void* function, const std::intptr_t* args, int count, std::intptr_t* result, std::string* fault);

}  // namespace platform
