#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "engine/catalog.h"
#include "platform/module.h"
#include "tests/startup/carried_script.h"
#include "tests/support/case_table.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

TEST(Catalog, HoldsEveryActionWithItsCategoryIdAndFlags) {
  const Catalog* catalog = ProgramCatalog();
  ASSERT_NE(catalog, nullptr);
  std::size_t rows = 0;
  for (const auto& [category, actions] : CaseTable("tests/engine/catalog_cases.txt"))
    for (const CaseRow& row : actions) {
      ++rows;
      ASSERT_EQ(row.fields.size(), 5u) << row.where;
      const std::string& name = row.fields[0];
      SCOPED_TRACE(row.where + name);
      ActionInfo info;
      ASSERT_EQ(LookupAction(name, info), 1);
      EXPECT_EQ(std::make_tuple(info.category, info.action_id, info.saves_output),
                std::make_tuple(std::stoi(row.fields[1]), std::stoi(row.fields[2]), row.fields[3] == "1"));
      EXPECT_EQ(info.can_fail, row.fields[4] == "1");
      EXPECT_TRUE(info.grid_text_column >= -1 && info.grid_text_column <= 9) << info.grid_text_column;
      // The default tags are a complete step element naming the action.
      EXPECT_EQ(info.default_tags.rfind("<step>", 0), 0u) << info.default_tags;
      EXPECT_NE(info.default_tags.find("<action>" + name + "</action>"), std::string::npos);
      EXPECT_EQ(info.default_tags.size() - info.default_tags.rfind("</step>"), 7u);
    }
  EXPECT_EQ(ProgramCatalog()->size(), rows);
}

TEST(Catalog, ResourceKeepsTheTextFormat) {
  auto resource = platform::ReadModuleResource(kCatalogResource);
  ASSERT_TRUE(resource);
  const std::string& text = ProgramCatalog()->text();
  EXPECT_EQ(text, ReadBytes(OLVEX_SOURCE_DIR "/engine/catalog.txt"));
  EXPECT_LT(text.size(), kCatalogMaxBytes);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(0, 2), "\r\n");  // begins with a line break
  // Stored compressed, the block begins with the low byte of this size: it must
  // not be one that marks plain text (CR, LF, tab, space, A-Z). If it is, add or
  // drop a character of the catalog.
  const auto low = static_cast<unsigned char>(text.size() & 0xFF);
  EXPECT_FALSE(low == '\r' || low == '\n' || low == '\t' || low == ' ' || (low >= 'A' && low <= 'Z'))
      << "catalog size " << text.size();
  int previous_category = 0;
  bool blank_before = true;
  std::size_t start = 2;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
    const std::string line = text.substr(start, end - start);
    start = end + 2;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    if (line.empty()) {
      blank_before = true;
      continue;
    }
    EXPECT_LE(line.size(), kCatalogLineMax) << line;
    const std::size_t tilde = line.find('~');
    ASSERT_NE(tilde, std::string::npos) << line;
    EXPECT_LE(tilde, kCatalogNameMax) << line;
    const int category = std::stoi(line.substr(tilde + 1));
    // A new category starts after a blank line, and only there.
    EXPECT_EQ(category != previous_category, blank_before) << line;
    previous_category = category;
    blank_before = false;
  }
}

TEST(Catalog, LookupFollowsTheNameRules) {
  ActionInfo info;
  ASSERT_EQ(LookupAction("mouse click", info), 1);
  EXPECT_EQ(info.category, 6);
  EXPECT_EQ(info.action_id, 24);
  EXPECT_TRUE(info.can_fail);
  EXPECT_EQ(info.default_tags, "<step><action>Mouse Click</action><options>Left,Down+Up</options></step>");

  // Not in the catalog: 1, with everything at zero (also after an earlier hit).
  for (const char* name : {"Change Case", "Mouse", "Mouse Click ", " Mouse Click", "Mouse Click~6", "Mouse Click~6~24"}) {
    SCOPED_TRACE(name);
    info.category = 99;
    EXPECT_EQ(LookupAction(name, info), 1);
    EXPECT_EQ(info.category, 0);
    EXPECT_EQ(info.action_id, 0);
    EXPECT_FALSE(info.can_fail);
    EXPECT_TRUE(info.default_tags.empty());
  }
  EXPECT_EQ(LookupAction("", info), 0);
  EXPECT_EQ(LookupAction(nullptr, "Mouse Click", info), 0);

  // Five fields: grid text column and both flags read as 0.
  ASSERT_EQ(LookupAction("OLVEX SETTING CHANGE", info), 1);
  EXPECT_EQ(std::make_tuple(info.category, info.action_id, info.grid_text_column), std::make_tuple(16, 27, 0));
  EXPECT_FALSE(info.saves_output);
  EXPECT_FALSE(info.can_fail);
  EXPECT_EQ(info.default_tags, "<step><action>Olvex Setting Change</action></step>");

  // \r and \n of the default tags become CR and LF.
  ASSERT_EQ(LookupAction("Show Popup Menu", info), 1);
  EXPECT_NE(info.default_tags.find("<text>Option One\r\nOption Two\r\n-----\r\nOption Three</text>"), std::string::npos);
}

