#include "engine/values.h"

#include "engine/exact.h"
#include "engine/messages.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace sampleserver {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

void StripLeadingZeros(std::string* digits) {
  size_t nz = digits->find_first_not_of('0');
  if (nz == std::string::npos)
    *digits = "0";
  else if (nz > 0)
    digits->erase(0, nz);
}

// Adds one to a decimal digit string.
void IncrementDigits(std::string* digits) {
  for (size_t i = digits->size(); i-- > 0;) {
    if ((*digits)[i] == '9') {
      (*digits)[i] = '0';
    } else {
      ++(*digits)[i];
      return;
    }
  }
  digits->insert(digits->begin(), '1');
}

// Cuts a UTF-8 string to at most `bytes` bytes without splitting a character.
void TruncateUtf8(std::string* s, size_t bytes) {
  if (s->size() <= bytes) return;
  size_t cut = bytes;
  while (cut > 0 && (static_cast<unsigned char>((*s)[cut]) & 0xC0) == 0x80) --cut;
  s->resize(cut);
}

// The source text shown in conversion messages.
std::string Shown(const Value& v, SqlType from) {
  try {
    std::string s = FormatValue(v, from);
    if (s.size() > 64) s.resize(64);
    return s;
  } catch (...) {
    return std::string();
  }
}

[[noreturn]] void ThrowSyntax(const Value& v, SqlType from, SqlType to, bool implicit) {
  throw SqlError(249, {implicit ? "implicit" : "explicit", TypeNameUpper(from), Shown(v, from),
                       TypeNameUpper(to)});
}

[[noreturn]] void ThrowOverflow(const Value& v, SqlType from, SqlType to, bool implicit) {
  throw SqlError(247, {implicit ? "implicit" : "explicit", TypeNameUpper(from), Shown(v, from),
                       TypeNameUpper(to)});
}

struct Range {
  int64_t lo, hi;
};

Range IntegerRange(SqlType t) {
  switch (t) {
    case SqlType::TinyInt: return {0, 255};
    case SqlType::SmallInt: return {-32768, 32767};
    case SqlType::Int: return {INT32_MIN, INT32_MAX};
    case SqlType::UnsignedSmallInt: return {0, 65535};
    case SqlType::UnsignedInt: return {0, 4294967295LL};
    case SqlType::Bit: return {INT64_MIN, INT64_MAX};
    default: return {INT64_MIN, INT64_MAX};
  }
}

// Parses "[+-]digits"; none on anything else. Sets *overflow when the digits exceed int64.
std::optional<int64_t> ParseInteger(std::string_view text, bool* overflow) {
  *overflow = false;
  text = Trim(text);
  if (text.empty()) return 0;  // an empty string converts to zero, as Sybase does
  bool neg = false;
  if (text[0] == '+' || text[0] == '-') {
    neg = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    if (v > (UINT64_MAX - 9) / 10) {
      *overflow = true;
      return std::nullopt;
    }
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (!neg && v > static_cast<uint64_t>(INT64_MAX)) {
    *overflow = true;
    return std::nullopt;
  }
  if (neg && v > static_cast<uint64_t>(INT64_MAX) + 1) {
    *overflow = true;
    return std::nullopt;
  }
  return neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

std::optional<double> ParseDouble(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return 0.0;
  if (text.size() > 400) return std::nullopt;
  std::string s(text);
  // strtod would accept hex floats, infinities and NaN; Sybase takes decimal forms only.
  for (char c : s)
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
          c == 'e' || c == 'E'))
      return std::nullopt;
  char* end = nullptr;
  double d = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return std::nullopt;
  return d;
}

