// DDL keeps the Sybase catalog true; the catalog queries and server functions the toolkit sends;
// system procedures, stored procedures and cursors.
#include "test_engine_support.h"

#include <algorithm>

namespace sampleserver::testing {
namespace {

class EngineCatalog : public EngineTest {
 protected:
  void SetUp() override {
    s = Login();
    ASSERT_TRUE(s);
    Run(*s, "use pubs2");
  }
  std::vector<std::string> Column(const std::string& sql, size_t col = 0) {
    auto r = Run(*s, sql);
    EXPECT_TRUE(r.ErrorNumbers().empty()) << sql << ": " << r.messages[0].text;
    std::vector<std::string> out;
    if (r.sets.empty()) return out;
    for (const auto& row : r.sets[0].rows)
      out.push_back(Text(row[col], r.sets[0].columns[col].type));
    return out;
  }
  std::unique_ptr<Session> s;
};

TEST_F(EngineCatalog, CreateTableWritesSysobjectsSyscolumnsAndSysindexes) {
  auto r = Run(*s,
               "create table cat_auth (au_id varchar(11) not null, au_lname varchar(40),"
               " au_fname varchar(20), phone char(12) default 'UNKNOWN', city varchar(20) null,"
               " seq int identity, constraint cat_auth_pk primary key (au_id))\n"
               "create nonclustered index aunmind on cat_auth (au_lname, au_fname)");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(Column("select type from sysobjects where name = 'cat_auth'"),
            std::vector<std::string>{"U "});
  auto cols =
      Column("select c.name from syscolumns c where c.id = object_id('cat_auth') order by colid");
  EXPECT_EQ(cols,
            (std::vector<std::string>{"au_id", "au_lname", "au_fname", "phone", "city", "seq"}));
  // status: 8 nullable, 0x80 identity; type: nullable fixed types use the n forms.
  EXPECT_EQ(Column("select status from syscolumns where id = object_id('cat_auth') order by colid"),
            (std::vector<std::string>{"0", "0", "0", "0", "8", "128"}));
  EXPECT_EQ(Column("select length from syscolumns where id = object_id('cat_auth') order by colid"),
            (std::vector<std::string>{"11", "40", "20", "12", "20", "4"}));
  EXPECT_EQ(
      Column("select usertype from syscolumns where id = object_id('cat_auth') order by colid"),
      (std::vector<std::string>{"2", "2", "2", "1", "2", "7"}));
  EXPECT_NE(
      Column(
          "select cdefault from syscolumns where name = 'phone' and id = object_id('cat_auth')")[0],
      "0");
  auto idx =
      Run(*s,
          "select name, indid, keycnt, status & 2, status & 16, status & 2048 from sysindexes"
          " where id = object_id('cat_auth') order by indid");
  ASSERT_EQ(idx.sets[0].rows.size(), 2u);
  const auto& pk = idx.sets[0].rows[0];
  EXPECT_EQ(Text(pk[0]), "cat_auth_pk");
  EXPECT_EQ(Text(pk[1]), "1");
  EXPECT_EQ(Text(pk[2]), "1");  // clustered: the keys only
  EXPECT_EQ(Text(pk[3]), "2");
  EXPECT_EQ(Text(pk[4]), "16");
  EXPECT_EQ(Text(pk[5]), "2048");
  const auto& nc = idx.sets[0].rows[1];
  EXPECT_EQ(Text(nc[0]), "aunmind");
  EXPECT_EQ(Text(nc[1]), "2");
  EXPECT_EQ(Text(nc[2]), "3");  // nonclustered: keys plus the row id
  EXPECT_EQ(Text(nc[3]), "0");
  EXPECT_EQ(Column("select index_col('cat_auth', 2, 1) + ',' + index_col('cat_auth', 2, 2)"),
            std::vector<std::string>{"au_lname,au_fname"});
  EXPECT_EQ(Column("select index_col('cat_auth', 2, 3)"), std::vector<std::string>{"NULL"});

  // The table data set's index query.
  const std::string T = "cat_auth";
  auto q = Run(*s, "SELECT x.name, x.indid, x.status, INDEX_COL('" + T +
                       "', x.indid, c.colid) "
                       "FROM sysindexes x, syscolumns c WHERE x.id = object_id ('" +
                       T +
                       "') "
                       "AND indid BETWEEN 1 AND 254 AND x.id = c.id  AND c.colid <= x.keycnt "
                       "AND INDEX_COL('" +
                       T + "', x.indid, c.colid)<>'' ORDER BY x.name, x.indid, c.colid ASC");
  ASSERT_TRUE(q.ErrorNumbers().empty()) << q.messages[0].text;
  std::vector<std::string> got;
  for (const auto& row : q.sets[0].rows) got.push_back(Text(row[0]) + ":" + Text(row[3]));
  EXPECT_EQ(
      got, (std::vector<std::string>{"aunmind:au_lname", "aunmind:au_fname", "cat_auth_pk:au_id"}));

  // The same through the SQL Anywhere catalog views.
  auto sa = Run(*s,
                "SELECT index_name, si.index_id, status = 1, column_name FROM SYSTABLE st,"
                " SYSIXCOL sic, SYSCOLUMN sc, SYSINDEX si WHERE st.table_id = sc.table_id"
                " AND si.table_id = sc.table_id AND si.index_id = sic.index_id"
                " AND sc.table_id = sic.table_id AND sc.column_id = sic.column_id"
                " AND st.table_name = 'cat_auth'");
  ASSERT_TRUE(sa.ErrorNumbers().empty()) << sa.messages[0].text;
  got.clear();
  for (const auto& row : sa.sets[0].rows) got.push_back(Text(row[0]) + ":" + Text(row[3]));
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"aunmind:au_fname", "aunmind:au_lname"}));

  // Defaults and identity at work.
  Run(*s, "insert cat_auth (au_id, au_lname, au_fname) values ('1', 'White', 'Johnson')");
  EXPECT_EQ(Column("select phone + '|' + convert(varchar, seq) from cat_auth"),
            std::vector<std::string>{"UNKNOWN     |1"});
  // The catalog query of the table script: a description without rows.
  auto d = Run(*s, "SELECT * FROM cat_auth WHERE 1=2");
  ASSERT_EQ(d.sets[0].columns.size(), 6u);
  EXPECT_TRUE(d.sets[0].columns[5].identity);
  EXPECT_TRUE(d.sets[0].columns[4].nullable);

  r = Run(*s,
          "drop index cat_auth.aunmind\nselect count(*) from sysindexes where id = "
          "object_id('cat_auth')");
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "1");
  std::string id = Column("select object_id('cat_auth')")[0];
  r = Run(*s,
          "drop table cat_auth\nselect object_id('cat_auth'),"
          " (select count(*) from syscolumns where id = " +
              id + ")");
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "NULL");
  EXPECT_EQ(Text(r.sets[0].rows[0][1]), "0");
}

