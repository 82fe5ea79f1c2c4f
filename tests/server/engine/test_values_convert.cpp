// Conversions between datatypes, their formats and errors, exact decimals and money, and the
// SQLite storage mapping with the SYB collation.
#include "engine/messages.h"
#include "engine/values.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>

namespace sampleserver {
namespace {

Value Conv(const Value& v, SqlType to, ConvertOptions o = {}, std::optional<int32_t> len = {},
           std::optional<uint8_t> p = {}, std::optional<uint8_t> s = {}) {
  return Convert(v, MakeType(to, len, p, s), o);
}

std::string AsText(const Value& v, SqlType to = SqlType::VarChar, int style = -1,
                   std::optional<SqlType> from = {}) {
  ConvertOptions o;
  o.style = style;
  o.from = from;
  Value r = Convert(v, MakeType(to, 255), o);
  return std::get<std::string>(r);
}

int ErrorOf(const Value& v, SqlType to, ConvertOptions o = {}, std::optional<int32_t> len = {},
            std::optional<uint8_t> p = {}, std::optional<uint8_t> s = {}) {
  try {
    Convert(v, MakeType(to, len, p, s), o);
  } catch (const SqlError& e) {
    return e.number();
  }
  return 0;
}

DateTimeValue Dt(const char* s) { return ParseDateTime(s).value(); }

TEST(ValuesConvert, CharToNumbers) {
  EXPECT_EQ(std::get<int64_t>(Conv(std::string(" 42 "), SqlType::Int)), 42);
  EXPECT_EQ(std::get<int64_t>(Conv(std::string("-7"), SqlType::SmallInt)), -7);
  EXPECT_EQ(std::get<int64_t>(Conv(std::string(""), SqlType::Int)), 0);
  EXPECT_EQ(ErrorOf(std::string("1.5"), SqlType::Int), 249);
  EXPECT_EQ(ErrorOf(std::string("abc"), SqlType::Int), 249);
  EXPECT_EQ(ErrorOf(std::string("3000000000"), SqlType::Int), 247);
  EXPECT_EQ(ErrorOf(std::string("256"), SqlType::TinyInt), 247);
  EXPECT_EQ(ErrorOf(std::string("-1"), SqlType::TinyInt), 247);
  EXPECT_EQ(std::get<int64_t>(Conv(std::string("3000000000"), SqlType::BigInt)), 3000000000LL);
  EXPECT_DOUBLE_EQ(std::get<double>(Conv(std::string("1.5e3"), SqlType::Float)), 1500.0);
  EXPECT_EQ(ErrorOf(std::string("0x10"), SqlType::Float), 249);
  EXPECT_EQ(ErrorOf(std::string("inf"), SqlType::Float), 249);
  auto n = std::get<NumericValue>(Conv(std::string("12.345"), SqlType::Numeric, {}, {}, 5, 2));
  EXPECT_EQ(FormatNumeric(n), "12.35");
  EXPECT_EQ(ErrorOf(std::string("1234.5"), SqlType::Numeric, {}, {}, 5, 2), 247);
  EXPECT_EQ(std::get<MoneyValue>(Conv(std::string("$1,234.56"), SqlType::Money)).units, 12345600);
  EXPECT_EQ(ErrorOf(std::string("300000"), SqlType::SmallMoney), 247);
  EXPECT_EQ(ErrorOf(std::string("12x"), SqlType::Money), 249);
}

TEST(ValuesConvert, ErrorMessagesNameTypesAndValue) {
  try {
    ConvertOptions o;
    Convert(std::string("notadate"), MakeType(SqlType::DateTime), o);
    FAIL() << "no error";
  } catch (const SqlError& e) {
    EXPECT_EQ(e.number(), 249);
    EXPECT_EQ(e.message().text,
              "Syntax error during explicit conversion of VARCHAR value 'notadate' to a DATETIME "
              "field.");
    EXPECT_EQ(e.message().severity, 16);
  }
  try {
    ConvertOptions o;
    o.implicit = true;
    Convert(int64_t{300}, MakeType(SqlType::TinyInt), o);
    FAIL() << "no error";
  } catch (const SqlError& e) {
    EXPECT_EQ(e.message().text,
              "Arithmetic overflow during implicit conversion of INT value '300' to a TINYINT "
              "field .");
  }
}

TEST(ValuesConvert, NumbersBetweenEachOther) {
  EXPECT_EQ(std::get<int64_t>(Conv(2.7, SqlType::Int)), 2);  // truncates
  EXPECT_EQ(std::get<int64_t>(Conv(-2.7, SqlType::Int)), -2);
  EXPECT_EQ(ErrorOf(1e10, SqlType::Int), 247);
  EXPECT_EQ(ErrorOf(int64_t{40000}, SqlType::SmallInt), 247);
  EXPECT_EQ(std::get<int64_t>(Conv(int64_t{5}, SqlType::Bit)), 1);
  EXPECT_EQ(std::get<int64_t>(Conv(0.0, SqlType::Bit)), 0);
  EXPECT_EQ(std::get<int64_t>(Conv(MoneyValue{129999}, SqlType::Int)), 12);
  EXPECT_EQ(std::get<MoneyValue>(Conv(int64_t{12}, SqlType::Money)).units, 120000);
  EXPECT_EQ(std::get<MoneyValue>(Conv(2.675, SqlType::Money)).units, 26750);
  EXPECT_EQ(ErrorOf(1e20, SqlType::Money), 247);
  EXPECT_EQ(FormatNumeric(std::get<NumericValue>(Conv(2.675, SqlType::Numeric, {}, {}, 10, 2))),
            "2.68");
  EXPECT_EQ(FormatNumeric(std::get<NumericValue>(Conv(-2.5, SqlType::Numeric, {}, {}, 10, 0))),
            "-3");
  EXPECT_EQ(FormatNumeric(
                std::get<NumericValue>(Conv(MoneyValue{-123456}, SqlType::Numeric, {}, {}, 10, 2))),
            "-12.35");
  EXPECT_EQ(ErrorOf(int64_t{100000}, SqlType::Numeric, {}, {}, 5, 1), 247);
  EXPECT_DOUBLE_EQ(std::get<double>(Conv(MoneyValue{125000}, SqlType::Float)), 12.5);
  // real keeps float precision.
  EXPECT_EQ(std::get<double>(Conv(0.1, SqlType::Real)), static_cast<double>(0.1f));
  EXPECT_EQ(ErrorOf(1e300, SqlType::Real), 247);
}

TEST(ValuesConvert, AnythingToCharUsesSybaseFormats) {
  EXPECT_EQ(AsText(int64_t{-42}), "-42");
  EXPECT_EQ(AsText(12.5), "12.5");
  EXPECT_EQ(AsText(0.1), "0.1");
  EXPECT_EQ(AsText(1e20), "1e+20");
  EXPECT_EQ(AsText(MoneyValue{125000}), "12.50");
  EXPECT_EQ(AsText(MoneyValue{125050}), "12.51");  // 12.505 rounds half away from zero
  EXPECT_EQ(AsText(MoneyValue{-125050}), "-12.51");
  EXPECT_EQ(AsText(MoneyValue{12345678900}, SqlType::VarChar, 1), "1,234,567.89");
  EXPECT_EQ(AsText(MoneyValue{125000}, SqlType::VarChar, 2), "12.5000");
  EXPECT_EQ(AsText(NumericValue{true, "1230", 10, 3}), "-1.230");
  EXPECT_EQ(AsText(NumericValue{false, "5", 10, 3}), "0.005");
  EXPECT_EQ(AsText(Dt("Dec 29 1999")), "Dec 29 1999 12:00AM");
  EXPECT_EQ(AsText(Dt("Dec 29 1999"), SqlType::VarChar, 101), "12/29/1999");
  EXPECT_EQ(AsText(Bytes{0x41, 0x42}), "AB");
  // Stored forms: a REAL declared money, a TEXT declared datetime.
  EXPECT_EQ(AsText(12.5, SqlType::VarChar, -1, SqlType::Money), "12.50");
  EXPECT_EQ(AsText(std::string("1999-12-29 00:00:00.000"), SqlType::VarChar, 3, SqlType::DateTime),
            "29/12/99");
}

TEST(ValuesConvert, CharLengthsTruncateAndPad) {
  EXPECT_EQ(std::get<std::string>(Conv(std::string("abcdef"), SqlType::VarChar, {}, 3)), "abc");
  EXPECT_EQ(std::get<std::string>(Conv(std::string("ab"), SqlType::Char, {}, 5)), "ab   ");
  // Truncation never splits a UTF-8 character.
  EXPECT_EQ(std::get<std::string>(Conv(std::string("a\xC3\xA9"), SqlType::VarChar, {}, 2)), "a");
  // convert(varchar, x) without a length is varchar(30).
  EXPECT_EQ(MakeType(SqlType::VarChar).length, 30);
  EXPECT_EQ(std::get<std::string>(Convert(std::string(40, 'x'), MakeType(SqlType::VarChar))).size(),
            30u);
}

TEST(ValuesConvert, BinaryConversions) {
  EXPECT_EQ(std::get<Bytes>(Conv(std::string("AB"), SqlType::VarBinary)), (Bytes{0x41, 0x42}));
  EXPECT_EQ(std::get<Bytes>(Conv(Bytes{1}, SqlType::Binary, {}, 3)), (Bytes{1, 0, 0}));
  EXPECT_EQ(
      std::get<Bytes>(Conv(int64_t{256}, SqlType::VarBinary, ConvertOptions{.from = SqlType::Int})),
      (Bytes{0, 0, 1, 0}));
  EXPECT_EQ(std::get<int64_t>(Conv(Bytes{0, 0, 1, 0}, SqlType::Int)), 256);
  EXPECT_EQ(std::get<int64_t>(Conv(Bytes{0xFF, 0xFF, 0xFF, 0xFF}, SqlType::Int)), -1);
  EXPECT_EQ(ErrorOf(Bytes{1}, SqlType::Float), 529);
  EXPECT_EQ(BytesToHex(Bytes{0x0A, 0xFF}), "0aff");
  EXPECT_EQ(BytesToHex(Bytes{0x0A, 0xFF}, true), "0AFF");
  EXPECT_EQ(HexToBytes("0x1A4"), (Bytes{0x01, 0xA4}));
  EXPECT_FALSE(HexToBytes("0xZZ").has_value());
}

TEST(ValuesConvert, DateTimeConversions) {
  auto d =
      std::get<DateTimeValue>(Conv(std::string("Dec 29 1999 10:20:30:123"), SqlType::DateTime));
  EXPECT_EQ(DateTimeToStorage(d), "1999-12-29 10:20:30.123");
  auto sd = std::get<DateTimeValue>(Conv(d, SqlType::SmallDateTime));
  EXPECT_EQ(DateTimeToStorage(sd), "1999-12-29 10:21:00.000");
  EXPECT_EQ(ErrorOf(std::string("Jan 1 2100"), SqlType::SmallDateTime), 247);
  EXPECT_EQ(ErrorOf(int64_t{1}, SqlType::DateTime), 529);
  EXPECT_EQ(ErrorOf(d, SqlType::Int), 529);
  ConvertOptions dmy;
  dmy.dateFormat = DateFormat::Dmy;
  EXPECT_EQ(DateTimeToStorage(
                std::get<DateTimeValue>(Conv(std::string("29/12/1999"), SqlType::DateTime, dmy))),
            "1999-12-29 00:00:00.000");
}

TEST(ValuesConvert, ImplicitRules) {
  ConvertOptions o;
  o.implicit = true;
  EXPECT_EQ(ErrorOf(int64_t{5}, SqlType::VarChar, o), 257);
  EXPECT_EQ(ErrorOf(MoneyValue{1}, SqlType::Char, o), 257);
  EXPECT_EQ(ErrorOf(Dt("Dec 29 1999"), SqlType::VarBinary, o), 257);
  EXPECT_EQ(ErrorOf(std::string("12"), SqlType::Int, o), 0);
  EXPECT_EQ(ErrorOf(Dt("Dec 29 1999"), SqlType::VarChar, o), 0);
  EXPECT_TRUE(ImplicitAllowed(SqlType::Int, SqlType::Money));
  EXPECT_TRUE(ImplicitAllowed(SqlType::Binary, SqlType::Int));
  EXPECT_FALSE(ImplicitAllowed(SqlType::Binary, SqlType::Float));
  try {
    Convert(int64_t{5}, MakeType(SqlType::VarChar), o);
  } catch (const SqlError& e) {
    EXPECT_EQ(e.message().text,
              "Implicit conversion from datatype 'INT' to 'VARCHAR' is not allowed.  Use the "
              "CONVERT function to run this query.");
  }
  EXPECT_TRUE(IsNull(Convert(Value{}, MakeType(SqlType::Int), o)));
}

TEST(ValuesConvert, TypeNames) {
  EXPECT_EQ(ParseTypeName("VarChar"), SqlType::VarChar);
  EXPECT_EQ(ParseTypeName("double   precision"), SqlType::Float);
  EXPECT_EQ(ParseTypeName("sysname"), SqlType::VarChar);
  EXPECT_EQ(ParseTypeName("dec"), SqlType::Decimal);
  EXPECT_FALSE(ParseTypeName("tid").has_value());
  EXPECT_EQ(TypeNameUpper(SqlType::SmallDateTime), "SMALLDATETIME");
  EXPECT_EQ(UserTypeOf(SqlType::VarChar), 2);
  EXPECT_EQ(UserTypeOf(SqlType::Image), 20);
  EXPECT_EQ(NaturalType(int64_t{1} << 40), SqlType::BigInt);
  EXPECT_EQ(MakeType(SqlType::Numeric).precision, 18);
}

TEST(ValuesNumeric, ParseRoundCompare) {
  auto p = [](const char* s, uint8_t prec, uint8_t sc) {
    auto n = ParseNumeric(s, prec, sc);
    return n ? FormatNumeric(*n) : std::string("<none>");
  };
  EXPECT_EQ(p("12.345", 10, 2), "12.35");
  EXPECT_EQ(p("-12.344", 10, 2), "-12.34");
  EXPECT_EQ(p("-0.001", 10, 2), "0.00");  // no negative zero
  EXPECT_EQ(p("9.995", 10, 2), "10.00");
  EXPECT_EQ(p(".5", 10, 0), "1");
  EXPECT_EQ(p("+7", 10, 1), "7.0");
  EXPECT_EQ(p("1e2", 10, 1), "100.0");
  EXPECT_EQ(p("1.2.3", 10, 1), "<none>");
  EXPECT_EQ(p("", 10, 1), "<none>");
  EXPECT_EQ(p("-", 10, 1), "<none>");
  EXPECT_TRUE(FitsPrecision(*ParseNumeric("999.99", 5, 2)));
  EXPECT_FALSE(FitsPrecision(*ParseNumeric("1000.00", 5, 2)));
  EXPECT_EQ(CompareNumeric(*ParseNumeric("1.50", 5, 2), *ParseNumeric("1.5", 5, 1)), 0);
  EXPECT_EQ(CompareNumeric(*ParseNumeric("-2", 5, 0), *ParseNumeric("1", 5, 0)), -1);
  EXPECT_EQ(CompareNumeric(*ParseNumeric("-2", 5, 0), *ParseNumeric("-10", 5, 0)), 1);
  EXPECT_EQ(FormatNumeric(RescaleNumeric(*ParseNumeric("1.25", 5, 2), 5, 1)), "1.3");
  EXPECT_EQ(FormatNumeric(NumericFromInt(-5, 10, 2)), "-5.00");
  EXPECT_DOUBLE_EQ(NumericToDouble(*ParseNumeric("-12.25", 5, 2)), -12.25);
}

TEST(ValuesNumeric, MoneyParseAndFormat) {
  EXPECT_EQ(ParseMoney("12.5")->units, 125000);
  EXPECT_EQ(ParseMoney("-$1,000")->units, -10000000);
  EXPECT_EQ(ParseMoney("0.00005")->units, 1);  // rounded to 1/10000
  EXPECT_FALSE(ParseMoney("abc").has_value());
  EXPECT_FALSE(ParseMoney("99999999999999999999").has_value());
  EXPECT_EQ(FormatMoney(MoneyValue{0}), "0.00");
  EXPECT_EQ(FormatMoney(MoneyValue{-49}), "0.00");
  EXPECT_EQ(FormatMoney(MoneyValue{-10000000}, 1), "-1,000.00");
  EXPECT_EQ(MoneyFromDouble(19.99).units, 199900);
  EXPECT_EQ(FormatFloat(0.1f, true), "0.1");
}

// An in-memory connection with one table per storage form.
struct Db {
  Db() {
    sqlite3* raw = nullptr;
    EXPECT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
    db.reset(raw);
    RegisterSybCollation(raw);
  }
  void Exec(const char* sql) {
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db.get(), sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
  }
  struct Closer {
    void operator()(sqlite3* d) const { sqlite3_close(d); }
  };
  struct Finalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  std::unique_ptr<sqlite3_stmt, Finalizer> Prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db.get(), sql, -1, &s, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db.get());
    return std::unique_ptr<sqlite3_stmt, Finalizer>(s);
  }
  // Binds v as `type`, stores it, and reads it back as `column`.
  Value RoundTrip(const Value& v, SqlType type, const ColumnInfo& column) {
    auto ins = Prepare("insert into t values (?)");
    BindStorage(ins.get(), 1, v, type);
    EXPECT_EQ(sqlite3_step(ins.get()), SQLITE_DONE);
    auto sel = Prepare("select v, typeof(v) from t order by rowid desc limit 1");
    EXPECT_EQ(sqlite3_step(sel.get()), SQLITE_ROW);
    lastStorageClass = reinterpret_cast<const char*>(sqlite3_column_text(sel.get(), 1));
    return FromStorage(sel.get(), 0, column);
  }
  std::unique_ptr<sqlite3, Closer> db;
  std::string lastStorageClass;
};

