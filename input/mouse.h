#pragma once
// The Mouse category: Mouse Click, Move, Move to Window (and Control), Move
// to Image, Click on Image, Save Current Position and Return to Saved
// Position.
#include "platform/windows.h"

namespace olvex {

int HandleMouseStep(int slot, int step_index);

// Moves the pointer to a window's centre (`where` 2) or its top-left corner,
// in a glide of 20 steps when `smooth`, else in one jump. Nothing for a
// window that is gone.
void MoveMouseToWindow(platform::WindowId window, int where, bool smooth);

// At the end of a run: lets go of the mouse buttons a step pressed and no
// later step released, with a warning in the log.
void ReleaseHeldButtons();

}  // namespace olvex