// The canonical in-memory form for a value declared as `from` (stored REALs of money columns
// become MoneyValue, stored datetime text becomes DateTimeValue, and so on).
Value Canonical(const Value& v, SqlType from) {
  if (auto b = std::get_if<Bytes>(&v); b && from == SqlType::UnsignedBigInt) {
    if (auto n = exact::Decode(*b)) return RescaleNumeric(*n, 20, 0);
  }
  if (auto b = std::get_if<Bytes>(&v); b && (IsMoneyType(from) || IsExactNumericType(from))) {
    // The storage form of exact values.
    if (auto n = exact::Decode(*b)) {
      if (IsExactNumericType(from)) return *n;
      if (auto m = exact::ToMoney(*n)) return *m;
    }
  }
  if (IsMoneyType(from)) {
    if (auto d = std::get_if<double>(&v)) return MoneyFromDouble(*d);
    if (auto i = std::get_if<int64_t>(&v)) {
      int64_t units = 0;
      if (!__builtin_mul_overflow(*i, int64_t{10000}, &units)) return MoneyValue{units};
    }
  }
  if (IsDateTimeType(from)) {
    if (auto s = std::get_if<std::string>(&v)) {
      if (auto dt = DateTimeFromStorage(*s)) return *dt;
    }
  }
  if (IsExactNumericType(from)) {
    if (auto d = std::get_if<double>(&v)) {
      if (std::isfinite(*d)) {
        std::string txt = FormatFloat(*d);
        if (txt.find('e') == std::string::npos) {
          size_t dot = txt.find('.');
          uint8_t scale = dot == std::string::npos ? 0 : static_cast<uint8_t>(txt.size() - dot - 1);
          if (auto n = ParseNumeric(txt, 38, scale)) return *n;
        }
      }
    }
    if (auto i = std::get_if<int64_t>(&v)) return NumericFromInt(*i);
  }
  if (IsApproxType(from)) {
    if (auto i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
  }
  return v;
}

std::optional<int64_t> NumericIntegerPart(const NumericValue& n) {
  std::string intDigits =
      n.digits.size() > n.scale ? n.digits.substr(0, n.digits.size() - n.scale) : "0";
  bool overflow = false;
  auto v = ParseInteger((n.negative ? "-" : "") + intDigits, &overflow);
  return v;
}

// Unsigned bigint: an int64 up to 2^63-1, beyond it a NumericValue of scale 0 (SQLite's
// integers are signed; the larger values are stored in the exact form, which sorts after them).
Value UnsignedBigIntFromDigits(std::string digits, const Value& v, SqlType from, bool implicit) {
  StripLeadingZeros(&digits);
  static const std::string kMax = "18446744073709551615";
  if (digits.size() > kMax.size() || (digits.size() == kMax.size() && digits > kMax))
    ThrowOverflow(v, from, SqlType::UnsignedBigInt, implicit);
  bool overflow = false;
  if (auto i = ParseInteger(digits, &overflow)) return *i;
  NumericValue n;
  n.digits = digits;
  n.precision = 20;
  return n;
}

Value ToUnsignedBigInt(const Value& v, SqlType from, bool implicit) {
  constexpr SqlType to = SqlType::UnsignedBigInt;
  if (auto i = std::get_if<int64_t>(&v)) {
    if (*i < 0) ThrowOverflow(v, from, to, implicit);
    return *i;
  }
  if (auto d = std::get_if<double>(&v)) {
    double t = std::trunc(*d);
    if (!std::isfinite(t) || t < 0 || t >= 18446744073709551616.0)
      ThrowOverflow(v, from, to, implicit);
    return UnsignedBigIntFromDigits(std::to_string(static_cast<uint64_t>(t)), v, from, implicit);
  }
  if (auto n = std::get_if<NumericValue>(&v)) {
    std::string intDigits =
        n->digits.size() > n->scale ? n->digits.substr(0, n->digits.size() - n->scale) : "0";
    StripLeadingZeros(&intDigits);
    if (n->negative && intDigits != "0") ThrowOverflow(v, from, to, implicit);
    return UnsignedBigIntFromDigits(intDigits, v, from, implicit);
  }
  if (auto m = std::get_if<MoneyValue>(&v)) {
    if (m->units <= -10000) ThrowOverflow(v, from, to, implicit);
    return int64_t{m->units / 10000};
  }
  if (auto s = std::get_if<std::string>(&v)) {
    std::string_view t = Trim(*s);
    if (t.empty()) return int64_t{0};
    bool neg = t[0] == '-';
    if (t[0] == '+' || t[0] == '-') t.remove_prefix(1);
    if (t.empty() || t.find_first_not_of("0123456789") != std::string_view::npos)
      ThrowSyntax(v, from, to, implicit);
    std::string digits(t);
    StripLeadingZeros(&digits);
    if (neg && digits != "0") ThrowOverflow(v, from, to, implicit);
    return UnsignedBigIntFromDigits(digits, v, from, implicit);
  }
  if (auto b = std::get_if<Bytes>(&v)) {
    size_t start = b->size() > 8 ? b->size() - 8 : 0;
    uint64_t u = 0;
    for (size_t i = start; i < b->size(); ++i) u = (u << 8) | (*b)[i];
    return UnsignedBigIntFromDigits(std::to_string(u), v, from, implicit);
  }
  throw SqlError(529, {TypeNameUpper(from), TypeNameUpper(to)});
}

Value ToInteger(const Value& v, SqlType from, SqlType to, bool implicit) {
  if (to == SqlType::UnsignedBigInt) return ToUnsignedBigInt(v, from, implicit);
  int64_t out = 0;
  if (auto i = std::get_if<int64_t>(&v)) {
    out = *i;
  } else if (auto d = std::get_if<double>(&v)) {
    double t = std::trunc(*d);
    if (!std::isfinite(t) || t >= 9.2233720368547758e18 || t < -9.2233720368547758e18)
      ThrowOverflow(v, from, to, implicit);
    out = static_cast<int64_t>(t);
  } else if (auto n = std::get_if<NumericValue>(&v)) {
    auto r = NumericIntegerPart(*n);
    if (!r) ThrowOverflow(v, from, to, implicit);
    out = *r;
  } else if (auto m = std::get_if<MoneyValue>(&v)) {
    out = m->units / 10000;
  } else if (auto s = std::get_if<std::string>(&v)) {
    bool overflow = false;
    auto r = ParseInteger(*s, &overflow);
    if (overflow) ThrowOverflow(v, from, to, implicit);
    if (!r) ThrowSyntax(v, from, to, implicit);
    out = *r;
  } else if (auto b = std::get_if<Bytes>(&v)) {
    // Big-endian bytes, the rightmost ones when there are more than the type holds.
    size_t width = to == SqlType::TinyInt                                       ? 1
                   : to == SqlType::SmallInt || to == SqlType::UnsignedSmallInt ? 2
                   : to == SqlType::BigInt || to == SqlType::UnsignedBigInt     ? 8
                                                                                : 4;
    size_t start = b->size() > width ? b->size() - width : 0;
    uint64_t u = 0;
    for (size_t i = start; i < b->size(); ++i) u = (u << 8) | (*b)[i];
    size_t used = b->size() - start;
    if (used > 0 && used < 8 && to != SqlType::TinyInt && !IsUnsignedType(to) &&
        ((*b)[start] & 0x80) && used == width) {
      u |= ~0ULL << (used * 8);  // sign-extend a full-width negative pattern
    }
    out = static_cast<int64_t>(u);
  } else if (std::holds_alternative<DateTimeValue>(v)) {
    throw SqlError(529, {TypeNameUpper(from), TypeNameUpper(to)});
  }
  if (to == SqlType::Bit) return int64_t{out != 0 ? 1 : 0};
  Range r = IntegerRange(to);
  if (out < r.lo || out > r.hi) ThrowOverflow(v, from, to, implicit);
  return out;
}

Value ToApprox(const Value& v, SqlType from, SqlType to, bool implicit) {
  double d = 0;
  if (auto i = std::get_if<int64_t>(&v))
    d = static_cast<double>(*i);
  else if (auto f = std::get_if<double>(&v))
    d = *f;
  else if (auto n = std::get_if<NumericValue>(&v))
    d = NumericToDouble(*n);
  else if (auto m = std::get_if<MoneyValue>(&v))
    d = MoneyToDouble(*m);
  else if (auto s = std::get_if<std::string>(&v)) {
    auto r = ParseDouble(*s);
    if (!r) ThrowSyntax(v, from, to, implicit);
    d = *r;
  } else if (std::holds_alternative<Bytes>(v) || std::holds_alternative<DateTimeValue>(v)) {
    throw SqlError(529, {TypeNameUpper(from), TypeNameUpper(to)});
  }
  if (!std::isfinite(d)) ThrowOverflow(v, from, to, implicit);
  if (to == SqlType::Real) {
    if (std::fabs(d) > std::numeric_limits<float>::max()) ThrowOverflow(v, from, to, implicit);
    d = static_cast<double>(static_cast<float>(d));
  }
  return d;
}

Value ToExact(const Value& v, SqlType from, const TypeSpec& to, bool implicit) {
  uint8_t p = to.precision == 0 ? 18 : to.precision;
  uint8_t s = std::min(to.scale, p);
  NumericValue n;
  if (auto i = std::get_if<int64_t>(&v))
    n = NumericFromInt(*i, p, s);
  else if (auto d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d) || std::fabs(*d) >= 1e38) ThrowOverflow(v, from, to.type, implicit);
    n = NumericFromDouble(*d, p, s);
  } else if (auto nv = std::get_if<NumericValue>(&v))
    n = RescaleNumeric(*nv, p, s);
  else if (auto m = std::get_if<MoneyValue>(&v)) {
    NumericValue mv;
    mv.negative = m->units < 0;
    uint64_t mag =
        m->units < 0 ? 0 - static_cast<uint64_t>(m->units) : static_cast<uint64_t>(m->units);
    mv.digits = std::to_string(mag);
    mv.scale = 4;
    mv.precision = 38;
    n = RescaleNumeric(mv, p, s);
  } else if (auto str = std::get_if<std::string>(&v)) {
    auto r = ParseNumeric(*str, p, s);
    if (!r) ThrowSyntax(v, from, to.type, implicit);
    n = *r;
  } else if (std::holds_alternative<Bytes>(v) || std::holds_alternative<DateTimeValue>(v)) {
    throw SqlError(529, {TypeNameUpper(from), TypeNameUpper(to.type)});
  }
  n.precision = p;
  n.scale = s;
  if (!FitsPrecision(n)) ThrowOverflow(v, from, to.type, implicit);
  return n;
}

