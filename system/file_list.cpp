#include "system/file_list.h"

#include <algorithm>
#include <vector>

#include "engine/catalog.h"
#include "platform/files.h"

namespace olvex {
namespace {

constexpr int kMaxDepth = 128;  // a guard: links are not followed, so only a real tree this deep ends here

struct Listing {
  bool folders = false;
  bool recurse = false;
  char path_separator = '\\';
  char item_separator = '\n';
  std::size_t capacity = 0;
  std::string* out = nullptr;
  std::size_t count = 0;
};

bool NameBefore(const platform::FolderEntry& a, const platform::FolderEntry& b) {
  const std::size_t n = std::min(a.name.size(), b.name.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char x = AsciiLower(a.name[i]), y = AsciiLower(b.name[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
  return a.name < b.name;
}

std::string Join(const std::string& folder, const std::string& name, char separator) {
  if (folder.empty()) return name;
  if (folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + separator + name;
}

// Adds the matches of one folder's listing, then (with recursion) every
// sub-folder's; the one listing serves both.
void Collect(Listing& list, const std::string& folder, const std::string& pattern,
             std::vector<platform::FolderEntry> all, int depth) {
  // Only a list that is written out needs its order.
  const bool writing = list.out->size() < list.capacity;
  if (writing) std::sort(all.begin(), all.end(), NameBefore);
  const bool every_name = pattern == "*" || pattern == "*.*";
  for (const platform::FolderEntry& entry : all) {
    if (entry.is_folder != list.folders || (!every_name && !platform::MatchesWildcard(pattern, entry.name))) continue;
    ++list.count;
    if (!writing) continue;
    const std::string path = Join(folder, entry.name, list.path_separator);
    if (list.out->size() + path.size() + 1 <= list.capacity) {
      *list.out += path;
      *list.out += list.item_separator;
    }
  }
  if (!list.recurse || depth >= kMaxDepth) return;
  for (const platform::FolderEntry& sub : all) {
    if (!sub.is_folder || sub.is_link) continue;
    const std::string sub_folder = Join(folder, sub.name, list.path_separator);
    std::vector<platform::FolderEntry> sub_all;
    if (platform::ListFolder(sub_folder, "*", &sub_all)) Collect(list, sub_folder, pattern, std::move(sub_all), depth + 1);
  }
}

}  // namespace

std::size_t BuildFileList(const std::string& spec, bool recurse, bool folders, char separator, std::string* out,
                          std::size_t capacity) {
  Listing list;
  list.folders = folders;
  list.recurse = recurse;
  list.item_separator = separator;
  list.capacity = capacity;
  list.out = out;
  const std::size_t cut = spec.find_last_of("\\/");
  list.path_separator = cut == std::string::npos ? platform::PathSeparator() : spec[cut];
  std::vector<platform::FolderEntry> matches;
  // A folder named without a pattern: every name in it.
  if (!spec.empty() && spec.find_first_of("*?") == std::string::npos && cut != spec.size() - 1 &&
      platform::ListFolder(spec, "*", &matches)) {
    Collect(list, spec, "*.*", std::move(matches), 0);
    return list.count;
  }
  std::string folder = cut == std::string::npos ? std::string() : spec.substr(0, cut == 0 ? 1 : cut);
  // A drive's root keeps its separator ("C:\").
  if (cut == 2 && spec[1] == ':') folder = spec.substr(0, 3);
  std::string pattern = cut == std::string::npos ? spec : spec.substr(cut + 1);
  if (pattern.empty()) pattern = "*.*";
  if (platform::ListFolder(folder, "*", &matches)) Collect(list, folder, pattern, std::move(matches), 0);
  return list.count;
}

}  // namespace olvex
