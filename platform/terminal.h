#pragma once
// Standard error as the runtime's terminal: whether it is one, the status
// line that rewrites itself there while a script runs, and other text written
// past that line. All writers of standard error go through WriteError, so that
// a status line never runs into their text. Windows (a program without a
// console) never has a terminal there: its status line draws nothing.
#include <string_view>

namespace platform {

// True when standard error is a terminal.
bool ErrorIsTerminal();
// Shows `text` as the status line (one line, cut to the terminal's width), in
// place of the one shown before. Nothing when standard error is no terminal.
void ShowStatusLine(std::string_view text);
// Removes the status line, leaving the cursor at the start of an empty line.
void ClearStatusLine();
// While held (a question waits for its answer on the console), the status
// line is not drawn.
void HoldStatusLine(bool held);
// Writes `text` to standard error as it stands (the status line cleared
// first; the next ShowStatusLine draws it again).
void WriteError(std::string_view text);

}  // namespace platform
