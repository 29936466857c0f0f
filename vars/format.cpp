#include "vars/format.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string_view>
#include <vector>

#include "engine/text.h"
#include "platform/locale.h"

namespace olvex {

namespace {

// The longest text FormatNumber gives.
constexpr std::size_t kNumberTextMax = 31;
// Number formats and time texts are read up to this many characters.
constexpr std::size_t kFormatMax = 255;
// Date and time fields are cut to this many characters.
constexpr std::size_t kFieldMax = 31;
// Serial numbers are held to this range: from 1 January 4713 BC (Julian day 1)
// to about the year 275000, so that the day arithmetic never overflows.
constexpr double kSerialMin = -2415018.0;
constexpr double kSerialMax = 1e8;
// Date and time arguments are held to this magnitude before they become integers.
constexpr double kArgumentMax = 1e9;

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  char small[128];
  int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string text;
  if (needed < 0) {
    va_end(again);
    return text;
  }
  if (static_cast<std::size_t>(needed) < sizeof small) {
    text.assign(small, static_cast<std::size_t>(needed));
  } else {
    text.resize(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<std::size_t>(needed));
  }
  va_end(again);
  return text;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trim(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// The whole number at the start of `text` (after an optional sign), held to
// +-kArgumentMax; 0 when there is none.
int LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(kArgumentMax)) value = static_cast<long long>(kArgumentMax);
  }
  return static_cast<int>(negative ? -value : value);
}

// A double cut toward zero to a whole number within +-kArgumentMax (NaN gives 0).
long long WholeArgument(double value) {
  if (std::isnan(value)) return 0;
  value = std::clamp(value, -kArgumentMax, kArgumentMax);
  return static_cast<long long>(value);
}

long long FloorDiv(long long a, long long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
long long FloorMod(long long a, long long b) { return a - FloorDiv(a, b) * b; }

// Julian day number of a proleptic Gregorian date (months counted from March).
long long JulianDay(long long year, long long month, long long day) {
  long long a = (14 - month) / 12;
  long long y = year + 4800 - a;
  long long m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + FloorDiv(y, 4) - FloorDiv(y, 100) + FloorDiv(y, 400) - 32045;
}

// Julian day number of the day 1 January 1900 is serial 1 (without the phantom day).
constexpr long long kJulianDayOfSerialZero = 2415020;

double SerialHeld(double serial) {
  if (std::isnan(serial)) return 0;
  return std::clamp(serial, kSerialMin, kSerialMax);
}

std::string NonFiniteText(double value) {
  if (std::isnan(value)) return "nan";
  return value < 0 ? "-inf" : "inf";
}

}  // namespace

// ---------------------------------------------------------------------------
// Numbers

std::string TrimNumber(const std::string& text, int minimum_decimals) {
  // An exponent stays as it is; only the mantissa loses its zeros.
  std::size_t exponent = text.find_first_of("eE");
  std::string mantissa = text.substr(0, exponent);
  std::string tail = exponent == std::string::npos ? std::string() : text.substr(exponent);
  if (mantissa.find('.') != std::string::npos) {
    while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
    if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
    // ".000" or "-." lost every digit: the number is 0.
    bool has_digit = std::any_of(mantissa.begin(), mantissa.end(), IsDigit);
    if (!has_digit && (mantissa.empty() || mantissa == "-" || mantissa == "+")) mantissa = "0";
  }
  if (minimum_decimals > 0 && tail.empty()) {
    std::size_t dot = mantissa.find('.');
    if (dot == std::string::npos) {
      mantissa += '.';
      dot = mantissa.size() - 1;
    }
    std::size_t wanted = std::min<std::size_t>(static_cast<std::size_t>(minimum_decimals), 4095);
    std::size_t have = mantissa.size() - dot - 1;
    if (have < wanted) mantissa.append(wanted - have, '0');
  }
  if (!mantissa.empty() && mantissa[0] == '.') mantissa.insert(0, "0");
  else if (mantissa.size() > 1 && (mantissa[0] == '-' || mantissa[0] == '+') && mantissa[1] == '.')
    mantissa.insert(1, "0");
  return mantissa + tail;
}

