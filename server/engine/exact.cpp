#include "engine/exact.h"

#include "engine/builtins.h"
#include "engine/messages.h"
#include "engine/values.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace sampleserver::exact {
namespace {

constexpr int64_t kMoneyMaxUnits = INT64_MAX;

void StripLeading(std::string& d) {
  size_t nz = d.find_first_not_of('0');
  d.erase(0, nz == std::string::npos ? d.size() - 1 : nz);
  if (d.empty()) d = "0";
}

NumericValue Make(bool negative, std::string digits, int scale) {
  StripLeading(digits);
  NumericValue n;
  n.digits = std::move(digits);
  n.scale = static_cast<uint8_t>(scale);
  n.negative = negative && n.digits != "0";
  n.precision = 38;
  return n;
}

// The coefficient of `n` at `scale` (>= n.scale).
std::string At(const NumericValue& n, int scale) {
  std::string d = n.digits;
  if (d != "0") d.append(static_cast<size_t>(scale - n.scale), '0');
  return d;
}

int CompareMag(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::string AddMag(const std::string& a, const std::string& b) {
  std::string r;
  r.reserve(std::max(a.size(), b.size()) + 1);
  int carry = 0;
  for (size_t i = 0; i < a.size() || i < b.size() || carry; ++i) {
    int s = carry;
    if (i < a.size()) s += a[a.size() - 1 - i] - '0';
    if (i < b.size()) s += b[b.size() - 1 - i] - '0';
    r.push_back(static_cast<char>('0' + s % 10));
    carry = s / 10;
  }
  std::reverse(r.begin(), r.end());
  StripLeading(r);
  return r;
}

// a - b for a >= b.
std::string SubMag(const std::string& a, const std::string& b) {
  std::string r(a);
  int borrow = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    int d = a[a.size() - 1 - i] - '0' - borrow - (i < b.size() ? b[b.size() - 1 - i] - '0' : 0);
    borrow = d < 0;
    r[r.size() - 1 - i] = static_cast<char>('0' + (d + 10) % 10);
  }
  StripLeading(r);
  return r;
}

std::string MulMag(const std::string& a, const std::string& b) {
  std::vector<int> acc(a.size() + b.size(), 0);
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t j = 0; j < b.size(); ++j) acc[i + j + 1] += (a[i] - '0') * (b[j] - '0');
  for (size_t k = acc.size() - 1; k > 0; --k) {
    acc[k - 1] += acc[k] / 10;
    acc[k] %= 10;
  }
  std::string r;
  r.reserve(acc.size());
  for (int d : acc) r.push_back(static_cast<char>('0' + d));
  StripLeading(r);
  return r;
}

// Long division of magnitudes: quotient, and the remainder in `rem`.
std::string DivMag(const std::string& a, const std::string& b, std::string* rem) {
  std::string q, r = "0";
  for (char c : a) {
    r = r == "0" ? std::string(1, c) : r + c;
    StripLeading(r);
    int k = 0;
    while (CompareMag(r, b) >= 0) {
      r = SubMag(r, b);
      ++k;
    }
    q.push_back(static_cast<char>('0' + k));
  }
  StripLeading(q);
  if (rem) *rem = r;
  return q;
}

std::string Pow10(int k) { return "1" + std::string(static_cast<size_t>(k), '0'); }

}  // namespace

Bytes Encode(const NumericValue& n) {
  std::string d = n.digits;
  StripLeading(d);
  if (d == "0") return Bytes{0x80};
  int e = static_cast<int>(d.size()) - n.scale;
  d.erase(d.find_last_not_of('0') + 1);
  if (d.size() % 2) d.push_back('0');
  e = std::clamp(e, -127, 127);
  Bytes out;
  out.reserve(d.size() / 2 + 3);
  out.push_back(n.negative ? 0x7F : 0x81);
  out.push_back(static_cast<uint8_t>(n.negative ? 128 - e : 128 + e));
  for (size_t i = 0; i < d.size(); i += 2) {
    int v = (d[i] - '0') * 10 + (d[i + 1] - '0');
    out.push_back(static_cast<uint8_t>(n.negative ? 99 - v : v));
  }
  if (n.negative) out.push_back(0xFF);
  return out;
}