TEST_F(EngineCatalog, ViewsProceduresRulesDefaultsTriggersKeepTheirText) {
  std::string body =
      "select name /*" + std::string(300, 'x') + "*/ from sysobjects where type = 'U'";
  auto r = Run(*s, "create view cat_v as " + body);
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  r = Run(*s,
          "create procedure cat_p @a int, @b int = 5 output as\n"
          "select @b = @a * @b\nselect r = @b\nreturn 3");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  Run(*s,
      "create rule cat_r as @v > 0\ncreate default cat_d as 42\n"
      "create table cat_tr_t(a int)\n"
      "create trigger cat_tr on cat_tr_t for insert as print 'inserted'");
  EXPECT_EQ(
      Column("select type from sysobjects where name in ('cat_v','cat_p','cat_r','cat_d','cat_tr')"
             " order by name"),
      (std::vector<std::string>{"D ", "P ", "R ", "TR", "V "}));
  // Text in 255-byte rows, reassembled in order.
  auto rows = Column("SELECT text FROM syscomments WHERE id=object_id('cat_v') order by colid");
  ASSERT_EQ(rows.size(), 2u);
  std::string joined;
  for (auto& t : rows) joined += t;
  EXPECT_EQ(joined, "create view cat_v as " + body);
  EXPECT_EQ(Column("select count(*) from syscolumns where id = object_id('cat_v')"),
            std::vector<std::string>{"1"});
  EXPECT_EQ(Column("select count(*) from cat_v where name = 'cat_tr_t'"),
            std::vector<std::string>{"1"});
  EXPECT_EQ(Column("select instrig - object_id('cat_tr') from sysobjects where name = 'cat_tr_t'"),
            std::vector<std::string>{"0"});

  // sp_helptext: the line count, then the rows.
  r = Run(*s, "exec sp_helptext cat_p");
  ASSERT_EQ(r.sets.size(), 2u);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "1");
  EXPECT_EQ(Text(r.sets[1].rows[0][0]).rfind("create procedure cat_p", 0), 0u);

  // Stored procedures run: parameters, defaults, output parameters and the return status.
  r = Run(*s, "declare @out int\nselect @out = 7\nexec cat_p 6, @out output\nselect @out");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  ASSERT_EQ(r.statuses, std::vector<int32_t>{3});
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "42");
  EXPECT_EQ(Text(r.sets.back().rows[0][0]), "42");
  bool inProc =
      std::any_of(r.dones.begin(), r.dones.end(), [](const DoneRecord& d) { return d.inProc; });
  EXPECT_TRUE(inProc);
  r = Run(*s, "exec cat_p @a = 2");
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "10");
  r = Run(*s, "exec cat_p");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{201});
  r = Run(*s, "exec no_such_proc");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{2812});

  // Binding a rule and a default to a column.
  r = Run(*s, "exec sp_bindrule cat_r, 'cat_tr_t.a'\nexec sp_binddefault cat_d, 'cat_tr_t.a'");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(
      Column("select domain - object_id('cat_r'), cdefault - object_id('cat_d') from syscolumns"
             " where id = object_id('cat_tr_t')"),
      std::vector<std::string>{"0"});
  Run(*s, "exec sp_unbinddefault 'cat_tr_t.a'");
  EXPECT_EQ(Column("select cdefault from syscolumns where id = object_id('cat_tr_t')"),
            std::vector<std::string>{"0"});

  // Dropping: the objects and their text go.
  r = Run(*s,
          "drop view cat_v\ndrop procedure cat_p\ndrop rule cat_r\ndrop default cat_d\n"
          "drop trigger cat_tr\ndrop table cat_tr_t");
  EXPECT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(Column("select count(*) from sysobjects where name like 'cat[_]%'"),
            std::vector<std::string>{"0"});
  EXPECT_EQ(Run(*s, "drop view cat_v").ErrorNumbers(), std::vector<int>{3701});
}

