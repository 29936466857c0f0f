// Window matching, Use Window and activation against the fake desktop.
#include "windows/window_match.h"

#include "engine/settings.h"
#include "tests/desktop/desktop_fixture.h"
#include "windows/window_actions.h"

namespace olvex::test {
namespace {

using platform::WindowId;
constexpr std::uint32_t kHiddenFrame = platform::style::kThickFrame;
constexpr std::uint32_t kPlainVisible = platform::style::kVisible;

class WindowMatchTest : public DesktopFixture {
 protected:
  void SetUp() override {
    DesktopFixture::SetUp();
    desktop.Add({100, 0, "Untitled - Notepad", "Notepad", 0, 0, kFrameStyle, {0, 0, 400, 300}});
    desktop.Add({101, 100, "", "Edit", 15, 0, kChildStyle | platform::style::kMultiline, {10, 10, 380, 280}});
    desktop.Add({102, 0, "Report Viewer", "AfxWnd", 0, 0, kFrameStyle, {500, 0, 200, 200}});
    desktop.Add({103, 0, "&Report", "#32770", 0, 0, kFrameStyle, {0, 500, 300, 200}});
    desktop.Add({104, 103, "OK", "Button", 1, 0, kChildStyle, {10, 510, 80, 20}});
    desktop.Add({105, 103, "Agree", "Button", 2, static_cast<std::uint32_t>(-5), kChildStyle | 3, {100, 510, 80, 20}});
    desktop.Add({106, 0, "MyAfx", "MyAfx", 0, 0, kFrameStyle, {800, 0, 100, 100}});
    desktop.Add({107, 0, "Hidden Report", "Hidden", 0, 0, kHiddenFrame});
    desktop.Add({108, 0, "Frameless Report", "Popup", 0, 0, kPlainVisible});
    desktop.Add({109, 0, "Olvex Studio", "OlvexClass", 0, 0, kHiddenFrame});
    desktop.Add({110, 109, "Report", "Static", 0, 0, kChildStyle});
    desktop.Add({6699, 0, "Tool", "Tool", 0, 0, kFrameStyle, {900, 900, 50, 50}});
    desktop.calls.clear();
  }
  int Use(const std::string& text, const std::string& options) {
    return Run(HandleWindowsStep, {"Use Window", text, options, "", "", 3});
  }
};

TEST_F(WindowMatchTest, FindsByEachCriterionTheLastMatchInZOrder) {
  using namespace match;
  for (const CaseRow& row : CaseSection(kDesktopCases, "find", 5)) {
    const int flags = WindowMatchFlagsFromOptions(row.fields[0]);
    EXPECT_EQ(FindWindowByCriteria(flags, row.fields[1], 109, 0), std::stoul(row.fields[2])) << row.where;
    const MatchCounts counts = LastMatchCounts();
    if (row.fields[2] != "0" && (flags & (kFirst | kHandle)) == 0) {
      EXPECT_EQ(std::to_string(counts.top_level) + " " + std::to_string(counts.child), row.fields[3] + " " + row.fields[4])
          << row.where;
    }
  }
  EXPECT_EQ(FindWindowByCriteria(kTitle | kVisibleTopFramesOnly, "OK", 109, 0), 0u);
  EXPECT_EQ(FindWindowByCriteria(kTitle, "Report", 0, 0), 110);  // nothing excluded
  EXPECT_EQ(FindWindowByCriteria(kClass, "Button", 109, 103), 105);  // below the start window
  EXPECT_EQ(FindWindowByCriteria(kClass, "Edit", 109, 103), 0);
}

TEST_F(WindowMatchTest, HungAndVanishingWindowsEndTheSearchCleanly) {
  desktop.Find(102)->hung = true;
  EXPECT_EQ(FindWindowByCriteria(match::kTitle, "Viewer", 0, 0), 0);
  desktop.Find(102)->hung = false;
  desktop.on_title = [&](WindowId w) {
    if (w == 102) desktop.Destroy(103);  // with its children
  };
  EXPECT_EQ(Use("Report", "Title"), 1);
  EXPECT_EQ(CurrentWindow(), 102u);
  desktop.on_title = [&](WindowId) { desktop.windows.clear(); };
  EXPECT_EQ(Use("Report", "Title"), 0);
  EXPECT_EQ(error, "Unable to find window 'Report'");
}

TEST_F(WindowMatchTest, UseWindowChoosesAndActivates) {
  for (const CaseRow& row : CaseSection(kDesktopCases, "activate", 6)) {
    desktop.calls.clear();
    log.clear();
    desktop.foreground_refused = row.fields[2] == "1";
    EXPECT_EQ(Use(row.fields[0], row.fields[1]), 1) << row.where;
    EXPECT_EQ(CurrentWindow(), std::stoul(row.fields[3])) << row.where;
    EXPECT_EQ(Calls(), row.fields[4]) << row.where;
    EXPECT_TRUE(Logged(row.fields[5])) << row.where;
    EXPECT_TRUE(WindowActivated()) << row.where;
  }
}

TEST_F(WindowMatchTest, UseWindowFailures) {
  WriteSetting("*\\MultipleWindowError", 1);
  for (const CaseRow& row : CaseSection(kDesktopCases, "use_failures", 3)) {
    EXPECT_EQ(Use(row.fields[0], row.fields[1]), 0) << row.where;
    EXPECT_EQ(error, row.fields[2]) << row.where;
  }
  EXPECT_EQ(Use("Report", "Title,First"), 1);  // the last match
  EXPECT_EQ(CurrentWindow(), 103u);
}

TEST_F(WindowMatchTest, UseWindowByPositionZOrderAndFocus) {
  desktop.foreground = 100;
  desktop.focus = 101;
  desktop.Add({120, 0, "Anchor", "Anchor", 0, 0, kFrameStyle, {10, 505, 10, 10}});
  for (const CaseRow& row : CaseSection(kDesktopCases, "use_position", 3)) {
    RunShared().current_window = 120;
    EXPECT_EQ(Use(row.fields[0], row.fields[1]), 1) << row.where;
    EXPECT_EQ(CurrentWindow(), std::stoul(row.fields[2])) << row.where;
  }
}

TEST_F(WindowMatchTest, ResolveStepWindow) {
  desktop.foreground = 102;
  for (const CaseRow& row : CaseSection(kDesktopCases, "resolve", 5)) {
    Document(0).steps.assign(1, Step());
    Document(0).steps[0].options = row.fields[0];
    Document(0).steps[0].category = 3;
    RunShared().current_window = std::stoi(row.fields[2]);
    ClearStepError();
    EXPECT_EQ(ResolveStepWindow(0, 0, row.fields[1]), std::stoul(row.fields[3])) << row.where;
    EXPECT_EQ(StepError(), row.fields[4]) << row.where;
  }
}

}  // namespace
}  // namespace olvex::test
