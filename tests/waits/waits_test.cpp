// The Wait category run as scripts: the main loop is served on the test
// thread, as the runtime serves it, while a helper thread makes the
// condition come true. The file and folder waits are the script case
// waits/file_events, where a second runtime makes their events.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "engine/document.h"
#include "engine/main_loop.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "input/waits.h"
#include "platform/autorun.h"
#include "platform/input.h"
#include "platform/locale.h"
#include "platform/module.h"
#include "platform/priority.h"
#include "tests/support/case_table.h"
#include "tests/support/script_test.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/fake_screen.h"
#include "vars/variables.h"
#include "windows/window_match.h"

namespace olvex::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string Step(const std::string& action, const std::string& fields) {
  return "<step><action>" + action + "</action>" + fields + "<onfail>IGNORE</onfail></step>\n";
}

class FakeAutoRun : public platform::AutoRun {
 public:
  FakeAutoRun() { platform::SetAutoRunForTest(this); }
  ~FakeAutoRun() override { platform::SetAutoRunForTest(nullptr); }
  std::optional<std::string> Read(const std::string& name) override {
    return entries.count(name) ? std::optional<std::string>(entries[name]) : std::nullopt;
  }
  bool Write(const std::string& name, const std::string& command) override { return ++writes, entries[name] = command, true; }
  bool Remove(const std::string& name) override { return entries.erase(name), true; }
  std::map<std::string, std::string> entries;
  int writes = 0;
};

class WaitsTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    WriteSetting("*\\LogLevel", 1);
    script_name_ = "waits.oxm";
  }
  int ResultOf(int step) const { return Document(0).steps[static_cast<std::size_t>(step)].run_result; }
};

// A stop ends every kind of wait long before the 3500 ms forced stop, and
// the run stops at the waiting step (a wait without time-out: the script
// case waits/stopped).
TEST_F(WaitsTest, AStopEndsEveryWait) {
  const std::string waits[] = {
      Step("Delay", "<timeout>60</timeout>"),
      Step("Wait for File", "<text>" + dir().File("never") + "</text><options>Exist</options><timeout>60</timeout>"),
      Step("Wait for Folder", "<text>" + dir().path().string() + "</text><timeout>60</timeout>"),
      Step("Wait for Date/Time", "<value1>1/1/2099</value1><text>12:00:00</text><timeout>60</timeout>"),
  };
  for (const std::string& wait : waits) {
    SCOPED_TRACE(wait);
    const auto took = Run(wait + Step("Comment", "<text>after</text>"), [] {
      std::this_thread::sleep_for(300ms);
      RequestStop(false);
    });
    EXPECT_LT(took, 3000ms);
    EXPECT_NE(Log().find("Stopping run at [STEP 1]"), std::string::npos);
    EXPECT_EQ(Log().find("forcibly"), std::string::npos);
    EXPECT_EQ(ResultOf(1), 0);
  }
}

