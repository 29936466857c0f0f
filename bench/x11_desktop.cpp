// The Linux desktop on a real X server (run it in cmake/x11-session.sh, with
// --wm for a window manager):
//   - a window search by part of the title among 200 top-level windows
//     (goal: at most 5 ms);
//   - typing at delay 0 into olvex-x11-target, beside `xdotool type --delay 0`
//     of the same text into the same window; each run ends once the target
//     holds the whole text, so nothing may be lost (goal: at least xdotool's
//     characters per second).
//
//   cmake/x11-session.sh [--wm] build/release/bin/bench_x11_desktop
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "input/keyboard.h"
#include "platform/windows.h"
#include "tests/x11/x11_target.h"
#include "windows/window_match.h"

namespace {

bool HaveDisplay() { return platform::windows().HasDesktop(); }

// 200 mapped top-level windows titled "Document N - Editor", on a connection of their own.
class ManyWindows {
 public:
  ManyWindows() : display_(XOpenDisplay(nullptr)) {
    if (!display_) return;
    const Atom net_name = XInternAtom(display_, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
    for (int i = 1; i <= 200; ++i) {
      const Window w = XCreateSimpleWindow(display_, DefaultRootWindow(display_), (i % 20) * 40, (i / 20) * 40, 200, 100,
                                           0, 0, 0xFFFFFF);
      const std::string title = "Document " + std::to_string(i) + " - Editor";
      XStoreName(display_, w, title.c_str());
      XChangeProperty(display_, w, net_name, utf8, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
      XMapWindow(display_, w);
    }
    XSync(display_, False);
  }
  ~ManyWindows() {
    if (display_) XCloseDisplay(display_);
  }

 private:
  Display* display_;
};

void BM_WindowSearch200(benchmark::State& state) {
  if (!HaveDisplay()) return state.SkipWithError("no X display");
  static ManyWindows windows;
  // A window manager takes the windows in at its own pace.
  for (int i = 0; i < 200 && olvex::FindWindowByCriteria(olvex::match::kTitle, "Document 200 - Editor", 0, 0) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  for (auto _ : state) {
    const platform::WindowId found = olvex::FindWindowByCriteria(olvex::match::kTitle, "Document 137", 0, 0);
    if (found == 0) return state.SkipWithError("the window was not found");
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_WindowSearch200)->Unit(benchmark::kMillisecond);

// Letters, digits, punctuation and blanks of the US layout (xdotool types what the layout has).
std::string Text() {
  const std::string pool = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:!?-+=()[]/@#$%&*'";
  std::string text;
  for (int i = 0; i < 500; ++i) text += pool[(i * 37 + i / 7) % pool.size()];
  return text;
}

// Types with `type` into a fresh target and waits until it holds the text.
void Typing(benchmark::State& state, void (*type)(const std::string&)) {
  if (!HaveDisplay()) return state.SkipWithError("no X display");
  olvex::test::X11Target target("Olvex Typing Bench", "600x300+50+50");
  if (!target.window()) return state.SkipWithError("olvex-x11-target did not start");
  platform::windows().Activate(target.window());
  const std::string text = Text();
  for (auto _ : state) {
    state.PauseTiming();
    target.Command("clear");
    state.ResumeTiming();
    type(text);
    std::string got;
    for (int i = 0; i < 2000 && got.size() < text.size(); ++i) got = target.Ask().values["text"];
    if (got != text) return state.SkipWithError("characters were lost");
  }
  state.counters["chars/s"] = benchmark::Counter(static_cast<double>(text.size() * state.iterations()),
                                                 benchmark::Counter::kIsRate);
}

void BM_TypeOlvex(benchmark::State& state) {
  Typing(state, [](const std::string& text) {
    olvex::TypeKeys(text, false, 0);
    olvex::SettleTypedKeys();
  });
}
BENCHMARK(BM_TypeOlvex)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TypeXdotool(benchmark::State& state) {
  Typing(state, [](const std::string& text) {
    std::string quoted;
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    const std::string command = "xdotool type --delay 0 '" + quoted + "'";
    if (std::system(command.c_str()) != 0) std::abort();
  });
}
BENCHMARK(BM_TypeXdotool)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
