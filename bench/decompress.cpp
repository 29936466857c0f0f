// Decoding a 1 MB block of script text, beside zlib's inflate of the same text.
// Counters: ratio (input / block) for the block and for zlib (level 9).
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "engine/compress.h"
#include "tools/lz_encoder.h"
#ifdef OLVEX_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

// About `size` bytes of script steps: the catalog's common actions with
// varied texts, numbers, windows, options and failure settings.
std::string ScriptText(std::size_t size) {
  static const char* const kActions[] = {"Type", "Mouse Click", "Use Window", "Set Variable", "Delay",
                                         "Wait for Window", "IF Variable", "END IF", "Comment", "Read File",
                                         "Write/Create File", "Start 'For' Loop", "NEXT LOOP", "GOTO Label",
                                         "Label", "Display Message", "Get Text", "Replace", "Find File", "Start"};
  static const char* const kWords[] = {"invoice", "customer", "total", "report", "Notepad", "Save As", "OK",
                                       "Cancel", "C:\\Data\\in.csv", "%count", "%name", "{ENTER}", "{TAB}",
                                       "=%i+1", "Untitled - Notepad", "{NOW}", "line", "Olvex", "%file", "done"};
  static const char* const kFail[] = {"Stop", "Continue", "Retry", "GOTO Label"};
  std::mt19937 rng(42);
  auto pick = [&](const auto& list) { return list[rng() % (sizeof list / sizeof list[0])]; };
  std::string s = "<Olvex version=\"1\">\r\n";
  int step = 0;
  while (s.size() < size) {
    s += "<step><action>";
    s += pick(kActions);
    s += "</action><text>";
    for (unsigned w = 1 + rng() % 6; w > 0; --w) {
      s += pick(kWords);
      s += rng() % 3 ? " " : std::to_string(rng() % 1000) + " ";
    }
    s += "</text>";
    if (rng() % 3 == 0) s += "<options>" + std::string(rng() % 2 ? "Left,Down+Up" : "Exact,Case") + "</options>";
    if (rng() % 4 == 0) s += "<timeout>" + std::to_string(rng() % 60) + "</timeout>";
    if (rng() % 3 == 0) s += "<output value=\"v" + std::to_string(rng() % 20) + "\">Variable</output>";
    if (rng() % 2 == 0) s += "<onfail value=\"\">" + std::string(pick(kFail)) + "</onfail>";
    s += "<indents>" + std::to_string(step++ % 4) + "</indents></step>\r\n";
  }
  s.resize(size);
  return s;
}

const std::string& Text() {
  static const std::string text = ScriptText(1 << 20);
  return text;
}

const std::string& Block() {
  static const std::string block = *olvex::lz::Compress(Text());
  return block;
}

void BM_Decompress(benchmark::State& state) {
  const std::string& block = Block();
  for (auto _ : state) {
    std::string out = olvex::Decompress(block);
    benchmark::DoNotOptimize(out.data());
    if (out.size() != Text().size()) state.SkipWithError("wrong size");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(Text().size()));
  state.counters["ratio"] = static_cast<double>(Text().size()) / static_cast<double>(block.size());
}
BENCHMARK(BM_Decompress)->Unit(benchmark::kMillisecond);

void BM_Compress(benchmark::State& state) {
  olvex::lz::EncodeOptions options;
  options.window_kib = 64;
  for (auto _ : state) {
    auto block = olvex::lz::Compress(Text(), options);
    benchmark::DoNotOptimize(block->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(Text().size()));
}
BENCHMARK(BM_Compress)->Unit(benchmark::kMillisecond);

#ifdef OLVEX_HAVE_ZLIB
void BM_ZlibInflate(benchmark::State& state) {
  const std::string& text = Text();
  std::string deflated(compressBound(static_cast<uLong>(text.size())), '\0');
  uLongf deflated_size = static_cast<uLongf>(deflated.size());
  compress2(reinterpret_cast<Bytef*>(deflated.data()), &deflated_size, reinterpret_cast<const Bytef*>(text.data()),
            static_cast<uLong>(text.size()), 9);
  deflated.resize(deflated_size);
  for (auto _ : state) {
    // Sized and zeroed like the decoder's own result string.
    std::string out(text.size(), '\0');
    uLongf out_size = static_cast<uLongf>(out.size());
    int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &out_size, reinterpret_cast<const Bytef*>(deflated.data()),
                        static_cast<uLong>(deflated.size()));
    benchmark::DoNotOptimize(out.data());
    if (rc != Z_OK || out_size != text.size()) state.SkipWithError("inflate failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
  state.counters["ratio"] = static_cast<double>(text.size()) / static_cast<double>(deflated.size());
}
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
