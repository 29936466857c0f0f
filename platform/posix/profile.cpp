// INI files on POSIX, read and written by the rules of the Windows profile API.
#include "platform/profile.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "platform/environment.h"
#include "platform/files.h"

namespace platform {

namespace {

constexpr std::uint64_t kMaxProfileFile = 64u << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 0x1a; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// One line of the file as it stands, and what it means.
struct Line {
  enum Kind { kBlank, kSection, kKey } kind = kBlank;
  std::string text;     // without its line end
  std::string ending;   // "\n", "\r\n" or "" for a last line without one
  std::string name;     // section or key name
  bool has_value = false;
  std::string value;    // trimmed, quotes kept
};

struct Profile {
  std::vector<Line> lines;
  std::string newline = "\n";
  bool exists = false;
};

Line ParseLine(std::string text, std::string ending) {
  Line line;
  line.text = std::move(text);
  line.ending = std::move(ending);
  std::string_view t = Trim(line.text);
  if (t.empty()) return line;
  if (t.front() == '[') {
    std::size_t close = t.rfind(']');
    if (close != std::string_view::npos) {
      line.kind = Line::kSection;
      line.name = std::string(t.substr(1, close - 1));
      return line;
    }
  }
  line.kind = Line::kKey;
  std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) {
    line.name = std::string(t);
  } else {
    line.name = std::string(Trim(t.substr(0, eq)));
    line.has_value = true;
    line.value = std::string(Trim(t.substr(eq + 1)));
  }
  return line;
}

Profile Load(const std::string& file) {
  Profile p;
  FileContent read = ReadWholeFile(file, kMaxProfileFile);
  if (read.status != ReadStatus::Ok) return p;
  p.exists = true;
  const std::string& s = read.data;
  if (s.find("\r\n") != std::string::npos) p.newline = "\r\n";
  std::size_t start = 0;
  while (start < s.size()) {
    std::size_t lf = s.find('\n', start);
    std::size_t end = lf == std::string::npos ? s.size() : lf;
    std::size_t text_end = (end > start && s[end - 1] == '\r' && lf != std::string::npos) ? end - 1 : end;
    p.lines.push_back(ParseLine(s.substr(start, text_end - start),
                                lf == std::string::npos ? "" : s.substr(text_end, lf + 1 - text_end)));
    start = lf == std::string::npos ? s.size() : lf + 1;
  }
  return p;
}

// Index of the first section of that name; npos when missing.
std::size_t FindSection(const Profile& p, std::string_view section) {
  section = Trim(section);
  for (std::size_t i = 0; i < p.lines.size(); ++i)
    if (p.lines[i].kind == Line::kSection && !p.lines[i].name.empty() && SameNoCase(p.lines[i].name, section))
      return i;
  return std::string::npos;
}

// One past the last line of the section that begins at `header`.
std::size_t SectionEnd(const Profile& p, std::size_t header) {
  std::size_t i = header + 1;
  while (i < p.lines.size() && p.lines[i].kind != Line::kSection) ++i;
  return i;
}

std::size_t FindKey(const Profile& p, std::size_t header, std::string_view key) {
  key = Trim(key);
  std::size_t end = SectionEnd(p, header);
  for (std::size_t i = header + 1; i < end; ++i)
    if (p.lines[i].kind == Line::kKey && SameNoCase(p.lines[i].name, key)) return i;
  return std::string::npos;
}

// Inserts lines before line `at`. A file that ended without a line break
// still does: the lines that now end it take over the missing break.
void InsertLines(Profile& p, std::size_t at, std::vector<Line> lines) {
  if (at == p.lines.size() && !p.lines.empty() && p.lines.back().ending.empty()) {
    p.lines.back().ending = p.newline;
    lines.back().ending.clear();
  }
  p.lines.insert(p.lines.begin() + static_cast<std::ptrdiff_t>(at), lines.begin(), lines.end());
}

// Removes lines `from` .. `to` - 1, keeping a missing final line break missing.
void EraseLines(Profile& p, std::size_t from, std::size_t to) {
  const bool open_end = to == p.lines.size() && to > from && p.lines[to - 1].ending.empty();
  p.lines.erase(p.lines.begin() + static_cast<std::ptrdiff_t>(from), p.lines.begin() + static_cast<std::ptrdiff_t>(to));
  if (open_end && !p.lines.empty()) p.lines.back().ending.clear();
}

bool Save(const std::string& file, const Profile& p) {
  std::string out;
  for (const Line& l : p.lines) out += l.text + l.ending;
  return WriteFileReplacing(file, out);
}

}  // namespace

