#include "engine/datetime.h"

#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

namespace sampleserver {
namespace {

constexpr std::array<const char*, 12> kMonthShort = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 12> kMonthLong = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
// Indexed Monday = 0 .. Sunday = 6: day 0 (Jan 1 1900) was a Monday.
constexpr std::array<const char*, 7> kWeekdayLong = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                     "Friday", "Saturday", "Sunday"};

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Monday = 0 .. Sunday = 6.
int WeekdayMon0(int32_t days) { return static_cast<int>(((days % 7) + 7) % 7); }

int64_t TotalTicks(DateTimeValue v) {
  return static_cast<int64_t>(v.days) * kTicksPerDay + v.ticks;
}

std::optional<DateTimeValue> FromTotalTicks(int64_t total) {
  int64_t days = FloorDiv(total, kTicksPerDay);
  if (days < kMinDateTimeDays || days > kMaxDateTimeDays) return std::nullopt;
  return DateTimeValue{static_cast<int32_t>(days),
                       static_cast<uint32_t>(total - days * kTicksPerDay)};
}

int MonthFromName(std::string_view word) {
  for (int i = 0; i < 12; ++i)
    if (EqualsNoCase(word, kMonthShort[i]) || EqualsNoCase(word, kMonthLong[i])) return i + 1;
  return 0;
}

int ExpandYear(int year, size_t digitCount) {
  if (digitCount <= 2) return year < 50 ? 2000 + year : 1900 + year;
  return year;
}

struct Token {
  enum Kind { Number, Word, Sym } kind;
  std::string text;
  bool spaceBefore = false;
};

std::optional<std::vector<Token>> Tokenize(std::string_view s) {
  std::vector<Token> tokens;
  bool space = false;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (std::isspace(c)) {
      space = true;
      ++i;
    } else if (std::isdigit(c)) {
      size_t j = i;
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      // Longer digit runs are never part of a date; refusing them keeps the arithmetic bounded.
      if (j - i > 9) return std::nullopt;
      tokens.push_back({Token::Number, std::string(s.substr(i, j - i)), space});
      i = j;
      space = false;
    } else if (std::isalpha(c)) {
      size_t j = i;
      while (j < s.size() && std::isalpha(static_cast<unsigned char>(s[j]))) ++j;
      tokens.push_back({Token::Word, std::string(s.substr(i, j - i)), space});
      i = j;
      space = false;
    } else if (c == '/' || c == '-' || c == '.' || c == ':' || c == ',') {
      tokens.push_back({Token::Sym, std::string(1, static_cast<char>(c)), space});
      ++i;
      space = false;
    } else {
      return std::nullopt;
    }
  }
  return tokens;
}

bool IsSym(const std::vector<Token>& t, size_t i, char c) {
  return i < t.size() && t[i].kind == Token::Sym && t[i].text[0] == c;
}
bool IsNum(const std::vector<Token>& t, size_t i) {
  return i < t.size() && t[i].kind == Token::Number;
}
int AmPm(const std::vector<Token>& t, size_t i) {
  if (i >= t.size() || t[i].kind != Token::Word) return 0;
  if (EqualsNoCase(t[i].text, "am")) return 1;
  if (EqualsNoCase(t[i].text, "pm")) return 2;
  return 0;
}

