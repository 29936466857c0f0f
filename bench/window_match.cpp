// Window matching's own cost: FindWindowByCriteria by a part of the title
// over 200 top-level windows with 10 controls each, on a desktop held in
// memory (no system calls), so that the figure is the matcher's share of a
// search. The counters tell how many questions the search asked per window:
// on a real desktop each one is a call into the window's process (under
// Wine, a call to the wine server), which is where a search spends its time.
//
//   bench_window_match --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/windows.h"
#include "windows/window_match.h"

namespace {

using platform::WindowId;

constexpr int kTopLevel = 200, kControls = 10;

// Window n: top-level windows are 1 .. 200, the controls of window t are t * 1000 + 1 .. 10.
// Every question about one window is counted, the lists of windows apart.
class MemoryDesktop : public platform::Windows {
 public:
  long top_questions = 0, child_questions = 0;

  WindowId FindTopLevel(const std::string&, const std::string&) override { return 0; }
  bool Exists(WindowId w) override { return Ask(w), w != 0; }
  WindowId Foreground() override { return 1; }
  WindowId NextInZOrder(WindowId w) override {
    if (w == 0) return 1;
    if (w < 1000) return w < kTopLevel ? w + 1 : 0;
    return w % 1000 < kControls ? w + 1 : 0;
  }
  bool IsVisible(WindowId w) override { return Ask(w), true; }
  // Title learns the window's kind from its style first, as the real one does.
  std::string Title(WindowId w, std::size_t max_chars, int timeout_ms) override {
    Ask(w);
    return TitleOf(w, w < 1000, max_chars, timeout_ms);
  }
  std::string TitleOf(WindowId w, bool, std::size_t, int) override {
    Ask(w);
    return w < 1000 ? "Document " + std::to_string(w) + " - Editor" : "Control";
  }
  bool Activate(WindowId) override { return true; }
  bool PostClose(WindowId) override { return true; }
  bool Destroy(WindowId) override { return false; }
  std::string ClassName(WindowId w) override { return Ask(w), w < 1000 ? "EditorFrame" : "Button"; }
  WindowId Parent(WindowId w) override { return Ask(w), w < 1000 ? 0 : w / 1000; }
  bool HasFrame(WindowId w) override { return Ask(w), w < 1000; }
  std::uint32_t Style(WindowId w) override {
    Ask(w);
    return platform::style::kVisible | (w < 1000 ? platform::style::kThickFrame : platform::style::kChild);
  }
  std::vector<WindowId> TopLevelWindows() override {
    std::vector<WindowId> list;
    for (WindowId w = 1; w <= kTopLevel; ++w) list.push_back(w);
    return list;
  }
  // One question to the window whose children are listed.
  std::vector<WindowId> Descendants(WindowId w) override {
    Ask(w);
    std::vector<WindowId> list;
    for (WindowId c = 1; w < 1000 && c <= kControls; ++c) list.push_back(w * 1000 + c);
    return list;
  }

 private:
  void Ask(WindowId w) { ++(w < 1000 ? top_questions : child_questions); }
};

void FindByPartialTitle(benchmark::State& state) {
  MemoryDesktop desktop;
  platform::SetWindowsForTest(&desktop);
  for (auto _ : state) {
    const WindowId found = olvex::FindWindowByCriteria(olvex::match::kTitle, "document 200", 0, 0);
    benchmark::DoNotOptimize(found);
  }
  platform::SetWindowsForTest(nullptr);
  const double searches = static_cast<double>(state.iterations());
  state.counters["questions/top-level window"] = static_cast<double>(desktop.top_questions) / searches / kTopLevel;
  state.counters["questions/control"] =
      static_cast<double>(desktop.child_questions) / searches / (kTopLevel * kControls);
}
BENCHMARK(FindByPartialTitle);

}  // namespace

BENCHMARK_MAIN();
