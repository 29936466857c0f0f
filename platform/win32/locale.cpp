#include "platform/locale.h"

#include <windows.h>

namespace platform {

LocalDateTime SystemLocalNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LocalDateTime result;
  result.year = now.wYear;
  result.month = now.wMonth;
  result.day = now.wDay;
  result.weekday = now.wDayOfWeek;
  result.hour = now.wHour;
  result.minute = now.wMinute;
  result.second = now.wSecond;
  result.millisecond = now.wMilliseconds;
  return result;
}

const Locale& PlatformLocale() {
  static const EnglishLocale english;
  return english;
}

}  // namespace platform
