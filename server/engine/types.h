// Values, column descriptions and messages as the sample server's engine hands them to the
// protocol layer. Types are Sybase's; the protocol picks their wire encodings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace sampleserver {

enum class SqlType {
  TinyInt,
  SmallInt,
  Int,
  BigInt,
  Bit,
  Numeric,
  Decimal,
  Float,
  Real,
  Money,
  SmallMoney,
  DateTime,
  SmallDateTime,
  Char,
  VarChar,
  Text,
  Binary,
  VarBinary,
  Image,
  UnsignedSmallInt,
  UnsignedInt,
  UnsignedBigInt,
  Date,
  Time,  // DateTimeValue with no ticks / no days
};

struct ColumnInfo {
  std::string name;  // the label sent to the client (may be empty)
  SqlType type = SqlType::Int;
  int32_t length = 4;     // declared maximum bytes (char(n): n; text/image: 0x7FFFFFFF)
  uint8_t precision = 0;  // numeric/decimal
  uint8_t scale = 0;
  bool nullable = true;
  bool identity = false;
  bool timestamp = false;
  bool updatable = false;
  int32_t usertype = 0;  // systypes.usertype of the column's type (user types included)
  std::string table;     // source table for text/image columns, empty otherwise
};

// Exact decimal: value = digits (base 10, no sign, no leading zeros except "0") / 10^scale.
struct NumericValue {
  bool negative = false;
  std::string digits = "0";
  uint8_t precision = 18;
  uint8_t scale = 0;
};

// Days since 1900-01-01 (may be negative) and 1/300-second ticks since midnight.
struct DateTimeValue {
  int32_t days = 0;
  uint32_t ticks = 0;
};

// Money in 1/10000 units.
struct MoneyValue {
  int64_t units = 0;
};

using Bytes = std::vector<uint8_t>;

// One value of a row; std::monostate is NULL. Text (char, varchar, text) is UTF-8.
using Value = std::variant<std::monostate, int64_t, double, NumericValue, MoneyValue, DateTimeValue,
                           std::string, Bytes>;

inline bool IsNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// A server message as Sybase sends it (EED token).
struct ServerMessage {
  int32_t number = 0;
  uint8_t state = 1;
  uint8_t severity = 10;  // above 10: an error
  std::string text;
  std::string server;     // filled by the engine with its server name
  std::string procedure;  // empty outside procedures
  int32_t line = 1;
};

}  // namespace sampleserver
