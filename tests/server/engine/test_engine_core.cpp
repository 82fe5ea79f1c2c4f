// The engine's start, logins, sessions, options and transactions.
#include "test_engine_support.h"

#include <unistd.h>
#include <filesystem>
#include <set>

namespace sampleserver::testing {
namespace {

class EngineCore : public EngineTest {};

TEST_F(EngineCore, CreatesTheSystemDatabasesAndKeepsThemInTheDataFolder) {
  auto dir = std::filesystem::temp_directory_path() / ("engine-core-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  {
    auto engine = Engine::Create({dir.string(), "TESTSRV"});
    EXPECT_EQ(engine->ServerName(), "TESTSRV");
    EXPECT_EQ(engine->Version().rfind("Adaptive Server Enterprise/", 0), 0u);
    for (const char* db : {"master", "tempdb", "pubs2"})
      EXPECT_TRUE(std::filesystem::exists(dir / (std::string(db) + ".db"))) << db;
    LoginRequest r;
    r.user = "sa";
    auto s = engine->Login(r, nullptr);
    ASSERT_TRUE(s);
    auto sink = Run(*s, "create table kept(a int)");
    EXPECT_TRUE(sink.ErrorNumbers().empty());
  }
  {
    // A second start over the same folder finds the table again.
    auto engine = Engine::Create({dir.string(), "TESTSRV"});
    LoginRequest r;
    r.user = "sa";
    auto s = engine->Login(r, nullptr);
    ASSERT_TRUE(s);
    EXPECT_EQ(ScalarText(*s, "select count(*) from sysobjects where name = 'kept'"), "1");
  }
  std::filesystem::remove_all(dir);
}

std::set<std::string> PrivateFolders() {
  std::set<std::string> out;
  for (auto& p : std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
    if (p.path().filename().string().rfind("sampleserver-", 0) == 0) out.insert(p.path().string());
  return out;
}

TEST_F(EngineCore, PrivateFolderIsRemovedWithTheEngine) {
  std::string dir;
  {
    auto engine = Engine::Create({});
    dir = engine->DataDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(PrivateFolders().count(dir)) << dir;
    EXPECT_TRUE(std::filesystem::exists(dir + "/master.db"));
  }
  EXPECT_FALSE(std::filesystem::exists(dir));
}

TEST_F(EngineCore, LoginChecksSyslogins) {
  ServerMessage failure;
  LoginRequest bad;
  bad.user = "nobody";
  EXPECT_EQ(engine_->Login(bad, &failure), nullptr);
  EXPECT_EQ(failure.number, 4002);
  EXPECT_EQ(failure.severity, 14);
  EXPECT_EQ(failure.text.rfind("Login failed.", 0), 0u);

  LoginRequest wrongPassword;
  wrongPassword.user = "sa";
  wrongPassword.password = "secret";
  EXPECT_EQ(engine_->Login(wrongPassword, &failure), nullptr);

  auto sa = Login();
  ASSERT_TRUE(sa);
  EXPECT_EQ(sa->Database(), "master");
  EXPECT_EQ(sa->User(), "sa");
  Run(*sa, "exec sp_addlogin 'carol', 'pw1', 'pubs2'");
  EXPECT_EQ(Login("carol", "bad"), nullptr);
  auto carol = Login("carol", "pw1");
  ASSERT_TRUE(carol);
  EXPECT_EQ(carol->Database(), "pubs2");  // the login's default database
  EXPECT_NE(carol->Spid(), sa->Spid());
  EXPECT_EQ(ScalarText(*carol, "select suser_name()"), "carol");
  EXPECT_EQ(ScalarText(*carol, "select @@spid"), std::to_string(carol->Spid()));
}

TEST_F(EngineCore, UseChangesDatabaseWithEnvChangeAndMessage) {
  auto s = Login();
  auto r = Run(*s, "use pubs2");
  ASSERT_EQ(r.dbChanges.size(), 1u);
  EXPECT_EQ(r.dbChanges[0].first, "pubs2");
  EXPECT_EQ(r.dbChanges[0].second, "master");
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].number, 5701);
  EXPECT_EQ(r.messages[0].severity, 10);
  EXPECT_EQ(r.messages[0].text.rfind("Changed database context to 'pubs2'.", 0), 0u);
  EXPECT_EQ(s->Database(), "pubs2");
  EXPECT_EQ(ScalarText(*s, "select db_name()"), "pubs2");