std::optional<std::string> ReadProfileValue(const std::string& file, const std::string& section,
                                            const std::string& key) {
  if (Trim(key).empty()) return std::nullopt;
  Profile p = Load(file);
  std::size_t at = std::string::npos;
  if (Trim(section).empty()) {
    // The lines before the first section answer to an empty section name.
    for (std::size_t i = 0; i < p.lines.size() && p.lines[i].kind != Line::kSection && at == std::string::npos; ++i)
      if (p.lines[i].kind == Line::kKey && SameNoCase(p.lines[i].name, Trim(key))) at = i;
  } else {
    std::size_t header = FindSection(p, section);
    if (header == std::string::npos) return std::nullopt;
    at = FindKey(p, header, key);
  }
  if (at == std::string::npos || !p.lines[at].has_value) return std::nullopt;
  std::string value = p.lines[at].value;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

bool WriteProfileValue(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& value) {
  if (Trim(key).empty() || Trim(section).empty()) return false;
  Profile p = Load(file);
  std::string_view v = value;
  while (!v.empty() && IsBlank(v.front())) v.remove_prefix(1);
  std::size_t header = FindSection(p, section);
  if (header == std::string::npos) {
    InsertLines(p, p.lines.size(),
                {ParseLine("[" + std::string(Trim(section)) + "]", p.newline),
                 ParseLine(std::string(Trim(key)) + "=" + std::string(v), p.newline)});
    return Save(file, p);
  }
  std::size_t at = FindKey(p, header, key);
  if (at != std::string::npos) {
    std::string name = p.lines[at].name;
    p.lines[at] = ParseLine(name + "=" + std::string(v), p.lines[at].ending.empty() ? p.newline : p.lines[at].ending);
    return Save(file, p);
  }
  // After the section's last non-blank line.
  std::size_t end = SectionEnd(p, header);
  while (end > header + 1 && p.lines[end - 1].kind == Line::kBlank) --end;
  InsertLines(p, end, {ParseLine(std::string(Trim(key)) + "=" + std::string(v), p.newline)});
  return Save(file, p);
}

bool DeleteProfileValue(const std::string& file, const std::string& section, const std::string& key) {
  Profile p = Load(file);
  if (!p.exists) return true;  // nothing to delete is no error
  for (std::size_t header = 0; header < p.lines.size(); ++header) {
    if (p.lines[header].kind != Line::kSection || !SameNoCase(p.lines[header].name, Trim(section))) continue;
    std::size_t at = FindKey(p, header, key);
    if (at != std::string::npos) {
      EraseLines(p, at, at + 1);
      return Save(file, p);
    }
  }
  return true;
}

bool DeleteProfileSection(const std::string& file, const std::string& section) {
  Profile p = Load(file);
  std::size_t header = FindSection(p, section);
  if (header == std::string::npos) return true;
  EraseLines(p, header, SectionEnd(p, header));
  return Save(file, p);
}

bool ProfileSectionHasKeys(const std::string& file, const std::string& section) {
  Profile p = Load(file);
  std::size_t header = FindSection(p, section);
  if (header == std::string::npos) return false;
  std::size_t end = SectionEnd(p, header);
  for (std::size_t i = header + 1; i < end; ++i) {
    const Line& l = p.lines[i];
    if (l.kind == Line::kKey && l.has_value && !l.name.empty() && l.name[0] != ';') return true;
  }
  return false;
}

}  // namespace platform
