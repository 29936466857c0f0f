// olvex: the runtime. Loads a script (a file named with -r, or the script
// carried in the program's own executable), runs it on a worker thread while
// the main thread serves the event loop, and returns the exit code.
//   -r path   script file to load            -s n     start at step n
//   -L        logging on (level 2)            -F       logging off
//   %name=value  sets a user variable         -?       help    -c  console-only error
// Every option may be written with '/' and in either case. Besides them:
//   --help    the usage on standard output     --version  the version
//   --follow  every run-log line also goes to standard error as it is written
//
// Exit code: the one an Exit action set; else, for a run that completed, the
// setting *\DefaultReturnCode; else the cause: 1 the run failed, 2 the script
// could not be loaded (or the program could not start), 3 the run was stopped,
// 4 it was ended by force.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "data/odbc_actions.h"
#include "engine/catalog.h"
#include "engine/document.h"
#include "engine/expansion_host.h"
#include "engine/journal.h"
#include "engine/main_loop.h"
#include "engine/messages.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "engine/settings.h"
#include "platform/dialogs.h"
#include "platform/environment.h"
#include "platform/instance.h"
#include "platform/main_window.h"
#include "platform/windows.h"
#include "platform/module.h"
#include "platform/stop_key.h"
#include "platform/terminal.h"
#include "olvex_version.h"
#include "vars/expand.h"
#include "vars/variables.h"

namespace {

constexpr int kExitNotLoaded = 2;
constexpr const char* kUsageLine = "usage: olvex -r SCRIPT [-s STEP] [-L | -F] [--follow] [%name=value ...]\n";

constexpr const char* kUsageText =
    "Runs an Olvex script: the file named with -r, else the script this program carries.\n"
    "\n"
    "  -r SCRIPT     the script file to run\n"
    "  -s STEP       start at step STEP (counted from 1)\n"
    "  -L            log this run at the high level (time stamps, details)\n"
    "  -F            turn logging off (the LogLevel setting is deleted)\n"
    "  %name=value   set the user variable name before the run\n"
    "  --follow      copy every run-log line to standard error as it is written\n"
    "                (with logging off, the normal lines, and no file is written)\n"
    "  -?            the start-up options box    -c  the console-only error box\n"
    "  --help        this text                   --version  the version\n"
    "Options may be written with / and in either case.\n"
    "\n"
    "Exit code: the one an Exit action set; else 1 the run failed, 2 the script was\n"
    "not loaded, 3 the run was stopped, 4 it was ended by force; else the setting\n"
    "DefaultReturnCode (0 when unset). A run that does not complete says how it ended\n"
    "on standard error. The run log: the setting Logfile, else the program's path\n"
    "with \"Log.txt\" in place of \".exe\" (see the README).\n";

constexpr const char* kHelpText =
    "Startup (Command Line) Options:\n\n\t-L\tTurn logging on\n\t-F\tTurn logging off\n\t-S [step]\tStart at Step\n\t%x=1\tSet "
    "user variable\n\nExample:  Program.exe /L %foo=\"New Value\"\t";

bool IsOption(std::string_view arg, std::string_view name) {
  return arg.size() == name.size() + 1 && (arg[0] == '-' || arg[0] == '/') && olvex::EqualsNoCase(arg.substr(1), name);
}

std::string Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string Unquoted(std::string value) {
  if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') || (value.front() == '\'' && value.back() == '\'')))
    return value.substr(1, value.size() - 2);
  return value;
}

struct StartOptions {
  std::string script;
  int start_step = 0;
  bool log_on = false, log_off = false, help = false, console = false;
  bool usage = false, version = false, follow = false;
  std::vector<std::pair<std::string, std::string>> variables;
  std::string command_line;
};

StartOptions ReadCommandLine(int argc, char** argv) {
  StartOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options.command_line.empty()) options.command_line += ' ';
    options.command_line += arg;
    if (IsOption(arg, "r") && i + 1 < argc) {
      options.script = Unquoted(argv[++i]);
      options.command_line += std::string(" ") + argv[i];
    } else if (IsOption(arg, "s") && i + 1 < argc) {
      options.start_step = olvex::FirstNumber(argv[++i]) - 1;
      options.command_line += std::string(" ") + argv[i];
    } else if (IsOption(arg, "L")) {
      options.log_on = true;
    } else if (IsOption(arg, "F")) {
      options.log_off = true;
    } else if (IsOption(arg, "?")) {
      options.help = true;
    } else if (IsOption(arg, "c")) {
      options.console = true;
    } else if (arg == "--help" || arg == "-h") {
      options.usage = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--follow") {
      options.follow = true;
    } else if (!arg.empty() && arg[0] == '%' && arg.find('=') != std::string_view::npos) {
      const std::size_t eq = arg.find('=');
      std::string name = Trimmed(arg.substr(1, eq - 1)).substr(0, olvex::kMaxVariableName);
      std::string value = Unquoted(Trimmed(arg.substr(eq + 1)));
      if (!name.empty()) options.variables.emplace_back(std::move(name), std::move(value));
    }
  }
  return options;
}

std::string InstanceName(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '_';
  }
  return path;
}