struct TimeOfDay {
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Finds and removes the time part: hh:mm[:ss[:mmm|.fff]][AM|PM] or hh AM|PM. False on a
// malformed time.
bool ExtractTime(std::vector<Token>& t, TimeOfDay* out, bool* found) {
  *found = false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (!IsNum(t, i)) continue;
    size_t end = i;
    TimeOfDay tod;
    if (IsSym(t, i + 1, ':')) {
      if (!IsNum(t, i + 2)) return false;
      tod.hour = std::stoi(t[i].text);
      tod.minute = std::stoi(t[i + 2].text);
      end = i + 3;
      if (IsSym(t, end, ':') && IsNum(t, end + 1)) {
        tod.second = std::stoi(t[end + 1].text);
        end += 2;
        if (IsSym(t, end, ':') && IsNum(t, end + 1)) {
          // After a colon the digits are thousandths: 10:20:30:1 is one millisecond.
          if (t[end + 1].text.size() > 3) return false;
          tod.millisecond = std::stoi(t[end + 1].text);
          end += 2;
        } else if (IsSym(t, end, '.') && IsNum(t, end + 1)) {
          // After a period they are a decimal fraction: 10:20:30.1 is 100 milliseconds.
          std::string frac = t[end + 1].text;
          while (frac.size() < 4) frac += '0';
          long v = std::stol(frac.substr(0, 4));
          tod.millisecond = static_cast<int>((v + 5) / 10);
          end += 2;
        }
      }
    } else if (AmPm(t, i + 1) != 0) {
      tod.hour = std::stoi(t[i].text);
      end = i + 1;
    } else {
      continue;
    }
    int ampm = AmPm(t, end);
    if (ampm != 0) {
      if (tod.hour > 12) return false;
      if (ampm == 1 && tod.hour == 12) tod.hour = 0;
      if (ampm == 2 && tod.hour < 12) tod.hour += 12;
      ++end;
    }
    if (tod.hour > 23 || tod.minute > 59 || tod.second > 59 || tod.millisecond > 999) return false;
    t.erase(t.begin() + static_cast<std::ptrdiff_t>(i),
            t.begin() + static_cast<std::ptrdiff_t>(end));
    *out = tod;
    *found = true;
    return true;
  }
  return true;
}

struct Ymd {
  int y = 1900, m = 1, d = 1;
};

bool ParseNumericDate(const std::vector<Token>& t, DateFormat format, Ymd* out) {
  // n sep n sep n, the same separator twice.
  if (t.size() != 5 || !IsNum(t, 0) || !IsNum(t, 2) || !IsNum(t, 4)) return false;
  if (t[1].kind != Token::Sym || t[3].kind != Token::Sym) return false;
  char sep = t[1].text[0];
  if ((sep != '/' && sep != '-' && sep != '.') || t[3].text[0] != sep) return false;
  const std::string* parts[3] = {&t[0].text, &t[2].text, &t[4].text};
  // A leading four-digit year is read year-month-day whatever the date format.
  if (parts[0]->size() >= 3) format = format == DateFormat::Ydm ? DateFormat::Ydm : DateFormat::Ymd;
  int yi = 0, mi = 0, di = 0;
  switch (format) {
    case DateFormat::Mdy:
      mi = 0;
      di = 1;
      yi = 2;
      break;
    case DateFormat::Dmy:
      di = 0;
      mi = 1;
      yi = 2;
      break;
    case DateFormat::Ymd:
      yi = 0;
      mi = 1;
      di = 2;
      break;
    case DateFormat::Ydm:
      yi = 0;
      di = 1;
      mi = 2;
      break;
    case DateFormat::Myd:
      mi = 0;
      yi = 1;
      di = 2;
      break;
    case DateFormat::Dym:
      di = 0;
      yi = 1;
      mi = 2;
      break;
  }
  if (parts[mi]->size() > 2 || parts[di]->size() > 2 || parts[yi]->size() > 4) return false;
  out->y = ExpandYear(std::stoi(*parts[yi]), parts[yi]->size());
  out->m = std::stoi(*parts[mi]);
  out->d = std::stoi(*parts[di]);
  return true;
}

bool ParseAlphaDate(const std::vector<Token>& t, int month, Ymd* out) {
  // Month named: the numbers are a day and a year; a four-digit one is the year; two short
  // ones are day then year.
  std::vector<const Token*> numbers;
  for (const Token& tok : t) {
    if (tok.kind == Token::Number)
      numbers.push_back(&tok);
    else if (tok.kind == Token::Word && MonthFromName(tok.text) == 0)
      return false;
  }
  out->m = month;
  if (numbers.size() == 1) {
    if (numbers[0]->text.size() != 4) return false;
    out->y = std::stoi(numbers[0]->text);
    out->d = 1;
    return true;
  }
  if (numbers.size() != 2) return false;
  const Token* day = numbers[0];
  const Token* year = numbers[1];
  if (day->text.size() == 4 && year->text.size() <= 2) std::swap(day, year);
  if (day->text.size() > 2 || year->text.size() == 3 || year->text.size() > 4) return false;
  out->d = std::stoi(day->text);
  out->y = ExpandYear(std::stoi(year->text), year->text.size());
  return true;
}

