// Conversions of Values between Sybase datatypes, with Sybase's formats, rounding and errors,
// and the mapping between Values and their SQLite storage representation:
//   tinyint/smallint/int/bigint/bit  INTEGER (the unsigned ones too; unsigned bigint values
//                                    beyond 2^63-1 are NumericValue in the exact BLOB form, which
//                                    sorts after every INTEGER)
//   float/real                       REAL
//   numeric/decimal/money/smallmoney BLOB in the exact, order-preserving form of exact.h
//                                    (numeric shown with its column's scale, money with 4)
//   datetime/smalldatetime/date/time TEXT "YYYY-MM-DD HH:MM:SS.mmm" (a date at midnight, a
//                                    time on 1900-01-01: they compare with datetimes as Sybase
//                                    does)
//   char/varchar/text                TEXT (UTF-8)
//   binary/varbinary/image           BLOB
#pragma once

#include "datetime.h"
#include "types.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_context;
struct sqlite3_stmt;
struct sqlite3_value;

namespace sampleserver {

// A datatype with its length, precision and scale as a column or a convert() target has it.
struct TypeSpec {
  SqlType type = SqlType::Int;
  int32_t length = 4;     // bytes; char/varchar/binary/varbinary: n; text/image 0x7FFFFFFF
  uint8_t precision = 0;  // numeric/decimal
  uint8_t scale = 0;
};

TypeSpec TypeOf(const ColumnInfo& column);
// A TypeSpec with the type's default size: char/varchar/binary/varbinary 30 when `length` is
// not given (the length convert(varchar, x) uses), numeric(18,0), fixed lengths for the rest.
TypeSpec MakeType(SqlType type, std::optional<int32_t> length = std::nullopt,
                  std::optional<uint8_t> precision = std::nullopt,
                  std::optional<uint8_t> scale = std::nullopt);

// Base type names as written in Transact-SQL ("int", "varchar", "smalldatetime", "dec", "integer",
// "double precision", "nchar", "nvarchar", "sysname", "timestamp", ...), case-insensitive.
// sysname is varchar(30), timestamp varbinary(8), nchar/nvarchar and unichar/univarchar map to
// char/varchar, unitext to text; "unsigned int" and its systypes name "uint" are the same. None
// for unknown names (user types are the engine's business).
std::optional<SqlType> ParseTypeName(std::string_view name);
// The lower-case Sybase name ("varchar") and the upper-case name used in conversion messages
// ("VARCHAR").
std::string TypeName(SqlType type);
std::string TypeNameUpper(SqlType type);
// systypes.usertype of a base type (char 1, varchar 2, ..., image 20, bigint 43).
int32_t UserTypeOf(SqlType type);
bool IsCharType(SqlType type);          // char, varchar, text
bool IsBinaryType(SqlType type);        // binary, varbinary, image
bool IsIntegerType(SqlType type);       // tinyint, smallint, int, bigint, bit, the unsigned ones
bool IsUnsignedType(SqlType type);      // unsigned smallint, int, bigint
bool IsExactNumericType(SqlType type);  // numeric, decimal
bool IsMoneyType(SqlType type);
bool IsDateTimeType(SqlType type);
bool IsApproxType(SqlType type);     // float, real
bool IsNumericFamily(SqlType type);  // any of integer, exact, approximate, money

// The type a Value's alternative stands for when nothing else is known: int64 → int (bigint
// beyond int range), double → float, NumericValue → numeric, money → money, datetime →
// datetime, string → varchar, bytes → varbinary, NULL → int.
SqlType NaturalType(const Value& v);

// A conversion or arithmetic failure, carrying the Sybase message to send:
//   249  Syntax error during explicit/implicit conversion of TYPE value '...' to a TYPE field.
//   257  Implicit conversion from datatype 'X' to 'Y' is not allowed.
//   247  Arithmetic overflow during explicit/implicit conversion of TYPE value '...' to a TYPE
//   field. 529  Explicit conversion from datatype 'X' to 'Y' is not allowed. (datetime <-> numbers)
//   3606 Arithmetic overflow occurred.   3607 Divide by zero occurred.
class SqlError : public std::runtime_error {
 public:
  SqlError(int number, std::vector<std::string> args);
  int number() const { return number_; }
  const std::vector<std::string>& args() const { return args_; }
  ServerMessage message() const;  // MakeMessage(number, args)
 private:
  int number_;
  std::vector<std::string> args_;
};

struct ConvertOptions {
  int style = -1;               // convert()'s style; -1 = none given (default formats)
  bool implicit = false;        // implicit conversions refuse what Sybase refuses (257)
  std::optional<SqlType> from;  // the source's declared type; NaturalType(v) when absent
  DateFormat dateFormat = DateFormat::Mdy;
};

// Converts `v` to `to` with Sybase's rules; NULL stays NULL. Results are in the Value form of the
// target: integers int64 (range-checked for the target: tinyint 0..255, smallint, int, bigint;
// bit is 0/1 for any non-zero number), float/real double (real rounded to float precision),
// numeric NumericValue at the target precision/scale (rounded half away from zero),
// money MoneyValue (rounded to 1/10000; smallmoney range-checked), datetime DateTimeValue
// (smalldatetime rounded to the minute), char/varchar/text std::string (truncated to the length;
// char padded with blanks to the length), binary/varbinary/image Bytes (binary padded with zeros).
// Character ↔ binary copies the bytes as they are (convert(varbinary, 'AB') is 0x4142; hex text
// is read by strtobin/hextoint). Integers → binary give their big-endian bytes. Anything → char
// uses FormatValue. Throws SqlError.
Value Convert(const Value& v, const TypeSpec& to, const ConvertOptions& options = {});

// Fits a character or binary value to a column's declared length in bytes: cut at the length
// (never inside a UTF-8 character), then blank- (char) or zero- (binary) padded to it when
// `fixed` (a NOT NULL char/binary column), else with trailing blanks trimmed (varchar and
// nullable char store as varchar). `strict` (set string_rtruncation on) refuses, with
// kMsgStringTruncation, a character cut that would drop anything but blanks. Other values and
// NULL are returned unchanged.
Value FitToColumn(const Value& v, const TypeSpec& to, bool fixed, bool strict,
                  bool characters = false);
constexpr int kMsgStringTruncation = 9502;

// Whether `from` converts to `to` without convert() (assignment, comparison, insert). Character
// data converts implicitly to every type (it is how client text reaches typed columns); numbers,
// money and bit convert among each other; datetime converts to character; binary converts to
// integers and character. Refused, with 257: numbers or money to character, binary to
// float/numeric/money/datetime, datetime to binary. Convert() with implicit=true applies this.
bool ImplicitAllowed(SqlType from, SqlType to);

// The text Sybase gives a value of type `type` converted to char: integers in decimal; float as
// Sybase prints it (up to 17 significant digits, shortest form that reads back, exponent for very
// large or small values); real to 7 digits; numeric with exactly its scale; money and smallmoney
// with 2 decimals rounded ("12.50") — styles 1 and 2 add thousands commas / 4 decimals;
// datetime in FormatDateTime(style) (smalldatetime the same); binary as its bytes; char
// unchanged. A double under a numeric type is shown with `scale` decimals.
std::string FormatValue(const Value& v, SqlType type, int style = -1, uint8_t scale = 0);

// Float text as Sybase shows it.
std::string FormatFloat(double d, bool real = false);

// Exact decimals.
// Parses "[+-]digits[.digits]" (blanks around allowed, also "1e3" forms via double), rounding
// half away from zero to `scale`; none on a syntax error. Overflow is the caller's to check
// (FitsPrecision).
std::optional<NumericValue> ParseNumeric(std::string_view text, uint8_t precision, uint8_t scale);
NumericValue NumericFromInt(int64_t v, uint8_t precision = 19, uint8_t scale = 0);
NumericValue NumericFromDouble(double d, uint8_t precision, uint8_t scale);
double NumericToDouble(const NumericValue& n);
// Rescales (rounding half away from zero) and sets the precision; does not check the fit.
NumericValue RescaleNumeric(const NumericValue& n, uint8_t precision, uint8_t scale);
bool FitsPrecision(const NumericValue& n);         // integer digits <= precision - scale
std::string FormatNumeric(const NumericValue& n);  // "-12.340" with exactly n.scale decimals
// -1, 0, 1.
int CompareNumeric(const NumericValue& a, const NumericValue& b);

// Money in 1/10000 units.
MoneyValue MoneyFromDouble(double units);  // rounds to 4 decimals; no range check
double MoneyToDouble(MoneyValue m);
std::optional<MoneyValue> ParseMoney(std::string_view text);  // "12.5", "$12.50", "-1,234.5"
std::string FormatMoney(MoneyValue m, int style = 0);  // 0: "1234.50" 1: "1,234.50" 2: "1234.5000"
constexpr int64_t kSmallMoneyMaxUnits = 2147483647LL;  // ±214,748.3647

// Hex.
std::string BytesToHex(const Bytes& b, bool upper = false);
std::optional<Bytes> HexToBytes(std::string_view text);  // with or without 0x; odd length padded

// SQLite storage.
// Reads a stored value back as the column's type: INTEGER/REAL/TEXT/BLOB to the Value form of
// `column.type` (the exact form → NumericValue with the column's precision/scale or MoneyValue;
// TEXT → DateTimeValue for datetime columns; char(n) padded to n). A stored value of another
// storage class is converted as Sybase would (e.g. TEXT '12' in an int column reads as 12), and
// one that does not convert reads as NULL rather than failing the row.
Value FromStorage(sqlite3_value* stored, const ColumnInfo& column);
Value FromStorage(sqlite3_stmt* statement, int columnIndex, const ColumnInfo& column);
// Binds `v` (already of type `type`, or convertible to it: Convert is applied first with
// implicit rules) in its storage representation. Varchar trailing blanks are trimmed, money
// rounded to 4 decimals, smalldatetime to the minute. Throws SqlError when it does not convert.
void BindStorage(sqlite3_stmt* statement, int index, const Value& v, SqlType type);
// Sets a function's result to `v` in the storage representation of `type`.
void ResultStorage(sqlite3_context* context, const Value& v, SqlType type);
// The Value a function argument holds in storage, read without knowing its declared type:
// INTEGER → int64, REAL → double, TEXT → string, BLOB → Bytes, NULL → monostate.
Value RawFromStorage(sqlite3_value* stored);

// Collation SYB: byte-wise compare that ignores trailing blanks (Sybase's binary sort order), so
// 'ab' = 'ab  ' and 'ab' < 'abc'. Returns <0, 0, >0.
int CompareSyb(std::string_view a, std::string_view b);
// Registers the collation "SYB" on a connection (RegisterBuiltins does it too).
void RegisterSybCollation(sqlite3* db);

}  // namespace sampleserver
