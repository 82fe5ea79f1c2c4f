// Datetime rules: calendar, tick rounding, every accepted input form, every display style, and
// the part arithmetic behind dateadd/datediff/datepart/datename.
#include "engine/datetime.h"

#include <gtest/gtest.h>

namespace sampleserver {
namespace {

DateTimeValue At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  auto v = MakeDateTime(CivilTime{y, mo, d, h, mi, s, ms});
  EXPECT_TRUE(v.has_value()) << y << "-" << mo << "-" << d;
  return v.value_or(DateTimeValue{});
}

std::string Storage(std::string_view text, DateFormat f = DateFormat::Mdy) {
  auto v = ParseDateTime(text, f);
  return v ? DateTimeToStorage(*v) : "<none>";
}

TEST(ValuesDateTime, CalendarAnchorsAndRange) {
  EXPECT_EQ(DaysFromCivil(1900, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(1753, 1, 1), kMinDateTimeDays);
  EXPECT_EQ(DaysFromCivil(9999, 12, 31), kMaxDateTimeDays);
  EXPECT_EQ(DaysFromCivil(2079, 6, 6), kMaxSmallDateTimeDays);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1) - DaysFromCivil(2000, 2, 28), 2);  // 2000 is leap
  EXPECT_EQ(DaysFromCivil(1900, 3, 1) - DaysFromCivil(1900, 2, 28), 1);  // 1900 is not
  for (int32_t d : {-53690, -1, 0, 59, 36524, 2958463}) {
    int y, m, dd;
    CivilFromDays(d, &y, &m, &dd);
    EXPECT_EQ(DaysFromCivil(y, m, dd), d);
  }
  EXPECT_FALSE(MakeDateTime(CivilTime{1752, 12, 31}).has_value());
  EXPECT_FALSE(MakeDateTime(CivilTime{1999, 2, 29}).has_value());
  EXPECT_FALSE(MakeDateTime(CivilTime{1999, 1, 1, 24}).has_value());
  EXPECT_TRUE(MakeDateTime(CivilTime{2000, 2, 29}).has_value());
}

TEST(ValuesDateTime, TickRoundingOfMilliseconds) {
  // datetime keeps 1/300 s: milliseconds show as .000, .003, .007, .010 ...
  const std::pair<int, int> cases[] = {{0, 0}, {1, 0}, {2, 3},  {3, 3},   {4, 3},     {5, 7},
                                       {6, 7}, {8, 7}, {9, 10}, {10, 10}, {500, 500}, {998, 997}};
  for (auto [in, shown] : cases)
    EXPECT_EQ(ToCivil(At(1999, 12, 29, 10, 20, 30, in)).millisecond, shown) << in;
  // 999 ms rounds up into the next second.
  CivilTime c = ToCivil(At(1999, 12, 31, 23, 59, 59, 999));
  EXPECT_EQ(c.year, 2000);
  EXPECT_EQ(c.hour, 0);
  EXPECT_EQ(c.millisecond, 0);
}

TEST(ValuesDateTime, SmallDateTimeRoundsToTheMinute) {
  EXPECT_EQ(DateTimeToStorage(RoundToSmallDateTime(At(1999, 12, 29, 10, 20, 29, 998))),
            "1999-12-29 10:20:00.000");
  EXPECT_EQ(DateTimeToStorage(RoundToSmallDateTime(At(1999, 12, 29, 10, 20, 29, 999))),
            "1999-12-29 10:21:00.000");
  EXPECT_EQ(DateTimeToStorage(RoundToSmallDateTime(At(1999, 12, 31, 23, 59, 45))),
            "2000-01-01 00:00:00.000");
  EXPECT_TRUE(InSmallDateTimeRange(At(2079, 6, 6)));
  EXPECT_FALSE(InSmallDateTimeRange(At(2079, 6, 7)));
  EXPECT_FALSE(InSmallDateTimeRange(At(1899, 12, 31)));
}

