#include "vars/format.h"

namespace olvex {

std::string FormatNumber(double, double) { return "0"; }
std::string TrimNumber(const std::string& text, int) { return text; }
double RoundTo(double x, double) { return x; }
double CutTo(double x, double) { return x; }
std::string FormatValue(double, const std::string&) { return {}; }
double DateToSerial(double, double, double) { return 0; }
double TimeToFraction(double, double, double) { return 0; }
CalendarDate SerialToDate(double) { return {1900, 1, 1}; }
TimeOfDay SerialToTime(double) { return {}; }
int SerialWeekday(double) { return 0; }
std::optional<CalendarDate> ParseDate(const std::string&) { return std::nullopt; }
std::optional<CalendarDate> ParseDate(const std::string&, const CalendarDate&) { return std::nullopt; }
TimeOfDay ParseTime(const std::string&) { return {}; }
std::string NameOf(int, int) { return {}; }
int WeekNumber() { return 0; }
int WeekNumber(const CalendarDate&) { return 0; }
std::string DurationText(std::int64_t) { return {}; }
std::string NumberToWords(const std::string&, bool) { return {}; }

}  // namespace olvex
