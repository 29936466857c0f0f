// The call parser and the constant table (their rows in library_cases.txt),
// and long texts passed to the test library (a DLL in the Windows build, a shared object natively).
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/module.h"
#include "system/library_calls.h"
#include "system/win_constants.h"
#include "tests/support/case_table.h"
#include "tests/settings/store_sandbox.h"

namespace olvex::test {
namespace {

std::string Describe(const ParsedCall& call) {
  std::string out = call.name + ":";
  for (const CallArgument& a : call.arguments)
    out += " [" + a.text + (a.number ? "#" : "") + (a.null ? "!" : "") + (a.variable.empty() ? "" : " %" + a.variable) + "]";
  return out;
}

constexpr const char* kCases = "tests/system/library_cases.txt";

TEST(CallParser, SplitsClassifiesAndRefusesBadTexts) {
  for (const CaseRow& row : CaseSection(kCases, "calls", 2)) {
    ParsedCall call;
    std::string error;
    const bool ok = ParseCall(row.fields[0], &call, &error);
    EXPECT_EQ(ok ? Describe(call) : "error", row.fields[1]) << row.where;
    EXPECT_EQ(ok, error.empty()) << row.where;
  }
}

TEST(WindowsConstants, FirstOccurrenceLongerNamesFirstAndBarsFolded) {
  EXPECT_EQ(WindowsConstants().size(), 208u);
  for (const CaseRow& row : CaseSection(kCases, "constants", 2)) {
    std::string text = row.fields[0];
    SubstituteConstants(text);
    EXPECT_EQ(text, row.fields[1]) << row.where;
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
