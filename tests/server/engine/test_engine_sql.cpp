// Transact-SQL semantics of the executor: types of result columns, expressions, variables,
// control flow, messages and errors.
#include "test_engine_support.h"

namespace sampleserver::testing {
namespace {

class EngineSql : public EngineTest {
 protected:
  void SetUp() override {
    s = Login();
    ASSERT_TRUE(s);
  }
  std::unique_ptr<Session> s;
};

TEST_F(EngineSql, ColumnDescriptionsForEveryDatatype) {
  auto r = Run(
      *s,
      "create table #types (c_tiny tinyint, c_small smallint, c_int int, c_big bigint, c_bit bit,"
      " c_num numeric(10,2), c_dec decimal(5,1) null, c_float float, c_real real,"
      " c_money money, c_smoney smallmoney, c_dt datetime, c_sdt smalldatetime null,"
      " c_char char(5), c_vchar varchar(20) null, c_text text null, c_bin binary(4),"
      " c_vbin varbinary(8) null, c_image image null, c_id numeric(7,0) identity)");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  r = Run(*s,
          "insert #types (c_tiny, c_small, c_int, c_big, c_bit, c_num, c_dec, c_float,"
          " c_real, c_money, c_smoney, c_dt, c_sdt, c_char, c_vchar, c_text, c_bin, c_vbin,"
          " c_image) values (255, -32768, 2147483647, 9000000000, 1, 12345678.91, 1234.5,"
          " 1.5, 2.25, 12.3456, -3.5, 'Dec 29 1999 10:20AM', '1999/12/29 10:20:31',"
          " 'ab', 'xyz   ', 'long text', 0x0102, 0xff, 0x00ff00)");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  r = Run(*s, "select * from #types");
  ASSERT_EQ(r.sets.size(), 1u);
  const auto& c = r.sets[0].columns;
  ASSERT_EQ(c.size(), 20u);
  struct Want {
    SqlType type;
    int32_t length;
    int usertype;
    bool nullable;
  };
  const Want want[] = {
      {SqlType::TinyInt, 1, 5, false},
      {SqlType::SmallInt, 2, 6, false},
      {SqlType::Int, 4, 7, false},
      {SqlType::BigInt, 8, 43, false},
      {SqlType::Bit, 1, 16, false},
      {SqlType::Numeric, 6, 10, false},
      {SqlType::Decimal, 4, 26, true},
      {SqlType::Float, 8, 8, false},
      {SqlType::Real, 4, 23, false},
      {SqlType::Money, 8, 11, false},
      {SqlType::SmallMoney, 4, 21, false},
      {SqlType::DateTime, 8, 12, false},
      {SqlType::SmallDateTime, 4, 22, true},
      {SqlType::Char, 5, 1, false},
      {SqlType::VarChar, 20, 2, true},
      {SqlType::Text, 0x7FFFFFFF, 19, true},
      {SqlType::Binary, 4, 3, false},
      {SqlType::VarBinary, 8, 4, true},
      {SqlType::Image, 0x7FFFFFFF, 20, true},
      {SqlType::Numeric, 4, 10, false},
  };
  for (size_t i = 0; i < 20; ++i) {
    SCOPED_TRACE(c[i].name);
    EXPECT_EQ(c[i].type, want[i].type);
    EXPECT_EQ(c[i].length, want[i].length);
    EXPECT_EQ(c[i].usertype, want[i].usertype);
    EXPECT_EQ(c[i].nullable, want[i].nullable);
  }
  EXPECT_EQ(c[5].precision, 10);
  EXPECT_EQ(c[5].scale, 2);
  EXPECT_TRUE(c[19].identity);
  EXPECT_EQ(c[15].table, "#types");  // text columns name their table
  const auto& row = r.sets[0].rows[0];
  EXPECT_EQ(Text(row[0]), "255");
  EXPECT_EQ(Text(row[3]), "9000000000");
  EXPECT_EQ(Text(row[5], SqlType::Numeric), "12345678.91");
  EXPECT_EQ(Text(row[6], SqlType::Decimal), "1234.5");
  EXPECT_EQ(std::get<MoneyValue>(row[9]).units, 123456);
  EXPECT_EQ(std::get<MoneyValue>(row[10]).units, -35000);
  auto dt = ToCivil(std::get<DateTimeValue>(row[11]));
  EXPECT_EQ(dt.year, 1999);
  EXPECT_EQ(dt.hour, 10);
  EXPECT_EQ(dt.minute, 20);
  auto sdt = ToCivil(std::get<DateTimeValue>(row[12]));
  EXPECT_EQ(sdt.minute, 21);  // smalldatetime rounds to the minute
  EXPECT_EQ(sdt.second, 0);
  EXPECT_EQ(Text(row[13]), "ab   ");  // char(5) padded
  EXPECT_EQ(Text(row[14]), "xyz");    // varchar trailing blanks not kept
  EXPECT_EQ(Text(row[15]), "long text");
  EXPECT_EQ(std::get<Bytes>(row[16]).size(), 4u);  // binary(4) padded with zeros
  EXPECT_EQ(std::get<Bytes>(row[17]), (Bytes{0xff}));
  EXPECT_EQ(Text(row[19], SqlType::Numeric), "1");
}

TEST_F(EngineSql, ExpressionTypes) {
  auto r = Run(*s,
               "select 1, 'abc', 1.50, 2e1, $3, 10/4, 'a' + 'bc', convert(varchar(7), 12),"
               " count(*), getdate(), 1 + 2.5");
  ASSERT_EQ(r.sets.size(), 1u);
  const auto& c = r.sets[0].columns;
  EXPECT_EQ(c[0].type, SqlType::Int);
  EXPECT_EQ(c[0].name, "");
  EXPECT_EQ(c[1].type, SqlType::VarChar);
  EXPECT_EQ(c[1].length, 3);
  EXPECT_EQ(c[2].type, SqlType::Numeric);
  EXPECT_EQ(c[2].scale, 2);
  EXPECT_EQ(c[3].type, SqlType::Float);
  EXPECT_EQ(c[4].type, SqlType::Money);
  EXPECT_EQ(c[5].type, SqlType::Int);
  EXPECT_EQ(c[6].type, SqlType::VarChar);
  EXPECT_EQ(c[6].length, 3);
  EXPECT_EQ(c[7].type, SqlType::VarChar);
  EXPECT_EQ(c[7].length, 7);
  EXPECT_EQ(c[8].type, SqlType::Int);
  EXPECT_EQ(c[9].type, SqlType::DateTime);
  EXPECT_EQ(c[10].type, SqlType::Numeric);
  const auto& row = r.sets[0].rows[0];
  EXPECT_EQ(Text(row[5]), "2");  // integer division truncates
  EXPECT_EQ(Text(row[6]), "abc");
  EXPECT_EQ(Text(row[7]), "12");
  EXPECT_EQ(Text(row[10], SqlType::Numeric), "3.5");
}

TEST_F(EngineSql, StringAndNullSemantics) {
  EXPECT_EQ(ScalarText(*s, "select 'abc' + NULL"), "NULL");
  EXPECT_EQ(ScalarText(*s, "select 'ab' + 'cd' + 'e'"), "abcde");
  EXPECT_EQ(ScalarText(*s, "select -7 / 2"), "-3");
  EXPECT_EQ(ScalarText(*s, "select 7 % 3"), "1");
  Run(*s,
      "create table #n(a int null, b varchar(10) null)\n"
      "insert #n values (NULL, 'x')\ninsert #n values (1, 'y  ')");
  // Without ansinull, = NULL finds NULLs; with it, nothing compares equal to NULL.
  EXPECT_EQ(ScalarText(*s, "select count(*) from #n where a = NULL"), "1");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #n where a <> NULL"), "1");
  Run(*s, "set ansinull on");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #n where a = NULL"), "0");
  Run(*s, "set ansinull off");
  EXPECT_EQ(ScalarText(*s, "select b + '|' from #n where a = 1"), "y|");
  // Trailing blanks do not matter in comparisons.
  EXPECT_EQ(ScalarText(*s, "select count(*) from #n where b = 'y    '"), "1");
  // LIKE is case-sensitive and knows character classes.
  EXPECT_EQ(ScalarText(*s, "select count(*) from #n where b like 'X%'"), "0");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #n where b like '[xy]'"), "2");
  EXPECT_EQ(ScalarText(*s, "select isnull(a, 42) from #n where b = 'x'"), "42");
}

TEST_F(EngineSql, DatetimeLiteralsAndImplicitConversions) {
  Run(*s,
      "create table #d(d datetime, n numeric(8,2))\n"
      "insert #d values ('Dec 29 1999', 10.5)\ninsert #d values ('19991230 10:00', 20)\n"
      "insert #d values ('12/31/1999', 30)");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #d where d = '1999-12-29'"), "1");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #d where d > 'Dec 29 1999 11:00PM'"), "2");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #d where d between '12/30/99' and '1999/12/31'"),
            "2");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #d where n = 20"), "1");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #d where n in (10.5, 30)"), "2");
  EXPECT_EQ(ScalarText(*s, "select datediff(dd, '1999/11/30', '1999/12/29')"), "29");
  EXPECT_EQ(ScalarText(*s, "select stuff('ABCDEF', 2, 4, '*')"), "A*F");
  auto r = Run(*s, "select count(*) from #d where d = 'not a date'");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{249});
}

