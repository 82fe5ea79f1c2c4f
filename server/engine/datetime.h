// Sybase datetime rules: calendar arithmetic over DateTimeValue (days since 1900-01-01 and
// 1/300-second ticks), parsing of every input form the server accepts, the convert() styles,
// date parts for datepart/datename/dateadd/datediff, and the storage text form.
#pragma once

#include "types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sampleserver {

// Order of day, month and year in all-numeric dates with separators (set dateformat).
enum class DateFormat { Mdy, Dmy, Ymd, Ydm, Myd, Dym };

// "mdy", "dmy", ... (case-insensitive); none when unknown.
std::optional<DateFormat> ParseDateFormat(std::string_view name);

// A broken-down datetime. millisecond is 0..999 (the tick rounding is applied when it becomes a
// DateTimeValue).
struct CivilTime {
  int year = 1900;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

constexpr uint32_t kTicksPerSecond = 300;
constexpr uint32_t kTicksPerDay = 86400u * kTicksPerSecond;

// Day numbers of the datetime range, Jan 1 1753 .. Dec 31 9999.
constexpr int32_t kMinDateTimeDays = -53690;
constexpr int32_t kMaxDateTimeDays = 2958463;
// smalldatetime: Jan 1 1900 .. Jun 6 2079 (an unsigned 16-bit day count).
constexpr int32_t kMaxSmallDateTimeDays = 65535;

// Days since 1900-01-01 of a proleptic Gregorian date (no range check).
int32_t DaysFromCivil(int year, int month, int day);
// The inverse: year, month, day of a day number.
void CivilFromDays(int32_t days, int* year, int* month, int* day);

// Milliseconds to ticks with Sybase's rounding to .000/.003/.007 (ms * 300 / 1000, rounded half
// up); 999 ms rounds to the next second, which the caller carries.
uint32_t MillisecondsToTicks(int milliseconds);
// Ticks of one second's fraction back to milliseconds as Sybase shows them (0, 3, 7, 10, ...).
int TicksToMilliseconds(uint32_t ticks);

// Builds a datetime; none when a field is out of range (month 13, Feb 30, hour 24...) or the
// date lies outside 1753..9999.
std::optional<DateTimeValue> MakeDateTime(const CivilTime& t);
CivilTime ToCivil(DateTimeValue v);

// Rounds to the minute (29.998 seconds rounds down, 29.999 and up round up) as smalldatetime
// stores it.
DateTimeValue RoundToSmallDateTime(DateTimeValue v);
bool InSmallDateTimeRange(DateTimeValue v);

// Parses any date/time string Sybase accepts: alphabetic months ("Dec 29 1999", "29 Dec 1999",
// "December 29, 1999", "1999 Dec 29"), numeric dates with / - . separators in the order of
// `format` (a leading 4-digit year is always read year-month-day), unseparated "yyyymmdd",
// "yymmdd" and "yyyy", and times before or after the date ("10:20", "10:20:30:123",
// "10:20:30.123", "10:20AM", "4 PM"). A missing date is Jan 1 1900, a missing time midnight,
// an empty or blank string Jan 1 1900. Two-digit years below 50 are 20yy. None when the text
// is not a date or is out of range.
std::optional<DateTimeValue> ParseDateTime(std::string_view text,
                                           DateFormat format = DateFormat::Mdy);

// convert(char, datetime, style). Styles 0-12, 100-112, 13-23, 113-122, 36-40, 136-140 as
// Sybase prints them; style 0 (and any unknown style) is the default "Dec 29 1999 12:00AM" with
// day and hour space-padded.
std::string FormatDateTime(DateTimeValue v, int style = 0);
bool IsDateTimeStyle(int style);

// The storage form "YYYY-MM-DD HH:MM:SS.mmm" (sorts as the values do) and back. FromStorage
// accepts anything ParseDateTime does, so a value stored by hand still reads.
std::string DateTimeToStorage(DateTimeValue v);
std::optional<DateTimeValue> DateTimeFromStorage(std::string_view text);

// The current local time, rounded to ticks.
DateTimeValue CurrentDateTime();

enum class DatePart {
  Year,
  Quarter,
  Month,
  Week,
  Day,
  DayOfYear,
  Weekday,
  Hour,
  Minute,
  Second,
  Millisecond,
  CalWeekOfYear,
  CalYearOfWeek,
  CalDayOfWeek,
};

// Full names and the abbreviations Sybase accepts (year/yy/yyyy, quarter/qq/q, month/mm/m,
// week/wk/ww, day/dd/d, dayofyear/dy/y, weekday/dw, hour/hh, minute/mi/n, second/ss/s,
// millisecond/ms, calweekofyear/cwk, calyearofweek/cyr, caldayofweek/cdw), case-insensitive.
std::optional<DatePart> ParseDatePart(std::string_view name);

// datepart(): the numeric value of a part. Weekday honours datefirst (7 = Sunday is 1).
int DatePartValue(DatePart part, DateTimeValue v, int datefirst = 7);
// datename(): month and weekday by name ("December", "Wednesday"), others as digits.
std::string DateName(DatePart part, DateTimeValue v, int datefirst = 7);

// dateadd(): adds n parts; months and years clamp to the end of the month (Jan 31 + 1 month =
// Feb 28/29); weeks add 7 days, quarters 3 months. None when the result leaves 1753..9999.
std::optional<DateTimeValue> DateAdd(DatePart part, int64_t n, DateTimeValue v);

// datediff(): end minus start counted in boundaries crossed (days count midnights, months
// count first-of-months, weeks count Sundays, years count Jan 1sts; hours, minutes, seconds
// and milliseconds count the truncated unit). The exact 64-bit count: the caller raises 535
// when it does not fit an int.
int64_t DateDiff(DatePart part, DateTimeValue start, DateTimeValue end);

}  // namespace sampleserver
