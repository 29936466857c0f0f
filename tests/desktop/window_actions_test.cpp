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
  std::string Calls() const {
    std::string joined;
    for (const std::string& c : desktop.calls) joined += (joined.empty() ? "" : "; ") + c;
    return joined;
  }
};

TEST_F(WindowActionsTest, GetTextInEveryModeAndGetWindowInfoEveryOption) {
  struct Case {
    const char* action;
    const char* options;
    WindowId window;
    const char* expected;
  };
  const Case cases[] = {
      {"Get Text", "", 201, "hello world"},
      {"Get Text", "interactive", 201, "hello world"},
      {"Get Text", "GetWindowText", 300, "Viewer"},
      {"Get Text", "Control", 203, "one\r\ntwo\r\n\r\n"},  // an item over 511 characters is an empty piece
      {"Get Text", "Control", 204, "red\r\ngreen\r\n"},
      {"Get Text", "Control", 208, "Label"},
      {"Get Window Info", "Text", 203, "one\r\ntwo\r\n\r\n"},
      {"Get Text", "Control,selected", 201, "world"},
      {"Get Text", "Control,selected", 202, "Agree"},
      {"Get Text", "Control,selected", 203, "two"},
      {"Get Text", "Control,selected", 204, "green"},
      {"Get Text", "Control,selected", 205, "alpha\r\ngamma\r\n"},  // item 7 cannot be read
      {"Get Text", "Control,selected", 206, ""},
      // Wine checks the rest against the target.
      {"Get Window Info", "Right Coor", 200, "410"}, {"Get Window Info", "Bottom Coor", 200, "320"},
      {"Get Window Info", "Maximized", 200, "0"}, {"Get Window Info", "Checked", 202, "1"},
      {"Get Window Info", "Process", 201, "C:\\Apps\\editor.exe"}, {"Get Window Info", "Process,Base", 200, "editor.exe"},
      {"Get Window Info", "Process,Path", 200, "C:\\Apps"},
      {"Get Window Info", "Process", 300, "-"},  // a process name that cannot be read gives no output
      {"Get Window Info", "Control Type", 201, "Edit"}, {"Get Window Info", "Control Type", 205, "Listview"},
      {"Get Window Info", "Control Type", 209, "Unknown Window Type"},
      {"Get Window Info", "Top Coor,Width", 200, "400"},  // the first word in the list's order
      {"Get Window Info", "", 300, "Viewer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.action) + " " + c.options + " " + std::to_string(c.window));
    EXPECT_EQ(Act(c.action, c.options, c.window), 1) << error;
    EXPECT_EQ(out, c.expected);
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
  struct Case {
    const char* action;
    const char* options;
    const char* value1;
    const char* value2;
    const char* calls;  // the first calls the step makes
  };
  const Case cases[] = {
      {"Move Window", "", "-5", "30", "MoveTo 200 -5,30"},
      {"Resize", "", "0", "300", "ResizeTo 200 400,300"},  // below 1 keeps the current width
      {"Maximize", "", "", "", "Place 200 Maximize"},
      {"Minimize", "", "", "", "Place 200 Minimize"},
      {"Restore", "", "", "", "Place 200 Restore"},
      {"Set Window Style", "", "Always on Top", "", "SetTopmost 200 1; Repaint 200; SetFocus 200"},
      {"Set Window Style", "", "Not Topmost", "", "SetTopmost 200 0; Repaint 200"},
      {"Set Window Style", "", "hidden", "", "Place 200 Hide; Repaint 200"},
      {"Set Window Style", "", "Visible", "", "Place 200 Show; Repaint 200"},
      {"Set Window Style", "", "Disabled", "", "SetStyle 200 0x18C40000; Repaint 200"},
      {"Set Window Style", "", "Enabled", "", "SetStyle 200 0x10C40000; Repaint 200"},
      {"Set Window Style", "", "Not Resizable", "", "SetStyle 200 0x10C00000; Repaint 200"},
      {"Set Window Style", "", "Minimize Button", "", "SetStyle 200 0x10C20000"},
      {"Set Window Style", "", "Without Minimize Button", "", "SetStyle 200 0x10C00000"},
      {"Child Control Action", "Check", "", "", "SetCheck 202 1"},
      {"Child Control Action", "Uncheck", "", "", "SetCheck 202 0"},
      {"Child Control Action", "", "", "", "BringToTop 200; SetFocus 200; PostSetFocus 202"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.action) + " " + c.value1 + c.options);
    desktop.calls.clear();
    const WindowId window = std::string(c.action).starts_with("Child") ? 202 : 200;
    EXPECT_EQ(Act(c.action, c.options, window, c.value1, c.value2), 1) << error;
    EXPECT_TRUE(Calls().starts_with(c.calls)) << Calls();
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
  struct Case {
    const char* action;
    const char* options;
    const char* value1;
    const char* error;
  };
  const Case cases[] = {
      {"Get Text", "", "", "The window is gone"},
      {"Get Text", "Control,selected", "", "The window is gone"},
      {"Get Window Info", "Width", "", "The window is gone"},
      {"Get Window Info", "Checked", "", "The window is gone"},
      {"Set Text", "", "", "Unable to find window '200'"},
      {"Move Window", "", "1", "The window is gone"},
      {"Resize", "", "1", "The window is gone"},
      {"Maximize", "", "", "The window is gone"},
      {"Minimize", "", "", "The window is gone"},
      {"Restore", "", "", "The window is gone"},
      {"Set Window Style", "", "Hidden", "The window is gone"},
      {"Child Control Action", "Check", "", "The window is gone"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    VanishingDesktop vanishing;
    EXPECT_EQ(Act(c.action, c.options, 200, c.value1), 0);
    EXPECT_EQ(error, c.error);
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
