// Transact-SQL forms that FreeTDS's tools and clients send: delimited names, national literals,
// and the like.
#include "test_engine_support.h"

#include <chrono>

namespace sampleserver::testing {
namespace {

class EngineClients : public EngineTest {
 protected:
  void SetUp() override {
    s = Login();
    ASSERT_TRUE(s);
  }
  std::unique_ptr<Session> s;
};

TEST_F(EngineClients, SquareBracketsDelimitNamesWhateverQuotedIdentifierSays) {
  Run(*s, "use [pubs2]");
  EXPECT_EQ(ScalarText(*s, "select db_name()"), "pubs2");
  Run(*s, "use master");
  for (const char* opt : {"off", "on"}) {
    Run(*s, std::string("set quoted_identifier ") + opt);
    EXPECT_EQ(
        ScalarText(*s, "select [au_lname] from [pubs2]..[authors] where au_id = '201-45-7781'"),
        "Abernathy")
        << opt;
    EXPECT_EQ(ScalarText(*s, "select count(*) from [pubs2].[dbo].authors"), "25") << opt;
  }
  // A name may hold blanks, keywords and a doubled closing bracket.
  Run(*s, "create table #b ([select] int, [a b]]c] int)\ninsert #b values (1, 2)");
  auto r = Run(*s, "select [a b]]c] from #b where [select] = 1");
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_EQ(r.sets[0].columns[0].name, "a b]c");
  EXPECT_EQ(Text(r.sets[0].rows[0][0]), "2");
  // A bracket inside a string is text, and an unclosed bracket is an unclosed quote.
  EXPECT_EQ(ScalarText(*s, "select '[x]'"), "[x]");
  EXPECT_EQ(Run(*s, "select [abc from #b").ErrorNumbers(), std::vector<int>{105});
  EXPECT_EQ(Run(*s, "use [nosuchdb]").ErrorNumbers(), std::vector<int>{911});
}

// A timestamp column is stamped by every insert and update; tsequal() guards an update against
// a row changed since it was read.
TEST_F(EngineClients, TimestampColumnsAreStampedAndGuardUpdates) {
  Run(*s, "create table #ts (k int, v varchar(10) null, ts timestamp)");
  auto r = Run(*s,
               "insert #ts (k, v) values (1, 'a')\ninsert #ts values (2, 'b', NULL)\n"
               "insert #ts (k) select 3");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  r = Run(*s, "select ts, @@dbts from #ts order by k");
  ASSERT_EQ(r.sets.size(), 1u);
  EXPECT_TRUE(r.sets[0].columns[0].timestamp);
  ASSERT_EQ(r.sets[0].rows.size(), 3u);
  std::vector<Bytes> stamps;
  for (const auto& row : r.sets[0].rows) stamps.push_back(std::get<Bytes>(row[0]));
  EXPECT_EQ(stamps[0].size(), 8u);
  EXPECT_LT(stamps[0], stamps[1]);
  EXPECT_LT(stamps[1], stamps[2]);
  EXPECT_EQ(std::get<Bytes>(r.sets[0].rows[0][1]), stamps[2]);  // @@dbts: the last one given

  const std::string old = "0x" + BytesToHex(stamps[0]);
  r = Run(*s, "update #ts set v = 'x' where k = 1 and tsequal(ts, " + old + ")");
  EXPECT_TRUE(r.ErrorNumbers().empty());
  ASSERT_EQ(r.dones.size(), 1u);
  EXPECT_EQ(r.dones[0].count, 1);
  Bytes now = std::get<Bytes>(Scalar(*s, "select ts from #ts where k = 1"));
  EXPECT_GT(now, stamps[2]);
  // The row changed since `old` was read: the guarded update fails and changes nothing.
  r = Run(*s, "update #ts set v = 'y' where k = 1 and tsequal(ts, " + old + ")");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{532});
  EXPECT_EQ(ScalarText(*s, "select v from #ts where k = 1"), "x");
  EXPECT_EQ(std::get<Bytes>(Scalar(*s, "select ts from #ts where k = 1")), now);
}

TEST_F(EngineClients, NationalLiteralsAreText) {
  EXPECT_EQ(ScalarText(*s, "select N'abc' + n'it''s'"), "abcit's");
  Run(*s, "create table #n (N varchar(10))\ninsert #n values (N'x')");
  EXPECT_EQ(ScalarText(*s, "select N from #n where N = N'x'"), "x");  // N alone is still a name
  Run(*s, "use tempdb");
  auto r = Run(*s, "create proc nat @nv nvarchar(20) = N'hello' as select @nv");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(ScalarText(*s, "exec nat"), "hello");
  Run(*s, "drop proc nat");
  // Only tables are temporary.
  EXPECT_EQ(Run(*s, "create proc #nat as select 1").ErrorNumbers(), std::vector<int>{7});
}

TEST_F(EngineClients, WaitforWaitsUntilCancelled) {
  auto start = std::chrono::steady_clock::now();
  auto r = Run(*s, "waitfor delay '00:00:00.300'\nselect 1");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
  EXPECT_TRUE(r.ErrorNumbers().empty());
  EXPECT_EQ(r.sets.size(), 1u);
  // A cancelled request ends the wait at once (the test would otherwise take a minute).
  RecordingSink cancelled;
  cancelled.cancelAfterRows = 0;
  start = std::chrono::steady_clock::now();
  s->Execute("waitfor delay '00:01:00'", cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(Run(*s, "waitfor delay 'soon'").ErrorNumbers().size(), 1u);
}

}  // namespace
}  // namespace sampleserver::testing
