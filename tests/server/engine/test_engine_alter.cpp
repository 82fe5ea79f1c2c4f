// ALTER TABLE through the real engine: columns and constraints added and dropped, the rows
// kept and checked, and the catalog kept true.
#include "test_engine_support.h"

namespace sampleserver::testing {
namespace {

class EngineAlter : public Pubs2Test {
 protected:
  void TearDown() override {
    Run(*s, "drop view al_v\ndrop table al_c\ndrop table al_t\ndrop table al_p");
  }
  std::string Rows(const std::string& sql) {
    auto r = Run(*s, sql);
    if (r.sets.empty()) return "<no result> " + (r.messages.empty() ? "" : r.messages[0].text);
    std::string out;
    for (const auto& row : r.sets[0].rows) {
      for (size_t i = 0; i < row.size(); ++i)
        out += (i ? "," : "") + Text(row[i], r.sets[0].columns[i].type);
      out += ";";
    }
    return out;
  }
  // Runs each statement and compares the errors it raised with the expected ones.
  struct Step {
    const char* sql;
    std::vector<int> errors;
  };
  void RunSteps(const std::vector<Step>& steps) {
    for (const auto& st : steps) {
      auto r = Run(*s, st.sql);
      EXPECT_EQ(r.ErrorNumbers(), st.errors)
          << st.sql << ": " << (r.messages.empty() ? "" : r.messages[0].text);
    }
  }
};

TEST_F(EngineAlter, ColumnsAddedAndDroppedKeepRowsAndCatalog) {
  RunSteps({
      {"create table al_t (id numeric(5,0) identity, a int not null, b varchar(10) null)", {}},
      {"create unique index al_ix on al_t (a)", {}},
      {"create view al_v as select a from al_t", {}},
      {"insert al_t (a, b) values (10, 'x')\ninsert al_t (a, b) values (20, 'y')\n"
       "insert al_t (a, b) values (30, 'z')\ndelete al_t where a = 30",
       {}},
      {"alter table al_t add c int", {4997}},  // not null without a default
      {"alter table al_t add c int default 7 not null, d varchar(5) null", {}},
      {"alter table al_t add e numeric(5,0) identity", {7}},  // one identity per table
      {"alter table al_t drop a", {7}},                       // al_ix uses it
      {"alter table al_t drop nosuch", {207}},
      {"alter table al_t lock datarows", {}},
      {"alter table al_t replace a default 1", {7}},  // not made, so not claimed
  });
  EXPECT_EQ(Rows("select id, a, b, c, d from al_t order by id"), "1,10,x,7,NULL;2,20,y,7,NULL;");
  auto columns = "select name from syscolumns where id = object_id('al_t') order by colid";
  EXPECT_EQ(Rows(columns), "id;a;b;c;d;");
  EXPECT_EQ(
      Rows("select count(*) from sysobjects where type = 'D' and deltrig = object_id('al_t')"),
      "1;");
  RunSteps({{"alter table al_t drop b, d", {}}});
  EXPECT_EQ(Rows(columns), "id;a;c;");
  EXPECT_EQ(Rows("select c.name from sysindexes i, sysindexkeys k, syscolumns c"
                 " where i.id = object_id('al_t') and i.name = 'al_ix' and k.id = i.id"
                 " and k.indid = i.indid and c.id = k.id and c.colid = k.colid"),
            "a;");
  // The identity goes on from where it was; the index still holds.
  RunSteps({{"insert al_t (a) values (40)", {}}, {"insert al_t (a) values (40)", {2601}}});
  EXPECT_EQ(Rows("select id, a, c from al_t order by id"), "1,10,7;2,20,7;4,40,7;");
  auto defaults = Run(*s, "exec sp_help al_t");
  ASSERT_GE(defaults.sets.size(), 2u);
  ASSERT_EQ(defaults.sets[1].rows.size(), 3u);
  EXPECT_EQ(Text(defaults.sets[1].rows[2][6]).rfind("al_t_c_", 0), 0u);  // c's default
  RunSteps({{"alter table al_t drop c", {}}});
  EXPECT_EQ(
      Rows("select count(*) from sysobjects where type = 'D' and deltrig = object_id('al_t')"),
      "0;");
  auto help = Run(*s, "exec sp_help al_t");
  ASSERT_GE(help.sets.size(), 2u);
  ASSERT_EQ(help.sets[1].rows.size(), 2u);  // id, a
  EXPECT_EQ(Text(help.sets[1].rows[1][0]), "a");
  EXPECT_EQ(Rows("select sum(a) from al_v"), "70;");  // a view over the table still reads it
  // A new identity numbers the rows already there.
  RunSteps({{"create table al_c (k int not null)", {}},
            {"insert al_c values (30)\ninsert al_c values (10)\ninsert al_c values (20)", {}},
            {"alter table al_c add id numeric(5,0) identity", {}}});
  EXPECT_EQ(Rows("select k, id from al_c order by id"), "30,1;10,2;20,3;");
}

TEST_F(EngineAlter, TemporaryTablesKeepTheirChecksAndDefaults) {
  RunSteps({
      {"create table #al (a int not null, b int null, check (a > 0))", {}},
      {"insert #al values (1, 2)", {}},
      {"alter table #al add c int default 5 not null", {}},
      {"alter table #al drop b", {}},
      {"insert #al (a) values (0)", {548}},
      {"insert #al (a) values (3)", {}},
      {"alter table #al add constraint al_tu unique (a)", {}},
      {"insert #al (a) values (3)", {2601}},
      {"alter table #al add d int null\nalter table #al drop constraint al_tu", {}},
      {"insert #al (a) values (3)", {}},
      {"alter table #al add check (c < 10)", {}},
      {"insert #al (a, c) values (4, 10)", {548}},
  });
  EXPECT_EQ(Rows("select a, c, d from #al order by a"), "1,5,NULL;3,5,NULL;3,5,NULL;");
}

TEST_F(EngineAlter, ConstraintsAreCheckedAgainstRowsAndDropped) {
  RunSteps({
      {"create table al_p (k int not null, v int not null)", {}},
      {"insert al_p values (1, 1)\ninsert al_p values (2, 1)\ninsert al_p values (2, 2)", {}},
      {"alter table al_p add constraint al_pk primary key (k)", {1505}},
      {"alter table al_p add constraint al_ck check (v < 2)", {548}},
      {"alter table al_p add constraint al_u unique (k, v)", {}},
      {"alter table al_p add constraint al_ck2 check (v > 0)", {}},
      {"insert al_p values (3, 0)", {548}},
      {"insert al_p values (2, 2)", {2601}},
      {"create table al_c (k int null, v int null)", {}},
      {"insert al_c values (1, 1)\ninsert al_c values (5, 5)", {}},
      {"alter table al_c add constraint al_fk foreign key (k, v) references al_p (k, v)", {546}},
      {"delete al_c where k = 5", {}},
      {"alter table al_c add constraint al_fk foreign key (k, v) references al_p (k, v)", {}},
      {"insert al_c values (7, 7)", {546}},
      {"insert al_c values (null, 3)", {}},
      {"delete al_p where k = 1", {547}},
      {"drop table al_p", {3712}},
      // A rebuild of the referenced table keeps the key enforced.
      {"alter table al_p add w int null", {}},
      {"delete al_p where k = 1", {547}},
      {"alter table al_p drop constraint al_u", {7}},  // al_fk references its key
      {"alter table al_p add x int null constraint al_xck check (x > 0)", {}},
      {"insert al_p (k, v, x) values (8, 8, 0)", {548}},
  });
  EXPECT_EQ(Rows("select object_id('al_pk'), object_id('al_ck')"), "NULL,NULL;");
  auto bits = "select sysstat2 & 3 from sysobjects where name in ('al_p', 'al_c') order by name";
  EXPECT_EQ(Rows(bits), "2;1;");  // al_c has a foreign key, al_p is referenced
  EXPECT_EQ(Rows("select name, status2 & 2 from sysindexes where id = object_id('al_p')"),
            "al_u,2;");
  EXPECT_EQ(Rows("select name, type from sysobjects where deltrig in (object_id('al_p'),"
                 " object_id('al_c')) order by name"),
            "al_ck2,R ;al_fk,RI;al_xck,R ;");
  RunSteps({
      {"alter table al_p drop constraint al_ck2", {}},
      {"alter table al_p drop constraint al_xck", {}},
      {"insert al_p (k, v) values (3, 0)", {}},
      {"alter table al_c drop constraint al_fk", {}},
      {"delete al_p where k = 1", {}},
      {"alter table al_p drop constraint al_u", {}},
      {"insert al_p (k, v) values (2, 2)", {}},
      {"alter table al_p drop constraint nosuch", {3701}},
      // create table's foreign keys are the same constraints.
      {"create table al_t (r int null, s int null, foreign key (r, s) references al_p (k, v))",
       {7}},
      {"alter table al_p add constraint al_u unique (k, v)", {1505}},
      {"delete al_p where k = 2 and v = 2", {}},
      {"alter table al_p add constraint al_u unique (k, v)", {}},
      {"create table al_t (r int null, s int null, foreign key (r, s) references al_p (k, v))", {}},
      {"insert al_t values (9, 9)", {546}},
      {"insert al_t values (2, 1)", {}},
  });
  EXPECT_EQ(Rows("select count(*) from sysobjects where deltrig = object_id('al_p')"), "0;");
  // al_t's foreign key goes with it, and so do the marks.
  RunSteps({{"drop table al_t", {}}, {"delete al_p", {}}});
  EXPECT_EQ(Rows(bits), "0;0;");
}

}  // namespace
}  // namespace sampleserver::testing
