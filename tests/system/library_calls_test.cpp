// The call parser, the constant table and calls into the test library (a DLL
// in the Windows build, a shared object natively) and the system's libraries.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/document.h"
#include "engine/run.h"
#include "platform/module.h"
#include "system/library_calls.h"
#include "system/win_constants.h"
#include "tests/settings/store_sandbox.h"
#include "vars/expand.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

std::string Describe(const ParsedCall& call) {
  std::string out = call.name + ":";
  for (const CallArgument& a : call.arguments)
    out += " [" + a.text + (a.number ? "#" : "") + (a.null ? "!" : "") + (a.variable.empty() ? "" : " %" + a.variable) + "]";
  return out;
}

TEST(CallParser, SplitsClassifiesAndRefusesBadTexts) {
  const struct {
    const char* text;
    const char* expected;  // the call described, or "error"
  } cases[] = {
      {"MessageBox( 0, \"message\", \"title\", 64 )", "MessageBox: [0#] [message] [title] [64#]"},
      {"%t = GetTickCount()", "GetTickCount:"}, {"Sleep( 2*500 )", "Sleep: [1000#]"},
      {"f( NULL, 'a, b' , \"it's\" )", "f: [0#!] [a, b] [it's]"},
      {"f( (1+2)*3, MAX(1,2) , -4 )", "f: [9#] [MAX(1,2)] [-4#]"},
      {"GetCursorPos( %pos )", "GetCursorPos: [%pos %pos]"},
      {"f( %list[2]x, %a.b )", "f: [%list[2]x %list[2]x] [%a.b %a.b]"}, {"f( void ) ;", "f:"},
      {"f(1,,2)", "f: [1#] [#] [2#]"}, {"  lib::name-1 (\r\n\t7\r\n)", "name-1: [7#]"},
      {"NoParentheses", "NoParentheses:"}, {"f( 1, 2", "error"}, {"f( \"abc, 2 )", "error"}, {"f( 1 ) )", "error"},
      {"( 1 )", "error"}, {"", "error"},
  };
  for (const auto& c : cases) {
    ParsedCall call;
    std::string error;
    const bool ok = ParseCall(c.text, &call, &error);
    EXPECT_EQ(ok ? Describe(call) : "error", c.expected) << c.text;
    EXPECT_EQ(ok, error.empty()) << c.text;
  }
}

TEST(WindowsConstants, FirstOccurrenceLongerNamesFirstAndBarsFolded) {
  EXPECT_EQ(WindowsConstants().size(), 208u);
  const struct { const char* text; const char* expected; } cases[] = {
      {"MessageBox( 0, \"m\", \"t\", MB_OK | MB_ICONINFORMATION )", "MessageBox( 0, \"m\", \"t\",64)"},
      {"MB_OK and MB_OK", "0 and MB_OK"}, {"MB_OKCANCEL", "1"},
      {"WS_MINIMIZEBOX WS_OVERLAPPEDWINDOW", "131072 13565952"}, {"GWL_STYLE HWND_TOPMOST", "4294967280 4294967295"},
      {"WS_POPUP|WS_VISIBLE", "2415919104"}, {"IDYES", "6"},
      {"vbOKOnly", "vbOKOnly"},  // neither "_" nor "ID": left alone
      {"a_b | c", "a_b | c"},    // nothing replaced: no folding
      {"mb_ok MB_OK", "0 MB_OK"}, // the first occurrence is found without regard to case
      {"MB_OK | 44444444444444444444", "0 | 44444444444444444444"},  // beyond 64 bits: not folded
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    SubstituteConstants(text);
    EXPECT_EQ(text, c.expected) << c.text;
  }
}

// Calls into the test library and the system's libraries.
class LibraryCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallExpander();
    ClearStepError();
  }
  static std::string TestLibrary() {
    const std::filesystem::path self = platform::ModulePath();
#ifdef _WIN32
    return (self.parent_path() / "olvex_testlib.dll").string();
#else
    return (self.parent_path() / "olvex_testlib.so").string();
#endif
  }
  std::int32_t Call(const std::string& text, const std::string& library = TestLibrary(), bool save = true) {
    return CallLibraryFunction(library, text, false, save);
  }
  StoreSandbox sandbox_;
};

