// Sybase datatypes as the engine keeps them: a declared type with its length, precision and
// scale, its systypes numbers, and its SQLite storage class.
#pragma once

#include "engine/types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sampleserver {

struct TypeDesc {
  SqlType type = SqlType::Int;
  int32_t length = 4;     // syscolumns.length: bytes (char(n): n; text/image: 16)
  uint8_t precision = 0;  // numeric/decimal only
  uint8_t scale = 0;
  int32_t usertype = 7;  // systypes.usertype (a user type's own number when declared with one)

  bool IsString() const;   // char, varchar, text
  bool IsBinary() const;   // binary, varbinary, image
  bool IsInteger() const;  // tinyint .. bigint, bit
  bool IsExactNumeric() const;
  bool IsNumeric() const;  // every number, money included
  bool IsDateTime() const;
  bool IsLob() const;  // text, image
};

// A built-in type by its Transact-SQL name ("int", "varchar", "numeric", "sysname"...), with
// the declared arguments where the type takes them. Case-insensitive. None for an unknown name.
std::optional<TypeDesc> BuiltinType(std::string_view name, std::optional<int> arg1,
                                    std::optional<int> arg2);

// syscolumns.type / systypes.type: the physical type code; nullable fixed-length types use their
// "n" forms (intn, floatn, moneyn, datetimn, decimaln, numericn).
uint8_t PhysicalType(const TypeDesc& t, bool nullable);

// Back from a physical code and length (user types are stored this way in systypes).
std::optional<TypeDesc> FromPhysical(int type, int length, int precision, int scale, int usertype);

// The declaration SQLite gets for a column of this type.
std::string StorageDecl(const TypeDesc& t);

// The base type's name as sp_help prints it ("varchar", "numeric", "int"...).
std::string TypeName(const TypeDesc& t);

// The description the protocol gets for a column of this type.
ColumnInfo MakeColumnInfo(const std::string& name, const TypeDesc& t, bool nullable);

// Bytes a numeric of this precision occupies (sign byte included), as ASE stores it.
int NumericBytes(int precision);

// Text/image length as ColumnInfo carries it.
constexpr int32_t kLobLength = 0x7FFFFFFF;

}  // namespace sampleserver
