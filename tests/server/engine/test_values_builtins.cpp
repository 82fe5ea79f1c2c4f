// The registered Sybase functions, called through SQL on an in-memory connection.
#include "engine/builtins.h"
#include "engine/messages.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>

namespace sampleserver {
namespace {

class ValuesBuiltins : public ::testing::Test {
 protected:
  void SetUp() override {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
    db_.reset(raw);
    ASSERT_TRUE(RegisterBuiltins(raw, &settings_));
  }

  // The first column of the single row, as text ("NULL" for NULL); failures give
  // "error <number>: <text>".
  std::string Q(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
      return std::string("prepare: ") + sqlite3_errmsg(db_.get());
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
    int rc = sqlite3_step(raw);
    if (rc != SQLITE_ROW) {
      auto m = DecodeFunctionError(sqlite3_errmsg(db_.get()));
      return m ? "error " + std::to_string(m->number) + ": " + m->text
               : std::string("sqlite: ") + sqlite3_errmsg(db_.get());
    }
    if (sqlite3_column_type(raw, 0) == SQLITE_NULL) return "NULL";
    if (sqlite3_column_type(raw, 0) == SQLITE_BLOB) {
      std::string hex;
      const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(raw, 0));
      char buf[3];
      for (int i = 0; i < sqlite3_column_bytes(raw, 0); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", p[i]);
        hex += buf;
      }
      return "0x" + hex;
    }
    return reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
  }
  std::string Type(const std::string& sql) { return Q("select typeof(" + sql + ")"); }

