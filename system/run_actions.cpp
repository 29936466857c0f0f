#include "system/run_actions.h"

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "platform/file_ops.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/windows.h"
#include "system/file_paths.h"
#include "system/library_calls.h"
#include "system/program_start.h"
#include "vars/expand.h"
#include "vars/formula.h"

namespace olvex {
namespace {

constexpr std::string_view kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

bool Has(std::string_view text, std::string_view word) { return ContainsNoCase(text, word); }

int Fail(const std::string& message) {
  SetStepError(message);
  return 0;
}

int NotAvailable(const Step& step) { return Fail("\"" + step.action + "\" is not available on this system"); }

std::string RegistryText(const platform::RegistryData& data) {
  std::string text = data.data;
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

int AutoRuns(int slot, int index, const Step& step, const std::string& text) {
  if (!platform::HasWindowsShell()) return NotAvailable(step);
  using platform::RegistryRoot;
  const std::string_view o = step.options;
  if (Has(o, "Add")) {
    if (text.empty()) return Fail("No program name or command line provided");
    std::string command = text;
    std::erase(command, '"');
    std::string name = PathParts(BaseNameOf(command.substr(0, FindNoCase(command, ".exe") == std::string::npos
                                                                  ? command.find(' ')
                                                                  : FindNoCase(command, ".exe") + 4)),
                                 4);
    if (name.empty()) name = command;
    const platform::RegistryStatus status =
        platform::WriteRegistryValue(RegistryRoot::kCurrentUser, kRunKey, name, platform::regtype::kExpandSz, text);
    return status == platform::RegistryStatus::kOk ? 1 : Fail("Unable to add the auto-run \"" + name + "\"");
  }
  const bool remove = Has(o, "Remove"), all = Has(o, "All");
  std::string list;
  for (RegistryRoot root : {RegistryRoot::kCurrentUser, RegistryRoot::kLocalMachine}) {
    std::vector<std::string> names;
    platform::ListRegistryValues(root, kRunKey, &names);
    for (const std::string& name : names) {
      platform::RegistryData data;
      if (platform::ReadRegistryValue(root, kRunKey, name, &data) != platform::RegistryStatus::kOk) continue;
      const std::string value = RegistryText(data).substr(0, 255);
      if (!remove) {
        if (list.size() < 1048319) list += name + "=" + value + "\r\n";
        continue;
      }
      if (all || (!name.empty() && Has(text, name)) || (!value.empty() && Has(text, value))) {
        platform::DeleteRegistryValue(root, kRunKey, name);
        if (!all) return 1;
      }
    }
  }
  if (!remove && Has(o, "List")) SaveOutput(slot, index, list);
  return 1;
}

const char* ControlPanelCommand(std::string_view t) {
  struct Entry {
    const char* word;
    const char* command;
  };
  static constexpr Entry kCommands[] = {
      {"Add/Remove Programs", "rundll32.exe Shell32.dll Control_RunDLLA appwiz.cpl"},
      {"Internet", "rundll32.exe Shell32.dll Control_RunDLLA inetcpl.cpl 0"},
      {"Device Manager", "rundll32.exe DevMgr.dll DeviceManager_ExecuteA"},
      {"Display", "rundll32.exe Shell32.dll Control_RunDLLA desk.cpl"},
      {"Time/Date", "rundll32.exe Shell32.dll Control_RunDLLA timedate.cpl"},
      {"Regional", "rundll32.exe Shell32.dll Control_RunDLLA intl.cpl 0"},
      {"Keyboard", "rundll32.exe Shell32.dll Control_RunDLLA main.cpl @1"},
      {"Game Controllers", "rundll32.exe Shell32.dll Control_RunDLLA joy.cpl"},
      {"Mouse", "rundll32.exe Shell32.dll Control_RunDLLA main.cpl @0"},
      {"Power", "rundll32.exe Shell32.dll Control_RunDLLA powercfg.cpl"},
      {"Sounds", "rundll32.exe Shell32.dll Control_RunDLLA mmsys.cpl 0"},
      {"Network", "control.exe netconnections"},
      {"Ease of Access", "rundll32.exe Shell32.dll Control_RunDLLA access.cpl"},
      {"Admin", "control.exe admintools"},
      {"Phone", "control.exe telephony"},
      {"Scheduled", "control.exe schedtasks"},
      {"User", "control.exe userpasswords"},
      {"Fonts", "control.exe fonts"},
      {"Appearance", "control.exe color"},
  };
  for (const Entry& e : kCommands)
    if (Has(t, e.word)) return e.command;
  return "control.exe";
}

int ServiceStep(const Step& step, const std::string& name) {
  if (!platform::HasWindowsShell()) return NotAvailable(step);
  const std::string_view a = step.action;
  bool ok = false;
  if (Has(a, "Startup")) {
    const std::string_view type = step.value(1);
    if (Has(type, "Automatic")) ok = platform::SetServiceStartType(name, platform::ServiceStart::kAutomatic);
    else if (Has(type, "Manual")) ok = platform::SetServiceStartType(name, platform::ServiceStart::kManual);
    else if (Has(type, "Disabled")) ok = platform::SetServiceStartType(name, platform::ServiceStart::kDisabled);
    else return Fail("Unknown startup type \"" + step.value(1) + "\" (Automatic, Manual or Disabled)");
  } else if (Has(a, "Start")) {
    ok = platform::StartSystemService(name);
  } else if (Has(a, "Stop")) {
    ok = platform::StopSystemService(name);
  } else {
    return Fail("Unknown service action \"" + step.action + "\"");
  }
  return ok ? 1 : Fail(platform::LastErrorText());
}

// The step number, counted from 1, of the label `label` in a script file: the
// number of "<step" before "<action>Label</action><text>label</text>" with
// blanks and line breaks taken out. Nothing when it is not there.
std::string LabelStep(const std::string& script, const std::string& label) {
  const platform::FileContent content = platform::ReadWholeFile(script, std::uint64_t{256} << 20);
  std::string text = content.data;
  std::erase_if(text, [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; });
  const std::size_t at = FindNoCase(text, "<action>Label</action><text>" + label + "</text>");
  if (at == std::string::npos) return {};
  std::size_t count = 0;
  for (std::size_t pos = 0; (pos = text.find("<step", pos)) != std::string::npos && pos < at; pos += 5) ++count;
  return std::to_string(count);
}

int ProgramStep(int slot, int index, const Step& step, const std::string& text) {
  const std::string_view a = step.action, o = step.options;
  const std::string& script_path = Document(slot).file_name;
  std::string command;
  LocateFile(text, FolderOf(script_path), &command);
  const bool call_script = Has(a, "CALL SCRIPT");
  if ((call_script && !Has(command, ".EXE")) || (Has(command, ".OXM") && !Has(command, ".EXE"))) {
    std::string script = command;
    std::erase(script, '"');
    if (EqualsNoCase(script, script_path)) return Fail("A script cannot call itself (it would cause an endless loop)");
    const std::string start = ExpandText(step.value(1), slot, index, 0);
    std::string step_number = start;
    if (start.find_first_not_of("0123456789") != std::string::npos) step_number = LabelStep(script, start);
    command = "\"" + platform::ModulePath() + "\" -r \"" + script + "\" -s " + step_number;
    if (call_script && LogLevel() > 1) command += " -L ";
  }
  if (step.run_attempts < 2)
    LogLine("    Translated run buffer: [%s]", (command.size() >= 254 ? command.substr(0, 254) + "..." : command).c_str());
  const bool wait = Has(o, "Wait") || call_script;
  if (Has(o, "Single") && !call_script && !Has(o, "Wait")) {
    std::string program = command;
    std::erase(program, '"');
    if (!platform::ProgramsHaveExeExtension()) program = program.substr(0, program.find(' '));
    else if (const std::size_t exe = FindNoCase(program, ".exe"); exe != std::string::npos) program.resize(exe + 4);
    if (const std::optional<platform::ProcessEntry> running = platform::FindProcess(BaseNameOf(program))) {
      if (const std::uint64_t window = platform::MainWindowOfProcess(running->id)) {
        LogLine("    Found existing program already running - Activating [%s]", command.c_str());
        platform::windows().Activate(window);
        return 1;
      }
    }
  }
  const bool visible = !Has(o, "hidden") || Has(command, "Olvex.exe");
  const bool shell = Has(a, "DOS") && !platform::ProgramsHaveExeExtension();
  if (Has(a, "Launch Document") && !platform::ProgramsHaveExeExtension()) {
    // Documents open in the desktop's own program for them.
    std::string document = command;
    std::erase(document, '"');
    if (platform::ShellOpen(document, "", visible)) return 1;
    LogLine("    Unable to start [%s] with any method", document.c_str());
    return Fail("Unable to open \"" + document + "\" (is xdg-open installed?)");
  }
  if (!wait) return StartProgramAndWait(command, visible, 0, true, shell) == kProgramNotStarted ? 0 : 1;
  const std::string& timeout = step.timeout();
  double seconds = timeout.empty() ? 0 : EvaluateFormula(ExpandText(timeout, slot, index, 0)).number;
  if (seconds == 0) seconds = -1;
  const long long wait_ms = seconds < 0 ? -1 : static_cast<long long>(seconds) * 1000;
  const int result = StartProgramAndWait(command, visible, wait_ms == 0 ? -1 : wait_ms, true, shell);
  if (result == kProgramStillRunning) return Fail("Program still running after timeout limit of " + timeout + " seconds");
  if (result == kProgramNotStarted) return 0;
  SaveOutput(slot, index, std::to_string(result));
  return 1;
}

}  // namespace

int HandleRunStep(int slot, int step_index) {
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const std::string_view a = step.action;
  const std::string text = ExpandText(step.text, slot, step_index, 0);
  if (Has(a, "AutoRun")) return AutoRuns(slot, step_index, step, text);
  if (text.empty()) return Fail("No program name or command line provided");
  if (Has(a, "Send") && Has(a, "Command")) {
    if (!platform::HasWindowsShell()) return Fail("No desktop is available on this system");
    platform::WindowId window = expansion_host().CurrentWindow();
    if (window == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      window = platform::windows().Foreground();
      expansion_host().SetCurrentWindow(window);
    }
    return platform::PostCommand(window, FirstNumber(text)) ? 1 : Fail("Unable to send the command to the window");
  }
  if (Has(a, "DLL")) return HandleCallDllStep(slot, step_index);
  if (Has(a, "KILL")) {
    return platform::TerminateProcessNamed(text) ? 1 : Fail("Unable to find process '" + text + "'");
  }
  if (Has(a, "Control Panel")) {
    if (!platform::HasWindowsShell()) return NotAvailable(step);
    std::string command = ControlPanelCommand(step.text);
    if (Has(step.text, "System")) {
      command = "rundll32.exe Shell32.dll Control_RunDLLA sysdm.cpl";
      if (Has(step.text, "Advanced")) command += ",,3";
    }
    LogLine("    Translated run buffer: [%s]", command.c_str());
    return StartProgramAndWait(command, true, 0, true) == kProgramNotStarted ? 0 : 1;
  }
  if (Has(a, "Service")) return ServiceStep(step, text);
  return ProgramStep(slot, step_index, step, text);
}

}  // namespace olvex
