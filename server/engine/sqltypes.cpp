#include "engine/sqltypes.h"

#include "engine/values.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace sampleserver {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

TypeDesc Make(SqlType type, int32_t length, int32_t usertype, uint8_t prec = 0, uint8_t scale = 0) {
  TypeDesc t;
  t.type = type;
  t.length = length;
  t.usertype = usertype;
  t.precision = prec;
  t.scale = scale;
  return t;
}

}  // namespace

bool TypeDesc::IsString() const {
  return type == SqlType::Char || type == SqlType::VarChar || type == SqlType::Text;
}
bool TypeDesc::IsBinary() const {
  return type == SqlType::Binary || type == SqlType::VarBinary || type == SqlType::Image;
}
bool TypeDesc::IsInteger() const {
  return type == SqlType::TinyInt || type == SqlType::SmallInt || type == SqlType::Int ||
         type == SqlType::BigInt || type == SqlType::Bit || IsUnsignedType(type);
}
bool TypeDesc::IsExactNumeric() const {
  return type == SqlType::Numeric || type == SqlType::Decimal;
}
bool TypeDesc::IsNumeric() const {
  return IsInteger() || IsExactNumeric() || type == SqlType::Float || type == SqlType::Real ||
         type == SqlType::Money || type == SqlType::SmallMoney;
}
bool TypeDesc::IsDateTime() const {
  return type == SqlType::DateTime || type == SqlType::SmallDateTime || type == SqlType::Date ||
         type == SqlType::Time;
}
bool TypeDesc::IsLob() const { return type == SqlType::Text || type == SqlType::Image; }

int NumericBytes(int precision) {
  static constexpr std::array<int, 38> kBytes = {2,  2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  6,  7,
                                                 7,  8,  8,  9,  9,  9,  10, 10, 11, 11, 11, 12, 12,
                                                 13, 13, 14, 14, 14, 15, 15, 16, 16, 16, 17, 17};
  precision = std::clamp(precision, 1, 38);
  return kBytes[static_cast<size_t>(precision - 1)];
}

std::optional<TypeDesc> BuiltinType(std::string_view rawName, std::optional<int> a1,
                                    std::optional<int> a2) {
  std::string n = Lower(rawName);
  auto len = [&](int def) { return std::clamp(a1.value_or(def), 1, 16384); };
  if (n == "char" || n == "character") return Make(SqlType::Char, len(1), 1);
  if (n == "varchar") return Make(SqlType::VarChar, len(1), 2);
  if (n == "nchar") return Make(SqlType::Char, len(1), 24);
  if (n == "nvarchar") return Make(SqlType::VarChar, len(1), 25);
  if (n == "sysname") return Make(SqlType::VarChar, 30, 18);
  if (n == "longsysname") return Make(SqlType::VarChar, 255, 42);
  if (n == "binary") return Make(SqlType::Binary, len(1), 3);
  if (n == "varbinary") return Make(SqlType::VarBinary, len(1), 4);
  if (n == "timestamp") return Make(SqlType::VarBinary, 8, 80);
  if (n == "tinyint") return Make(SqlType::TinyInt, 1, 5);
  if (n == "smallint") return Make(SqlType::SmallInt, 2, 6);
  if (n == "int" || n == "integer") return Make(SqlType::Int, 4, 7);
  if (n == "bigint") return Make(SqlType::BigInt, 8, 43);
  if (n == "unsigned smallint" || n == "usmallint") return Make(SqlType::UnsignedSmallInt, 2, 44);
  if (n == "unsigned int" || n == "unsigned integer" || n == "uint")
    return Make(SqlType::UnsignedInt, 4, 45);
  if (n == "unsigned bigint" || n == "ubigint") return Make(SqlType::UnsignedBigInt, 8, 46);
  if (n == "date") return Make(SqlType::Date, 4, 37);
  if (n == "time") return Make(SqlType::Time, 4, 38);
  // Unicode character types are char/varchar/text to the engine (text is UTF-8 throughout);
  // their usertype picks the UTF-16 wire form and the catalog type.
  if (n == "unichar") return Make(SqlType::Char, len(1), 34);
  if (n == "univarchar") return Make(SqlType::VarChar, len(1), 35);
  if (n == "unitext") return Make(SqlType::Text, 16, 36);
  if (n == "bit") return Make(SqlType::Bit, 1, 16);
  if (n == "float") {
    // float(p) with a small precision is stored as real, as Sybase does.
    if (a1 && *a1 < 16) return Make(SqlType::Real, 4, 23);
    return Make(SqlType::Float, 8, 8);
  }
  if (n == "double precision" || n == "double") return Make(SqlType::Float, 8, 8);
  if (n == "real") return Make(SqlType::Real, 4, 23);
  if (n == "numeric" || n == "decimal" || n == "dec") {
    int p = std::clamp(a1.value_or(18), 1, 38);
    int s = std::clamp(a2.value_or(0), 0, p);
    bool dec = n != "numeric";
    return Make(dec ? SqlType::Decimal : SqlType::Numeric, NumericBytes(p), dec ? 26 : 10,
                static_cast<uint8_t>(p), static_cast<uint8_t>(s));
  }
  if (n == "money") return Make(SqlType::Money, 8, 11);
  if (n == "smallmoney") return Make(SqlType::SmallMoney, 4, 21);
  if (n == "datetime") return Make(SqlType::DateTime, 8, 12);
  if (n == "smalldatetime") return Make(SqlType::SmallDateTime, 4, 22);
  if (n == "text") return Make(SqlType::Text, 16, 19);
  if (n == "image") return Make(SqlType::Image, 16, 20);
  return std::nullopt;
}

