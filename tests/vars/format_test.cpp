#include "vars/format.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/locale.h"
#include "tests/support/case_table.h"

namespace olvex::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// English names (September shortened to "Sept", as British English does) with a fixed clock
// (Friday 15 March 2024), a chosen date order and chosen number separators.
class TestLocale : public platform::EnglishLocale {
 public:
  platform::DateOrder order = platform::DateOrder::MonthDayYear;
  std::string thousands = ",", decimal = ".";

  platform::DateOrder ShortDateOrder() const override { return order; }
  std::string MonthName(int month, bool short_form) const override {
    return short_form && month == 9 ? "Sept" : EnglishLocale::MonthName(month, short_form);
  }
  std::string ThousandsSeparator() const override { return thousands; }
  std::string DecimalSeparator() const override { return decimal; }
  platform::LocalDateTime Now() const override { return {2024, 3, 15, 5, 10, 30, 0, 0}; }
};

class FormatTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetLocaleForTest(&locale_); }
  void TearDown() override { platform::SetLocaleForTest(nullptr); }
  TestLocale locale_;
};

double Serial(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
  return DateToSerial(y, m, d) + TimeToFraction(h, mi, s);
}

// The cases of tests/vars/format_cases.txt; numbers as strtod reads them (nan, inf too).
std::vector<CaseRow> Cases(const char* section, std::size_t fields) {
  return CaseSection("tests/vars/format_cases.txt", section, fields);
}
double Num(const std::string& text) { return std::strtod(text.c_str(), nullptr); }
int Int(const std::string& text) { return std::stoi(text); }
// "yyyy-mm-dd hh:mm:ss" is that moment's serial; anything else a number.
double SerialOf(const std::string& text) {
  int y, m, d, h, mi, sec;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &m, &d, &h, &mi, &sec) == 6) return Serial(y, m, d, h, mi, sec);
  return Num(text);
}

// --- Numbers as text -------------------------------------------------------

TEST_F(FormatTest, FormatNumber) {
  for (const CaseRow& r : Cases("format number", 3)) {
    const std::string text = FormatNumber(Num(r.fields[0]), Num(r.fields[1]));
    EXPECT_EQ(text, r.fields[2]) << r.where;
    EXPECT_LE(text.size(), 31u) << r.where;
  }
}

TEST_F(FormatTest, TrimNumber) {
  for (const CaseRow& r : Cases("trim number", 3))
    EXPECT_EQ(TrimNumber(r.fields[0], std::stoi(r.fields[1])), r.fields[2]) << r.where;
  EXPECT_EQ(TrimNumber("1", 1 << 30).size(), 4097u);  // padding is held to 4095 decimals
}

TEST_F(FormatTest, RoundAndCut) {
  for (const CaseRow& r : Cases("round and cut", 4)) {
    EXPECT_DOUBLE_EQ(RoundTo(Num(r.fields[0]), Num(r.fields[1])), Num(r.fields[2])) << r.where;
    EXPECT_DOUBLE_EQ(CutTo(Num(r.fields[0]), Num(r.fields[1])), Num(r.fields[3])) << r.where;
  }
  EXPECT_TRUE(std::isnan(RoundTo(kNaN, 2)));
  EXPECT_TRUE(std::isnan(CutTo(kNaN, 2)));
  EXPECT_EQ(RoundTo(-kInf, 2), -kInf);
  EXPECT_EQ(CutTo(kInf, 2), kInf);
}

// --- TEXT: number formats --------------------------------------------------

TEST_F(FormatTest, NumberFormats) {
  for (const CaseRow& r : Cases("number formats", 3))
    EXPECT_EQ(FormatValue(Num(r.fields[0]), r.fields[1]), r.fields[2]) << r.where;
}

TEST_F(FormatTest, NumberFormatsUseTheLocaleSeparators) {
  locale_.thousands = ".";
  locale_.decimal = ",";
  EXPECT_EQ(FormatValue(1234.5, "#,##0.00"), "1.234,50");
  EXPECT_EQ(FormatValue(1234567, "#,##0"), "1.234.567");
  EXPECT_EQ(FormatValue(999.5, "#,##0.00"), "999.50");
}

TEST_F(FormatTest, OverlongNumberFormatsAndHugeValues) {
  // The format is read up to 255 characters: 255 zeros pad to 255 digits.
  EXPECT_EQ(FormatValue(5, std::string(1000, '0')), std::string(254, '0') + "5");
  EXPECT_EQ(FormatValue(1e300, "0").size(), 301u);
  std::string decimals = FormatValue(1, "0." + std::string(300, '#'));
  EXPECT_EQ(decimals.size(), 2u + 253u);
}

// --- TEXT: date and time formats -------------------------------------------

