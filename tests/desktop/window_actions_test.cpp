// The window actions against the fake desktop: what each reads and what it
// asks the windows service to do.
#include "windows/window_actions.h"

#include "tests/desktop/desktop_fixture.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

using platform::WindowId;
using namespace platform::style;

class WindowActionsTest : public DesktopFixture {
 protected:
  void SetUp() override {
    DesktopFixture::SetUp();
    SetWindowActionPauseForTest([this](int ms) { keys.events.push_back("P" + std::to_string(ms)); });
    desktop.Add({200, 0, "Editor", "EditorFrame", 0, 0, kFrameStyle | kCaption, {10, 20, 400, 300}});
    desktop.Add({201, 200, "hello world", "Edit", 15, 0, kChildStyle, {20, 40, 200, 20}});
    desktop.Add({202, 200, "Agree", "Button", 16, 0, kChildStyle | 3, {20, 70, 80, 20}});
    desktop.Add({203, 200, "", "ListBox", 17, 0, kChildStyle, {20, 100, 100, 80}});
    desktop.Add({204, 200, "green", "ComboBox", 18, 0, kChildStyle, {130, 100, 100, 20}});
    desktop.Add({205, 200, "", "SysListView32", 19, 0, kChildStyle, {240, 100, 100, 80}});
    desktop.Add({206, 200, "", "SysTreeView32", 20, 0, kChildStyle, {240, 190, 100, 80}});
    desktop.Add({207, 200, "", "Edit", 21, 0, kChildStyle, {20, 190, 100, 20}, true});
    desktop.Add({208, 200, "Label", "Static", 22, 0, kChildStyle, {20, 220, 100, 20}});
    desktop.Add({209, 200, "", "RichCanvas", 23, 0, kChildStyle, {20, 250, 100, 20}});
    desktop.Add({300, 0, "Viewer", "ViewerFrame", 0, 0, kFrameStyle, {500, 20, 200, 100}});
    for (FakeWindow& w : desktop.windows) w.pid = w.id >= 300 ? 8 : 7;
    desktop.Find(201)->selection = {6, 11};
    desktop.Find(202)->check = 1;
    desktop.items[203] = {"one", "two", std::string(600, 'x')};
    desktop.Find(203)->selected = {1};
    desktop.items[204] = {"red", "green"};
    desktop.items[205] = {"alpha", "beta", "gamma"};
    desktop.Find(205)->selected = {0, 2, 7};
    desktop.process_paths[7] = "C:\\Apps\\editor.exe";
    desktop.foreground = 200;
    desktop.calls.clear();
  }
  void TearDown() override {
    SetWindowActionPauseForTest(nullptr);
    DesktopFixture::TearDown();
  }
};

TEST_F(WindowActionsTest, GetTextInEveryModeAndGetWindowInfoEveryOption) {
  for (const CaseRow& row : CaseSection(kDesktopCases, "get_text", 4)) {
    EXPECT_EQ(Act(row.fields[0], row.fields[1], std::stoul(row.fields[2])), 1) << row.where << error;
    EXPECT_EQ(out, row.fields[3]) << row.where;
  }
  for (const CaseRow& row : CaseSection(kDesktopCases, "control_type", 3)) {
    const auto style = static_cast<std::uint32_t>(std::stoul(row.fields[1]));
    const WindowId w = desktop.Add({0, 200, "", row.fields[0], 0, 0, kChildStyle | style});
    EXPECT_EQ(Act("Get Window Info", "Control Type", w), 1) << row.where << error;
    EXPECT_EQ(out, row.fields[2]) << row.where;
  }
  EXPECT_TRUE(Logged("    ListView Total Items: 3, Selected Items: 3"));
  EXPECT_TRUE(Logged("    FAILURE during listview read item!"));

  // Any other control: its selection is copied with Ctrl+C and the user's clipboard comes back.
  clipboard.text = "mine";
  keys.events.clear();
  EXPECT_EQ(Act("Get Text", "Control,selected", 209), 1);
  EXPECT_TRUE(keys.Events().starts_with("Ctrl*+ P10 C+ C- Ctrl*- P10 P50")) << keys.Events();
  EXPECT_EQ(clipboard.text, "mine");

  // A control that does not answer, and a window that is gone.
  EXPECT_EQ(Act("Get Text", "Control", 207), 0);
  EXPECT_EQ(error, "The window did not answer within the time allowed");
  EXPECT_EQ(Act("Get Text", "", 999), 0);
  EXPECT_EQ(error, "Unable to find window '999'");

  // "Top Coor" without "Title" or "Handle" reads the current window, not the top window.
  RunShared().current_window = 201;
  StepSpec top("Get Window Info", "", "Top Coor", "", "", 3);
  top.output = "out";
  EXPECT_EQ(Run(HandleWindowsStep, top), 1);
  EXPECT_EQ(ReadUserVariable("out"), "40");
  EXPECT_EQ(Act("Checked", "", 207), 0);
  EXPECT_EQ(error, "Window '207' found, but invalid action specified");
}

