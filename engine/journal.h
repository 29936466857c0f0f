#pragma once
// The run journal: when the environment variable OLVEX_JOURNAL names a file,
// the runtime appends one JSON object per line (JSON Lines) for the start of
// each run, every step it runs, every prompt answered and the run's end, so
// that a program can read afterwards what each step did.
//
// Every record carries "event" ("start", "step", "prompt", "end") and "pid".
//   start: "time", "script", "command_line"
//   step:  "step" (number), "action", "text" (expanded, at most 1024 bytes),
//          "result" ("success", "failure", "false" for an IF, "stopped"),
//          "attempts", "fail_mode" (the failure mode applied, else absent),
//          "error", "output" and "value" (destination and value saved, at
//          most 1024 bytes), "start" (time), "ms" (duration, whole ms)
//   prompt: "step", "prompt", "answer", "by" ("person", "answers file")
//   end:   "time", "how" ("completed", "failed", "stopped", "forced",
//          "not loaded"), "steps_run", "exit_code"
// Times are UTC, "2026-01-31T12:00:00.000Z". Text is 8-bit: bytes that are not
// UTF-8 are written as \u00XX of their Latin-1 reading, so every line is valid
// JSON. Lines are written whole and in batches (at the latest 100 ms after they
// were made): several runtimes may share a journal, and a process killed
// mid-run leaves every line written so far complete.
#include <string>
#include <string_view>

namespace olvex {

inline constexpr std::size_t kJournalTextMax = 1024;

// Opens the journal file (appending); an empty path closes it. False, with
// the reason in `error`, when the file cannot be opened.
bool OpenJournal(const std::string& path, std::string* error = nullptr);
// Writes what is pending and closes the journal.
void CloseJournal();
// Writes what is pending (before the process ends without closing it).
void FlushJournal();
bool JournalOn();

// `bytes` as a JSON string, quotes included.
std::string JsonString(std::string_view bytes);

// The run of `script` starts (also a script that did not load: its "end" follows).
void JournalRunStart(const std::string& script, const std::string& command_line);
// The step loop enters step `step_index` (writing the record of the step before).
void JournalStepBegin(int slot, int step_index);
// The outcome of the step's latest attempt (`result` a literal: "success", ...);
// `fail_mode` empty when none applied.
void JournalStepResult(const char* result, std::string_view fail_mode, std::string_view error);
// The same for a failed attempt, after the failure handling: "false" for an
// IF whose condition was false, else "failure" with the failure mode applied
// (none while a time-out retries the step); `error` is the step error message.
class Step;
void JournalStepFailed(const Step& step, std::string_view error);
// The value that the step saved to its output destination.
void JournalStepOutput(std::string_view destination, std::string_view value);
// The run ends: the record of the last step, then the end record (once per run).
void JournalRunEnd(std::string_view how, int exit_code);
// A prompt of step `step_index` was answered by a person or from the answers file.
void JournalPrompt(int step_index, std::string_view prompt, std::string_view answer, std::string_view by);

}  // namespace olvex
