// The call parser, the constant table, and long texts passed to the test
// library (a DLL in the Windows build, a shared object natively).
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/module.h"
#include "system/library_calls.h"
#include "system/win_constants.h"
#include "tests/settings/store_sandbox.h"

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

// Texts longer than a script's expansion can make (4095 characters): whole, and cut at the
// argument's limit. (Every other call runs end to end in cases/system/library_calls_*.)
TEST(LibraryCalls, LongTextsArriveWholeOrCut) {
  StoreSandbox sandbox;  // a call saves its parameters as user variables
  const std::filesystem::path folder = std::filesystem::path(platform::ModulePath()).parent_path();
#ifdef _WIN32
  const std::string library = (folder / "olvex_testlib.dll").string();
#else
  const std::string library = (folder / "olvex_testlib.so").string();
#endif
  auto lengths = [&](std::size_t n) {
    return CallLibraryFunction(library, "olvex_lengths( \"" + std::string(n, 'x') + "\", 'y' )", false, true);
  };
  EXPECT_EQ(lengths(10000), 10000001);
  EXPECT_EQ(lengths(kCallArgumentMax + 500), static_cast<std::int32_t>(kCallArgumentMax) * 1000 + 1);
}

}  // namespace
}  // namespace olvex::test
