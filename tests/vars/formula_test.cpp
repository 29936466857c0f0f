#include "vars/formula.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "input/key_names.h"
#include "platform/input.h"
#include "platform/locale.h"
#include "platform/screen.h"
#include "platform/windows.h"
#include "tests/support/case_table.h"
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
  return std::fabs(actual - expected) <= 1e-12 * std::max(1.0, std::fabs(expected));
}

class Corpus : public Formula, public ::testing::WithParamInterface<std::string> {};

TEST_P(Corpus, Family) {
  bool logical = GetParam().rfind("logical", 0) == 0;
  for (const CaseRow& row : Cases().at(GetParam())) {
    ASSERT_EQ(row.fields.size(), 2u) << row.where;
    struct { const std::string &input, &expected; } c{row.fields[0], row.fields[1]};
    SCOPED_TRACE(row.where + c.input);
    if (logical) {
      ASSERT_TRUE(c.expected == "true" || c.expected == "false") << c.expected;
      EXPECT_EQ(EvaluateLogical(c.input), c.expected == "true");
      continue;
    }
    FormulaResult r = EvaluateFormula(c.input);
    if (c.expected.size() >= 2 && c.expected.front() == '"' && c.expected.back() == '"') {
      EXPECT_FALSE(r.failed) << r.text;
      EXPECT_EQ(r.text, c.expected.substr(1, c.expected.size() - 2));
      EXPECT_EQ(r.number, 0);
    } else if (!c.expected.empty() && c.expected[0] == '!') {
      EXPECT_TRUE(r.failed);
      EXPECT_EQ(r.text, c.expected.substr(1));
      EXPECT_EQ(r.number, 0);
    } else {
      double expected = std::strtod(c.expected.c_str(), nullptr);
      EXPECT_FALSE(r.failed) << r.text;
      EXPECT_TRUE(Near(r.number, expected)) << "number " << r.number << ", text \"" << r.text << "\"";
      // A number's text is the number written out, empty for zero.
      if (r.number == 0)
        EXPECT_EQ(r.text, "");
      else
        EXPECT_TRUE(Near(std::strtod(r.text.c_str(), nullptr), r.number) || std::isinf(r.number)) << r.text;
    }
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

TEST_F(Formula, OperandsUpTo4095CharactersAndNoMore) {
  Numbers({{"=LEN(\"" + std::string(4095, 'a') + "\")", 4095}, {"=LEN(" + std::string(4095, 'a') + ")", 4095},
      {"=LEN(\x02" + std::string(4095, 'a') + "\x02)", 4095}});
  for (std::string quote : {"\"", "'", "\x02", ""}) {
    FormulaResult r = EvaluateFormula("=LEN(" + quote + std::string(4096, 'a') + quote + ")");
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.text, "Parameter too big");
    EXPECT_EQ(r.number, 0);
  }
  // Joined texts stop at 4095 characters.
  FormulaResult joined = EvaluateFormula("=\"" + std::string(4000, 'a') + "\"&\"" + std::string(4000, 'b') + "\"");
  EXPECT_EQ(joined.text, std::string(4000, 'a') + std::string(95, 'b'));
  EXPECT_EQ(EvaluateFormula("=10^400").text, "inf");
}

TEST_F(Formula, QueueHolds128ItemsAndOperatorStack64) {
  // n ones summed take 2n-1 items.
  EXPECT_EQ(EvaluateFormula("=" + Repeat("1+", 63) + "1").number, 64);
  FormulaResult long_sum = EvaluateFormula("=" + Repeat("1+", 64) + "1");
  EXPECT_TRUE(long_sum.failed);
  EXPECT_EQ(long_sum.text, "Formula Error: Too many nested parameters/calculations");

  EXPECT_EQ(EvaluateFormula("=" + Repeat("(", 64) + "7" + Repeat(")", 64)).number, 7);
  FormulaResult deep = EvaluateFormula("=" + Repeat("(", 65) + "7" + Repeat(")", 65));
  EXPECT_TRUE(deep.failed);
  EXPECT_EQ(deep.text, "Formula Error: Too many nested parameters/calculations");
  // Right-grouped "!" keeps every operator on the stack.
  EXPECT_EQ(EvaluateFormula("=" + Repeat("!", 64) + "1").number, 1);
  EXPECT_TRUE(EvaluateFormula("=" + Repeat("!", 65) + "1").failed);
  // Right-grouped powers push every operand first: ten of them are too many.
  EXPECT_EQ(EvaluateFormula("=" + Repeat("1^", 8) + "1").number, 1);
  EXPECT_EQ(EvaluateFormula("=" + Repeat("1^", 9) + "1").text,
            "Formula Error: Too many nested parameters/calculations");
}

// ---------------------------------------------------------------------------
// Side effects: message boxes, windows, programs.

TEST_F(Formula, MessageBoxShowsTextAndTitle) {
  RecordingDialogs dialogs;
  FormulaResult r = EvaluateFormula("=MSGBOX(\"Hello \"&1,\"Title\")");
  EXPECT_EQ(r.number, platform::box::kAnswerOk);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, "Hello 1");
  EXPECT_EQ(dialogs.boxes[0].title, "Title");
}

