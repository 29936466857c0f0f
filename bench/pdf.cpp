// The PDF writer beside plain writes of a file of the same size, in the same
// run: a 10,000-line text (every seventh line long enough to wrap) written
// as a PDF with line numbers, wrapping and page numbers. Goal: at most 2
// times the time of the plain writes (one fwrite per source line).
//
//   bench_pdf --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "documents/pdf_writer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kLines = 10000;

olvex::PdfSettings Settings() {
  olvex::PdfSettings s;
  s.path = (fs::temp_directory_path() / "olvex_bench.pdf").string();
  for (int i = 1; i <= kLines; ++i) {
    s.body += "Line " + std::to_string(i) + " of the report: quantity, price and a remark";
    if (i % 7 == 0) s.body += std::string(2, ' ') + std::string(60, 'x') + " and more words to carry onto the next line";
    s.body += "\r\n";
  }
  s.line_numbers = s.wrap = s.page_numbers = true;
  return s;
}

void PdfWriter(benchmark::State& state) {
  const olvex::PdfSettings s = Settings();
  std::string error;
  for (auto _ : state)
    if (!olvex::WritePdf(s, &error)) state.SkipWithError(error.c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(s.path)));
  fs::remove(s.path);
}

void PlainWrites(benchmark::State& state) {
  const olvex::PdfSettings s = Settings();
  const std::size_t size = olvex::PdfDocument(s).size(), piece = size / kLines;
  const std::string path = (fs::temp_directory_path() / "olvex_bench.txt").string();
  const std::string line(piece, 'p');
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) state.SkipWithError("cannot create the file");
    for (std::size_t written = 0; f && written < size; written += piece)
      std::fwrite(line.data(), 1, std::min(piece, size - written), f);
    if (f) std::fclose(f);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  fs::remove(path);
}

BENCHMARK(PdfWriter)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainWrites)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
