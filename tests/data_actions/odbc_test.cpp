// The rules the database actions apply to what the driver returns: list
// separators, the row limit and the error texts.
// (The actions themselves run end to end in tests/scripts/cases/odbc.)
#include <gtest/gtest.h>

#include "data/odbc_actions.h"

namespace olvex::test {
namespace {

TEST(DatabaseRules, SeparatorsLimitsAndErrorTexts) {
  struct ListCase { const char* list; const char* separator; const char* out; };
  const ListCase lists[] = {
      {"a\r\nb\r\n", "", "a,b"},                // empty: a comma
      {"a\r\nb\r\n", ",\r\n", "a,\r\nb"},       // the catalog's default: one name a line
      {"a\r\nb\r\nc\r\n", " | ", "a | b | c"},
      {"only\r\n", ";", "only"},
      {"", ",", ""},
  };
  for (const auto& c : lists) EXPECT_EQ(SeparatedList(c.list, c.separator), c.out) << c.list << "|" << c.separator;

  const std::pair<int, std::int64_t> limits[] = {{0, 1000}, {-1, 1000000}, {1, 1}, {2500, 2500}, {-2, 0}};
  for (const auto& [field, limit] : limits) EXPECT_EQ(RowLimit(field), limit) << field;

  struct ErrorCase { int code; const char* driver; const char* out; };
  const ErrorCase errors[] = {
      {-4, "[unixODBC][Driver Manager]Data source name not found", "Data source name not found"},
      {-8, "[SQLite]  no such table: t (1)", "no such table: t (1)"},
      {-8, "a message without a prefix", "a message without a prefix"},
      {-8, "[vendor][driver]", "An error occurred while running the query. "},
      {-4, "", "The program is unable to connect to the database. "},
      {-99, "", "An unknown error occurred. (-99)"},
  };
  for (const auto& c : errors) EXPECT_EQ(OdbcErrorText(c.code, c.driver), c.out) << c.driver << " " << c.code;
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