TEST_F(EngineSql, QueriesOverTheCatalogWithNamesAliasesAndClauses) {
  Run(*s,
      "use pubs2\ncreate table qt(k int, g char(1), v int null)\n"
      "insert qt values (1, 'a', 10)\ninsert qt values (2, 'a', 20)\n"
      "insert qt values (3, 'b', 30)\ninsert qt values (4, 'b', NULL)");
  Run(*s, "use master");
  EXPECT_EQ(ScalarText(*s, "select count(*) from pubs2..qt"), "4");
  EXPECT_EQ(ScalarText(*s, "select count(*) from pubs2.dbo.qt"), "4");
  auto r =
      Run(*s, "select total = sum(v), g from pubs2..qt group by g having sum(v) > 15 order by 2");
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(r.sets[0].columns[0].name, "total");
  ASSERT_EQ(r.sets[0].rows.size(), 2u);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "30");
  EXPECT_EQ(Text(r.sets[0].rows[1][1]), "b");
  r = Run(*s, "select top 2 k from pubs2..qt order by k desc");
  ASSERT_EQ(r.sets[0].rows.size(), 2u);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "4");
  r = Run(*s,
          "select k from pubs2..qt where k = 1 union select k + 10 from pubs2..qt where k = 2 "
          "order by 1");
  ASSERT_EQ(r.sets[0].rows.size(), 2u);
  EXPECT_EQ(Text(r.sets[0].rows[1][0]), "12");
  EXPECT_EQ(ScalarText(*s,
                       "select max(k) from pubs2..qt q where v = (select max(v) from pubs2..qt"
                       " where g = q.g)"),
            "3");
  EXPECT_EQ(ScalarText(*s,
                       "select count(*) from pubs2..qt where exists (select 1 from pubs2..qt"
                       " x where x.k = pubs2..qt.k + 1)"),
            "3");
  EXPECT_EQ(ScalarText(*s, "select avg(k) from pubs2..qt"), "2");  // integer average truncates
  r = Run(*s, "select a.k, b.k from pubs2..qt a join pubs2..qt b on b.k = a.k + 1 where a.k = 1");
  EXPECT_EQ(Text(r.sets[0].rows[0][1]), "2");
  r = Run(*s, "declare @v int\nselect @v = k from pubs2..qt order by k\nselect @v");
  EXPECT_EQ(Text(r.sets.back().rows[0][0]), "4");  // the last row wins
  r = Run(*s,
          "use pubs2\nselect k, v into qt_copy from qt where g = 'b'\n"
          "select count(*) from qt_copy");
  EXPECT_TRUE(r.ErrorNumbers().empty()) << r.messages.back().text;
  EXPECT_EQ(Text(r.sets.back().rows[0][0]), "2");
  r = Run(*s,
          "select c.name, c.status & 8 from syscolumns c, sysobjects o"
          " where o.id = c.id and o.name = 'qt_copy' order by c.colid");
  ASSERT_EQ(r.sets[0].rows.size(), 2u);
  EXPECT_EQ(Text(r.sets[0].rows[1][0]), "v");
  EXPECT_EQ(Text(r.sets[0].rows[1][1]), "8");  // v was nullable and stays so
  Run(*s, "drop table qt\ndrop table qt_copy");
}