Value ToMoney(const Value& v, SqlType from, SqlType to, bool implicit) {
  MoneyValue m;
  constexpr double kLimit = 922337203685477.5807;
  if (auto i = std::get_if<int64_t>(&v)) {
    if (*i > INT64_MAX / 10000 || *i < INT64_MIN / 10000) ThrowOverflow(v, from, to, implicit);
    m.units = *i * 10000;
  } else if (auto d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d) || std::fabs(*d) >= kLimit) ThrowOverflow(v, from, to, implicit);
    m = MoneyFromDouble(*d);
  } else if (auto n = std::get_if<NumericValue>(&v)) {
    NumericValue r = RescaleNumeric(*n, 38, 4);
    bool overflow = false;
    auto units = ParseInteger((r.negative ? "-" : "") + r.digits, &overflow);
    if (!units) ThrowOverflow(v, from, to, implicit);
    m.units = *units;
  } else if (auto mv = std::get_if<MoneyValue>(&v)) {
    m = *mv;
  } else if (auto s = std::get_if<std::string>(&v)) {
    std::string_view t = Trim(*s);
    if (t.empty()) {
      m.units = 0;
    } else {
      auto r = ParseMoney(t);
      if (!r) {
        // Tell a well-formed but too large number from a malformed one.
        auto n = ParseNumeric(t, 38, 4);
        if (n) ThrowOverflow(v, from, to, implicit);
        ThrowSyntax(v, from, to, implicit);
      }
      m = *r;
    }
  } else if (std::holds_alternative<Bytes>(v) || std::holds_alternative<DateTimeValue>(v)) {
    throw SqlError(529, {TypeNameUpper(from), TypeNameUpper(to)});
  }
  if (to == SqlType::SmallMoney &&
      (m.units > kSmallMoneyMaxUnits || m.units < -kSmallMoneyMaxUnits - 1))
    ThrowOverflow(v, from, to, implicit);
  return m;
}

Value ToDateTime(const Value& v, SqlType from, SqlType to, const ConvertOptions& o) {
  DateTimeValue dt;
  if (auto d = std::get_if<DateTimeValue>(&v)) {
    dt = *d;
  } else if (auto s = std::get_if<std::string>(&v)) {
    auto r = ParseDateTime(*s, o.dateFormat);
    if (!r) ThrowSyntax(v, from, to, o.implicit);
    dt = *r;
  } else {
    throw SqlError(529, {TypeNameUpper(from), TypeNameUpper(to)});
  }
  if (to == SqlType::SmallDateTime) {
    dt = RoundToSmallDateTime(dt);
    if (!InSmallDateTimeRange(dt)) ThrowOverflow(v, from, to, o.implicit);
  }
  if (to == SqlType::Date) dt.ticks = 0;
  if (to == SqlType::Time) dt.days = 0;
  return dt;
}

Value ToChar(const Value& v, SqlType from, const TypeSpec& to, const ConvertOptions& o) {
  std::string s = FormatValue(v, from, o.style);
  if (to.type != SqlType::Text && to.length > 0) {
    TruncateUtf8(&s, static_cast<size_t>(to.length));
    if (to.type == SqlType::Char && s.size() < static_cast<size_t>(to.length) && to.length <= 65536)
      s.append(static_cast<size_t>(to.length) - s.size(), ' ');
  }
  return s;
}

Value ToBinary(const Value& v, SqlType from, const TypeSpec& to, bool implicit) {
  Bytes b;
  if (auto x = std::get_if<Bytes>(&v)) {
    b = *x;
  } else if (auto s = std::get_if<std::string>(&v)) {
    // Character data converts byte for byte (strtobin reads hex digits).
    b.assign(s->begin(), s->end());
  } else if (auto i = std::get_if<int64_t>(&v)) {
    size_t width = from == SqlType::TinyInt || from == SqlType::Bit                 ? 1
                   : from == SqlType::SmallInt || from == SqlType::UnsignedSmallInt ? 2
                   : from == SqlType::UnsignedInt                                   ? 4
                   : from == SqlType::BigInt || from == SqlType::UnsignedBigInt || *i > INT32_MAX ||
                           *i < INT32_MIN
                       ? 8
                       : 4;
    for (size_t k = width; k-- > 0;)
      b.push_back(static_cast<uint8_t>(static_cast<uint64_t>(*i) >> (8 * k)));
  } else {
    (void)implicit;
    throw SqlError(529, {TypeNameUpper(from), TypeNameUpper(to.type)});
  }
  if (to.type != SqlType::Image && to.length > 0) {
    if (b.size() > static_cast<size_t>(to.length)) b.resize(static_cast<size_t>(to.length));
    if (to.type == SqlType::Binary && b.size() < static_cast<size_t>(to.length) &&
        to.length <= 65536)
      b.resize(static_cast<size_t>(to.length), 0);
  }
  return b;
}

}  // namespace

SqlError::SqlError(int number, std::vector<std::string> args)
    : std::runtime_error(MakeMessage(number, args).text), number_(number), args_(std::move(args)) {}