TEST_F(WindowActionsTest, PlacementAndStyleChanges) {
  for (const CaseRow& row : CaseSection(kDesktopCases, "placement", 5)) {
    desktop.calls.clear();
    const WindowId window = row.fields[0].starts_with("Child") ? 202 : 200;
    EXPECT_EQ(Act(row.fields[0], row.fields[1], window, row.fields[2], row.fields[3]), 1) << row.where << error;
    EXPECT_TRUE(Calls().starts_with(row.fields[4])) << row.where << Calls();
  }
  EXPECT_EQ(desktop.Find(200)->rect.height, 300);
  EXPECT_EQ(desktop.Find(202)->check, 0);
  EXPECT_EQ(desktop.calls.back(), "PostSetFocus 202");
  EXPECT_EQ(Act("Set Window Style", "", 200, "Sideways"), 0);
  EXPECT_EQ(error, "Unknown window style 'Sideways'");
}

// The window is found, then gone before the action reaches it.
class VanishingDesktop : public FakeDesktop {
 public:
  bool Exists(WindowId window) override { return window == 200 ? found++ == 0 : FakeDesktop::Exists(window); }
  int found = 0;
};

TEST_F(WindowActionsTest, AWindowGoneBetweenFindingAndActingFailsClearly) {
  for (const CaseRow& row : CaseSection(kDesktopCases, "vanishing", 4)) {
    VanishingDesktop vanishing;
    EXPECT_EQ(Act(row.fields[0], row.fields[1], 200, row.fields[2]), 0) << row.where;
    EXPECT_EQ(error, row.fields[3]) << row.where;
  }
  VanishingDesktop vanishing;
  EXPECT_EQ(Act("Close Window", "", 200), 1);  // gone is closed
}

TEST_F(WindowActionsTest, PressClicksTheControlsCentreAndSelectsAnEdit) {
  EXPECT_EQ(Act("Press Button", "", 202), 1);
  EXPECT_NE(keys.Events().find("@60,80 L+ P50 L- P50"), std::string::npos) << keys.Events();
  keys.events.clear();
  desktop.calls.clear();
  EXPECT_EQ(Act("Child Control Action", "Press", 201), 1);
  EXPECT_EQ(keys.Events(), "@120,50");
  EXPECT_NE(Calls().find("SelectAllText 201; Update 201; SetFocus 201"), std::string::npos) << Calls();
}

TEST_F(WindowActionsTest, CloseWindowByIncreasingForce) {
  // A window that closes on the first request.
  EXPECT_EQ(Act("Close Window", "", 300, "", "", "2"), 1);
  EXPECT_EQ(Calls(), "SendClose 300 2000");
  // One that ignores every request is ended with its process once the time-out has passed.
  desktop.Add({301, 0, "Stubborn", "S", 0, 0, kFrameStyle});
  desktop.Find(301)->refuses_close = true;
  desktop.Find(301)->pid = 9;
  desktop.calls.clear();
  EXPECT_EQ(Act("Close Window", "", 301, "", "", "1"), 1) << error;
  EXPECT_EQ(Calls(), "SendClose 301 1000; PostClose 301; SetForeground 301; SetActive 301; SetFocus 301; EndProcess 9");
  EXPECT_NE(keys.Events().find("Alt+ #73+ #73- Alt-"), std::string::npos) << keys.Events();
  // Alt+F4 is pressed only when the window took the foreground.
  desktop.Add({303, 0, "Stubborn too", "S", 0, 0, kFrameStyle});
  desktop.Find(303)->refuses_close = true;
  desktop.Find(303)->pid = 11;
  desktop.foreground_refused = true;
  keys.events.clear();
  EXPECT_EQ(Act("Close Window", "", 303), 1);
  EXPECT_EQ(keys.Events().find("Alt"), std::string::npos) << keys.Events();
  desktop.foreground_refused = false;
  // One that does not answer has its process ended at once.
  desktop.Add({302, 0, "Hung", "S", 0, 0, kFrameStyle, {}, true});
  desktop.Find(302)->pid = 10;
  desktop.calls.clear();
  EXPECT_EQ(Act("Close Window", "", 302), 1);
  EXPECT_EQ(Calls(), "SendClose 302 250; EndProcess 10");
  // "All" with "Title": every window of that title.
  for (WindowId id : {310, 311, 312}) desktop.Add({id, 0, "Report " + std::to_string(id), "R", 0, 0, kFrameStyle});
  EXPECT_EQ(Run(HandleWindowsStep, {"Close Window", "", "All,Title", "", "Report", 3}), 1) << error;
  EXPECT_EQ(desktop.Find(310), nullptr);
  EXPECT_EQ(desktop.Find(312), nullptr);
}

TEST_F(WindowActionsTest, MinimizeAndCloseAllWindows) {
  desktop.Add({109, 0, "Olvex", "OlvexClass", 0, 0, kThickFrame});  // the runtime's hidden main window
  desktop.Add({400, 0, "Owned", "O", 0, 0, kFrameStyle});
  desktop.Find(400)->parent = 300;  // owned windows go with their owner
  EXPECT_EQ(Run(HandleWindowsStep, {"Minimize all Windows", "", "", "", "", 3}), 1);
  EXPECT_EQ(Calls(), "Place 200 Minimize; Place 300 Minimize");
  desktop.calls.clear();
  EXPECT_EQ(Run(HandleWindowsStep, {"Close all Windows", "", "", "", "", 3}), 1);
  EXPECT_EQ(Calls(), "SendClose 200 250; SendClose 300 250; PostClose 109");
}

}  // namespace
}  // namespace olvex::test
