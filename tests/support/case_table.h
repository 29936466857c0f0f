#pragma once
// Tables of cases kept in text files beside the tests: one case a line, its
// fields separated by TAB; a line "[name]" starts a section, a line starting
// with '#' is a comment. Escapes in fields: \xHH (a byte), \t \r \n, \\.
#include <map>
#include <string>
#include <vector>

namespace olvex::test {

struct CaseRow {
  int line = 0;
  std::vector<std::string> fields;
  // "file:line: " for failure messages.
  std::string where;
};

// The sections of a table under the source tree (`relative` as "tests/vars/x.txt"),
// in file order within each section; none when the file cannot be read.
const std::map<std::string, std::vector<CaseRow>>& CaseTable(const std::string& relative);

// The rows of one section that have `fields` fields; a missing or empty section,
// and every row of another length, fail the calling test.
std::vector<CaseRow> CaseSection(const std::string& relative, const std::string& section, std::size_t fields);

}  // namespace olvex::test
