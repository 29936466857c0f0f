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
    int width = 0, height = 0;
  };
  // How to answer one dialog: the texts typed into its visible edit fields (in order),
  // the list items chosen (0-based), then the button pressed (1 OK, 2 Cancel,
  // 6 Yes, 7 No, ...; when the dialog has no such button, its first button;
  // kLeave leaves it to its time-out). A reply with a `text` serves the first
  // dialog whose text (a file or folder dialog: its title) holds it, so that
  // a dialog that closed by itself unseen takes no other dialog's reply.
  static constexpr int kLeave = -1;
  struct Reply {
    int button = 1;
    std::vector<std::string> edits;
    std::vector<int> items;
    std::string text;
  };
  // Presses the button with this id on every box.
  explicit BoxAnswerer(int button_id = 1);
  // Answers the dialogs in order with these replies; after the last, OK.
  explicit BoxAnswerer(std::vector<Reply> replies);
  ~BoxAnswerer();
  // Waits until at least `count` boxes were answered; returns those seen.
  std::vector<Box> WaitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  std::vector<Box> Seen();

 private:
  void Run();
  Reply NextReply(const std::string& text);
  int button_id_;
  std::vector<Reply> replies_;
  std::vector<bool> used_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Box> seen_;
  std::thread thread_;
};

}  // namespace olvex::test
#endif