ColumnInfo Col(SqlType t, int32_t len = 4, uint8_t p = 0, uint8_t s = 0) {
  ColumnInfo c;
  c.type = t;
  c.length = len;
  c.precision = p;
  c.scale = s;
  return c;
}

TEST(ValuesStorage, RoundTripsEveryRepresentation) {
  Db db;
  db.Exec("create table t (v)");
  EXPECT_EQ(std::get<int64_t>(db.RoundTrip(int64_t{7}, SqlType::Int, Col(SqlType::Int))), 7);
  EXPECT_EQ(db.lastStorageClass, "integer");
  EXPECT_EQ(
      std::get<MoneyValue>(db.RoundTrip(MoneyValue{125000}, SqlType::Money, Col(SqlType::Money)))
          .units,
      125000);
  EXPECT_EQ(db.lastStorageClass, "blob");
  auto n =
      db.RoundTrip(*ParseNumeric("12.30", 5, 2), SqlType::Numeric, Col(SqlType::Numeric, 17, 5, 2));
  EXPECT_EQ(FormatNumeric(std::get<NumericValue>(n)), "12.30");
  EXPECT_EQ(db.lastStorageClass, "blob");
  DateTimeValue d = ParseDateTime("Dec 29 1999 10:20:30:123").value();
  auto back = std::get<DateTimeValue>(db.RoundTrip(d, SqlType::DateTime, Col(SqlType::DateTime)));
  EXPECT_EQ(back.ticks, d.ticks);
  EXPECT_EQ(db.lastStorageClass, "text");
  auto small =
      std::get<DateTimeValue>(db.RoundTrip(d, SqlType::SmallDateTime, Col(SqlType::SmallDateTime)));
  EXPECT_EQ(DateTimeToStorage(small), "1999-12-29 10:21:00.000");
  EXPECT_EQ(
      std::get<Bytes>(db.RoundTrip(Bytes{1, 2}, SqlType::Image, Col(SqlType::Image, 0x7FFFFFFF))),
      (Bytes{1, 2}));
  EXPECT_EQ(db.lastStorageClass, "blob");
  EXPECT_TRUE(IsNull(db.RoundTrip(Value{}, SqlType::Int, Col(SqlType::Int))));
  EXPECT_EQ(db.lastStorageClass, "null");
}