uint8_t PhysicalType(const TypeDesc& t, bool nullable) {
  if (t.usertype == 34) return 135;
  if (t.usertype == 35) return 155;
  if (t.usertype == 36) return 174;
  switch (t.type) {
    case SqlType::TinyInt: return nullable ? 38 : 48;
    case SqlType::SmallInt: return nullable ? 38 : 52;
    case SqlType::Int: return nullable ? 38 : 56;
    case SqlType::BigInt: return nullable ? 38 : 191;
    case SqlType::Bit: return 50;
    case SqlType::Numeric: return nullable ? 108 : 63;
    case SqlType::Decimal: return nullable ? 106 : 55;
    case SqlType::Float: return nullable ? 109 : 62;
    case SqlType::Real: return nullable ? 109 : 59;
    case SqlType::Money: return nullable ? 110 : 60;
    case SqlType::SmallMoney: return nullable ? 110 : 122;
    case SqlType::DateTime: return nullable ? 111 : 61;
    case SqlType::SmallDateTime: return nullable ? 111 : 58;
    case SqlType::Char: return 47;
    case SqlType::VarChar: return 39;
    case SqlType::Text: return 35;
    case SqlType::Binary: return 45;
    case SqlType::VarBinary: return 37;
    case SqlType::Image: return 34;
    case SqlType::UnsignedSmallInt: return nullable ? 68 : 65;
    case SqlType::UnsignedInt: return nullable ? 68 : 66;
    case SqlType::UnsignedBigInt: return nullable ? 68 : 67;
    case SqlType::Date: return nullable ? 123 : 49;
    case SqlType::Time: return nullable ? 147 : 51;
  }
  return 56;
}