ServerMessage SqlError::message() const { return MakeMessage(number_, args_); }

TypeSpec TypeOf(const ColumnInfo& column) {
  return TypeSpec{column.type, column.length, column.precision, column.scale};
}

TypeSpec MakeType(SqlType type, std::optional<int32_t> length, std::optional<uint8_t> precision,
                  std::optional<uint8_t> scale) {
  TypeSpec t;
  t.type = type;
  switch (type) {
    case SqlType::TinyInt: t.length = 1; break;
    case SqlType::SmallInt: t.length = 2; break;
    case SqlType::Int: t.length = 4; break;
    case SqlType::BigInt: t.length = 8; break;
    case SqlType::UnsignedSmallInt: t.length = 2; break;
    case SqlType::UnsignedInt: t.length = 4; break;
    case SqlType::UnsignedBigInt: t.length = 8; break;
    case SqlType::Date:
    case SqlType::Time: t.length = 4; break;
    case SqlType::Bit: t.length = 1; break;
    case SqlType::Float: t.length = 8; break;
    case SqlType::Real: t.length = 4; break;
    case SqlType::Money: t.length = 8; break;
    case SqlType::SmallMoney: t.length = 4; break;
    case SqlType::DateTime: t.length = 8; break;
    case SqlType::SmallDateTime: t.length = 4; break;
    case SqlType::Numeric:
    case SqlType::Decimal:
      t.precision = precision.value_or(18);
      t.scale = scale.value_or(0);
      if (t.precision == 0 || t.precision > 38) t.precision = 18;
      if (t.scale > t.precision) t.scale = t.precision;
      t.length = 17;
      break;
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::Binary:
    case SqlType::VarBinary: t.length = length.value_or(30); break;
    case SqlType::Text:
    case SqlType::Image: t.length = 0x7FFFFFFF; break;
  }
  return t;
}

std::optional<SqlType> ParseTypeName(std::string_view name) {
  static constexpr std::pair<const char*, SqlType> kNames[] = {
      {"tinyint", SqlType::TinyInt},
      {"smallint", SqlType::SmallInt},
      {"int", SqlType::Int},
      {"integer", SqlType::Int},
      {"bigint", SqlType::BigInt},
      {"bit", SqlType::Bit},
      {"numeric", SqlType::Numeric},
      {"decimal", SqlType::Decimal},
      {"dec", SqlType::Decimal},
      {"float", SqlType::Float},
      {"double precision", SqlType::Float},
      {"double", SqlType::Float},
      {"real", SqlType::Real},
      {"money", SqlType::Money},
      {"smallmoney", SqlType::SmallMoney},
      {"datetime", SqlType::DateTime},
      {"smalldatetime", SqlType::SmallDateTime},
      {"char", SqlType::Char},
      {"character", SqlType::Char},
      {"nchar", SqlType::Char},
      {"varchar", SqlType::VarChar},
      {"nvarchar", SqlType::VarChar},
      {"char varying", SqlType::VarChar},
      {"character varying", SqlType::VarChar},
      {"sysname", SqlType::VarChar},
      {"longsysname", SqlType::VarChar},
      {"text", SqlType::Text},
      {"binary", SqlType::Binary},
      {"varbinary", SqlType::VarBinary},
      {"timestamp", SqlType::VarBinary},
      {"image", SqlType::Image},
      {"unsigned smallint", SqlType::UnsignedSmallInt},
      {"usmallint", SqlType::UnsignedSmallInt},
      {"unsigned int", SqlType::UnsignedInt},
      {"unsigned integer", SqlType::UnsignedInt},
      {"uint", SqlType::UnsignedInt},
      {"unsigned bigint", SqlType::UnsignedBigInt},
      {"ubigint", SqlType::UnsignedBigInt},
      {"date", SqlType::Date},
      {"time", SqlType::Time},
      {"unichar", SqlType::Char},
      {"univarchar", SqlType::VarChar},
      {"unitext", SqlType::Text},
  };
  std::string n = Lower(Trim(name));
  // Collapse inner runs of blanks ("double   precision").
  std::string c;
  for (char ch : n) {
    if (std::isspace(static_cast<unsigned char>(ch))) {
      if (!c.empty() && c.back() != ' ') c += ' ';
    } else {
      c += ch;
    }
  }
  for (const auto& [k, t] : kNames)
    if (c == k) return t;
  return std::nullopt;
}

std::string TypeName(SqlType type) {
  switch (type) {
    case SqlType::TinyInt: return "tinyint";
    case SqlType::SmallInt: return "smallint";
    case SqlType::Int: return "int";
    case SqlType::BigInt: return "bigint";
    case SqlType::Bit: return "bit";
    case SqlType::Numeric: return "numeric";
    case SqlType::Decimal: return "decimal";
    case SqlType::Float: return "float";
    case SqlType::Real: return "real";
    case SqlType::Money: return "money";
    case SqlType::SmallMoney: return "smallmoney";
    case SqlType::DateTime: return "datetime";
    case SqlType::SmallDateTime: return "smalldatetime";
    case SqlType::Char: return "char";
    case SqlType::VarChar: return "varchar";
    case SqlType::Text: return "text";
    case SqlType::Binary: return "binary";
    case SqlType::VarBinary: return "varbinary";
    case SqlType::Image: return "image";
    case SqlType::UnsignedSmallInt: return "unsigned smallint";
    case SqlType::UnsignedInt: return "unsigned int";
    case SqlType::UnsignedBigInt: return "unsigned bigint";
    case SqlType::Date: return "date";
    case SqlType::Time: return "time";
  }
  return "int";
}

