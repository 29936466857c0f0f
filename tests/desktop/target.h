#pragma once
// Windows tests: starts olvex-target (tests/target), waits until it is ready,
// asks its state and ends it. Every wait is bounded.
#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/desktop/desktop_fixture.h"
#include "tests/support/test_support.h"
#include "windows/window_actions.h"

namespace olvex::test {

// Control ids of the target's frame window.
namespace target {
constexpr int kEdit = 1001, kMultiEdit = 1002, kList = 1003, kCombo = 1004, kPush = 1005, kCheck = 1006;
constexpr int kRadioA = 1007, kLabel = 1010, kTree = 1011, kListView = 1012, kCanvas = 1013;
}  // namespace target

class Target {
 public:
  // Values by name; "record" holds the recorded input, one line each.
  using State = std::map<std::string, std::string>;

  explicit Target(const std::string& title = "Olvex Target");
  ~Target();
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;

  bool ready() const { return frame_ != nullptr; }
  // True once the target's process has ended (at most `ms` waited).
  bool Ended(DWORD ms = 0) const { return process_.hProcess && WaitForSingleObject(process_.hProcess, ms) == WAIT_OBJECT_0; }
  HWND frame() const { return frame_; }
  HWND Control(int id) const { return GetDlgItem(frame_, id); }
  const std::string& title() const { return title_; }
  // The target's state now (empty when it does not answer within 5 s); the
  // recorded input only `with_record`.
  State Ask(bool with_record = true);
  // "clear", "second", "focus ID", "paint X Y W H RRGGBB", "hang MS",
  // "refuse 1|0", "multi N", "items N", "select ID FROM TO", "listsel I", "lvselect I...".
  bool Command(const std::string& command);
  // True once the record holds every line of `lines`, in order (at most 5 s
  // waited); a test failure naming the record otherwise.
  bool RecordedInOrder(const std::vector<std::string>& lines);
  // Asks (without the record) until `done` holds or `timeout` has passed;
  // then the whole state.
  State WaitFor(const std::function<bool(const State&)>& done,
                std::chrono::milliseconds timeout = std::chrono::seconds(20));

 private:
  bool Send(ULONG_PTR kind, const std::string& data);
  ScratchDir dir_;
  std::string title_;
  PROCESS_INFORMATION process_{};
  HWND frame_ = nullptr;
};

// Steps on the real desktop with olvex-target started and its record cleared.
class TargetFixture : public StepFixture {
 protected:
  void SetUp() override {
    StepFixture::SetUp();
    ASSERT_TRUE(target.ready());
    target.Command("clear");
  }
  int Use(const std::string& text, const std::string& options) {
    return Run(HandleWindowsStep, {"Use Window", text, options, "", "", 3});
  }
  // Brings the target's frame forward.
  int Activate() { return Use(target.title(), "Exact,Activate"); }
  static std::string Handle(HWND h) { return std::to_string(reinterpret_cast<std::uintptr_t>(h)); }
  int Act(const std::string& action, const std::string& options, HWND h, const std::string& value1 = "",
          const std::string& value2 = "", const std::string& timeout = "", const std::string& text = "") {
    return StepFixture::Act(action, options, reinterpret_cast<std::uintptr_t>(h), value1, value2, timeout, text);
  }
  Target target;
};

}  // namespace olvex::test
#endif