  r = Run(*s, "use nosuchdb\nselect 1");
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages[0].number, 911);
  EXPECT_NE(r.messages[0].text.find("'nosuchdb'"), std::string::npos);
  EXPECT_TRUE(r.sets.empty()) << "911 ends the batch";
  EXPECT_EQ(s->Database(), "pubs2");
}

// The demonstration's default script, batch by batch.
TEST_F(EngineCore, DemoDefaultScript) {
  auto s = Login();
  auto r = Run(*s, "select db=db_name()\n");
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(r.sets[0].columns[0].name, "db");
  EXPECT_EQ(r.sets[0].columns[0].type, SqlType::VarChar);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "master");

  r = Run(*s,
          "create table #mytable(f1 int, f2 varchar(10))\n"
          "insert #mytable(f1, f2)\n  values (1,'One')\n"
          "insert #mytable(f1, f2)\n  values (2,'Two')\n"
          "select *\nfrom #mytable\n");
  EXPECT_TRUE(r.ErrorNumbers().empty());
  ASSERT_EQ(r.dones.size(), 4u);
  EXPECT_EQ(r.dones[1].status & kDoneCount, kDoneCount);
  EXPECT_EQ(r.dones[1].count, 1);
  ASSERT_EQ(r.sets.size(), 1u);
  ASSERT_EQ(r.sets[0].columns.size(), 2u);
  EXPECT_EQ(r.sets[0].columns[0].name, "f1");
  EXPECT_EQ(r.sets[0].columns[1].type, SqlType::VarChar);
  EXPECT_EQ(r.sets[0].columns[1].length, 10);
  EXPECT_FALSE(r.sets[0].columns[0].nullable);  // Sybase's default is NOT NULL
  ASSERT_EQ(r.sets[0].rows.size(), 2u);
  EXPECT_EQ(Text(r.sets[0].rows[1][1]), "Two");

  r = Run(*s, "declare @i int\nselect @i = 99\nselect i = @i\n");
  ASSERT_EQ(r.sets.size(), 1u) << "the assignment returns no result set";
  EXPECT_EQ(r.sets[0].columns[0].name, "i");
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "99");

  // Variables belong to their batch: the next one may declare the same name, and cannot see it.
  r = Run(*s, "declare @i int\nselect @i = 5\nselect j = @i\n");
  EXPECT_TRUE(r.ErrorNumbers().empty());
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "5");
  r = Run(*s, "select k = @i");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{137});

  r = Run(*s, "select name,id,type\nfrom sysobjects\norder by name");
  ASSERT_EQ(r.sets.size(), 1u);
  std::vector<std::string> names;
  for (const auto& row : r.sets[0].rows) names.push_back(Text(row[0]));
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  bool found = false;
  for (const auto& row : r.sets[0].rows)
    if (Text(row[0]) == "sysobjects") {
      found = true;
      EXPECT_EQ(Text(row[1]), "1");
      EXPECT_EQ(Text(row[2]), "S ");  // char(2), blank-padded
    }
  EXPECT_TRUE(found);
  EXPECT_EQ(r.sets[0].columns[2].type, SqlType::Char);
  EXPECT_EQ(r.sets[0].columns[2].length, 2);
}

