#include "engine/messages.h"

#include "platform/dialogs.h"

namespace olvex {

namespace {
constexpr unsigned kErrorStyle =
    platform::box::kOk | platform::box::kIconExclamation | platform::box::kTaskModal | platform::box::kSetForeground;
}

int ShowErrorBox(const std::string& text, const std::string& title) {
  return platform::dialogs().ShowMessage(text, title, kErrorStyle);
}

int ShowWarningBox(const std::string& text) { return ShowErrorBox(text, kWarningTitle); }

}  // namespace olvex
