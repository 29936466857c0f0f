// Expansion of step fields: every pass, as tables of (variables, input, flags, expected).
#include "vars/expand.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "engine/settings.h"
#include "platform/locale.h"
#include "platform/module.h"
#include "platform/system.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/case_table.h"
#include "tests/support/fake_desktop.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

using namespace std::string_literals;

// 4 July 2012, a Wednesday, 15:07:09.250.
class FixedLocale : public platform::EnglishLocale {
 public:
  platform::LocalDateTime Now() const override {
    platform::LocalDateTime t;
    t.year = 2012, t.month = 7, t.day = 4, t.weekday = 3;
    t.hour = 15, t.minute = 7, t.second = 9, t.millisecond = 250;
    return t;
  }
};

class FakeHost : public ExpansionHost {
 public:
  std::optional<double> loop;
  std::optional<long> repeat;
  std::vector<std::string> log;
  int level = 0;
  std::optional<double> LoopValue(int) override { return loop; }
  std::optional<long> RepeatCount() override { return repeat; }
  std::optional<std::string> LastCommand() override { return "OK"; }
  std::optional<int> LastCommandId() override { return 1; }
  int LogLevel() override { return level; }
  void Log(const std::string& line) override { log.push_back(line); }
};

// Everything an expansion reads, fixed for one test.
class ExpandFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetLocaleForTest(&locale_);
    SetExpansionHost(&host_);
  }
  void TearDown() override {
    SetExpansionHost(nullptr);
    platform::SetLocaleForTest(nullptr);
    FreeAllMemorySlots();
  }
  void Set(const std::vector<std::pair<std::string, std::string>>& variables) {
    for (const auto& [name, value] : variables) ASSERT_TRUE(WriteUserVariable(name, value)) << name;
  }

  StoreSandbox box_;
  FixedLocale locale_;
  FakeHost host_;
  FakeClipboard clipboard_;
};

// Each input expands to its expected text, and the length told is that text's.
void ExpectExpansions(const std::vector<std::pair<std::string, std::string>>& rows, int flags = 0) {
  for (const auto& [input, expected] : rows) {
    std::size_t length = 99;
    EXPECT_EQ(ExpandText(input, 0, 0, flags, &length), expected) << "input: " << input;
    EXPECT_EQ(length, expected.size()) << "input: " << input;
  }
}

// The corpus tests/vars/expand_cases.txt: user variables, modes, escapes, formulas, the
// clock (4 July 2012, 15:07:09.250), the run (repeat 7, no loop but where a section
// names one), slots 2 "two", 3 "" and 4 "%x", the clipboard "{TODAY} %x", FailStep 5.
TEST_F(ExpandFixture, Corpus) {
  const std::map<std::string, int> modes{{"single", kExpandSingle}, {"keep", kExpandKeepEscapes}, {"none", kExpandNone}};
  const std::map<std::string, std::optional<double>> loops{{"in a loop", 2}, {"in a loop of 2.5", 2.5}};
  host_.repeat = 7;
  SetMemorySlot(2, "two");
  SetMemorySlot(3, "");
  SetMemorySlot(4, "%x");
  clipboard_.text = "{TODAY} %x";
  ASSERT_TRUE(WriteSetting("*\\FailStep", 5));
  for (const auto& [section, rows] : CaseTable("tests/vars/expand_cases.txt")) {
    host_.loop = loops.count(section) ? loops.at(section) : std::nullopt;
    for (const CaseRow& row : CaseSection("tests/vars/expand_cases.txt", section, 4)) {
      SCOPED_TRACE(row.where + row.fields[1]);
      std::vector<std::pair<std::string, std::string>> variables;
      for (std::size_t at = 0; at < row.fields[0].size();) {
        std::size_t end = std::min(row.fields[0].find('|', at), row.fields[0].size());
        const std::string pair = row.fields[0].substr(at, end - at);
        variables.emplace_back(pair.substr(0, pair.find('=')), pair.substr(pair.find('=') + 1));
        at = end + 1;
      }
      int flags = 0;
      for (std::size_t at = 0; at < row.fields[2].size();) {
        std::size_t end = std::min(row.fields[2].find('+', at), row.fields[2].size());
        flags |= modes.at(row.fields[2].substr(at, end - at));
        at = end + 1;
      }
      Set(variables);
      ExpectExpansions({{row.fields[1], row.fields[3]}}, flags);
      for (const auto& [name, value] : variables) DeleteUserVariable(name);
    }
  }
}

// The formula log lines, the fields of steps and of the script and the constants
// of a real run: the script cases vars/formula_world and vars/fields_and_destinations.