std::string TypeNameUpper(SqlType type) {
  std::string s = TypeName(type);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

int32_t UserTypeOf(SqlType type) {
  switch (type) {
    case SqlType::Char: return 1;
    case SqlType::VarChar: return 2;
    case SqlType::Binary: return 3;
    case SqlType::VarBinary: return 4;
    case SqlType::TinyInt: return 5;
    case SqlType::SmallInt: return 6;
    case SqlType::Int: return 7;
    case SqlType::Float: return 8;
    case SqlType::Numeric: return 10;
    case SqlType::Money: return 11;
    case SqlType::DateTime: return 12;
    case SqlType::Bit: return 16;
    case SqlType::Text: return 19;
    case SqlType::Image: return 20;
    case SqlType::SmallMoney: return 21;
    case SqlType::SmallDateTime: return 22;
    case SqlType::Real: return 23;
    case SqlType::Decimal: return 26;
    case SqlType::BigInt: return 43;
    case SqlType::UnsignedSmallInt: return 44;
    case SqlType::UnsignedInt: return 45;
    case SqlType::UnsignedBigInt: return 46;
    case SqlType::Date: return 37;
    case SqlType::Time: return 38;
  }
  return 0;
}

bool IsCharType(SqlType t) {
  return t == SqlType::Char || t == SqlType::VarChar || t == SqlType::Text;
}
bool IsBinaryType(SqlType t) {
  return t == SqlType::Binary || t == SqlType::VarBinary || t == SqlType::Image;
}
bool IsIntegerType(SqlType t) {
  return t == SqlType::TinyInt || t == SqlType::SmallInt || t == SqlType::Int ||
         t == SqlType::BigInt || t == SqlType::Bit || IsUnsignedType(t);
}
bool IsUnsignedType(SqlType t) {
  return t == SqlType::UnsignedSmallInt || t == SqlType::UnsignedInt ||
         t == SqlType::UnsignedBigInt;
}
bool IsExactNumericType(SqlType t) { return t == SqlType::Numeric || t == SqlType::Decimal; }
bool IsMoneyType(SqlType t) { return t == SqlType::Money || t == SqlType::SmallMoney; }
bool IsDateTimeType(SqlType t) {
  return t == SqlType::DateTime || t == SqlType::SmallDateTime || t == SqlType::Date ||
         t == SqlType::Time;
}
bool IsApproxType(SqlType t) { return t == SqlType::Float || t == SqlType::Real; }
bool IsNumericFamily(SqlType t) {
  return IsIntegerType(t) || IsExactNumericType(t) || IsApproxType(t) || IsMoneyType(t);
}

SqlType NaturalType(const Value& v) {
  if (auto i = std::get_if<int64_t>(&v))
    return *i > INT32_MAX || *i < INT32_MIN ? SqlType::BigInt : SqlType::Int;
  if (std::holds_alternative<double>(v)) return SqlType::Float;
  if (std::holds_alternative<NumericValue>(v)) return SqlType::Numeric;
  if (std::holds_alternative<MoneyValue>(v)) return SqlType::Money;
  if (std::holds_alternative<DateTimeValue>(v)) return SqlType::DateTime;
  if (std::holds_alternative<std::string>(v)) return SqlType::VarChar;
  if (std::holds_alternative<Bytes>(v)) return SqlType::VarBinary;
  return SqlType::Int;
}

Value FitToColumn(const Value& v, const TypeSpec& to, bool fixed, bool strict, bool characters) {
  if (to.length <= 0 || to.length > 65536) return v;
  const auto length = static_cast<size_t>(to.length);
  if (auto s = std::get_if<std::string>(&v);
      s && (to.type == SqlType::Char || to.type == SqlType::VarChar)) {
    std::string out = *s;
    // unichar(n) and univarchar(n) hold n characters, char(n) and varchar(n) n bytes.
    size_t have = out.size();
    if (characters) {
      size_t chars = 0, cut = out.size();
      for (size_t i = 0; i < out.size(); ++i) {
        if ((static_cast<unsigned char>(out[i]) & 0xC0) == 0x80) continue;
        if (chars == length) {
          cut = i;
          break;
        }
        ++chars;
      }
      out.resize(cut);
      have = std::min(chars, length);
    } else {
      TruncateUtf8(&out, length);
      have = out.size();
    }
    if (strict && s->find_first_not_of(' ', out.size()) != std::string::npos)
      throw SqlError(kMsgStringTruncation, {});
    if (fixed) {
      out.append(length - have, ' ');
    } else {
      size_t end = out.find_last_not_of(' ');
      out.resize(end == std::string::npos ? 0 : end + 1);
    }
    return out;
  }
  if (auto b = std::get_if<Bytes>(&v);
      b && (to.type == SqlType::Binary || to.type == SqlType::VarBinary)) {
    Bytes out = *b;
    if (out.size() > length) out.resize(length);
    if (fixed) out.resize(length, 0);
    return out;
  }
  return v;
}

bool ImplicitAllowed(SqlType from, SqlType to) {
  if (from == to) return true;
  if (IsCharType(from)) return true;
  if (IsNumericFamily(from)) return IsNumericFamily(to) || IsBinaryType(to);
  if (IsDateTimeType(from)) return IsDateTimeType(to) || IsCharType(to);
  if (IsBinaryType(from)) return IsBinaryType(to) || IsIntegerType(to) || IsCharType(to);
  return false;
}

Value Convert(const Value& in, const TypeSpec& to, const ConvertOptions& options) {
  if (IsNull(in)) return in;
  SqlType from = options.from.value_or(NaturalType(in));
  if (options.implicit && !ImplicitAllowed(from, to.type))
    throw SqlError(257, {TypeNameUpper(from), TypeNameUpper(to.type)});
  Value v = Canonical(in, from);
  if (IsDateTimeType(from) && !std::holds_alternative<DateTimeValue>(v) && IsDateTimeType(to.type))
    from = SqlType::VarChar;  // stored text that is not a date: report it as character data
  if (IsIntegerType(to.type)) return ToInteger(v, from, to.type, options.implicit);
  if (IsApproxType(to.type)) return ToApprox(v, from, to.type, options.implicit);
  if (IsExactNumericType(to.type)) return ToExact(v, from, to, options.implicit);
  if (IsMoneyType(to.type)) return ToMoney(v, from, to.type, options.implicit);
  if (IsDateTimeType(to.type)) {
    if (IsNumericFamily(from) || IsBinaryType(from))
      throw SqlError(529, {TypeNameUpper(from), TypeNameUpper(to.type)});
    return ToDateTime(v, from, to.type, options);
  }
  if (IsCharType(to.type)) return ToChar(v, from, to, options);
  if (IsDateTimeType(from) && std::holds_alternative<DateTimeValue>(v))
    throw SqlError(529, {TypeNameUpper(from), TypeNameUpper(to.type)});
  return ToBinary(v, from, to, options.implicit);
}

std::string FormatFloat(double d, bool real) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d < 0 ? "-Inf" : "Inf";
  char buf[64];
  std::to_chars_result r = real ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d))
                                : std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