TEST_F(Formula, IfPerformsOnlyTheBranchItSelects) {
  RecordingDialogs dialogs;
  EXPECT_EQ(EvaluateFormula("=IF(0,MSGBOX(\"x\",\"t\"),1)").number, 1);
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ(EvaluateFormula("=IF(1,2,MSGBOX(\"x\",\"t\"))").number, 2);
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ(EvaluateFormula("=IF(1,MSGBOX(\"yes\",\"t\"),MSGBOX(\"no\",\"t\"))").number, 1);
  EXPECT_EQ(EvaluateFormula("=IF(0,MSGBOX(\"yes\",\"t\"),MSGBOX(\"no\",\"t\"))").number, 1);
  // Nested and inside other functions.
  EXPECT_EQ(EvaluateFormula("=IF(1,IF(0,MSGBOX(\"a\",\"t\"),LEN(MSGBOX(\"b\",\"t\"))),MSGBOX(\"c\",\"t\"))").number, 1);
  // Outside an IF the box is shown where it stands, even before an IF.
  EXPECT_EQ(EvaluateFormula("=MSGBOX(\"d\",\"t\")+IF(1,1,0)").number, 2);
  ASSERT_EQ(dialogs.boxes.size(), 4u);
  EXPECT_EQ(dialogs.boxes[0].text, "yes");
  EXPECT_EQ(dialogs.boxes[1].text, "no");
  EXPECT_EQ(dialogs.boxes[2].text, "b");
  EXPECT_EQ(dialogs.boxes[3].text, "d");
}

// A desktop of three windows in z-order: 11 "Untitled - Notepad" (foreground),
// 12 "Calculator" (hidden), 13 "notepad help".
class FakeWindows : public platform::Windows {
 public:
  FakeWindows() { platform::SetWindowsForTest(this); }
  ~FakeWindows() override { platform::SetWindowsForTest(nullptr); }
  struct W { platform::WindowId id; std::string title; bool visible; };
  std::vector<W> z{{11, "Untitled - Notepad", true}, {12, "Calculator", false}, {13, "notepad help", true}};
  std::vector<std::string> calls;
  bool exact_finds = true;
  platform::WindowId foreground = 11;

