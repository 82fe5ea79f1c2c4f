// date, time, unsigned integers, bigint and the unicode character types through the engine:
// declarations, conversions, arithmetic limits, storage order, catalog rows; computed columns.
#include "test_engine_support.h"

namespace sampleserver::testing {
namespace {

class DatatypesTest : public EngineTest {
 protected:
  void SetUp() override {
    s = Login();
    ASSERT_TRUE(s);
    Run(*s, "use tempdb");
  }
  std::unique_ptr<Session> s;
};

TEST_F(DatatypesTest, ConvertsToAndFromText) {
  struct Case {
    const char* sql;
    const char* text;
  };
  const Case cases[] = {
      {"select convert(varchar(30), convert(date, '2026-12-09 10:11'))", "Dec  9 2026"},
      {"select convert(varchar(30), convert(date, 'Jan 1 1999'), 112)", "19990101"},
      {"select convert(varchar(30), convert(time, '16:32:53.490'))", "4:32PM"},
      {"select convert(varchar(30), convert(time, '16:32:53.490'), 20)", "16:32:53:490"},
      {"select convert(varchar(30), convert(time, 'Dec 9 2026 00:05'), 108)", "00:05:00"},
      {"select convert(varchar(30), convert(datetime, convert(date, '20261209')))",
       "Dec  9 2026 12:00AM"},
      {"select convert(varchar(30), convert(datetime, convert(time, '10:11')))",
       "Jan  1 1900 10:11AM"},
      {"select convert(varchar(30), convert(unsigned smallint, '65535'))", "65535"},
      {"select convert(varchar(30), convert(unsigned int, 4294967295.0))", "4294967295"},
      {"select convert(varchar(30), convert(unsigned bigint, '18446744073709551615'))",
       "18446744073709551615"},
      {"select convert(varchar(30), convert(unsigned bigint, 9223372036854775807) * 2 + 1)",
       "18446744073709551615"},
      {"select convert(varchar(30), convert(unsigned bigint, '18446744073709551615') / 2)",
       "9223372036854775807"},
      {"select convert(varchar(30), convert(unsigned bigint, '18446744073709551615') % 10)", "5"},
      {"select convert(varchar(40), convert(numeric(30,1), convert(unsigned bigint, "
       "'18446744073709551614')) + 0.5)",
       "18446744073709551614.5"},
      {"select convert(varchar(30), convert(bigint, '-9223372036854775808'))",
       "-9223372036854775808"},
      {"select convert(varchar(30), convert(unsigned int, 4000000000) + convert(unsigned int, 1))",
       "4000000001"},
      {"select convert(varchar(30), convert(unichar(3), 'ab'))", "ab "},
      {"select convert(varchar(30), convert(univarchar(10), 'h\xc3\xa9llo'))", "h\xc3\xa9llo"},
      {"declare @d date select @d = 'Dec 9 2026 11:00' select convert(varchar(30), @d)",
       "Dec  9 2026"},
      {"declare @u unsigned int select @u = 4294967295 select convert(varchar(30), @u)",
       "4294967295"},
      {"declare @t time select @t = '23:59:59.997' select convert(varchar(30), @t, 20)",
       "23:59:59:997"},
      {"select datepart(dd, convert(date, '2026-12-09'))", "9"},
      {"select datename(mm, convert(date, '2026-12-09'))", "December"},
      {"select datediff(dd, convert(date, '2026-11-30'), convert(date, '2026-12-09'))", "9"},
      {"select datediff(mi, convert(time, '10:00'), convert(time, '12:30'))", "150"},
      {"select convert(varchar(30), dateadd(dd, 1, convert(date, '2026-12-31')))", "Jan  1 2027"},
      {"select convert(varchar(30), dateadd(mi, 90, convert(time, '11:00')))", "12:30PM"},
      {"select datepart(hh, convert(date, getdate())) + datepart(mi, convert(date, getdate()))",
       "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(ScalarText(*s, c.sql), c.text) << c.sql;
}

TEST_F(DatatypesTest, OutOfRangeValuesRaiseSybaseErrors) {
  struct Case {
    const char* sql;
    int number;
  };
  const Case cases[] = {
      {"select convert(unsigned smallint, 65536)", 247},
      {"select convert(unsigned int, -1)", 247},
      {"select convert(unsigned bigint, '-5')", 247},
      {"select convert(unsigned bigint, '18446744073709551616')", 247},
      {"select convert(bigint, convert(unsigned bigint, '9223372036854775808'))", 247},
      {"select convert(unsigned bigint, '18446744073709551615') + 1", 3606},
      {"select convert(unsigned bigint, 1) - 2", 3606},
      {"select convert(bigint, '9223372036854775808')", 247},
      {"select convert(unsigned int, 4294967295) + convert(unsigned int, 1)", 3606},
      {"select convert(unsigned int, 1) - convert(unsigned int, 2)", 3606},
      {"select convert(unsigned int, 4294967295) + 1", 3606},  // int outranks unsigned int
      {"select convert(bigint, 9223372036854775807) + 1", 3606},
      {"select convert(date, 'not a date')", 249},
      {"select convert(time, 12)", 529},
  };
  for (const auto& c : cases) {
    RecordingSink sink = Run(*s, c.sql);
    EXPECT_EQ(sink.ErrorNumbers(), std::vector<int>{c.number}) << c.sql;
  }
}

TEST_F(DatatypesTest, ColumnsStoreCompareAndSort) {
  Run(*s,
      "create table dt_store (d date, t time null, us unsigned smallint, ui unsigned int null, "
      "ub unsigned bigint, bi bigint, uc unichar(4), uv univarchar(10) null)");
  const char* rows[] = {
      "insert dt_store values ('2026-12-09', '23:59:59.997', 65535, 4294967295, "
      "18446744073709551615, "
      "-9223372036854775808, 'z', 'zeta')",
      "insert dt_store values ('Jan 2 1900', '00:00', 0, null, 0, 9223372036854775807, 'a', null)",
      "insert dt_store values ('1999-12-31', '12:00PM', 300, 3000000000, 5000000000, 0, "
      "'\xc3\xa9', "
      "'\xc3\xa9t\xc3\xa9')",
  };
  for (const char* r : rows) EXPECT_TRUE(Run(*s, r).ErrorNumbers().empty()) << r;
  RecordingSink sink = Run(*s, "select us, ui, ub, bi, uc, uv from dt_store order by d");
  ASSERT_EQ(sink.sets.size(), 1u);
  std::vector<std::string> got;
  for (const auto& row : sink.sets[0].rows) {
    std::string line;
    for (const auto& v : row) line += Text(v) + "|";
    got.push_back(line);
  }
  EXPECT_EQ(got, (std::vector<std::string>{
                     "0|NULL|0|9223372036854775807|a   |NULL|",
                     "300|3000000000|5000000000|0|\xc3\xa9   |\xc3\xa9t\xc3\xa9|",
                     "65535|4294967295|18446744073709551615|-9223372036854775808|z   |zeta|"}));
  EXPECT_EQ(
      ScalarText(
          *s,
          "select convert(varchar(30), d) from dt_store where t = (select max(t) from dt_store)"),
      "Dec  9 2026");
  EXPECT_EQ(ScalarText(*s, "select count(*) from dt_store where t > '11:59' and d < '2000-01-01'"),
            "1");
  EXPECT_EQ(ScalarText(*s, "select count(*) from dt_store where ui > 3000000000"), "1");
  EXPECT_EQ(
      ScalarText(*s, "select count(*) from dt_store where d = convert(datetime, 'Dec 9 2026')"),
      "1");
  // Values beyond 2^63-1 sort, compare and add up with the others.
  EXPECT_EQ(ScalarText(*s, "select max(ub) from dt_store"), "18446744073709551615");
  EXPECT_EQ(ScalarText(*s, "select count(*) from dt_store where ub > 9223372036854775807"), "1");
  EXPECT_EQ(ScalarText(*s, "select count(*) from dt_store where ub = 18446744073709551615"), "1");
  EXPECT_EQ(Run(*s, "select sum(ub) from dt_store").ErrorNumbers(), std::vector<int>{3606});
  EXPECT_EQ(ScalarText(*s, "select sum(ub) from dt_store where ub < 9223372036854775807"),
            "5000000000");
  EXPECT_EQ(
      ScalarText(
          *s, "select convert(varchar(30), ub - 1) from dt_store where ub > 9223372036854775807"),
      "18446744073709551614");
  // Values out of the column's range are refused with the conversion error.
  EXPECT_EQ(Run(*s, "insert dt_store values ('2026-12-09', null, 65536, 1, 1, 1, 'a', 'b')")
                .ErrorNumbers(),
            std::vector<int>{247});
  EXPECT_EQ(Run(*s, "update dt_store set ui = -1").ErrorNumbers(), std::vector<int>{247});
  Run(*s, "drop table dt_store");
}

TEST_F(DatatypesTest, CatalogDescribesTheNewTypes) {
  Run(*s,
      "create table dt_cat (d date, t time null, us unsigned smallint, ui unsigned int null, "
      "ub unsigned bigint, bi bigint, uc unichar(4), uv univarchar(10) null, ut unitext null)");
  RecordingSink sink =
      Run(*s,
          "select c.name, c.type, c.length, c.usertype, t.name from syscolumns c, systypes t "
          "where c.id = object_id('dt_cat') and t.usertype = c.usertype order by c.colid");
  ASSERT_EQ(sink.sets.size(), 1u);
  std::vector<std::string> got;
  for (const auto& row : sink.sets[0].rows) {
    std::string line;
    for (const auto& v : row) line += Text(v) + " ";
    got.push_back(line);
  }
  EXPECT_EQ(got, (std::vector<std::string>{
                     "d 49 4 37 date ", "t 147 4 38 time ", "us 65 2 44 usmallint ",
                     "ui 68 4 45 uint ", "ub 67 8 46 ubigint ", "bi 191 8 43 bigint ",
                     "uc 135 8 34 unichar ", "uv 155 20 35 univarchar ", "ut 174 16 36 unitext "}));
  // Columns read back from the catalog keep their types.
  sink = Run(*s, "select d, t, us, ui, ub, uc from dt_cat");
  ASSERT_EQ(sink.sets.size(), 1u);
  std::vector<SqlType> types;
  for (const auto& c : sink.sets[0].columns) types.push_back(c.type);
  EXPECT_EQ(types,
            (std::vector<SqlType>{SqlType::Date, SqlType::Time, SqlType::UnsignedSmallInt,
                                  SqlType::UnsignedInt, SqlType::UnsignedBigInt, SqlType::Char}));
  EXPECT_EQ(sink.sets[0].columns[5].usertype, 34);
  // The ODBC catalog procedure names and codes them.
  sink = Run(*s, "exec sp_columns dt_cat");
  ASSERT_FALSE(sink.sets.empty());
  got.clear();
  for (const auto& row : sink.sets[0].rows)
    got.push_back(Text(row[3]) + " " + Text(row[4]) + " " + Text(row[5]));
  EXPECT_EQ(got,
            (std::vector<std::string>{"d 9 date", "t 10 time", "us 5 unsigned smallint",
                                      "ui 4 unsigned int", "ub -5 unsigned bigint", "bi -5 bigint",
                                      "uc 1 unichar", "uv 12 univarchar", "ut -1 unitext"}));
  Run(*s, "drop table dt_cat");
}

// Computed columns follow their base columns, refuse values of their own and are described as
// their expression's type, in permanent and #temp tables alike.
TEST_F(DatatypesTest, ComputedColumnsFollowBaseColumnsAndRefuseValues) {
  for (const char* table : {"cc_t", "#cc_t"}) {
    std::string t = table;
    ASSERT_TRUE(Run(*s, "create table " + t +
                            " (a int, b int null, c as a + b, "
                            "d compute convert(varchar(20), a) + 'x' materialized)")
                    .ErrorNumbers()
                    .empty());
    EXPECT_TRUE(Run(*s, "insert " + t + " values (1, 2)").ErrorNumbers().empty()) << t;
    EXPECT_TRUE(Run(*s, "insert " + t + " (a) values (10)").ErrorNumbers().empty()) << t;
    Run(*s, "update " + t + " set b = 5 where a = 1");
    RecordingSink sink = Run(*s, "select a, c, d from " + t + " order by a");
    ASSERT_EQ(sink.sets.size(), 1u) << t;
    ASSERT_EQ(sink.sets[0].rows.size(), 2u) << t;
    EXPECT_EQ(Text(sink.sets[0].rows[0][1]) + " " + Text(sink.sets[0].rows[0][2]), "6 1x") << t;
    EXPECT_EQ(Text(sink.sets[0].rows[1][1]) + " " + Text(sink.sets[0].rows[1][2]), "NULL 10x") << t;
    EXPECT_EQ(sink.sets[0].columns[1].type, SqlType::Int) << t;
    EXPECT_EQ(sink.sets[0].columns[2].type, SqlType::VarChar) << t;
    EXPECT_EQ(ScalarText(*s, "select count(*) from " + t + " where c = 6"), "1") << t;
    EXPECT_EQ(Run(*s, "insert " + t + " (a, c) values (1, 2)").ErrorNumbers(),
              std::vector<int>{271})
        << t;
    EXPECT_EQ(Run(*s, "update " + t + " set d = 'y'").ErrorNumbers(), std::vector<int>{271}) << t;
    Run(*s, "drop table " + t);
  }
}

}  // namespace
}  // namespace sampleserver::testing