std::string FormatValue(const Value& in, SqlType type, int style, uint8_t scale) {
  if (IsNull(in)) return std::string();
  if (auto d = std::get_if<double>(&in); d && IsExactNumericType(type) && std::isfinite(*d))
    return FormatNumeric(NumericFromDouble(*d, 38, scale));
  Value v = Canonical(in, type);
  if (auto i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (auto d = std::get_if<double>(&v)) return FormatFloat(*d, type == SqlType::Real);
  if (auto n = std::get_if<NumericValue>(&v)) return FormatNumeric(*n);
  if (auto m = std::get_if<MoneyValue>(&v)) return FormatMoney(*m, style < 0 ? 0 : style);
  if (auto dt = std::get_if<DateTimeValue>(&v)) {
    // A date or a time alone shows its own half of the default form ("Dec  9 2026",
    // "4:32PM"); explicit styles show the whole value as datetime does.
    if ((type == SqlType::Date || type == SqlType::Time) && (style <= 0 || style == 100)) {
      std::string full = FormatDateTime(*dt, 0);  // "Mon dd yyyy hh:mmAM"
      if (type == SqlType::Date) return full.substr(0, 11);
      size_t first = full.find_first_not_of(' ', 11);
      return first == std::string::npos ? std::string() : full.substr(first);
    }
    return FormatDateTime(*dt, style < 0 ? 0 : style);
  }
  if (auto s = std::get_if<std::string>(&v)) return *s;
  if (auto b = std::get_if<Bytes>(&v)) return std::string(b->begin(), b->end());
  return std::string();
}

std::optional<NumericValue> ParseNumeric(std::string_view text, uint8_t precision, uint8_t scale) {
  text = Trim(text);
  if (text.empty() || text.size() > 400) return std::nullopt;
  if (text.find_first_of("eE") != std::string_view::npos) {
    auto d = ParseDouble(text);
    if (!d || !std::isfinite(*d) || std::fabs(*d) >= 1e38) return std::nullopt;
    return NumericFromDouble(*d, precision, scale);
  }
  NumericValue n;
  n.precision = precision;
  n.scale = scale;
  if (text[0] == '+' || text[0] == '-') {
    n.negative = text[0] == '-';
    text.remove_prefix(1);
  }
  std::string intPart, fracPart;
  bool dot = false;
  for (char c : text) {
    if (c == '.' && !dot) {
      dot = true;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      (dot ? fracPart : intPart) += c;
    } else {
      return std::nullopt;
    }
  }
  if (intPart.empty() && fracPart.empty()) return std::nullopt;
  bool roundUp = fracPart.size() > scale && fracPart[scale] >= '5';
  if (fracPart.size() > scale) fracPart.resize(scale);
  fracPart.append(scale - fracPart.size(), '0');
  n.digits = intPart + fracPart;
  StripLeadingZeros(&n.digits);
  if (roundUp) IncrementDigits(&n.digits);
  if (n.digits == "0") n.negative = false;
  return n;
}

NumericValue NumericFromInt(int64_t v, uint8_t precision, uint8_t scale) {
  NumericValue n;
  n.negative = v < 0;
  uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  n.digits = std::to_string(mag);
  if (n.digits != "0") n.digits.append(scale, '0');
  n.precision = precision;
  n.scale = scale;
  return n;
}

NumericValue NumericFromDouble(double d, uint8_t precision, uint8_t scale) {
  if (!std::isfinite(d)) d = 0;
  // The shortest text that reads back keeps literal-like values exact (2.675 stays 2.675),
  // so rounding below works on the digits a user wrote.
  std::string txt = FormatFloat(d);
  std::optional<NumericValue> n;
  if (txt.find('e') == std::string::npos) n = ParseNumeric(txt, precision, scale);
  if (!n) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", std::min<int>(scale + 1, 40), d);
    n = ParseNumeric(buf, precision, scale);
  }
  return n ? *n : NumericValue{false, "0", precision, scale};
}

double NumericToDouble(const NumericValue& n) {
  return std::strtod(FormatNumeric(n).c_str(), nullptr);
}

NumericValue RescaleNumeric(const NumericValue& n, uint8_t precision, uint8_t scale) {
  NumericValue r = n;
  r.precision = precision;
  if (scale >= n.scale) {
    if (r.digits != "0") r.digits.append(scale - n.scale, '0');
  } else {
    size_t drop = n.scale - scale;
    std::string digits = n.digits;
    if (digits.size() <= drop) digits.insert(0, drop - digits.size() + 1, '0');
    bool up = digits[digits.size() - drop] >= '5';
    digits.resize(digits.size() - drop);
    StripLeadingZeros(&digits);
    if (up) IncrementDigits(&digits);
    r.digits = digits;
  }
  r.scale = scale;
  if (r.digits == "0") r.negative = false;
  return r;
}

bool FitsPrecision(const NumericValue& n) {
  if (n.digits == "0") return true;
  size_t intDigits = n.digits.size() > n.scale ? n.digits.size() - n.scale : 0;
  return intDigits <= static_cast<size_t>(n.precision > n.scale ? n.precision - n.scale : 0);
}

std::string FormatNumeric(const NumericValue& n) {
  std::string d = n.digits;
  if (d.size() <= n.scale) d.insert(0, n.scale - d.size() + 1, '0');
  if (n.scale > 0) d.insert(d.size() - n.scale, ".");
  if (n.negative && n.digits != "0") d.insert(0, "-");
  return d;
}

int CompareNumeric(const NumericValue& a, const NumericValue& b) {
  uint8_t s = std::max(a.scale, b.scale);
  NumericValue x = RescaleNumeric(a, 38, s), y = RescaleNumeric(b, 38, s);
  bool xz = x.digits == "0", yz = y.digits == "0";
  int sx = xz ? 0 : (x.negative ? -1 : 1), sy = yz ? 0 : (y.negative ? -1 : 1);
  if (sx != sy) return sx < sy ? -1 : 1;
  if (sx == 0) return 0;
  int mag = x.digits.size() != y.digits.size() ? (x.digits.size() < y.digits.size() ? -1 : 1)
                                               : x.digits.compare(y.digits);
  mag = mag < 0 ? -1 : mag > 0 ? 1 : 0;
  return sx < 0 ? -mag : mag;
}

MoneyValue MoneyFromDouble(double units) {
  double scaled = std::round(units * 10000.0);
  if (!(scaled < 9.2e18 && scaled > -9.2e18)) return MoneyValue{0};
  // Re-derive from the shortest decimal text so 12.345 is 123450 units, not 123449.
  auto n = NumericFromDouble(units, 38, 4);
  bool overflow = false;
  auto v = ParseInteger((n.negative ? "-" : "") + n.digits, &overflow);
  return MoneyValue{v ? *v : static_cast<int64_t>(scaled)};
}

