#pragma once
// The User Prompts category's non-modal displays.
#include <string>

#include "engine/document.h"

namespace olvex {

// Screen Message, Status Popup, Progress Bar Popup, Balloon Popup, Tray Icon, Display Image.
// A progress popup's bar: the number written just before the first "%"
// (blanks and tabs between them skipped), 0 without one, at most 100.
int ProgressPercent(const std::string& text);
int DisplayStep(Step& step, int slot, int step_index, const std::string& title, int timeout_ms);

}  // namespace olvex
