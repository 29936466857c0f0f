// Loops and GOSUB where a fake source, real windows or a deep stack is needed,
// run through the step loop (or step by step); the rest runs as script cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/control.h"
#include "engine/document.h"
#include "engine/expansion_host.h"
#include "engine/flow.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "platform/files.h"
#include "platform/windows.h"
#include "tests/settings/store_sandbox.h"
#include "vars/expand.h"
#include "vars/registry_value.h"
#include "vars/variables.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace olvex::test {
namespace {

std::string Values(const std::string& v1, const std::string& v2 = "") {
  return "<value1>" + v1 + "</value1><value2>" + v2 + "</value2>";
}

class FlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseAllDocuments();
    InstallExpander();
    InstallRunExpansionHost("");
    SetLogLevel(0);
    SetLogObserver([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(line);
    });
    RunShared().exit_code.store(kExitCodeNotSet);
    // A failed step ends the run; its error is kept.
    SetFailureHandler([this](int, int step_index) {
      std::lock_guard<std::mutex> lock(mutex_);
      errors_.push_back("[STEP " + std::to_string(step_index + 1) + "] " + StepError());
      ClearStepError();
      return -1;
    });
  }
  void TearDown() override {
    SetFailureHandler(nullptr);
    SetLogObserver(nullptr);
    SetRunRepeats(0, 0);
    SetDatasetSource(nullptr);
    SetMessageSource(nullptr);
    platform::SetWindowsForTest(nullptr);
    ReleaseLoopWork();
    ClearControlState();
    RunShared().exit_code.store(kExitCodeNotSet);
    CloseAllDocuments();
    SetExpansionHost(nullptr);
  }
  void Load(const std::string& steps) {
    CloseAllDocuments();
    ASSERT_EQ(ParseSteps(steps, 0, -1, 0).status, ParseStatus::Parsed);
    FixUpDocument(0);
    Document(0).file_name = sandbox_.dir().File("case.oxm");
  }
  void Run(int level = 1) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.clear();
      errors_.clear();
    }
    WriteSetting("*\\LogLevel", level);
    StartRun(0, kCommandNewRun, false, 0, 0);
    ASSERT_TRUE(WaitForWorkers());
  }
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  bool Logged(const std::string& line) {
    const auto log = Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  std::size_t CountLines(const std::string& part) {
    std::size_t n = 0;
    for (const auto& line : Log()) n += line.find(part) != std::string::npos;
    return n;
  }
  // The values saved to variable `name`, in order (from the output lines).
  std::vector<std::string> Saved(const std::string& name) {
    std::vector<std::string> values;
    const std::string head = "    %" + name + " = \"";
    for (const auto& line : Log()) {
      if (line.rfind(head, 0) != 0) continue;
      const std::size_t end = line.find('"', head.size());
      values.push_back(line.substr(head.size(), end - head.size()));
    }
    return values;
  }
  // Runs step `index` alone, as the step loop would, and returns the next index.
  int Pass(int index) {
    RunShared().next_step.store(-1);
    EXPECT_EQ(HandleFlowStep(0, index), 1);
    const int next = RunShared().next_step.load();
    return next >= 0 ? next : index + 1;
  }

  StoreSandbox sandbox_;
  std::mutex mutex_;
  std::vector<std::string> log_;
  std::vector<std::string> errors_;
};

using Strings = std::vector<std::string>;

TEST_F(FlowTest, TheGosubStackKeepsSixtyThreeCallersAndOverwritesTheTop) {
  std::string steps;
  for (int i = 0; i < 64; ++i) steps += StepText("GOSUB Label", "{STEP66}");
  steps += StepText("Comment", "") + StepText("Return from GOSUB", "");
  Load(steps);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(Pass(i), 65);
  EXPECT_EQ(Control().gosub_depth, 63);
  EXPECT_EQ(CountLines("    GOSUB stack depth: 63"), 2u);
  EXPECT_EQ(Control().gosub_callers[63], 63);  // the 64th call overwrote the 63rd
  EXPECT_EQ(Control().gosub_callers[62], 61);
  EXPECT_EQ(Pass(65), 64);
  EXPECT_EQ(Pass(65), 62);
  EXPECT_EQ(Control().gosub_depth, 61);

  // A hundred thousand calls without a return stay within the stack.
  Load(StepText("GOSUB Label", "{STEP1}"));
  SetLogObserver(nullptr);
  for (int i = 0; i < 100000; ++i) ASSERT_EQ(Pass(0), 0);
  EXPECT_EQ(Control().gosub_depth, 63);
  EXPECT_EQ(Control().gosub_callers[63], 0);
}