  const W* Get(platform::WindowId id) const {
    for (const W& w : z)
      if (w.id == id) return &w;
    return nullptr;
  }
  platform::WindowId FindTopLevel(const std::string& title, const std::string&) override {
    calls.push_back("find " + title);
    if (exact_finds)
      for (const W& w : z)
        if (w.title == title) return w.id;
    return 0;
  }
  bool Exists(platform::WindowId id) override { return Get(id) != nullptr; }
  platform::WindowId Foreground() override { return foreground; }
  platform::WindowId NextInZOrder(platform::WindowId id) override {
    if (id == 0) return z.empty() ? 0 : z[0].id;
    for (std::size_t i = 0; i + 1 < z.size(); ++i)
      if (z[i].id == id) return z[i + 1].id;
    return 0;
  }
  bool IsVisible(platform::WindowId id) override { return Get(id) && Get(id)->visible; }
  std::string Title(platform::WindowId id, std::size_t max_chars, int timeout_ms) override {
    calls.push_back("title " + std::to_string(id) + " " + std::to_string(max_chars) + " " + std::to_string(timeout_ms));
    return Get(id) ? Get(id)->title.substr(0, max_chars) : "";
  }
  bool Activate(platform::WindowId id) override {
    calls.push_back("activate " + std::to_string(id));
    return Get(id) != nullptr;
  }
  bool PostClose(platform::WindowId id) override {
    calls.push_back("close " + std::to_string(id));
    return Get(id) != nullptr;
  }
  bool Destroy(platform::WindowId id) override {
    calls.push_back("destroy " + std::to_string(id));
    return Get(id) != nullptr;
  }
};

TEST_F(Formula, FindWindowTriesExactThenWalksZOrderThreeWays) {
  FakeWindows windows;
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"Calculator\")").number, 12);  // top-level exact, even hidden
  windows.exact_finds = false;
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"notepad help\")").number, 13);  // equal, case kept
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"NOTEPAD\")").number, 13);       // starting with, any case
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"notepad\")").number, 13);
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"- note\")").number, 11);        // containing
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"Calc\")").number, 0);           // hidden windows are skipped
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"\")").number, 0);
  EXPECT_NE(std::find(windows.calls.begin(), windows.calls.end(), "title 11 63 50"), windows.calls.end());
  // The walk starts at the foreground window: windows above it are not seen.
  windows.z.insert(windows.z.begin(), {10, "Above", true});
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"Above\")").number, 0);
  windows.foreground = 0;  // without a foreground window the walk starts at the top
  EXPECT_EQ(EvaluateFormula("=FINDWINDOW(\"Above\")").number, 10);
}

TEST_F(Formula, WindowFunctionsGoThroughTheWindowsService) {
  FakeWindows windows;
  Numbers({{"=TOPWINDOW()", 11}, {"=ISWINDOW(12)", 1}, {"=ISWINDOW(99)", 0}, {"=ISWINDOW(-12)", 0},
      {"=SETFOCUS(13)", 1}, {"=SETFOCUS(99)", 0}, {"=CLOSEWINDOW(12)", 1}, {"=CLOSEWINDOW(99)", 0},
      {"=IF(0,SETFOCUS(11),CLOSEWINDOW(13))", 1}});
  std::vector<std::string> actions;
  for (const std::string& call : windows.calls)
    if (call.rfind("activate", 0) == 0 || call.rfind("close", 0) == 0 || call.rfind("destroy", 0) == 0)
      actions.push_back(call);
  EXPECT_EQ(actions, (std::vector<std::string>{"activate 13", "close 12", "destroy 12", "close 99", "close 13",
                                               "destroy 13"}));
}

class FakeInput : public platform::Input {
 public:
  FakeInput() { platform::SetInputForTest(this); }
  ~FakeInput() override { platform::SetInputForTest(nullptr); }
  std::set<int> down, toggled;
  bool IsKeyDown(int key) override { return down.count(key) > 0; }
  bool IsKeyToggled(int key) override { return toggled.count(key) > 0; }
};