TEST(Catalog, NamesAreComparedOverSixtyOneCharacters) {
  const std::string long_name(61, 'x');
  Catalog catalog("\r\n" + long_name + "~2~7~1~@~#\r\nShort~3~8~~N~N\r\n");
  ActionInfo info;
  EXPECT_EQ(LookupAction(&catalog, long_name + "yyyy", info), 1);
  EXPECT_EQ(info.action_id, 7);
  EXPECT_TRUE(info.saves_output);
  EXPECT_EQ(LookupAction(&catalog, long_name.substr(1), info), 1);
  EXPECT_EQ(info.action_id, 0);
  // A name past 61 characters in the catalog can never be matched.
  Catalog too_long("\r\n" + std::string(62, 'x') + "~2~7~1~@~#\r\n");
  EXPECT_EQ(too_long.size(), 0u);
}

TEST(Catalog, DefaultTagsAreCompletedTrimmedAndCut) {
  Catalog catalog(
      "\r\nBare~2~1~0~N~N~  <text>a\\r\\nb</text>  \r\n"
      "Whole~2~2~0~N~N~<step><action>Other</action><text>x</text></step>\r\n"
      "Open~2~3~0~N~N~<step><text>y</text>\r\n"
      "Tilde~2~4~0~N~N~<text>a~b</text>\r\n"
      "First~2~5~0~N~N\r\nfirst~2~6~0~N~N\r\n");
  ActionInfo info;
  LookupAction(&catalog, "bare", info);
  EXPECT_EQ(info.default_tags, "<step><action>Bare</action><text>a\r\nb</text></step>");
  LookupAction(&catalog, "Whole", info);
  EXPECT_EQ(info.default_tags, "<step><action>Other</action><text>x</text></step>");
  LookupAction(&catalog, "Open", info);
  EXPECT_EQ(info.default_tags, "<step><action>Open</action><text>y</text></step>");
  LookupAction(&catalog, "Tilde", info);
  EXPECT_EQ(info.default_tags, "<step><action>Tilde</action><text>a~b</text></step>");
  LookupAction(&catalog, "Bare", info, 8);  // 7 characters of field 7: "  <text"
  EXPECT_EQ(info.default_tags, "<step><action>Bare</action><text</step>");
  LookupAction(&catalog, "FIRST", info);  // the first line of a name wins
  EXPECT_EQ(info.action_id, 5);
}

TEST(Catalog, TakesPlainAndCompressedResources) {
  const std::string plain = "\r\nMouse Click~6~24~1~N~#~<options>Left,Down+Up</options>\r\n";
  Catalog compressed(LiteralBlock(plain));
  ASSERT_TRUE(compressed.loaded());
  EXPECT_EQ(compressed.text(), plain);
  ActionInfo info;
  EXPECT_EQ(LookupAction(&compressed, "Mouse Click", info), 1);
  EXPECT_EQ(info.action_id, 24);

  // Whole program catalog through the compressed form.
  Catalog again(LiteralBlock(ProgramCatalog()->text()));
  EXPECT_EQ(again.size(), ProgramCatalog()->size());

  // First byte tab, space or A-Z: plain; the first line then has no line feed before it.
  Catalog upper("Mouse Click~6~24~1~N~#\r\nMove~6~148~0~N~N\r\n");
  EXPECT_EQ(LookupAction(&upper, "Mouse Click", info), 1);
  EXPECT_EQ(info.action_id, 0);
  EXPECT_EQ(LookupAction(&upper, "Move", info), 1);
  EXPECT_EQ(info.action_id, 148);
  EXPECT_TRUE(Catalog("\tX").loaded());
  EXPECT_TRUE(Catalog(" X").loaded());

  // Anything else is a block; one that decodes to nothing leaves no catalog.
  EXPECT_FALSE(Catalog("x").loaded());
  EXPECT_FALSE(Catalog("").loaded());
  EXPECT_EQ(LookupAction(&compressed, "", info), 0);
}

TEST(Catalog, TextIsCutAt64KiB) {
  std::string text = "\r\n" + std::string(kCatalogMaxBytes - 2, ' ') + "\r\nLate~2~1~0~N~N\r\n";
  Catalog catalog(text);
  EXPECT_EQ(catalog.text().size(), kCatalogMaxBytes);
  ActionInfo info;
  LookupAction(&catalog, "Late", info);
  EXPECT_EQ(info.category, 0);
}

TEST(NoCase, FindsAndComparesWithoutRegardToCase) {
  EXPECT_EQ(FindNoCase("abc<ACTION>", "<action"), 3u);
  EXPECT_EQ(FindNoCase("abc", "abcd"), std::string_view::npos);
  EXPECT_EQ(FindNoCase("aXbxc", "xc"), 3u);
  EXPECT_EQ(FindNoCase("xyz", "z", 3), std::string_view::npos);
  EXPECT_TRUE(EqualsNoCase("Mouse Click", "MOUSE click"));
  EXPECT_FALSE(EqualsNoCase("Mouse", "Mouse "));
  EXPECT_TRUE(StartsWithNoCase("IF Process x", "if process"));
  EXPECT_EQ(NoCaseHash{}("Set Variable"), NoCaseHash{}("SET VARIABLE"));
}

}  // namespace
}  // namespace olvex::test
