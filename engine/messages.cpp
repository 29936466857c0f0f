#include "engine/messages.h"

#include <atomic>
#include <mutex>

#include "platform/dialogs.h"

namespace olvex {

namespace {
constexpr unsigned kErrorStyle =
    platform::box::kOk | platform::box::kIconExclamation | platform::box::kTaskModal | platform::box::kSetForeground;
std::atomic<int> g_boxes_shown{0};
std::mutex g_last_mutex;
std::string g_last_text;
}  // namespace

int ShowErrorBox(const std::string& text, const std::string& title) {
  ++g_boxes_shown;
  {
    std::lock_guard<std::mutex> lock(g_last_mutex);
    g_last_text = text;
  }
  return platform::dialogs().ShowMessage(text, title, kErrorStyle);
}

int ShowWarningBox(const std::string& text) { return ShowErrorBox(text, kWarningTitle); }

int ErrorBoxesShown() { return g_boxes_shown.load(); }

std::string LastErrorBoxText() {
  std::lock_guard<std::mutex> lock(g_last_mutex);
  return g_last_text;
}

}  // namespace olvex