TEST_F(EngineSql, VariablesControlFlowAndMessages) {
  auto r = Run(*s,
               "declare @i int, @s varchar(5), @total int\n"
               "select @i = 0, @total = 0\n"
               "while @i < 10\nbegin\n  select @i = @i + 1\n  if @i = 3 continue\n"
               "  if @i > 6 break\n  select @total = @total + @i\nend\n"
               "set @s = 'abcdefgh'\n"
               "if @total = 18 print 'total is %1!', @total else print 'wrong'\n"
               "select @s, @total");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].number, 0);
  EXPECT_EQ(r.messages[0].severity, 10);
  EXPECT_EQ(r.messages[0].text, "total is 18");
  EXPECT_EQ(Text(r.sets.back().rows[0][0]), "abcde");  // converted to varchar(5) on assignment
  EXPECT_EQ(r.sets.back().columns[0].length, 5);

  r = Run(*s, "raiserror 20001 'bad thing %1!', 7\nselect @@error");
  ASSERT_EQ(r.ErrorNumbers(), std::vector<int>{20001});
  EXPECT_EQ(r.messages[0].severity, 16);
  EXPECT_EQ(r.messages[0].text, "bad thing 7");
  EXPECT_EQ(r.dones[0].status & kDoneError, kDoneError);
  EXPECT_EQ(Text(r.sets.back().rows[0][0]), "20001");

  r = Run(*s, "select 1\nreturn\nselect 2");
  EXPECT_EQ(r.sets.size(), 1u);
  r = Run(*s, "declare @x int\nselect @x = 'notanumber'");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{249});
  r = Run(*s, "select @undeclared");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{137});
}

