// The window walks that every backend may take over with a faster one.
#include "platform/windows.h"

namespace platform {
namespace {
constexpr std::size_t kMostWindows = 200000;  // a walk ends here whatever the desktop does
}

std::vector<WindowId> Windows::TopLevelWindows() {
  std::vector<WindowId> list;
  for (WindowId w = NextInZOrder(0); w != 0 && list.size() < kMostWindows; w = NextInZOrder(w)) list.push_back(w);
  return list;
}

std::vector<WindowId> Windows::Descendants(WindowId window) {
  std::vector<WindowId> list;
  std::vector<WindowId> pending;  // the next sibling to visit at each open level
  for (WindowId w = FirstChild(window); w != 0 && list.size() < kMostWindows;) {
    list.push_back(w);
    if (const WindowId child = FirstChild(w)) {
      pending.push_back(NextInZOrder(w));
      w = child;
      continue;
    }
    w = NextInZOrder(w);
    while (w == 0 && !pending.empty()) {
      w = pending.back();
      pending.pop_back();
    }
  }
  return list;
}

}  // namespace platform
