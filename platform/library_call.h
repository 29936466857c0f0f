#pragma once
// Shared by the backends of platform/library.h: the call of a function
// pointer with 0 .. 12 register-sized integer arguments.
#include <cstdint>

namespace platform {

std::intptr_t InvokeWithArguments(void* function, const std::intptr_t* a, int count);

}  // namespace platform