TEST_F(WaitsTest, DelayAndDateTimeWaitForTheirMoment) {
  const platform::LocalDateTime now = platform::locale().Now();
  char soon[32];
  const int seconds = now.hour * 3600 + now.minute * 60 + now.second + 3;
  std::snprintf(soon, sizeof soon, "%d:%02d:%02d", seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
  const auto took = Run(Step("Delay", "<timeout>=0.25*2</timeout>") +
                        Step("Wait for Date/Time", std::string("<text>") + soon + "</text><timeout>20</timeout>") +
      Step("Wait for Date/Time", "<value1>1/2/2020</value1><text>12:00:00</text><timeout>20</timeout>"));
  EXPECT_GE(took, 2000ms);
  EXPECT_EQ(ResultOf(0), 2);
  EXPECT_EQ(ResultOf(1), 2);
  EXPECT_EQ(ResultOf(2), 2);
  const std::string log = Log();
  EXPECT_NE(log.find("    \"Wait for Date/Time\" Duration Remaining: "), std::string::npos);
  EXPECT_NE(log.find("    \"Wait for Date/Time\" Done!  Final Comparison: 2020-01-02 12:00:00 --> "), std::string::npos);
}

// What Wait for Restart registers, and when; the entry is named after the
// script's file and runs it again from the next step.
TEST_F(WaitsTest, RestartRegistersTheScriptToRunFromTheNextStep) {
  FakeAutoRun autorun;
  Load(Step("Comment", "") + Step("Wait for Restart", "") + Step("Wait for Restart", "<options>Remove</options>") +
       Step("Wait for Restart", "<options>Temp</options>") + Step("Wait for Restart", "<options>Permanent</options>"));
  Document(0).file_name = dir().File("job.oxm");
  EXPECT_EQ(HandleWaitStep(0, 1), 1);
  const std::string expected = "\"" + platform::ModulePath() + "\" -r \"" + dir().File("job.oxm") + "\" -s 3";
  ASSERT_EQ(autorun.entries.count("job.oxm"), 1u);
  EXPECT_EQ(autorun.entries["job.oxm"], expected);
  EXPECT_EQ(HandleWaitStep(0, 2), 1);  // Remove
  EXPECT_TRUE(autorun.entries.empty());
  EXPECT_EQ(HandleWaitStep(0, 3), 1);  // Temp, none yet: written
  EXPECT_EQ(autorun.entries["job.oxm"], "\"" + platform::ModulePath() + "\" -r \"" + dir().File("job.oxm") + "\" -s 5");
  // An entry exists and this runtime may have been started from it: a
  // temporary entry is used up, a permanent one stays as it is.
  EXPECT_EQ(HandleWaitStep(0, 4), 1);
  EXPECT_EQ(autorun.writes, 2);
  EXPECT_EQ(HandleWaitStep(0, 3), 1);
  EXPECT_TRUE(autorun.entries.empty());
}

TEST_F(WaitsTest, DateTimeWithRestartHoldsTheEntryOnlyWhileItWaits) {
  FakeAutoRun autorun;
  std::optional<std::string> during;
  Run(Step("Wait for Date/Time", "<value1>1/1/2099</value1><options>restart</options><timeout>=1.5</timeout>"),
      [&] {
        std::this_thread::sleep_for(500ms);
        during = autorun.Read("waits.oxm");
      });
  EXPECT_EQ(ResultOf(0), 4);
  EXPECT_TRUE(during.has_value());
  EXPECT_TRUE(autorun.entries.empty());
}

// ---- the desktop waits, against fakes

// The keys and the cursor, read on the worker (key and mouse waits) and on
// the main thread (typed text, idleness) while a helper changes them. A
// press that no poll saw held is reported once, as the system reports it.
class FakeInput : public platform::Input {
 public:
  FakeInput() { platform::SetInputForTest(this); }
  ~FakeInput() override { platform::SetInputForTest(nullptr); }
  // Any query of a key clears its pressed mark, as the system's does.
  bool IsKeyDown(int key) override { return QueryKey(key).down; }
  KeyState QueryKey(int key) override {
    return {key == down.load(), key != 0 && pressed.compare_exchange_strong(key, 0)};
  }
  bool IsKeyToggled(int) override { return false; }
  std::optional<platform::Point> CursorPosition() override { return platform::Point{x.load(), 10}; }
  std::atomic<int> down{0}, pressed{0};
  std::atomic<long> x{10};
};

// Each desktop wait ends on its event (a helper makes it happen after a
// while) and fails at its time-out without it. The screen, the clipboard and
// the windows change on the main thread, where the polls read them.
TEST_F(WaitsTest, DesktopWaitsEndOnTheirEvent) {
  PaintedScreen screen(200, 100, 0x808080);
  FakeInput input;
  FakeClipboard clipboard;
  FakeDesktop desktop;
  const auto type = [&input](const std::string& keys, bool held) {
    for (const char key : keys) {
      input.pressed = key;
      if (held) input.down = key;
      std::this_thread::sleep_for(40ms);
      input.down = 0;
      std::this_thread::sleep_for(40ms);
    }
  };
  const auto on_main = [](std::function<void()> change) { PostToMainThread(std::move(change)); };
  const auto open = [&desktop] { desktop.Add({0x50, 0, "Target Frame", "OlvexTarget", 0, 0, kFrameStyle}); };
  for (const CaseRow& row : CaseSection("tests/waits/desktop_wait_cases.txt", "waits", 6)) {
    SCOPED_TRACE(row.where + row.fields[0] + " " + row.fields[2]);
    const std::string& event = row.fields[2];
    const std::string word = event.substr(0, event.find(' ')), rest = event.substr(event.find(' ') + 1);
    const bool window_before = row.fields[4] == "window open", met = row.fields[3] == "met";
    input.down = 0;
    input.pressed = 0;
    input.x = 10;
    clipboard.SetText("");
    screen.Paint(100, 50, 1, 1, {0x808080});
    desktop.windows.clear();
    SetCurrentWindow(0);
    WriteUserVariable("Found", "");
    if (window_before) open();
    Run(Step(row.fields[0], row.fields[1]), [&] {
      std::this_thread::sleep_for(600ms);
      if (word == "hold") input.down = std::stoi(rest, nullptr, 16);
      if (word == "type" || word == "tap") type(rest, word == "type");
      if (word == "move") input.x = 50;
      if (word == "copy") on_main([&clipboard, rest] { clipboard.SetText(rest); });
      if (word == "open") on_main(open);
      if (word == "close") on_main([&desktop] { desktop.Destroy(0x50); });
      if (word == "paint") on_main([&screen] { screen.Paint(100, 50, 1, 1, {0x0000FF}); });
    });
    EXPECT_EQ(ResultOf(0), met ? 2 : 4) << Log();
    EXPECT_EQ(ReadUserVariable("Found").value_or(""), row.fields[5]);
    if (met && !window_before && row.fields[0] == "Wait for Window") {
      EXPECT_EQ(CurrentWindow(), 0x50u);
    }
  }
}

}  // namespace
}  // namespace olvex::test
