// The process's locale as the environment names it (LC_ALL, LC_TIME,
// LC_NUMERIC, LANG), read with nl_langinfo_l; the C and POSIX locales, and a
// locale the system does not have, give the English defaults. The local clock
// is gettimeofday + localtime_r.
#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>
#include <sys/time.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// The locale name the environment gives `category` (LC_ALL, then the category's variable, then LANG).
std::string EnvironmentLocaleName(const char* category_variable) {
  for (const char* name : {"LC_ALL", category_variable, "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "C";
}

bool IsPlainC(const std::string& name) {
  return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

class PosixLocale : public EnglishLocale {
 public:
  PosixLocale() {
    if (!IsPlainC(EnvironmentLocaleName("LC_TIME"))) time_ = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (!IsPlainC(EnvironmentLocaleName("LC_NUMERIC")))
      numeric_ = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (time_) ReadDateFormat();
  }

  std::string MonthName(int month, bool short_form) const override {
    if (month < 1 || month > 12) return {};
    std::string name = Item(time_, static_cast<nl_item>((short_form ? ABMON_1 : MON_1) + month - 1));
    return name.empty() ? EnglishLocale::MonthName(month, short_form) : name;
  }

  std::string DayName(int weekday, bool short_form) const override {
    if (weekday < 0 || weekday > 6) return {};
    std::string name = Item(time_, static_cast<nl_item>((short_form ? ABDAY_1 : DAY_1) + weekday));
    return name.empty() ? EnglishLocale::DayName(weekday, short_form) : name;
  }

  std::string ShortDate(int year, int month, int day) const override {
    if (!time_ || date_format_.empty()) return EnglishLocale::ShortDate(year, month, day);
    struct tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    return Strftime(date_format_.c_str(), parts);
  }

  std::string TimeText(int hour, int minute, int second) const override {
    std::string format = Item(time_, T_FMT);
    if (format.empty()) return EnglishLocale::TimeText(hour, minute, second);
    struct tm parts {};
    parts.tm_year = 100;
    parts.tm_mday = 1;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return Strftime(format.c_str(), parts);
  }

  DateOrder ShortDateOrder() const override { return time_ ? order_ : EnglishLocale::ShortDateOrder(); }
  std::string DateSeparator() const override { return time_ ? separator_ : EnglishLocale::DateSeparator(); }

  std::string DecimalSeparator() const override {
    std::string text = Item(numeric_, RADIXCHAR);
    return text.empty() ? EnglishLocale::DecimalSeparator() : text;
  }

  std::string ThousandsSeparator() const override {
    if (!numeric_) return EnglishLocale::ThousandsSeparator();
    return Item(numeric_, THOUSEP);
  }

 private:
  static std::string Item(locale_t locale, nl_item item) {
    if (!locale) return {};
    const char* text = nl_langinfo_l(item, locale);
    return text ? text : "";
  }

  std::string Strftime(const char* format, const struct tm& parts) const {
    char text[256];
    std::size_t written = strftime_l(text, sizeof text, format, &parts, time_);
    return std::string(text, written);
  }

  // Learns the field order and separator of the short date format (D_FMT).
  void ReadDateFormat() {
    date_format_ = Item(time_, D_FMT);
    std::string expanded;
    for (std::size_t i = 0; i < date_format_.size(); ++i) {
      if (date_format_[i] == '%' && i + 1 < date_format_.size()) {
        char c = date_format_[i + 1];
        if (c == 'D') { expanded += "%m/%d/%y"; ++i; continue; }
        if (c == 'F') { expanded += "%Y-%m-%d"; ++i; continue; }
      }
      expanded += date_format_[i];
    }
    std::string roles;  // 'y', 'm', 'd' in the order they appear
    for (std::size_t i = 0; i < expanded.size(); ++i) {
      if (expanded[i] != '%') {
        if (roles.size() == 1 && separator_.empty()) separator_ = std::string(1, expanded[i]);
        continue;
      }
      std::size_t j = i + 1;
      while (j < expanded.size() && std::strchr("EO-_0^#", expanded[j])) ++j;
      if (j >= expanded.size()) break;
      char c = expanded[j];
      char role = std::strchr("yYCGg", c) ? 'y' : std::strchr("mbBh", c) ? 'm' : std::strchr("de", c) ? 'd' : 0;
      if (role && roles.find(role) == std::string::npos) roles += role;
      i = j;
    }
    if (separator_.empty()) separator_ = "/";
    if (roles.rfind("y", 0) == 0) order_ = DateOrder::YearMonthDay;
    else if (roles.rfind("d", 0) == 0) order_ = DateOrder::DayMonthYear;
    else order_ = DateOrder::MonthDayYear;
  }

  locale_t time_ = static_cast<locale_t>(0);
  locale_t numeric_ = static_cast<locale_t>(0);
  std::string date_format_;
  std::string separator_;
  DateOrder order_ = DateOrder::MonthDayYear;
};

}  // namespace

LocalDateTime LocalDateTimeOf(long long seconds_since_1970, int millisecond) {
  const time_t seconds = static_cast<time_t>(seconds_since_1970);
  struct tm parts {};
  localtime_r(&seconds, &parts);
  LocalDateTime result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.weekday = parts.tm_wday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  result.millisecond = millisecond;
  return result;
}

LocalDateTime SystemLocalNow() {
  struct timeval now {};
  gettimeofday(&now, nullptr);
  return LocalDateTimeOf(now.tv_sec, static_cast<int>(now.tv_usec / 1000));
}

const Locale& PlatformLocale() {
  static const PosixLocale process_locale;
  return process_locale;
}

}  // namespace platform