TEST_F(ExpandFixture, ProgramAndSystem) {
  std::string exe = ExpandText("{olvex_exe}", 0, 0, 0);
  EXPECT_NE(exe, "{olvex_exe}");
  EXPECT_EQ(ExpandText("{Corvinate_exe}|{Quintaverse_EXE}", 0, 0, 0), exe + "|" + exe);
  std::string dir = ExpandText("{olvex_dir}", 0, 0, 0);
  EXPECT_EQ(exe.rfind(dir, 0), 0u);
  EXPECT_TRUE(dir.back() == '\\' || dir.back() == '/');
  EXPECT_EQ(ExpandText("{tempdir}", 0, 0, 0), platform::TempFolder().value_or("{tempdir}"));
  std::string temp = ExpandText("{tempfile}", 0, 0, 0);
  EXPECT_EQ(ExpandText("{tempfile}", 0, 0, 0), temp);
  EXPECT_EQ(ExpandText("{username}", 0, 0, 0), platform::UserName());
  std::string curdir = ExpandText("{CURDIR}", 0, 0, 0);
  EXPECT_FALSE(curdir.empty());
  EXPECT_NE(curdir.back(), '\\');
  EXPECT_EQ(ExpandText("{WINVER}", 0, 0, 0), platform::WindowsVersionName(platform::WindowsVersion()));
  clipboard_.text.reset();
  EXPECT_EQ(ExpandText("[{CLIPBOARD}]", 0, 0, 0), "[]");
  for (const std::string name : {"{ticks}", "{memtotal}"}) EXPECT_NE(ExpandText(name, 0, 0, 0), name);
#ifdef _WIN32
  for (const std::string name : {"{SYSDIR}", "{screen_x}", "{mouse_x}"}) EXPECT_NE(ExpandText(name, 0, 0, 0), name);
#else
  EXPECT_EQ(ExpandText("{WINDOW}{HWND}{SYSDIR}{mouse_x}", 0, 0, 0), "{WINDOW}{HWND}{SYSDIR}{mouse_x}");
#endif
}

TEST_F(ExpandFixture, CurrentWindow) {
  FakeDesktop desktop;
  desktop.Add(FakeWindow(77, 0, "Notes {TODAY} %x", "Edit", 12, 34, kFrameStyle, {10, 20, 300, 200}));
  ExpectExpansions({{"{WINDOW}|{HWND}", "{WINDOW}|{HWND}"}});  // none known
  desktop.foreground = 77;
  ExpectExpansions({{"{WINDOW}|{win_class}|{WINID}|{userdata}|{HWND}|{window_x},{window_y},"
                     "{window_width}x{window_height}",
                     "Notes {TODAY} %x|Edit|12|34|77|10,20,300x200"}});
  EXPECT_EQ(host_.CurrentWindow(), 77u);  // the foreground window became the current one
}

// At most one listing per expansion (none while no name came or went), one
// read per reference; names created or deleted between expansions are seen.
TEST_F(ExpandFixture, StoreCallsAndNewVariables) {
  Set({{"a", "1"}});
  ResetExpandStoreCallCount();
  EXPECT_EQ(ExpandText("%a %ab %a", 0, 0, 0), "1 1b 1");
  ExpandStoreCalls calls = ExpandStoreCallCount();
  EXPECT_LE(calls.listings, 1u);
  EXPECT_EQ(calls.reads, 3u);
  Set({{"a", "3"}});  // a new value, no new name
  EXPECT_EQ(ExpandText("%a", 0, 0, 0), "3");
#ifndef _WIN32
  EXPECT_EQ(ExpandStoreCallCount().listings, 1u);
#endif
  Set({{"ab", "2"}, {"a", "1"}});
  EXPECT_EQ(ExpandText("%a %ab %a", 0, 0, 0), "1 2 1");
  DeleteUserVariable("a");
  EXPECT_EQ(ExpandText("%a %ab", 0, 0, 0), "%a 2");
  // A name another program added.
  const ChildResult added =
      RunChild({BuiltProgram("olvex-reg"), "add", "HKCU\\" + box_.VariablesKey(), "/v", "fresh", "/d", "new", "/f"});
  ASSERT_EQ(added.exit_code, 0) << added.err;
  EXPECT_EQ(ExpandText("%ab %fresh", 0, 0, 0), "2 new");
  ResetExpandStoreCallCount();
  EXPECT_EQ(ExpandText("no reference", 0, 0, 0), "no reference");
  EXPECT_EQ(ExpandStoreCallCount().listings, 0u);
  // Scripts beyond the eighth read no user variables.
  EXPECT_EQ(ExpandText("%ab", 8, 0, 0), "%ab");
}

TEST_F(ExpandFixture, IntoABufferKeepsTheSharedResult) {
  Set({{"x", "value"}});
  EXPECT_EQ(ExpandText("first %x", 0, 0, 0), "first value");
  EXPECT_EQ(ExpandIntoBuffer("%x", 0, 0, 4), "val");
  EXPECT_EQ(ExpandIntoBuffer("%x", 0, 0, 0), "");
  EXPECT_EQ(ExpansionResult(), "first value");
}

TEST(ReplaceAll, CaseInsensitiveWithoutRescanning) {
  struct Row { std::string text, name, value, expected; std::size_t count; };
  const std::vector<Row> rows = {
      {"aXa", "a", "aa", "aaXaa", 2},
      {"{Loop}{LOOP}{loop}", "{loop}", "{loop}{loop}", "{loop}{loop}{loop}{loop}{loop}{loop}", 3},
      {"none", "x", "y", "none", 0}, {"aaa", "aa", "b", "ba", 1}, {"abc", "abc", "", "", 1}, {"x", "", "y", "x", 0},
  };
  for (const Row& r : rows) {
    std::string text = r.text;
    EXPECT_EQ(ReplaceAll(text, r.name, r.value), r.count) << r.text;
    EXPECT_EQ(text, r.expected) << r.text;
  }
}

}  // namespace
}  // namespace olvex::test