TEST_F(Formula, IsKeyPressedReadsLocksAsToggledAndOtherKeysAsHeld) {
  FakeInput input;
  input.toggled = {20, 144};
  input.down = {20, 145, 1, 0x41, 0x70};
  EXPECT_EQ(EvaluateFormula("=ISKEYPRESSED(20)").number, 1);
  EXPECT_EQ(EvaluateFormula("=ISKEYPRESSED(144)").number, 1);
  EXPECT_EQ(EvaluateFormula("=ISKEYPRESSED(145)").number, 0);  // held but not on
  Numbers({{"=ISKEYPRESSED(1)", 1}, {"=ISKEYPRESSED(2)", 0}, {"=ISKEYPRESSED(65)", 1}});
  // Key names in the formula stand for their codes, also as a marked value.
  Numbers({{"=ISKEYPRESSED({F1})", 1}, {"=ISKEYPRESSED({capslock})", 1}, {"=ISKEYPRESSED(\x02{CapsLock}\x02)", 1},
      {"=ISKEYPRESSED({Caps})", 1}, {"=ISKEYPRESSED({F2})", 0}});
}

class FakeScreen : public platform::Screen {
 public:
  FakeScreen() { platform::SetScreenForTest(this); }
  ~FakeScreen() override { platform::SetScreenForTest(nullptr); }
  std::optional<platform::Colour> PixelAt(int x, int y) override {
    if (x < 0 || y < 0 || x >= 100 || y >= 50) return std::nullopt;
    return platform::MakeColour(x, y, 0xAB);
  }
  platform::ScreenInfo Info() override { return {100, 50, 2, 32}; }
};

TEST_F(Formula, PixelsAndScreenFactsComeFromTheScreenService) {
  FakeScreen screen;
  EXPECT_EQ(EvaluateFormula("=GETPIXEL(10,32)").text, "#0A20AB");
  EXPECT_EQ(EvaluateFormula("=GETPIXEL(99,49)").text, "#6331AB");
  FormulaResult off = EvaluateFormula("=GETPIXEL(100,0)");
  EXPECT_EQ(off.text, "");
  EXPECT_EQ(off.number, 0);
  Numbers({{"=INFO(\"screenx\")", 100}, {"=INFO(\"ScreenY\")", 50}, {"=INFO(\"monitor\")", 2}, {"=INFO(\"bpp\")", 32},
      {"=INFO(\"maxcolor\")", 32}, {"=INFO(\"nonsense\")", 0}});
}

TEST_F(Formula, InfoReportsMemoryDirectoryAndSystem) {
  double total = EvaluateFormula("=INFO(\"totmem\")").number;
  double free = EvaluateFormula("=INFO(\"memfree\")").number;
  EXPECT_GT(total, 1e6);
  EXPECT_GT(free, 0);
  EXPECT_LE(free, total);
  EXPECT_EQ(EvaluateFormula("=INFO(\"memtot\")").number, total);
  double used = EvaluateFormula("=INFO(\"memused\")").number;
  EXPECT_GT(used, 0);
  EXPECT_LT(used, total);
  EXPECT_EQ(EvaluateFormula("=INFO(\"directory\")").text, std::filesystem::current_path().string());
#ifdef _WIN32
  EXPECT_EQ(EvaluateFormula("=INFO(\"osname\")").text, "Windows 7");  // what Wine reports
  EXPECT_EQ(EvaluateFormula("=INFO(\"osversion\")").text, "6.1");
  EXPECT_EQ(EvaluateFormula("=INFO(\"osversionex\")").text, "6.1.7601");
#else
  EXPECT_EQ(EvaluateFormula("=INFO(\"osname\")").text, "Unknown");
  EXPECT_EQ(EvaluateFormula("=INFO(\"osversion\")").text, "");
#endif
}

TEST_F(Formula, FilesExistFoldersExistAndSizes) {
  ScratchDir dir;
  std::string file = dir.Write("a b.txt", "12345");
  std::string folder = dir.path().string();
  Numbers({{"=FILEEXIST(\"" + file + "\")", 1}, {"=FILEEXIST(\"" + folder + "\")", 0},
      {"=FILEEXIST(\"" + dir.File("missing") + "\")", 0}, {"=FOLDEREXIST(\"" + folder + "\")", 1},
      {"=FOLDEREXIST(\"" + file + "\")", 0}, {"=FILESIZE(\"" + file + "\")", 5},
      {"=FILESIZE(\"" + dir.File("missing") + "\")", 0}});
  // A marked value (as expansion leaves a variable) names the file too.
  EXPECT_EQ(EvaluateFormula("=FILESIZE(\x02" + file + "\x02)").number, 5);
  EXPECT_EQ(EvaluateFormula("=FILEEXIST(\"\")").number, 0);
}

