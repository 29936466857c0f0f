// Loading a 100,000-step script (about 300 bytes a step): LoadDocument beside
// pugixml parsing the same file. Each benchmark reports the peak heap it used
// while loading, as bytes and as a multiple of the file's size.
//
// Goal: LoadDocument takes at most twice pugixml's time, and its peak heap is
// at most three times the file's size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include <pugixml.hpp>
#include <malloc.h>  // malloc_usable_size, mallopt, malloc_trim (glibc)

#include "engine/document.h"

namespace {

// ---------------------------------------------------------------------------
// Heap accounting: while counting is on, every allocation adds its usable size
// to the live total. The timed iterations run with counting off; one load
// before them measures the peak.

bool g_counting = false;
long long g_live = 0;
long long g_peak = 0;

void* CountedAlloc(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (p && g_counting) {
    g_live += static_cast<long long>(malloc_usable_size(p));
    g_peak = std::max(g_peak, g_live);
  }
  return p;
}

void CountedFree(void* p) {
  if (p && g_counting) g_live -= static_cast<long long>(malloc_usable_size(p));
  std::free(p);
}

// Peak heap above what was live when the scope began.
class PeakScope {
 public:
  PeakScope() {
    g_live = g_peak = 0;
    g_counting = true;
  }
  ~PeakScope() { g_counting = false; }
  std::size_t Peak() const { return static_cast<std::size_t>(g_peak); }
};

// ---------------------------------------------------------------------------
// The script

constexpr int kSteps = 100000;

std::string StepText(unsigned n) {
  const std::string i = std::to_string(n);
  switch (n % 8) {
    case 0:
      return "<step><action>Use Window</action><text>Untitled - Notepad " + i +
             "</text><options>Partial Title,Activate,First</options><timeout>3</timeout>"
             "<comment>bring the editor to the front</comment><onfail value=\"retry_" + i +
             "\">JUMP</onfail></step>";
    case 1:
      return "<step><action>Type</action><text>Dear customer &amp; friend, order " + i +
             " ships today.{ENTER}</text><options>Let Olvex decide</options><value1>10</value1>"
             "<comment>type the greeting line</comment></step>";
    case 2:
      return "<step><action>Mouse Click</action><text>" + std::to_string(n % 1280) + "," +
             std::to_string(n % 1024) +
             "</text><options>Left,Down+Up</options><comment>press the Save button of the toolbar</comment>"
             "<indents>1</indents></step>";
    case 3:
      return "<step><action>Set Variable</action><text>=%count+" + i +
             "</text><output value=\"count\">Variable</output><comment>advance the counter of "
             "processed orders</comment><status>0x0</status></step>";
    case 4:
      return "<step><action>IF Text</action><text>%status</text><options>Contains,Insensitive</options>"
             "<value1>shipped</value1><comment>only orders that have left the warehouse</comment>"
             "<indents>2</indents></step>";
    case 5:
      return "<step><action>Read File</action><text>C:\\Orders\\order_" + i +
             ".txt</text><options>All</options><output value=\"order_text\">Variable</output>"
             "<onfail value=\"\">CONTINUE</onfail><comment>read the order</comment></step>";
    case 6:
      return "<step><action>Wait for Window</action><text>Save As</text><options>Partial Title</options>"
             "<value1>Open</value1><timeout>10</timeout><comment>the dialog must appear first of all</comment>"
             "</step>";
    default:
      return "<step><action>Write to Log</action><text>Order " + i +
             " done at {NOW} &lt;ok&gt;</text><comment>leave a trace of every order in the run log "
             "for the morning report</comment><indents>1</indents></step>";
  }
}

// About 300 bytes: the step, its comment longer, and now and then a data field.
std::string Step(unsigned n) {
  std::string step = StepText(n);
  const std::string batch = std::to_string(n / 50);
  step.insert(step.find("</comment>"), " (order batch " + batch + ", checked by the night shift before the morning report)");
  if (n % 3 == 0) step.insert(step.size() - 7, "<data>batch " + batch + "</data>");
  return step;
}

const std::string& ScriptPath() {
  static const std::string path = [] {
    const auto p = std::filesystem::temp_directory_path() / "olvex_bench_100000_steps.oxm";
    std::ofstream out(p, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<Olvex>\r\n";
    for (unsigned n = 0; n < kSteps; ++n) out << "\t" << Step(n) << "\r\n";
    out << "</Olvex>\r\n";
    return p.string();
  }();
  return path;
}

// Between iterations the heap is put in order so that a load does not pay for
// sorting out the frees of the one before it. Argument 0 ("warm"): the memory
// stays with the process, as in a program that already ran a while, and the
// figures measure parsing. Argument 1 ("cold"): the memory goes back to the
// system, as for a program just started, and every page is touched afresh.
void SettleHeap(bool cold) {
  if (cold) {
    malloc_trim(0);
  } else {
    free(malloc(1 << 20));  // a large request merges the small free chunks
  }
}

void Report(benchmark::State& state, std::size_t peak) {
  const auto file_size = static_cast<double>(std::filesystem::file_size(ScriptPath()));
  state.counters["file_MB"] = file_size / 1e6;
  state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
  state.counters["peak_x_file"] = static_cast<double>(peak) / file_size;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file_size));
}

void BM_LoadDocument(benchmark::State& state) {
  const std::string& path = ScriptPath();
  std::size_t peak = 0;
  {
    PeakScope scope;
    if (olvex::LoadDocument(path, 0) != kSteps + 1) state.SkipWithError("the script did not load whole");
    peak = scope.Peak();
  }
  olvex::CloseDocument(0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(olvex::LoadDocument(path, 0));
    state.PauseTiming();
    olvex::CloseDocument(0);
    SettleHeap(state.range(0) != 0);
    state.ResumeTiming();
  }
  Report(state, peak);
}

void BM_PugixmlLoad(benchmark::State& state) {
  const std::string& path = ScriptPath();
  std::size_t peak = 0;
  {
    PeakScope scope;
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_file(path.c_str());
    if (!result) state.SkipWithError(result.description());
    peak = scope.Peak();
  }
  for (auto _ : state) {
    pugi::xml_document doc;
    benchmark::DoNotOptimize(doc.load_file(path.c_str()));
    state.PauseTiming();
    doc.reset();
    SettleHeap(state.range(0) != 0);
    state.ResumeTiming();
  }
  Report(state, peak);
}

const bool g_setup = [] {
  pugi::set_memory_management_functions(CountedAlloc, CountedFree);
  // Warm runs keep freed memory in the process (big blocks included).
  mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the largest value glibc takes
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  return true;
}();

}  // namespace

void* operator new(std::size_t size) {
  if (void* p = CountedAlloc(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = CountedAlloc(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }

BENCHMARK(BM_LoadDocument)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PugixmlLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
