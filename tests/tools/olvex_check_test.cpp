// olvex-check: one small script per rule (and clean scripts that must give
// nothing), a script carried in an executable, a document that fails to load.
#include <gtest/gtest.h>

#include "tests/settings/store_sandbox.h"
#include "tests/startup/carried_script.h"
#include "tests/support/case_table.h"
#include "tests/support/test_support.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

std::string S(const std::string& action, const std::string& text = "", const std::string& extra = "") {
  return "<step><action>" + action + "</action><text>" + text + "</text>" + extra + "</step>\r\n";
}

// The findings of one file, each "STEP: kind: message" without the file name.
struct Checked { int exit_code; std::vector<std::string> lines; std::string summary; };

Checked Check(const std::string& path) {
  const ChildResult run = RunChild({BuiltProgram("olvex-check"), path});
  EXPECT_FALSE(run.timed_out);
  Checked checked{run.exit_code, {}, {}};
  std::size_t start = 0;
  while (start < run.out.size()) {
    std::size_t end = run.out.find('\n', start);
    if (end == std::string::npos) end = run.out.size();
    std::string line = run.out.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (line.rfind(path, 0) == 0) checked.lines.push_back(line.substr(path.size() + 1));
    else checked.summary = line;
  }
  return checked;
}

// The scripts and their findings are rows of olvex_check_cases.txt.
TEST(OlvexCheck, EachRuleFindsItsMistakeAndCleanScriptsGiveNothing) {
  StoreSandbox sandbox;
  ChildStore store;
  WriteUserVariable("stored", "1");
  sandbox.dir().Write("other.oxm", S("Comment"));
  sandbox.dir().Write("pic.bmp", "BM");
  for (const auto& [name, rows] : CaseTable("tests/tools/olvex_check_cases.txt")) {
    SCOPED_TRACE(name);
    std::string script;
    int exit_code = -1;
    std::vector<std::string> lines;
    for (const CaseRow& row : rows) {
      const std::vector<std::string>& f = row.fields;
      if (f[0] == "step") script += S(f[1], f.size() > 2 ? f[2] : "", f.size() > 3 ? f[3] : "");
      if (f[0] == "exit") exit_code = std::stoi(f[1]);
      if (f[0] == "finding") lines.push_back(f[1]);
    }
    const std::string path = sandbox.dir().Write("case.oxm", "<Olvex>\r\n" + script + "</Olvex>\r\n");
    const Checked checked = Check(path);
    EXPECT_EQ(checked.exit_code, exit_code) << checked.summary;
    EXPECT_EQ(checked.lines, lines);
  }
}

TEST(OlvexCheck, ChecksACarriedScriptAndReportsALoadError) {
  ScratchDir dir;
  const std::string carrier =
      dir.Write("tool.exe", WithCarriedScript("MZ" + std::string(64, '\0'), S("Comment") + S("GOTO Label", "away")));
  const Checked carried = Check(carrier);
  EXPECT_EQ(carried.exit_code, 1);
  EXPECT_EQ(carried.lines, std::vector<std::string>{"2: error: GOTO Label: label \"away\" does not exist"});
  EXPECT_EQ(carried.summary, "1 file checked: 1 error, 0 warnings");

  const std::string missing = dir.File("missing.oxm");
  const Checked not_loaded = Check(missing);
  EXPECT_EQ(not_loaded.exit_code, 2);
  EXPECT_EQ(not_loaded.lines, std::vector<std::string>{" error: Unable to open file '" + missing + "' File does not exist"});
  const std::string partial = dir.Write("partial.oxm", S("Comment") + S(""));
  EXPECT_EQ(Check(partial).exit_code, 2);
}

// docs/actions.md is written from the catalog and tools/action_reference.txt.
TEST(OlvexCheck, TheActionReferencePageIsUpToDate) {
  const ChildResult run = RunChild({BuiltProgram("olvex-check"), "--reference"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::string page = run.out, kept = ReadBytes(std::string(OLVEX_SOURCE_DIR) + "/docs/actions.md");
  std::erase(page, '\r');
  std::erase(kept, '\r');
  EXPECT_TRUE(page == kept) << "docs/actions.md is out of date: olvex-check --reference > docs/actions.md";
}

}  // namespace
}  // namespace olvex::test
