// 1,000 Set Cell steps, then 1,000 Get Cell steps, run by the Excel handler
// against the stand-in server, beside the same member calls made directly
// through platform/automation.h in the same run (goal: the steps take at
// most 20% longer than the bare calls). Windows build only, in a Wine
// session; the program registers the stand-in beside it and removes it at
// the end:
//
//   cmake/wine-session.sh bash -c 'cd build/win && /usr/lib/wine/wine64 bin/bench_excel.exe'
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "documents/excel_actions.h"
#include "documents/excel_automation.h"
#include "engine/document.h"
#include "engine/run_log.h"
#include "platform/automation.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "platform/process.h"
#include "vars/expand.h"

namespace {

using platform::AutoCall;
using platform::AutoObject;
using platform::AutoValue;

constexpr int kCells = 1000;

std::string StandIn() {
  const std::string self = platform::ModulePath();
  return self.substr(0, self.find_last_of("\\/") + 1) + "excel_standin.exe";
}

// Runs the stand-in with a switch; its registration waits for Wine's RPC service (at most 3 minutes).
bool RunStandIn(const std::string& word) {
  std::optional<platform::ProcessHandle> process = platform::CreateProcessFromLine("\"" + StandIn() + "\" " + word, false, "");
  if (!process) return false;
  for (int waited = 0; waited < 1800 && !platform::HasEnded(*process); ++waited) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const bool ok = process->ended && process->exit_code == 0;
  platform::ReleaseProcess(*process);
  return ok;
}

// A workbook saved under its path, open in slot 1, and the steps of both phases.
struct Session {
  Session() {
    olvex::InstallExpander();
    olvex::SetLogLevel(0);
    const std::optional<std::string> temp = platform::TempFolder();
    path = temp.value_or("") + "olvex-bench-excel.xls";
    ok = RunStandIn("/RegServer");
    std::string error, ignored;
    ok = ok && olvex::OpenWorkbook(path, olvex::workbook_flag::kHidden, error) != 0 &&
         olvex::WorkbookOperation(path, "", olvex::workbook_flag::kSave, nullptr, ignored, error);
    if (!ok) std::fprintf(stderr, "the stand-in did not serve: %s\n", error.c_str());
    std::string steps;
    for (int i = 1; i <= kCells; ++i)
      steps += "<step><action>Set Cell</action><value1>" + path + "</value1><value2>A" + std::to_string(i) +
               "</value2><text>" + std::to_string(i) + "</text></step>\n";
    for (int i = 1; i <= kCells; ++i)
      steps += "<step><action>Get Cell</action><value1>" + path + "</value1><value2>A" + std::to_string(i) +
               "</value2><output value=\"{1}\">Memory</output></step>\n";
    olvex::ParseSteps(steps, 0, -1, 0);
    olvex::FixUpDocument(0);
  }
  ~Session() {
    olvex::EndRunWorkbooks();
    if (ok) RunStandIn("/UnregServer");
  }
  std::string path;
  bool ok = false;
};

Session& session() {
  static Session s;
  return s;
}

void SetThenGetCellSteps(benchmark::State& state) {
  if (!session().ok) return state.SkipWithError("no stand-in");
  for (auto _ : state) {
    for (int i = 0; i < 2 * kCells; ++i)
      if (olvex::HandleExcelStep(0, i) != 1) return state.SkipWithError("a step failed");
  }
}
BENCHMARK(SetThenGetCellSteps)->Unit(benchmark::kMillisecond)->Iterations(1);

// The member calls one step makes: activate the workbook and the active
// sheet, select the cell, then put or get its value.
bool CellCalls(const AutoObject& application, const AutoObject& book, const std::string& cell, const AutoValue* put) {
  platform::Automation& a = platform::automation();
  AutoValue sheet, range, ignored;
  std::string error;
  return a.Call(book, AutoCall::kMethod, "Activate", {}, ignored, error) &&
         a.Call(application, AutoCall::kGet, "ActiveSheet", {}, sheet, error) &&
         a.Call(std::get<AutoObject>(sheet), AutoCall::kMethod, "Activate", {}, ignored, error) &&
         a.Call(std::get<AutoObject>(sheet), AutoCall::kMethod, "Range", {cell}, range, error) &&
         a.Call(std::get<AutoObject>(range), AutoCall::kMethod, "Select", {}, ignored, error) &&
         a.Call(std::get<AutoObject>(range), put ? AutoCall::kPut : AutoCall::kGet, "Value",
                put ? std::vector<AutoValue>{*put} : std::vector<AutoValue>{}, ignored, error);
}

void SetThenGetCellBareCalls(benchmark::State& state) {
  if (!session().ok) return state.SkipWithError("no stand-in");
  platform::Automation& a = platform::automation();
  AutoObject application;
  AutoValue books, book;
  std::string error;
  if (a.Create("Excel.Application", application, error) != platform::AutoCreate::kCreated ||
      !a.Call(application, AutoCall::kGet, "Workbooks", {}, books, error) ||
      !a.Call(std::get<AutoObject>(books), AutoCall::kMethod, "Add", {}, book, error))
    return state.SkipWithError(error.c_str());
  for (auto _ : state) {
    for (int i = 1; i <= kCells; ++i) {
      const AutoValue value = static_cast<std::int32_t>(i);
      if (!CellCalls(application, std::get<AutoObject>(book), "A" + std::to_string(i), &value))
        return state.SkipWithError("a call failed");
    }
    for (int i = 1; i <= kCells; ++i)
      if (!CellCalls(application, std::get<AutoObject>(book), "A" + std::to_string(i), nullptr))
        return state.SkipWithError("a call failed");
  }
}
BENCHMARK(SetThenGetCellBareCalls)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
