// The rules the database actions apply to what the driver returns: list
// separators, the row limit and the error texts (their rows in odbc_cases.txt).
// (The actions themselves run end to end in tests/scripts/cases/odbc.)
#include <gtest/gtest.h>

#include "data/odbc_actions.h"
#include "tests/support/case_table.h"

namespace olvex::test {
namespace {

constexpr const char* kCases = "tests/data_actions/odbc_cases.txt";

TEST(DatabaseRules, SeparatorsLimitsAndErrorTexts) {
  for (const CaseRow& row : CaseSection(kCases, "lists", 3))
    EXPECT_EQ(SeparatedList(row.fields[0], row.fields[1]), row.fields[2]) << row.where;
  for (const CaseRow& row : CaseSection(kCases, "limits", 2))
    EXPECT_EQ(RowLimit(std::stoi(row.fields[0])), std::stoll(row.fields[1])) << row.where;
  for (const CaseRow& row : CaseSection(kCases, "errors", 3))
    EXPECT_EQ(OdbcErrorText(std::stoi(row.fields[0]), row.fields[1]), row.fields[2]) << row.where;
}

// A result's values come back whole and in order whatever their lengths:
// across the length's 7-bit steps, across the ends of the blocks they are kept
// in, and longer than a block.
TEST(DatabaseRules, ResultValuesComeBackWholeInOrder) {
  const std::size_t lengths[] = {0, 1, 127, 128, 16383, 16384, 700000, 400000, (1u << 20) + 5, 3};
  platform::odbc::QueryResult result;
  result.columns = {{"first"}, {"second"}};
  std::string expected = "first|second#";
  for (std::size_t i = 0; i < std::size(lengths); ++i) {
    const std::string value(lengths[i], static_cast<char>('a' + i));
    result.rows.Add(value);
    expected += value + (i % 2 == 0 ? "|" : "#");
    if (i % 2 == 1) result.rows.EndRow();
  }
  EXPECT_EQ(result.rows.size(), std::size(lengths) / 2);
  EXPECT_EQ(QueryResultText(result, true, "|", "#"), expected);
}

}  // namespace
}  // namespace olvex::test
