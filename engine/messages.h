#pragma once
// The runtime's own message boxes: load and run errors, warnings.
#include <string>

namespace olvex {

inline constexpr const char* kErrorTitle = "Olvex Error";
inline constexpr const char* kWarningTitle = "Olvex Warning";

// Exclamation icon, task-modal, brought to the foreground.
int ShowErrorBox(const std::string& text, const std::string& title = kErrorTitle);
int ShowWarningBox(const std::string& text);
// How many error and warning boxes the program has shown (a caller tells
// whether a load reported an error by comparing two counts).
int ErrorBoxesShown();
// The text of the latest error or warning box (empty before the first).
std::string LastErrorBoxText();

}  // namespace olvex