bool ParseDatePartTokens(std::vector<Token> t, DateFormat format, Ymd* out) {
  if (t.empty()) return true;  // time only: Jan 1 1900
  // An ISO "T" between date and time has been left behind by the time extraction.
  if (t.back().kind == Token::Word && EqualsNoCase(t.back().text, "t")) t.pop_back();
  int month = 0;
  for (const Token& tok : t)
    if (tok.kind == Token::Word) {
      int m = MonthFromName(tok.text);
      if (m == 0 || month != 0) return false;
      month = m;
    }
  if (month != 0) {
    std::vector<Token> rest;
    for (const Token& tok : t)
      if (tok.kind != Token::Sym)
        rest.push_back(tok);
      else if (tok.text != "," && tok.text != "-" && tok.text != "/" && tok.text != ".")
        return false;
    return ParseAlphaDate(rest, month, out);
  }
  if (t.size() == 1 && t[0].kind == Token::Number) {
    const std::string& s = t[0].text;
    if (s.size() == 4) {
      out->y = std::stoi(s);
      return true;
    }
    if (s.size() == 6 || s.size() == 8) {
      size_t ylen = s.size() - 4;
      out->y = ExpandYear(std::stoi(s.substr(0, ylen)), ylen);
      out->m = std::stoi(s.substr(ylen, 2));
      out->d = std::stoi(s.substr(ylen + 2, 2));
      return true;
    }
    return false;
  }
  return ParseNumericDate(t, format, out);
}

std::string Pad2(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

std::optional<DateFormat> ParseDateFormat(std::string_view name) {
  static constexpr std::pair<const char*, DateFormat> kNames[] = {
      {"mdy", DateFormat::Mdy}, {"dmy", DateFormat::Dmy}, {"ymd", DateFormat::Ymd},
      {"ydm", DateFormat::Ydm}, {"myd", DateFormat::Myd}, {"dym", DateFormat::Dym}};
  for (const auto& [n, f] : kNames)
    if (EqualsNoCase(name, n)) return f;
  return std::nullopt;
}

int32_t DaysFromCivil(int year, int month, int day) {
  // Days-from-civil over 400-year eras, shifted so that 1900-01-01 is day 0.
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = FloorDiv(y, 400);
  int64_t yoe = y - era * 400;
  int64_t mp = (month + 9) % 12;
  int64_t doy = (153 * mp + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<int32_t>(era * 146097 + doe - 719468 + 25567);
}

void CivilFromDays(int32_t days, int* year, int* month, int* day) {
  int64_t z = static_cast<int64_t>(days) - 25567 + 719468;
  int64_t era = FloorDiv(z, 146097);
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2 ? 1 : 0));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

uint32_t MillisecondsToTicks(int milliseconds) {
  return static_cast<uint32_t>((static_cast<int64_t>(milliseconds) * 300 + 500) / 1000);
}

int TicksToMilliseconds(uint32_t ticks) { return static_cast<int>((ticks * 1000u + 150u) / 300u); }

std::optional<DateTimeValue> MakeDateTime(const CivilTime& t) {
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.year < 1 || t.year > 9999) return std::nullopt;
  if (t.day > DaysInMonth(t.year, t.month)) return std::nullopt;
  if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59 ||
      t.millisecond < 0 || t.millisecond > 999)
    return std::nullopt;
  int64_t total =
      static_cast<int64_t>(DaysFromCivil(t.year, t.month, t.day)) * kTicksPerDay +
      (static_cast<int64_t>(t.hour) * 3600 + t.minute * 60 + t.second) * kTicksPerSecond +
      MillisecondsToTicks(t.millisecond);
  return FromTotalTicks(total);
}

CivilTime ToCivil(DateTimeValue v) {
  CivilTime t;
  CivilFromDays(v.days, &t.year, &t.month, &t.day);
  uint32_t seconds = v.ticks / kTicksPerSecond;
  t.hour = static_cast<int>(seconds / 3600);
  t.minute = static_cast<int>(seconds / 60 % 60);
  t.second = static_cast<int>(seconds % 60);
  t.millisecond = TicksToMilliseconds(v.ticks % kTicksPerSecond);
  return t;
}