TEST_F(EngineCatalog, ToolkitCatalogQueries) {
  Run(*s,
      "create table cat_q(a int, b char(3))\ncreate unique index cat_q_a on cat_q(a)\n"
      "exec sp_addtype cat_zip, 'char(5)', 'null'\nexec sp_addgroup cat_grp\n"
      "exec sp_addlogin cat_login, 'pw'\nexec sp_adduser cat_login, cat_user, cat_grp");
  auto dbs = Column("SELECT name FROM master..sysdatabases ORDER BY name");
  EXPECT_EQ(dbs, (std::vector<std::string>{"master", "pubs2", "tempdb"}));
  auto tables = Column("SELECT name FROM sysobjects WHERE type = 'U' ORDER BY name");
  EXPECT_NE(std::find(tables.begin(), tables.end(), "cat_q"), tables.end());
  auto sys = Column("SELECT name FROM sysobjects WHERE type = 'S' ORDER BY name");
  EXPECT_NE(std::find(sys.begin(), sys.end(), "syscolumns"), sys.end());
  auto has = [](const std::vector<std::string>& v, const std::string& x) {
    return std::find(v.begin(), v.end(), x) != v.end();
  };
  auto users = Column("SELECT name FROM sysusers WHERE gid<>uid ORDER BY name");
  EXPECT_TRUE(has(users, "cat_user") && has(users, "dbo"));
  EXPECT_FALSE(has(users, "cat_grp") || has(users, "public"));
  EXPECT_TRUE(std::is_sorted(users.begin(), users.end()));
  auto groups = Column("SELECT name FROM sysusers WHERE gid=uid ORDER BY name");
  EXPECT_TRUE(has(groups, "cat_grp") && has(groups, "public"));
  EXPECT_FALSE(has(groups, "cat_user") || has(groups, "dbo"));
  auto systypes = Column("SELECT name FROM systypes WHERE usertype < 100 ORDER BY name");
  EXPECT_NE(std::find(systypes.begin(), systypes.end(), "varchar"), systypes.end());
  auto usertypes = Column("SELECT name FROM systypes WHERE usertype > 100 ORDER BY name");
  EXPECT_TRUE(has(usertypes, "cat_zip"));
  EXPECT_FALSE(has(usertypes, "varchar"));
  EXPECT_EQ(Column("SELECT name FROM syssegments ORDER BY name"),
            (std::vector<std::string>{"default", "logsegment", "system"}));
  auto names = Column(
      "SELECT so.name + '.' + si.name FROM sysobjects so,sysindexes si WHERE"
      " so.id = si.id  AND si.indid<> 0 AND so.type IN ('U','S') ORDER BY so.name,si.indid");
  EXPECT_NE(std::find(names.begin(), names.end(), "cat_q.cat_q_a"), names.end());
  auto keys = Column(
      "SELECT INDEX_COL(so.name , x.indid, c.colid) FROM sysindexes x, syscolumns c,"
      " sysobjects so WHERE x.id = object_id (so.name) AND indid BETWEEN 1 AND 254"
      " AND x.id = c.id AND so.id = x.id AND c.colid <= x.keycnt"
      " AND INDEX_COL(so.name, x.indid, c.colid)<>'' AND so.name + '.' + x.name ="
      " 'cat_q.cat_q_a' ORDER BY x.name, x.indid, c.colid ASC");
  EXPECT_EQ(keys, std::vector<std::string>{"a"});
  auto sa = Column(
      "SELECT trim(st.table_name + '.' + si.index_name) FROM SYSINDEX si, SYSTABLE st"
      " WHERE st.table_id = si.table_id ORDER BY si.index_id");
  EXPECT_NE(std::find(sa.begin(), sa.end(), "cat_q.cat_q_a"), sa.end());
  EXPECT_EQ(Column("SELECT type FROM sysobjects WHERE name = 'cat_q'"),
            std::vector<std::string>{"U "});
  // A user type as a column type.
  auto r = Run(*s, "create table cat_z(z cat_zip)\nselect z from cat_z");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(r.sets[0].columns[0].type, SqlType::Char);
  EXPECT_GT(r.sets[0].columns[0].usertype, 100);
  EXPECT_TRUE(r.sets[0].columns[0].nullable);
  Run(*s, "drop table cat_q\ndrop table cat_z");
}

