// The User Prompts category run through the step loop: what each step asks
// the dialogs service for and what it makes of the answer (a recording fake),
// the password memory, and the real prompts: on Windows answered by the box
// answerer, on Linux on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "engine/control.h"
#include "engine/document.h"
#include "engine/expansion_host.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "engine/text.h"
#include "platform/dialogs.h"
#include "platform/environment.h"
#include "platform/locale.h"
#include "prompts/prompt_actions.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/script_test.h"
#include "vars/expand.h"
#include "vars/registry_value.h"
#include "vars/variables.h"
#ifdef _WIN32
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <future>

#include "tests/support/box_answerer.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#endif

namespace olvex::test {
namespace {

using Strings = std::vector<std::string>;
using platform::InputKind;
namespace box = platform::box;

std::string Title(const std::string& title) { return "<value1>" + title + "</value1>"; }

class PromptsTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    InstallExpander();
    InstallRunExpansionHost("");
    SetLogLevel(0);
    SetFailureHandler([this](int, int step_index) {
      errors_.push_back("[STEP " + std::to_string(step_index + 1) + "] " + StepError());
      ClearStepError();
      return step_index + 1;
    });
  }
  void TearDown() override {
    SetFailureHandler(nullptr);
    ClearControlState();
    ScriptTest::TearDown();
    SetExpansionHost(nullptr);
  }
  // Runs on the workers alone; `adjust` may change the parsed steps before the run.
  void Run(const std::string& steps, const std::function<void(ScriptDocument&)>& adjust = {}) {
    Load(steps);
    if (adjust) adjust(Document(0));
    errors_.clear();
    StartRun(0, kCommandNewRun, false, 0, 0);
    ASSERT_TRUE(WaitForWorkers());
  }
  std::string Var(const std::string& name) { return ReadUserVariable(name).value_or("(missing)"); }

  Strings errors_;
};

TEST_F(PromptsTest, MessageBoxesTakeTheirStyleFromTheActionAndOptionsAndSaveTheButton) {
  struct Row {
    std::string action, options;
    int answer;
    unsigned style;
    std::string output;
  };
  const unsigned fg = box::kSetForeground;
  const std::vector<Row> rows = {
      {"Display Message", "", box::kAnswerOk, box::kIconInformation | fg, "(missing)"},
      {"Display Warning", "top", box::kAnswerOk, box::kIconExclamation | box::kTopmost | box::kSystemModal | fg, "(missing)"},
      {"Ask Yes/No Question", "", box::kAnswerNo, box::kYesNo | box::kIconQuestion | fg, "0"},
      {"Ask Yes/No Question", "", box::kAnswerYes, box::kYesNo | box::kIconQuestion | fg, "1"},
      {"Ask Yes/No Question", "", 0, box::kYesNo | box::kIconQuestion | fg, "0"},  // the time-out
      {"Custom Message", "Yes,Cancel,QUESTION", box::kAnswerNo, box::kYesNoCancel | box::kIconQuestion | fg, "7"},
      // "STOP" holds "top": the box is topmost too.
      {"Custom Message", "Abort,STOP", box::kAnswerRetry,
       box::kAbortRetryIgnore | box::kIconStop | box::kTopmost | box::kSystemModal | fg, "4"},
      {"Custom Message", "OK,Cancel,INFO", box::kAnswerCancel, box::kOkCancel | box::kIconInformation | fg, "2"},
      {"Custom Message", "Retry,WARN", box::kAnswerRetry, box::kRetryCancel | box::kIconExclamation | fg, "4"},
      {"Custom Message", "Yes", box::kAnswerYes, box::kYesNo | fg, "6"},
      {"Custom Message", "", box::kAnswerOk, box::kOk | fg, "1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.action + " " + row.options);
    RecordingDialogs dialogs;
    dialogs.answers = {row.answer};
    RegistryDelete("*\\UserVariables\\out");
    Run(StepText(row.action, "Hello", Title("Note") + OptionsField(row.options) + VariableOutput("out")));
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].style, row.style);
    EXPECT_EQ(dialogs.boxes[0].title, "Note");
    EXPECT_EQ(Var("out"), row.output);
    EXPECT_EQ(LastPromptResult(), row.answer);
  }
  for (const std::size_t size : {4095u, 4096u}) {
    RecordingDialogs dialogs;
    Run(StepText("Display Message", std::string(size, 'x')));
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, size < 4096 ? std::string(size, 'x') : std::string(3840, 'x') + "<<MESSAGE TRUNCATED>>");
  }
}

