// The spreadsheet file writer on 500,000 cells (50,000 rows by 10 columns of
// whole and decimal numbers, currency, dates and text), converted from text
// and written to a file, beside libxlsxwriter writing the same cells (given
// as typed values) in its constant-memory mode, in the same run. Goal: faster
// than libxlsxwriter.
//
//   bench_spreadsheet --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <xlsxwriter.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "documents/spreadsheet_writer.h"

namespace {

constexpr int kRows = 50000, kColumns = 10;

// Column kinds: text, whole number, decimal, currency, date.
constexpr int kKind[kColumns] = {0, 1, 2, 3, 4, 0, 1, 2, 4, 0};

int Day(int row) { return row % 28 + 1; }
int Month(int row) { return row % 12 + 1; }
int Year(int row) { return 2000 + row % 25; }

std::string Text(int row, int column) {
  char cell[64];
  switch (kKind[column]) {
    case 0: std::snprintf(cell, sizeof cell, "Item %d-%d", row, column); break;
    case 1: std::snprintf(cell, sizeof cell, "%d", row * 7 + column); break;
    case 2: std::snprintf(cell, sizeof cell, "%d.%02d", row, column * 7); break;
    case 3: std::snprintf(cell, sizeof cell, "$%d,%03d.50", row / 1000 + 1, row % 1000); break;
    default: std::snprintf(cell, sizeof cell, "%d/%d/%d", Month(row), Day(row), Year(row)); break;
  }
  return cell;
}

const std::string& Data() {
  static const std::string data = [] {
    std::string d;
    for (int r = 0; r < kRows; ++r)
      for (int c = 0; c < kColumns; ++c) d += Text(r, c) + (c + 1 < kColumns ? "\t" : "\r\n");
    return d;
  }();
  return data;
}

std::string OutPath(const char* name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

void BM_OlvexWriterFromText(benchmark::State& state) {
  const std::string& data = Data();
  const std::string path = OutPath("olvex_bench_sheet.xls");
  for (auto _ : state) {
    std::string error;
    if (olvex::WriteSpreadsheetFile(path, olvex::SheetText{data, {}, {}, {}}, error) != olvex::SheetWrite::kConverted)
      state.SkipWithError(error.c_str());
  }
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(path));
  state.SetItemsProcessed(state.iterations() * kRows * kColumns);
  std::filesystem::remove(path);
}
BENCHMARK(BM_OlvexWriterFromText)->Unit(benchmark::kMillisecond);

void BM_LibXlsxWriterConstantMemory(benchmark::State& state) {
  const std::string path = OutPath("olvex_bench_sheet.xlsx");
  for (auto _ : state) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
    lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
    lxw_format* currency = workbook_add_format(book);
    format_set_num_format_index(currency, 8);
    lxw_format* decimal = workbook_add_format(book);
    format_set_num_format_index(decimal, 2);
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "d-mmm-yy");
    for (int r = 0; r < kRows; ++r) {
      for (int c = 0; c < kColumns; ++c) {
        switch (kKind[c]) {
          case 0: worksheet_write_string(sheet, r, c, Text(r, c).c_str(), nullptr); break;
          case 1: worksheet_write_number(sheet, r, c, r * 7 + c, nullptr); break;
          case 2: worksheet_write_number(sheet, r, c, r + c * 7 / 100.0, decimal); break;
          case 3: worksheet_write_number(sheet, r, c, (r / 1000 + 1) * 1000 + r % 1000 + 0.5, currency); break;
          default: {
            lxw_datetime when{Year(r), Month(r), Day(r), 0, 0, 0};
            worksheet_write_datetime(sheet, r, c, &when, date);
          }
        }
      }
    }
    if (workbook_close(book) != LXW_NO_ERROR) state.SkipWithError("workbook_close failed");
  }
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(path));
  state.SetItemsProcessed(state.iterations() * kRows * kColumns);
  std::filesystem::remove(path);
}
BENCHMARK(BM_LibXlsxWriterConstantMemory)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
