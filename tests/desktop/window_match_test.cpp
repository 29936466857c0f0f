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

TEST_F(WindowMatchTest, OptionsGiveTheFlags) {
  using namespace match;
  EXPECT_EQ(WindowMatchFlagsFromOptions(""), kTitle);
  EXPECT_EQ(WindowMatchFlagsFromOptions("Partial Title,Activate,First"), kTitle | kFirst);
  EXPECT_EQ(WindowMatchFlagsFromOptions("Exact Title"), kExact);
  EXPECT_EQ(WindowMatchFlagsFromOptions("Title,Class,ID"), kTitle | kClass | kId);
  EXPECT_EQ(WindowMatchFlagsFromOptions("Userdata,HWND"), kUser | kHandle);
}

TEST_F(WindowMatchTest, FindsByEachCriterionTheLastMatchInZOrder) {
  using namespace match;
  struct Case {
    int flags;
    const char* search;
    WindowId expected;
    int top, child;
  };
  const Case cases[] = {
      {kTitle, "note", 100, 1, 0},
      {kExact, "notepad", 0, 0, 0},
      {kExact, "Untitled - Notepad", 100, 1, 0},
      {kClass, "Afx*", 102, 1, 0},  // not MyAfx
      {kClass, "afxwnd", 102, 1, 0},
      {kTitle | kClass, "Report|#32770", 103, 1, 0},  // the window's first "&" is dropped
      {kTitle, "Rep&ort", 103, 2, 0},  // and the wanted title's; hidden, frameless and the main window's children do not count
      {kId, "15", 101, 0, 1},
      {kClass | kId, "Button|1", 104, 0, 1},
      {kUser, "-5", 105, 0, 1},
      {kHandle, "0x1A2B", 6699, 0, 0},
      {kHandle, "#1a2b", 6699, 1, 0},
      {kHandle, "x1A2B", 6699, 1, 0},
      {kHandle, "6699", 6699, 0, 0},
      {kHandle, "110", 110, 0, 0},  // the main window's children by handle
      {kTitle | kVisibleTopFramesOnly, "OK", 0, 0, 0},
      {kTitle, "", 0, 0, 0},
      {kTitle | kFirst, "MyAfx", 106, 0, 0},  // the quick exact lookup
      {kTitle | kFirst, "Viewer", 102, 1, 0},  // nothing exact: the search runs
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindWindowByCriteria(c.flags, c.search, 109, 0), c.expected) << c.search;
    const MatchCounts counts = LastMatchCounts();
    if (c.expected != 0 && (c.flags & (kFirst | kHandle)) == 0) {
      EXPECT_EQ(counts.top_level, c.top) << c.search;
      EXPECT_EQ(counts.child, c.child) << c.search;
    }
  }
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
  EXPECT_EQ(Use("note", "Partial Title,Activate,First"), 1);
  EXPECT_EQ(CurrentWindow(), 100u);
  EXPECT_EQ(desktop.calls,
            (std::vector<std::string>{"FindTopLevel note|", "SetForeground 100", "SetActive 100", "SetFocus 100"}));
  EXPECT_TRUE(Logged("    Activate: Method=Quick Foreground"));
  EXPECT_TRUE(WindowActivated());

  // A checkbox activates its dialog.
  desktop.calls.clear();
  EXPECT_EQ(Use("Button|2", "Class,ID,Activate"), 1);
  EXPECT_EQ(CurrentWindow(), 105u);
  EXPECT_EQ(desktop.calls.front(), "SetForeground 103");

  // A window that will not come forward: the normal means, then the frame window's sequence.
  desktop.calls.clear();
  desktop.foreground_refused = true;
  EXPECT_EQ(Use("Tool", "Exact,Activate"), 1);
  EXPECT_EQ(desktop.calls, (std::vector<std::string>{"SetForeground 6699", "HotkeyCommand 6699", "SetForeground 6699",
                                                     "BringToTop 6699", "SetActive 6699", "Show 6699",
                                                     "SetFocus 6699"}));
  EXPECT_TRUE(Logged("    Activate: Method=Normal"));

  // A control with force: its farthest ancestor comes forward, then the control.
  desktop.calls.clear();
  EXPECT_EQ(Use("15", "ID,Force"), 1);
  EXPECT_EQ(desktop.calls, (std::vector<std::string>{"HotkeyCommand 101", "AttachedForeground 101", "SetForeground 100",
                                                     "BringToTop 100", "SetActive 101", "Show 101", "SetFocus 101"}));
  EXPECT_TRUE(Logged("    Activate: Parent level #1 activation, IsIconic=0"));
}