double MoneyToDouble(MoneyValue m) { return static_cast<double>(m.units) / 10000.0; }

std::optional<MoneyValue> ParseMoney(std::string_view text) {
  std::string t;
  for (char c : Trim(text)) {
    if (c == '$' || c == ',') continue;
    t += c;
  }
  if (t.empty()) return std::nullopt;
  auto n = ParseNumeric(t, 38, 4);
  if (!n) return std::nullopt;
  bool overflow = false;
  auto v = ParseInteger((n->negative ? "-" : "") + n->digits, &overflow);
  if (!v) return std::nullopt;
  return MoneyValue{*v};
}

std::string FormatMoney(MoneyValue m, int style) {
  bool neg = m.units < 0;
  uint64_t mag = neg ? 0 - static_cast<uint64_t>(m.units) : static_cast<uint64_t>(m.units);
  std::string whole, frac;
  if (style == 2) {
    whole = std::to_string(mag / 10000);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(mag % 10000));
    frac = buf;
  } else {
    uint64_t cents = (mag + 50) / 100;  // half away from zero
    whole = std::to_string(cents / 100);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02u", static_cast<unsigned>(cents % 100));
    frac = buf;
    if (cents == 0) neg = false;
  }
  if (style == 1) {
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
      if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ',';
      grouped += whole[i];
    }
    whole = grouped;
  }
  return (neg ? "-" : "") + whole + "." + frac;
}