TEST_F(FormatTest, DateAndTimeFormats) {
  for (const CaseRow& r : Cases("date formats", 3))
    EXPECT_EQ(FormatValue(SerialOf(r.fields[0]), r.fields[1]), r.fields[2]) << r.where;
  // Half a second before midnight rounds into the next day.
  EXPECT_EQ(FormatValue(DateToSerial(2012, 7, 4) + 86399.6 / 86400, "yyyy-mm-dd hh:mm:ss"), "2012-07-05 00:00:00");
}

TEST_F(FormatTest, LongDateFormats) {
  std::string format;
  for (int i = 0; i < 2500; ++i) format += "dddd";
  std::string expected;
  for (int i = 0; i < 2500; ++i) expected += "Wednesday";
  EXPECT_EQ(FormatValue(Serial(2012, 7, 4), format), expected);
  EXPECT_EQ(FormatValue(Serial(2012, 7, 4), std::string(10001, 'y')).size(), 2500u * 4 + 2);
}

// --- Serial numbers --------------------------------------------------------

TEST_F(FormatTest, DateToSerial) {
  for (const CaseRow& r : Cases("date to serial", 4))
    EXPECT_EQ(DateToSerial(Num(r.fields[0]), Num(r.fields[1]), Num(r.fields[2])), Num(r.fields[3])) << r.where;
  EXPECT_TRUE(std::isfinite(DateToSerial(1e300, 1e300, 1e300)));
}

// The calendar against std::chrono's, day by day from 1895 to 2118. Serials count 29 February 1900
// as spreadsheets do: 60 is that day, the serials before it are one day later than the count says.
TEST_F(FormatTest, CalendarAgreesWithTheStandardLibrary) {
  using namespace std::chrono;
  EXPECT_EQ(SerialToDate(60), (CalendarDate{1900, 2, 29}));
  for (int serial = -1825; serial <= 80000; ++serial) {
    if (serial == 60) continue;
    const sys_days day = sys_days{1899y / December / 30} + days{serial < 60 ? serial + 1 : serial};
    const year_month_day ymd{day};
    const int y = static_cast<int>(ymd.year());
    const CalendarDate date{y, static_cast<int>(static_cast<unsigned>(ymd.month())),
                            static_cast<int>(static_cast<unsigned>(ymd.day()))};
    ASSERT_EQ(SerialToDate(serial + 0.99), date) << serial;
    ASSERT_EQ(DateToSerial(y < 1900 ? y - 1900 : y, date.month, date.day), serial) << serial;
    ASSERT_EQ(SerialWeekday(serial + 0.5), static_cast<int>(weekday{sys_days{1899y / December / 30} + days{serial}}.c_encoding()));
    ASSERT_EQ(IsLeapYear(y), ymd.year().is_leap()) << y;
    ASSERT_EQ(DaysInMonth(y, date.month), static_cast<int>(static_cast<unsigned>((ymd.year() / ymd.month() / last).day())));
    ASSERT_EQ(DayOfYear(date), (day - sys_days{ymd.year() / January / 1}).count() + 1) << serial;
  }
  EXPECT_GT(SerialToDate(1e300).year, 9999);
  EXPECT_LT(SerialToDate(-1e300).year, 0);
  EXPECT_EQ(SerialToDate(kNaN), (CalendarDate{1899, 12, 31}));
  for (int month : {0, 13}) EXPECT_EQ(DaysInMonth(2023, month), 0);
}

// Times of day as fractions of a day and back, in seconds.
TEST_F(FormatTest, TimesOfDay) {
  for (const CaseRow& r : Cases("time to fraction", 4))
    EXPECT_DOUBLE_EQ(TimeToFraction(Num(r.fields[0]), Num(r.fields[1]), Num(r.fields[2])), Num(r.fields[3]) / 86400)
        << r.where;
  for (const CaseRow& r : Cases("serial to time", 4))
    EXPECT_EQ(SerialToTime(Num(r.fields[0]) / 86400), (TimeOfDay{Int(r.fields[1]), Int(r.fields[2]), Int(r.fields[3])}))
        << r.where;
}

// --- Reading dates and times -----------------------------------------------

TEST_F(FormatTest, ParseDate) {
  const std::map<std::string, platform::DateOrder> orders{{"MonthDayYear", platform::DateOrder::MonthDayYear},
                                                          {"DayMonthYear", platform::DateOrder::DayMonthYear},
                                                          {"YearMonthDay", platform::DateOrder::YearMonthDay}};
  for (const CaseRow& r : Cases("parse date", 5)) {
    locale_.order = orders.at(r.fields[0]);
    const std::optional<CalendarDate> date = ParseDate(r.fields[1]);
    ASSERT_TRUE(date.has_value()) << r.where;
    EXPECT_EQ(*date, (CalendarDate{Int(r.fields[2]), Int(r.fields[3]), Int(r.fields[4])})) << r.where;
  }
  for (const char* text : {"", "12", "   12", "\t\r\n"}) EXPECT_FALSE(ParseDate(text).has_value()) << text;
  EXPECT_EQ(ParseDate("7/4", CalendarDate{1999, 1, 1}), (CalendarDate{1999, 7, 4}));
  EXPECT_TRUE(ParseDate(std::string(100000, '/')).has_value());
  EXPECT_TRUE(ParseDate(std::string(100000, 'x')).has_value());
}

