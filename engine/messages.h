#pragma once
// The runtime's own message boxes: load and run errors, warnings.
#include <string>

namespace olvex {

inline constexpr const char* kErrorTitle = "Olvex Error";
inline constexpr const char* kWarningTitle = "Olvex Warning";

// Exclamation icon, task-modal, brought to the foreground.
int ShowErrorBox(const std::string& text, const std::string& title = kErrorTitle);
int ShowWarningBox(const std::string& text);

}  // namespace olvex