std::optional<TypeDesc> FromPhysical(int type, int length, int precision, int scale, int usertype) {
  TypeDesc t;
  auto p8 = static_cast<uint8_t>(std::clamp(precision, 0, 38));
  auto s8 = static_cast<uint8_t>(std::clamp(scale, 0, 38));
  switch (type) {
    case 48: t = Make(SqlType::TinyInt, 1, 5); break;
    case 52: t = Make(SqlType::SmallInt, 2, 6); break;
    case 56: t = Make(SqlType::Int, 4, 7); break;
    case 191: t = Make(SqlType::BigInt, 8, 43); break;
    case 38:
      t = length == 1   ? Make(SqlType::TinyInt, 1, 5)
          : length == 2 ? Make(SqlType::SmallInt, 2, 6)
          : length == 8 ? Make(SqlType::BigInt, 8, 43)
                        : Make(SqlType::Int, 4, 7);
      break;
    case 50: t = Make(SqlType::Bit, 1, 16); break;
    case 63:
    case 108: t = Make(SqlType::Numeric, length, 10, p8, s8); break;
    case 55:
    case 106: t = Make(SqlType::Decimal, length, 26, p8, s8); break;
    case 62: t = Make(SqlType::Float, 8, 8); break;
    case 59: t = Make(SqlType::Real, 4, 23); break;
    case 109: t = length == 4 ? Make(SqlType::Real, 4, 23) : Make(SqlType::Float, 8, 8); break;
    case 60: t = Make(SqlType::Money, 8, 11); break;
    case 122: t = Make(SqlType::SmallMoney, 4, 21); break;
    case 110:
      t = length == 4 ? Make(SqlType::SmallMoney, 4, 21) : Make(SqlType::Money, 8, 11);
      break;
    case 61: t = Make(SqlType::DateTime, 8, 12); break;
    case 58: t = Make(SqlType::SmallDateTime, 4, 22); break;
    case 111:
      t = length == 4 ? Make(SqlType::SmallDateTime, 4, 22) : Make(SqlType::DateTime, 8, 12);
      break;
    case 47: t = Make(SqlType::Char, length, 1); break;
    case 39: t = Make(SqlType::VarChar, length, 2); break;
    case 35: t = Make(SqlType::Text, 16, 19); break;
    case 45: t = Make(SqlType::Binary, length, 3); break;
    case 37: t = Make(SqlType::VarBinary, length, 4); break;
    case 34: t = Make(SqlType::Image, 16, 20); break;
    case 65: t = Make(SqlType::UnsignedSmallInt, 2, 44); break;
    case 66: t = Make(SqlType::UnsignedInt, 4, 45); break;
    case 67: t = Make(SqlType::UnsignedBigInt, 8, 46); break;
    case 68:
      t = length == 2   ? Make(SqlType::UnsignedSmallInt, 2, 44)
          : length == 8 ? Make(SqlType::UnsignedBigInt, 8, 46)
                        : Make(SqlType::UnsignedInt, 4, 45);
      break;
    case 49:
    case 123: t = Make(SqlType::Date, 4, 37); break;
    case 51:
    case 147: t = Make(SqlType::Time, 4, 38); break;
    case 135: t = Make(SqlType::Char, std::max(1, length / 2), 34); break;
    case 155: t = Make(SqlType::VarChar, std::max(1, length / 2), 35); break;
    case 174: t = Make(SqlType::Text, 16, 36); break;
    default: return std::nullopt;
  }
  if (usertype > 0) t.usertype = usertype;
  return t;
}

std::string StorageDecl(const TypeDesc& t) {
  if (t.IsInteger()) return "INTEGER";
  // Exact types hold the order-preserving form of engine/exact.h; no affinity touches it.
  if (t.IsExactNumeric() || t.type == SqlType::Money || t.type == SqlType::SmallMoney)
    return "BLOB";
  if (t.IsNumeric()) return "REAL";
  if (t.IsBinary()) return "BLOB";
  // Datetimes are text too: the fixed layout sorts correctly.
  return "TEXT COLLATE SYB";
}

std::string TypeName(const TypeDesc& t) {
  if (t.usertype == 34) return "unichar";
  if (t.usertype == 35) return "univarchar";
  if (t.usertype == 36) return "unitext";
  return TypeName(t.type);
}

ColumnInfo MakeColumnInfo(const std::string& name, const TypeDesc& t, bool nullable) {
  ColumnInfo c;
  c.name = name;
  c.type = t.type;
  c.length = t.IsLob() ? kLobLength : t.length;
  c.precision = t.precision;
  c.scale = t.scale;
  c.nullable = nullable && t.type != SqlType::Bit;
  c.usertype = t.usertype;
  c.timestamp = t.usertype == 80;
  return c;
}

}  // namespace sampleserver
