#pragma once
// Paths as the Files & Folders and Run actions find them: the file locating
// rule, path parts, the program associated with a file type and the user's
// shell folders.
#include <string>
#include <string_view>

namespace olvex {

// The full path of the first existing match of `name`: taken as it is when
// absolute and existing (or 260 characters and longer), else searched in the
// App Paths registration, the current folder, the script's folder
// (`script_folder`, may be empty), the runtime's folder, the system's folders,
// the Desktop, Start Menu and Favorites, and every folder of PATH. Nothing
// found: `name` unchanged and false.
bool LocateFile(const std::string& name, const std::string& script_folder, std::string* found);

// A main path cleaned: leading CR, LF and tabs and every line break removed,
// a doubled "\\" after the first two characters made single (when longer
// than three characters), one leading and one trailing quote dropped.
std::string CleanedPath(std::string text);

// The folder of a path (without its last part and separator); empty when it has none.
std::string FolderOf(std::string_view path);
// The last part of a path.
std::string BaseNameOf(std::string_view path);
// True for a path that names its drive or starts at a root ("C:\x", "\\server\x", "/x").
bool IsAbsolutePath(std::string_view path);
// `folder` and `name` joined with one separator (the one `folder` uses, else the system's).
std::string JoinPath(const std::string& folder, const std::string& name);

// Path parts by mask: 1 drive, 2 path (folders, with the trailing separator),
// 4 base name, 8 extension (with its "."); 256 the parent folder. A path that
// names an existing folder is that folder itself.
std::string PathParts(const std::string& path, int mask);

// The program associated with a file type (".txt"; "MAIL": the mail client):
// its command without quotation marks, cut at its first "%". False when none.
bool AssociatedProgram(const std::string& extension, std::string* program);

// %NAME% of the environment replaced by the variable's value (an unknown one stays).
std::string ExpandEnvironmentNames(std::string text);

}  // namespace olvex
