#include "engine/output.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <random>

#include "documents/excel_actions.h"
#include "documents/pdf_writer.h"
#include "documents/spreadsheet_writer.h"
#include "engine/catalog.h"
#include "engine/document.h"
#include "engine/journal.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "platform/clipboard.h"
#include "platform/debug_output.h"
#include "platform/dialogs.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "system/safe_files.h"
#include "vars/variables.h"

namespace olvex {
namespace {

std::string Head(std::string_view data, std::size_t n) { return std::string(data.substr(0, std::min(data.size(), n))); }

// The data of the Output and Message destinations: at most 487 characters,
// marked when it was longer than 485.
std::string ShownData(std::string_view data, std::string_view marker) {
  std::string shown = Head(data, 487);
  if (data.size() > 485) shown += marker;
  return shown;
}

// '%' and '"' of data placed into a log line that is already formatted.
std::string Marked(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '%') c = kPercentMarker;
  }
  return out;
}

void SaveToFile(const ExpandContext& context, const std::string& option, std::string_view data) {
  const std::string path = Expand(context, option);
  LogText("    Saving " + std::to_string(data.size()) + " byte(s) to file [" + Marked(path) + "]: \"" +
          Marked(Head(data, 518)) + "\"");
  if (data.empty()) {
    std::remove(path.c_str());
    return;
  }
  // Written beside and renamed over the old file: a failed write keeps it.
  std::string error;
  if (!WriteFileSafely(path, data, &error))
    LogText("    ERROR saving " + std::to_string(data.size()) + " byte(s) to file \"" + Marked(path) + "\"");
}

// A PDF document in Helvetica 14 point on a letter page.
void SaveToPdf(const ExpandContext& context, const std::string& option, std::string_view data) {
  PdfSettings pdf;
  pdf.path = Expand(context, option);
  pdf.body = data;
  pdf.font = "Helvetica";
  pdf.font_size = 14;
  pdf.left_margin = 1.0;
  pdf.top_margin = 0.75;
  pdf.page_width = 8.5;
  pdf.page_height = 11;
  std::string error;
  if (pdf.path.empty()) {
    LogText("    WARNING: No PDF file name provided");
  } else if (!WritePdf(pdf, &error)) {
    LogText("    ERROR saving " + std::to_string(data.size()) + " byte(s) to file \"" + Marked(pdf.path) + "\": " + Marked(error));
  }
}

// A workbook reference without a cell is a file the data is written to as a
// worksheet; a cell of a workbook is written through spreadsheet automation.
void SaveToWorkbook(const ExpandContext& context, const std::string& option, std::string_view data) {
  const WorkbookReference reference = SplitWorkbookReference(Expand(context, option));
  if (reference.path.empty()) {
    LogText("    WARNING: No workbook name provided");
    return;
  }
  std::string where = "[" + reference.path + "]";
  if (!reference.cell.empty()) where += " at " + (reference.sheet.empty() ? "" : reference.sheet + "!") + reference.cell;
  LogText("    Saving " + std::to_string(data.size()) + " byte(s) to workbook " + Marked(where));
  std::string error;
  const bool saved = reference.cell.empty()
                         ? WriteSpreadsheetFile(reference.path, SheetText{data, {}, {}, {}}, error) != SheetWrite::kFailed
                         : WriteWorkbookCell(reference.path, reference.sheet, reference.cell, data, error);
  if (!saved) LogText("    ERROR saving " + std::to_string(data.size()) + " byte(s) to workbook: " + Marked(error));
}

void SaveToOutputWindow(std::string_view data) {
  const std::string shown = ShownData(data, "  <<< DATA TRUNCATED >>>\r\n");
  std::size_t start = 0;
  while (start < shown.size()) {
    std::size_t end = shown.find('\n', start);
    if (end == std::string::npos) end = shown.size();
    std::string line = Head(std::string_view(shown).substr(start, end - start + (end < shown.size() ? 1 : 0)), 255);
    for (char& c : line) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    LogText(Marked(line));
    platform::WriteDebugOutput(line + "\r\n");
    start = end + 1;
  }
}

void SaveToMessageBox(int step_index, std::string_view data) {
  const std::string shown = ShownData(data, "  <<< DATA TRUNCATED >>>");
  const std::string title = "[Step " + std::to_string(step_index + 1) + "] Data Result  (Press Cancel to Stop)";
  const unsigned style = platform::box::kOkCancel | platform::box::kTopmost | platform::box::kTaskModal |
                         platform::box::kSetForeground;
  if (platform::dialogs().ShowMessage(shown, title, style) == platform::box::kAnswerCancel) RunShared().stop_flag.store(1);
}

}  // namespace

