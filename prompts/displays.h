#pragma once
// The User Prompts category's non-modal displays.
#include <string>

#include "engine/document.h"
#include "engine/flow.h"

namespace olvex {

// Screen Message, Status Popup, Progress Bar Popup, Balloon Popup, Tray Icon, Display Image.
// A progress popup's bar: the number written just before the first "%"
// (blanks and tabs between them skipped), 0 without one, at most 100.
int ProgressPercent(const std::string& text);
int DisplayStep(Step& step, int slot, int step_index, const std::string& title, int timeout_ms);

// The Message loop's source: the message window (platform/message_window.h)
// that the first display step opens; closed by a sender, the next display
// opens it again. Without it the Message loop ends at once.
MessagePoll PollMessageWindow();

}  // namespace olvex
