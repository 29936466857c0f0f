// Every argument is passed as a register-sized integer (a number, or the
// address of a buffer): on x86-64 (Windows and System V alike) the callee
// finds each in the register or stack slot of its position, and the caller
// removes what it pushed.
#include "platform/library_call.h"

namespace platform {

std::intptr_t InvokeWithArguments(void* function, const std::intptr_t* a, int count) {
  using I = std::intptr_t;
  switch (count) {
    case 0: return reinterpret_cast<I (*)()>(function)();
    case 1: return reinterpret_cast<I (*)(I)>(function)(a[0]);
    case 2: return reinterpret_cast<I (*)(I, I)>(function)(a[0], a[1]);
    case 3: return reinterpret_cast<I (*)(I, I, I)>(function)(a[0], a[1], a[2]);
    case 4: return reinterpret_cast<I (*)(I, I, I, I)>(function)(a[0], a[1], a[2], a[3]);
    case 5: return reinterpret_cast<I (*)(I, I, I, I, I)>(function)(a[0], a[1], a[2], a[3], a[4]);
    case 6: return reinterpret_cast<I (*)(I, I, I, I, I, I)>(function)(a[0], a[1], a[2], a[3], a[4], a[5]);
    case 7: return reinterpret_cast<I (*)(I, I, I, I, I, I, I)>(function)(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
    case 8:
      return reinterpret_cast<I (*)(I, I, I, I, I, I, I, I)>(function)(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
    case 9:
      return reinterpret_cast<I (*)(I, I, I, I, I, I, I, I, I)>(function)(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7],
                                                                          a[8]);
    case 10:
      return reinterpret_cast<I (*)(I, I, I, I, I, I, I, I, I, I)>(function)(a[0], a[1], a[2], a[3], a[4], a[5], a[6],
                                                                             a[7], a[8], a[9]);
    case 11:
      return reinterpret_cast<I (*)(I, I, I, I, I, I, I, I, I, I, I)>(function)(a[0], a[1], a[2], a[3], a[4], a[5],
                                                                                a[6], a[7], a[8], a[9], a[10]);
    default:
      return reinterpret_cast<I (*)(I, I, I, I, I, I, I, I, I, I, I, I)>(function)(a[0], a[1], a[2], a[3], a[4], a[5],
                                                                                   a[6], a[7], a[8], a[9], a[10], a[11]);
  }
}

}  // namespace platform
