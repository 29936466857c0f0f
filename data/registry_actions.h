#pragma once
// The registry and INI actions of the Data category: Read, Write, Copy and
// Delete Registry; Read, Write and Delete INI Data.
#include <string>
#include <string_view>

namespace olvex {

// RegistryOrIniStep's answer for an action that is neither.
constexpr int kNotRegistryOrIni = 2;

// Runs a registry or INI step under the handler contract (1, 0 or -1).
int RegistryOrIniStep(int slot, int step_index);

// Copies the key `source` ([root name\]key\path) with all its values and
// subkeys into `destination`, creating it. False, with the reason in
// `error`, when a path names no key below a root, the destination lies
// inside the source, or a read or write fails.
bool CopyRegistryTree(std::string_view source, std::string_view destination, std::string* error);

}  // namespace olvex
