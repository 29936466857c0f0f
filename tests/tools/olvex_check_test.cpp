// olvex-check: one small script per rule (and clean scripts that must give
// nothing), a script carried in an executable, a document that fails to load.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/module.h"
#include "tests/settings/store_sandbox.h"
#include "tests/startup/carried_script.h"
#include "tests/support/test_support.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

namespace fs = std::filesystem;

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

TEST(OlvexCheck, EachRuleFindsItsMistakeAndCleanScriptsGiveNothing) {
  StoreSandbox sandbox;
  ChildStore store;
  WriteUserVariable("stored", "1");
  sandbox.dir().Write("other.oxm", S("Comment"));
  sandbox.dir().Write("pic.bmp", "BM");
  const std::string loop = S("Start 'For' Loop", "2");
  const struct { const char* name; std::string script; int exit_code; std::vector<std::string> lines; } cases[] = {
      {"clean", S("Label", "top") + S("IF Variable", "%stored", "<options>Quick</options><timeout>=1+1</timeout>") +
                    S("IF Variable", "%given", "<options>Exist,Quick</options>") + S("Set Variable", "%given") +
                    S("IF Variable", "x") + S("Comment") + S("ELSE") + S("Exit Run") + S("END IF") + loop + S("Break out of Loop") +
                    S("NEXT LOOP") + S("GOSUB Label", "{STEP1}") + S("Call Script", "other.oxm") +
                    S("Click on Image", "pic.bmp;0,0,FF0000") +
                    S("Set Variable", "=%n+1", "<output value=\"n\">Variable</output>"),
       0, {}},
      {"unknown action", S("Comment") + S("Frobnicate Window"), 1, {"2: error: unknown action \"Frobnicate Window\""}},
      {"labels", S("GOTO Label", "nowhere") + S("Label", "off", "<status>1</status>") + S("GOSUB Label", "off") +
                     S("Maximize", "", "<onfail value=\"gone\">JUMP</onfail>") + S("GOTO Label", "{STEP2}") +
                     S("Label", "nowhere"),
       1,
       {"3: error: GOSUB Label: label \"off\" names a disabled step (2)",
        "4: error: failure mode JUMP: label \"gone\" does not exist",
        "5: error: GOTO Label: label \"{STEP2}\" names a disabled step (2)"}},
      {"IF blocks", S("IF Variable", "a") + S("IF Variable", "b") + S("END IF") + S("ELSE") + S("END IF") + S("END IF"), 1,
       {"6: error: END IF without IF"}},
      {"IF without END IF", S("IF Variable", "a") + S("Comment"), 1, {"1: error: IF without END IF"}},
      {"loops", loop + S("Comment") + S("NEXT LOOP") + S("NEXT LOOP") + S("Break out of Loop") + loop, 1,
       {"4: error: NEXT LOOP without a loop start", "5: error: Break outside any loop",
        "6: error: loop start without NEXT LOOP"}},
      {"files", S("Call Script", "missing.oxm") + S("Wait for Image", "a.bmp;pic.bmp") + S("Call Script", "%x.oxm") +
                    S("Write/Create File", "", "<value1>{dir}/made.oxm</value1>") + S("Call Script", "made.oxm"),
       1,
       {"1: error: the script \"missing.oxm\" does not exist", "2: error: the image file \"a.bmp\" does not exist",
        "3: warning: %x is read but no step writes it and the store does not hold it"}},
      {"warnings", S("Set Variable", "%nobody and %stored and %nobody") + S("Label", "a") + S("Label", "A") +
                       S("IF Variable", "x", "<options>Quick</options><timeout>5s</timeout>") + S("Exit Run") +
                       S("Comment") + S("Comment") + S("Label", "z") + S("Comment"),
       0,
       {"1: warning: %nobody is read but no step writes it and the store does not hold it",
        "3: warning: label \"A\" is defined again (step 2 wins)",
        "4: warning: the Quick IF's time-out \"5s\" is not a number or formula",
        "6: warning: steps 6 to 7 cannot be reached after \"Exit Run\" at step 5"}},
      {"option words", S("Use Window", "x", "<options>Partial Titel,Activate,%how</options>") +
                           S("Mouse Click", "", "<options>Left,Down+Up</options>") +
                           S("Start Process Loop", "", "<options>EXE,ID</options>") + S("NEXT LOOP") +
                           S("IF Text", "a", "<options>Contains,Case Insensitive,Quick</options>") +
                           S("Sort", "", "<options>Characters,Z-A,Qwerty</options>"),
       0,
       {"1: warning: \"Use Window\" does not know the option word \"Partial Titel\" (\"Partial Title\"?)",
        "6: warning: \"Sort\" does not know the option word \"Qwerty\""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = sandbox.dir().Write("case.oxm", "<Olvex>\r\n" + c.script + "</Olvex>\r\n");
    const Checked checked = Check(path);
    EXPECT_EQ(checked.exit_code, c.exit_code) << checked.summary;
    EXPECT_EQ(checked.lines, c.lines);
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
