#include "platform/locale.h"

#include <sys/time.h>
#include <time.h>

namespace platform {

LocalDateTime SystemLocalNow() {
  struct timeval now {};
  gettimeofday(&now, nullptr);
  time_t seconds = now.tv_sec;
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
  result.millisecond = static_cast<int>(now.tv_usec / 1000);
  return result;
}

const Locale& PlatformLocale() {
  static const EnglishLocale english;
  return english;
}

}  // namespace platform