TEST_F(PromptsTest, ListsSplitAtTheirSeparatorAndTheFirstItemIsThePrompt) {
  struct Row {
    std::string text;
    std::string prompt;
    Strings choices;
  };
  const std::vector<Row> rows = {
      {"Pick;Red;Green;Blue", "\nPick", {"Red", "Green", "Blue"}},
      {"Pick;\r\nRed\r\nGreen", "\nPick;", {"Red", "Green"}},  // one ";": line breaks separate
      {"Pick\rRed\rGreen", "\nPick", {"Red", "Green"}},
      {"Pick,Red,Green", "\nPick", {"Red", "Green"}},
      {"Pick;Red", "\nPick", {"Red"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    RecordingDialogs dialogs;
    Run(StepText("Select from List", row.text, VariableOutput("colour")));
    ASSERT_EQ(dialogs.inputs.size(), 1u);
    EXPECT_EQ(dialogs.inputs[0].kind, InputKind::kList);
    EXPECT_EQ(dialogs.inputs[0].prompt, row.prompt);
    EXPECT_EQ(dialogs.inputs[0].choices, row.choices);
  }
}

// What the input, file and folder dialogs are asked with; their answers, from
// the answers file, are the script case prompts/answered.
TEST_F(PromptsTest, InputDialogsStartFromTheVariableAndWhereTheLastOneClosed) {
  RecordingDialogs dialogs;
  WriteUserVariable("name", "abc");
  WriteUserVariable("login_username", "bob");
  platform::InputReply ok, file;
  ok.ok = file.ok = true;
  ok.answer = "Ann";
  ok.position = platform::DialogRect{10, 20, 310, 220};
  file.answer = "notes.txt";
  dialogs.input_replies = {ok, {}, {}, file};
  // Without an output the login's user name field starts with the stored name.
  Run(StepText("Input Value", "Your name?", Title("Who") + VariableOutput("name")) +
      StepText("Input Value", "Town?", VariableOutput("town") + OptionsField("Multi,Top,Courier")) +
      StepText("Login Prompt", "") +
      StepText("Select File", "Text Files (*.txt)", VariableOutput("file") + "<timeout>1</timeout>") +
      StepText("Select File", "All (*.*)", OptionsField("Save")) + StepText("Select Folder", "", OptionsField("Multi")));
  ASSERT_EQ(dialogs.inputs.size(), 6u);
  EXPECT_EQ(dialogs.inputs[0].title, "Who");
  EXPECT_EQ(dialogs.inputs[0].prompt, "\nYour name?");
  EXPECT_EQ(dialogs.inputs[0].initial, "abc");
  EXPECT_FALSE(dialogs.inputs[0].position);
  EXPECT_EQ(dialogs.inputs[1].title, "Olvex Message");
  EXPECT_EQ(dialogs.inputs[1].kind, InputKind::kMultiLine);
  EXPECT_EQ(dialogs.inputs[1].initial, "");  // the variable does not exist
  EXPECT_EQ(dialogs.inputs[1].flags, platform::prompt_flag::kTop | platform::prompt_flag::kCourier);
  EXPECT_EQ(dialogs.inputs[1].position, (platform::DialogRect{10, 20, 310, 220}));  // where the first one closed
  EXPECT_EQ(dialogs.inputs[2].kind, InputKind::kLogin);
  EXPECT_EQ(dialogs.inputs[2].initial, "bob");
  using Filters = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(dialogs.inputs[3].filters, (Filters{{"Text Files (*.txt)", "*.txt"}, {"All Files (*.*)", "*.*"}}));
  EXPECT_EQ(dialogs.inputs[3].timeout_ms, 1500);
  EXPECT_EQ(dialogs.inputs[4].kind, InputKind::kSaveFile);
  EXPECT_EQ(dialogs.inputs[4].filters, (Filters{{"All (*.*)", "*.*"}}));
  EXPECT_EQ(dialogs.inputs[5].kind, InputKind::kFolder);
  EXPECT_EQ(Var("file"), "notes.txt");
}

TEST_F(PromptsTest, CustomDialogRowsTakeTheirDefaultsFromTheVariable) {
  using platform::RowKind;
  RecordingDialogs dialogs;
  WriteUserVariable("form", "abc;CHECKED;NOT CHECKED;Gr");
  dialogs.custom_reply.result = platform::custom_dialog::kFirstRowButton + 4;
  dialogs.custom_reply.values = {"Ann", std::nullopt, "checked", "false", "Go"};
  Run(StepText("Custom Dialog", "Name:||Remember me|Keep| Go ",
           Title("Form") + "<value2>EDIT</value2><value4>CHECKBOX</value4><value5>CHECK</value5><value6>BUTTON</value6>" +
               VariableOutput("form")) +
      StepText("Custom Dialog", "Colour:;Red;Green;Blue|Visit <a href=\"http://x.example\">the site</a>",
           "<value2>LIST</value2><value3>LINK</value3>" + VariableOutput("form")));
  ASSERT_EQ(dialogs.custom_dialogs.size(), 2u);
  const auto& rows = dialogs.custom_dialogs[0].rows;
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].kind, RowKind::kEdit);
  EXPECT_EQ(rows[0].value, "abc");
  EXPECT_EQ(rows[1].kind, RowKind::kNone);  // an empty row takes no default
  EXPECT_TRUE(rows[2].checked);
  EXPECT_FALSE(rows[3].checked);  // "NOT CHECKED"
  EXPECT_EQ(rows[4].kind, RowKind::kButton);
  const auto& second = dialogs.custom_dialogs[1].rows;
  EXPECT_EQ(second[0].text, "Colour:");
  EXPECT_EQ(second[0].choices, (Strings{"Red", "Green", "Blue"}));
  EXPECT_EQ(second[0].value, "");  // no entry begins with "Ann"
  EXPECT_EQ(second[1].text, "the site");
  EXPECT_EQ(second[1].value, "http://x.example");
  EXPECT_EQ(Var("form"), "Ann;checked;false;Go");
}