std::optional<NumericValue> Decode(const uint8_t* data, size_t size) {
  if (size == 1 && data[0] == 0x80) return Make(false, "0", 0);
  if (size < 3 || (data[0] != 0x7F && data[0] != 0x81)) return std::nullopt;
  bool neg = data[0] == 0x7F;
  if (neg && (size < 4 || data[size - 1] != 0xFF)) return std::nullopt;
  int e = neg ? 128 - data[1] : data[1] - 128;
  size_t end = neg ? size - 1 : size;
  std::string m;
  m.reserve((end - 2) * 2);
  for (size_t i = 2; i < end; ++i) {
    int v = neg ? 99 - data[i] : data[i];
    if (v < 0 || v > 99) return std::nullopt;
    m.push_back(static_cast<char>('0' + v / 10));
    m.push_back(static_cast<char>('0' + v % 10));
  }
  size_t last = m.find_last_not_of('0');
  if (last == std::string::npos) return std::nullopt;
  m.erase(last + 1);
  int len = static_cast<int>(m.size());
  if (e >= len) return Make(neg, m + std::string(static_cast<size_t>(e - len), '0'), 0);
  if (len - e > 255) return std::nullopt;
  return Make(neg, m, len - e);
}

NumericValue FromMoney(MoneyValue m) {
  uint64_t mag = m.units < 0 ? 0 - static_cast<uint64_t>(m.units) : static_cast<uint64_t>(m.units);
  return Make(m.units < 0, std::to_string(mag), 4);
}

std::optional<NumericValue> FromValue(const Value& v) {
  if (auto n = std::get_if<NumericValue>(&v)) return *n;
  if (auto m = std::get_if<MoneyValue>(&v)) return FromMoney(*m);
  if (auto i = std::get_if<int64_t>(&v)) return NumericFromInt(*i, 38, 0);
  if (auto d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d) || std::fabs(*d) >= 1e38) return std::nullopt;
    std::string text = FormatFloat(*d);
    if (text.find('e') != std::string::npos) return NumericFromDouble(*d, 38, 20);
    size_t dot = text.find('.');
    int scale = dot == std::string::npos ? 0 : static_cast<int>(text.size() - dot - 1);
    return ParseNumeric(text, 38, static_cast<uint8_t>(scale));
  }
  if (auto s = std::get_if<std::string>(&v)) {
    std::string clean;
    for (char c : *s)
      if (c != '$' && c != ',' && c != ' ') clean += c;
    size_t dot = clean.find('.');
    int scale = dot == std::string::npos ? 0 : static_cast<int>(clean.size() - dot - 1);
    return ParseNumeric(clean, 38, static_cast<uint8_t>(std::clamp(scale, 0, 38)));
  }
  return std::nullopt;
}

std::optional<MoneyValue> ToMoney(const NumericValue& n) {
  NumericValue r = RescaleNumeric(n, 38, 4);
  if (r.digits.size() > 19) return std::nullopt;
  uint64_t mag = std::stoull(r.digits);
  if (!r.negative && mag > static_cast<uint64_t>(kMoneyMaxUnits)) return std::nullopt;
  if (r.negative && mag > static_cast<uint64_t>(kMoneyMaxUnits) + 1) return std::nullopt;
  return MoneyValue{r.negative ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag)};
}

NumericValue Add(const NumericValue& a, const NumericValue& b) {
  int s = std::max(a.scale, b.scale);
  std::string x = At(a, s), y = At(b, s);
  if (a.negative == b.negative) return Make(a.negative, AddMag(x, y), s);
  if (CompareMag(x, y) >= 0) return Make(a.negative, SubMag(x, y), s);
  return Make(b.negative, SubMag(y, x), s);
}

