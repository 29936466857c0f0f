// The Mouse category on the recording fakes: where the pointer goes (glide
// steps or a jump) and which buttons are pressed.
#include <vector>

#include "engine/settings.h"
#include "input/mouse.h"
#include "tests/desktop/desktop_fixture.h"
#include "windows/window_match.h"

namespace olvex::test {
namespace {

class MouseTest : public DesktopFixture {
 protected:
  // The events with each run of glide steps written "m<count>".
  std::string Summary() const {
    std::string out;
    int moves = 0;
    const auto flush = [&] {
      if (moves) out += (out.empty() ? "m" : " m") + std::to_string(moves);
      moves = 0;
    };
    for (const std::string& e : keys.events) {
      if (e[0] == 'm') {
        ++moves;
        continue;
      }
      flush();
      out += (out.empty() ? "" : " ") + e;
    }
    flush();
    return out;
  }
};

TEST_F(MouseTest, StepsMoveThePointerAndPressTheButtons) {
  desktop.Add({0x70, 0, "Target Frame", "OlvexTarget", 0, 0, kFrameStyle, {50, 60, 200, 100}});
  desktop.Add({0x71, 0, "Other", "Other", 0, 0, kFrameStyle, {300, 200, 100, 100}});
  for (const CaseRow& row : CaseSection(kDesktopCases, "mouse", 8)) {
    SCOPED_TRACE(row.where + row.fields[0]);
    keys.events.clear();
    keys.cursor = {100, 100};
    RunShared().current_window = std::stoi(row.fields[5]);
    desktop.foreground = std::stoul(row.fields[6]);
    EXPECT_EQ(Run(HandleMouseStep, {row.fields[1], row.fields[2], row.fields[3], row.fields[4], "", 6}), 1) << error;
    EXPECT_EQ(Summary(), row.fields[7]);
  }
  EXPECT_EQ(CurrentWindow(), 0x71u);  // the foreground window took the missing one's place

  // The right button left down is let go at the run's end.
  keys.events.clear();
  ReleaseHeldButtons();
  EXPECT_EQ(Summary(), "R-");
  for (const char* options : {"Title", ""}) {
    desktop.foreground = 0;
    RunShared().current_window = 0;
    EXPECT_EQ(Run(HandleMouseStep, {"Move to Window", "Nowhere", options, "", "", 6}), 0);
    EXPECT_EQ(error, "Unable to find window 'Nowhere'");
  }
}

// The picture steps click the centre of what they find: the script cases over
// a real screen (x11_screen's Click on Image) show it.
TEST_F(MouseTest, SavedPosition) {
  keys.cursor = {321, -45};
  EXPECT_EQ(Run(HandleMouseStep, {"Save Current Position", "", "", "", "", 6}), 1);
  EXPECT_EQ(ReadSettingNumber("*\\UserVariables\\SavedMousePosition_X"), 321);
  keys.cursor = {0, 0};
  keys.events.clear();
  EXPECT_EQ(Run(HandleMouseStep, {"Return to Saved Position", "", "", "Snap", "", 6}), 1);
  EXPECT_EQ(Summary(), "@321,-45");
}

}  // namespace
}  // namespace olvex::test
