// Window matching's own cost: FindWindowByCriteria by a part of the title
// over 200 top-level windows with 10 controls each, on a desktop held in
// memory (no system calls), so that the figure is the matcher's share of a
// search. The search on a real desktop is measured under Wine by the desktop
// tests' SearchTimeOverTwoHundredWindows (goal: at most 5 ms a search).
//
//   bench_window_match --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/windows.h"
#include "windows/window_match.h"

namespace {

using platform::WindowId;

// Window n: top-level windows are 1 .. 200, the controls of window t are t * 1000 + 1 .. 10.
class MemoryDesktop : public platform::Windows {
 public:
  WindowId FindTopLevel(const std::string&, const std::string&) override { return 0; }
  bool Exists(WindowId w) override { return w != 0; }
  WindowId Foreground() override { return 1; }
  WindowId NextInZOrder(WindowId w) override {
    if (w == 0) return 1;
    if (w < 1000) return w < 200 ? w + 1 : 0;
    return w % 1000 < 10 ? w + 1 : 0;
  }
  bool IsVisible(WindowId) override { return true; }
  std::string Title(WindowId w, std::size_t, int) override {
    return w < 1000 ? "Document " + std::to_string(w) + " - Editor" : "Control";
  }
  bool Activate(WindowId) override { return true; }
  bool PostClose(WindowId) override { return true; }
  bool Destroy(WindowId) override { return false; }
  std::string ClassName(WindowId w) override { return w < 1000 ? "EditorFrame" : "Button"; }
  WindowId FirstChild(WindowId w) override { return w < 1000 ? w * 1000 + 1 : 0; }
  WindowId Parent(WindowId w) override { return w < 1000 ? 0 : w / 1000; }
  bool HasFrame(WindowId w) override { return w < 1000; }
  std::uint32_t Style(WindowId w) override {
    return platform::style::kVisible | (w < 1000 ? platform::style::kThickFrame : platform::style::kChild);
  }
};

void FindByPartialTitle(benchmark::State& state) {
  MemoryDesktop desktop;
  platform::SetWindowsForTest(&desktop);
  for (auto _ : state) {
    const WindowId found = olvex::FindWindowByCriteria(olvex::match::kTitle, "document 200", 0, 0);
    benchmark::DoNotOptimize(found);
  }
  platform::SetWindowsForTest(nullptr);
}
BENCHMARK(FindByPartialTitle);

}  // namespace

BENCHMARK_MAIN();
