#include "engine/catalog.h"

#include <cstring>
#include <new>
#include <optional>

#include "engine/compress.h"
#include "platform/module.h"

namespace olvex {

std::size_t NoCaseHash::operator()(std::string_view s) const {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (char c : s) {
    h ^= static_cast<unsigned char>(AsciiLower(c));
    h *= 1099511628211ull;
  }
  return static_cast<std::size_t>(h);
}

namespace {

// Decimal number as a catalog field writes it: optional blanks, sign, digits.
int FieldNumber(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || field[i] == '\t')) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) negative = field[i++] == '-';
  long long v = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    v = v * 10 + (field[i] - '0');
    if (v > 2147483647LL) v = 2147483648LL;  // saturate, sign applied below
  }
  if (negative) v = -v;
  if (v > 2147483647LL) v = 2147483647LL;
  return static_cast<int>(v);
}

bool IsPlainCatalogText(unsigned char first) {
  return first == '\r' || first == '\n' || first == '\t' || first == ' ' || (first >= 'A' && first <= 'Z');
}

}  // namespace

Catalog::Catalog(std::string_view resource) {
  try {
    if (resource.empty()) return;
    if (IsPlainCatalogText(static_cast<unsigned char>(resource[0])))
      text_.assign(resource.substr(0, kCatalogMaxBytes));
    else
      text_ = Decompress(resource);
    if (text_.size() > kCatalogMaxBytes) text_.resize(kCatalogMaxBytes);

    const std::string_view all(text_);
    for (std::size_t lf = all.find('\n'); lf != std::string_view::npos; lf = all.find('\n', lf + 1)) {
      std::string_view line = all.substr(lf + 1, kCatalogLineMax);
      line = line.substr(0, line.find_first_of("\r\n"));
      const std::size_t tilde = line.find('~');
      if (tilde == std::string_view::npos || tilde == 0 || tilde > kCatalogNameMax) continue;
      CatalogEntry e;
      e.name = line.substr(0, tilde);
      std::string_view fields[6];
      std::string_view rest = line.substr(tilde + 1);
      for (int n = 0; n < 6; ++n) {
        const std::size_t sep = rest.find('~');
        if (n == 5 || sep == std::string_view::npos) {
          fields[n] = rest;  // field 7 is the rest of the line, `~` included
          break;
        }
        fields[n] = rest.substr(0, sep);
        rest = rest.substr(sep + 1);
      }
      e.category = FieldNumber(fields[0]);
      e.action_id = FieldNumber(fields[1]);
      e.grid_text_column = FieldNumber(fields[2]);
      e.saves_output = !fields[3].empty() && fields[3][0] == '@';
      e.can_fail = !fields[4].empty() && fields[4][0] == '#';
      e.default_tags = fields[5];
      index_.emplace(e.name, e);  // the first line of a name wins
    }
  } catch (const std::bad_alloc&) {
    text_.clear();
    index_.clear();
  }
}

const CatalogEntry* Catalog::Find(std::string_view name) const {
  name = name.substr(0, kCatalogNameMax);
  if (name.empty() || name.find_first_of("~\r\n") != std::string_view::npos) return nullptr;
  auto it = index_.find(name);
  return it == index_.end() ? nullptr : &it->second;
}

const Catalog* ProgramCatalog() {
  static const std::unique_ptr<Catalog> catalog = []() -> std::unique_ptr<Catalog> {
    std::optional<std::string> resource = platform::ReadModuleResource(kCatalogResource);
    if (!resource) return nullptr;
    auto c = std::make_unique<Catalog>(*resource);
    if (!c->loaded()) return nullptr;
    return c;
  }();
  return catalog.get();
}

int LookupAction(std::string_view name, ActionInfo& out, std::size_t tags_size) {
  return LookupAction(ProgramCatalog(), name, out, tags_size);
}

int LookupAction(const Catalog* catalog, std::string_view name, ActionInfo& out, std::size_t tags_size) {
  out = ActionInfo{};
  if (!catalog || name.empty()) return 0;
  const CatalogEntry* e = catalog->Find(name);
  if (!e) return 1;
  out.category = e->category;
  out.action_id = e->action_id;
  out.grid_text_column = e->grid_text_column;
  out.saves_output = e->saves_output;
  out.can_fail = e->can_fail;

  std::string tags(e->default_tags.substr(0, tags_size ? tags_size - 1 : 0));
  const std::size_t first = tags.find_first_not_of(' ');
  tags.erase(0, first == std::string::npos ? tags.size() : first);
  tags.erase(tags.find_last_not_of(' ') + 1);
  ReplaceAll(tags, "\\r", "\r", false);
  ReplaceAll(tags, "\\n", "\n", false);
  if (!ContainsNoCase(tags, "<step>")) tags.insert(0, "<step>");
  if (!ContainsNoCase(tags, "<action>")) {
    const std::size_t at = FindNoCase(tags, "<step>");
    tags.insert(at + 6, "<action>" + std::string(e->name) + "</action>");
  }
  if (!ContainsNoCase(tags, "</step>")) tags += "</step>";
  out.default_tags = std::move(tags);
  return 1;
}

}  // namespace olvex