TEST_F(EngineSql, GlobalVariables) {
  EXPECT_NE(ScalarText(*s, "select @@version").find("Adaptive Server Enterprise/"),
            std::string::npos);
  EXPECT_EQ(ScalarText(*s, "select @@servername"), engine_->ServerName());
  EXPECT_EQ(ScalarText(*s, "select @@nestlevel"), "0");
  auto r = Run(*s,
               "create table #g(id int identity, v int)\ninsert #g(v) values (5)\n"
               "insert #g(v) values (6)\nselect @@identity, @@rowcount");
  EXPECT_EQ(Text(r.sets[0].rows[0][0], SqlType::Numeric), "2");
  EXPECT_EQ(Text(r.sets[0].rows[0][1]), "1");
  r = Run(*s, "select v from #g\nselect @@rowcount");
  EXPECT_EQ(Text(r.sets[1].rows[0][0]), "2");
}

TEST_F(EngineSql, ErrorNumbers) {
  auto errorsOf = [&](const std::string& sql) { return Run(*s, sql).ErrorNumbers(); };
  EXPECT_EQ(errorsOf("select from where"), std::vector<int>{156});
  EXPECT_EQ(errorsOf("select 1 +"), std::vector<int>{102});
  EXPECT_EQ(errorsOf("selec 1"), std::vector<int>{2812});  // read as a procedure call
  EXPECT_EQ(errorsOf("select nosuchcolumn from sysobjects"), std::vector<int>{207});
  EXPECT_EQ(errorsOf("select * from nosuchtable"), std::vector<int>{208});
  Run(*s, "create table #e(k int, v varchar(5))\ncreate unique index ek on #e(k)");
  EXPECT_EQ(errorsOf("create table #e(k int)"), std::vector<int>{2714});
  EXPECT_EQ(errorsOf("drop table nosuchtable"), std::vector<int>{3701});
  // NULL into a NOT NULL column: 233 when the statement says so (state 1 given, 2 left out),
  // 515 when it only shows at run time.
  const struct {
    const char* sql;
    int number, state;
  } nulls[] = {
      {"insert #e values (NULL, 'a')", 233, 1},
      {"update #e set k = NULL", 233, 1},
      {"insert #e (v) values ('a')", 233, 2},
      {"declare @n int\ninsert #e values (@n, 'a')", 515, 3},
      {"insert #e (k) select NULL", 515, 3},
  };
  for (const auto& c : nulls) {
    auto r = Run(*s, c.sql);
    ASSERT_EQ(r.ErrorNumbers(), std::vector<int>{c.number}) << c.sql;
    EXPECT_EQ(r.messages.back().state, c.state) << c.sql;
  }
  // @@error is set by every statement: the test of an if clears it.
  EXPECT_EQ(ScalarText(*s, "insert #e values (NULL, 'a')\nselect @@error"), "233");
  EXPECT_EQ(ScalarText(
                *s, "insert #e values (NULL, 'a')\nif @@error != 0 print 'failed'\nselect @@error"),
            "0");
  EXPECT_EQ(Text(Run(*s, "select convert(int, 'abc')\nselect @@error").sets.back().rows[0][0]),
            "249");
  Run(*s, "insert #e values (1, 'a')");
  auto r = Run(*s, "insert #e values (1, 'b')");
  ASSERT_EQ(r.ErrorNumbers(), std::vector<int>{2601});
  EXPECT_NE(r.messages[0].text.find("'ek'"), std::string::npos);
  EXPECT_EQ(errorsOf("select convert(int, 'abc')"), std::vector<int>{249});
  EXPECT_EQ(errorsOf("declare @s varchar(10)\nselect @s = 12"), std::vector<int>{257});
  EXPECT_EQ(errorsOf("select convert(tinyint, 300)")[0] / 10, 24);  // 247 arithmetic overflow
  r = Run(*s, "select 1/0\nselect 2");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{3607});
  EXPECT_TRUE(r.sets.empty() || r.sets.size() == 1);
  EXPECT_EQ(r.dones.size(), 1u) << "arithabort (default on) ends the batch";
  r = Run(*s, "set arithabort arith_overflow off\nselect 1/0\nselect 2");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{3607});
  EXPECT_EQ(Text(r.sets.back().rows[0][0]), "2") << "with arithabort off the batch goes on";
  r = Run(*s, "set arithignore on\nselect 1/0");
  EXPECT_TRUE(r.ErrorNumbers().empty());
  EXPECT_EQ(Text(r.sets.back().rows[0][0]), "NULL");
  Run(*s, "set arithignore off\nset arithabort on");
  // A failing statement ends with an error Done and the batch goes on.
  r = Run(*s, "insert #e values (1, 'c')\nselect count(*) from #e");
  ASSERT_EQ(r.dones.size(), 2u);
  EXPECT_EQ(r.dones[0].status & kDoneError, kDoneError);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "1");
}

