#include "platform/locale.h"

#include <cstdio>

namespace platform {

namespace {
const char* const kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                 "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
}  // namespace

std::string EnglishLocale::MonthName(int month, bool short_form) const {
  if (month < 1 || month > 12) return {};
  std::string name = kMonths[month - 1];
  return short_form ? name.substr(0, 3) : name;
}

std::string EnglishLocale::DayName(int weekday, bool short_form) const {
  if (weekday < 0 || weekday > 6) return {};
  std::string name = kDays[weekday];
  return short_form ? name.substr(0, 3) : name;
}

std::string EnglishLocale::YearText(int year, int, int, int) const { return std::to_string(year); }

std::string EnglishLocale::ShortDate(int year, int month, int day) const {
  return std::to_string(month) + "/" + std::to_string(day) + "/" + std::to_string(year);
}

std::string EnglishLocale::TimeText(int hour, int minute, int second) const {
  char text[32];
  int h12 = hour % 12 == 0 ? 12 : hour % 12;
  std::snprintf(text, sizeof text, "%d:%02d:%02d %s", h12, minute, second, hour < 12 ? "AM" : "PM");
  return text;
}

DateOrder EnglishLocale::ShortDateOrder() const { return DateOrder::MonthDayYear; }
std::string EnglishLocale::DateSeparator() const { return "/"; }
std::string EnglishLocale::DecimalSeparator() const { return "."; }
std::string EnglishLocale::ThousandsSeparator() const { return ","; }
LocalDateTime EnglishLocale::Now() const { return SystemLocalNow(); }

}  // namespace platform
