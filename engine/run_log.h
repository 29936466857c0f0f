#pragma once
// The run log: a plain text file that grows by one line at a time (each line
// is appended by its own open-append-close, so that the main thread may write
// a line while the worker runs), the line of every step the run enters, and
// the status texts of the main window (kept, never shown: the window is hidden).
//
// Inside a line that is already formatted, the byte 0xB0 stands for a literal
// '%' and the byte 0x02 for a '"'.
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace olvex {

inline constexpr char kPercentMarker = static_cast<char>(0xB0);
inline constexpr char kQuoteMarker = 0x02;

// Log level: 0 writes no file, 1 the normal lines, 2 and above adds time
// stamps and details. 99 (set by the -L start option) forces level 2 when a
// run reads the level.
int LogLevel();
void SetLogLevel(int level);
// Reads *\LogLevel into the level, unless 99 forces level 2.
void ReadLogLevelSetting();

// The log file: *\Logfile, or the program's path with ".exe" replaced by
// "Log.txt" (without ".exe", "Log.txt" appended). When the default's folder
// cannot be written and XDG_STATE_HOME (or %LOCALAPPDATA%, or ~/.local/state)
// is known, the file goes to <that>/olvex/ instead.
std::string DefaultLogPath(const std::string& program_path);
std::string LogFilePath();
void DeleteLogFile();

// Formats and appends one line. A format with '%', shorter than 992
// characters, is formatted printf-style; other text is copied (cut to 991
// characters). Then the markers become '%' and '"', tabs become spaces and
// every lone LF gets its CR; the line ends with CR LF.
void LogLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Appends `text` to the log file as it stands: no line end is added and no
// marker undone. Nothing is written at log level 0.
void AppendToLogFile(std::string_view text);
// A finished line: copied unchanged (cut to 991 characters), then as LogLine.
void LogText(std::string_view line);
// Tests and the output window: sees every line after its markers are undone.
void SetLogObserver(std::function<void(const std::string&)> observer);
// Following the log on the terminal (olvex --follow): every line is also
// written to standard error as it is made; with logging off, the lines of
// level 1 are made for it and no file is written.
void SetLogFollowed(bool followed);

// The line of a step the run enters; resets the step's run_attempts.
void LogStep(int slot, int step_index);
// The tick count at which the latest step was entered.
std::uint64_t StepStartTick();

// The status bar's four parts (0 .. 3). Unless `force`, an update within
// 100 ms of the part's previous update is dropped.
void SetStatusText(bool force, int part, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
std::string StatusText(int part);

}  // namespace olvex