TEST_F(PromptsTest, DisplaysTakeTheirSizeBarPositionAndTimeOut) {
  using platform::NoticeKind;
  RecordingDialogs dialogs;
  const std::string image = dir().Write("dot.bmp", "BM");
  Run(StepText("Progress Bar Popup", "75 %done", "<value1>10</value1><value2>500</value2>") +
      StepText("Status Popup", "Working", "<value1>400</value1>" + OptionsField("top")) + StepText("Status Popup", " \t") +
      StepText("Balloon Popup", "Hi", "<timeout>3</timeout>") +
      StepText("Balloon Popup", "Hi", OptionsField("Float") + "<value2>2,-2</value2>") +
      StepText("Screen Message", "Look", "<value1>40,50</value1><timeout>2</timeout>") +
      StepText("Tray Icon", "Olvex", OptionsField("Remove")) + StepText("Display Image", "dot.bmp") +
      StepText("Display Image", "missing.bmp"));
  // The status popup 100 ms after the progress popup is left out; closing it is not.
  ASSERT_EQ(dialogs.notices.size(), 7u);
  const auto& n = dialogs.notices;
  EXPECT_EQ(n[0].kind, NoticeKind::kProgress);
  EXPECT_EQ(n[0].percent, 75);
  EXPECT_EQ(n[0].width, 350);  // below 11: the default width
  EXPECT_EQ(n[0].height, 500);
  EXPECT_EQ(n[1].kind, NoticeKind::kStatus);
  EXPECT_EQ(n[1].text, "");  // blanks close the popup
  EXPECT_EQ(n[2].timeout_ms, 10000);  // the system's lower limit for tray balloons
  EXPECT_EQ(n[3].kind, NoticeKind::kFloatingBalloon);
  EXPECT_EQ(n[3].timeout_ms, 3000);  // no time-out: 1000 ms, at least 3000
  EXPECT_EQ(std::make_pair(n[3].x, n[3].y), std::make_pair(2, -2));
  EXPECT_EQ(std::make_pair(n[4].x, n[4].y), std::make_pair(40, 50));
  EXPECT_EQ(n[4].timeout_ms, 2000);
  EXPECT_EQ(n[5].text, "");
  EXPECT_EQ(n[6].text, image);
  EXPECT_EQ(errors_, (Strings{"[STEP 9] Image file 'missing.bmp' not found"}));
}

