#pragma once
// Numbers, dates and times as text and back: significant-digit and tolerance
// formatting, rounding and cutting, the TEXT format codes, date serial numbers
// (1 is 1 January 1900; 60 is the phantom 29 February 1900), date and time
// readers, month and weekday names, the week number, run-log durations and
// numbers in English words. Names, separators and the clock come from
// platform::locale().
#include <cstdint>
#include <optional>
#include <string>

namespace olvex {

struct CalendarDate {
  int year = 0, month = 0, day = 0;
  bool operator==(const CalendarDate&) const = default;
};

struct TimeOfDay {
  int hour = 0, minute = 0, second = 0;
  bool operator==(const TimeOfDay&) const = default;
};

// Kinds of NameOf.
enum NameKind { kWeekdayName = 1, kWeekdayShortName = 2, kMonthName = 3, kMonthShortName = 4 };

// `value` as text, at most 31 characters, trailing zeros removed: with
// digits >= 1 that many significant digits ("%#.*f", or "%#.*e" when the
// integer part has more digits); with digits < 1 as many decimals as it takes
// for the remaining fraction to fall below the tolerance `digits` (at most
// 15). 0 gives "0"; NaN and infinities give "nan", "inf", "-inf".
std::string FormatNumber(double value, double digits);

// Removes trailing zeros and a trailing "." when `text` has a "."; a leading
// "." gets a "0" in front; with minimum_decimals > 0 pads to that many decimals.
std::string TrimNumber(const std::string& text, int minimum_decimals);

// ROUND: `x` rounded half away from zero to `digits` decimals; negative
// digits cut to tens, hundreds, ... after adding 0.555555 (1235 gives 1230,
// 1239.5 gives 1240). NaN and infinities come back unchanged.
double RoundTo(double x, double digits);

// TRUNC: `x` cut toward zero to |digits| decimals (1.15 stays 1.15).
double CutTo(double x, double digits);

// TEXT: `value` written with a number format ("$#,##0.00", "(0)"), a date and
// time format ("yyyy-mm-dd hh:mm:ss AM/PM") or "@" (FormatNumber, 15 digits).
std::string FormatValue(double value, const std::string& format);

// Serial number of a date: 1900-02-29 gives 60, years below 1900 get 1900
// added, a month or day below 1 gives 0; later days and months roll over.
double DateToSerial(double year, double month, double day);

// Fraction of a day of a time: whole seconds modulo 86400, divided by 86400.
double TimeToFraction(double hour, double minute, double second);

// The date of a serial's whole part: 60 gives 1900-02-29, 0 gives 1899-12-31.
CalendarDate SerialToDate(double serial);

// The time of day of a serial's fraction, to the nearest whole second.
TimeOfDay SerialToTime(double serial);

// Weekday of a serial, 0 Sunday ... 6 Saturday; serials up to 60 are taken
// one day earlier so that the phantom 29 February 1900 does not shift them.
int SerialWeekday(double serial);

// Gregorian calendar facts (1900 is not a leap year here; the phantom
// 29 February 1900 exists only in serial numbers).
bool IsLeapYear(int year);
// Days of `month` (1-12) of `year`; 0 for another month number.
int DaysInMonth(int year, int month);
// Day of the year, 1 for 1 January.
int DayOfYear(const CalendarDate& date);

// Reads a date ("7/4/12", "2012-07-04", "July 4, 2012", "4 Jul") in the
// locale's field order; nothing for texts shorter than 3 characters.
// Missing years are taken from `today` (the locale's clock when not given).
std::optional<CalendarDate> ParseDate(const std::string& text);
std::optional<CalendarDate> ParseDate(const std::string& text, const CalendarDate& today);

// Reads a time ("3:07:09 PM", "15.07", "7/4/2012 15:07:09"); missing fields
// are 0; "12:30 AM" is half past midnight.
TimeOfDay ParseTime(const std::string& text);

// Locale name of weekday `number` (0 Sunday) or month `number` (1-12) of the
// given kind; empty when the number is out of range.
std::string NameOf(int number, int kind);

// Week of the year (1-53, 0 when out of range) of today, or of `date`.
int WeekNumber();
int WeekNumber(const CalendarDate& date);

// Run-log duration: "less than 1 second", "5 seconds", "1:01", "1:01:01",
// "1 Day + 1:01:01".
std::string DurationText(std::int64_t milliseconds);

// The number of `text` (with "," and "$" ignored) in English words;
// with `cheque` the fraction is written "and 25/100".
std::string NumberToWords(const std::string& text, bool cheque);

}  // namespace olvex
