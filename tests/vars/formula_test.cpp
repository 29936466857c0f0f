#include "vars/formula.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "input/key_names.h"
#include "platform/locale.h"
#include "tests/support/case_table.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/fake_screen.h"
#include "tests/support/test_support.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace olvex::test {
namespace {

// English names and a fixed clock: Wednesday 4 July 2012, 15:07:09.
class FixedLocale : public platform::EnglishLocale {
 public:
  platform::LocalDateTime Now() const override { return {2012, 7, 4, 3, 15, 7, 9, 0}; }
};

class Formula : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetLocaleForTest(&locale_); }
  void TearDown() override { platform::SetLocaleForTest(nullptr); }
  FixedLocale locale_;
};

// Each formula must give its number.
void Numbers(const std::vector<std::pair<std::string, double>>& cases) {
  for (const auto& [formula, number] : cases) EXPECT_EQ(EvaluateFormula(formula).number, number) << formula;
}

// ---------------------------------------------------------------------------
// The corpus: tests/vars/formula_cases.txt, one family per section.

const std::map<std::string, std::vector<CaseRow>>& Cases() { return CaseTable("tests/vars/formula_cases.txt"); }

std::vector<std::string> SectionNames() {
  std::vector<std::string> names;
  for (const auto& [name, cases] : Cases()) names.push_back(name);
  return names;
}

bool Near(double actual, double expected) {
  return actual == expected || std::fabs(actual - expected) <= 1e-12 * std::max(1.0, std::fabs(expected));
}

// A formula against its expected result as the corpus writes it: a number, "text" or !error.
void ExpectResult(const std::string& input, const std::string& expected) {
  FormulaResult r = EvaluateFormula(input);
  if (expected.size() >= 2 && expected.front() == '"' && expected.back() == '"') {
    EXPECT_FALSE(r.failed) << r.text;
    EXPECT_EQ(r.text, expected.substr(1, expected.size() - 2));
    EXPECT_EQ(r.number, 0);
  } else if (!expected.empty() && expected[0] == '!') {
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.text, expected.substr(1));
    EXPECT_EQ(r.number, 0);
  } else {
    double number = std::strtod(expected.c_str(), nullptr);
    EXPECT_FALSE(r.failed) << r.text;
    EXPECT_TRUE(Near(r.number, number)) << "number " << r.number << ", text \"" << r.text << "\"";
    // A number's text is the number written out, empty for zero.
    if (r.number == 0)
      EXPECT_EQ(r.text, "");
    else
      EXPECT_TRUE(Near(std::strtod(r.text.c_str(), nullptr), r.number) || std::isinf(r.number)) << r.text;
  }
}

class Corpus : public Formula, public ::testing::WithParamInterface<std::string> {};

TEST_P(Corpus, Family) {
  bool logical = GetParam().rfind("logical", 0) == 0;
  for (const CaseRow& row : Cases().at(GetParam())) {
    ASSERT_EQ(row.fields.size(), 2u) << row.where;
    const std::string &input = row.fields[0], &expected = row.fields[1];
    SCOPED_TRACE(row.where + input);
    if (!logical) {
      ExpectResult(input, expected);
      continue;
    }
    ASSERT_TRUE(expected == "true" || expected == "false") << expected;
    EXPECT_EQ(EvaluateLogical(input), expected == "true");
  }
}

INSTANTIATE_TEST_SUITE_P(Formulas, Corpus, ::testing::ValuesIn(SectionNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name;
                           for (char c : info.param)
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           return name;
                         });

TEST(FormulaCorpus, IsRead) { EXPECT_GE(Cases().size(), 15u); }

// ---------------------------------------------------------------------------
// Limits that take long formulas.

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Operands up to 4095 characters, joined texts cut there; a queue of 128 items
// (n ones summed take 2n-1) and an operator stack of 64.
TEST_F(Formula, LengthAndDepthLimits) {
  const std::string a4095(4095, 'a'), a4096(4096, 'a');
  const std::string nested = "!Formula Error: Too many nested parameters/calculations";
  const std::pair<std::string, std::string> rows[] = {
      {"=LEN(\"" + a4095 + "\")", "4095"}, {"=LEN(" + a4095 + ")", "4095"}, {"=LEN(\x02" + a4095 + "\x02)", "4095"},
      {"=LEN(\"" + a4096 + "\")", "!Parameter too big"}, {"=LEN('" + a4096 + "')", "!Parameter too big"},
      {"=LEN(\x02" + a4096 + "\x02)", "!Parameter too big"}, {"=LEN(" + a4096 + ")", "!Parameter too big"},
      {"=\"" + std::string(4000, 'a') + "\"&\"" + std::string(4000, 'b') + "\"",
       '"' + std::string(4000, 'a') + std::string(95, 'b') + '"'},
      {"=10^400", "inf"},
      {"=" + Repeat("1+", 63) + "1", "64"}, {"=" + Repeat("1+", 64) + "1", nested},
      {"=" + Repeat("(", 64) + "7" + Repeat(")", 64), "7"}, {"=" + Repeat("(", 65) + "7" + Repeat(")", 65), nested},
      // Right-grouped "!" keeps every operator on the stack; right-grouped
      // powers push every operand first: ten of them are too many.
      {"=" + Repeat("!", 64) + "1", "1"}, {"=" + Repeat("!", 65) + "1", nested},
      {"=" + Repeat("1^", 8) + "1", "1"}, {"=" + Repeat("1^", 9) + "1", nested},
  };
  for (const auto& [input, expected] : rows) {
    SCOPED_TRACE(input.substr(0, 20) + "... " + std::to_string(input.size()) + " characters");
    ExpectResult(input, expected);
  }
}