NumericValue Negate(const NumericValue& n) { return Make(!n.negative, n.digits, n.scale); }

NumericValue Subtract(const NumericValue& a, const NumericValue& b) { return Add(a, Negate(b)); }

NumericValue Multiply(const NumericValue& a, const NumericValue& b) {
  return Make(a.negative != b.negative, MulMag(a.digits, b.digits), a.scale + b.scale);
}

std::optional<NumericValue> Divide(const NumericValue& a, const NumericValue& b, int scale) {
  if (b.digits == "0") return std::nullopt;
  // (A / 10^sa) / (B / 10^sb) * 10^(scale+1) = A * 10^(sb+scale+1) / (B * 10^sa)
  std::string num = a.digits == "0" ? "0" : a.digits + std::string(b.scale + scale + 1, '0');
  std::string den = b.digits + std::string(a.scale, '0');
  std::string q = DivMag(num, den, nullptr);
  NumericValue wide = Make(a.negative != b.negative, q, scale + 1);
  return RescaleNumeric(wide, 38, static_cast<uint8_t>(scale));
}

std::optional<NumericValue> Modulo(const NumericValue& a, const NumericValue& b) {
  if (b.digits == "0") return std::nullopt;
  int s = std::max(a.scale, b.scale);
  std::string rem;
  DivMag(At(a, s), At(b, s), &rem);
  return Make(a.negative, rem, s);
}

int Sign(const NumericValue& n) { return n.digits == "0" ? 0 : n.negative ? -1 : 1; }

int TypeCode(SqlType type, int precision, int scale) {
  if (type == SqlType::Money) return kMoneyCode;
  if (type == SqlType::SmallMoney) return kSmallMoneyCode;
  if (type == SqlType::Numeric || type == SqlType::Decimal)
    return (precision == 0 ? 18 : precision) * 100 + scale;
  return 0;
}

std::optional<NumericValue> Fit(const NumericValue& n, int code) {
  if (code == 0) return n;
  if (code < 0) {
    auto m = ToMoney(n);
    if (!m) return std::nullopt;
    if (code == kSmallMoneyCode &&
        (m->units > kSmallMoneyMaxUnits || m->units < -kSmallMoneyMaxUnits - 1))
      return std::nullopt;
    return FromMoney(*m);
  }
  NumericValue r =
      RescaleNumeric(n, static_cast<uint8_t>(code / 100), static_cast<uint8_t>(code % 100));
  if (!FitsPrecision(r)) return std::nullopt;
  return r;
}

// ------------------------------------------------------------------------------------------
// SQL functions

namespace {

void Fail(sqlite3_context* ctx, int number, std::vector<std::string> args = {}) {
  std::string text = EncodeFunctionError(MakeMessage(number, std::move(args)));
  sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
}

int ScaleOf(int code, int fallback) {
  if (code < 0) return 4;
  if (code > 0) return code % 100;
  return fallback;
}

// An argument as an exact value: the storage form, an integer, a float or text. False (with the
// error set) when it does not convert; `value` stays empty for NULL.
bool Arg(sqlite3_context* ctx, sqlite3_value* v, std::optional<NumericValue>& value) {
  value.reset();
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL: return true;
    case SQLITE_INTEGER: value = NumericFromInt(sqlite3_value_int64(v), 38, 0); return true;
    case SQLITE_FLOAT:
      value = FromValue(sqlite3_value_double(v));
      if (!value) Fail(ctx, 3606);
      return value.has_value();
    case SQLITE_BLOB: {
      const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(v));
      value = p ? Decode(p, static_cast<size_t>(sqlite3_value_bytes(v))) : std::nullopt;
      if (!value) Fail(ctx, 257, {"VARBINARY", "NUMERIC"});
      return value.has_value();
    }
    default: {
      const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
      std::string text(t ? t : "");
      value = FromValue(text);
      if (!value) {
        if (text.size() > 64) text.resize(64);
        Fail(ctx, 249, {"implicit", "VARCHAR", text, "NUMERIC"});
      }
      return value.has_value();
    }
  }
}