TEST(ValuesDateTime, ParsesEveryDateForm) {
  const char* kDec29 = "1999-12-29 00:00:00.000";
  for (const char* s :
       {"1999/12/29", "Dec 29 1999", "19991229", "12/29/1999", "29 Dec 1999", "December 29, 1999",
        "dec 29, 99", "12-29-1999", "12.29.1999", "12/29/99", "991229", "1999 Dec 29",
        "1999 29 Dec", "29 1999 Dec", "Dec 1999 29", "1999-12-29", "  Dec 29 1999  "})
    EXPECT_EQ(Storage(s), kDec29) << s;
  EXPECT_EQ(Storage("Dec 1999"), "1999-12-01 00:00:00.000");
  EXPECT_EQ(Storage("1999"), "1999-01-01 00:00:00.000");
  EXPECT_EQ(Storage(""), "1900-01-01 00:00:00.000");
  // Two-digit years pivot at 50.
  EXPECT_EQ(Storage("1/2/49"), "2049-01-02 00:00:00.000");
  EXPECT_EQ(Storage("1/2/50"), "1950-01-02 00:00:00.000");
}

TEST(ValuesDateTime, NumericDatesFollowTheDateFormat) {
  EXPECT_EQ(Storage("29/12/1999", DateFormat::Dmy), "1999-12-29 00:00:00.000");
  EXPECT_EQ(Storage("1999/29/12", DateFormat::Ydm), "1999-12-29 00:00:00.000");
  EXPECT_EQ(Storage("99/12/29", DateFormat::Ymd), "1999-12-29 00:00:00.000");
  EXPECT_EQ(Storage("29/12/1999", DateFormat::Mdy), "<none>");  // month 29
  // Alphabetic months ignore the format.
  EXPECT_EQ(Storage("Dec 29 1999", DateFormat::Dmy), "1999-12-29 00:00:00.000");
  EXPECT_EQ(ParseDateFormat("DMY"), DateFormat::Dmy);
  EXPECT_FALSE(ParseDateFormat("xyz").has_value());
}

TEST(ValuesDateTime, ParsesTimes) {
  EXPECT_EQ(Storage("Dec 29 1999 10:20"), "1999-12-29 10:20:00.000");
  EXPECT_EQ(Storage("Dec 29 1999 10:20:30"), "1999-12-29 10:20:30.000");
  EXPECT_EQ(Storage("12/29/1999 10:20:30:123"), "1999-12-29 10:20:30.123");
  EXPECT_EQ(Storage("12/29/1999 10:20:30:1"), "1999-12-29 10:20:30.000");  // thousandths: 1 ms
  EXPECT_EQ(Storage("12/29/1999 10:20:30.1"), "1999-12-29 10:20:30.100");  // a fraction
  EXPECT_EQ(Storage("12/29/1999 10:20:30.123"), "1999-12-29 10:20:30.123");
  EXPECT_EQ(Storage("Dec 29 1999 10:20AM"), "1999-12-29 10:20:00.000");
  EXPECT_EQ(Storage("Dec 29 1999 10:20PM"), "1999-12-29 22:20:00.000");
  EXPECT_EQ(Storage("Dec 29 1999 12:00AM"), "1999-12-29 00:00:00.000");
  EXPECT_EQ(Storage("Dec 29 1999 12:30pm"), "1999-12-29 12:30:00.000");
  EXPECT_EQ(Storage("Dec 29 1999 4 PM"), "1999-12-29 16:00:00.000");
  EXPECT_EQ(Storage("10AM Dec 29 1999"), "1999-12-29 10:00:00.000");
  EXPECT_EQ(Storage("10:20"), "1900-01-01 10:20:00.000");
  EXPECT_EQ(Storage("1999-12-29T10:20:30"), "1999-12-29 10:20:30.000");
  EXPECT_EQ(Storage("1999-12-29 10:20:30.997"), "1999-12-29 10:20:30.997");
}

