// The Excel category against the recording automation fake: the words of
// every cell-format property both ways, the Set Cell value rule, the failure
// texts (their rows in excel_cases.txt), and a run that leaves workbooks
// modified, open and hidden. Under Wine the same steps through the stand-in
// server, and the server's lifetime across processes.
#include <gtest/gtest.h>

#include <algorithm>

#include "documents/excel_actions.h"
#include "documents/excel_automation.h"
#include "tests/support/case_table.h"
#include "tests/support/fake_automation.h"
#include "tests/support/script_test.h"
#include "vars/expand.h"
#include "vars/variables.h"
#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>

#include "engine/run_state.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "tests/settings/store_sandbox.h"
#endif

namespace olvex::test {
namespace {

using platform::AutoValue;

constexpr const char* kCases = "tests/documents/excel_cases.txt";

class ExcelSteps : public HandlerTest {
 protected:
  void TearDown() override {
    EndRunWorkbooks();
    HandlerTest::TearDown();
  }
  // One Excel step on the workbook `book`; its output goes to the variable "xl".
  int Step(const std::string& action, const std::string& cell, const std::string& text, const std::string& options = "") {
    DeleteUserVariable("xl");
    ClearStepError();
    Load("<step><action>" + action + "</action><value1>" + book_ + "</value1><value2>" + cell + "</value2><text>" + text +
         "</text>" + OptionsField(options) + VariableOutput("xl") + "</step>\n");
    return HandleExcelStep(0, 0);
  }
  std::string book_ = sandbox_.dir().File("book.xls");
};

class ExcelTest : public ExcelSteps {
 protected:
  std::string Last() const { return fake_.calls.empty() ? "" : fake_.calls.back(); }
  FakeAutomation fake_;
};

// A step's output (into the variable "xl").
#define EXPECT_OUTPUT(action, cell, options, expected)                                        \
  do {                                                                                      \
    EXPECT_EQ(Step(action, cell, "", options), 1) << action << " " << options << ": " << StepError(); \
    EXPECT_EQ(ReadUserVariable("xl").value_or("(none)"), expected) << action << " " << options; \
  } while (0)

// A value as the fake shows it: "text", true or false, an integer, a real with an r.
AutoValue ValueShown(const std::string& shown) {
  if (shown.starts_with('"')) return shown.substr(1, shown.size() - 2);
  if (shown == "true" || shown == "false") return shown == "true";
  if (shown.ends_with('r')) return std::strtod(shown.c_str(), nullptr);
  return static_cast<std::int32_t>(std::stol(shown));
}

TEST_F(ExcelTest, CellFormatWordsBothWays) {
  ASSERT_EQ(Step("Open Workbook", "", ""), 1) << StepError();
  for (const CaseRow& row : CaseSection(kCases, "formats", 5)) {
    const std::vector<std::string>& f = row.fields;  // option, written, put, answer, read
    ASSERT_EQ(Step("Set Cell Format", "B3", f[1], f[0]), 1) << row.where << StepError();
    EXPECT_NE(Last().find(f[2]), std::string::npos) << row.where << Last();
    const std::size_t put = Last().find(" = "), dot = Last().rfind('.', put);
    const std::string member = Last().substr(dot + 1, put - dot - 1);
    fake_.values[member] = ValueShown(f[3]);
    ASSERT_EQ(Step("Get Cell Format", "B3", "", f[0]), 1) << row.where << StepError();
    EXPECT_EQ(ReadUserVariable("xl").value_or("(none)"), f[4]) << row.where;
  }
  // The counts are read from the used range of the sheet, from A1 when no cell is named.
  fake_.values["Count"] = std::int32_t{5};
  ASSERT_EQ(Step("Get Cell Format", "", "", "Total Columns"), 1) << StepError();
  EXPECT_EQ(ReadUserVariable("xl").value_or(""), "5");
  EXPECT_NE(fake_.CallsWith("Range(\"A1\").Select()").size(), 0u);
  EXPECT_NE(Last().find("ActiveSheet.UsedRange.Columns.Count"), std::string::npos) << Last();
  EXPECT_EQ(Step("Set Cell Format", "B3", "7", "Total Rows"), 0);
  EXPECT_EQ(StepError(), "The cell format \"Total Rows\" can only be read");
  EXPECT_EQ(Step("Set Cell Format", "B3", "wavy", "Border Line Style"), 0);
  EXPECT_EQ(StepError(), "Invalid value \"wavy\" for the cell format \"Border Line Style\"");
}

TEST(ExcelValueRule, SetCellWritesIntegersRealsAndTexts) {
  for (const CaseRow& row : CaseSection(kCases, "values", 2))
    EXPECT_EQ(FakeAutomation::Text(CellValueOf(row.fields[0])), row.fields[1]) << row.where;
}

TEST_F(ExcelTest, FailureTexts) {
  using platform::AutoCreate;
  for (const CaseRow& row : CaseSection(kCases, "failures", 6)) {
    const std::vector<std::string>& f = row.fields;  // creation, failing member, opened first, action, cell, error
    EndRunWorkbooks();  // a new application for each row
    fake_.create = f[0] == "not registered" ? AutoCreate::kNotRegistered
                   : f[0] == "server failed" ? AutoCreate::kServerFailed
                                             : AutoCreate::kCreated;
    fake_.failing.clear();
    if (f[2] == "1") {
      ASSERT_EQ(Step("Open Workbook", "", ""), 1) << row.where << StepError();
    }
    fake_.failing = {f[1]};
    EXPECT_EQ(Step(f[3], f[4], "x"), 0) << row.where;
    EXPECT_EQ(StepError(), f[5]) << row.where;
  }
  book_.clear();
  EXPECT_EQ(Step("Get Cell", "B3", ""), 0);
  EXPECT_EQ(StepError(), "No workbook name provided");
}

TEST_F(ExcelTest, RunWarnsAboutWorkbooksLeftAndClosesHiddenOnes) {
  const std::string second = sandbox_.dir().File("second.xls");
  sandbox_.dir().Write("second.xls", "x");  // exists: opened, not added
  Load("<step><action>Open Workbook</action><value1>" + book_ + "</value1>" + OptionsField("Hidden") + "</step>\n" +
       "<step><action>Set Cell</action><value1>" + book_ + "</value1><value2>Sheet2!C4</value2><text>7</text></step>\n" +
       "<step><action>Open Workbook</action><value1>" + second + "</value1></step>\n" +
       "<step><action>Get Cell</action><value1>" + second + "</value1><value2>A1</value2>" + VariableOutput("xl") +
       "</step>\n" + "<step><action>Set Variable</action><text>9</text><output value=\"" + second +
       "!B2\">Excel</output></step>\n");
  RunLoadedScript();
  const std::string log = ReadBytes(log_path_);
  const std::string expected =
      "WARNING!  Excel Workbook #1 was modified, but not saved (use \"Save Workbook\" action)\r\n"
      "WARNING!  Excel Workbook #1 was not closed (use \"Close Workbook\" action)\r\n"
      "WARNING!  Excel Workbook #1 was opened hidden, and is being closed automatically\r\n"
      "WARNING!  Excel Workbook #2 was modified, but not saved (use \"Save Workbook\" action)\r\n"
      "WARNING!  Excel Workbook #2 was not closed (use \"Close Workbook\" action)\r\n";
  EXPECT_NE(log.find(expected), std::string::npos) << log;
  EXPECT_NE(log.find("    Get Cell [A1]\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("    Saving 1 byte(s) to workbook [" + second + "] at B2\r\n"), std::string::npos) << log;
  EXPECT_EQ(ReadUserVariable("xl").value_or(""), "7");  // the fake keeps one value for all cells
  // Hidden: Visible is never set for the first workbook; the second one is opened, not added.
  EXPECT_EQ(fake_.CallsWith("Visible").size(), 1u);
  EXPECT_EQ(std::count(fake_.calls.begin(), fake_.calls.end(), "Excel.Workbooks.Add()"), 1);
  EXPECT_EQ(fake_.CallsWith("Workbooks.Open(\"" + second + "\").Activate()").size(), 3u);  // open, Get Cell, output
  // Sheet2 is activated before its cell is selected and written.
  const std::vector<std::string> sheet2 = fake_.CallsWith("Sheet2");
  ASSERT_EQ(sheet2.size(), 2u);
  EXPECT_NE(sheet2[1].find(".Item(\"Sheet2\").Activate()"), std::string::npos) << sheet2[1];
  EXPECT_EQ(fake_.CallsWith("Range(\"C4\").Value = 7").size(), 1u);
  // Only the hidden workbook is closed, unsaved.
  const std::vector<std::string> closes = fake_.CallsWith(".Close(");
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0], "Excel.Workbooks.Add().Close(false)");
  EXPECT_FALSE(WorkbookFlags(0).open);
}

#ifdef _WIN32
// The stand-in servers that run.
std::size_t Servers() {
  std::size_t found = 0;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    found += lstrcmpiA(entry.szExeFile, "excel_standin.exe") == 0;
  CloseHandle(snapshot);
  return found;
}

// Whether every stand-in server ends within 20 s.
bool ServersEnd() {
  for (int tries = 0; tries < 200 && Servers() > 0; ++tries) Sleep(100);
  return Servers() == 0;
}

// The same steps through COM, across processes, against the stand-in server
// (registered here and unregistered at the end; its fault switches come from
// the environment it inherits).
class ExcelStandInTest : public ExcelSteps {
 protected:
  static bool Server(const char* word) { return RunChild({EXCEL_STANDIN_EXE, word}, std::chrono::minutes(3)).exit_code == 0; }
  static void EndServers() { RunChild({"C:\\windows\\system32\\taskkill.exe", "/F", "/IM", "excel_standin.exe"}); }
  // Registers the stand-in and starts it once on a scratch workbook, a second
  // time if the first start fails: under Wine the first start of a local server
  // in a fresh prefix can outlast the activation's wait on a loaded machine.
  // The started server ends with its client.
  void Register() {
    ASSERT_TRUE(Server("/RegServer"));
    EndServers();  // the registration's own
    const std::string book = book_;
    book_ = sandbox_.dir().File("first_start.xls");
    for (int tries = 0; tries < 2 && Step("Open Workbook", "", "", "Hidden") != 1; ++tries) EndServers();
    EndRunWorkbooks();
    book_ = book;
    ASSERT_TRUE(ServersEnd());
  }
  void TearDown() override {
    ExcelSteps::TearDown();
    platform::WriteEnv("OLVEX_STANDIN_HANG", "");
    platform::WriteEnv("OLVEX_STANDIN_FAIL_START", "");
    SetAutomationCallBound(60000);
    RunShared().stop_flag.store(0);
    EndServers();
    Server("/UnregServer");
  }
};

TEST_F(ExcelStandInTest, EveryActionThroughComAndTheFailures) {
  Server("/UnregServer");
  EXPECT_EQ(Step("Open Workbook", "", ""), 0);
  EXPECT_EQ(StepError(), "Excel Error: Automation initialization error");
  Register();
  // Not there: added, and saved under that path.
  ASSERT_EQ(Step("Open Workbook", "", "", "Hidden"), 1) << StepError() << ReadBytes(log_path_);
  ASSERT_EQ(Step("Set Cell", "B3", "42"), 1) << StepError();
  ASSERT_EQ(Step("Set Cell", "A1", "Name"), 1) << StepError();
  ASSERT_EQ(Step("Set Cell", "Sheet2!C4", "12.5"), 1) << StepError();
  EXPECT_OUTPUT("Get Cell", "Sheet2!C4", "", "12.5");
  EXPECT_OUTPUT("Get Cell", "Sheet1!B3", "", "42");
  ASSERT_EQ(Step("Select Cell", "Sheet1!A1", ""), 1) << StepError();  // Sheet2 was the active one
  const char* rows[][2] = {{"Bold", "1"},           {"Italic", "1"},           {"Underline", "2"},
                           {"Font Name", "Courier"}, {"Font Size", "12"},        {"Font Color", "255"},
                           {"Background", "65280"},  {"Border Weight", "thick"}, {"Border Line Style", "dash dot"},
                           {"Horizontal Align", "center across selection"},     {"Vertical Align", "top"},
                           {"Width", "20"},          {"Data Format", "0.00"}};
  for (const auto& row : rows) {
    ASSERT_EQ(Step("Set Cell Format", "B3", row[1], row[0]), 1) << row[0] << ": " << StepError();
    EXPECT_OUTPUT("Get Cell Format", "B3", row[0], row[1]);
  }
  EXPECT_OUTPUT("Get Cell Format", "A1", "Data Format", "@");  // "General"
  ASSERT_EQ(Step("Set Cell Format", "B3", "40", "Row Height"), 1) << StepError();
  EXPECT_OUTPUT("Get Cell Format", "B3", "Row Height", "30");
  EXPECT_OUTPUT("Get Cell Format", "", "Total Rows", "3");
  EXPECT_OUTPUT("Get Cell Format", "", "Total Columns", "2");
  ASSERT_EQ(Step("Save Workbook", "", ""), 1) << StepError();
  EXPECT_FALSE(WorkbookFlags(0).modified);
  ASSERT_EQ(Step("Close Workbook", "", ""), 1) << StepError();
  // Not open: read from the file the workbook was saved to.
  EXPECT_OUTPUT("Get Cell", "B3", "", "42");
  EXPECT_NE(ReadBytes(log_path_).find("    Attempting to read raw native XLS data for Sheet1!B3...\r\n"), std::string::npos);
  // Opened again from the file; with the server gone Get Cell falls back to the file.
  ASSERT_EQ(Step("Open Workbook", "", ""), 1) << StepError();
  EXPECT_OUTPUT("Get Cell", "A1", "", "Name");
  EndServers();
  EXPECT_OUTPUT("Get Cell", "A1", "", "Name");
  EXPECT_NE(ReadBytes(log_path_).find("    Failure using Excel Automation: \"Excel Error: "), std::string::npos);
  EndRunWorkbooks();
  // A server that cannot start.
  platform::WriteEnv("OLVEX_STANDIN_FAIL_START", "1");
  EXPECT_EQ(Step("Open Workbook", "", ""), 0);
  EXPECT_EQ(StepError(), "Excel Error: Server error");
  platform::WriteEnv("OLVEX_STANDIN_FAIL_START", "");
  // A server that hangs: the call ends at its bound, or at once on a stop request.
  platform::WriteEnv("OLVEX_STANDIN_HANG", "Value");
  SetAutomationCallBound(2000);
  ASSERT_EQ(Step("Open Workbook", "", ""), 1) << StepError();
  EXPECT_EQ(Step("Set Cell", "A1", "1"), 0);
  EXPECT_EQ(StepError(), "Excel Error: The automation server did not answer within 2000 ms");
  SetAutomationCallBound(600000);
  RunShared().stop_flag.store(1);
  EXPECT_EQ(Step("Set Cell", "A1", "1"), 0);
  EXPECT_EQ(StepError(), "Excel Error: The call was ended by a stop request");
}

// A server ends when its client releases the application, and when its client
// dies holding it (the runtime, which ends itself with Kill Process, or else is
// ended at the child's bound in its Delay step).
TEST_F(ExcelStandInTest, AServerEndsWithItsClient) {
  Register();
  ASSERT_EQ(Step("Open Workbook", "", ""), 1) << StepError();
  EXPECT_EQ(Servers(), 1u);
  EndRunWorkbooks();
  EXPECT_TRUE(ServersEnd());
  ChildStore store;
  const std::string opened = sandbox_.dir().File("opened.txt");
  const std::string script = sandbox_.dir().Write(
      "hold.oxm", "<step><action>Open Workbook</action><value1>" + book_ + "</value1></step>\n" +
                      "<step><action>Write/Create File</action><value1>" + opened + "</value1><text>x</text></step>\n" +
                      "<step><action>Kill Process</action><text>olvex.exe</text></step>\n"
                      "<step><action>Delay</action><timeout>120</timeout></step>\n");
  RunChild({RuntimePath(), "-r", script}, std::chrono::seconds(30));
  EXPECT_TRUE(platform::PathExists(opened));
  EXPECT_TRUE(ServersEnd());
}
#endif

}  // namespace
}  // namespace olvex::test
