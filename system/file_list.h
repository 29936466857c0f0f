#pragma once
// The file list builder: the files or folders that a file pattern such as
// `C:\Data\*.txt` names, optionally in every sub-folder too.
#include <cstddef>
#include <string>

namespace olvex {

// Appends the full path of every match of `spec` followed by `separator` to
// `out`, while `out` stays within `capacity` bytes; returns the number of
// matches (those that no longer fit are counted, not appended).
//
// The pattern is a folder and a name pattern (`*`, `?`); a folder
// named without a pattern gets "*.*", a trailing separator means every name
// of that folder. Either `\` or `/` separates the parts, and the matches are
// joined to their folder with the separator the pattern uses last.
// Each folder's matches come in name order (without regard to case), then,
// with `recurse`, every sub-folder's (links are not followed). With
// `folders` the matches are folders, else files. "." and ".." never match.
// Throws std::bad_alloc when memory runs out.
std::size_t BuildFileList(const std::string& spec, bool recurse, bool folders, char separator, std::string* out,
                          std::size_t capacity);

}  // namespace olvex