std::string BytesToHex(const Bytes& b, bool upper) {
  static constexpr char kLower[] = "0123456789abcdef";
  static constexpr char kUpper[] = "0123456789ABCDEF";
  const char* digits = upper ? kUpper : kLower;
  std::string s;
  s.reserve(b.size() * 2);
  for (uint8_t c : b) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

std::optional<Bytes> HexToBytes(std::string_view text) {
  text = Trim(text);
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  std::string digits(text);
  if (digits.size() % 2 == 1) digits.insert(0, "0");
  Bytes out;
  out.reserve(digits.size() / 2);
  auto val = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < digits.size(); i += 2) {
    int hi = val(digits[i]), lo = val(digits[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return out;
}

Value RawFromStorage(sqlite3_value* stored) {
  switch (sqlite3_value_type(stored)) {
    case SQLITE_INTEGER: return static_cast<int64_t>(sqlite3_value_int64(stored));
    case SQLITE_FLOAT: return sqlite3_value_double(stored);
    case SQLITE_TEXT: {
      const unsigned char* t = sqlite3_value_text(stored);
      int n = sqlite3_value_bytes(stored);
      return std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(n));
    }
    case SQLITE_BLOB: {
      const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(stored));
      int n = sqlite3_value_bytes(stored);
      return p == nullptr ? Bytes() : Bytes(p, p + n);
    }
    default: return std::monostate{};
  }
}

Value FromStorage(sqlite3_value* stored, const ColumnInfo& column) {
  Value raw = RawFromStorage(stored);
  if (IsNull(raw)) return raw;
  TypeSpec to = TypeOf(column);
  try {
    switch (column.type) {
      case SqlType::Float:
      case SqlType::Real:
        if (auto i = std::get_if<int64_t>(&raw)) return static_cast<double>(*i);
        break;
      case SqlType::Numeric:
      case SqlType::Decimal: {
        uint8_t p = column.precision == 0 ? 18 : column.precision;
        if (auto b = std::get_if<Bytes>(&raw)) {
          auto n = exact::Decode(*b);
          if (!n) return std::monostate{};
          return RescaleNumeric(*n, p, column.scale);
        }
        if (auto d = std::get_if<double>(&raw)) return NumericFromDouble(*d, p, column.scale);
        if (auto i = std::get_if<int64_t>(&raw)) return NumericFromInt(*i, p, column.scale);
        to.precision = p;
        break;
      }
      case SqlType::Money:
      case SqlType::SmallMoney:
        if (auto b = std::get_if<Bytes>(&raw)) {
          auto n = exact::Decode(*b);
          auto m = n ? exact::ToMoney(*n) : std::nullopt;
          if (!m) return std::monostate{};
          return *m;
        }
        if (auto d = std::get_if<double>(&raw)) return MoneyFromDouble(*d);
        if (auto i = std::get_if<int64_t>(&raw)) {
          int64_t units = 0;
          if (__builtin_mul_overflow(*i, int64_t{10000}, &units)) return std::monostate{};
          return MoneyValue{units};
        }
        break;
      case SqlType::DateTime:
      case SqlType::SmallDateTime:
      case SqlType::Date:
      case SqlType::Time:
        if (auto s = std::get_if<std::string>(&raw)) {
          auto dt = DateTimeFromStorage(*s);
          if (!dt) return std::monostate{};
          if (column.type == SqlType::Date) dt->ticks = 0;
          if (column.type == SqlType::Time) dt->days = 0;
          return column.type == SqlType::SmallDateTime ? RoundToSmallDateTime(*dt) : *dt;
        }
        break;
      case SqlType::Char:
      case SqlType::VarChar:
      case SqlType::Text:
        if (auto s = std::get_if<std::string>(&raw)) {
          // Only NOT NULL char is fixed-length; nullable char is stored as varchar. unichar(n)
          // holds n characters; char(n) n bytes.
          size_t have = s->size();
          if (column.usertype == 34)
            have = static_cast<size_t>(std::count_if(s->begin(), s->end(), [](char ch) {
              return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
            }));
          if (column.type == SqlType::Char && !column.nullable && column.length > 0 &&
              column.length <= 65536 && have < static_cast<size_t>(column.length))
            s->append(static_cast<size_t>(column.length) - have, ' ');
          return raw;
        }
        if (auto b = std::get_if<Bytes>(&raw)) return std::string(b->begin(), b->end());
        {
          // A number stored in a character column reads as SQLite's text of it.
          const unsigned char* t = sqlite3_value_text(stored);
          return std::string(t ? reinterpret_cast<const char*>(t) : "");
        }
      case SqlType::UnsignedBigInt:
        if (auto b = std::get_if<Bytes>(&raw)) {
          auto n = exact::Decode(*b);
          if (!n) return std::monostate{};
          return RescaleNumeric(*n, 20, 0);
        }
        if (std::holds_alternative<int64_t>(raw)) return raw;
        break;
      case SqlType::Binary:
      case SqlType::VarBinary:
      case SqlType::Image:
        if (auto b = std::get_if<Bytes>(&raw)) {
          if (column.type == SqlType::Binary && !column.nullable && column.length > 0 &&
              column.length <= 65536 && b->size() < static_cast<size_t>(column.length))
            b->resize(static_cast<size_t>(column.length), 0);
          return raw;
        }
        if (auto s = std::get_if<std::string>(&raw)) return Bytes(s->begin(), s->end());
        break;
      default:
        if (auto i = std::get_if<int64_t>(&raw)) {
          if (column.type == SqlType::Bit) return int64_t{*i != 0};
          return raw;
        }
        break;
    }
    ConvertOptions o;
    o.from = NaturalType(raw);
    return Convert(raw, to, o);
  } catch (const SqlError&) {
    return std::monostate{};
  }
}

Value FromStorage(sqlite3_stmt* statement, int columnIndex, const ColumnInfo& column) {
  return FromStorage(sqlite3_column_value(statement, columnIndex), column);
}

namespace {

// The storage form of a value already converted to `type`.
struct Stored {
  enum Kind { Null, Integer, Real, TextK, Blob } kind = Null;
  int64_t i = 0;
  double d = 0;
  std::string text;
  Bytes blob;
};

Stored ToStored(const Value& in, SqlType type) {
  Stored s;
  if (IsNull(in)) return s;
  // Floats and integers under an exact type keep every digit they show.
  Value v = IsExactNumericType(type) ? Canonical(in, type) : in;
  bool matches = false;
  switch (type) {
    case SqlType::Numeric:
    case SqlType::Decimal: matches = std::holds_alternative<NumericValue>(v); break;
    case SqlType::Float:
    case SqlType::Real: matches = std::holds_alternative<double>(v); break;
    case SqlType::Money:
    case SqlType::SmallMoney: matches = std::holds_alternative<MoneyValue>(v); break;
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
    case SqlType::Date:
    case SqlType::Time: matches = std::holds_alternative<DateTimeValue>(v); break;
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::Text: matches = std::holds_alternative<std::string>(v); break;
    case SqlType::Binary:
    case SqlType::VarBinary:
    case SqlType::Image: matches = std::holds_alternative<Bytes>(v); break;
    default: matches = std::holds_alternative<int64_t>(v); break;
  }
  if (!matches) {
    ConvertOptions o;
    o.implicit = true;
    TypeSpec t = MakeType(type);
    if (IsCharType(type) || IsBinaryType(type)) t.length = 0;  // no truncation here
    if (IsExactNumericType(type)) t.precision = 38, t.scale = 10;
    v = Convert(v, t, o);
  }
  if (auto i = std::get_if<int64_t>(&v)) {
    s.kind = Stored::Integer;
    s.i = type == SqlType::Bit ? (*i != 0) : *i;
  } else if (auto d = std::get_if<double>(&v)) {
    s.kind = Stored::Real;
    s.d = *d;
  } else if (auto n = std::get_if<NumericValue>(&v)) {
    s.kind = Stored::Blob;
    s.blob = exact::Encode(*n);
  } else if (auto m = std::get_if<MoneyValue>(&v)) {
    s.kind = Stored::Blob;
    s.blob = exact::Encode(exact::FromMoney(*m));
  } else if (auto dt = std::get_if<DateTimeValue>(&v)) {
    s.kind = Stored::TextK;
    DateTimeValue d = type == SqlType::SmallDateTime ? RoundToSmallDateTime(*dt) : *dt;
    if (type == SqlType::Date) d.ticks = 0;
    if (type == SqlType::Time) d.days = 0;
    s.text = DateTimeToStorage(d);
  } else if (auto str = std::get_if<std::string>(&v)) {
    s.kind = Stored::TextK;
    s.text = *str;
    if (type == SqlType::VarChar) {
      // Trailing blanks are not kept; an empty string is a single blank, as Sybase stores it.
      // Char values arrive already fitted to their column (FitToColumn).
      size_t end = s.text.find_last_not_of(' ');
      s.text.resize(end == std::string::npos ? 0 : end + 1);
      if (s.text.empty()) s.text = " ";
    }
  } else if (auto b = std::get_if<Bytes>(&v)) {
    s.kind = Stored::Blob;
    s.blob = *b;
  }
  return s;
}

}  // namespace

void BindStorage(sqlite3_stmt* statement, int index, const Value& v, SqlType type) {
  Stored s = ToStored(v, type);
  switch (s.kind) {
    case Stored::Null: sqlite3_bind_null(statement, index); break;
    case Stored::Integer: sqlite3_bind_int64(statement, index, s.i); break;
    case Stored::Real: sqlite3_bind_double(statement, index, s.d); break;
    case Stored::TextK:
      sqlite3_bind_text64(statement, index, s.text.data(), s.text.size(), SQLITE_TRANSIENT,
                          SQLITE_UTF8);
      break;
    case Stored::Blob:
      sqlite3_bind_blob64(statement, index, s.blob.data(), s.blob.size(), SQLITE_TRANSIENT);
      break;
  }
}

void ResultStorage(sqlite3_context* context, const Value& v, SqlType type) {
  Stored s = ToStored(v, type);
  switch (s.kind) {
    case Stored::Null: sqlite3_result_null(context); break;
    case Stored::Integer: sqlite3_result_int64(context, s.i); break;
    case Stored::Real: sqlite3_result_double(context, s.d); break;
    case Stored::TextK:
      sqlite3_result_text64(context, s.text.data(), s.text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    case Stored::Blob:
      sqlite3_result_blob64(context, s.blob.data(), s.blob.size(), SQLITE_TRANSIENT);
      break;
  }
}

int CompareSyb(std::string_view a, std::string_view b) {
  while (!a.empty() && a.back() == ' ') a.remove_suffix(1);
  while (!b.empty() && b.back() == ' ') b.remove_suffix(1);
  size_t n = std::min(a.size(), b.size());
  int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

namespace {
int SybCollation(void*, int n1, const void* p1, int n2, const void* p2) {
  return CompareSyb(std::string_view(static_cast<const char*>(p1), static_cast<size_t>(n1)),
                    std::string_view(static_cast<const char*>(p2), static_cast<size_t>(n2)));
}
}  // namespace

void RegisterSybCollation(sqlite3* db) {
  sqlite3_create_collation_v2(db, "SYB", SQLITE_UTF8, nullptr, SybCollation, nullptr);
}

}  // namespace sampleserver
