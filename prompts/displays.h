#pragma once
// The User Prompts category's non-modal displays.
#include <string>

#include "engine/document.h"

namespace olvex {

// Screen Message, Status Popup, Progress Bar Popup, Balloon Popup, Tray Icon, Display Image.
int DisplayStep(Step& step, int slot, int step_index, const std::string& title, int timeout_ms);

}  // namespace olvex