DateTimeValue RoundToSmallDateTime(DateTimeValue v) {
  constexpr uint32_t kMinute = 60 * kTicksPerSecond;
  // 29.998 seconds round down; 29.999 is already 30.000 in ticks and rounds up.
  uint32_t minutes = v.ticks / kMinute;
  if (v.ticks % kMinute >= 30 * kTicksPerSecond) ++minutes;
  int64_t total =
      static_cast<int64_t>(v.days) * kTicksPerDay + static_cast<int64_t>(minutes) * kMinute;
  int64_t days = FloorDiv(total, kTicksPerDay);
  return DateTimeValue{static_cast<int32_t>(days),
                       static_cast<uint32_t>(total - days * kTicksPerDay)};
}

bool InSmallDateTimeRange(DateTimeValue v) {
  return v.days >= 0 && v.days <= kMaxSmallDateTimeDays;
}

std::optional<DateTimeValue> ParseDateTime(std::string_view text, DateFormat format) {
  if (text.size() > 256) return std::nullopt;
  auto tokens = Tokenize(text);
  if (!tokens) return std::nullopt;
  TimeOfDay tod;
  bool hasTime = false;
  if (!ExtractTime(*tokens, &tod, &hasTime)) return std::nullopt;
  Ymd ymd;
  if (!ParseDatePartTokens(*tokens, format, &ymd)) return std::nullopt;
  if (ymd.y < 1753) return std::nullopt;
  return MakeDateTime(
      CivilTime{ymd.y, ymd.m, ymd.d, tod.hour, tod.minute, tod.second, tod.millisecond});
}

bool IsDateTimeStyle(int style) {
  return (style >= 0 && style <= 23) || (style >= 100 && style <= 118) ||
         (style >= 121 && style <= 122) || (style >= 36 && style <= 40) ||
         (style >= 136 && style <= 140);
}