TEST_F(LibraryCallTest, ZeroToTenArgumentsArriveInTheirPlaces) {
  EXPECT_EQ(Call("olvex_sum0()"), 7);
  int expected = 0;
  std::string args;
  for (int n = 1; n <= 10; ++n) {
    expected += n * (n + 100);
    args += (n > 1 ? ", " : "") + std::to_string(n + 100);
    EXPECT_EQ(Call("olvex_sum" + std::to_string(n) + "(" + args + ")", TestLibrary(), false), expected) << n;
  }
  EXPECT_EQ(Call("olvex_sum1( -5 )"), -5);
  EXPECT_EQ(Call("olvex_sum1( 4294967295 )"), -1);
}

TEST_F(LibraryCallTest, TextsNullAndOutputBuffersReachVariables) {
  EXPECT_EQ(Call("olvex_lengths( \"abc\", 'a, b' )"), 3004);
  EXPECT_EQ(Call("olvex_lengths( NULL, \"\" )"), -1000);
  EXPECT_EQ(Call("olvex_lengths( \"" + std::string(10000, 'x') + "\", 'y' )"), 10000001);
  EXPECT_EQ(Call("olvex_lengths( \"" + std::string(kCallArgumentMax + 500, 'x') + "\", 'y' )"),
            static_cast<std::int32_t>(kCallArgumentMax) * 1000 + 1);
  EXPECT_EQ(Call("olvex_join( %joined, \"ab\", 'c, d' )"), 7);
  EXPECT_EQ(ReadUserVariable("joined"), "ab|c, d");
  EXPECT_EQ(ReadUserVariable("parameter2"), "ab");
  EXPECT_EQ(ReadUserVariable("parameter4"), "");
  EXPECT_EQ(Call("olvex_put_number( %n, 2*3+1 )"), 1);
  EXPECT_EQ(ReadUserVariable("n"), "7");  // not printable: the first word in decimal
}

TEST_F(LibraryCallTest, FaultsAndMissingFunctionsFailWithTheirReason) {
  EXPECT_EQ(Call("olvex_fault()"), kNotCallable);
  EXPECT_NE(StepError().find("\"olvex_fault\" faulted"), std::string::npos) << StepError();
  EXPECT_EQ(Call("olvex_sum2( 1, 2 )"), 5);  // the runtime goes on after a fault
  EXPECT_EQ(Call("olvex_sum0()", "no-such-library-x.dll"), kNotCallable);
  EXPECT_NE(StepError().find("the library \"no-such-library-x.dll\" could not be loaded"), std::string::npos);
  EXPECT_EQ(Call("olvex_sum2( 1, (2 "), kNotCallable);
  EXPECT_NE(StepError().find("Unbalanced parentheses"), std::string::npos);
}

TEST_F(LibraryCallTest, CallDllFunctionStepFindsTheLibraryBesideTheScriptAndSavesTheResult) {
  CloseAllDocuments();
  const std::string step = "<step><action>Call DLL Function</action><text>olvex_sum2( %a, 3 )</text>"
                           "<value1>olvex_testlib" +
                           TestLibrary().substr(TestLibrary().rfind('.')) +
                           "</value1><output value=\"sum\">Variable</output></step>\n"
                           "<step><action>Call DLL Function</action><text>olvex_fault()</text>"
                           "<value1>olvex_testlib.x</value1></step>\n";
  ASSERT_EQ(ParseSteps(step, 0, -1, 0).status, ParseStatus::Parsed);
  FixUpDocument(0);
  Document(0).file_name = TestLibrary().substr(0, TestLibrary().find_last_of("\\/") + 1) + "script.oxm";
  WriteUserVariable("a", "4");
  EXPECT_EQ(HandleCallDllStep(0, 0), 1);
  EXPECT_EQ(ReadUserVariable("sum"), "10");
  EXPECT_EQ(HandleCallDllStep(0, 1), 0);
  EXPECT_EQ(StepError(), "The function call \"olvex_fault\" could not be located (the library \"olvex_testlib.x\" could not be loaded)");
  CloseAllDocuments();
}

}  // namespace
}  // namespace olvex::test