TEST_F(FlowTest, FileLineLoopsReadLongLinesInPieces) {
  const std::string long_line(200000, 'x');
  sandbox_.dir().Write("long.txt", "short\n" + long_line + "\r\nend");
  Load(StepText("Start File Line Loop", "long.txt", VariableOutput("l")) + StepText("NEXT LOOP", ""));
  Run();
  EXPECT_EQ(ReadUserVariable("l"), "end");
  EXPECT_TRUE(Logged("    END OF LOOP from [Step 1], Final Value: 4, Total Loops: 3, Continuing with [Step 3]..."));
  EXPECT_NE(CountLines("(200000 bytes)"), 0u);
}

// A desktop of five top-level windows; the first has two controls.
class FakeWindows : public platform::Windows {
 public:
  struct W { std::string title; bool visible, frame; platform::WindowId parent; };
  std::map<platform::WindowId, W> all = {{11, {"Alpha", true, true, 0}},  {12, {"Hidden", false, true, 0}},
                                         {13, {"Popup", true, false, 0}}, {14, {"Owned", true, true, 11}},
                                         {15, {"Beta", true, true, 0}},   {21, {"OK", true, false, 11}},
                                         {22, {"Cancel", true, false, 11}}};
  platform::WindowId FindTopLevel(const std::string&, const std::string&) override { return 0; }
  bool Exists(platform::WindowId w) override { return all.count(w) != 0; }
  platform::WindowId Foreground() override { return 15; }
  platform::WindowId NextInZOrder(platform::WindowId w) override {
    if (w == 0) return 11;
    if (w == 15 || w == 22) return 0;
    return w + 1;
  }
  bool IsVisible(platform::WindowId w) override { return all[w].visible; }
  std::string Title(platform::WindowId w, std::size_t, int) override { return all[w].title; }
  bool Activate(platform::WindowId) override { return true; }
  bool PostClose(platform::WindowId) override { return true; }
  bool Destroy(platform::WindowId) override { return true; }
  platform::WindowId FirstChild(platform::WindowId w) override { return w == 11 ? 21 : 0; }
  platform::WindowId Parent(platform::WindowId w) override { return all[w].parent; }
  bool HasFrame(platform::WindowId w) override { return all[w].frame; }
};

TEST_F(FlowTest, WindowsLoopsWalkFramedTopLevelWindowsEveryWindowOrControls) {
  FakeWindows fake;
  platform::SetWindowsForTest(&fake);
  Load(StepText("Start Windows Loop", "", VariableOutput("t")) + StepText("NEXT LOOP", "") +
       StepText("Start Windows Loop", "", OptionsField("Child,handle") + VariableOutput("h")) + StepText("NEXT LOOP", "") +
       StepText("Start Windows Loop", "", OptionsField("Controls") + Values("11") + VariableOutput("c")) + StepText("NEXT LOOP", "") +
       StepText("Start Windows Loop", "", Values("13") + VariableOutput("from")) + StepText("NEXT LOOP", ""));
  Run();
  EXPECT_EQ(Saved("t"), (Strings{"Alpha", "Beta"}));
  EXPECT_EQ(Saved("h"), (Strings{"11", "12", "13", "14", "15"}));
  EXPECT_EQ(Saved("c"), (Strings{"OK", "Cancel"}));
  EXPECT_EQ(Saved("from"), (Strings{"Beta"}));
  platform::SetWindowsForTest(nullptr);
#ifndef _WIN32
  Load(StepText("Start Windows Loop", "", VariableOutput("none")) + StepText("NEXT LOOP", ""));
  Run();
  EXPECT_TRUE(Saved("none").empty());  // no desktop: the loop ends at once
#endif
}