// The Message loop takes what another program sends to the message window
// that the displays open, in order, and ends when the window is closed.
TEST_F(PromptsTest, TheMessageLoopTakesWhatIsSentUntilTheWindowCloses) {
  WriteUserVariable("all", "");
  // A window an earlier test opened is closed first: the sender must find the one this run opens.
#ifdef _WIN32
  const std::string title = "Olvex Messages " + std::to_string(GetCurrentProcessId());
  if (HWND old = FindWindowA("OlvexMessageWindow", title.c_str()))
    SendMessageTimeoutA(old, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
#else
  const std::string pipe = platform::TempFolder().value_or("") + "messages-" + std::to_string(getpid());
  unlink(pipe.c_str());
#endif
  std::thread sender([&] {
#ifdef _WIN32
    HWND window = nullptr;
    for (int i = 0; i < 400 && !(window = FindWindowA("OlvexMessageWindow", title.c_str())); ++i) Sleep(50);
    for (std::string text : {"first", "second"}) {
      COPYDATASTRUCT data{0, static_cast<DWORD>(text.size()), text.data()};
      SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 10000, nullptr);
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
    if (!window) RequestStop(false);  // no window: the loop is not left waiting
#else
    int fd = -1;  // fails until the pipe is there and read
    for (int i = 0; i < 400 && (fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK)) < 0; ++i) usleep(50000);
    if (fd >= 0) {
      for (const std::string part : {"first\nsec", "ond\r\nlast"})  // a last line without its line feed
        (void)!write(fd, part.data(), part.size());
      close(fd);
    }
    if (fd < 0 || unlink(pipe.c_str()) != 0) RequestStop(false);
#endif
  });
  // The display opens the message window.
  Run(StepText("Status Popup", "Listening", "<timeout>1</timeout>") + StepText("Start Text Loop", "", VariableOutput("msg")) +
          StepText("Set Variable", "%all%msg;", VariableOutput("all")) + StepText("NEXT LOOP", "") + StepText("Set Variable", "done", VariableOutput("after")),
      [](ScriptDocument& doc) { doc.steps[1].action = "Start Message Loop"; });
  sender.join();
#ifdef _WIN32
  EXPECT_EQ(Var("all"), "first;second;");
#else
  EXPECT_EQ(Var("all"), "first;second;last;");
#endif
  EXPECT_EQ(Var("after"), "done");
  EXPECT_TRUE(errors_.empty()) << errors_.front();
}