TEST(ValuesDateTime, RejectsMalformedText) {
  for (const char* s :
       {"notadate", "13/1/1999", "2/30/1999", "Dec 32 1999", "1999/12", "12/29/1999 25:00",
        "12/29/1999 10:61", "10:20 13PM", "Foo 1 1999", "1999/12/29 10:20:30:1234", "1/1/1752",
        "12345", "1999/12/29 @", "99999999999999999999"})
    EXPECT_FALSE(ParseDateTime(s).has_value()) << s;
}

TEST(ValuesDateTime, EveryDisplayStyle) {
  DateTimeValue v = At(2025, 9, 7, 16, 32, 53, 490);
  const std::pair<int, const char*> cases[] = {
      {0, "Sep  7 2025  4:32PM"},
      {100, "Sep  7 2025  4:32PM"},
      {1, "09/07/25"},
      {101, "09/07/2025"},
      {2, "25.09.07"},
      {102, "2025.09.07"},
      {3, "07/09/25"},
      {103, "07/09/2025"},
      {4, "07.09.25"},
      {104, "07.09.2025"},
      {5, "07-09-25"},
      {105, "07-09-2025"},
      {6, "07 Sep 25"},
      {106, "07 Sep 2025"},
      {7, "Sep 07, 25"},
      {107, "Sep 07, 2025"},
      {8, "16:32:53"},
      {108, "16:32:53"},
      {9, "Sep  7 2025  4:32:53:490PM"},
      {109, "Sep  7 2025  4:32:53:490PM"},
      {10, "09-07-25"},
      {110, "09-07-2025"},
      {11, "25/09/07"},
      {111, "2025/09/07"},
      {12, "250907"},
      {112, "20250907"},
      {13, "25/07/09"},
      {113, "2025/07/09"},
      {14, "09/25/07"},
      {114, "09/2025/07"},
      {15, "07/25/09"},
      {115, "07/2025/09"},
      {16, "Sep  7 2025 16:32:53"},
      {116, "Sep  7 2025 16:32:53"},
      {17, " 4:32PM"},
      {117, " 4:32PM"},
      {18, "16:32"},
      {118, "16:32"},
      {19, " 4:32:53:490PM"},
      {20, "16:32:53:490"},
      {21, "25/09/07 16:32:53"},
      {121, "2025/09/07 16:32:53"},
      {22, "25/09/07  4:32PM"},
      {122, "2025/09/07  4:32PM"},
      {23, "2025-09-07T16:32:53"},
      {36, " 4:32:53.490000PM"},
      {37, "16:32:53.490000"},
      {38, "Sep  7 25  4:32:53.490000PM"},
      {138, "Sep  7 2025  4:32:53.490000PM"},
      {39, "Sep  7 25 16:32:53.490000"},
      {40, "25-09-07 16:32:53.490000"},
      {140, "2025-09-07 16:32:53.490000"},
  };
  for (auto [style, text] : cases) EXPECT_EQ(FormatDateTime(v, style), text) << style;
  EXPECT_EQ(FormatDateTime(At(1999, 12, 29)), "Dec 29 1999 12:00AM");
  EXPECT_EQ(FormatDateTime(At(1999, 12, 29, 12)), "Dec 29 1999 12:00PM");
  EXPECT_EQ(FormatDateTime(v, 55), FormatDateTime(v, 0));  // unknown styles fall back
  EXPECT_FALSE(IsDateTimeStyle(55));
}

TEST(ValuesDateTime, StorageRoundTrip) {
  DateTimeValue v = At(1753, 1, 1, 0, 0, 0, 3);
  EXPECT_EQ(DateTimeToStorage(v), "1753-01-01 00:00:00.003");
  auto back = DateTimeFromStorage(DateTimeToStorage(v));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->days, v.days);
  EXPECT_EQ(back->ticks, v.ticks);
  // Storage text sorts as the values do.
  EXPECT_LT(DateTimeToStorage(At(1999, 12, 29, 9)), DateTimeToStorage(At(1999, 12, 29, 10)));
  EXPECT_TRUE(DateTimeFromStorage("Dec 29 1999").has_value());
  EXPECT_FALSE(DateTimeFromStorage("1999-13-29 00:00:00.000").has_value());
}