TEST_F(EngineCore, TwoSessionsHaveTheirOwnTempTablesAndTransactions) {
  auto a = Login();
  auto b = Login();
  Run(*a, "create table #t(x int)\ninsert #t values (1)");
  Run(*b, "create table #t(x int)\ninsert #t values (2)\ninsert #t values (3)");
  EXPECT_EQ(ScalarText(*a, "select sum(x) from #t"), "1");
  EXPECT_EQ(ScalarText(*b, "select sum(x) from #t"), "5");

  Run(*a, "use pubs2\ncreate table shared_t(x int)");
  Run(*a, "begin tran\ninsert shared_t values (10)");
  EXPECT_EQ(ScalarText(*a, "select @@trancount"), "1");
  EXPECT_EQ(ScalarText(*b, "select @@trancount"), "0");
  // Uncommitted rows stay invisible to the other session.
  EXPECT_EQ(ScalarText(*b, "select count(*) from pubs2..shared_t"), "0");
  Run(*a, "rollback tran");
  EXPECT_EQ(ScalarText(*a, "select count(*) from shared_t"), "0");
  Run(*a, "begin tran\ninsert shared_t values (11)\ncommit tran");
  EXPECT_EQ(ScalarText(*b, "select count(*) from pubs2..shared_t"), "1");
  Run(*a, "drop table shared_t");
}

TEST_F(EngineCore, TransactionNestingAndErrors) {
  auto s = Login();
  Run(*s, "create table #tx(x int)");
  auto r = Run(*s, "begin tran\nbegin tran\nselect @@trancount");
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "2");
  EXPECT_EQ(r.dones.back().status & kDoneInXact, kDoneInXact);
  r = Run(*s, "commit\nselect @@trancount");
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "1");
  r = Run(*s,
          "insert #tx values (1)\nsave tran sp1\ninsert #tx values (2)\n"
          "rollback tran sp1\nselect count(*) from #tx");
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "1");
  r = Run(*s, "rollback\nselect @@trancount");
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "0");
  r = Run(*s, "commit tran");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{3902});
  EXPECT_EQ(r.dones.back().status & kDoneError, kDoneError);
  r = Run(*s, "rollback tran");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{3903});
}

// An arithmetic error under arithabort rolls the whole transaction back, temporary tables too,
// and leaves the session ready for the next one.
TEST_F(EngineCore, ArithmeticAbortRollsBackTheTransaction) {
  auto s = Login();
  Run(*s, "create table #ab(x int)");
  auto r = Run(*s, "begin tran\ninsert #ab values (1)\nselect 1/0");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{3607});
  EXPECT_EQ(ScalarText(*s, "select @@trancount"), "0");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #ab"), "0");
  r = Run(*s, "begin tran\ninsert #ab values (2)\ncommit");
  EXPECT_TRUE(r.ErrorNumbers().empty());
  EXPECT_EQ(ScalarText(*s, "select @@trancount"), "0");
  EXPECT_EQ(ScalarText(*s, "select sum(x) from #ab"), "2");
}

TEST_F(EngineCore, ChainedModeOpensTransactionsImplicitly) {
  auto s = Login();
  Run(*s, "create table #c(x int)\nset chained on");
  EXPECT_EQ(s->GetOption(static_cast<int>(Option::ChainXacts)), std::vector<uint8_t>{1});
  auto r = Run(*s, "insert #c values (1)\nselect @@trancount");
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "1");
  Run(*s, "rollback");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #c"), "0");
  Run(*s, "commit\nset chained off");
}

