// A program for the Run actions' tests to start, wait for and end:
//   olvex-test-child exit N     ends at once with exit code N
//   olvex-test-child sleep MS   sleeps MS milliseconds, then ends with 0
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "exit") == 0) return std::atoi(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "sleep") == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(argv[2])));
    return 0;
  }
  return 2;
}
