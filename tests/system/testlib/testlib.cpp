// A library for the library-call tests: functions of 0 to 10 integer
// arguments (each argument weighted by its position, so that an argument in
// the wrong place shows), text arguments, output buffers and a function
// that faults.
#include <cstring>

#ifdef _WIN32
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

EXPORT int olvex_sum0() { return 7; }
EXPORT int olvex_sum1(int a) { return a; }
EXPORT int olvex_sum2(int a, int b) { return a + 2 * b; }
EXPORT int olvex_sum3(int a, int b, int c) { return a + 2 * b + 3 * c; }
EXPORT int olvex_sum4(int a, int b, int c, int d) { return a + 2 * b + 3 * c + 4 * d; }
EXPORT int olvex_sum5(int a, int b, int c, int d, int e) { return a + 2 * b + 3 * c + 4 * d + 5 * e; }
EXPORT int olvex_sum6(int a, int b, int c, int d, int e, int f) { return a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f; }
EXPORT int olvex_sum7(int a, int b, int c, int d, int e, int f, int g) {
  return a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g;
}
EXPORT int olvex_sum8(int a, int b, int c, int d, int e, int f, int g, int h) {
  return a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h;
}
EXPORT int olvex_sum9(int a, int b, int c, int d, int e, int f, int g, int h, int i) {
  return a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h + 9 * i;
}
EXPORT int olvex_sum10(int a, int b, int c, int d, int e, int f, int g, int h, int i, int j) {
  return a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h + 9 * i + 10 * j;
}

// Texts: the length of the first times 1000 plus that of the second (a null
// pointer counts -1).
EXPORT int olvex_lengths(const char* a, const char* b) {
  return (a ? static_cast<int>(std::strlen(a)) : -1) * 1000 + (b ? static_cast<int>(std::strlen(b)) : -1);
}

// Output buffers: "a|b" into `out`; a number into the first word of `out`.
EXPORT int olvex_join(char* out, const char* a, const char* b) {
  std::strcpy(out, a);
  std::strcat(out, "|");
  std::strcat(out, b);
  return static_cast<int>(std::strlen(out));
}
EXPORT int olvex_put_number(int* out, int value) {
  *out = value;
  return 1;
}

EXPORT int olvex_fault() {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return 0;
}