std::string FormatNumber(double value, double digits) {
  if (value == 0) return "0";
  if (!std::isfinite(value)) return NonFiniteText(value);
  if (std::isnan(digits)) digits = 15;
  double magnitude = std::fabs(value);
  std::string text;
  if (digits >= 1) {
    // More than 17 significant digits carry nothing a double holds.
    int significant = static_cast<int>(std::min(digits, 17.0));
    int integer_digits = std::max(1, static_cast<int>(std::log10(magnitude)) + 1);
    if (integer_digits <= significant) {
      int decimals = std::min(significant - integer_digits, 15);
      text = Printf("%#.*f", decimals, value);
    } else {
      text = Printf("%#.*e", significant - 1, value);
    }
  } else {
    // A tolerance: add decimals until what is left below them is smaller than it.
    int decimals = 0;
    double scaled = magnitude;
    while (decimals < 15) {
      double rest = scaled - std::floor(scaled);
      if (!(rest >= digits)) break;  // also ends on NaN
      ++decimals;
      scaled *= 10;
    }
    text = Printf("%#.*f", decimals, value);
  }
  // A fixed form too long to keep would lose its magnitude when cut: use the exponent form.
  if (text.size() > kNumberTextMax) text = Printf("%#.*e", 14, value);
  if (text.size() > kNumberTextMax) text.resize(kNumberTextMax);
  text = TrimNumber(text, 0);
  if (text == "-0") text = "0";
  return text;
}

double RoundTo(double x, double digits) {
  if (x == 0 || !std::isfinite(x)) return x;
  if (std::isnan(digits)) digits = 0;
  int places = static_cast<int>(std::clamp(std::trunc(digits), -308.0, 308.0));
  double magnitude = std::fabs(x);
  double result;
  if (places >= 0) {
    double whole = std::floor(magnitude);
    double fraction = magnitude - whole;
    if (fraction == 0) {
      result = whole;
    } else {
      double scale = std::pow(10.0, places);
      result = whole + std::floor(fraction * scale + 0.5 + 0.000001) / scale;
    }
  } else {
    double scale = std::pow(10.0, -places);
    result = std::trunc((magnitude + 0.555555) / scale) * scale;
  }
  return x < 0 ? -result : result;
}

double CutTo(double x, double digits) {
  if (x == 0 || !std::isfinite(x)) return x;
  if (std::isnan(digits)) digits = 0;
  int places = static_cast<int>(std::min(std::fabs(std::trunc(digits)), 308.0));
  double scale = std::pow(10.0, places);
  double magnitude = std::fabs(x);
  double scaled = magnitude * scale;
  // Past 2^52 a double has no fraction left to cut.
  if (!std::isfinite(scaled) || scaled >= 4503599627370496.0) return x;
  double cut = std::floor(scaled);
  // 1.15 is stored as 1.149999...; a product a few units of the last place
  // below a whole number is that whole number.
  double next = cut + 1;
  if (next - scaled <= 4 * 2.220446049250313e-16 * next) cut = next;
  double result = cut / scale;
  return x < 0 ? -result : result;
}

// ---------------------------------------------------------------------------
// Date serial numbers

double DateToSerial(double year, double month, double day) {
  long long y = WholeArgument(year), m = WholeArgument(month), d = WholeArgument(day);
  if (y < 1900) y += 1900;
  if (m < 1 || d < 1) return 0;
  if (y == 1900 && m == 2 && d == 29) return 60;
  // Months past December roll into the following years.
  y += (m - 1) / 12;
  m = (m - 1) % 12 + 1;
  long long serial = JulianDay(y, m, d) - kJulianDayOfSerialZero + 1;
  if (serial < 61) serial -= 1;
  return static_cast<double>(serial);
}

double TimeToFraction(double hour, double minute, double second) {
  long long seconds = (WholeArgument(hour) * 60 + WholeArgument(minute)) * 60 + WholeArgument(second);
  return static_cast<double>(FloorMod(seconds, 86400)) / 86400.0;
}