void SaveOutput(int slot, int step_index, std::string_view data) {
  ScriptDocument& doc = Document(slot);
  if (step_index < 0 || static_cast<std::size_t>(step_index) >= doc.steps.size()) return;
  const Step& step = doc.steps[static_cast<std::size_t>(step_index)];
  const std::string& output = step.output();
  const std::string& option = step.output_option();
  if (output.empty()) return;
  // A failed retry does not overwrite an earlier result.
  if ((data.empty() || data == "0") && step.run_attempts > 1) return;
  JournalStepOutput(output, data);
  const ExpandContext context{slot, step_index};
  if (SaveToVariableDestination(context, output, option, data, [](const std::string& line) { LogText(line); })) return;
  if (ContainsNoCase(output, "Env")) {
    std::string error;
    if (!platform::WriteEnv(option, std::string(data), &error))
      LogText("    WARNING: Could not set the environment variable \"" + Marked(option) + "\": " + Marked(error));
  } else if (ContainsNoCase(output, "clip")) {
    if (!data.empty())
      LogText("    Saving " + std::to_string(data.size()) + " byte(s) to clipboard: \"" + Marked(Head(data, 518)) + "\"");
    if (!platform::clipboard().SetText(std::string(data))) LogText("    WARNING: The clipboard could not be written");
  } else if (ContainsNoCase(output, "File") && !option.empty()) {
    SaveToFile(context, option, data);
  } else if (ContainsNoCase(output, "Excel")) {
    SaveToWorkbook(context, option, data);
  } else if (ContainsNoCase(output, "PDF") || ContainsNoCase(output, "Adobe")) {
    SaveToPdf(context, option, data);
  } else if (ContainsNoCase(output, "Output")) {
    SaveToOutputWindow(data);
  } else if (ContainsNoCase(output, "Message")) {
    SaveToMessageBox(step_index, data);
  } else {
    LogLine("    WARNING: Invalid \"Save Output\" destination for [Step %d]", step_index + 1);
  }
}

std::size_t ExtractResource(const std::string& module_path, int resource_id, const std::string& dest_path,
                            std::string* content, std::size_t max_content, std::string* error_text) {
  auto fail = [&](std::string why) -> std::size_t {
    if (error_text) *error_text = Head(why, 255);
    return 0;
  };
  std::optional<std::string> bytes =
      module_path.empty() ? platform::ReadModuleResource(resource_id) : platform::ReadFileResource(module_path, resource_id);
  if (!bytes) {
    return fail("The resource " + std::to_string(resource_id) + " was not found in " +
                (module_path.empty() ? std::string("this program") : "\"" + module_path + "\""));
  }
  if (content) *content = Head(*bytes, max_content);
  if (!dest_path.empty()) {
    std::FILE* f = std::fopen(dest_path.c_str(), "wb");
    if (!f) return fail("Cannot create the file \"" + dest_path + "\"");
    bool ok = std::fwrite(bytes->data(), 1, bytes->size(), f) == bytes->size();
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) return fail("Cannot write the file \"" + dest_path + "\"");
  }
  if (error_text) error_text->clear();
  return bytes->size();
}

bool ExtractEmbedded(int slot, int step_index, std::string& path_inout, int mode, int n) {
  ScriptDocument& doc = Document(slot);
  if (step_index < 0 || static_cast<std::size_t>(step_index) >= doc.steps.size() || n < 0 || n > 7) return false;
  if (mode == 2) return std::remove(path_inout.c_str()) == 0;
  if (mode != 1) return false;
  const int id = doc.steps[static_cast<std::size_t>(step_index)].embedded_id(n + 1);
  if (id == 0) return false;
  const std::optional<std::string> temp = platform::TempFolder();
  if (!temp) return false;
  static std::mt19937 random{std::random_device{}()};
  char unique[16];
  std::snprintf(unique, sizeof unique, "_QX%04X", static_cast<unsigned>(random() & 0xFFFF));
  const std::string source = path_inout;
  const std::size_t cut = source.find_last_of("\\/");
  const std::string name = cut == std::string::npos ? source : source.substr(cut + 1);
  path_inout = *temp + unique + "_" + name;
  std::string error;
  const bool ok = ExtractResource("", id, path_inout, nullptr, 0, &error) > 0;
  if (LogLevel() >= 2) {
    LogText(std::string("    ") + (ok ? "Extracted" : "FAILURE extracting") + " embedded package file from '" +
            Marked(source) + "' [" + std::to_string(id) + "] --> '" + Marked(path_inout) + "'");
  }
  return ok;
}

}  // namespace olvex