TEST_F(Formula, RunStartsProgramsAndReportsFailure) {
#ifdef _WIN32
  EXPECT_EQ(EvaluateFormula("=RUN(\"cmd.exe /c exit 3\")").number, 1);
#else
  EXPECT_EQ(EvaluateFormula("=RUN(\"true\")").number, 1);
  EXPECT_EQ(EvaluateFormula("=RUN('sh -c \"exit 0\"')").number, 1);
#endif
  ScratchDir dir;
  EXPECT_EQ(EvaluateFormula("=RUN(\"" + dir.File("no-such-program.exe") + "\")").number, -12349);
  EXPECT_EQ(EvaluateFormula("=RUN(\"\")").number, -12349);
}

#ifdef _WIN32
// ---------------------------------------------------------------------------
// The Win32 services for real, against windows of this test (held keys and
// message boxes for real: the IF and platform tests).

// A borderless window of one colour at a place of the screen.
class ColourWindow {
 public:
  ColourWindow(const std::string& title, COLORREF colour, int x, int y) {
    static ATOM atom = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = DefWindowProcA;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = "OlvexFormulaTestWindow";
      return RegisterClassA(&wc);
    }();
    (void)atom;
    brush_ = CreateSolidBrush(colour);
    hwnd_ = CreateWindowExA(WS_EX_TOPMOST, "OlvexFormulaTestWindow", title.c_str(), WS_POPUP | WS_VISIBLE, x, y, 120,
                            80, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetClassLongPtrA(hwnd_, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(brush_));
    InvalidateRect(hwnd_, nullptr, TRUE);
    Pump(300);
  }
  ~ColourWindow() {
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    DeleteObject(brush_);
  }
  HWND hwnd() const { return hwnd_; }
  std::string Id() const { return std::to_string(reinterpret_cast<std::uintptr_t>(hwnd_) & 0xFFFFFFFFu); }
  static void Pump(int ms) {
    DWORD end = GetTickCount() + ms;
    while (static_cast<int>(end - GetTickCount()) > 0) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      Sleep(10);
    }
  }

 private:
  HBRUSH brush_ = nullptr;
  HWND hwnd_ = nullptr;
};

double Number(const std::string& formula) { return EvaluateFormula(formula).number; }

TEST_F(Formula, WindowsFoundFocusedAndClosedForReal) {
  ColourWindow first("Olvex formula window one", RGB(10, 20, 30), 100, 100);
  ColourWindow second("Olvex formula window two", RGB(200, 150, 100), 300, 100);
  ASSERT_TRUE(first.hwnd() && second.hwnd());
  EXPECT_EQ(Number("=FINDWINDOW(\"Olvex formula window one\")"), std::stod(first.Id()));
  EXPECT_EQ(Number("=ISWINDOW(" + second.Id() + ")"), 1);
  std::string gone;
  {
    ColourWindow third("Olvex formula window three", RGB(0, 0, 0), 500, 100);
    gone = third.Id();
  }
  EXPECT_EQ(Number("=ISWINDOW(" + gone + ")"), 0);  // a window that was destroyed

  EXPECT_EQ(Number("=SETFOCUS(" + first.Id() + ")"), 1);
  ColourWindow::Pump(100);
  EXPECT_EQ(Number("=TOPWINDOW()"), std::stod(first.Id()));
  EXPECT_EQ(GetForegroundWindow(), first.hwnd());
  EXPECT_EQ(Number("=SETFOCUS(" + second.Id() + ")"), 1);
  ColourWindow::Pump(100);
  EXPECT_EQ(Number("=TOPWINDOW()"), std::stod(second.Id()));
  // Partial titles are found by walking the windows down from the foreground window.
  Numbers({{"=FINDWINDOW(\"OLVEX FORMULA WINDOW O\")", std::stod(first.Id())},
      {"=FINDWINDOW(\"mula window on\")", std::stod(first.Id())}, {"=FINDWINDOW(\"no such formula window\")", 0}});

  EXPECT_EQ(Number("=CLOSEWINDOW(" + first.Id() + ")"), 1);
  ColourWindow::Pump(100);
  EXPECT_FALSE(IsWindow(first.hwnd()));
  Numbers({{"=ISWINDOW(" + first.Id() + ")", 0}, {"=FINDWINDOW(\"Olvex formula window one\")", 0},
      {"=SETFOCUS(" + first.Id() + ")", 0}});
}