void Result(sqlite3_context* ctx, const NumericValue& n) {
  Bytes b = Encode(n);
  sqlite3_result_blob64(ctx, b.data(), b.size(), SQLITE_TRANSIENT);
}

void ResultFitted(sqlite3_context* ctx, const NumericValue& n, int code) {
  auto r = Fit(n, code);
  if (!r) return Fail(ctx, 3606);
  Result(ctx, *r);
}

int IntArg(sqlite3_value* v) {
  return static_cast<int>(std::clamp<int64_t>(sqlite3_value_int64(v), -10000, 10000));
}

// syb_exact(x [, code]): x in the exact form, rounded and range-checked for `code`.
void FnExact(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::optional<NumericValue> v;
  if (!Arg(ctx, argv[0], v)) return;
  if (!v) return sqlite3_result_null(ctx);
  ResultFitted(ctx, *v, argc > 1 ? IntArg(argv[1]) : 0);
}

// syb_xfloat(x): x as a float, for comparisons and arithmetic that Sybase does in float.
void FnFloat(sqlite3_context* ctx, int, sqlite3_value** argv) {
  int type = sqlite3_value_type(argv[0]);
  if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) return sqlite3_result_value(ctx, argv[0]);
  std::optional<NumericValue> v;
  if (!Arg(ctx, argv[0], v)) return;
  if (!v) return sqlite3_result_null(ctx);
  sqlite3_result_double(ctx, NumericToDouble(*v));
}

// syb_xop(op, a, b, code): op 0 +, 1 -, 2 *, 3 /, 4 %; op | 8: errors give NULL (arithignore).
void FnOp(sqlite3_context* ctx, int, sqlite3_value** argv) {
  int op = IntArg(argv[0]);
  bool ignore = (op & 8) != 0;
  op &= 7;
  int code = IntArg(argv[3]);
  std::optional<NumericValue> a, b;
  if (!Arg(ctx, argv[1], a) || !Arg(ctx, argv[2], b)) return;
  if (!a || !b) return sqlite3_result_null(ctx);
  std::optional<NumericValue> r;
  switch (op) {
    case 0: r = Add(*a, *b); break;
    case 1: r = Subtract(*a, *b); break;
    case 2: r = Multiply(*a, *b); break;
    case 3:
      r = Divide(*a, *b, ScaleOf(code, std::max<int>(6, std::max(a->scale, b->scale))));
      break;
    default: r = Modulo(*a, *b); break;
  }
  if (!r) return ignore ? sqlite3_result_null(ctx) : Fail(ctx, 3607);
  auto fitted = Fit(*r, code);
  if (!fitted) return ignore ? sqlite3_result_null(ctx) : Fail(ctx, 3606);
  Result(ctx, *fitted);
}

void FnNeg(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::optional<NumericValue> v;
  if (!Arg(ctx, argv[0], v)) return;
  if (!v) return sqlite3_result_null(ctx);
  ResultFitted(ctx, Negate(*v), IntArg(argv[1]));
}