std::string FormatDateTime(DateTimeValue v, int style) {
  CivilTime c = ToCivil(v);
  int base = style >= 100 ? style - 100 : style;
  bool century = style >= 100;
  if (!IsDateTimeStyle(style)) {
    base = 0;
    century = true;
  }
  char yy[8];
  std::snprintf(yy, sizeof yy, century ? "%04d" : "%02d", century ? c.year : c.year % 100);
  char y4[8];
  std::snprintf(y4, sizeof y4, "%04d", c.year);
  std::string mm = Pad2(c.month), dd = Pad2(c.day);
  const char* mon = kMonthShort[c.month - 1];
  int h12 = c.hour % 12 == 0 ? 12 : c.hour % 12;
  const char* ampm = c.hour < 12 ? "AM" : "PM";
  char buf[64];
  switch (base) {
    case 0:
      std::snprintf(buf, sizeof buf, "%s %2d %s %2d:%02d%s", mon, c.day, y4, h12, c.minute, ampm);
      return buf;
    case 1: return mm + "/" + dd + "/" + yy;
    case 2: return std::string(yy) + "." + mm + "." + dd;
    case 3: return dd + "/" + mm + "/" + yy;
    case 4: return dd + "." + mm + "." + yy;
    case 5: return dd + "-" + mm + "-" + yy;
    case 6: return dd + " " + mon + " " + yy;
    case 7: return std::string(mon) + " " + dd + ", " + yy;
    case 8:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", c.hour, c.minute, c.second);
      return buf;
    case 9:
      std::snprintf(buf, sizeof buf, "%s %2d %s %2d:%02d:%02d:%03d%s", mon, c.day, y4, h12,
                    c.minute, c.second, c.millisecond, ampm);
      return buf;
    case 10: return mm + "-" + dd + "-" + yy;
    case 11: return std::string(yy) + "/" + mm + "/" + dd;
    case 12: return std::string(yy) + mm + dd;
    case 13: return std::string(yy) + "/" + dd + "/" + mm;
    case 14: return mm + "/" + yy + "/" + dd;
    case 15: return dd + "/" + yy + "/" + mm;
    case 16:
      std::snprintf(buf, sizeof buf, "%s %2d %s %02d:%02d:%02d", mon, c.day, y4, c.hour, c.minute,
                    c.second);
      return buf;
    case 17: std::snprintf(buf, sizeof buf, "%2d:%02d%s", h12, c.minute, ampm); return buf;
    case 18: std::snprintf(buf, sizeof buf, "%02d:%02d", c.hour, c.minute); return buf;
    case 19:
      std::snprintf(buf, sizeof buf, "%2d:%02d:%02d:%03d%s", h12, c.minute, c.second, c.millisecond,
                    ampm);
      return buf;
    case 20:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%03d", c.hour, c.minute, c.second,
                    c.millisecond);
      return buf;
    case 21:
      std::snprintf(buf, sizeof buf, "%s/%s/%s %02d:%02d:%02d", yy, mm.c_str(), dd.c_str(), c.hour,
                    c.minute, c.second);
      return buf;
    case 22:
      std::snprintf(buf, sizeof buf, "%s/%s/%s %2d:%02d%s", yy, mm.c_str(), dd.c_str(), h12,
                    c.minute, ampm);
      return buf;
    case 23:
      std::snprintf(buf, sizeof buf, "%s-%s-%sT%02d:%02d:%02d", y4, mm.c_str(), dd.c_str(), c.hour,
                    c.minute, c.second);
      return buf;
    case 36:
      std::snprintf(buf, sizeof buf, "%2d:%02d:%02d.%03d000%s", h12, c.minute, c.second,
                    c.millisecond, ampm);
      return buf;
    case 37:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d000", c.hour, c.minute, c.second,
                    c.millisecond);
      return buf;
    case 38:
      std::snprintf(buf, sizeof buf, "%s %2d %s %2d:%02d:%02d.%03d000%s", mon, c.day, yy, h12,
                    c.minute, c.second, c.millisecond, ampm);
      return buf;
    case 39:
      std::snprintf(buf, sizeof buf, "%s %2d %s %02d:%02d:%02d.%03d000", mon, c.day, yy, c.hour,
                    c.minute, c.second, c.millisecond);
      return buf;
    case 40:
      std::snprintf(buf, sizeof buf, "%s-%s-%s %02d:%02d:%02d.%03d000", yy, mm.c_str(), dd.c_str(),
                    c.hour, c.minute, c.second, c.millisecond);
      return buf;
    default: return FormatDateTime(v, 0);
  }
}

std::string DateTimeToStorage(DateTimeValue v) {
  CivilTime c = ToCivil(v);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", c.year, c.month, c.day,
                c.hour, c.minute, c.second, c.millisecond);
  return buf;
}

std::optional<DateTimeValue> DateTimeFromStorage(std::string_view text) {
  // The usual case is our own fixed form; read it directly before trying the general parser.
  if (text.size() == 23 && text[4] == '-' && text[7] == '-' && text[10] == ' ' && text[13] == ':' &&
      text[16] == ':' && text[19] == '.') {
    auto num = [&](size_t pos, size_t len, int* out) {
      int v = 0;
      for (size_t i = pos; i < pos + len; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        v = v * 10 + (text[i] - '0');
      }
      *out = v;
      return true;
    };
    CivilTime c;
    if (num(0, 4, &c.year) && num(5, 2, &c.month) && num(8, 2, &c.day) && num(11, 2, &c.hour) &&
        num(14, 2, &c.minute) && num(17, 2, &c.second) && num(20, 3, &c.millisecond))
      return MakeDateTime(c);
  }
  return ParseDateTime(text, DateFormat::Ymd);
}

DateTimeValue CurrentDateTime() {
  auto now = std::chrono::system_clock::now();
  std::time_t secs = std::chrono::system_clock::to_time_t(now);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&secs, &tm);
  CivilTime c{tm.tm_year + 1900,   tm.tm_mon + 1, tm.tm_mday,
              tm.tm_hour,          tm.tm_min,     tm.tm_sec > 59 ? 59 : tm.tm_sec,
              static_cast<int>(ms)};
  auto v = MakeDateTime(c);
  return v ? *v : DateTimeValue{};
}

