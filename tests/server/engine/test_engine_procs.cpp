// Procedure calls in depth, group administration and the SQL Anywhere catalog views' columns.
#include "test_engine_support.h"

namespace sampleserver::testing {
namespace {

class EngineProcs : public Pubs2Test {};

TEST_F(EngineProcs, NestingTransactionCountAndNamesInVariables) {
  auto r = Run(*s,
               "create procedure pr_rec @n int as\n"
               "if @n > 0 begin\n declare @m int\n select @m = @n - 1\n exec pr_rec @m\nend\n"
               "else select @@nestlevel\n");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  r = Run(*s, "exec pr_rec 3");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "4");
  EXPECT_EQ(r.statuses,
            std::vector<int32_t>{0});  // nested calls report their status to the caller only
  r = Run(*s, "exec pr_rec 20");
  EXPECT_EQ(r.ErrorNumbers().front(), 217);  // nesting beyond 16 fails

  Run(*s, "create procedure pr_open as begin tran");
  r = Run(*s, "exec pr_open\nselect @@trancount\nrollback");
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages[0].number, 266);  // the count changed across the call
  EXPECT_EQ(r.messages[0].severity, 10);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "1");

  r = Run(*s, "declare @p varchar(30)\nselect @p = 'pr_rec'\nexec @p 0");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "1");
  r = Run(*s, "declare @rc int\nexec @rc = pr_rec 0");
  EXPECT_TRUE(r.ErrorNumbers().empty());
  Run(*s, "drop procedure pr_rec\ndrop procedure pr_open");
}

TEST_F(EngineProcs, GroupsAndUsers) {
  auto r = Run(*s,
               "exec sp_addgroup pr_grp1\nexec sp_addgroup pr_grp2\n"
               "exec sp_addlogin pr_login, 'pw'\nexec sp_adduser pr_login, pr_user, pr_grp1");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(ScalarText(*s,
                       "select g.name from sysusers u, sysusers g where u.name = 'pr_user'"
                       " and g.uid = u.gid"),
            "pr_grp1");
  Run(*s, "exec sp_changegroup pr_grp2, pr_user");
  EXPECT_EQ(ScalarText(*s,
                       "select g.name from sysusers u, sysusers g where u.name = 'pr_user'"
                       " and g.uid = u.gid"),
            "pr_grp2");
  EXPECT_EQ(Run(*s, "exec sp_adduser no_such_login").ErrorNumbers(), std::vector<int>{17231});
  EXPECT_EQ(Run(*s, "exec sp_addgroup pr_grp1").ErrorNumbers(), std::vector<int>{15023});
  // The new login reaches pubs2 as its user.
  auto other = Login("pr_login", "pw");
  ASSERT_TRUE(other);
  Run(*other, "use pubs2");
  EXPECT_EQ(ScalarText(*other, "select user_name()"), "pr_user");
  EXPECT_EQ(ScalarText(*other, "select show_role()"), "NULL");
}

TEST_F(EngineProcs, AnywhereCatalogViewsDescribeTables) {
  Run(*s,
      "create table sa_t(k int not null, v varchar(12) null, constraint sa_t_pk primary key (k))");
  auto r = Run(*s,
               "select column_name, pkey, nulls, width from SYSCOLUMN c, SYSTABLE t"
               " where t.table_id = c.table_id and t.table_name = 'sa_t' order by column_id");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  ASSERT_EQ(r.sets[0].rows.size(), 2u);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "k");
  EXPECT_EQ(Text(r.sets[0].rows[0][1]), "Y");
  EXPECT_EQ(Text(r.sets[0].rows[1][1]), "N");
  EXPECT_EQ(Text(r.sets[0].rows[1][2]), "Y");
  EXPECT_EQ(Text(r.sets[0].rows[1][3]), "12");
  // The primary key is not a SYSINDEX row in SQL Anywhere.
  EXPECT_EQ(ScalarText(*s, "select count(*) from SYSINDEX where table_id = object_id('sa_t')"),
            "0");
  EXPECT_EQ(ScalarText(*s, "select table_type from SYSTABLE where table_name = 'titleview'"),
            "VIEW      ");
  Run(*s, "drop table sa_t");
}

}  // namespace
}  // namespace sampleserver::testing