// syb_xround(x, n, code): rounds half away from zero at the n-th decimal (n < 0: left of the
// point); the result keeps the type of x.
void FnRound(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::optional<NumericValue> v;
  if (!Arg(ctx, argv[0], v)) return;
  if (!v || sqlite3_value_type(argv[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  int n = IntArg(argv[1]);
  NumericValue r = *v;
  if (n >= 0) {
    if (n < r.scale) r = RescaleNumeric(r, 38, static_cast<uint8_t>(n));
  } else if (-n > 76) {
    r = Make(false, "0", 0);
  } else {
    NumericValue unit = Make(false, Pow10(-n), 0);
    r = Multiply(*Divide(r, unit, 0), unit);
  }
  ResultFitted(ctx, r, IntArg(argv[2]));
}

void FnAbs(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::optional<NumericValue> v;
  if (!Arg(ctx, argv[0], v)) return;
  if (!v) return sqlite3_result_null(ctx);
  v->negative = false;
  ResultFitted(ctx, *v, IntArg(argv[1]));
}

void FnSign(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::optional<NumericValue> v;
  if (!Arg(ctx, argv[0], v)) return;
  if (!v) return sqlite3_result_null(ctx);
  Result(ctx, NumericFromInt(Sign(*v), 38, 0));
}

template <bool kUp>
void FnCeilFloor(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::optional<NumericValue> v;
  if (!Arg(ctx, argv[0], v)) return;
  if (!v) return sqlite3_result_null(ctx);
  std::string whole =
      v->digits.size() > v->scale ? v->digits.substr(0, v->digits.size() - v->scale) : "0";
  bool fraction = At(Make(false, whole, 0), v->scale) != v->digits;
  NumericValue r = Make(v->negative, whole, 0);
  if (fraction && kUp != v->negative) r = Add(r, NumericFromInt(kUp ? 1 : -1, 38, 0));
  ResultFitted(ctx, r, IntArg(argv[1]));
}

// Running sum and count of an aggregate; owned through the aggregate context's pointer.
struct Accumulator {
  NumericValue sum = Make(false, "0", 0);
  int64_t count = 0;
};

Accumulator** AccumulatorOf(sqlite3_context* ctx, bool create) {
  return static_cast<Accumulator**>(
      sqlite3_aggregate_context(ctx, create ? sizeof(Accumulator*) : 0));
}

void AggStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::optional<NumericValue> v;
  if (!Arg(ctx, argv[0], v) || !v) return;
  Accumulator** slot = AccumulatorOf(ctx, true);
  if (!slot) return sqlite3_result_error_nomem(ctx);
  if (!*slot) *slot = new Accumulator;
  (*slot)->sum = Add((*slot)->sum, *v);
  ++(*slot)->count;
}

template <bool kAverage>
void AggFinal(sqlite3_context* ctx) {
  Accumulator** slot = AccumulatorOf(ctx, false);
  std::unique_ptr<Accumulator> acc(slot ? *slot : nullptr);
  if (!acc || acc->count == 0) return sqlite3_result_null(ctx);
  if (!kAverage) return Result(ctx, acc->sum);
  // Extra digits here; the caller rounds to the result's scale.
  int scale = std::min(76, std::max<int>(6, acc->sum.scale) + 12);
  Result(ctx, *Divide(acc->sum, NumericFromInt(acc->count, 38, 0), scale));
}

}  // namespace

void RegisterFunctions(sqlite3* db) {
  struct Scalar {
    const char* name;
    int args;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
  };
  static const Scalar kScalars[] = {
      {"syb_exact", 1, FnExact},
      {"syb_exact", 2, FnExact},
      {"syb_xfloat", 1, FnFloat},
      {"syb_xop", 4, FnOp},
      {"syb_xneg", 2, FnNeg},
      {"syb_xround", 3, FnRound},
      {"syb_xabs", 2, FnAbs},
      {"syb_xsign", 1, FnSign},
      {"syb_xceiling", 2, FnCeilFloor<true>},
      {"syb_xfloor", 2, FnCeilFloor<false>},
  };
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  for (const auto& s : kScalars)
    sqlite3_create_function_v2(db, s.name, s.args, flags, nullptr, s.fn, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "syb_xsum", 1, flags, nullptr, nullptr, AggStep, AggFinal<false>,
                             nullptr);
  sqlite3_create_function_v2(db, "syb_xavg", 1, flags, nullptr, nullptr, AggStep, AggFinal<true>,
                             nullptr);
}

}  // namespace sampleserver::exact