TEST(ValuesDateTime, DatePartNamesAndAbbreviations) {
  EXPECT_EQ(ParseDatePart("yy"), DatePart::Year);
  EXPECT_EQ(ParseDatePart("MONTH"), DatePart::Month);
  EXPECT_EQ(ParseDatePart("dw"), DatePart::Weekday);
  EXPECT_EQ(ParseDatePart("dy"), DatePart::DayOfYear);
  EXPECT_EQ(ParseDatePart("mi"), DatePart::Minute);
  EXPECT_EQ(ParseDatePart("ms"), DatePart::Millisecond);
  EXPECT_EQ(ParseDatePart("cwk"), DatePart::CalWeekOfYear);
  EXPECT_FALSE(ParseDatePart("fortnight").has_value());
}

TEST(ValuesDateTime, DatePartValues) {
  DateTimeValue v = At(1999, 12, 29, 22, 20, 30, 123);  // a Wednesday
  EXPECT_EQ(DatePartValue(DatePart::Year, v), 1999);
  EXPECT_EQ(DatePartValue(DatePart::Quarter, v), 4);
  EXPECT_EQ(DatePartValue(DatePart::Month, v), 12);
  EXPECT_EQ(DatePartValue(DatePart::Day, v), 29);
  EXPECT_EQ(DatePartValue(DatePart::DayOfYear, v), 363);
  EXPECT_EQ(DatePartValue(DatePart::Weekday, v), 4);     // Sunday = 1
  EXPECT_EQ(DatePartValue(DatePart::Weekday, v, 1), 3);  // Monday = 1
  EXPECT_EQ(DatePartValue(DatePart::Hour, v), 22);
  EXPECT_EQ(DatePartValue(DatePart::Minute, v), 20);
  EXPECT_EQ(DatePartValue(DatePart::Second, v), 30);
  EXPECT_EQ(DatePartValue(DatePart::Millisecond, v), 123);
  EXPECT_EQ(DatePartValue(DatePart::Week, v), 53);
  EXPECT_EQ(DatePartValue(DatePart::Week, At(1999, 1, 1)), 1);     // Friday: week 1
  EXPECT_EQ(DatePartValue(DatePart::Week, At(1999, 1, 3)), 2);     // the first Sunday starts week 2
  EXPECT_EQ(DatePartValue(DatePart::Weekday, At(2000, 1, 2)), 1);  // a Sunday
  // ISO calendar parts.
  EXPECT_EQ(DatePartValue(DatePart::CalWeekOfYear, At(1993, 1, 1)), 53);
  EXPECT_EQ(DatePartValue(DatePart::CalYearOfWeek, At(1993, 1, 1)), 1992);
  EXPECT_EQ(DatePartValue(DatePart::CalDayOfWeek, At(1993, 1, 1)), 5);
  EXPECT_EQ(DatePartValue(DatePart::CalYearOfWeek, At(1989, 1, 1)), 1988);
  EXPECT_EQ(DateName(DatePart::Month, v), "December");
  EXPECT_EQ(DateName(DatePart::Weekday, v), "Wednesday");
  EXPECT_EQ(DateName(DatePart::Weekday, At(1900, 1, 1)), "Monday");
  EXPECT_EQ(DateName(DatePart::Year, v), "1999");
}

