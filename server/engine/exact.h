// Exact decimal arithmetic for numeric, decimal, money and smallmoney, and the storage form
// they share in SQLite: a BLOB whose byte order is the numeric order, so comparisons, ORDER BY,
// GROUP BY, DISTINCT and indexes work on the stored bytes. The form is canonical (1.5 and 1.50
// store the same bytes, whatever the column's scale), so values of any exact type and scale
// compare directly; the column's type gives the scale back when the value is read.
//
// Layout: 0x80 is zero. Otherwise a sign byte (0x81 positive, 0x7F negative), an exponent byte
// and the significant digits two to a byte (value = 0.d1d2... * 10^exponent, no trailing zeros).
// Negative values store the exponent and the digit pairs complemented, and end in 0xFF so that a
// longer negative mantissa sorts first.
#pragma once

#include "types.h"

#include <cstdint>
#include <optional>
#include <string_view>

struct sqlite3;

namespace sampleserver::exact {

// The working form is NumericValue; its precision is not looked at here.
Bytes Encode(const NumericValue& n);
std::optional<NumericValue> Decode(const uint8_t* data, size_t size);
inline std::optional<NumericValue> Decode(const Bytes& b) { return Decode(b.data(), b.size()); }

NumericValue FromMoney(MoneyValue m);
// The exact value of a number in any Value form: integers, floats (the digits they show),
// NumericValue, MoneyValue and numeric text; none for anything else.
std::optional<NumericValue> FromValue(const Value& v);
// None when the value is beyond money's range (after rounding to 1/10000).
std::optional<MoneyValue> ToMoney(const NumericValue& n);

NumericValue Add(const NumericValue& a, const NumericValue& b);
NumericValue Subtract(const NumericValue& a, const NumericValue& b);
NumericValue Multiply(const NumericValue& a, const NumericValue& b);
// a / b rounded half away from zero to `scale` decimals; none when b is zero.
std::optional<NumericValue> Divide(const NumericValue& a, const NumericValue& b, int scale);
// The remainder with the sign of a (truncating division); none when b is zero.
std::optional<NumericValue> Modulo(const NumericValue& a, const NumericValue& b);
NumericValue Negate(const NumericValue& n);
int Sign(const NumericValue& n);  // -1, 0, 1

// Result types of the SQL functions below, as one integer argument: numeric(p,s) is
// p * 100 + s, money -1, smallmoney -2, 0 for no check.
constexpr int kMoneyCode = -1;
constexpr int kSmallMoneyCode = -2;
int TypeCode(SqlType type, int precision, int scale);
// Rounds `n` to the scale of `code` and checks its range; none on overflow.
std::optional<NumericValue> Fit(const NumericValue& n, int code);

// Registers syb_exact, syb_xfloat, syb_xop, syb_xneg, syb_xround, syb_xabs, syb_xsign,
// syb_xceiling, syb_xfloor and the aggregates syb_xsum and syb_xavg.
void RegisterFunctions(sqlite3* db);

}  // namespace sampleserver::exact
