// Text forms of values: the default datetime text, Transact-SQL literals, and the rules for
// copying a value into a caller's bound buffer.
#include "connection/openclient_internal.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <limits>

namespace oc {
namespace internal {

namespace {
// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civil_from_days(long long z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yy + (m <= 2));
}

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr long long kDays1900To1970 = 25567;
}  // namespace

// The vendor's default long form, `Mon dd yyyy hh:mm:ss:mmmAM`: day and hour right-aligned in two
// characters with a leading blank (`Jan  1 1900  1:05:07:000PM`), milliseconds from the 1/300 s
// ticks rounded to the nearest as the server does (tick 2 → 007, tick 299 → 997). FreeTDS would
// give `%b %e %Y %I:%M%p` (no seconds) unless a system-wide locales file says otherwise, so the
// adapter binds datetimes natively and writes the text itself. FreeTDS's char → datetime parser
// reads this form back to the same tick.
// Written by hand: a listing formats one per row and column, and snprintf dominated that.
size_t datetime_text(CS_INT type, const void* value, char* out) {
  long long days = 0;
  long long ticks = 0;  // 1/300 s since midnight
  if (type == CS_DATETIME_TYPE) {
    CS_DATETIME dt;
    std::memcpy(&dt, value, sizeof dt);
    days = dt.dtdays;
    ticks = static_cast<long long>(static_cast<CS_UINT>(dt.dttime));
  } else if (type == CS_DATETIME4_TYPE) {
    CS_DATETIME4 dt;
    std::memcpy(&dt, value, sizeof dt);
    days = dt.days;
    ticks = static_cast<long long>(dt.minutes) * 60 * 300;
  } else {
    return 0;
  }
  int y = 0;
  unsigned m = 0, d = 0;
  civil_from_days(days - kDays1900To1970, y, m, d);
  const long long secs = ticks / 300;
  const int ms = static_cast<int>(((ticks % 300) * 10 + 1) / 3);
  const int hour = static_cast<int>(secs / 3600);
  const int minute = static_cast<int>(secs / 60 % 60);
  const int second = static_cast<int>(secs % 60);
  const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
  // "%s %2u %04d %2d:%02d:%02d:%03d%s"
  char* p = out;
  auto digits = [&p](long long v, int width, char pad) {
    char tmp[24];
    int n = 0;
    const bool negative = v < 0;
    unsigned long long u =
        negative ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
      tmp[n++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u);
    if (negative) tmp[n++] = '-';
    for (int i = n; i < width; ++i) *p++ = pad;
    while (n) *p++ = tmp[--n];
  };
  std::memcpy(p, kMonths[(m - 1) % 12], 3);
  p += 3;
  *p++ = ' ';
  digits(d, 2, ' ');
  *p++ = ' ';
  digits(y, 4, '0');
  *p++ = ' ';
  digits(hour12, 2, ' ');
  *p++ = ':';
  digits(minute, 2, '0');
  *p++ = ':';
  digits(second, 2, '0');
  *p++ = ':';
  digits(ms, 3, '0');
  *p++ = hour < 12 ? 'A' : 'P';
  *p++ = 'M';
  *p = '\0';
  return static_cast<size_t>(p - out);
}

namespace {
// Decimal digits of `v` ending at `end` (written backwards); returns where they start.
char* digits_back(unsigned long long v, char* end) {
  do {
    *--end = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  return end;
}
}  // namespace

size_t money_text(const void* value, char* out) {
  CS_MONEY m;
  std::memcpy(&m, value, sizeof m);
  const long long amount = static_cast<long long>(
      (static_cast<unsigned long long>(static_cast<CS_UINT>(m.mnyhigh)) << 32) |
      static_cast<CS_UINT>(m.mnylow));
  const unsigned long long n = amount < 0 ? 0ULL - static_cast<unsigned long long>(amount)
                                          : static_cast<unsigned long long>(amount);
  char buf[40];
  char* end = buf + sizeof buf;
  char* p = end;
  unsigned long long fraction = n % 10000;
  for (int i = 0; i < 4; ++i) {
    *--p = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  *--p = '.';
  p = digits_back(n / 10000, p);
  if (amount < 0) *--p = '-';
  const auto len = static_cast<size_t>(end - p);
  std::memcpy(out, p, len);
  out[len] = '\0';
  return len;
}

size_t int_text(const void* value, char* out) {
  CS_INT v;
  std::memcpy(&v, value, sizeof v);
  const unsigned long long n =
      v < 0 ? 0ULL - static_cast<unsigned long long>(static_cast<long long>(v))
            : static_cast<unsigned long long>(v);
  char buf[24];
  char* end = buf + sizeof buf;
  char* p = digits_back(n, end);
  if (v < 0) *--p = '-';
  const auto len = static_cast<size_t>(end - p);
  std::memcpy(out, p, len);
  out[len] = '\0';
  return len;
}

size_t numeric_text(const void* value, char* out) {
  CS_NUMERIC v;
  std::memcpy(&v, value, sizeof v);
  if (v.precision < 1 || v.precision > CS_MAX_PREC || v.scale > v.precision) return 0;
  // The magnitude's bytes, big-endian after the sign byte, as many as the precision needs.
  constexpr int kBytesPerPrecision[] = {
      1,  2,  2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  6,  7,  7,  8,  8,  9,  9,  9,
      10, 10, 11, 11, 11, 12, 12, 13, 13, 14, 14, 14, 15, 15, 16, 16, 16, 17, 17, 18,
      18, 19, 19, 19, 20, 20, 21, 21, 21, 22, 22, 23, 23, 24, 24, 24, 25, 25, 26, 26,
      26, 27, 27, 28, 28, 28, 29, 29, 30, 30, 31, 31, 31, 32, 32, 33, 33, 33};
  const int bytes = kBytesPerPrecision[v.precision];
  // Base 10^9 limbs, most significant first, by long division of the byte string.
  std::uint32_t limbs[(CS_MAX_PREC + 8) / 9 + 1];
  int nlimbs = 0;
  unsigned char mag[CS_MAX_NUMLEN];
  int first = 1;
  while (first < bytes && v.array[first] == 0) ++first;
  int len = bytes - first;
  std::memcpy(mag, v.array + first, static_cast<size_t>(len));
  while (len > 0) {
    std::uint64_t rem = 0;
    int next = 0;
    for (int i = 0; i < len; ++i) {
      const std::uint64_t cur = (rem << 8) | mag[i];
      const auto q = static_cast<unsigned char>(cur / 1000000000u);
      rem = cur % 1000000000u;
      if (next > 0 || q != 0) mag[next++] = q;
    }
    limbs[nlimbs++] = static_cast<std::uint32_t>(rem);
    len = next;
  }
  char digits[CS_MAX_PREC + 10];
  char* end = digits + sizeof digits;
  char* d = end;
  // Nine digits a limb; the most significant one without its leading zeros.
  for (int i = 0; i < nlimbs - 1; ++i) {
    std::uint32_t limb = limbs[i];
    for (int k = 0; k < 9; ++k, limb /= 10) *--d = static_cast<char>('0' + limb % 10);
  }
  if (nlimbs > 0) d = digits_back(limbs[nlimbs - 1], d);
  const auto count = static_cast<int>(end - d);
  const bool zero = nlimbs == 0;
  char* o = out;
  if (v.array[0] == 1) *o++ = '-';
  if (zero) {
    *o++ = '0';
    if (v.scale > 0) {
      *o++ = '.';
      for (int i = 0; i < v.scale; ++i) *o++ = '0';
    }
  } else if (count <= v.scale) {
    *o++ = '0';
    *o++ = '.';
    for (int i = count; i < v.scale; ++i) *o++ = '0';
    std::memcpy(o, d, static_cast<size_t>(count));
    o += count;
  } else {
    const int whole = count - v.scale;
    std::memcpy(o, d, static_cast<size_t>(whole));
    o += whole;
    if (v.scale > 0) {
      *o++ = '.';
      std::memcpy(o, d + whole, static_cast<size_t>(v.scale));
      o += v.scale;
    }
  }
  *o = '\0';
  return static_cast<size_t>(o - out);
}

std::string datetime_text(CS_CONTEXT*, CS_INT type, const void* value) {
  char buf[64];
  return std::string(buf, datetime_text(type, value, buf));
}

bool is_char_type(CS_INT type) {
  return type == CS_CHAR_TYPE || type == CS_LONGCHAR_TYPE || type == CS_TEXT_TYPE ||
         type == CS_UNICHAR_TYPE || type == CS_UNITEXT_TYPE || type == CS_XML_TYPE;
}

bool is_binary_type(CS_INT type) {
  return type == CS_BINARY_TYPE || type == CS_LONGBINARY_TYPE || type == CS_IMAGE_TYPE ||
         type == CS_VARBINARY_TYPE;
}

CS_INT fixed_size(CS_INT type) {
  switch (type) {
    case CS_TINYINT_TYPE: return sizeof(CS_TINYINT);
    case CS_BIT_TYPE: return sizeof(CS_BIT);
    case CS_SMALLINT_TYPE: return sizeof(CS_SMALLINT);
    case CS_USMALLINT_TYPE: return sizeof(CS_USMALLINT);
    case CS_INT_TYPE: return sizeof(CS_INT);
    case CS_UINT_TYPE: return sizeof(CS_UINT);
    case CS_BIGINT_TYPE: return sizeof(CS_BIGINT);
    case CS_UBIGINT_TYPE: return sizeof(CS_UBIGINT);
    case CS_REAL_TYPE: return sizeof(CS_REAL);
    case CS_FLOAT_TYPE: return sizeof(CS_FLOAT);
    case CS_MONEY_TYPE: return sizeof(CS_MONEY);
    case CS_MONEY4_TYPE: return sizeof(CS_MONEY4);
    case CS_DATETIME_TYPE: return sizeof(CS_DATETIME);
    case CS_DATETIME4_TYPE: return sizeof(CS_DATETIME4);
    case CS_DATE_TYPE: return sizeof(CS_DATE);
    case CS_TIME_TYPE: return sizeof(CS_TIME);
    case CS_BIGDATETIME_TYPE: return sizeof(CS_BIGDATETIME);
    case CS_BIGTIME_TYPE: return sizeof(CS_BIGTIME);
    case CS_NUMERIC_TYPE:
    case CS_DECIMAL_TYPE: return sizeof(CS_NUMERIC);
    case CS_VARCHAR_TYPE: return sizeof(CS_VARCHAR);
    case CS_VARBINARY_TYPE: return sizeof(CS_VARBINARY);
    default: return 0;
  }
}

namespace {
CS_SMALLINT clamp_indicator(CS_INT len) {
  return static_cast<CS_SMALLINT>(std::min<CS_INT>(len, std::numeric_limits<CS_SMALLINT>::max()));
}
}  // namespace

// Text and binary binds, by the caller's format. A value that fits (terminator included for
// CS_FMT_NULLTERM) always succeeds — FreeTDS fails an exact fit. One that does not gets as much as
// fits (terminated for CS_FMT_NULLTERM), its full length in the indicator, and fails the row.
bool put_value(const CS_DATAFMT& fmt, void* buffer, const char* value, CS_INT len, CS_INT* copied,
               CS_SMALLINT* indicator) {
  const CS_INT max = std::max<CS_INT>(fmt.maxlength, 0);
  char* out = static_cast<char*>(buffer);
  const bool text = is_char_type(fmt.datatype);
  const CS_INT format = fmt.format;
  const bool nullterm = text && (format & CS_FMT_NULLTERM);
  const bool padblank = text && (format & CS_FMT_PADBLANK);
  const bool padnull = (format & CS_FMT_PADNULL) != 0;
  const CS_INT room = nullterm ? max - 1 : max;
  const bool fits = len <= room;
  const CS_INT n = std::max<CS_INT>(0, std::min(len, room));
  if (out && n > 0) std::memcpy(out, value, static_cast<size_t>(n));
  CS_INT written = n;
  if (out) {
    if (nullterm && max > 0) {
      out[n] = '\0';
      written = n + 1;
    } else if (padblank && n < max) {
      std::memset(out + n, ' ', static_cast<size_t>(max - n));
      written = max;
    } else if (padnull && n < max) {
      std::memset(out + n, 0, static_cast<size_t>(max - n));
      written = max;
    }
  }
  if (copied) *copied = written;
  if (indicator) *indicator = fits ? 0 : clamp_indicator(len);
  return fits;
}

// NULL gets the null substitution: empty text, zeroes for fixed types.
void put_null(const CS_DATAFMT& fmt, void* buffer, CS_INT* copied, CS_SMALLINT* indicator) {
  char* out = static_cast<char*>(buffer);
  if (out) {
    const CS_INT max = std::max<CS_INT>(fmt.maxlength, 0);
    if (is_char_type(fmt.datatype)) {
      if ((fmt.format & CS_FMT_PADBLANK) && max > 0)
        std::memset(out, ' ', static_cast<size_t>(max));
      else if ((fmt.format & CS_FMT_PADNULL) && max > 0)
        std::memset(out, 0, static_cast<size_t>(max));
      else if (max > 0)
        out[0] = '\0';
    } else if (is_binary_type(fmt.datatype)) {
      if ((fmt.format & CS_FMT_PADNULL) && max > 0) std::memset(out, 0, static_cast<size_t>(max));
    } else {
      const CS_INT size = fixed_size(fmt.datatype);
      const CS_INT n = size > 0 ? size : max;
      if (n > 0) std::memset(out, 0, static_cast<size_t>(n));
    }
  }
  if (copied) *copied = 0;
  if (indicator) *indicator = -1;
}

namespace {
std::string quoted(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

CS_INT data_length(const CS_DATAFMT* fmt, const void* data, CS_INT datalen) {
  if (datalen == CS_NULLTERM)
    return static_cast<CS_INT>(std::strlen(static_cast<const char*>(data)));
  if (datalen == CS_UNUSED || datalen < 0) {
    if (is_char_type(fmt->datatype)) {
      const CS_INT max = fmt->maxlength > 0 ? fmt->maxlength : 0;
      const void* end = std::memchr(data, '\0', static_cast<size_t>(max));
      return end ? static_cast<CS_INT>(static_cast<const char*>(end) -
                                       static_cast<const char*>(data))
                 : max;
    }
    return fmt->maxlength > 0 ? fmt->maxlength : 0;
  }
  return datalen;
}

// Asks FreeTDS for a value's text (numeric, money, ...).
bool as_text(CS_CONTEXT* cs, const CS_DATAFMT* fmt, const void* data, CS_INT len,
             std::string& out) {
  CS_DATAFMT src{};
  src.datatype = fmt->datatype;
  src.maxlength = len;
  src.precision = fmt->precision;
  src.scale = fmt->scale;
  CS_DATAFMT dst{};
  dst.datatype = CS_CHAR_TYPE;
  dst.format = CS_FMT_UNUSED;
  char buf[128] = {};
  dst.maxlength = sizeof buf;
  CS_INT outlen = 0;
  if (::cs_convert(cs, &src, const_cast<void*>(data), &dst, buf, &outlen) != CS_SUCCEED)
    return false;
  out.assign(buf, static_cast<size_t>(std::clamp<CS_INT>(outlen, 0, sizeof buf)));
  return true;
}
}  // namespace

// A parameter value as a Transact-SQL literal: strings quoted with '' doubling, NULL, numbers as
// written, datetimes as quoted text in the long form, binary as 0x hex.
std::string sql_literal(CS_CONTEXT* cs, const CS_DATAFMT* fmt, const void* data, CS_INT datalen,
                        CS_SMALLINT indicator, bool* ok) {
  if (ok) *ok = true;
  if (!fmt || !data || indicator == -1) return "NULL";
  const CS_INT type = fmt->datatype;
  const CS_INT len = data_length(fmt, data, datalen);
  char buf[64];
  switch (type) {
    case CS_CHAR_TYPE:
    case CS_LONGCHAR_TYPE:
    case CS_TEXT_TYPE:
    case CS_UNICHAR_TYPE:
    case CS_UNITEXT_TYPE:
    case CS_XML_TYPE:
      return quoted(std::string_view(static_cast<const char*>(data), static_cast<size_t>(len)));
    case CS_VARCHAR_TYPE: {
      const auto* v = static_cast<const CS_VARCHAR*>(data);
      const size_t n = static_cast<size_t>(std::clamp<CS_SMALLINT>(v->len, 0, sizeof v->str));
      return quoted(std::string_view(v->str, n));
    }
    case CS_BINARY_TYPE:
    case CS_LONGBINARY_TYPE:
    case CS_IMAGE_TYPE:
    case CS_VARBINARY_TYPE: {
      const unsigned char* bytes = static_cast<const unsigned char*>(data);
      CS_INT n = len;
      if (type == CS_VARBINARY_TYPE) {
        const auto* v = static_cast<const CS_VARBINARY*>(data);
        bytes = reinterpret_cast<const unsigned char*>(v->array);
        n = std::clamp<CS_SMALLINT>(v->len, 0, sizeof v->array);
      }
      std::string out = "0x";
      static constexpr char hex[] = "0123456789abcdef";
      for (CS_INT i = 0; i < n; ++i) {
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 0xF];
      }
      return out;
    }
    case CS_DATETIME_TYPE:
    case CS_DATETIME4_TYPE: return quoted(datetime_text(cs, type, data));
    case CS_BIT_TYPE: return *static_cast<const CS_BIT*>(data) ? "1" : "0";
    case CS_TINYINT_TYPE: return std::to_string(*static_cast<const CS_TINYINT*>(data));
    case CS_SMALLINT_TYPE: return std::to_string(*static_cast<const CS_SMALLINT*>(data));
    case CS_USMALLINT_TYPE: return std::to_string(*static_cast<const CS_USMALLINT*>(data));
    case CS_INT_TYPE: return std::to_string(*static_cast<const CS_INT*>(data));
    case CS_UINT_TYPE: return std::to_string(*static_cast<const CS_UINT*>(data));
    case CS_BIGINT_TYPE: return std::to_string(*static_cast<const CS_BIGINT*>(data));
    case CS_UBIGINT_TYPE: return std::to_string(*static_cast<const CS_UBIGINT*>(data));
    case CS_REAL_TYPE:
      std::snprintf(buf, sizeof buf, "%.9g",
                    static_cast<double>(*static_cast<const CS_REAL*>(data)));
      return buf;
    case CS_FLOAT_TYPE:
      std::snprintf(buf, sizeof buf, "%.17g", *static_cast<const CS_FLOAT*>(data));
      return buf;
    default: {
      std::string text;
      if (!as_text(cs, fmt, data, len, text)) {
        if (ok) *ok = false;
        return "NULL";
      }
      const bool numeric = type == CS_NUMERIC_TYPE || type == CS_DECIMAL_TYPE ||
                           type == CS_MONEY_TYPE || type == CS_MONEY4_TYPE;
      return numeric ? text : quoted(text);
    }
  }
}

}  // namespace internal

using namespace internal;

CS_RETCODE cs_convert(Context* ctx, CS_DATAFMT* srcfmt, CS_VOID* srcdata, CS_DATAFMT* destfmt,
                      CS_VOID* destdata, CS_INT* resultlen) {
  if (!ctx || !ctx->state || !srcfmt || !destfmt) return CS_FAIL;
  CS_RETCODE rc;
  const CS_INT src = srcfmt->datatype;
  if ((src == CS_DATETIME_TYPE || src == CS_DATETIME4_TYPE) && is_char_type(destfmt->datatype) &&
      srcdata) {
    // Datetime text in the long form (see datetime_text).
    const std::string text = datetime_text(ctx->state->cs, src, srcdata);
    CS_INT copied = 0;
    const bool fits = put_value(*destfmt, destdata, text.data(), static_cast<CS_INT>(text.size()),
                                &copied, nullptr);
    if (resultlen) *resultlen = copied;
    rc = fits ? CS_SUCCEED : CS_FAIL;
    if (!fits)
      cslib_message(ctx->state, 36,
                    "cs_convert: The result is truncated because the conversion/operation resulted "
                    "in overflow.");
  } else {
    rc = ::cs_convert(ctx->state->cs, srcfmt, srcdata, destfmt, destdata, resultlen);
  }
  trace(sink_of(ctx), "cs_convert", rc, ctx, src, destfmt->datatype);
  return rc;
}

}  // namespace oc