#ifdef _WIN32
// The real dialogs, the system's file and folder dialogs among them, answered as a person would.
TEST_F(PromptsTest, RealPromptsAreAnsweredOnTheDesktop) {
  using Reply = BoxAnswerer::Reply;
  const std::string notes = dir().Write("notes.txt", "x");
  std::string folder = dir().File("");
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  for (char& c : folder)
    if (c == '/') c = '\\';
  // Every prompt has a time-out, so that none waits for ever.
  BoxAnswerer answerer(std::vector<Reply>{
      {box::kAnswerNo, {}, {}, "Continue?"},
      {box::kAnswerRetry, {}, {}, "Try again?"},
      {box::kAnswerOk, {"Ann Smith"}, {}, "Your name?"},
      {box::kAnswerCancel, {"ignored"}, {}, "Town?"},
      {BoxAnswerer::kLeave, {}, {}, "Kept?"},
      {box::kAnswerOk, {}, {1}, "Pick a colour"},
      {box::kAnswerOk, {}, {0, 2}, "Pick sizes"},
      {box::kAnswerOk, {"ann", "s3cret"}, {}, "user name"},
      {BoxAnswerer::kLeave, {}, {}, "Still there?"},
      {1177, {"Ann"}, {}, "Form"},
      {box::kAnswerOk, {}, {}, "Sample Dialog"},
      {box::kAnswerOk, {}, {}, "When?"},
      {box::kAnswerOk, {"one\r\ntwo"}, {}, "Notes?"},
      {box::kAnswerOk, {notes}, {}, "Open a note"},
      {box::kAnswerCancel, {}, {}, "Not this one"},
      {box::kAnswerOk, {}, {}, "Where to?"},
  });
  WriteUserVariable("start", folder);  // the folder browser starts there
  WriteUserVariable("sample", "abc;CHECKED;;Gr");
  WriteUserVariable("date", "2026-12-24");
  const std::string t30 = "<timeout>30</timeout>";
  Run(StepText("Ask Yes/No Question", "Continue?", Title("Question") + VariableOutput("asked") + t30) +
      StepText("Custom Message", "Try again?", Title("Again") + OptionsField("Retry,STOP") + VariableOutput("custom") + t30) +
      StepText("Input Value", "Your name?", VariableOutput("name") + t30) + StepText("Input Value", "Town?", VariableOutput("town") + OptionsField("2x2") + t30) +
      StepText("Input Value", "Kept?", VariableOutput("name") + "<timeout>1</timeout>") +
      StepText("Select from List", "Pick a colour;Red;Green;Blue", VariableOutput("colour") + t30) +
      StepText("Select from List", "Pick sizes;S;M;L", VariableOutput("sizes") + OptionsField("Multi") + t30) +
      StepText("Login Prompt", "", VariableOutput("login") + t30) + StepText("Set Variable", "{login_password}", VariableOutput("memory")) +
      StepText("Ask Yes/No Question", "Still there?", VariableOutput("timed") + "<timeout>1</timeout>") +
      StepText("Custom Dialog", "Name:|Remember me|Done",
           Title("Form") + "<value2>EDIT</value2><value3>CHECKBOX</value3><value4>BUTTON</value4>" + VariableOutput("form") + t30) +
      StepText("Set Variable", "jumped over", VariableOutput("skipped")) + StepText("Label", "Done") +
      StepText("Set Variable", "{command}", VariableOutput("row_button")) +
      StepText("Custom Dialog", "Name:|Remember me|Hello|Colour;Red;Green|&lt;a href=&quot;http://example.com&quot;&gt;Example&lt;/a&gt;",
           Title("Sample Dialog") + OptionsField("Center") +
               "<value2>EDIT</value2><value3>CHECKBOX</value3><value4>LABEL</value4><value5>LIST</value5><value6>LINK</value6>" +
               VariableOutput("sample") + t30) +
      StepText("Select Date", "When?", VariableOutput("date") + t30) + StepText("Input Value", "Notes?", VariableOutput("notes") + OptionsField("Multi") + t30) +
      StepText("Select File", "Text Files (*.txt)", Title("Open a note") + VariableOutput("file") + t30) +
      StepText("Select File", "", Title("Not this one") + VariableOutput("none") + t30) +
      StepText("Set Variable", "{command}", VariableOutput("button")) +
      StepText("Select Folder", "", Title("Where to?") + "<output value=\"start\">Variable</output>" + t30));
  const std::vector<BoxAnswerer::Box> seen = answerer.WaitFor(16, std::chrono::seconds(1));
  ASSERT_GE(seen.size(), 8u) << (errors_.empty() ? "" : errors_.front());
  EXPECT_EQ(seen[0].title, "Question");
  EXPECT_EQ(seen[0].text, "Continue?");
  EXPECT_EQ(seen[2].title, "Olvex Message");
  EXPECT_GT(seen[3].width, seen[2].width * 9 / 5);  // "2x2"
  EXPECT_GT(seen[3].height, seen[2].height * 9 / 5);
  EXPECT_EQ(Var("asked"), "0");
  EXPECT_EQ(Var("custom"), "4");
  EXPECT_EQ(Var("name"), "Ann Smith");  // the time-out ends as OK with the field as it stood
  EXPECT_EQ(Var("town"), "(missing)");
  EXPECT_EQ(Var("colour"), "Green");
  EXPECT_EQ(Var("sizes"), "S;L");
  EXPECT_EQ(Var("login"), "ann;s3cret");
  EXPECT_EQ(Var("memory"), "s3cret");
  EXPECT_EQ(Var("timed"), "0");
  EXPECT_EQ(Var("form"), "Ann;false;Done");
  EXPECT_EQ(Var("skipped"), "(missing)");
  EXPECT_EQ(Var("row_button"), "Done");
  EXPECT_EQ(Var("sample"), "abc;checked;Hello;Green;Example");
  EXPECT_EQ(Var("date"), platform::locale().ShortDate(2026, 12, 24));  // as the calendar started
  EXPECT_EQ(Var("notes"), "one\r\ntwo");
  EXPECT_EQ(Var("file"), notes);
  EXPECT_EQ(Var("none"), "(missing)");
  EXPECT_EQ(Var("button"), "Cancel");
  EXPECT_TRUE(EqualsNoCase(Var("start"), folder)) << Var("start") << " " << folder;
  EXPECT_EQ(LastButtonName(), "OK");
  EXPECT_EQ(RegistryRead("HKEY_CURRENT_USER\\SOFTWARE\\Olvex\\Palettes\\EditDlgPos").value_or("").size(), 16u);
  EXPECT_EQ(RegistryRead("HKEY_CURRENT_USER\\SOFTWARE\\Olvex\\Palettes\\ListDlgPos").value_or("").size(), 16u);
  EXPECT_TRUE(errors_.empty()) << errors_.front();
}

