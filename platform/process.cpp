#include "platform/process.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace platform {

std::optional<ProcessEntry> FindProcess(std::string_view name_or_id) {
  if (name_or_id.empty()) return std::nullopt;
  const bool by_id = std::all_of(name_or_id.begin(), name_or_id.end(), [](char c) { return c >= '0' && c <= '9'; });
  std::uint32_t id = 0;
  if (by_id)
    for (char c : name_or_id) id = id * 10 + static_cast<std::uint32_t>(c - '0');
  const std::size_t cut = name_or_id.find_last_of("\\/");
  const std::string_view name = cut == std::string_view::npos ? name_or_id : name_or_id.substr(cut + 1);
  auto same = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
  };
  for (const ProcessEntry& p : ListProcesses())
    if (by_id ? p.id == id : same(p.name, name) || same(p.name, std::string(name) + ".exe")) return p;
  return std::nullopt;
}

bool TerminateProcessNamed(std::string_view name_or_id) {
  const std::optional<ProcessEntry> found = FindProcess(name_or_id);
  return found && TerminateProcessById(found->id, 0);
}

}  // namespace platform
