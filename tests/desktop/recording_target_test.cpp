// The real desktop under Wine: a Recording step's events replayed into
// olvex-target, which records them in order. The "Software" method uses a
// journal playback hook where the system calls one and otherwise says so in
// the log and plays the events as synthesized input (Wine 8 accepts the hook
// and never calls it).
#ifdef _WIN32
#include <chrono>
#include <thread>

#include "system/hardware_actions.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/desktop/target.h"
#include "windows/window_actions.h"

namespace olvex::test {
namespace {

using namespace std::chrono_literals;

class RecordingTargetTest : public StepFixture {
 protected:
  void SetUp() override {
    StepFixture::SetUp();
    ASSERT_TRUE(target.ready());
    ASSERT_EQ(Run(HandleWindowsStep, {"Use Window", target.title(), "Exact,Activate", "", "", 3}), 1) << error;
  }
  // A recording that clicks the canvas at client point 600,300 and types "a".
  std::string Recording() const {
    POINT p{600, 300};
    ClientToScreen(target.frame(), &p);
    const std::string at = std::to_string(p.y) + "," + std::to_string(p.x);
    const std::string key = std::to_string(0x41 | (0x1E << 8));
    return "[512," + at + ",0] [513," + at + ",40] [514," + at + ",80] [256,0," + key + ",120] [257,0," + key + ",160]";
  }
  Target target;
};

TEST_F(RecordingTargetTest, BothMethodsPlayTheEventsIntoTheTargetInOrder) {
  for (const char* method : {"Hardware", "Software"}) {
    SCOPED_TRACE(method);
    target.Command("clear");
    log.clear();
    EXPECT_EQ(Run(HandleHardwareStep, {"Recording", Recording(), method, "", "", 15}), 1) << error;
    EXPECT_TRUE(Logged(std::string("    (using \"") + method + "\" recording method)"));
    target.RecordedInOrder({"md L 600 300", "mu L 600 300", "kd 41", "ku 41"});
  }
  EXPECT_EQ(Run(HandleHardwareStep, {"Recording", "no events here", "Hardware", "", "", 15}), 0);
  EXPECT_EQ(error, "Invalid Recording");
}

}  // namespace
}  // namespace olvex::test
#endif