std::optional<DatePart> ParseDatePart(std::string_view name) {
  static constexpr std::pair<const char*, DatePart> kNames[] = {
      {"year", DatePart::Year},
      {"yy", DatePart::Year},
      {"yyyy", DatePart::Year},
      {"quarter", DatePart::Quarter},
      {"qq", DatePart::Quarter},
      {"q", DatePart::Quarter},
      {"month", DatePart::Month},
      {"mm", DatePart::Month},
      {"m", DatePart::Month},
      {"week", DatePart::Week},
      {"wk", DatePart::Week},
      {"ww", DatePart::Week},
      {"day", DatePart::Day},
      {"dd", DatePart::Day},
      {"d", DatePart::Day},
      {"dayofyear", DatePart::DayOfYear},
      {"dy", DatePart::DayOfYear},
      {"y", DatePart::DayOfYear},
      {"weekday", DatePart::Weekday},
      {"dw", DatePart::Weekday},
      {"hour", DatePart::Hour},
      {"hh", DatePart::Hour},
      {"minute", DatePart::Minute},
      {"mi", DatePart::Minute},
      {"n", DatePart::Minute},
      {"second", DatePart::Second},
      {"ss", DatePart::Second},
      {"s", DatePart::Second},
      {"millisecond", DatePart::Millisecond},
      {"ms", DatePart::Millisecond},
      {"calweekofyear", DatePart::CalWeekOfYear},
      {"cwk", DatePart::CalWeekOfYear},
      {"calyearofweek", DatePart::CalYearOfWeek},
      {"cyr", DatePart::CalYearOfWeek},
      {"caldayofweek", DatePart::CalDayOfWeek},
      {"cdw", DatePart::CalDayOfWeek},
  };
  for (const auto& [n, p] : kNames)
    if (EqualsNoCase(name, n)) return p;
  return std::nullopt;
}

namespace {

// ISO 8601 week: weeks start on Monday, week 1 holds the year's first Thursday.
void IsoWeek(int32_t days, int* isoYear, int* isoWeek) {
  int wd = WeekdayMon0(days);
  int32_t thursday = days - wd + 3;
  int y, m, d;
  CivilFromDays(thursday, &y, &m, &d);
  *isoYear = y;
  *isoWeek = (thursday - DaysFromCivil(y, 1, 1)) / 7 + 1;
}

int WeekdayNumber(int32_t days, int datefirst) {
  if (datefirst < 1 || datefirst > 7) datefirst = 7;
  int mon1 = WeekdayMon0(days) + 1;  // Monday = 1 .. Sunday = 7
  return (mon1 - datefirst + 7) % 7 + 1;
}

}  // namespace

int DatePartValue(DatePart part, DateTimeValue v, int datefirst) {
  CivilTime c = ToCivil(v);
  switch (part) {
    case DatePart::Year: return c.year;
    case DatePart::Quarter: return (c.month - 1) / 3 + 1;
    case DatePart::Month: return c.month;
    case DatePart::Day: return c.day;
    case DatePart::DayOfYear: return v.days - DaysFromCivil(c.year, 1, 1) + 1;
    case DatePart::Weekday: return WeekdayNumber(v.days, datefirst);
    case DatePart::Week: {
      // Week 1 holds Jan 1; a new week starts on the datefirst day.
      int32_t jan1 = DaysFromCivil(c.year, 1, 1);
      int offset = WeekdayNumber(jan1, datefirst) - 1;
      return (v.days - jan1 + offset) / 7 + 1;
    }
    case DatePart::Hour: return c.hour;
    case DatePart::Minute: return c.minute;
    case DatePart::Second: return c.second;
    case DatePart::Millisecond: return c.millisecond;
    case DatePart::CalWeekOfYear:
    case DatePart::CalYearOfWeek: {
      int y, w;
      IsoWeek(v.days, &y, &w);
      return part == DatePart::CalWeekOfYear ? w : y;
    }
    case DatePart::CalDayOfWeek: return WeekdayMon0(v.days) + 1;
  }
  return 0;
}

std::string DateName(DatePart part, DateTimeValue v, int datefirst) {
  if (part == DatePart::Month) return kMonthLong[ToCivil(v).month - 1];
  if (part == DatePart::Weekday) return kWeekdayLong[WeekdayMon0(v.days)];
  return std::to_string(DatePartValue(part, v, datefirst));
}