TEST_F(WindowMatchTest, UseWindowFailures) {
  struct Case {
    const char* text;
    const char* options;
    const char* error;
  };
  const Case cases[] = {
      {"", "Title", "Missing window information"},
      {"nothing here", "Partial Title", "Unable to find window 'nothing here'"},
      {"Report", "Title", "There are 2 top-level windows that match the search criteria"},
      {"Button", "Class", "There are 2 child windows that match the search criteria"},
  };
  WriteSetting("*\\MultipleWindowError", 1);
  for (const Case& c : cases) {
    EXPECT_EQ(Use(c.text, c.options), 0) << c.text;
    EXPECT_EQ(error, c.error);
  }
  EXPECT_EQ(Use("Report", "Title,First"), 1);  // the last match
  EXPECT_EQ(CurrentWindow(), 103u);
}

TEST_F(WindowMatchTest, UseWindowByPositionZOrderAndFocus) {
  desktop.foreground = 100;
  desktop.focus = 101;
  struct Case {
    const char* text;
    const char* options;
    WindowId expected;
  };
  const Case cases[] = {
      {"0", "Z-Order", 100},  {"1", "Z-Order", 102}, {"3", "Z-Order", 106}, {"99", "Z-Order", 120},
      {"", "Focus", 101},      {"550,10", "Top-Level X,Y", 102}, {"20,515", "Child X,Y", 104},
      {"10,10", "Child X,Y Parent-Relative", 104},
      // A window holds its left and top edges, not its right and bottom ones.
      {"500,199", "Top-Level X,Y", 102}, {"700,10", "Top-Level X,Y", 0xDE5C}, {"600,200", "Top-Level X,Y", 0xDE5C},
  };
  desktop.Add({120, 0, "Anchor", "Anchor", 0, 0, kFrameStyle, {10, 505, 10, 10}});
  for (const Case& c : cases) {
    RunShared().current_window = 120;
    EXPECT_EQ(Use(c.text, c.options), 1) << c.options << " " << c.text;
    EXPECT_EQ(CurrentWindow(), c.expected) << c.options << " " << c.text;
  }
}

TEST_F(WindowMatchTest, ResolveStepWindow) {
  desktop.foreground = 102;
  auto resolve = [&](const char* options, const char* text) {
    Document(0).steps.assign(1, Step());
    Document(0).steps[0].options = options;
    Document(0).steps[0].category = 3;
    ClearStepError();
    return ResolveStepWindow(0, 0, text);
  };
  EXPECT_EQ(resolve("Title", "MyAfx"), 106u);
  EXPECT_EQ(resolve("Title", "viewer"), 102u);
  EXPECT_EQ(resolve("Handle", "0x1A2B"), 6699u);
  EXPECT_EQ(resolve("HWND", "1A2Bh"), 6699u);
  EXPECT_EQ(resolve("Handle", "6699"), 6699u);
  EXPECT_EQ(resolve("Handle", "12345"), 0u);
  EXPECT_EQ(StepError(), "Unable to find window '12345'");
  EXPECT_EQ(resolve("", ""), 102u);  // no current window: the foreground
  RunShared().current_window = 106;
  EXPECT_EQ(resolve("Use Title", "Notepad"), 106u);
  EXPECT_EQ(resolve("Top", ""), 102u);
}

TEST_F(WindowMatchTest, ControlKinds) {
  struct Case {
    const char* class_name;
    std::uint32_t style;
    ControlKind kind;
  };
  const Case cases[] = {
      {"Static", 0, ControlKind::Static},        {"Button", 7, ControlKind::Static},
      {"Edit", 0x4, ControlKind::MultilineEdit}, {"RichEdit20A", 0, ControlKind::Edit},
      {"SysTreeView32", 0, ControlKind::Treeview}, {"SysListView32", 0, ControlKind::Listview},
      {"ComboBox", 0, ControlKind::ComboBox},    {"ComboLBox", 0, ControlKind::Unknown},
      {"ListBox", 0, ControlKind::Listbox},      {"ScrollBar", 0, ControlKind::Scrollbar},
      {"Button", 4, ControlKind::RadioButton},   {"Button", 9, ControlKind::RadioButton},
      {"Button", 3, ControlKind::Checkbox},      {"Button", 6, ControlKind::Checkbox},
      {"Button", 1, ControlKind::Button},        {"Button", 11, ControlKind::Button},
      {"Whatever", 0, ControlKind::Unknown},
  };
  for (const Case& c : cases) {
    const WindowId w = desktop.Add({0, 100, "", c.class_name, 0, 0, kChildStyle | c.style});
    EXPECT_EQ(GetControlKind(w), c.kind) << c.class_name << c.style;
  }
  EXPECT_EQ(GetControlKind(424242), ControlKind::Unknown);
}

}  // namespace
}  // namespace olvex::test