TEST(ValuesStorage, TextRules) {
  Db db;
  db.Exec("create table t (v)");
  // varchar trailing blanks are not kept; '' is one blank; NOT NULL char is padded when read,
  // nullable char is not.
  EXPECT_EQ(std::get<std::string>(
                db.RoundTrip(std::string("ab  "), SqlType::VarChar, Col(SqlType::VarChar, 10))),
            "ab");
  EXPECT_EQ(std::get<std::string>(
                db.RoundTrip(std::string(""), SqlType::VarChar, Col(SqlType::VarChar, 10))),
            " ");
  ColumnInfo fixed = Col(SqlType::Char, 4);
  fixed.nullable = false;
  EXPECT_EQ(std::get<std::string>(db.RoundTrip(std::string("ab"), SqlType::Char, fixed)), "ab  ");
  EXPECT_EQ(
      std::get<std::string>(db.RoundTrip(std::string("ab"), SqlType::Char, Col(SqlType::Char, 4))),
      "ab");
  EXPECT_EQ(std::get<std::string>(
                db.RoundTrip(std::string("x  "), SqlType::Text, Col(SqlType::Text, 0x7FFFFFFF))),
            "x  ");
  // A value of another type is converted on the way in, and a stored value of another class
  // on the way out.
  EXPECT_EQ(std::get<int64_t>(db.RoundTrip(std::string("12"), SqlType::Int, Col(SqlType::Int))),
            12);
  EXPECT_EQ(db.lastStorageClass, "integer");
  EXPECT_THROW(db.RoundTrip(std::string("x"), SqlType::Int, Col(SqlType::Int)), SqlError);
  db.Exec("insert into t values ('12')");
  auto sel = db.Prepare("select v from t order by rowid desc limit 1");
  ASSERT_EQ(sqlite3_step(sel.get()), SQLITE_ROW);
  EXPECT_EQ(std::get<int64_t>(FromStorage(sel.get(), 0, Col(SqlType::Int))), 12);
  db.Exec("insert into t values ('garbage')");
  auto sel2 = db.Prepare("select v from t order by rowid desc limit 1");
  ASSERT_EQ(sqlite3_step(sel2.get()), SQLITE_ROW);
  EXPECT_TRUE(IsNull(FromStorage(sel2.get(), 0, Col(SqlType::DateTime))));
}

TEST(ValuesStorage, SybCollationIgnoresTrailingBlanks) {
  EXPECT_EQ(CompareSyb("ab", "ab   "), 0);
  EXPECT_LT(CompareSyb("ab", "abc"), 0);
  EXPECT_GT(CompareSyb("b", "abc"), 0);
  EXPECT_LT(CompareSyb("B", "a"), 0);  // binary order: upper case first
  EXPECT_EQ(CompareSyb("", "  "), 0);
  Db db;
  db.Exec("create table c (v text collate SYB)");
  db.Exec("insert into c values ('b'), ('a  '), ('B'), ('ab')");
  auto q = db.Prepare("select count(*) from c where v = 'a'");
  ASSERT_EQ(sqlite3_step(q.get()), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(q.get(), 0), 1);
  auto o = db.Prepare("select group_concat(trim(v), ',') from (select v from c order by v)");
  ASSERT_EQ(sqlite3_step(o.get()), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(o.get(), 0)), "B,a,ab,b");
}

}  // namespace
}  // namespace sampleserver