TEST_F(Formula, PixelsAndScreenReadForReal) {
  ColourWindow window("Olvex formula pixels", RGB(0x12, 0x34, 0x56), 500, 300);
  SetForegroundWindow(window.hwnd());
  ColourWindow::Pump(200);
  EXPECT_EQ(EvaluateFormula("=GETPIXEL(540,330)").text, "#123456");
  EXPECT_EQ(EvaluateFormula("=GETPIXEL(" + std::to_string(GetSystemMetrics(SM_CXSCREEN) + 50) + ",5)").text, "");
  Numbers({{"=INFO(\"screenx\")", GetSystemMetrics(SM_CXSCREEN)},
      {"=INFO(\"screeny\")", GetSystemMetrics(SM_CYSCREEN)}, {"=INFO(\"monitor\")", 1}});
  EXPECT_GE(Number("=INFO(\"bpp\")"), 24);
}

// Text order of the comparisons follows the system's string comparison.
TEST_F(Formula, TextOrderAgreesWithTheSystem) {
  const char* texts[] = {"a", "A", "b", "B", "ab", "aB", "Ab", "abc", "abd", "1", "10", "9", "a1", "a9",
                         "1a", " ", " a", "a ", "", "Z", "z", "zz", "0", "00"};
  for (const char* x : texts)
    for (const char* y : texts) {
      std::string formula = std::string("=(\"") + x + "\"<\"" + y + "\")";
      if (!*x && !*y) continue;
      std::string xs = x, ys = y;
      EXPECT_EQ(Number(formula), lstrcmpA(xs.c_str(), ys.c_str()) < 0 ? 1 : 0) << x << " < " << y;
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
  const std::map<std::string, int> codes{
      {"{Num*}", 0x6A}, {"{Num+}", 0x6B}, {"{Num-}", 0x6D}, {"{Num.}", 0x6E}, {"{Num/}", 0x6F}, {"{Left}", 0x25},
      {"{Right}", 0x27}, {"{Up}", 0x26}, {"{Down}", 0x28}, {"{PageUp}", 0x21}, {"{PageDown}", 0x22}, {"{Home}", 0x24},
      {"{End}", 0x23}, {"{Pause}", 0x13}, {"{ScrollLock}", 0x91}, {"{RightWinkey}", 0x5C}, {"{AppKey}", 0x5D},
      {"{VolumeMute}", 0xAD}, {"{PreviousTrack}", 0xB1}, {"{BrowserHome}", 0xAC}, {"{LaunchEmail}", 0xB4},
      {"{SleepMode}", 0x5F}, {"{App2}", 0xB7}, {"{xbutton1}", 0x05}, {"{Delay=1000}", 0x03},
      // Aliases, any case.
      {"{CTRL}", 0x11}, {"{ctrlup}", 0x11}, {"{N}", 0x0D}, {"{\\t}", 0x09}, {"{Pg Dn}", 0x22}, {"{Volume_Down}", 0xAE},
      {"{PrtScrn}", 0x2C}, {"{Foo}", 0}, {"Enter", 0}};
  for (const auto& [name, code] : codes) EXPECT_EQ(VirtualKeyOfName(name), code) << name;
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
