#ifdef _WIN32
#include "tests/support/box_answerer.h"

#include <windows.h>

#include <set>

namespace olvex::test {
namespace {

std::string TextOf(HWND hwnd) {
  char buf[8192] = {};
  SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
  return buf;
}

BOOL CALLBACK CollectBoxes(HWND hwnd, LPARAM lparam) {
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (std::string(cls) == "#32770" && IsWindowVisible(hwnd)) reinterpret_cast<std::vector<HWND>*>(lparam)->push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK FirstButton(HWND hwnd, LPARAM lparam) {
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (std::string(cls) == "Button") {
    *reinterpret_cast<HWND*>(lparam) = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BoxAnswerer::BoxAnswerer(int button_id) : button_id_(button_id), thread_([this] { Run(); }) {}

BoxAnswerer::~BoxAnswerer() {
  stop_ = true;
  thread_.join();
}

void BoxAnswerer::Run() {
  std::set<HWND> answered;
  while (!stop_) {
    std::vector<HWND> boxes;
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&boxes));
    for (HWND box : boxes) {
      if (answered.count(box)) continue;
      HWND text = GetDlgItem(box, 0xFFFF);
      HWND button = GetDlgItem(box, button_id_);
      if (!button) EnumChildWindows(box, FirstButton, reinterpret_cast<LPARAM>(&button));
      // Wait until the box has shown its controls before acting on them.
      if (!text || !button || !IsWindowVisible(text) || !IsWindowVisible(button)) continue;
      Box seen{TextOf(box), TextOf(text)};
      answered.insert(box);
      SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back(seen);
    }
    Sleep(20);
  }
}

std::vector<BoxAnswerer::Box> BoxAnswerer::WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (seen_.size() >= count || std::chrono::steady_clock::now() > deadline) return seen_;
    }
    Sleep(20);
  }
}

std::vector<BoxAnswerer::Box> BoxAnswerer::Seen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

}  // namespace olvex::test
#endif
