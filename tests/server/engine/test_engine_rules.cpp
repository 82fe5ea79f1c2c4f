// Integrity the engine enforces on writes: rules, check constraints, identity, user types; and
// conversions and unions whose types the engine works out.
#include "test_engine_support.h"

namespace sampleserver::testing {
namespace {

class EngineRules : public Pubs2Test {};

TEST_F(EngineRules, BoundRulesJudgeInsertedValues) {
  auto r = Run(*s,
               "create rule rl_code as @code like '[A-Z][0-9]' or @code = 'ZZ'\n"
               "create table rl_t(code char(2), n int)\n"
               "exec sp_bindrule rl_code, 'rl_t.code'");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_TRUE(Run(*s, "insert rl_t values ('A1', 1)").ErrorNumbers().empty());
  EXPECT_TRUE(Run(*s, "insert rl_t values ('ZZ', 2)").ErrorNumbers().empty());
  r = Run(*s, "insert rl_t values ('a1', 3)");
  ASSERT_EQ(r.ErrorNumbers(), std::vector<int>{552});
  EXPECT_NE(r.messages[0].text.find("column 'code'"), std::string::npos);
  EXPECT_EQ(ScalarText(*s, "select count(*) from rl_t"), "2");
  EXPECT_EQ(Run(*s, "update rl_t set code = 'b2' where n = 1").ErrorNumbers(),
            std::vector<int>{552});
  EXPECT_TRUE(Run(*s, "update rl_t set code = 'B2' where n = 1").ErrorNumbers().empty());
  Run(*s, "exec sp_unbindrule 'rl_t.code'");
  EXPECT_TRUE(Run(*s, "insert rl_t values ('a1', 3)").ErrorNumbers().empty());
  Run(*s, "drop table rl_t\ndrop rule rl_code");
}

TEST_F(EngineRules, CheckConstraintsAndIdentityInsert) {
  auto r =
      Run(*s, "create table ck_t(id int identity, qty int check (qty > 0), name varchar(10) null)");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_TRUE(Run(*s, "insert ck_t (qty) values (5)").ErrorNumbers().empty());
  EXPECT_EQ(Run(*s, "insert ck_t (qty) values (0)").ErrorNumbers(), std::vector<int>{548});
  EXPECT_EQ(Run(*s, "insert ck_t (id, qty) values (10, 1)").ErrorNumbers(), std::vector<int>{584});
  r = Run(*s,
          "set identity_insert ck_t on\ninsert ck_t (id, qty) values (10, 1)\n"
          "set identity_insert ck_t off\ninsert ck_t (qty) values (2)\n"
          "select id from ck_t order by id");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  std::vector<std::string> ids;
  for (const auto& row : r.sets[0].rows) ids.push_back(Text(row[0]));
  EXPECT_EQ(ids, (std::vector<std::string>{"1", "10", "11"}));  // identities continue past 10
  EXPECT_EQ(Run(*s, "update ck_t set id = 3").ErrorNumbers(), std::vector<int>{4404});
  EXPECT_EQ(Run(*s, "set identity_insert rl_none on").ErrorNumbers(), std::vector<int>{208});
  Run(*s, "drop table ck_t");
  EXPECT_EQ(ScalarText(*s, "select count(*) from sysobjects where name like 'ck[_]t%'"), "0");
}

TEST_F(EngineRules, UserTypesCarryTheirNullabilityAndAreDropped) {
  auto r = Run(*s,
               "exec sp_addtype ut_code, 'varchar(4)', 'null'\n"
               "exec sp_addtype ut_strict, 'numeric(6,2)', 'not null'\n"
               "create table ut_t(a ut_code, b ut_strict)\nselect a, b from ut_t");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  const auto& c = r.sets.back().columns;
  EXPECT_TRUE(c[0].nullable);
  EXPECT_EQ(c[0].length, 4);
  EXPECT_FALSE(c[1].nullable);
  EXPECT_EQ(c[1].type, SqlType::Numeric);
  EXPECT_EQ(c[1].precision, 6);
  EXPECT_EQ(c[1].scale, 2);
  EXPECT_EQ(c[0].usertype + 1, c[1].usertype);
  EXPECT_EQ(Run(*s, "exec sp_addtype ut_code, 'int'").ErrorNumbers(), std::vector<int>{17001});
  EXPECT_EQ(Run(*s, "create table ut_bad(a no_such_type)").ErrorNumbers(), std::vector<int>{2715});
  Run(*s, "drop table ut_t\nexec sp_droptype ut_code\nexec sp_droptype ut_strict");
  EXPECT_EQ(ScalarText(*s, "select count(*) from systypes where name like 'ut[_]%'"), "0");
}

TEST_F(EngineRules, ConversionsUnionsAndNames) {
  EXPECT_EQ(ScalarText(*s, "select convert(varchar(10), convert(datetime, '1999/12/29'), 101)"),
            "12/29/1999");
  EXPECT_EQ(ScalarText(*s, "select convert(char(20), convert(datetime, 'Dec 29 1999 4:05PM'))"),
            "Dec 29 1999  4:05PM ");
  EXPECT_EQ(ScalarText(*s, "select convert(numeric(5,1), 12.36)"), "12.4");
  EXPECT_EQ(ScalarText(*s, "select cast(7 as varchar(3)) + 'x'"), "7x");
  auto r = Run(*s, "select 'a' union all select 'abcd' union all select 'ab'");
  ASSERT_EQ(r.sets[0].rows.size(), 3u);
  EXPECT_EQ(r.sets[0].columns[0].length, 4);  // the widest part describes the column
  r = Run(*s, "create table #x(k int)\ncreate table #y(k int)\nselect k from #x, #y");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{209});
  r = Run(*s, "select k into #z from #x\nselect count(*) from #z");
  EXPECT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  r = Run(*s, "select nosuch.k from #x");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{107});
  r = Run(*s, "select no_such_function(1)");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{14216});
  // Names are case-sensitive, as on a binary sort order.
  r = Run(*s, "select * from AUTHORS");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{208});
  // Double quotes are strings unless quoted_identifier is on.
  EXPECT_EQ(ScalarText(*s, "select \"au_id\""), "au_id");
  Run(*s, "set quoted_identifier on");
  r = Run(*s, "select \"au_id\" from authors where 1 = 2");
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(r.sets[0].columns[0].name, "au_id");  // the column, not a string
  EXPECT_GT(r.sets[0].columns[0].usertype, 100);
  Run(*s, "set quoted_identifier off");
}

}  // namespace
}  // namespace sampleserver::testing