// The stop key held while a prompt is open closes the prompt, and the run stops there.
TEST_F(PromptsTest, TheStopKeyClosesAnOpenPrompt) {
  const std::string t60 = "<timeout>60</timeout>";  // none is left waiting should the stop fail
  const std::string prompts[] = {
      StepText("Ask Yes/No Question", "Waiting?", t60),
      StepText("Input Value", "Waiting?", t60),
      StepText("Custom Dialog", "Name:", Title("Waiting?") + "<value2>EDIT</value2>" + t60),
      StepText("Select File", "Text Files (*.txt)", Title("Waiting?") + t60),
  };
  for (const std::string& prompt : prompts) {
    SCOPED_TRACE(prompt);
    RegistryDelete("*\\UserVariables\\after");
    BoxAnswerer answerer(std::vector<BoxAnswerer::Reply>{{BoxAnswerer::kLeave, {}, {}, "Waiting?"}});
    std::thread presser([&answerer] {
      if (answerer.WaitFor(1, std::chrono::seconds(30)).empty()) return;
      INPUT key{};
      key.type = INPUT_KEYBOARD;
      key.ki.wVk = VK_PAUSE;
      SendInput(1, &key, sizeof key);
      Sleep(400);  // held past a poll of the open prompt
      key.ki.dwFlags = KEYEVENTF_KEYUP;
      SendInput(1, &key, sizeof key);
    });
    Run(prompt + StepText("Set Variable", "ran", VariableOutput("after")));
    presser.join();
    EXPECT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(LastRunOutcome(), RunOutcome::kStopped);
    EXPECT_EQ(Var("after"), "(missing)");
  }
}

// The tray icon's menu stops the run ("Stop Script"), while the run waits and
// while a prompt is open (which then closes).
TEST(TrayIcon, ItsMenuStopsTheRun) {
  const std::string waits[] = {StepText("Delay", "", "<timeout>40</timeout>"),
                               StepText("Input Value", "Waiting?", "<timeout>40</timeout>")};
  for (const std::string& wait : waits) {
    SCOPED_TRACE(wait);
    StoreSandbox sandbox;
    ChildStore store;
    const std::string script = sandbox.dir().Write(
        "tray.oxm", StepText("Tray Icon", "Olvex test") + wait + StepText("Set Variable", "ran", VariableOutput("after")));
    auto child = std::async(std::launch::async, [&script] {
      return RunChild({RuntimePath(), "-r", script}, std::chrono::seconds(30));
    });
    struct Find {
      DWORD self;
      HWND found = nullptr;
    } find{GetCurrentProcessId()};
    auto find_tray = [](HWND window, LPARAM lparam) -> BOOL {
      auto* f = reinterpret_cast<Find*>(lparam);
      char cls[32] = {};
      GetClassNameA(window, cls, sizeof cls);
      DWORD pid = 0;
      GetWindowThreadProcessId(window, &pid);
      if (pid != f->self && std::string(cls) == "OlvexTray") f->found = window;
      return f->found == nullptr;
    };
    for (int i = 0; i < 300 && !find.found; ++i) {
      EnumWindows(find_tray, reinterpret_cast<LPARAM>(&find));
      Sleep(50);
    }
    ASSERT_NE(find.found, nullptr);
    if (wait.find("Input") != std::string::npos) {
      HWND prompt = nullptr;
      for (int i = 0; i < 300 && !(prompt = FindWindowA("#32770", "Olvex Message")); ++i) Sleep(50);
      ASSERT_NE(prompt, nullptr);
    }
    PostMessageA(find.found, 0x9772, 1001, WM_RBUTTONUP);
    HWND menu = nullptr;
    for (int i = 0; i < 200 && !(menu = FindWindowA("#32768", nullptr)); ++i) Sleep(50);
    EXPECT_NE(menu, nullptr);
    // The menu takes the keys of its thread: Up from nothing chosen is the last item.
    PostMessageA(find.found, WM_KEYDOWN, VK_UP, 0);
    PostMessageA(find.found, WM_KEYDOWN, VK_RETURN, 0);
    const ChildResult result = child.get();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 3);  // stopped
    EXPECT_FALSE(ReadUserVariable("after"));
  }
}