// How a run that did not complete ended, said on standard error: one line
// with the step, its action and the error, one with the run log.
void ReportUnfinishedRun(const std::string& script, bool not_loaded) {
  using namespace olvex;
  std::string how;
  const RunOutcome outcome = LastRunOutcome();
  if (not_loaded) ReadLogLevelSetting();  // no run read it
  if (not_loaded) how = "the script \"" + script + "\" was not loaded";
  else if (outcome == RunOutcome::kFailed) how = "the run failed";
  else if (outcome == RunOutcome::kStopped) how = "the run was stopped";
  else if (outcome == RunOutcome::kForced) how = "the run was ended by force";
  else return;
  const int index = not_loaded ? -1 : LastRunEndStep();
  const ScriptDocument& doc = Document(RunningSlot());
  if (index >= 0) {
    how += " at [STEP " + std::to_string(index + 1) + "]";
    if (static_cast<std::size_t>(index) < doc.steps.size()) how += " " + doc.steps[static_cast<std::size_t>(index)].action;
  }
  std::string error = not_loaded ? LastErrorBoxText() : LastRunEndError();
  std::replace(error.begin(), error.end(), '\n', ' ');
  if (!error.empty()) how += ": " + error;
  const std::string log = LogFilePath();
  const std::string where = LogLevel() > 0 ? "olvex: the run log: " + log + "\n"
                                           : "olvex: logging is off (-L writes the run log to " + log + ")\n";
  platform::WriteError("olvex: " + how + "\n" + where);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace olvex;
  const StartOptions options = ReadCommandLine(argc, argv);
  if (options.usage || options.version) {
    std::fputs(options.version ? "olvex " OLVEX_VERSION "\n" : kUsageLine, stdout);
    if (!options.version) std::fputs(kUsageText, stdout);
    return 0;
  }
  if (options.console) {
    ShowErrorBox("The \"-c\" command line switch is only available from a console window when using \"Olvex.com\"\n\nYour "
                 "Command Line:   [" +
                 options.command_line + "]\n\n");
  }
  if (options.help) {
    platform::dialogs().ShowMessage(kHelpText, "Startup Options", platform::box::kOk | platform::box::kIconInformation);
    return 0;
  }
  const std::string program = platform::ModulePath();
  if (options.script.empty() && !platform::ClaimSingleInstance(InstanceName(program))) return 0;
  platform::WatchStopSignals();
  platform::StopKeyPressed(RunShared().stop_key.load());

  SetUpSettings(program);
  InstallExpander();
  InstallRunExpansionHost(options.command_line);
  const int stop_key = FirstNumber(ReadSettingString("*\\Accelerators\\Stop", 63));
  if (stop_key > 0 && stop_key < 256) RunShared().stop_key.store(stop_key);
  if (options.log_on) SetLogLevel(99);
  if (options.log_off) {
    DeleteSetting("SOFTWARE\\Olvex\\LogLevel");
    SetLogLevel(0);
  }
  SetLogFollowed(options.follow);
  if (const auto journal = platform::ReadEnv("OLVEX_JOURNAL"); journal && !journal->empty()) {
    std::string why;
    if (!OpenJournal(*journal, &why))
      std::fprintf(stderr, "olvex: the journal \"%s\" cannot be opened: %s\n", journal->c_str(), why.c_str());
  }
  const std::string script = options.script.empty() ? program : options.script;
  platform::DeclareDpiAware();
  if (!platform::CreateMainWindow()) {
    ShowErrorBox("Unable to start Olvex: Main window launch error");
    return kExitNotLoaded;
  }
  for (const auto& [name, value] : options.variables) WriteUserVariable(name, value);

  const int boxes_before = ErrorBoxesShown();
  const int loaded = LoadDocument(script, 0);
  // A load that stopped at a bad step keeps (and runs) the steps before it,
  // but the script as written did not load: the exit code says so.
  const bool load_error = loaded <= 0 || ErrorBoxesShown() != boxes_before;
  if (loaded <= 0) {
    // Neither -r nor a carried script: say how the program is used.
    if (options.script.empty()) platform::WriteError(kUsageLine);
    ReportUnfinishedRun(script, true);
    JournalRunStart(script, options.command_line);
    JournalRunEnd("not loaded", kExitNotLoaded);
    CloseJournal();
    return kExitNotLoaded;
  }

  SetRunEndedHandler([] { QuitMainLoop(); });
  SetStopSignalHandler([](int count) { RequestStop(count > 1); });
  // A document without steps has nothing to run (its load report was shown).
  if (!Document(0).file_name.empty() && !Document(0).steps.empty()) {
    ClaimMainThread();
    StartRun(0, kCommandNewRun, true, options.start_step, 500);
    if (RunActive()) RunMainLoop();
  }
  const bool all_ended = WaitForWorkers();
  int code = RunShared().exit_code.load();
  if (code == kExitCodeNotSet) code = load_error ? kExitNotLoaded : RunExitCode();
  ReportUnfinishedRun(script, load_error);
  if (!all_ended) {
    // A worker that did not stop is left behind: end the process without
    // running the destructors it may still be using.
    FlushJournal();
    std::fflush(nullptr);
    std::_Exit(code);
  }
  // The window's end: documents, memory slots, the database connection, and what the settings ask to remove.
  for (int i = 1; i <= 8; ++i) DeleteSetting(SettingKey("SOFTWARE\\Olvex\\FileOpenFromExternal_%d", i));
  CloseDatabase();
  CloseAllDocuments();
  FreeAllMemorySlots();
  // The variables stay while another runtime (another main window) is open.
  const int reset = ReadSettingNumber("*\\ResetUserVariables");
  if (reset != 0 && platform::CountMainWindows() < 2) {
    if (LogLevel() > 0) LogLine("WM_DESTROY: ResetUserVariables: %d\r\n", reset);
    ResetUserVariables();
    RemoveUserVariableSpillFiles();
  }
  CloseJournal();
  return code;
}
