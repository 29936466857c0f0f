#pragma once
// The user's locale and local clock: month and weekday names, the short date
// order and separator, number separators, the year as the calendar writes it,
// the user's date and time texts, and the current local date and time.
// Reached through locale(); a test installs a fixed locale with
// SetLocaleForTest so that formatting is the same on every platform.
#include <string>

namespace platform {

// A calendar date and a time of day (Gregorian calendar, 24-hour clock).
struct LocalDateTime {
  int year = 1900, month = 1, day = 1;  // month 1-12, day 1-31
  int weekday = 1;                      // 0 Sunday ... 6 Saturday
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// The order of year, month and day in the short date format.
enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

class Locale {
 public:
  virtual ~Locale() = default;
  // Full ("January") or short ("Jan") name of month 1-12; empty outside that range.
  virtual std::string MonthName(int month, bool short_form) const = 0;
  // Full ("Sunday") or short ("Sun") name of weekday 0-6 (0 is Sunday); empty outside.
  virtual std::string DayName(int weekday, bool short_form) const = 0;
  // The year of a date as the calendar writes it with `letters` y's (3 or 4;
  // "2012" for the Gregorian calendar).
  virtual std::string YearText(int year, int month, int day, int letters) const = 0;
  // The date in the user's short date format ("7/4/2012").
  virtual std::string ShortDate(int year, int month, int day) const = 0;
  // The time in the user's time format ("3:07:09 PM").
  virtual std::string TimeText(int hour, int minute, int second) const = 0;
  // Order of the fields in the short date format.
  virtual DateOrder ShortDateOrder() const = 0;
  // Separator of the short date's fields ("/").
  virtual std::string DateSeparator() const = 0;
  // Decimal (".") and thousands (",") separators of numbers.
  virtual std::string DecimalSeparator() const = 0;
  virtual std::string ThousandsSeparator() const = 0;
  // The current local date and time.
  virtual LocalDateTime Now() const = 0;
};

// English names, month-day-year short dates "M/d/yyyy", times "h:mm:ss AM",
// "." and "," as separators; Now() reads the system clock. Tests derive from
// it to fix the clock or change a separator.
class EnglishLocale : public Locale {
 public:
  std::string MonthName(int month, bool short_form) const override;
  std::string DayName(int weekday, bool short_form) const override;
  std::string YearText(int year, int month, int day, int letters) const override;
  std::string ShortDate(int year, int month, int day) const override;
  std::string TimeText(int hour, int minute, int second) const override;
  DateOrder ShortDateOrder() const override;
  std::string DateSeparator() const override;
  std::string DecimalSeparator() const override;
  std::string ThousandsSeparator() const override;
  LocalDateTime Now() const override;
};

// The local date and time from the system clock.
LocalDateTime SystemLocalNow();
// A moment, in seconds since 1 January 1970 (UTC) and milliseconds, as local date and time.
LocalDateTime LocalDateTimeOf(long long seconds, int millisecond);

// The locale in force: the platform's own (the user's locale), or the one a test installed.
const Locale& locale();
// Tests: install a fake (nullptr puts the platform's own back).
void SetLocaleForTest(const Locale* fake);

}  // namespace platform
