#include "vars/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/locale.h"

namespace olvex::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// English names with a fixed clock (Friday 15 March 2024), a chosen date
// order and chosen number separators.
class TestLocale : public platform::EnglishLocale {
 public:
  platform::DateOrder order = platform::DateOrder::MonthDayYear;
  std::string thousands = ",", decimal = ".";

  platform::DateOrder ShortDateOrder() const override { return order; }
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

// --- Numbers as text -------------------------------------------------------

TEST_F(FormatTest, FormatNumber) {
  struct Case { double value, digits; const char* expected; };
  const Case cases[] = {
      {0, 15, "0"}, {42, 15, "42"}, {2.5, 15, "2.5"}, {-2.5, 15, "-2.5"}, {1.0 / 3, 15, "0.33333333333333"},
      {0.1 + 0.2, 15, "0.3"}, {0.001234, 15, "0.001234"}, {1.0 / 3, 7, "0.333333"},
      {123456789012345.0, 15, "123456789012345"},
      // More integer digits than significant digits: exponent form.
      {1234567, 5, "1.2346e+06"}, {1234567890123456.0, 15, "1.23456789012346e+15"},
      // Zeros of the mantissa go, those of the exponent stay.
      {1e6, 5, "1e+06"}, {2e10, 5, "2e+10"}, {1e300, 15, "1e+300"},
      // Below the last decimal: nothing is left, and no "-0".
      {1e-20, 15, "0"}, {-1e-20, 15, "0"}, {0.3 - 0.1 - 0.2, 15, "0"},
      // More digits than a double holds are not asked of printf.
      {1e20, 30, "1e+20"}, {123456789.125, 40, "123456789.125"},
      // Tolerances.
      {2.75, 0.1, "2.75"}, {1.4, 0.6, "1"}, {1.0 / 3, 0.0001, "0.333333333333333"}, {2.5, 0, "2.5"}, {2.5, -1, "2.5"},
      {1e300, 0.5, "1e+300"},
      // Not numbers.
      {kNaN, 15, "nan"}, {kInf, 15, "inf"}, {-kInf, 0.01, "-inf"}, {2.5, kNaN, "2.5"},
  };
  for (const Case& c : cases) {
    std::string text = FormatNumber(c.value, c.digits);
    EXPECT_EQ(text, c.expected) << c.value << " with " << c.digits;
    EXPECT_LE(text.size(), 31u);
  }
}

TEST_F(FormatTest, TrimNumber) {
  struct Case { const char* text; int minimum; const char* expected; };
  const Case cases[] = {
      {"2.500", 0, "2.5"},   {"2.000", 0, "2"},      {"100", 0, "100"},        {"100.", 0, "100"},
      {".5", 0, "0.5"},      {"-.5", 0, "-0.5"},     {"2.5", 3, "2.500"},      {"7", 2, "7.00"},
      {"2.50", 1, "2.5"},    {"2.345", 2, "2.345"},  {"0.000", 0, "0"},        {".000", 0, "0"},
      {"-.000", 0, "0"},     {"", 0, ""},            {"", 2, "0.00"},          {"1.2000e+10", 0, "1.2e+10"},
      {"1.0000e+10", 0, "1e+10"},
  };
  for (const Case& c : cases) EXPECT_EQ(TrimNumber(c.text, c.minimum), c.expected) << c.text;
  EXPECT_EQ(TrimNumber("1", 1 << 30).size(), 4097u);  // padding is held to 4095 decimals
}

TEST_F(FormatTest, RoundAndCut) {
  struct Case { double x, digits, rounded, cut; };
  const Case cases[] = {
      {2.345, 2, 2.35, 2.34}, {-2.345, 2, -2.35, -2.34}, {2.5, 0, 3, 2}, {-2.5, 0, -3, -2}, {5, 2, 5, 5}, {0, 3, 0, 0},
      {1.005, 2, 1.01, 1}, {3.14159, 3.9, 3.142, 3.141},
      // Negative digits: whole tens; cutting ignores the sign of digits.
      {1235, -1, 1230, 1235}, {1239.5, -1, 1240, 1239.5},
      {1236, -1, 1230, 1236},  // the 0.555555 nudge rounds by that, not by halves
      {1234.5, -2, 1200, 1234.5},
      // Decimal fractions stored just below themselves are cut to themselves.
      {1.15, 2, 1.15, 1.15}, {0.29, 2, 0.29, 0.29}, {2.999, 2, 3, 2.99}, {-2.999, 2, -3, -2.99},
      // Huge and extreme digits neither overflow nor lose the value.
      {1e300, 2, 1e300, 1e300}, {0.5, 400, 0.5, 0.5}, {5, 400, 5, 5}, {12345, -400, 0, 12345}, {2.5, kNaN, 3, 2},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(RoundTo(c.x, c.digits), c.rounded) << c.x << " to " << c.digits;
    EXPECT_DOUBLE_EQ(CutTo(c.x, c.digits), c.cut) << c.x << " to " << c.digits;
  }
  EXPECT_TRUE(std::isnan(RoundTo(kNaN, 2)));
  EXPECT_TRUE(std::isnan(CutTo(kNaN, 2)));
  EXPECT_EQ(RoundTo(-kInf, 2), -kInf);
  EXPECT_EQ(CutTo(kInf, 2), kInf);
}

// --- TEXT: number formats --------------------------------------------------

TEST_F(FormatTest, NumberFormats) {
  struct Case { double value; const char* format; const char* expected; };
  const Case cases[] = {
      {1234.5, "$#,##0.00", "$1,234.50"}, {-5, "(0)", "(5)"}, {5, "(0)", "5"}, {-5, "$(0.00)", "($5.00)"},
      {-5, "$0.00", "$-5.00"}, {0.5, "#.00", ".50"}, {-0.5, "#.00", "-.50"}, {3.14159, "0.00", "3.14"}, {7, "0", "7"},
      {2.5, "0", "3"},         // the tiny upward nudge settles halves upward
      {0.125, "0.00", "0.13"}, {1.5, "#00.00", "01.50"},
      {-1.5, "#00.00", "-01.50"},  // padding zeros go after the sign
      {1234567.891, "#,##0.00", "1,234,567.89"}, {-1234.5, "#,##0.00", "-1,234.50"}, {999.5, "#,##0.00", "999.50"},
      {1234, "#,##0", "1,234"}, {2.4, "", "2"}, {12.5, " 0 . 0 _ ", "12.5"}, {2.5, "@", "2.5"},
      {1.0 / 3, "@anything", "0.33333333333333"}, {kNaN, "0.00", "nan"}, {-kInf, "#,##0", "-inf"},
      {kInf, "yyyy", "inf"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatValue(c.value, c.format), c.expected) << c.format;
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
  struct Case { double serial; const char* format; const char* expected; };
  const double july4 = Serial(2012, 7, 4, 15, 7, 9);
  const Case cases[] = {
      {july4, "yyyy-mm-dd hh:mm:ss AM/PM", "2012-07-04 03:07:09 PM"},
      {july4, "yyyy-mm-dd hh:mm:ss", "2012-07-04 15:07:09"}, {july4, "YYYY-MM-DD HH:MM:SS", "2012-07-04 15:07:09"},
      {july4, "h:mm am/pm", "3:07 PM"},
      // Names are put in whole: the d of "Wednesday", the M of "PM" are not codes.
      {july4, "dddd, mmmm d, yyyy", "Wednesday, July 4, 2012"}, {july4, "ddd mmm dd yy", "Wed Jul 04 12"},
      {july4, "d/m/yyyy", "4/7/2012"}, {july4, "mmmm h AM/PM", "July 3 PM"}, {Serial(2012, 3, 5), "mmmm d", "March 5"},
      {Serial(2012, 12, 25), "mmmm dd", "December 25"},
      {Serial(2012, 12, 25), "mmmmm", "December0"},  // a lone m with no d is minutes
      // Minutes: after ":" or before ":", before seconds, or with no day in the format.
      {Serial(2012, 7, 4, 9, 5, 7), "mm:ss", "05:07"}, {Serial(2012, 7, 4, 9, 5, 7), "m:ss", "5:07"},
      {Serial(2012, 7, 4, 9, 5, 7), "h mm ss", "9 05 07"}, {Serial(2012, 7, 4, 9, 5, 7), "mmss", "0507"},
      {Serial(2012, 7, 4, 9, 5, 7), "hh mm", "09 05"}, {Serial(2012, 7, 4, 15, 42, 0), "mm/yyyy", "42/2012"},
      {Serial(2012, 7, 4, 9, 5, 7), "s", "7"},
      // Twelve-hour clock.
      {Serial(2012, 7, 4, 0, 15), "h:mm AM/PM", "0:15 AM"}, {Serial(2012, 7, 4, 12, 30), "h:mm AM/PM", "12:30 PM"},
      {Serial(2012, 7, 4, 23, 5), "hh:mm AM/PM", "11:05 PM"},
      // Years of other centuries.
      {Serial(1999, 12, 31), "yy/y", "99/99"}, {Serial(2005, 1, 2), "yy y", "05 5"},
      // The phantom 29 February 1900 and its neighbours keep their weekdays.
      {1, "yyyy-mm-dd dddd", "1900-01-01 Sunday"}, {59, "yyyy-mm-dd dddd", "1900-02-28 Tuesday"},
      {60, "yyyy-mm-dd dddd", "1900-02-29 Wednesday"}, {61, "yyyy-mm-dd dddd", "1900-03-01 Thursday"},
      // No date below serial 1; the time comes from the fraction above the day.
      {0.5, "hh:mm", "12:00"}, {0.5, "yyyy-mm-dd dddd hh:mm", "-00-00  12:00"}, {-1.25, "hh:mm", "18:00"},
      // Half a second before midnight rounds into the next day.
      {DateToSerial(2012, 7, 4) + 86399.6 / 86400, "yyyy-mm-dd hh:mm:ss", "2012-07-05 00:00:00"},
      // Huge serials are held to the calendar's range instead of overflowing.
      {1e300, "hh:mm", "00:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatValue(c.serial, c.format), c.expected) << c.format;
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
  struct Case { double y, m, d, serial; };
  const Case cases[] = {
      {1900, 1, 1, 1}, {1900, 2, 28, 59}, {1900, 2, 29, 60}, {1900, 3, 1, 61}, {2000, 1, 1, 36526}, {2012, 7, 4, 41094},
      {9999, 12, 31, 2958465},
      // Years below 1900 have 1900 added.
      {0, 1, 1, 1}, {0, 2, 29, 60}, {99, 12, 31, 36525}, {-5, 1, 1, -1825},
      // Months and days past their end roll over.
      {2012, 13, 1, 41275}, {2012, 14, 1, 41306}, {2012, 25, 1, 41640}, {2012, 1, 32, 40940}, {2011, 2, 29, 40603},
      // Nothing below month or day 1; fractions are cut.
      {2012, 0, 5, 0}, {2012, 5, 0, 0}, {2012, -1, 5, 0}, {2012.9, 7.9, 4.9, 41094}, {2012, kNaN, 5, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(DateToSerial(c.y, c.m, c.d), c.serial) << c.y << "-" << c.m << "-" << c.d;
  EXPECT_TRUE(std::isfinite(DateToSerial(1e300, 1e300, 1e300)));
}

TEST_F(FormatTest, SerialToDate) {
  struct Case { double serial; CalendarDate date; };
  const Case cases[] = {
      {1, {1900, 1, 1}},      {59, {1900, 2, 28}},       {60, {1900, 2, 29}},   {61, {1900, 3, 1}},
      {0, {1899, 12, 31}},    {-1825, {1895, 1, 1}},     {41094.99, {2012, 7, 4}}, {2958465, {9999, 12, 31}},
      {36526, {2000, 1, 1}},  {kNaN, {1899, 12, 31}},
  };
  for (const Case& c : cases) EXPECT_EQ(SerialToDate(c.serial), c.date) << c.serial;
  EXPECT_GT(SerialToDate(1e300).year, 9999);
  EXPECT_LT(SerialToDate(-1e300).year, 0);
}

TEST_F(FormatTest, SerialsAndDatesRoundTrip) {
  for (int serial = -1000; serial <= 80000; ++serial) {
    CalendarDate date = SerialToDate(serial);
    ASSERT_EQ(DateToSerial(date.year < 1900 ? date.year - 1900 : date.year, date.month, date.day), serial)
        << date.year << "-" << date.month << "-" << date.day;
  }
}

TEST_F(FormatTest, TimesOfDay) {
  struct Case { double h, m, s, fraction; };
  const Case cases[] = {
      {12, 0, 0, 0.5},       {0, 0, 0, 0},        {24, 0, 0, 0},          {15, 7, 9, 54429.0 / 86400},
      {-1, 0, 0, 23.0 / 24}, {0, 0, 86401, 1.0 / 86400}, {1.9, 0, 0, 1.0 / 24}, {kNaN, 30, 0, 0.5 / 24},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(TimeToFraction(c.h, c.m, c.s), c.fraction) << c.h << ":" << c.m << ":" << c.s;

  struct Back { double serial; TimeOfDay time; };
  const Back backs[] = {
      {0.5, {12, 0, 0}}, {41094 + 54429.0 / 86400, {15, 7, 9}}, {0.999999, {0, 0, 0}}, {-0.25, {18, 0, 0}}, {kNaN, {0, 0, 0}},
  };
  for (const Back& b : backs) EXPECT_EQ(SerialToTime(b.serial), b.time) << b.serial;

  struct Weekday { double serial; int weekday; };
  const Weekday weekdays[] = {{1, 0}, {59, 2}, {60, 3}, {61, 4}, {41094, 3}, {41094.9, 3}, {0, 6}, {-1, 5}};
  for (const Weekday& w : weekdays) EXPECT_EQ(SerialWeekday(w.serial), w.weekday) << w.serial;
}

TEST_F(FormatTest, CalendarFacts) {
  for (int year : {1900, 2023, 2100}) EXPECT_FALSE(IsLeapYear(year)) << year;
  for (int year : {2000, 2024, 1600}) EXPECT_TRUE(IsLeapYear(year)) << year;
  struct Case { int year, month, days; };
  const Case cases[] = {{2024, 2, 29}, {1900, 2, 28}, {2023, 4, 30}, {2023, 12, 31}, {2023, 13, 0}, {2023, 0, 0}};
  for (const Case& c : cases) EXPECT_EQ(DaysInMonth(c.year, c.month), c.days) << c.year << "-" << c.month;
  EXPECT_EQ(DayOfYear({2024, 12, 31}), 366);
  EXPECT_EQ(DayOfYear({2023, 3, 1}), 60);
  EXPECT_EQ(DayOfYear({2023, 1, 1}), 1);
}

// --- Reading dates and times -----------------------------------------------

TEST_F(FormatTest, ParseDate) {
  using Order = platform::DateOrder;
  struct Case { Order order; const char* text; CalendarDate date; };
  const Case cases[] = {
      {Order::MonthDayYear, "7/4/12", {2012, 7, 4}}, {Order::MonthDayYear, "7/4/45", {1945, 7, 4}},
      {Order::MonthDayYear, "7/4/2012", {2012, 7, 4}}, {Order::MonthDayYear, "  7/4/12", {2012, 7, 4}},
      {Order::MonthDayYear, "7/4/12\r\nmore", {2012, 7, 4}}, {Order::MonthDayYear, "7/4", {2024, 7, 4}},
      {Order::MonthDayYear, "2012-07-04", {2012, 7, 4}}, {Order::MonthDayYear, "2012-07-04 15:07:09", {2012, 7, 4}},
      {Order::MonthDayYear, "July 4, 2012", {2012, 7, 4}}, {Order::MonthDayYear, "july   4,  2012", {2012, 7, 4}},
      {Order::MonthDayYear, "4 July 2012", {2012, 7, 4}}, {Order::MonthDayYear, "04-Jul-2012", {2012, 7, 4}},
      {Order::MonthDayYear, "Sept 30 2012", {2012, 9, 30}}, {Order::MonthDayYear, "Jul 4", {2024, 7, 4}},
      // Years: 1-29 this century, 30-999 the last, 0 the current year.
      {Order::MonthDayYear, "7/4/29", {2029, 7, 4}}, {Order::MonthDayYear, "7/4/30", {1930, 7, 4}},
      {Order::MonthDayYear, "7/4/0", {2024, 7, 4}}, {Order::MonthDayYear, "7/4/999", {2899, 7, 4}},
      // Months and days are held to their ranges; an unknown month name is January.
      {Order::MonthDayYear, "13/45/12", {2012, 12, 31}}, {Order::MonthDayYear, "0/0/12", {2012, 1, 1}},
      {Order::MonthDayYear, "Foo 4 2012", {2012, 1, 4}},
      {Order::MonthDayYear, "99999999999/99999999999/99999999999", {1000000000, 12, 31}},
      {Order::DayMonthYear, "4/7/12", {2012, 7, 4}}, {Order::DayMonthYear, "4/7", {2024, 7, 4}},
      {Order::DayMonthYear, "2012-07-04", {2012, 7, 4}}, {Order::DayMonthYear, "4 July 2012", {2012, 7, 4}},
      {Order::YearMonthDay, "12/7/4", {2012, 7, 4}}, {Order::YearMonthDay, "7/4", {2024, 7, 4}},
  };
  for (const Case& c : cases) {
    locale_.order = c.order;
    std::optional<CalendarDate> date = ParseDate(c.text);
    ASSERT_TRUE(date.has_value()) << c.text;
    EXPECT_EQ(*date, c.date) << c.text;
  }
  for (const char* text : {"", "12", "   12", "\t\r\n"}) EXPECT_FALSE(ParseDate(text).has_value()) << text;
  EXPECT_EQ(ParseDate("7/4", CalendarDate{1999, 1, 1}), (CalendarDate{1999, 7, 4}));
  EXPECT_TRUE(ParseDate(std::string(100000, '/')).has_value());
  EXPECT_TRUE(ParseDate(std::string(100000, 'x')).has_value());
}

TEST_F(FormatTest, ParseTime) {
  struct Case { const char* text; TimeOfDay time; };
  const Case cases[] = {
      {"15:07:09", {15, 7, 9}}, {"3:07:09 PM", {15, 7, 9}}, {"3:07:09 pm", {15, 7, 9}}, {"3:07 AM", {3, 7, 0}},
      {"12:30 PM", {12, 30, 0}}, {"12:30 AM", {0, 30, 0}}, {"15.07", {15, 7, 0}}, {"7/4/2012 15:07:09", {15, 7, 9}},
      {"7/4/2012\t3:07 PM", {15, 7, 0}}, {"15:07:09 tomorrow", {15, 7, 9}}, {" 15 : 07 : 09 ", {15, 7, 9}},
      {"1:2:3:4", {1, 2, 3}}, {"", {0, 0, 0}}, {"abc", {0, 0, 0}}, {"99999999999:0:0", {1000000000, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseTime(c.text), c.time) << c.text;
  EXPECT_EQ(ParseTime(std::string(100000, ':')), (TimeOfDay{0, 0, 0}));
}

// --- Names, weeks, durations, words ----------------------------------------

TEST_F(FormatTest, NameOf) {
  struct Case { int number, kind; const char* name; };
  const Case cases[] = {
      {0, kWeekdayName, "Sunday"}, {6, kWeekdayShortName, "Sat"}, {1, kMonthName, "January"},
      {12, kMonthShortName, "Dec"}, {13, kMonthName, ""},         {0, kMonthName, ""},
      {7, kWeekdayName, ""},        {-1, kWeekdayName, ""},       {3, 9, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(NameOf(c.number, c.kind), c.name) << c.number << " kind " << c.kind;
}

TEST_F(FormatTest, WeekNumber) {
  struct Case { CalendarDate date; int week; };
  const Case cases[] = {
      {{2024, 1, 1}, 1},   {{2024, 1, 7}, 1},  {{2024, 1, 8}, 2},   {{2024, 12, 31}, 1},  // 1 January a Monday
      {{2020, 12, 31}, 1},                                                           // a Wednesday
      {{2015, 12, 31}, 53},                                                          // a Thursday keeps week 53
      {{2021, 1, 1}, 1},   {{2021, 1, 4}, 1},  {{2021, 1, 11}, 2},                    // a Friday
      {{2023, 1, 1}, 1},   {{2023, 1, 9}, 2},                                         // a Sunday
      {{2023, 13, 1}, 48},                                                           // held to December
  };
  for (const Case& c : cases)
    EXPECT_EQ(WeekNumber(c.date), c.week) << c.date.year << "-" << c.date.month << "-" << c.date.day;
  EXPECT_EQ(WeekNumber(), 11);  // 15 March 2024, the test clock's today
}

TEST_F(FormatTest, DurationText) {
  struct Case { std::int64_t ms; const char* text; };
  const Case cases[] = {
      {0, "less than 1 second"},  {999, "less than 1 second"}, {-5, "less than 1 second"},
      {1000, "1 second"},         {1999, "1 second"},          {2000, "2 seconds"},
      {59999, "59 seconds"},      {60000, "1:00"},             {61000, "1:01"},
      {3599000, "59:59"},         {3600000, "1:00:00"},        {86400000, "24:00:00"},
      {86401000, "1 Day + 0:00:01"}, {90061000, "1 Day + 1:01:01"}, {172800000, "2 Days + 0:00:00"},
      {INT64_MAX, "106751991167 Days + 7:12:55"},
  };
  for (const Case& c : cases) EXPECT_EQ(DurationText(c.ms), c.text) << c.ms;
}

TEST_F(FormatTest, NumberToWords) {
  struct Case { const char* text; bool cheque; const char* words; };
  const Case cases[] = {
      {"1,215.5", false, "One Thousand Two Hundred Fifteen point Five"},
      {"1,215.25", true, "One Thousand Two Hundred Fifteen and 25/100"}, {"7", true, "Seven and no/100"},
      {"1.5", true, "One and 50/100"}, {"1.05", true, "One and 5/100"}, {"1.999", true, "One and 99/100"},
      {"1.05", false, "One point Zero Five"}, {"1.99999999999", false, "Two"}, {"0.5", false, "point Five"},
      {"0", false, "Zero"}, {"", true, "Zero"}, {"abc", false, "Zero"}, {"-5", false, ""},
      {"2000000000", false, "Two Billion"}, {"2000000001", false, "(Out of Range)"}, {"1e400", false, "(Out of Range)"},
      {"1e3", false, "One Thousand"}, {"$1,000,010", false, "One Million Ten"}, {"115", false, "One Hundred Fifteen"},
      {"90", false, "Ninety"}, {"21", false, "Twenty One"}, {"10", false, "Ten"}, {"110", false, "One Hundred Ten"},
      {"123456789", false, "One Hundred Twenty Three Million Four Hundred Fifty Six Thousand Seven Hundred Eighty Nine"},
      {"  42abc", false, "Forty Two"}, {"nan", false, "Zero"},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberToWords(c.text, c.cheque), c.words) << c.text;
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
