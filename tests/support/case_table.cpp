#include "tests/support/case_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace olvex::test {
namespace {

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (text[i] != '\\' || !next) {
      out += text[i];
    } else if (next == 'x' && i + 3 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
      out += static_cast<char>(std::strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
    } else if (next == 't' || next == 'r' || next == 'n' || next == '\\') {
      out += next == 't' ? '\t' : next == 'r' ? '\r' : next == 'n' ? '\n' : '\\';
      ++i;
    } else {
      out += '\\';
    }
  }
  return out;
}

}  // namespace

const std::map<std::string, std::vector<CaseRow>>& CaseTable(const std::string& relative) {
  static std::map<std::string, std::map<std::string, std::vector<CaseRow>>> tables;
  auto found = tables.find(relative);
  if (found != tables.end()) return found->second;
  auto& sections = tables[relative];
  std::ifstream in(std::string(OLVEX_SOURCE_DIR) + "/" + relative, std::ios::binary);
  const std::string file = relative.substr(relative.find_last_of('/') + 1);
  std::string line, section;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    CaseRow row{number, {}, file + ":" + std::to_string(number) + ": "};
    for (std::size_t start = 0;;) {
      const std::size_t tab = line.find('\t', start);
      row.fields.push_back(Unescape(line.substr(start, tab - start)));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    sections[section].push_back(std::move(row));
  }
  return sections;
}

std::vector<CaseRow> CaseSection(const std::string& relative, const std::string& section, std::size_t fields) {
  std::vector<CaseRow> rows;
  const auto& table = CaseTable(relative);
  if (const auto at = table.find(section); at != table.end())
    for (const CaseRow& row : at->second) {
      if (row.fields.size() == fields) rows.push_back(row);
      else ADD_FAILURE() << row.where << row.fields.size() << " fields, not " << fields;
    }
  if (rows.empty()) ADD_FAILURE() << relative << ": no cases in [" << section << "]";
  return rows;
}

}  // namespace olvex::test