TEST_F(FormatTest, ParseTime) {
  for (const CaseRow& r : Cases("parse time", 4))
    EXPECT_EQ(ParseTime(r.fields[0]), (TimeOfDay{Int(r.fields[1]), Int(r.fields[2]), Int(r.fields[3])})) << r.where;
  EXPECT_EQ(ParseTime(std::string(100000, ':')), (TimeOfDay{0, 0, 0}));
}

// --- Names, weeks, durations, words ----------------------------------------

TEST_F(FormatTest, NameOf) {
  for (const CaseRow& r : Cases("name of", 3))
    EXPECT_EQ(NameOf(Int(r.fields[0]), Int(r.fields[1])), r.fields[2]) << r.where;
}

TEST_F(FormatTest, WeekNumber) {
  for (const CaseRow& r : Cases("week number", 2)) {
    CalendarDate date{};
    std::sscanf(r.fields[0].c_str(), "%d-%d-%d", &date.year, &date.month, &date.day);
    EXPECT_EQ(WeekNumber(date), Int(r.fields[1])) << r.where;
  }
  EXPECT_EQ(WeekNumber(), 11);  // 15 March 2024, the test clock's today
}

TEST_F(FormatTest, DurationText) {
  for (const CaseRow& r : Cases("duration", 2)) EXPECT_EQ(DurationText(std::stoll(r.fields[0])), r.fields[1]) << r.where;
}

TEST_F(FormatTest, NumberToWords) {
  for (const CaseRow& r : Cases("number to words", 3))
    EXPECT_EQ(NumberToWords(r.fields[0], r.fields[1] == "1"), r.fields[2]) << r.where;
}

// --- The platform's own locale ---------------------------------------------

TEST(PlatformLocaleTest, GivesNamesSeparatorsAndAClock) {
  const platform::Locale& locale = platform::locale();
  for (int month = 1; month <= 12; ++month) {
    EXPECT_FALSE(locale.MonthName(month, false).empty());
    EXPECT_FALSE(locale.MonthName(month, true).empty());
  }
  for (int day = 0; day <= 6; ++day) EXPECT_FALSE(locale.DayName(day, false).empty());
  EXPECT_EQ(locale.MonthName(13, false), "");
  EXPECT_EQ(locale.DayName(7, true), "");
  EXPECT_FALSE(locale.DecimalSeparator().empty());
  EXPECT_FALSE(locale.ShortDate(2012, 7, 4).empty());
  EXPECT_FALSE(locale.TimeText(15, 7, 9).empty());
  platform::LocalDateTime now = locale.Now();
  EXPECT_GE(now.year, 2020);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.weekday, 0);
  EXPECT_LE(now.weekday, 6);
}

#ifdef _WIN32
// Wine's default user locale is English (United States).
TEST(PlatformLocaleTest, Win32UserLocaleIsEnglishUnitedStates) {
  const platform::Locale& locale = platform::locale();
  EXPECT_EQ(std::make_tuple(locale.MonthName(1, false), locale.MonthName(9, true), locale.DayName(0, false)),
            std::make_tuple("January", "Sep", "Sunday"));
  EXPECT_EQ(std::make_tuple(locale.DayName(3, true), locale.YearText(2012, 7, 4, 4), locale.YearText(2012, 7, 4, 3)),
            std::make_tuple("Wed", "2012", "2012"));
  EXPECT_EQ(locale.YearText(1500, 7, 4, 4), "1500");  // before the calendar functions' range
  EXPECT_EQ(std::make_tuple(locale.ShortDate(2012, 7, 4), locale.TimeText(15, 7, 9), locale.ShortDateOrder()),
            std::make_tuple("7/4/2012", "3:07:09 PM", platform::DateOrder::MonthDayYear));
  EXPECT_EQ(std::make_tuple(locale.DateSeparator(), locale.DecimalSeparator(), locale.ThousandsSeparator()),
            std::make_tuple("/", ".", ","));
  EXPECT_EQ(FormatValue(41094.5, "dddd d mmmm yyyy"), "Wednesday 4 July 2012");
  EXPECT_EQ(FormatValue(1234.5, "#,##0.00"), "1,234.50");
}
#endif

}  // namespace
}  // namespace olvex::test
