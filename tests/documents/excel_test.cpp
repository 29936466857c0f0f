// The Excel category against the recording automation fake: the words of
// every cell-format property both ways, the Set Cell value rule, the failure
// texts, and a run that leaves workbooks modified, open and hidden.
#include <gtest/gtest.h>

#include <algorithm>

#include "documents/excel_actions.h"
#include "documents/excel_automation.h"
#include "tests/support/fake_automation.h"
#include "tests/support/script_test.h"
#include "vars/expand.h"
#include "vars/variables.h"
#ifdef _WIN32
#include "engine/run_state.h"
#include "platform/environment.h"
#endif

namespace olvex::test {
namespace {

using platform::AutoValue;

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

TEST_F(ExcelTest, CellFormatWordsBothWays) {
  struct Row {
    const char* options;
    const char* written;   // the step's words
    const char* put;       // the value the application is given
    AutoValue answer;      // the application's value
    const char* read;      // the words it reads as
  };
  const Row rows[] = {
      {"Data Format", "0.00", "NumberFormat = \"0.00\"", std::string("General"), "@"},
      {"Data Format", "@", "NumberFormat = \"@\"", std::string("#,##0"), "#,##0"},
      {"Bold", "1", "Bold = true", true, "1"},
      {"Italic", "0", "Italic = false", false, "0"},
      {"Underline", "2", "Underline = 2", std::int32_t{-4142}, "-4142"},
      {"Font Name", "Courier New", "Name = \"Courier New\"", std::string("Arial"), "Arial"},
      {"Font Size", "12.5", "Size = 12.5r", 10.0, "10"},
      {"Font Color", "255", "Color = 255r", 255.0, "255"},
      {"Background", "0xFF00", "Color = 65280r", 16777215.0, "16777215"},
      {"Border Weight", "Medium", "Weight = -4138", std::int32_t{4}, "thick"},
      {"Border Line Style", "dash dot dot", "LineStyle = 5", std::int32_t{-4119}, "double"},
      {"Horizontal Align", "center across selection", "HorizontalAlignment = 7", std::int32_t{-4152}, "right"},
      {"Horizontal Align", "left", "HorizontalAlignment = -4131", std::int32_t{1}, "left"},
      {"Vertical Align", "justify", "VerticalAlignment = -4130", std::int32_t{-4160}, "top"},
      {"Width", "20", "ColumnWidth = 20r", 8.43, "8.43"},
      {"Row Height", "40", "RowHeight = 30r", 15.0, "15"},
      {"Height", "96", "RowHeight = 72r", 22.5, "22.5"},
  };
  ASSERT_EQ(Step("Open Workbook", "", ""), 1) << StepError();
  for (const Row& row : rows) {
    ASSERT_EQ(Step("Set Cell Format", "B3", row.written, row.options), 1) << row.options << ": " << StepError();
    EXPECT_NE(Last().find(row.put), std::string::npos) << row.options << ": " << Last();
    const std::size_t put = Last().find(" = "), dot = Last().rfind('.', put);
    const std::string member = Last().substr(dot + 1, put - dot - 1);
    fake_.values[member] = row.answer;
    ASSERT_EQ(Step("Get Cell Format", "B3", "", row.options), 1) << row.options << ": " << StepError();
    EXPECT_EQ(ReadUserVariable("xl").value_or("(none)"), row.read) << row.options;
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
  struct Row {
    const char* text;
    AutoValue value;
  };
  const Row rows[] = {
      {"42", std::int32_t{42}},          {"-1,234", std::int32_t{-1234}},  {" - 5", std::int32_t{-5}},
      {"123456789", std::int32_t{123456789}}, {"0012", std::int32_t{12}},
      {"1234567890", 1234567890.0},      {"12.5", 12.5},                   {"1,234.5", 1234.5},
      {"-0.25", -0.25},                  {"1e3", 1000.0},                  {" 7.0 ", 7.0},
      {"12-5", std::string("12-5")},     {"2024-01-05", std::string("2024-01-05")},
      {"--5", std::string("--5")},       {"-", std::string("-")},          {"abc", std::string("abc")},
      {"$5", std::string("$5")},         {"", std::string()},
      {"1234567890123456789012345678901.5", std::string("1234567890123456789012345678901.5")},
  };
  for (const Row& row : rows)
    EXPECT_EQ(FakeAutomation::Text(CellValueOf(row.text)), FakeAutomation::Text(row.value)) << "\"" << row.text << "\"";
}

TEST_F(ExcelTest, FailureTexts) {
  using platform::AutoCreate;
  struct Row {
    AutoCreate create;
    const char* failing;
    bool open_first;
    const char* action;
    const char* cell;
    const char* error;
  };
  const Row rows[] = {
      {AutoCreate::kNotRegistered, "", false, "Open Workbook", "", "Excel Error: Automation initialization error"},
      {AutoCreate::kServerFailed, "", false, "Open Workbook", "", "Excel Error: Server error"},
      {AutoCreate::kCreated, "Workbooks", false, "Open Workbook", "", "Excel Error: Workbooks collection error"},
      {AutoCreate::kCreated, "Add", false, "Open Workbook", "", "Excel Error: Workbook error"},
      {AutoCreate::kCreated, "Worksheets", true, "Set Cell", "Sheet2!B3", "Excel Error: Worksheets collection error"},
      {AutoCreate::kCreated, "Item", true, "Select Cell", "Nope!B3", "Excel Error: Worksheet \"Nope\" not found"},
      {AutoCreate::kCreated, "ActiveSheet", true, "Select Cell", "B3", "Excel Error: Sheet error"},
      {AutoCreate::kCreated, "", false, "Close Workbook", "", "Excel Error: Workbook not opened"},
      {AutoCreate::kCreated, "", false, "Save Workbook", "", "Excel Error: Workbook not opened"},
  };
  for (const Row& row : rows) {
    EndRunWorkbooks();  // a new application for each row
    fake_.create = row.create;
    fake_.failing.clear();
    if (row.open_first) {
      ASSERT_EQ(Step("Open Workbook", "", ""), 1) << StepError();
    }
    fake_.failing = {row.failing};
    EXPECT_EQ(Step(row.action, row.cell, "x"), 0) << row.action << " " << row.failing;
    EXPECT_EQ(StepError(), row.error) << row.action << " " << row.failing;
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
// The same steps through COM, across processes, against the stand-in server
// (registered here and unregistered at the end; its fault switches come from
// the environment it inherits).
class ExcelStandInTest : public ExcelSteps {
 protected:
  static bool Server(const char* word) { return RunChild({EXCEL_STANDIN_EXE, word}, std::chrono::minutes(3)).exit_code == 0; }
  static void EndServers() { RunChild({"C:\\windows\\system32\\taskkill.exe", "/F", "/IM", "excel_standin.exe"}); }
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
  ASSERT_TRUE(Server("/RegServer"));
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
#endif

}  // namespace
}  // namespace olvex::test