TEST_F(EngineSql, UpdateAndDeleteWithJoinsAndDefaults) {
  Run(*s,
      "create table #u(k int, v int default 7, note varchar(10) default 'none' null)\n"
      "create table #w(k int, factor int)\n"
      "insert #u (k) values (1)\ninsert #u (k, v) values (2, 3)\n"
      "insert #w values (1, 10)\ninsert #w values (2, 100)");
  auto r = Run(*s, "select v, note from #u order by k");
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "7");
  EXPECT_EQ(Text(r.sets[0].rows[0][1]), "none");
  r = Run(*s, "update #u set v = v * w.factor from #u, #w w where w.k = #u.k");
  EXPECT_EQ(r.dones.back().count, 2);
  r = Run(*s, "select v from #u order by k");
  EXPECT_EQ(Text(r.sets[0].rows[1][0]), "300");
  r = Run(*s, "delete #u from #u, #w where #w.k = #u.k and #w.factor = 10");
  EXPECT_EQ(r.dones.back().count, 1);
  EXPECT_EQ(ScalarText(*s, "select count(*) from #u"), "1");
  r = Run(*s, "truncate table #u\nselect count(*) from #u");
  EXPECT_EQ(Text(r.sets.back().rows[0][0]), "0");
}

}  // namespace
}  // namespace sampleserver::testing
