#include "system/file_paths.h"

#include <vector>

#include "engine/text.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace olvex {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string DefaultValue(platform::RegistryRoot root, const std::string& key) {
  platform::RegistryData data;
  if (platform::ReadRegistryValue(root, key, "", &data) != platform::RegistryStatus::kOk) return {};
  std::string text = data.data;
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

bool Exists(const std::string& path, std::string* found) {
  if (!platform::PathExists(path)) return false;
  *found = path;
  return true;
}

}  // namespace

std::string FolderOf(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut));
}

std::string BaseNameOf(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

bool IsAbsolutePath(std::string_view path) {
  return path.find(":\\") != std::string_view::npos || path.find(":/") != std::string_view::npos ||
         path.starts_with("\\\\") || path.starts_with("/");
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (IsSeparator(folder.back())) return folder + name;
  const std::size_t used = folder.find_last_of("\\/");
  const char separator = used == std::string::npos ? platform::PathSeparator() : folder[used];
  return folder + separator + name;
}

bool LocateFile(const std::string& name, const std::string& script_folder, std::string* found) {
  *found = name;
  if (name.empty()) return false;
  if (name.size() >= 260) return true;
  if (IsAbsolutePath(name)) return Exists(name, found);
  platform::RegistryData data;
  if (platform::ReadRegistryValue(platform::RegistryRoot::kLocalMachine,
                                  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + name, "Path",
                                  &data) == platform::RegistryStatus::kOk) {
    std::string folder = data.data;
    std::erase(folder, '"');
    std::erase(folder, '\0');
    if (!folder.empty() && Exists(JoinPath(folder, name), found)) return true;
  }
  std::vector<std::string> folders = {platform::CurrentDirectory(), script_folder, FolderOf(platform::ModulePath())};
  for (platform::Folder f : {platform::Folder::kWindows, platform::Folder::kSystem})
    if (auto folder = platform::KnownFolder(f)) folders.push_back(*folder);
  if (ContainsNoCase(name, "IEXPLORE.EXE") || ContainsNoCase(name, "Internet Explore"))
    if (auto programs = platform::ReadEnv("PROGRAMFILES")) folders.push_back(JoinPath(*programs, "Internet Explorer"));
  for (platform::Folder f : {platform::Folder::kDesktop, platform::Folder::kStartMenu})
    if (auto folder = platform::KnownFolder(f)) folders.push_back(*folder);
  // The PATH's folders are separated by ';' on Windows and ':' elsewhere.
  const char list_separator = platform::PathSeparator() == '\\' ? ';' : ':';
  const std::string path_list = platform::ReadEnv("PATH").value_or("");
  for (std::size_t start = 0; start <= path_list.size();) {
    std::size_t end = path_list.find(list_separator, start);
    if (end == std::string::npos) end = path_list.size();
    folders.push_back(path_list.substr(start, end - start));
    start = end + 1;
  }
  if (platform::PathSeparator() == '\\') folders.push_back("C:\\");
  for (const std::string& folder : folders)
    if (!folder.empty() && Exists(JoinPath(folder, name), found)) return true;
  *found = name;
  return false;
}

std::string PathParts(const std::string& path_in, int mask) {
  std::string path = path_in;
  if (!path.empty() && !IsSeparator(path.back()) && platform::IsFolder(path)) path += platform::PathSeparator();
  if (mask & 256) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && IsSeparator(trimmed.back())) trimmed.pop_back();
    return FolderOf(trimmed);
  }
  std::string drive;
  std::size_t rest = 0;
  if (path.size() >= 2 && path[1] == ':') {
    drive = path.substr(0, 2);
    rest = 2;
  } else if (!path.starts_with("\\\\") && (mask & 1)) {
    const std::string current = platform::CurrentDirectory();
    if (current.size() >= 2 && current[1] == ':') drive = current.substr(0, 2);
  }
  const std::size_t last = path.find_last_of("\\/");
  const std::size_t name_at = last == std::string::npos || last < rest ? rest : last + 1;
  const std::string folders = path.substr(rest, name_at - rest);
  const std::string name = path.substr(name_at);
  const std::size_t dot = name.find_last_of('.');
  const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
  std::string out;
  if (mask & 1) out += drive;
  if (mask & 2) out += folders;
  if (mask & 4) out += base;
  if (mask & 8) out += ext;
  return out;
}

std::string ExpandEnvironmentNames(std::string text) {
  std::size_t at = 0;
  while ((at = text.find('%', at)) != std::string::npos) {
    const std::size_t end = text.find('%', at + 1);
    if (end == std::string::npos) break;
    const std::optional<std::string> value = platform::ReadEnv(text.substr(at + 1, end - at - 1));
    if (!value) {
      at = end;
      continue;
    }
    text.replace(at, end - at + 1, *value);
    at += value->size();
  }
  return text;
}

bool AssociatedProgram(const std::string& extension, std::string* program) {
  using platform::RegistryRoot;
  std::string command;
  if (EqualsNoCase(extension, "MAIL")) {
    const std::string client = DefaultValue(RegistryRoot::kLocalMachine, "SOFTWARE\\Clients\\Mail");
    if (!client.empty())
      command = DefaultValue(RegistryRoot::kLocalMachine, "SOFTWARE\\Clients\\Mail\\" + client + "\\shell\\open\\command");
  } else {
    const std::string type = DefaultValue(RegistryRoot::kClassesRoot, extension);
    if (!type.empty()) command = DefaultValue(RegistryRoot::kClassesRoot, type + "\\shell\\open\\command");
  }
  command = ExpandEnvironmentNames(command);
  std::erase(command, '"');
  command = command.substr(0, command.find('%'));
  while (!command.empty() && (command.back() == ' ' || command.back() == '\t')) command.pop_back();
  *program = command;
  return !command.empty();
}

std::string CleanedPath(std::string text) {
  const std::size_t start = text.find_first_not_of("\r\n\t");
  text.erase(0, start == std::string::npos ? text.size() : start);
  std::erase(text, '\r');
  std::erase(text, '\n');
  if (text.size() > 3)
    for (std::size_t at; (at = text.find("\\\\", 2)) != std::string::npos;) text.erase(at, 1);
  if (!text.empty() && (text.front() == '"' || text.front() == '\'')) text.erase(0, 1);
  if (!text.empty() && (text.back() == '"' || text.back() == '\'')) text.pop_back();
  return text;
}

}  // namespace olvex