TEST_F(EngineCatalog, ServerFunctionsWithTheDemonstrationArguments) {
  Run(*s, "use master");
  EXPECT_EQ(ScalarText(*s, "SELECT col_length(\"sysobjects\",\"name\")"), "30");
  EXPECT_EQ(ScalarText(*s, "SELECT col_name(1,1)"), "name");
  EXPECT_EQ(ScalarText(*s, "SELECT object_name(1)"), "sysobjects");
  EXPECT_EQ(ScalarText(*s, "SELECT object_name(1,4)"), "sysobjects");
  EXPECT_EQ(ScalarText(*s, "SELECT object_id(\"sysobjects\")"), "1");
  EXPECT_EQ(ScalarText(*s, "SELECT object_id(\"pubs2..syscolumns\")"), "3");
  EXPECT_EQ(ScalarText(*s, "SELECT db_id(\"pubs2\")"), "4");
  EXPECT_EQ(ScalarText(*s, "SELECT db_id()"), "1");
  EXPECT_EQ(ScalarText(*s, "SELECT db_name(2)"), "tempdb");
  EXPECT_EQ(ScalarText(*s, "SELECT db_name()"), "master");
  EXPECT_EQ(ScalarText(*s, "SELECT user_name()"), "dbo");
  EXPECT_EQ(ScalarText(*s, "SELECT user_id()"), "1");
  EXPECT_EQ(ScalarText(*s, "SELECT user_name(1)"), "dbo");
  EXPECT_EQ(ScalarText(*s, "SELECT user_id(\"guest\")"), "2");
  EXPECT_EQ(ScalarText(*s, "SELECT suser_id()"), "1");
  EXPECT_EQ(ScalarText(*s, "SELECT suser_name()"), "sa");
  EXPECT_EQ(ScalarText(*s, "SELECT suser_id(\"sa\")"), "1");
  EXPECT_NE(ScalarText(*s, "SELECT show_role()").find("sa_role"), std::string::npos);
  EXPECT_EQ(ScalarText(*s, "SELECT host_name()"), "testhost");
  EXPECT_EQ(ScalarText(*s, "SELECT datediff(day,\"1999/11/30\",\"1999/12/29\")"), "29");
  EXPECT_EQ(ScalarText(*s, "SELECT datepart(month,\"1999/12/29\")"), "12");
  EXPECT_EQ(ScalarText(*s, "SELECT datename(weekday,\"1999/12/29\")"), "Wednesday");
  EXPECT_EQ(ScalarText(*s, "SELECT stuff(\"ABCDEF\",2,4,\"*\")"), "A*F");
  EXPECT_EQ(ScalarText(*s, "SELECT replicate(\"ab\",3)"), "ababab");
  EXPECT_EQ(ScalarText(*s, "SELECT right(\"ABCDEF\",2)"), "EF");
  EXPECT_EQ(ScalarText(*s, "SELECT inttohex(10)"), "0000000A");
  EXPECT_EQ(ScalarText(*s, "SELECT hextoint(\"0x1A4\")"), "420");
  EXPECT_EQ(ScalarText(*s, "SELECT object_id(\"nosuch\")"), "NULL");
  Run(*s, "create table #fn(a int)");
  EXPECT_NE(ScalarText(*s, "SELECT object_id(\"tempdb..#fn\")"), "NULL");
  EXPECT_EQ(ScalarText(*s, "SELECT col_length(\"#fn\",\"a\")"), "4");
}