  BuiltinSettings settings_;
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db_{nullptr, sqlite3_close};
};

TEST_F(ValuesBuiltins, DateFunctions) {
  EXPECT_EQ(Q("select datediff('dd', '1999/11/30', '1999/12/29')"), "29");
  EXPECT_EQ(Q("select datediff('month', 'Jan 25 1999', 'Feb 2 1999')"), "1");
  EXPECT_EQ(Q("select datediff('ms', '1900/01/01', '2000/01/01')"),
            "error 535: Difference of two datetime fields caused overflow at runtime.");
  EXPECT_EQ(Q("select datename('mm', '1999-12-29 00:00:00.000')"), "December");
  EXPECT_EQ(Q("select datename('dw', '1999/12/29')"), "Wednesday");
  EXPECT_EQ(Q("select datepart('dw', '1999/12/29')"), "4");
  EXPECT_EQ(Q("select datepart('yy', 'Dec 29 1999')"), "1999");
  EXPECT_EQ(Q("select dateadd('mm', 1, '1999/01/31')"), "1999-02-28 00:00:00.000");
  EXPECT_EQ(Q("select dateadd('dd', 1, '9999/12/31')"),
            "error 517: Adding a value to a 'datetime' field caused overflow.");
  EXPECT_EQ(Q("select dateadd('dd', 1, 'garbage')"),
            "error 249: Syntax error during implicit conversion of VARCHAR value 'garbage' to a "
            "DATETIME field.");
  EXPECT_EQ(Q("select datepart('eon', '1999/12/29')"),
            "error 155: 'eon' is not a recognized datepart option.");
  EXPECT_EQ(Q("select datepart('dd', null)"), "NULL");
  EXPECT_EQ(Q("select length(getdate())"), "23");
}

TEST_F(ValuesBuiltins, SessionSettingsApplyAtCallTime) {
  settings_.datefirst = 1;
  EXPECT_EQ(Q("select datepart('dw', '1999/12/29')"), "3");
  settings_.dateFormat = DateFormat::Dmy;
  EXPECT_EQ(Q("select datepart('mm', '29/12/1999')"), "12");
}

TEST_F(ValuesBuiltins, ConvertHelper) {
  EXPECT_EQ(Q("select syb_convert('1999-12-29 00:00:00.000', 'datetime', 'varchar', null, null, "
              "null, null)"),
            "Dec 29 1999 12:00AM");
  EXPECT_EQ(Q("select syb_convert('1999-12-29 00:00:00.000', 'datetime', 'varchar', 10, null, "
              "null, 101)"),
            "12/29/1999");
  EXPECT_EQ(Q("select syb_convert(12.5, 'money', 'varchar', null, null, null, null)"), "12.50");
  EXPECT_EQ(Q("select syb_convert('12', null, 'int', null, null, null, null)"), "12");
  EXPECT_EQ(Type("syb_convert('12', null, 'int', null, null, null, null)"), "integer");
  EXPECT_EQ(
      Q("select syb_convert('abc', null, 'int', null, null, null, null)"),
      "error 249: Syntax error during explicit conversion of VARCHAR value 'abc' to a INT field.");
  EXPECT_EQ(Q("select syb_convert('ab', null, 'char', 5, null, null, null) || '|'"), "ab   |");
  EXPECT_EQ(
      Q("select syb_convert(syb_convert('12.345', null, 'numeric', null, 5, 2, null), 'numeric:2',"
        " 'varchar', null, null, null, null)"),
      "12.35");
  EXPECT_EQ(Q("select syb_convert('Dec 29 1999', null, 'datetime', null, null, null, null)"),
            "1999-12-29 00:00:00.000");
  EXPECT_EQ(Q("select syb_convert('AB', null, 'varbinary', null, null, null, null)"), "0x4142");
  EXPECT_EQ(Q("select syb_convert(1, null, 'nosuchtype', null, null, null, null)"),
            "error 2715: Can't find type 'nosuchtype'.");
  EXPECT_EQ(Q("select syb_convert(null, 'int', 'varchar', null, null, null, null)"), "NULL");
  EXPECT_EQ(Q("select syb_format(3.5, 'numeric', 2)"), "3.50");
}

TEST_F(ValuesBuiltins, StringFunctions) {
  EXPECT_EQ(Q("select stuff('ABCDEF', 2, 4, '*')"), "A*F");
  EXPECT_EQ(Q("select stuff('abc', 2, 3, 'xyz')"), "axyz");
  EXPECT_EQ(Q("select stuff('abcdef', 2, 3, null)"), "aef");
  EXPECT_EQ(Q("select stuff('abcdef', 2, 3, '')"), "a ef");
  EXPECT_EQ(Q("select stuff('abcdef', 0, 3, 'x')"), "NULL");
  EXPECT_EQ(Q("select stuff('abcdef', 7, 1, 'x')"), "NULL");
  EXPECT_EQ(Q("select stuff('abcdef', 2, -1, 'x')"), "NULL");
  EXPECT_EQ(Q("select syb_right('ABCDEF', 3)"), "DEF");
  EXPECT_EQ(Q("select syb_right('ABC', 10)"), "ABC");
  EXPECT_EQ(Q("select syb_right('ABC', -1)"), "NULL");
  EXPECT_EQ(Q("select syb_left('ABCDEF', 2)"), "AB");
  EXPECT_EQ(Q("select syb_substring('ABCDEF', 2, 3)"), "BCD");
  EXPECT_EQ(Q("select syb_substring('ABCDEF', 0, 3)"), "AB");
  EXPECT_EQ(Q("select syb_substring('ABCDEF', -1, 3)"), "A");
  EXPECT_EQ(Q("select syb_substring('ABCDEF', -5, 3)"), "NULL");
  EXPECT_EQ(Q("select syb_substring('ABCDEF', 5, 10)"), "EF");
  EXPECT_EQ(Q("select syb_substring('ABCDEF', 7, 1)"), "NULL");
  EXPECT_EQ(Q("select syb_substring('AB', 1, -1)"), "NULL");
  EXPECT_EQ(Q("select syb_substring(x'010203', 2, 1)"), "0x02");
  EXPECT_EQ(Q("select syb_substring('h\xC3\xA9llo', 2, 2)"), "\xC3\xA9l");
  EXPECT_EQ(Q("select replicate('ab', 3)"), "ababab");
  EXPECT_EQ(Q("select replicate('ab', -1)"), "NULL");
  EXPECT_EQ(Q("select replicate('ab', 0)"), "NULL");
  EXPECT_EQ(Q("select length(replicate('abc', 1000000))"), "16383");
  EXPECT_EQ(Q("select length(space(5))"), "5");
  EXPECT_EQ(Q("select space(0)"), "NULL");
  EXPECT_EQ(Q("select char_length('h\xC3\xA9llo')"), "5");
  EXPECT_EQ(Q("select datalength('h\xC3\xA9llo')"), "6");
  EXPECT_EQ(Q("select datalength(5)"), "4");
  EXPECT_EQ(Q("select datalength(null)"), "NULL");
  EXPECT_EQ(Q("select syb_upper('abC1')"), "ABC1");
  EXPECT_EQ(Q("select syb_lower('ABc1')"), "abc1");
  EXPECT_EQ(Q("select syb_ltrim('  ab ') || '|'"), "ab |");
  EXPECT_EQ(Q("select '|' || syb_rtrim('  ab ')"), "|  ab");
  EXPECT_EQ(Q("select syb_rtrim('   ')"), "NULL");
  EXPECT_EQ(Q("select reverse('abc')"), "cba");
  EXPECT_EQ(Q("select str_replace('aXbXc', 'X', '--')"), "a--b--c");
  EXPECT_EQ(Q("select str_replace('aXbXc', 'X', null)"), "abc");
  EXPECT_EQ(Q("select syb_replace('aaa', 'a', 'b')"), "bbb");
  EXPECT_EQ(Q("select charindex('CD', 'ABCDEF')"), "3");
  EXPECT_EQ(Q("select charindex('Z', 'ABCDEF')"), "0");
  EXPECT_EQ(Q("select charindex('A', 'ABCABC', 2)"), "4");
  EXPECT_EQ(Q("select charindex('l', 'h\xC3\xA9llo')"), "3");
  EXPECT_EQ(Q("select patindex('%CD%', 'ABCDEF')"), "3");
  EXPECT_EQ(Q("select patindex('%[0-9]%', 'abc7d')"), "4");
  EXPECT_EQ(Q("select patindex('AB%', 'ABCDEF')"), "1");
  EXPECT_EQ(Q("select patindex('CD%', 'ABCDEF')"), "0");
  EXPECT_EQ(Q("select patindex('%C_E%', 'ABCDEF')"), "3");
  EXPECT_EQ(Q("select patindex('%[^A-C]%', 'ABCDEF')"), "4");
  EXPECT_EQ(Q("select patindex('%EF', 'ABCDEF')"), "5");
  EXPECT_EQ(Q("select patindex('%EX', 'ABCDEF')"), "0");
  EXPECT_EQ(Q("select ascii('A')"), "65");
  EXPECT_EQ(Q("select syb_char(66)"), "B");
  EXPECT_EQ(Q("select syb_char(233)"), "\xC3\xA9");
  EXPECT_EQ(Q("select syb_char(256)"), "NULL");
  EXPECT_EQ(Q("select syb_soundex('Robert')"), "R163");
  EXPECT_EQ(Q("select syb_soundex('Rupert')"), "R163");
  EXPECT_EQ(Q("select syb_soundex('Ashcraft')"), "A261");
  EXPECT_EQ(Q("select syb_soundex('Tymczak')"), "T522");
  EXPECT_EQ(Q("select syb_soundex('123')"), "0000");
  EXPECT_EQ(Q("select difference('Robert', 'Rupert')"), "4");
  EXPECT_EQ(Q("select difference('Smith', 'Jones')"), "2");
}

TEST_F(ValuesBuiltins, HexAndNull) {
  EXPECT_EQ(Q("select inttohex(255)"), "000000FF");
  EXPECT_EQ(Q("select inttohex(-1)"), "FFFFFFFF");
  EXPECT_EQ(Q("select hextoint('0x00000100')"), "256");
  EXPECT_EQ(Q("select hextoint('1A4')"), "420");
  EXPECT_EQ(Q("select hextoint('0XFFFFFFFF')"), "-1");
  EXPECT_EQ(Q("select hextoint('0x100000000')"), "error 3606: Arithmetic overflow occurred.");
  EXPECT_EQ(Q("select hextoint('xyz')"), "NULL");
  EXPECT_EQ(Q("select strtobin('0x0a0b')"), "0x0A0B");
  EXPECT_EQ(Q("select bintostr(x'0a0b')"), "0a0b");
  EXPECT_EQ(Q("select syb_isnull(null, 'x')"), "x");
  EXPECT_EQ(Q("select syb_isnull('y', 'x')"), "y");
}

TEST_F(ValuesBuiltins, NumericFunctions) {
  EXPECT_EQ(Q("select str(123.456, 8, 2)"), "  123.46");
  EXPECT_EQ(Q("select str(123.456)"), "       123");
  EXPECT_EQ(Q("select str(-2.5, 5, 0)"), "   -3");
  EXPECT_EQ(Q("select str(123456, 3)"), "***");
  EXPECT_EQ(Q("select str(123.456, 5, 2)"), "123.5");  // fewer decimals to fit
  EXPECT_EQ(Q("select syb_round(123.4567, 2)"), "123.46");
  EXPECT_EQ(Q("select syb_round(2.675, 2)"), "2.68");
  EXPECT_EQ(Q("select syb_round(-2.5, 0)"), "-3.0");
  EXPECT_EQ(Q("select syb_round(1234.5, -2)"), "1200.0");
  EXPECT_EQ(Q("select syb_round(1250, -2)"), "1300");
  EXPECT_EQ(Q("select syb_round(-1250, -2)"), "-1300");
  EXPECT_EQ(Type("syb_round(1250, -2)"), "integer");
  EXPECT_EQ(Q("select syb_abs(-5)"), "5");
  EXPECT_EQ(Type("syb_abs(-5)"), "integer");
  EXPECT_EQ(Q("select syb_abs(-5.5)"), "5.5");
  EXPECT_EQ(Q("select syb_sign(-3)"), "-1");
  EXPECT_EQ(Q("select syb_sign(0.0)"), "0.0");
  EXPECT_EQ(Q("select syb_ceiling(1.2)"), "2.0");
  EXPECT_EQ(Q("select syb_floor(-1.2)"), "-2.0");
  EXPECT_EQ(Q("select syb_ceiling(7)"), "7");
  EXPECT_EQ(Q("select syb_power(2, 10)"), "1024");
  EXPECT_EQ(Type("syb_power(2, 10)"), "integer");
  EXPECT_EQ(Q("select syb_power(2.0, -1)"), "0.5");
  EXPECT_EQ(Q("select syb_power(10, 30)"), "error 3606: Arithmetic overflow occurred.");
  EXPECT_EQ(Q("select syb_sqrt(16)"), "4.0");
  EXPECT_EQ(Q("select syb_sqrt(-1)"), "error 3622: Domain error occurred.");
  EXPECT_EQ(Q("select syb_log(1)"), "0.0");
  EXPECT_EQ(Q("select syb_log10(1000)"), "3.0");
  EXPECT_EQ(Q("select syb_exp(0)"), "1.0");
  EXPECT_EQ(Q("select round(syb_pi(), 5)"), "3.14159");
  EXPECT_EQ(Q("select round(syb_degrees(syb_pi()), 6)"), "180.0");
  EXPECT_EQ(Q("select round(atn2(1, 1) * 4, 6)"), "3.141593");
  EXPECT_EQ(Q("select square(3)"), "9.0");
  EXPECT_EQ(Q("select round(cot(1), 6)"), "0.642093");
  EXPECT_EQ(Q("select rand(7) = rand(7)"), "1");
  EXPECT_EQ(Q("select rand() between 0 and 1"), "1");
}

TEST_F(ValuesBuiltins, DivisionRaisesSybaseErrors) {
  EXPECT_EQ(Q("select syb_divide(7, 2)"), "3");
  EXPECT_EQ(Q("select syb_divide(-7, 2)"), "-3");
  EXPECT_EQ(Q("select syb_divide(7.0, 2)"), "3.5");
  EXPECT_EQ(Q("select syb_divide(7, 0)"), "error 3607: Divide by zero occurred.");
  EXPECT_EQ(Q("select syb_divide(7.5, 0.0)"), "error 3607: Divide by zero occurred.");
  EXPECT_EQ(Q("select syb_divide(-9223372036854775808, -1)"),
            "error 3606: Arithmetic overflow occurred.");
  EXPECT_EQ(Q("select syb_modulo(7, 3)"), "1");
  EXPECT_EQ(Q("select syb_modulo(-7, 3)"), "-1");
  EXPECT_EQ(Q("select syb_modulo(7, 0)"), "error 3607: Divide by zero occurred.");
  EXPECT_EQ(Q("select syb_divide(null, 0)"), "NULL");
}

TEST(ValuesBuiltinNames, LookupAndErrorEncoding) {
  std::string name;
  ASSERT_TRUE(IsBuiltin("SUBSTRING", &name));
  EXPECT_EQ(name, "syb_substring");
  ASSERT_TRUE(IsBuiltin("Right", &name));
  EXPECT_EQ(name, "syb_right");  // a keyword in SQLite
  ASSERT_TRUE(IsBuiltin("dateadd", &name));
  EXPECT_EQ(name, "dateadd");
  ASSERT_TRUE(IsBuiltin("convert", &name));
  EXPECT_EQ(name, "syb_convert");
  ASSERT_TRUE(IsBuiltin("log", &name));
  EXPECT_EQ(name, "syb_log");
  EXPECT_FALSE(IsBuiltin("db_name", &name));
  EXPECT_FALSE(IsBuiltin("divide", &name));
  EXPECT_FALSE(IsBuiltin("", nullptr));
  ServerMessage m = MakeMessage(3607);
  auto back = DecodeFunctionError(EncodeFunctionError(m));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->number, 3607);
  EXPECT_EQ(back->severity, 16);
  EXPECT_EQ(back->text, "Divide by zero occurred.");
  EXPECT_FALSE(DecodeFunctionError("no such table: x").has_value());
  EXPECT_FALSE(DecodeFunctionError("SYBMSG|12|x|1|text").has_value());
}

}  // namespace
}  // namespace sampleserver