TEST_F(EngineCore, OptionCommandAndSetStatementsAgree) {
  auto s = Login();
  RecordingSink sink;
  s->SetOption(static_cast<int>(Option::TextSize), std::vector<uint8_t>{0x00, 0x80, 0, 0}, sink);
  EXPECT_EQ(ScalarText(*s, "select @@textsize"), "32768");
  s->SetOption(static_cast<int>(Option::TextSize), std::vector<uint8_t>{5, 0, 0, 0}, sink);
  EXPECT_EQ(ScalarText(*s, "select @@textsize"), "5");
  Run(*s, "create table #tt(t text null)\ninsert #tt values ('abcdefghij')");
  EXPECT_EQ(ScalarText(*s, "select t from #tt"), "abcde");
  Run(*s, "set textsize 0");
  EXPECT_EQ(ScalarText(*s, "select @@textsize"), "32768");

  Run(*s, "set nocount on");
  EXPECT_EQ(s->GetOption(static_cast<int>(Option::NoCount)), std::vector<uint8_t>{1});
  auto r = Run(*s, "insert #tt values ('x')");
  EXPECT_EQ(r.dones.back().status & kDoneCount, 0);
  s->SetOption(static_cast<int>(Option::NoCount), std::nullopt, sink);
  r = Run(*s, "insert #tt values ('y')");
  EXPECT_EQ(r.dones.back().status & kDoneCount, kDoneCount);

  s->SetOption(static_cast<int>(Option::Isolation), std::vector<uint8_t>{3}, sink);
  EXPECT_EQ(ScalarText(*s, "select @@isolation"), "3");
  Run(*s, "set transaction isolation level 1");
  EXPECT_EQ(ScalarText(*s, "select @@isolation"), "1");
  // Date order: numbered 1..6 (mdy dmy ymd ydm myd dym) by the option command.
  s->SetOption(static_cast<int>(Option::DateFormat), std::vector<uint8_t>{2}, sink);
  EXPECT_EQ(ScalarText(*s, "select datepart(dd, convert(datetime, '31/12/2001'))"), "31");
  Run(*s, "set dateformat myd");
  EXPECT_EQ(s->GetOption(static_cast<int>(Option::DateFormat)), std::vector<uint8_t>{5});
  Run(*s, "set dateformat mdy");
  // Options without effect here are accepted and read back as set.
  EXPECT_EQ(s->GetOption(static_cast<int>(Option::ForcePlan)), std::vector<uint8_t>{0});
  s->SetOption(static_cast<int>(Option::ForcePlan), std::vector<uint8_t>{1}, sink);
  EXPECT_EQ(s->GetOption(static_cast<int>(Option::ForcePlan)), std::vector<uint8_t>{1});
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(EngineCore, RowcountLimitsSelectsUpdatesAndDeletes) {
  auto s = Login();
  Run(*s,
      "create table #r(x int)\ninsert #r values (1)\ninsert #r values (2)\n"
      "insert #r values (3)\ninsert #r values (4)");
  Run(*s, "set rowcount 2");
  auto r = Run(*s, "select x from #r order by x");
  EXPECT_EQ(r.sets[0].rows.size(), 2u);
  r = Run(*s, "update #r set x = x + 10");
  EXPECT_EQ(r.dones.back().count, 2);
  r = Run(*s, "delete #r");
  EXPECT_EQ(r.dones.back().count, 2);
  Run(*s, "set rowcount 0");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #r"), "2");
}

TEST_F(EngineCore, FmtonlyDescribesWithoutRunning) {
  auto s = Login();
  Run(*s, "create table #f(a int, b varchar(5) null)");
  auto r = Run(*s, "set fmtonly on\nselect * from #f\ninsert #f values (1, 'x')\nset fmtonly off");
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(r.sets[0].columns.size(), 2u);
  EXPECT_TRUE(r.sets[0].columns[1].nullable);
  EXPECT_TRUE(r.sets[0].rows.empty());
  EXPECT_EQ(ScalarText(*s, "select count(*) from #f"), "0");
}

TEST_F(EngineCore, NoexecAndParseonlySkipStatementsUntilSwitchedOff) {
  auto s = Login();
  auto r = Run(*s, "set noexec on");
  r = Run(*s, "select 1");
  EXPECT_TRUE(r.sets.empty());
  Run(*s, "set noexec off");
  EXPECT_EQ(ScalarText(*s, "select 1"), "1");
}

TEST_F(EngineCore, CancelStopsTheBatch) {
  auto s = Login();
  RecordingSink sink;
  sink.cancelAfterRows = 1;
  s->Execute("select name from sysobjects\nselect 2", sink);
  EXPECT_EQ(sink.sets.size(), 1u);
  EXPECT_EQ(sink.sets[0].rows.size(), 1u);
}

}  // namespace
}  // namespace sampleserver::testing