// Serves this thread's messages until `window` is gone (at most 5 s).
bool ClosesByItself(HWND window) {
  const DWORD start = GetTickCount();
  while (IsWindow(window) && GetTickCount() - start < 5000) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(20);
  }
  return !IsWindow(window);
}

BOOL CALLBACK FindTip(HWND window, LPARAM found) {
  char cls[32] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (std::string(cls) == TOOLTIPS_CLASSA && IsWindowVisible(window)) *reinterpret_cast<HWND*>(found) = window;
  return TRUE;
}

// The displays show their text where they are asked to and close at their time-out.
TEST(Popups, AppearWithTheirTextAndCloseAtTheirTimeOut) {
  using platform::NoticeKind;
  platform::Notice notice;
  notice.kind = NoticeKind::kProgress;
  notice.text = "75% done";
  notice.percent = 75;
  notice.width = 300;
  notice.height = 100;
  notice.timeout_ms = 500;
  platform::dialogs().ShowNotice(notice);
  HWND popup = FindWindowA("BrenvoPopup", "75% done");
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(IsWindowVisible(popup));
  EXPECT_EQ(SendDlgItemMessageA(popup, 32771, PBM_GETPOS, 0, 0), 75);
  EXPECT_TRUE(ClosesByItself(popup));

  // Tool tips: the screen message centred (2,-2) or at the cursor (off the
  // screen), the floating balloon at its place in the balloon style.
  SetCursorPos(100, 120);
  const int mid_x = GetSystemMetrics(SM_CXSCREEN) / 2, mid_y = GetSystemMetrics(SM_CYSCREEN) / 2;
  struct Case {
    NoticeKind kind;
    int x, y;
    bool centred;
    POINT corner;
  } cases[] = {
      {NoticeKind::kScreenMessage, 2, -2, true, {}},
      {NoticeKind::kScreenMessage, 5000, 40, false, {100, 120}},
      {NoticeKind::kFloatingBalloon, 300, 200, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    notice = platform::Notice{};
    notice.kind = c.kind;
    notice.text = "Look here";
    notice.x = c.x;
    notice.y = c.y;
    notice.timeout_ms = 500;
    platform::dialogs().ShowNotice(notice);
    HWND tip = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindTip, reinterpret_cast<LPARAM>(&tip));
    ASSERT_NE(tip, nullptr);
    RECT at{};
    GetWindowRect(tip, &at);
    // (A tip's frame moves it by a few pixels.)
    if (c.centred) {
      EXPECT_LE(std::abs((at.left + at.right) / 2 - mid_x), 8);
      EXPECT_LE(std::abs((at.top + at.bottom) / 2 - mid_y), 8);
    } else if (c.kind == NoticeKind::kScreenMessage) {
      EXPECT_LE(std::abs(at.left - c.corner.x), 3);
      EXPECT_LE(std::abs(at.top - c.corner.y), 3);
    }
    EXPECT_EQ((GetWindowLongA(tip, GWL_STYLE) & TTS_BALLOON) != 0, c.kind == NoticeKind::kFloatingBalloon);
    EXPECT_TRUE(ClosesByItself(tip));
  }
}
#else
// Reads the terminal until `screen` shows `text` (at most 20 s).
bool ReadUntil(int terminal, const std::string& text, std::string* screen, std::string* everything) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (screen->find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd in{terminal, POLLIN, 0};
    if (poll(&in, 1, 100) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(terminal, buffer, sizeof buffer);
    if (n <= 0) break;
    screen->append(buffer, static_cast<std::size_t>(n));
    everything->append(buffer, static_cast<std::size_t>(n));
  }
  return screen->find(text) != std::string::npos;
}