std::optional<DateTimeValue> DateAdd(DatePart part, int64_t n, DateTimeValue v) {
  // Anything beyond this moves any date out of range; refusing early keeps products in int64.
  if (n > 4'000'000'000'000LL || n < -4'000'000'000'000LL) return std::nullopt;
  auto addMonths = [&](int64_t months) -> std::optional<DateTimeValue> {
    if (months > 200000 || months < -200000) return std::nullopt;
    CivilTime c = ToCivil(v);
    int64_t index = static_cast<int64_t>(c.year) * 12 + (c.month - 1) + months;
    int64_t y = FloorDiv(index, 12);
    int m = static_cast<int>(index - y * 12) + 1;
    if (y < 1753 || y > 9999) return std::nullopt;
    int d = std::min(c.day, DaysInMonth(static_cast<int>(y), m));
    return DateTimeValue{DaysFromCivil(static_cast<int>(y), m, d), v.ticks};
  };
  int64_t unit = 0;
  switch (part) {
    case DatePart::Year:
    case DatePart::CalYearOfWeek: return addMonths(n * 12);
    case DatePart::Quarter: return addMonths(n * 3);
    case DatePart::Month: return addMonths(n);
    case DatePart::Week:
    case DatePart::CalWeekOfYear: unit = 7LL * kTicksPerDay; break;
    case DatePart::Day:
    case DatePart::DayOfYear:
    case DatePart::Weekday:
    case DatePart::CalDayOfWeek: unit = kTicksPerDay; break;
    case DatePart::Hour: unit = 3600LL * kTicksPerSecond; break;
    case DatePart::Minute: unit = 60LL * kTicksPerSecond; break;
    case DatePart::Second: unit = kTicksPerSecond; break;
    case DatePart::Millisecond: {
      int64_t delta = n >= 0 ? (n * 3 + 5) / 10 : -((-n * 3 + 5) / 10);
      return FromTotalTicks(TotalTicks(v) + delta);
    }
  }
  if (n > 0 && n > INT64_MAX / 2 / unit) return std::nullopt;
  if (n < 0 && -n > INT64_MAX / 2 / unit) return std::nullopt;
  return FromTotalTicks(TotalTicks(v) + n * unit);
}

int64_t DateDiff(DatePart part, DateTimeValue start, DateTimeValue end) {
  CivilTime a = ToCivil(start), b = ToCivil(end);
  switch (part) {
    case DatePart::Year:
    case DatePart::CalYearOfWeek: return b.year - a.year;
    case DatePart::Quarter:
      return (b.year * 4 + (b.month - 1) / 3) - (a.year * 4 + (a.month - 1) / 3);
    case DatePart::Month: return (b.year * 12 + b.month) - (a.year * 12 + a.month);
    case DatePart::Week:
    case DatePart::CalWeekOfYear:
      // Sundays crossed: day -1 (Dec 31 1899) was a Sunday.
      return FloorDiv(end.days + 1, 7) - FloorDiv(start.days + 1, 7);
    case DatePart::Day:
    case DatePart::DayOfYear:
    case DatePart::Weekday:
    case DatePart::CalDayOfWeek: return static_cast<int64_t>(end.days) - start.days;
    case DatePart::Hour:
      return FloorDiv(TotalTicks(end), 3600LL * kTicksPerSecond) -
             FloorDiv(TotalTicks(start), 3600LL * kTicksPerSecond);
    case DatePart::Minute:
      return FloorDiv(TotalTicks(end), 60LL * kTicksPerSecond) -
             FloorDiv(TotalTicks(start), 60LL * kTicksPerSecond);
    case DatePart::Second:
      return FloorDiv(TotalTicks(end), kTicksPerSecond) -
             FloorDiv(TotalTicks(start), kTicksPerSecond);
    case DatePart::Millisecond: {
      auto ms = [](DateTimeValue v) {
        return static_cast<int64_t>(v.days) * 86'400'000LL +
               static_cast<int64_t>(v.ticks / kTicksPerSecond) * 1000 +
               TicksToMilliseconds(v.ticks % kTicksPerSecond);
      };
      return ms(end) - ms(start);
    }
  }
  return 0;
}

}  // namespace sampleserver