TEST_F(EngineCatalog, ProtocolCursors) {
  Run(*s,
      "create table cat_cur(k int)\ninsert cat_cur values (1)\ninsert cat_cur values (2)\n"
      "insert cat_cur values (3)\ninsert cat_cur values (4)\ninsert cat_cur values (5)");
  RecordingSink sink;
  int32_t id = s->CursorDeclare("c1", "select k from cat_cur order by k", false, sink);
  ASSERT_NE(id, 0);
  EXPECT_EQ(s->CursorId("c1"), id);
  EXPECT_EQ(s->CursorState(id) & kCursorReadOnly, kCursorReadOnly);
  ASSERT_TRUE(s->CursorSetRows(id, 2, sink));
  EXPECT_EQ(s->CursorRows(id), 2);
  ASSERT_TRUE(s->CursorOpen(id, sink));
  ASSERT_EQ(sink.sets.size(), 1u);
  EXPECT_EQ(sink.sets[0].columns[0].name, "k");
  EXPECT_TRUE(sink.sets[0].rows.empty());
  EXPECT_EQ(s->CursorState(id) & kCursorOpen, kCursorOpen);
  EXPECT_EQ(s->CursorFetch(id, sink), 2);
  EXPECT_EQ(s->CursorFetch(id, sink), 2);
  EXPECT_EQ(s->CursorFetch(id, sink), 1);
  EXPECT_EQ(s->CursorFetch(id, sink), 0);
  EXPECT_EQ(Text(sink.sets[0].rows[4][0]), "5");
  ASSERT_TRUE(s->CursorClose(id, false, sink));
  EXPECT_EQ(s->CursorState(id) & kCursorClosed, kCursorClosed);
  ASSERT_TRUE(s->CursorOpen(id, sink));  // reopen starts over
  EXPECT_EQ(s->CursorFetch(id, sink), 2);
  // Another session's writes are not blocked by the open cursor.
  auto other = Login();
  auto w = Run(*other, "insert pubs2..cat_cur values (6)");
  EXPECT_TRUE(w.ErrorNumbers().empty()) << w.messages[0].text;
  ASSERT_TRUE(s->CursorClose(id, true, sink));
  EXPECT_EQ(s->CursorId("c1"), 0);
  EXPECT_EQ(s->CursorFetch(id, sink), 0);
  EXPECT_FALSE(sink.ErrorNumbers().empty());

  RecordingSink bad;
  int32_t bad2 = s->CursorDeclare("c2", "select nosuch from cat_cur", false, bad);
  EXPECT_EQ(bad2, s->CursorId("c2"));  // declared: the columns are checked at open
  EXPECT_FALSE(s->CursorOpen(s->CursorId("c2"), bad));
  EXPECT_EQ(bad.ErrorNumbers(), std::vector<int>{207});

  // Transact-SQL cursors.
  auto r = Run(*s,
               "declare cc cursor for select k from cat_cur order by k\n"
               "declare @k int, @sum int\nselect @sum = 0\nopen cc\nfetch cc into @k\n"
               "while @@sqlstatus = 0\nbegin\n select @sum = @sum + @k\n fetch cc into @k\nend\n"
               "close cc\ndeallocate cursor cc\nselect @sum");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(Text(r.sets.back().rows[0][0]), "21");
  Run(*s, "drop table cat_cur");
}

TEST_F(EngineCatalog, SpHelpAndSpHelpindex) {
  Run(*s, "create table cat_h(a int, b varchar(9) null)\ncreate index cat_h_b on cat_h(b)");
  auto r = Run(*s, "exec sp_help cat_h");
  ASSERT_GE(r.sets.size(), 2u);
  EXPECT_EQ(Text(r.sets[0].rows[0][2]), "user table");
  ASSERT_EQ(r.sets[1].rows.size(), 2u);
  EXPECT_EQ(Text(r.sets[1].rows[1][1]), "varchar");
  EXPECT_EQ(Text(r.sets[1].rows[1][2]), "9");
  EXPECT_EQ(r.statuses, std::vector<int32_t>{0});
  r = Run(*s, "exec sp_helpindex cat_h");
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "cat_h_b");
  EXPECT_EQ(Text(r.sets[0].rows[0][1]), "b");
  Run(*s, "drop table cat_h");
}

}  // namespace
}  // namespace sampleserver::testing