// Starts the runtime on a pseudo-terminal; the child's pid.
pid_t StartOnTerminal(const std::string& script, int* terminal) {
  const pid_t pid = forkpty(terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    const std::string runtime = RuntimePath();
    execl(runtime.c_str(), runtime.c_str(), "-r", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Waits at most 10 s for the child (then ends it); its wait status. The
// terminal is read only when it has something: a child that waits on a
// prompt nobody answers must not hold the test.
int EndOf(pid_t pid, int terminal) {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
    char buffer[512];
    pollfd in{terminal, POLLIN, 0};
    if (poll(&in, 1, 50) > 0) (void)!read(terminal, buffer, sizeof buffer);
  }
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  close(terminal);
  return status;
}

// The runtime on a pseudo-terminal: each prompt is asked on the console; a
// stop signal while the last one waits ends it, and the run stops there.
TEST(ConsolePrompts, AreAnsweredOnATerminalAndEndedByAStopSignal) {
  StoreSandbox sandbox;
  ChildStore store;
  const std::string script = sandbox.dir().Write(
      "case.oxm", StepText("Ask Yes/No Question", "Continue?", Title("Question") + VariableOutput("asked")) +
                      StepText("Input Value", "Your name?", VariableOutput("name")) +
                      StepText("Select from List", "Pick;Red;Green;Blue", VariableOutput("colour")) +
                      StepText("Login Prompt", "", VariableOutput("login")) +
                      StepText("Input Value", "Town?", VariableOutput("town")) +
                      StepText("Input Value", "Kept?", VariableOutput("kept") + "<timeout>1</timeout>") +
                      StepText("Ask Yes/No Question", "Stop here?") + StepText("Set Variable", "ran", VariableOutput("after")));
  WriteUserVariable("kept", "as it was");
  int terminal = -1;
  const pid_t pid = StartOnTerminal(script, &terminal);
  ASSERT_GT(pid, 0);
  std::string screen, everything;
  // Waits until the screen shows `text`, then types `line`.
  auto answer = [&](const std::string& text, const std::string& line) {
    ASSERT_TRUE(ReadUntil(terminal, text, &screen, &everything)) << screen;
    screen.erase(0, screen.find(text) + text.size());
    if (!line.empty()) {
      ASSERT_GT(write(terminal, line.data(), line.size()), 0);
    }
  };
  answer("[Y]es [N]o? ", "n\n");
  answer("Value (Enter", "Ann\n");
  answer("  2) Green", "");
  answer("Number (Enter", "7\n");
  answer("Please choose a number from 1 to 3.", "2\n");
  answer("User name: ", "ann\n");
  answer("Password: ", "s3cret\n");
  answer("Value (Enter", "\x04");  // Ctrl-D cancels
  answer("Value [as it was]", "");  // left to its time-out
  answer("Stop here?", "");
  answer("[Y]es [N]o? ", "");
  kill(pid, SIGTERM);
  const int status = EndOf(pid, terminal);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;  // stopped
  EXPECT_EQ(everything.find("s3cret"), std::string::npos);  // the password is not echoed
  EXPECT_EQ(ReadUserVariable("asked").value_or(""), "0");
  EXPECT_EQ(ReadUserVariable("name").value_or(""), "Ann");
  EXPECT_EQ(ReadUserVariable("colour").value_or(""), "Green");
  EXPECT_EQ(ReadUserVariable("login").value_or(""), "ann;s3cret");
  EXPECT_FALSE(ReadUserVariable("town"));
  EXPECT_EQ(ReadUserVariable("kept").value_or(""), "as it was");
  EXPECT_FALSE(ReadUserVariable("after"));
}
#endif

}  // namespace
}  // namespace olvex::test
