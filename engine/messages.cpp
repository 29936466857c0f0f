#include "engine/messages.h"

#include <atomic>

#include "platform/dialogs.h"

namespace olvex {

namespace {
constexpr unsigned kErrorStyle =
    platform::box::kOk | platform::box::kIconExclamation | platform::box::kTaskModal | platform::box::kSetForeground;
std::atomic<int> g_boxes_shown{0};
}  // namespace

int ShowErrorBox(const std::string& text, const std::string& title) {
  ++g_boxes_shown;
  return platform::dialogs().ShowMessage(text, title, kErrorStyle);
}

int ShowWarningBox(const std::string& text) { return ShowErrorBox(text, kWarningTitle); }

int ErrorBoxesShown() { return g_boxes_shown.load(); }

}  // namespace olvex
