// Window matching's own cost: FindWindowByCriteria by a part of the title
// over 200 top-level windows with 10 controls each, on a desktop held in
// memory (no system calls), so that the figure is the matcher's share of a
// search. The counters tell how many questions the search asked per window:
// on a real desktop each one is a call into the window's process (under
// Wine, a call to the wine server), which is where a search spends its time.
//
//
// The Windows build adds FindByPartialTitleOnDesktop: the same search on the
// real desktop, where another process (this program started with
// --make-windows) shows the same 200 windows with 10 buttons each. Under Wine
// (the Windows build has a copy of the part of Google Benchmark it uses, bench/mingw/):
//   cmake/wine-session.sh build/win/bin/bench_window_match.exe
//
//   bench_window_match --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <cstring>
#include <thread>
#endif

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

#ifdef _WIN32
constexpr char kMakeWindows[] = "--make-windows";

// The other process: the windows, shown for ten minutes at most.
int MakeWindows() {
  WNDCLASSA frame_class{};
  frame_class.lpfnWndProc = DefWindowProcA;
  frame_class.hInstance = GetModuleHandleA(nullptr);
  frame_class.lpszClassName = "OlvexBenchFrame";
  RegisterClassA(&frame_class);
  for (int t = 1; t <= kTopLevel; ++t) {
    const std::string title = "Document " + std::to_string(t) + " - Editor";
    HWND frame = CreateWindowExA(0, "OlvexBenchFrame", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, t % 50, t % 40,
                                 300, 200, nullptr, nullptr, frame_class.hInstance, nullptr);
    for (int c = 1; c <= kControls; ++c)
      CreateWindowExA(0, "BUTTON", "Control", WS_CHILD | WS_VISIBLE, 5, c * 15, 80, 14, frame,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(c)), frame_class.hInstance, nullptr);
  }
  SetTimer(nullptr, 0, 600000, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != WM_TIMER) DispatchMessageA(&msg);
  return 0;
}

// The window-making process, started once and ended with this program.
class WindowMaker {
 public:
  WindowMaker() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" " + kMakeWindows;
    STARTUPINFOA start{};
    start.cb = sizeof start;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &process_)) return;
    // Ready when the last window has its last button (a minute at most).
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    const std::string last = "Document " + std::to_string(kTopLevel) + " - Editor";
    while (std::chrono::steady_clock::now() < give_up) {
      last_ = FindWindowA("OlvexBenchFrame", last.c_str());
      if (last_ && GetDlgItem(last_, kControls)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    last_ = nullptr;
  }
  ~WindowMaker() {
    if (!process_.hProcess) return;
    TerminateProcess(process_.hProcess, 0);
    WaitForSingleObject(process_.hProcess, 10000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
  HWND last() const { return last_; }

 private:
  PROCESS_INFORMATION process_{};
  HWND last_ = nullptr;
};

void FindByPartialTitleOnDesktop(benchmark::State& state) {
  static WindowMaker maker;
  if (!maker.last()) return state.SkipWithError("the windows did not appear");
  WindowId found = 0;
  for (auto _ : state) {
    found = olvex::FindWindowByCriteria(olvex::match::kTitle, "document 200", 0, 0);
    benchmark::DoNotOptimize(found);
  }
  if (found != reinterpret_cast<WindowId>(maker.last())) state.SkipWithError("the search found another window");
  state.counters["top-level windows"] = static_cast<double>(platform::windows().TopLevelWindows().size());
}
BENCHMARK(FindByPartialTitleOnDesktop);
#endif

}  // namespace

#ifdef _WIN32
int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], kMakeWindows) == 0) return MakeWindows();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
#else
BENCHMARK_MAIN();
#endif