CalendarDate SerialToDate(double serial) {
  long long s = static_cast<long long>(std::floor(SerialHeld(serial)));
  if (s == 60) return {1900, 2, 29};
  if (s < 60) s += 1;
  // Fliegel and Van Flandern.
  long long l = s + 2483588;
  long long n = 4 * l / 146097;
  l = l - (146097 * n + 3) / 4;
  long long i = 4000 * (l + 1) / 1461001;
  l = l - 1461 * i / 4 + 31;
  long long j = 80 * l / 2447;
  long long d = l - 2447 * j / 80;
  l = j / 11;
  long long m = j + 2 - 12 * l;
  long long y = 100 * (n - 49) + i + l;
  return {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

TimeOfDay SerialToTime(double serial) {
  serial = SerialHeld(serial);
  double fraction = serial - std::floor(serial);
  long long seconds = std::llround(fraction * 86400.0) % 86400;
  return {static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60)};
}

int SerialWeekday(double serial) {
  // Serial 1 counts as Sunday 31 December 1899, so later serials fall on
  // their true weekdays while the phantom day keeps its place.
  long long s = static_cast<long long>(std::floor(SerialHeld(serial)));
  return static_cast<int>(FloorMod(s + 6, 7));
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int DayOfYear(const CalendarDate& date) {
  long long year = std::clamp(date.year, -1000000, 1000000);
  int month = std::clamp(date.month, 1, 12);
  return static_cast<int>(JulianDay(year, month, date.day) - JulianDay(year, 1, 1) + 1);
}

// ---------------------------------------------------------------------------
// The TEXT format codes

namespace {

std::string FormatNumberCodes(double value, const std::string& format) {
  std::string codes = format.substr(0, kFormatMax);
  bool thousands = codes.find(',') != std::string::npos;
  bool dollar = codes.find('$') != std::string::npos;
  bool parentheses = codes.find('(') != std::string::npos && codes.find(')') != std::string::npos;
  std::string cleaned;
  for (char c : codes)
    if (c != ',' && c != '$' && c != '(' && c != ')' && c != '_' && !IsBlank(c)) cleaned += c;

  std::size_t dot = cleaned.find('.');
  bool has_dot = dot != std::string::npos;
  int zeros = static_cast<int>(std::count(cleaned.begin(), has_dot ? cleaned.begin() + dot : cleaned.end(), '0'));
  int decimals = has_dot ? static_cast<int>(cleaned.size() - dot - 1) : 0;
  bool negative = value < 0;
  int width = zeros + decimals + (has_dot ? 1 : 0) + (negative ? 1 : 0);
  bool zero_pad = !cleaned.empty() && cleaned[0] == '0';
  double biased = value + 0.0000000001;
  std::string text = zero_pad ? Printf("%0*.*f", width, decimals, biased) : Printf("%*.*f", width, decimals, biased);

  if (has_dot && text.find('.') == std::string::npos) text += '.';
  if (zeros == 0) {
    if (text.compare(0, 2, "0.") == 0) text.erase(0, 1);
    else if (text.compare(0, 3, "-0.") == 0) text.erase(1, 1);
  }
  if (text.find('.') != std::string::npos) {
    // Leading blanks become zeros, after the sign.
    std::size_t blanks = text.find_first_not_of(' ');
    if (blanks != std::string::npos && blanks > 0) {
      std::string rest = text.substr(blanks);
      bool sign = rest[0] == '-';
      text = (sign ? "-" : "") + std::string(blanks, '0') + rest.substr(sign ? 1 : 0);
    }
  }
  if (thousands && std::fabs(value) >= 1000) {
    std::size_t end = text.find('.');
    if (end == std::string::npos) end = text.size();
    std::size_t begin = end;
    while (begin > 0 && IsDigit(text[begin - 1])) --begin;
    std::string digits = text.substr(begin, end - begin);
    std::string grouped;
    const std::string separator = platform::locale().ThousandsSeparator();
    for (std::size_t i = 0; i < digits.size(); ++i) {
      if (i > 0 && (digits.size() - i) % 3 == 0) grouped += separator;
      grouped += digits[i];
    }
    std::string fraction = text.substr(end);
    if (!fraction.empty()) fraction = platform::locale().DecimalSeparator() + fraction.substr(1);
    text = text.substr(0, begin) + grouped + fraction;
  }
  if (dollar) text.insert(0, "$");
  if (parentheses && negative) {
    std::size_t minus = text.find('-');
    if (minus != std::string::npos) text.erase(minus, 1);
    text = "(" + text + ")";
  }
  return text;
}

// A date and time format while its codes are replaced: open stretches may
// still hold codes; replaced stretches are final, so that the text put in by
// one code ("PM", "March") is never read as another.
class CodeText {
 public:
  enum Kind { kOpen, kDone, kMonthLong, kMonthShort };

  explicit CodeText(const std::string& format) { pieces_.push_back({format, kOpen}); }

  bool Has(std::string_view code) const {
    for (const Piece& piece : pieces_)
      if (piece.kind == kOpen && FindNoCase(piece.text, code) != std::string_view::npos) return true;
    return false;
  }

  bool HasKind(Kind kind) const {
    return std::any_of(pieces_.begin(), pieces_.end(), [kind](const Piece& p) { return p.kind == kind; });
  }

  // Every occurrence of `code` in the open stretches becomes `with` of the given kind.
  void Replace(std::string_view code, const std::string& with, Kind kind = kDone) {
    std::vector<Piece> out;
    for (Piece& piece : pieces_) {
      if (piece.kind != kOpen) {
        out.push_back(std::move(piece));
        continue;
      }
      std::size_t start = 0, at;
      while ((at = FindNoCase(piece.text, code, start)) != std::string_view::npos) {
        if (at > start) out.push_back({piece.text.substr(start, at - start), kOpen});
        out.push_back({with, kind});
        start = at + code.size();
      }
      if (start < piece.text.size()) out.push_back({piece.text.substr(start), kOpen});
    }
    pieces_ = std::move(out);
  }

  // Minutes written just before the seconds: "mm" or "m" followed by `s`,
  // directly or after one separator ("mmss", "mm ss", "m.s").
  void ReplaceMinutesBeforeSeconds(int minutes) {
    std::vector<Piece> out;
    for (Piece& piece : pieces_) {
      if (piece.kind != kOpen) {
        out.push_back(std::move(piece));
        continue;
      }
      const std::string& t = piece.text;
      std::string open;
      for (std::size_t i = 0; i < t.size();) {
        if (Lower(t[i]) != 'm') {
          open += t[i++];
          continue;
        }
        std::size_t run = 1;
        while (run < 2 && i + run < t.size() && Lower(t[i + run]) == 'm') ++run;
        std::size_t after = i + run;
        bool before_seconds =
            (after < t.size() && Lower(t[after]) == 's') ||
            (after + 1 < t.size() && !IsLetter(t[after]) && Lower(t[after + 1]) == 's');
        if (!before_seconds) {
          open.append(t, i, run);
          i = after;
          continue;
        }
        if (!open.empty()) out.push_back({std::move(open), kOpen});
        open.clear();
        out.push_back({run == 2 ? Printf("%02d", minutes) : Printf("%d", minutes), kDone});
        i = after;
      }
      if (!open.empty()) out.push_back({std::move(open), kOpen});
    }
    pieces_ = std::move(out);
  }

  void ReplaceKind(Kind kind, const std::string& with) {
    for (Piece& piece : pieces_)
      if (piece.kind == kind) {
        piece.text = with;
        piece.kind = kDone;
      }
  }

  std::string Text() const {
    std::string text;
    for (const Piece& piece : pieces_) text += piece.text;
    return text;
  }

 private:
  struct Piece {
    std::string text;
    Kind kind;
  };
  std::vector<Piece> pieces_;
};

std::string FormatDateCodes(double value, const std::string& format) {
  // The time to the nearest second; a day's last half second carries to the next day.
  double held = SerialHeld(value);
  double day = std::floor(held);
  long long seconds = std::llround((held - day) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    day += 1;
  }
  int hour = static_cast<int>(seconds / 3600), minute = static_cast<int>(seconds / 60 % 60),
      second = static_cast<int>(seconds % 60);
  // A serial of 0 or less has no date: its fields are 0 and its names empty.
  bool has_date = day > 0;
  CalendarDate date = has_date ? SerialToDate(day) : CalendarDate{};

  CodeText text(format);
  bool am_pm = text.Has("AM/PM");
  text.Replace("AM/PM", hour < 12 ? "AM" : "PM");
  text.Replace("MMMM", "", CodeText::kMonthLong);
  text.Replace("MMM", "", CodeText::kMonthShort);
  if (text.Has("h")) {
    int shown = (am_pm && hour > 12) ? hour - 12 : hour;
    text.Replace("hh", Printf("%02d", shown));
    text.Replace("h", Printf("%d", shown));
  }
  if (text.Has(":m") || text.Has("m:")) {
    text.Replace(":mm", Printf(":%02d", minute));
    text.Replace(":m", Printf(":%d", minute));
    text.Replace("mm:", Printf("%02d:", minute));
    text.Replace("m:", Printf("%01d:", minute));
  }
  text.ReplaceMinutesBeforeSeconds(minute);
  if (text.Has("m") && !text.Has("d")) {
    text.Replace("mm", Printf("%02d", minute));
    text.Replace("m", Printf("%d", minute));
  }
  if (text.Has("s")) {
    text.Replace("ss", Printf("%02d", second));
    text.Replace("s", Printf("%d", second));
  }
  if (text.Has("y")) {
    const platform::Locale& locale = platform::locale();
    text.Replace("yyyy", has_date ? locale.YearText(date.year, date.month, date.day, 4) : "");
    text.Replace("yyy", has_date ? locale.YearText(date.year, date.month, date.day, 3) : "");
    // Two digits of the century's year, also for years before 2000.
    int short_year = static_cast<int>(FloorMod(date.year, 100));
    text.Replace("yy", Printf("%02d", short_year));
    text.Replace("y", Printf("%01d", short_year));
  }
  if (text.Has("m") || text.HasKind(CodeText::kMonthLong) || text.HasKind(CodeText::kMonthShort)) {
    std::string long_name = NameOf(date.month, kMonthName);
    std::string short_name = NameOf(date.month, kMonthShortName);
    text.Replace("mmmm", long_name);
    text.ReplaceKind(CodeText::kMonthLong, long_name);
    text.Replace("mmm", short_name);
    text.ReplaceKind(CodeText::kMonthShort, short_name);
    text.Replace("mm", Printf("%02d", date.month));
    text.Replace("m", Printf("%01d", date.month));
  }
  if (text.Has("d")) {
    int weekday = SerialWeekday(day);
    text.Replace("dddd", has_date ? NameOf(weekday, kWeekdayName) : "");
    text.Replace("ddd", has_date ? NameOf(weekday, kWeekdayShortName) : "");
    text.Replace("dd", Printf("%02d", date.day));
    text.Replace("d", Printf("%01d", date.day));
  }
  return text.Text();
}

bool IsDateFormat(const std::string& format) {
  return format.find_first_of("YyMmDdHhSs") != std::string::npos;
}

}  // namespace

std::string FormatValue(double value, const std::string& format) {
  if (!format.empty() && format[0] == '@') return FormatNumber(value, 15);
  if (!std::isfinite(value)) return NonFiniteText(value);
  try {
    if (!IsDateFormat(format)) return FormatNumberCodes(value, format);
    return FormatDateCodes(value, format);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

// ---------------------------------------------------------------------------
// Reading dates and times

namespace {

// Month 1-12 named by `word` (full or short name, or at least three letters
// of the full name, without regard to case); 0 when none.
int MonthFromName(const std::string& word) {
  if (word.empty()) return 0;
  for (int month = 1; month <= 12; ++month) {
    std::string full = NameOf(month, kMonthName), abbreviated = NameOf(month, kMonthShortName);
    if (!abbreviated.empty() && abbreviated.back() == '.') abbreviated.pop_back();
    if (EqualsNoCase(word, full) || EqualsNoCase(word, abbreviated)) return month;
    if (word.size() >= 3 && word.size() <= full.size() && EqualsNoCase(word, std::string_view(full).substr(0, word.size())))
      return month;
  }
  return 0;
}

enum Role { kYear, kMonth, kDay };

std::vector<Role> LocaleRoles() {
  switch (platform::locale().ShortDateOrder()) {
    case platform::DateOrder::DayMonthYear: return {kDay, kMonth, kYear};
    case platform::DateOrder::YearMonthDay: return {kYear, kMonth, kDay};
    case platform::DateOrder::MonthDayYear: break;
  }
  return {kMonth, kDay, kYear};
}

}  // namespace

std::optional<CalendarDate> ParseDate(const std::string& text) {
  platform::LocalDateTime now = platform::locale().Now();
  return ParseDate(text, CalendarDate{now.year, now.month, now.day});
}

std::optional<CalendarDate> ParseDate(const std::string& text, const CalendarDate& today) {
  std::size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  std::string_view rest(text);
  rest.remove_prefix(start);
  if (rest.size() < 3) return std::nullopt;

  char separator = rest.find('-') != std::string_view::npos   ? '-'
                   : rest.find('/') != std::string_view::npos ? '/'
                                                              : ' ';
  std::vector<std::string> fields;
  std::size_t at = 0;
  while (fields.size() < 3 && at <= rest.size()) {
    std::size_t end;
    if (fields.size() == 2) {
      end = rest.find_first_of(" /\r\n", at);
    } else {
      end = rest.find(separator, at);
    }
    if (end == std::string_view::npos) end = rest.size();
    std::string field;
    for (char c : Trim(rest.substr(at, end - at)))
      if (c != ',' && c != '-') field += c;
    if (field.size() > kFieldMax) field.resize(kFieldMax);
    fields.push_back(field);
    if (end >= rest.size() || fields.size() == 3) break;
    at = end + 1;
    // Blanks between fields are one separator.
    if (separator == ' ')
      while (at < rest.size() && IsBlank(rest[at])) ++at;
  }

  auto all_digits = [](const std::string& f) { return std::all_of(f.begin(), f.end(), IsDigit); };
  int value[3] = {-1, -1, -1};  // by Role
  std::vector<const std::string*> pending;
  bool year_first = false;
  bool all_short = std::all_of(fields.begin(), fields.end(),
                               [&](const std::string& f) { return f.size() <= 2 && all_digits(f); });
  if (all_short) {
    for (const std::string& f : fields) pending.push_back(&f);
  } else {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::string& f = fields[i];
      bool letters = std::any_of(f.begin(), f.end(), IsLetter);
      int month = letters ? MonthFromName(f) : 0;
      std::size_t digits = 0;
      while (digits < f.size() && IsDigit(f[digits])) ++digits;
      if (letters && (month > 0 || digits == 0)) {
        if (value[kMonth] < 0) value[kMonth] = month;
      } else if (digits >= 3 && value[kYear] < 0) {
        value[kYear] = LeadingNumber(f);
        year_first = i == 0;
      } else {
        pending.push_back(&f);
      }
    }
  }
  // The fields not yet placed take the free places in the locale's order (a
  // year written first is followed by month and day); with fewer fields than
  // places the year is left out.
  std::vector<Role> roles = year_first ? std::vector<Role>{kMonth, kDay} : LocaleRoles();
  std::erase_if(roles, [&](Role r) { return value[r] >= 0; });
  if (pending.size() < roles.size()) std::erase(roles, kYear);
  for (std::size_t i = 0; i < pending.size() && i < roles.size(); ++i) value[roles[i]] = LeadingNumber(*pending[i]);

  int year = value[kYear] < 0 ? 0 : value[kYear];
  if (year >= 1 && year <= 29) year += 2000;
  else if (year >= 30 && year <= 999) year += 1900;
  else if (year <= 0) year = today.year;
  int month = std::clamp(value[kMonth] < 0 ? 0 : value[kMonth], 1, 12);
  int day = std::clamp(value[kDay] < 0 ? 0 : value[kDay], 1, 31);
  return CalendarDate{year, month, day};
}

TimeOfDay ParseTime(const std::string& text) {
  std::string work = text.substr(0, kFormatMax);
  bool afternoon = false, morning = false;
  if (FindNoCase(work, " AM") != std::string::npos || FindNoCase(work, " PM") != std::string::npos) {
    afternoon = FindNoCase(work, " PM") != std::string::npos;
    morning = !afternoon;
    for (std::string_view marker : {" AM", " PM"}) {
      std::size_t at;
      while ((at = FindNoCase(work, marker)) != std::string::npos) work.erase(at, marker.size());
    }
  }
  char separator = work.find(':') != std::string::npos ? ':' : '.';
  std::string fields[3];
  std::size_t at = 0;
  for (int i = 0; i < 3 && at <= work.size(); ++i) {
    std::size_t end = work.find(separator, at);
    if (end == std::string::npos) end = work.size();
    fields[i] = Trim(std::string_view(work).substr(at, std::min(end - at, kFieldMax)));
    at = end + 1;
    if (end == work.size()) break;
  }
  std::size_t last_blank = fields[0].find_last_of(" \t\r\n");
  if (last_blank != std::string::npos) fields[0] = fields[0].substr(last_blank + 1);
  std::size_t first_blank = fields[2].find_first_of(" \t\r\n");
  if (first_blank != std::string::npos) fields[2].resize(first_blank);

  TimeOfDay time{LeadingNumber(fields[0]), LeadingNumber(fields[1]), LeadingNumber(fields[2])};
  if (afternoon && time.hour < 12) time.hour += 12;
  if (morning && time.hour == 12) time.hour = 0;  // 12:30 AM is half past midnight
  return time;
}

// ---------------------------------------------------------------------------
// Names, week number, durations, words

std::string NameOf(int number, int kind) {
  const platform::Locale& locale = platform::locale();
  switch (kind) {
    case kWeekdayName:
    case kWeekdayShortName:
      if (number < 0 || number > 6) return {};
      return locale.DayName(number, kind == kWeekdayShortName);
    case kMonthName:
    case kMonthShortName:
      if (number < 1 || number > 12) return {};
      return locale.MonthName(number, kind == kMonthShortName);
    default: return {};
  }
}

int WeekNumber() {
  platform::LocalDateTime now = platform::locale().Now();
  return WeekNumber(CalendarDate{now.year, now.month, now.day});
}

int WeekNumber(const CalendarDate& date) {
  static const int kSakamoto[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  long long year = std::clamp(date.year, -1000000, 1000000);
  long long day_of_year = DayOfYear(date);
  // Weekday of 1 January (0 Sunday), with the year before for January and February.
  long long y = year - 1;
  int sunday_based = static_cast<int>(FloorMod(y + FloorDiv(y, 4) - FloorDiv(y, 100) + FloorDiv(y, 400) + kSakamoto[0] + 1, 7));
  int w = sunday_based - 1;  // Monday 0 ... Saturday 5, Sunday -1
  int o = w < 4 ? w : w - 7;
  long long week = (o + day_of_year - 1) / 7 + 1;
  if (week < 1 || week > 53) return 0;
  if (week == 53 && o != 3) return 1;
  return static_cast<int>(week);
}

std::string DurationText(std::int64_t milliseconds) {
  if (milliseconds < 1000) return "less than 1 second";
  std::int64_t seconds = milliseconds / 1000;
  long long s = seconds % 60, m = seconds / 60 % 60, h = seconds / 3600 % 24;
  if (seconds < 60) return Printf("%lld second%s", static_cast<long long>(seconds), seconds == 1 ? "" : "s");
  if (seconds < 3600) return Printf("%lld:%02lld", static_cast<long long>(seconds / 60), s);
  if (seconds <= 86400) return Printf("%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600), m, s);
  long long days = seconds / 86400;
  return Printf("%lld Day%s + %lld:%02lld:%02lld", days, days >= 2 ? "s" : "", h, m, s);
}

namespace {

const char* const kDigitWords[10] = {"Zero", "One", "Two", "Three", "Four", "Five", "Six", "Seven", "Eight", "Nine"};
const char* const kTeenWords[10] = {"Ten", "Eleven", "Twelve", "Thirteen", "Fourteen", "Fifteen", "Sixteen", "Seventeen", "Eighteen", "Nineteen"};
const char* const kTensWords[10] = {"", "Ten", "Twenty", "Thirty", "Forty", "Fifty", "Sixty", "Seventy", "Eighty", "Ninety"};

void AppendWord(std::string& text, const char* word) {
  text += word;
  text += ' ';
}

void AppendGroup(std::string& text, int group) {
  if (group >= 100) {
    AppendWord(text, kDigitWords[group / 100]);
    AppendWord(text, "Hundred");
  }
  int rest = group % 100;
  if (rest >= 20 || rest == 10) {
    AppendWord(text, kTensWords[rest / 10]);
    rest %= 10;
  } else if (rest >= 11) {
    AppendWord(text, kTeenWords[rest - 10]);
    rest = 0;
  }
  if (rest >= 1) AppendWord(text, kDigitWords[rest]);
}

// The number at the start of `text` in decimal notation (sign, digits, ".",
// digits, exponent); 0 when there is none.
double ReadDecimal(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  std::size_t begin = i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '-' || text[j] == '+')) ++j;
    if (j < text.size() && IsDigit(text[j])) {
      i = j;
      while (i < text.size() && IsDigit(text[i])) ++i;
    }
  }
  return std::strtod(text.substr(begin, i - begin).c_str(), nullptr);
}

}  // namespace

std::string NumberToWords(const std::string& text, bool cheque) {
  std::string cleaned;
  for (char c : text)
    if (c != ',' && c != '$') cleaned += c;
  double value = ReadDecimal(cleaned);
  if (!std::isfinite(value) || value > 2000000000.0) return "(Out of Range)";
  if (value == 0) return "Zero";
  if (value < 0) return {};

  // Whole part and decimals from one text rounded to 10 decimals, so that
  // 1.99999999999 reads "Two".
  std::string fixed = Printf("%.10f", value);
  std::size_t dot = fixed.find('.');
  long long whole = std::stoll(fixed.substr(0, dot));
  std::string decimals = dot == std::string::npos ? "" : fixed.substr(dot + 1);
  while (!decimals.empty() && decimals.back() == '0') decimals.pop_back();

  std::string words;
  static const struct {
    long long size;
    const char* name;
  } kScales[] = {{1000000000, "Billion"}, {1000000, "Million"}, {1000, "Thousand"}, {1, nullptr}};
  for (const auto& scale : kScales) {
    int group = static_cast<int>(whole / scale.size % 1000);
    if (group == 0) continue;
    AppendGroup(words, group);
    if (scale.name) AppendWord(words, scale.name);
  }
  if (!decimals.empty() || cheque) {
    if (cheque) {
      AppendWord(words, "and");
      if (decimals.empty()) {
        words += "no/100";
      } else {
        // Cents: ".5" is fifty cents.
        std::string cents = decimals.substr(0, 2);
        if (cents.size() < 2) cents += '0';
        words += Printf("%d/100", std::stoi(cents));
      }
    } else {
      AppendWord(words, "point");
      for (char digit : decimals) AppendWord(words, kDigitWords[digit - '0']);
    }
  }
  while (!words.empty() && words.back() == ' ') words.pop_back();
  return words;
}

}  // namespace olvex