#ifdef _WIN32
TEST_F(FlowTest, WindowsLoopsSeeRealWindows) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  auto make = [&](const char* title, DWORD style, HWND parent) {
    return CreateWindowExA(0, parent ? "BUTTON" : "STATIC", title, style, 10, 10, 200, 100, parent, nullptr, instance,
                           nullptr);
  };
  HWND framed = make("OlvexLoopFramed", WS_OVERLAPPEDWINDOW | WS_VISIBLE, nullptr);
  HWND popup = make("OlvexLoopPopup", WS_POPUP | WS_VISIBLE, nullptr);
  HWND hidden = make("OlvexLoopHidden", WS_OVERLAPPEDWINDOW, nullptr);
  HWND one = make("One", WS_CHILD | WS_VISIBLE, framed);
  HWND two = make("Two", WS_CHILD | WS_VISIBLE, framed);
  ASSERT_TRUE(framed && popup && hidden && one && two);
  const std::string parent = std::to_string(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(framed)));
  Load(StepText("Start Windows Loop", "", VariableOutput("t")) + StepText("NEXT LOOP", "") +
       StepText("Start Windows Loop", "", OptionsField("Child") + VariableOutput("all")) + StepText("NEXT LOOP", "") +
       StepText("Start Windows Loop", "", OptionsField("Controls") + Values(parent) + VariableOutput("c")) + StepText("NEXT LOOP", ""));
  // Step by step on this thread, which owns the windows and answers their titles.
  for (int i = 0, guard = 0; i < 6 && guard < 100000; ++guard) i = Pass(i);
  auto has = [](const Strings& items, const std::string& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
  };
  const Strings top = Saved("t"), all = Saved("all");
  EXPECT_TRUE(has(top, "OlvexLoopFramed"));
  EXPECT_FALSE(has(top, "OlvexLoopPopup"));
  EXPECT_FALSE(has(top, "OlvexLoopHidden"));
  EXPECT_TRUE(has(all, "OlvexLoopPopup"));
  EXPECT_TRUE(has(all, "OlvexLoopHidden"));
  EXPECT_EQ(Saved("c"), (Strings{"One", "Two"}));
  for (HWND w : {framed, popup, hidden}) DestroyWindow(w);
}
#endif

TEST_F(FlowTest, DatasetAndMessageLoopsReadTheirSourcesAndEndWithoutThem) {
  Load(StepText("Start Dataset Loop", "", VariableOutput("row")) + StepText("NEXT LOOP", "") + StepText("Start Message Loop", "", VariableOutput("msg")) +
       StepText("NEXT LOOP", ""));
  Document(0).steps[2].category = 13;  // not in the catalog while no message window exists
  Run();
  EXPECT_TRUE(Saved("row").empty());
  EXPECT_TRUE(Saved("msg").empty());
  EXPECT_TRUE(Logged("    END OF LOOP from [Step 3], Final Value: 1, Total Loops: 0, Continuing with [Step 5]..."));

  SetDatasetSource([] {
    DatasetCopy copy;
    std::vector<std::string> wide;
    for (int c = 1; c <= 17; ++c) wide.push_back(std::to_string(c));
    copy.rows = {{"a", "b"}, wide};
    return std::optional<DatasetCopy>(copy);
  });
  int polls = 0;
  SetMessageSource([&polls] {
    ++polls;
    MessagePoll poll;
    poll.window_exists = polls < 5;
    if (polls == 2) poll.message = "first";
    if (polls == 3) poll.message = "second";
    return poll;
  });
  Run();
  EXPECT_EQ(Saved("row"), (Strings{"a, b", "1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16"}));
  EXPECT_TRUE(Logged("    END OF LOOP from [Step 1], Final Value: 3, Total Loops: 2, Continuing with [Step 3]..."));
  EXPECT_EQ(Saved("msg"), (Strings{"first", "second"}));
  EXPECT_EQ(polls, 5);
}

TEST(FileListing, WildcardsMatchTheWindowsWay) {
  struct Case { const char* pattern; const char* name; bool match; } cases[] = {
      {"*.*", "Makefile", true},   {"*", ".hidden", true},       {"*.txt", "A.TXT", true},
      {"*.txt", "a.txt.bak", false}, {"a?c", "abc", true},        {"a?c", "ac", false},
      {"readme.*", "readme", true}, {"readme.*", "readme.md", true}, {"*.", "Makefile", true},
      {"*.", "a.b", false},        {"*a*b*", "xxaYYbzz", true},  {"*a*b", "xxaYYbzz", false},
      {"d.txt", "D.Txt", true},    {"", "x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::MatchesWildcard(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
  std::vector<platform::FolderEntry> entries;
  EXPECT_FALSE(platform::ListFolder(ScratchDir().File("no such folder"), "*", &entries));
}

}  // namespace
}  // namespace olvex::test
