#pragma once
// Windows tests: answers the message boxes that appear on the test desktop,
// from any process, so that no test ever waits on a box nobody answers.
#ifdef _WIN32
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace olvex::test {

class BoxAnswerer {
 public:
  struct Box {
    std::string title, text;
  };
  // Presses the button with this id (1 OK, 2 Cancel, 6 Yes, 7 No) on every box;
  // when the box has no such button, its first button.
  explicit BoxAnswerer(int button_id = 1);
  ~BoxAnswerer();
  // Waits until at least `count` boxes were answered; returns those seen.
  std::vector<Box> WaitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  std::vector<Box> Seen();

 private:
  void Run();
  int button_id_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Box> seen_;
  std::thread thread_;
};

}  // namespace olvex::test
#endif
