#pragma once
// The registry value accessor: one operation over a full registry path whose
// last component is the value name, in four modes (query size, write, read,
// delete). It is the registry primitive of the whole runtime: user
// variables, settings and the registry actions all go through it.
//
// Path: [root name\]key\path\value. Root names: HKEY_CLASSES_ROOT\,
// HKEY_LOCAL_MACHINE\, HKEY_CURRENT_CONFIG\, HKEY_USERS\, HKEY_CURRENT_USER\ (all but
// HKEY_USERS\ also without the leading H); without one the root is
// HKEY_CURRENT_USER. The value name is the text after the last single `\`; a
// doubled `\\` in it stands for one `\` of the name.
//
// Values the registry refuses that are larger than 512 bytes are written to a
// spill file in the temporary folder, and the value holds "FILE::<path>".
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/registry.h"

namespace olvex {

enum RegistryMode : int { kRegQuerySize = 1, kRegWrite = 2, kRegRead = 3, kRegDelete = 4 };

constexpr std::size_t kRegistryPathMax = 511;    // characters of a prepared path
constexpr std::size_t kSpillThreshold = 512;     // refused data above this size is spilled
constexpr std::string_view kSpillPrefix = "FILE::";

// An argument of a path format: a number or a text.
struct PathArg {
  template <class T>
    requires std::is_integral_v<T>
  PathArg(T v) : is_text(false), number(static_cast<long long>(v)) {}
  PathArg(std::string_view v) : is_text(true), text(v) {}
  PathArg(const std::string& v) : is_text(true), text(v) {}
  PathArg(const char* v) : is_text(true), text(v ? v : "") {}
  bool is_text;
  long long number = 0;
  std::string_view text;
};

// Formats a path: %s, %d, %i, %u, %x, %X, %c (with l/ll/h size letters, a
// width and a '-' or '0' flag) take the next argument; %% is one %. A
// conversion without an argument, or of the wrong kind, stays as written.
std::string FormatPath(std::string_view format, std::span<const PathArg> args);

// The accessor. Mode 1: returns the value's size (of the spill file for a
// spilled value), 0 when missing. Mode 2: stores the first `size` bytes of
// `*buffer` as a value of type `*type`; non-zero on success. Mode 3: reads the
// value into `*buffer` (at most `size` bytes); returns the bytes read, 0 with
// the buffer emptied on failure. Mode 4: deletes the value (and its spill
// file), or the whole key when the path names one; 1 on success.
// In modes 1 and 3, `*type` (when given) receives the value's type.
// The path is formatted with `args` when any are given (else taken as it is).
std::size_t RegistryValueV(int mode, std::uint32_t* type, std::string* buffer, std::size_t size,
                           std::string_view path, std::span<const PathArg> args);

template <class... Args>
std::size_t RegistryValue(int mode, std::uint32_t* type, std::string* buffer, std::size_t size,
                          std::string_view path, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return RegistryValueV(mode, type, buffer, size, path, {});
  } else {
    const std::array<PathArg, sizeof...(Args)> list{PathArg(args)...};
    return RegistryValueV(mode, type, buffer, size, path, list);
  }
}

// Shorthands over the accessor for literal paths.
std::size_t RegistryQuerySize(std::string_view path, std::uint32_t* type = nullptr);
bool RegistryWrite(std::string_view path, std::uint32_t type, std::string_view data);
// The whole value (spill file followed, REG_MULTI_SZ lines joined by CR LF);
// nothing when it cannot be read.
std::optional<std::string> RegistryRead(std::string_view path, std::uint32_t* type = nullptr);
bool RegistryDelete(std::string_view path);
// True when the path names an existing value.
bool RegistryExists(std::string_view path);

// Key paths ([root name\]key\path, a trailing `\` allowed; a leading `*\`
// stands for HKEY_CURRENT_USER\SOFTWARE\Olvex\).
bool RegistryKeyExistsAt(std::string_view key_path);
// Deletes the key with everything below it (and the spill files of its values).
bool RegistryDeleteKeyAt(std::string_view key_path);
// The number of values of a key, or of its subkeys; 0 when the key cannot be opened.
std::size_t CountRegistryEntries(std::string_view key_path, bool subkeys);
// The names of a key's values, or of its subkeys; false when the key cannot be opened.
bool ListRegistryEntries(std::string_view key_path, bool subkeys, std::vector<std::string>* names);

// The registry key override: when set (a name other than "Olvex"), the first
// `\Olvex\` segment of every path handled here names that key instead.
void SetRegistryKeyOverride(std::string_view name);
std::string RegistryKeyOverride();

// A path taken apart, as every mode does it.
struct RegistryPath {
  bool ok = false;
  platform::RegistryRoot root = platform::RegistryRoot::kCurrentUser;
  std::string rest;   // the path without its root name (the spill file is named after it)
  std::string key;    // the key path
  std::string name;   // the value name, `\\` turned into `\`
};
// Formats (when `args` are given), applies the override, parses the root and
// splits off the value name.
RegistryPath PrepareRegistryPath(std::string_view path, std::span<const PathArg> args = {});
// Takes the root name off the front of `path` (changed in place).
platform::RegistryRoot RegistryRootFromPath(std::string* path);
// Where a value of that path spills: the temporary folder plus the path
// without its root, every `\` (and every character a file name cannot hold)
// turned into `_`, then "-" and eight hex digits that mark the store, the root
// and the path (letter case aside), and ".dat". Nothing when there is no
// usable temp folder.
std::optional<std::string> SpillFilePath(const RegistryPath& path);

// A name as the last component of a path: every `\` doubled.
std::string EscapeRegistryName(std::string_view name);

// REG_MULTI_SZ: text lines to the stored list and back.
std::string TextToMultiSz(std::string_view text);
std::string MultiSzToText(std::string_view data);

}  // namespace olvex
