// The user's default locale through GetLocaleInfoA / GetDateFormatA /
// GetTimeFormatA (ANSI code page), and the local clock through GetLocalTime.
#include "platform/locale.h"

#include <windows.h>

namespace platform {

namespace {

SYSTEMTIME Day(int year, int month, int day) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  return st;
}

// GetDateFormatA of `st` with a picture ("MMMM") or, for nullptr, `flags`' format.
std::string DateText(const SYSTEMTIME& st, DWORD flags, const char* picture) {
  char text[256];
  int written = GetDateFormatA(LOCALE_USER_DEFAULT, flags, &st, picture, text, sizeof text);
  return written > 0 ? std::string(text) : std::string();
}

std::string Info(LCTYPE type) {
  char text[64];
  int written = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, text, sizeof text);
  return written > 0 ? std::string(text) : std::string();
}

class Win32Locale : public EnglishLocale {
 public:
  std::string MonthName(int month, bool short_form) const override {
    if (month < 1 || month > 12) return {};
    std::string name = DateText(Day(2000, month, 1), 0, short_form ? "MMM" : "MMMM");
    return name.empty() ? EnglishLocale::MonthName(month, short_form) : name;
  }

  std::string DayName(int weekday, bool short_form) const override {
    if (weekday < 0 || weekday > 6) return {};
    // 2 January 2000 was a Sunday.
    std::string name = DateText(Day(2000, 1, 2 + weekday), 0, short_form ? "ddd" : "dddd");
    return name.empty() ? EnglishLocale::DayName(weekday, short_form) : name;
  }

  std::string YearText(int year, int month, int day, int letters) const override {
    // The calendar functions know the years 1601 to 30827.
    if (year >= 1601 && year <= 30827 && month >= 1 && month <= 12 && day >= 1 && day <= 31) {
      std::string text = DateText(Day(year, month, day), 0, letters == 3 ? "yyy" : "yyyy");
      if (!text.empty()) return text;
    }
    return EnglishLocale::YearText(year, month, day, letters);
  }

  std::string ShortDate(int year, int month, int day) const override {
    std::string text = DateText(Day(year, month, day), DATE_SHORTDATE, nullptr);
    return text.empty() ? EnglishLocale::ShortDate(year, month, day) : text;
  }

  std::string TimeText(int hour, int minute, int second) const override {
    SYSTEMTIME st = Day(2000, 1, 1);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    char text[128];
    int written = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, text, sizeof text);
    return written > 0 ? std::string(text) : EnglishLocale::TimeText(hour, minute, second);
  }

  DateOrder ShortDateOrder() const override {
    // Where 22 November 2000 puts "20", "11" and "22" in the short date.
    std::string sample = DateText(Day(2000, 11, 22), DATE_SHORTDATE, nullptr);
    std::string::size_type year = sample.find("20"), month = sample.find("11"), day = sample.find("22");
    if (year < month && year < day) return DateOrder::YearMonthDay;
    if (day < month) return DateOrder::DayMonthYear;
    return DateOrder::MonthDayYear;
  }

  std::string DateSeparator() const override {
    std::string text = Info(LOCALE_SDATE);
    return text.empty() ? EnglishLocale::DateSeparator() : text;
  }

  std::string DecimalSeparator() const override {
    std::string text = Info(LOCALE_SDECIMAL);
    return text.empty() ? EnglishLocale::DecimalSeparator() : text;
  }

  std::string ThousandsSeparator() const override { return Info(LOCALE_STHOUSAND); }
};

}  // namespace

namespace {
LocalDateTime FromSystemTime(const SYSTEMTIME& time) {
  LocalDateTime result;
  result.year = time.wYear;
  result.month = time.wMonth;
  result.day = time.wDay;
  result.weekday = time.wDayOfWeek;
  result.hour = time.wHour;
  result.minute = time.wMinute;
  result.second = time.wSecond;
  result.millisecond = time.wMilliseconds;
  return result;
}
}  // namespace

LocalDateTime SystemLocalNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return FromSystemTime(now);
}

LocalDateTime LocalDateTimeOf(long long seconds, int millisecond) {
  // FILETIME counts 100 ns from 1601; 11644473600 seconds lie between 1601 and 1970.
  const ULONGLONG ticks = static_cast<ULONGLONG>(seconds + 11644473600LL) * 10000000ULL +
                          static_cast<ULONGLONG>(millisecond) * 10000ULL;
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}, local;
  SYSTEMTIME time{};
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &time);
  return FromSystemTime(time);
}

const Locale& PlatformLocale() {
  static const Win32Locale user_locale;
  return user_locale;
}

}  // namespace platform