// ---------------------------------------------------------------------------
// Side effects on windows, keys and the screen (message boxes, files, programs
// and memory: the script case vars/formula_world).

// A desktop of three windows in z-order: 11 "Untitled - Notepad" (foreground),
// 12 "Calculator" (hidden), 13 "notepad help"; windows that ignore a close
// request, title reads and destroy calls recorded.
class Desktop : public FakeDesktop {
 public:
  Desktop() {
    for (const auto& [id, title, style] : {std::tuple{11, "Untitled - Notepad", kFrameStyle},
                                           std::tuple{12, "Calculator", 0u},
                                           std::tuple{13, "notepad help", kFrameStyle}}) {
      FakeWindow w(static_cast<platform::WindowId>(id), 0, title, "", 0, 0, style);
      w.refuses_close = true;
      Add(w);
    }
    foreground = 11;
  }
  bool exact_finds = true;
  platform::WindowId FindTopLevel(const std::string& title, const std::string& class_name) override {
    return exact_finds ? FakeDesktop::FindTopLevel(title, class_name) : 0;
  }
  std::string Title(platform::WindowId id, std::size_t max_chars, int timeout_ms) override {
    calls.push_back("Title " + std::to_string(id) + " " + std::to_string(max_chars) + " " + std::to_string(timeout_ms));
    return FakeDesktop::Title(id, max_chars, timeout_ms);
  }
  bool Destroy(platform::WindowId id) override {
    calls.push_back("Destroy " + std::to_string(id));
    return FakeDesktop::Destroy(id);
  }
};

TEST_F(Formula, FindWindowTriesExactThenWalksZOrderThreeWays) {
  Desktop desktop;
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"Calculator\")").number, 12);  // top-level exact, even hidden
  desktop.exact_finds = false;
  Numbers({{"=FINDWINDOW(\"notepad help\")", 13},                             // equal, case kept
      {"=FINDWINDOW(\"NOTEPAD\")", 13}, {"=FINDWINDOW(\"notepad\")", 13},  // starting with, any case
      {"=FINDWINDOW(\"- note\")", 11},                                        // containing
      {"=FINDWINDOW(\"Calc\")", 0},                                           // hidden windows are skipped
      {"=FINDWINDOW(\"\")", 0}});
  EXPECT_NE(std::find(desktop.calls.begin(), desktop.calls.end(), "Title 11 63 50"), desktop.calls.end());
  // The walk starts at the foreground window: windows above it are not seen.
  desktop.windows.insert(desktop.windows.begin(), FakeWindow(10, 0, "Above", "", 0, 0, kFrameStyle));
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"Above\")").number, 0);
  desktop.foreground = 0;  // without a foreground window the walk starts at the top
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"Above\")").number, 10);
}

TEST_F(Formula, WindowFunctionsGoThroughTheWindowsService) {
  Desktop desktop;
  Numbers({{"=TOPWINDOW()", 11}, {"=ISWINDOW(12)", 1}, {"=ISWINDOW(99)", 0}, {"=ISWINDOW(-12)", 0},
      {"=SETFOCUS(13)", 1}, {"=SETFOCUS(99)", 0}, {"=CLOSEWINDOW(12)", 1}, {"=CLOSEWINDOW(99)", 0},
      {"=IF(0,SETFOCUS(11),CLOSEWINDOW(13))", 1}});
  std::vector<std::string> actions;
  for (const std::string& call : desktop.calls)
    if (call.rfind("Title", 0) != 0) actions.push_back(call);
  EXPECT_EQ(actions, (std::vector<std::string>{"Activate 13", "PostClose 12", "Destroy 12", "PostClose 99",
                                               "PostClose 13", "Destroy 13"}));
}

TEST_F(Formula, IsKeyPressedReadsLocksAsToggledAndOtherKeysAsHeld) {
  FakeKeyboard keyboard;
  keyboard.caps_lock = true;
  keyboard.down = {144, 145, 1, 0x41, 0x70};
  Numbers({{"=ISKEYPRESSED(20)", 1}, {"=ISKEYPRESSED(144)", 0}, {"=ISKEYPRESSED(145)", 0},  // held but not on
      {"=ISKEYPRESSED(1)", 1}, {"=ISKEYPRESSED(2)", 0}, {"=ISKEYPRESSED(65)", 1},
      // Key names in the formula stand for their codes, also as a marked value.
      {"=ISKEYPRESSED({F1})", 1}, {"=ISKEYPRESSED({capslock})", 1}, {"=ISKEYPRESSED(\x02{CapsLock}\x02)", 1},
      {"=ISKEYPRESSED({Caps})", 1}, {"=ISKEYPRESSED({F2})", 0}});
}