TEST(ValuesDateTime, DateAddClampsAndChecksRange) {
  auto add = [](DatePart p, int64_t n, DateTimeValue v) {
    auto r = DateAdd(p, n, v);
    return r ? DateTimeToStorage(*r) : std::string("<overflow>");
  };
  EXPECT_EQ(add(DatePart::Month, 1, At(1999, 1, 31)), "1999-02-28 00:00:00.000");
  EXPECT_EQ(add(DatePart::Month, 1, At(2000, 1, 31, 10)), "2000-02-29 10:00:00.000");
  EXPECT_EQ(add(DatePart::Month, -13, At(2000, 3, 31)), "1999-02-28 00:00:00.000");
  EXPECT_EQ(add(DatePart::Year, 1, At(2000, 2, 29)), "2001-02-28 00:00:00.000");
  EXPECT_EQ(add(DatePart::Quarter, 1, At(1999, 11, 30)), "2000-02-29 00:00:00.000");
  EXPECT_EQ(add(DatePart::Day, 3, At(1999, 12, 29)), "2000-01-01 00:00:00.000");
  EXPECT_EQ(add(DatePart::Week, -1, At(2000, 1, 5)), "1999-12-29 00:00:00.000");
  EXPECT_EQ(add(DatePart::Hour, 25, At(1999, 12, 29, 23)), "1999-12-31 00:00:00.000");
  EXPECT_EQ(add(DatePart::Minute, -1, At(2000, 1, 1)), "1999-12-31 23:59:00.000");
  EXPECT_EQ(add(DatePart::Second, 90, At(1999, 12, 29)), "1999-12-29 00:01:30.000");
  EXPECT_EQ(add(DatePart::Millisecond, 10, At(1999, 12, 29)), "1999-12-29 00:00:00.010");
  EXPECT_EQ(add(DatePart::Day, 1, At(9999, 12, 31)), "<overflow>");
  EXPECT_EQ(add(DatePart::Year, -300, At(1999, 1, 1)), "<overflow>");
  EXPECT_EQ(add(DatePart::Day, INT64_MAX, At(1999, 1, 1)), "<overflow>");
}

TEST(ValuesDateTime, DateDiffCountsBoundaries) {
  EXPECT_EQ(DateDiff(DatePart::Day, At(1999, 11, 30), At(1999, 12, 29)), 29);
  EXPECT_EQ(DateDiff(DatePart::Day, At(1999, 1, 1, 23), At(1999, 1, 2, 1)), 1);
  EXPECT_EQ(DateDiff(DatePart::Day, At(1999, 1, 1), At(1999, 1, 1, 23, 59)), 0);
  EXPECT_EQ(DateDiff(DatePart::Month, At(1999, 1, 25), At(1999, 2, 2)), 1);
  EXPECT_EQ(DateDiff(DatePart::Month, At(1999, 1, 1), At(1999, 1, 31)), 0);
  EXPECT_EQ(DateDiff(DatePart::Year, At(1999, 12, 31), At(2000, 1, 1)), 1);
  EXPECT_EQ(DateDiff(DatePart::Quarter, At(1999, 3, 31), At(1999, 4, 1)), 1);
  EXPECT_EQ(DateDiff(DatePart::Hour, At(1999, 1, 1, 4), At(1999, 1, 1, 5, 50)), 1);
  EXPECT_EQ(DateDiff(DatePart::Hour, At(1999, 1, 1, 4, 59), At(1999, 1, 1, 5, 1)), 1);
  EXPECT_EQ(DateDiff(DatePart::Minute, At(1999, 1, 1, 4, 0, 59), At(1999, 1, 1, 4, 1, 1)), 1);
  // Weeks count Sundays: Sat Jan 2 1999 -> Sun Jan 3 is one, Sun -> Sat is none.
  EXPECT_EQ(DateDiff(DatePart::Week, At(1999, 1, 2), At(1999, 1, 3)), 1);
  EXPECT_EQ(DateDiff(DatePart::Week, At(1999, 1, 3), At(1999, 1, 9)), 0);
  EXPECT_EQ(DateDiff(DatePart::Day, At(1999, 12, 29), At(1999, 11, 30)), -29);
  EXPECT_EQ(DateDiff(DatePart::Millisecond, At(1999, 1, 1), At(1999, 1, 1, 0, 0, 1, 3)), 1003);
  // Millisecond differences beyond an int are the caller's overflow (message 535).
  EXPECT_GT(DateDiff(DatePart::Millisecond, At(1900, 1, 1), At(2000, 1, 1)), INT32_MAX);
}

}  // namespace
}  // namespace sampleserver