TEST_F(Formula, PixelsAndScreenFactsComeFromTheScreenService) {
  PaintedScreen screen(100, 50, 0);
  screen.Paint(10, 32, 1, 1, {platform::MakeColour(0x0A, 0x20, 0xAB)});
  screen.Paint(99, 49, 1, 1, {platform::MakeColour(0x63, 0x31, 0xAB)});
  for (const auto& [input, expected] : std::vector<std::pair<std::string, std::string>>{
           {"=GETPIXEL(10,32)", "\"#0A20AB\""}, {"=GETPIXEL(99,49)", "\"#6331AB\""}, {"=GETPIXEL(100,0)", "0"},
           {"=INFO(\"screenx\")", "100"}, {"=INFO(\"ScreenY\")", "50"}, {"=INFO(\"monitor\")", "1"},
           {"=INFO(\"bpp\")", "32"}, {"=INFO(\"maxcolor\")", "32"}, {"=INFO(\"nonsense\")", "0"}})
    ExpectResult(input, expected);
}

TEST_F(Formula, InfoNamesTheSystem) {
#ifdef _WIN32
  EXPECT_EQ(EvaluateFormula("=INFO(\"osname\")").text, "Windows 7");  // what Wine reports
  EXPECT_EQ(EvaluateFormula("=INFO(\"osversion\")").text, "6.1");
  EXPECT_EQ(EvaluateFormula("=INFO(\"osversionex\")").text, "6.1.7601");
#else
  EXPECT_EQ(EvaluateFormula("=INFO(\"osname\")").text, "Unknown");
  EXPECT_EQ(EvaluateFormula("=INFO(\"osversion\")").text, "");
#endif
}

#ifdef _WIN32
// Text order of the comparisons follows the system's string comparison.
TEST_F(Formula, TextOrderAgreesWithTheSystem) {
  const char* texts[] = {"a", "A", "b", "B", "ab", "aB", "Ab", "abc", "abd", "1", "10", "9", "a1", "a9",
                         "1a", " ", " a", "a ", "", "Z", "z", "zz", "0", "00"};
  for (const char* x : texts)
    for (const char* y : texts) {
      std::string formula = std::string("=(\"") + x + "\"<\"" + y + "\")";
      if (!*x && !*y) continue;
      std::string xs = x, ys = y;
      EXPECT_EQ(EvaluateFormula(formula).number, lstrcmpA(xs.c_str(), ys.c_str()) < 0 ? 1 : 0) << x << " < " << y;
    }
}
#endif

// ---------------------------------------------------------------------------
// Key names.

TEST(KeyNames, NamesAndAliasesGiveTheirCodesInAnyCase) {
  EXPECT_EQ(KeyNameTable().front().name, "{ControlDown}");
  EXPECT_EQ(KeyNameTable().back().name, "{xbutton2}");
  for (int n = 1; n <= 16; ++n) EXPECT_EQ(VirtualKeyOfName("{F" + std::to_string(n) + "}"), 0x6F + n);
  for (int n = 0; n <= 9; ++n) EXPECT_EQ(VirtualKeyOfName("{num" + std::to_string(n) + "}"), 0x60 + n);
  for (const CaseRow& row : CaseSection("tests/vars/key_name_cases.txt", "codes", 2))
    EXPECT_EQ(VirtualKeyOfName(row.fields[0]), std::stoi(row.fields[1], nullptr, 16)) << row.where;
}

TEST(KeyNames, MatchAtTheStartOfATextWithPressForms) {
  KeyNameMatch m = MatchKeyName("{controldown}abc");
  EXPECT_EQ(std::make_tuple(m.code, m.length, m.form), std::make_tuple(0x11, 13u, PressForm::PressOnly));
  EXPECT_EQ(MatchKeyName("{ShiftUp}").form, PressForm::ReleaseOnly);
  EXPECT_EQ(MatchKeyName("{WinKeyDown}").form, PressForm::PressOnly);
  EXPECT_EQ(MatchKeyName("{WinKeyDown}").length, 12u);
  EXPECT_EQ(MatchKeyName("{WinKey}").form, PressForm::PressAndRelease);
  EXPECT_EQ(MatchKeyName("{F10}x").code, 0x79);
  EXPECT_EQ(MatchKeyName("{F1}0").code, 0x70);
  EXPECT_EQ(MatchKeyName("{Ctrl}").code, 0);  // aliases are rewritten by the caller first
  EXPECT_EQ(MatchKeyName("{Ente").code, 0);
  EXPECT_EQ(MatchKeyName("").code, 0);
}

}  // namespace
}  // namespace olvex::test
