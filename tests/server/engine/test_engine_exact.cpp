// Numeric, decimal, money and smallmoney through the engine: exact digits, overflow, ordering.
#include "test_engine_support.h"

#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>

namespace sampleserver::testing {
namespace {

class ExactTest : public EngineTest {
 protected:
  void SetUp() override {
    s = Login();
    ASSERT_TRUE(s);
  }
  std::unique_ptr<Session> s;
};

TEST_F(ExactTest, ValuesKeepEveryDigit) {
  struct Case {
    const char* sql;
    const char* text;
  };
  const Case cases[] = {
      {"select convert(varchar(40), convert(money, '922337203685477.5807'), 2)",
       "922337203685477.5807"},
      {"select convert(varchar(40), convert(money, '-922337203685477.5808'), 2)",
       "-922337203685477.5808"},
      {"select convert(varchar(40), convert(money, '12345678901234.5678'), 2)",
       "12345678901234.5678"},
      {"select convert(varchar(40), 12345678901234567.89)", "12345678901234567.89"},
      {"select convert(varchar(40), convert(smallmoney, '-214748.3648'), 2)", "-214748.3648"},
      {"select convert(varchar(50), convert(numeric(38,0), "
       "'99999999999999999999999999999999999999'))",
       "99999999999999999999999999999999999999"},
      {"select convert(varchar(50), convert(numeric(38,37), "
       "'-9.9999999999999999999999999999999999999'))",
       "-9.9999999999999999999999999999999999999"},
      // Arithmetic, mixed scales and types.
      {"select convert(varchar(40), 12345678901234567.89 + 0.01)", "12345678901234567.90"},
      {"select convert(varchar(40), 0.1 + 0.2 - 0.3)", "0.0"},
      {"select convert(varchar(40), 1.5 * -2.25)", "-3.375"},
      {"select convert(varchar(40), convert(money, '922337203685477.5807') - $1, 2)",
       "922337203685476.5807"},
      {"select convert(varchar(40), $10 / 3, 2)", "3.3333"},
      {"select convert(varchar(40), 2.0 / 3)", "0.666667"},
      {"select convert(varchar(40), 7.5 % 2)", "1.5"},
      {"select convert(varchar(40), -(99999999999999999.99) + 1)", "-99999999999999998.99"},
      {"select convert(varchar(40), 123456789012345678 * 10)", "1234567890123456780"},
      {"select convert(varchar(40), round(123.4567, 2))", "123.4600"},
      {"select convert(varchar(40), round(-155.5, -1))", "-160.0"},
      {"select convert(varchar(40), abs(-12345678901234567.89))", "12345678901234567.89"},
      {"select convert(varchar(40), floor(-1.5)) + ' ' + convert(varchar(40), ceiling(1.25))",
       "-2.0 2.00"},
      {"select convert(varchar(40), isnull(convert(numeric(20,2), null), 123456789012345678))",
       "123456789012345678.00"},
  };
  for (const auto& c : cases) EXPECT_EQ(ScalarText(*s, c.sql), c.text) << c.sql;
}

TEST_F(ExactTest, AggregatesAndStoredValuesAreExact) {
  Run(*s, "create table #m (m money, n numeric(38,4), sm smallmoney null)");
  for (const char* v : {"922337203685.4001", "0.0001", "-0.0003", "12345678901.2345"})
    Run(*s, std::string("insert #m values (convert(money, '") + v + "'), convert(numeric(38,4), '" +
                v + "'), null)");
  EXPECT_EQ(ScalarText(*s, "select convert(varchar(40), sum(m), 2) from #m"), "934682882586.6344");
  EXPECT_EQ(ScalarText(*s, "select convert(varchar(40), sum(n)) from #m"), "934682882586.6344");
  EXPECT_EQ(ScalarText(*s, "select convert(varchar(40), avg(n)) from #m"), "233670720646.658600");
  EXPECT_EQ(ScalarText(*s, "select convert(varchar(40), avg(m), 2) from #m"), "233670720646.6586");
  EXPECT_EQ(ScalarText(*s, "select convert(varchar(40), min(n)) from #m"), "-0.0003");
  EXPECT_EQ(ScalarText(*s, "select convert(varchar(40), max(m), 2) from #m"), "922337203685.4001");
  EXPECT_EQ(ScalarText(*s, "select count(*) from #m where m = n"), "4");
  EXPECT_EQ(ScalarText(*s, "select convert(varchar(40), sum(sm)) from #m"), "NULL");
  Run(*s, "create table #big (n numeric(38,10))");
  Run(*s, "insert #big values (9999999999999999999999999999.9999999999)");
  Value v = Scalar(*s, "select n from #big");
  EXPECT_EQ(Text(v), "9999999999999999999999999999.9999999999");
}

TEST_F(ExactTest, OverflowGivesTheArithmeticError) {
  struct Case {
    const char* sql;
    int number;
  };
  const Case cases[] = {
      {"select isnull(convert(money, null), 922337203685478)", 3606},
      {"select convert(money, '922337203685477.5807') + $0.0001", 3606},
      {"select convert(money, '-922337203685477.5808') * 2", 3606},
      {"select -convert(money, '-922337203685477.5808')", 3606},
      {"select convert(smallmoney, 200000) + convert(smallmoney, 200000)", 3606},
      {"select 99999999999999999999999999999999999999 + 1", 3606},
      {"select convert(money, '922337203685478')", 247},
      {"select convert(numeric(5,2), 1000)", 247},
      {"select 1.5 / 0", 3607},
      {"create table #o (n numeric(4,1)) insert #o values (1000)", 247},
  };
  for (const auto& c : cases) {
    RecordingSink sink = Run(*s, c.sql);
    EXPECT_EQ(sink.ErrorNumbers(), std::vector<int>{c.number}) << c.sql;
  }
  RecordingSink sink = Run(*s,
                           "create table #s (m money) insert #s values ($922337203685477)"
                           " insert #s values ($922337203685477) select sum(m) from #s");
  EXPECT_EQ(sink.ErrorNumbers(), std::vector<int>{3606});
}

TEST_F(ExactTest, OrderingComparisonsAndIndexesFollowTheValues) {
  Run(*s,
      "create table #o (id numeric(10,0) identity, n numeric(20,4), m money, f float)"
      " create unique index ix on #o (n)");
  const char* values[] = {"-12345678901234.5678", "-0.0001", "0", "0.5", "2", "10",
                          "12345678901234.5678"};
  for (const char* v :
       {values[4], values[0], values[6], values[2], values[5], values[1], values[3]})
    Run(*s, std::string("insert #o (n, m, f) values (") + v + ", convert(money, '" + v + "'), " +
                v + ")");
  RecordingSink sink = Run(*s, "select convert(varchar(30), n) from #o order by n");
  ASSERT_EQ(sink.sets.size(), 1u);
  ASSERT_EQ(sink.sets[0].rows.size(), 7u);
  const char* sorted[] = {
      "-12345678901234.5678", "-0.0001", "0.0000", "0.5000", "2.0000", "10.0000",
      "12345678901234.5678"};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(Text(sink.sets[0].rows[i][0]), sorted[i]);
  struct Case {
    const char* where;
    int count;
  };
  const Case cases[] = {
      {"n = 2", 1},
      {"n = 2.00", 1},
      {"m = 2", 1},
      {"n = m", 7},
      {"n > 0", 4},
      {"n < -0.00005", 2},
      {"m > 0.5", 3},
      {"f = n", 7},
      {"n between -1 and 2", 4},
      {"n in (10, 0.5, 3)", 2},
      {"m in ($10, $0.50)", 2},
      {"n = '0.5'", 1},
      {"id = 3", 1},
      {"id > 2.5", 5},
      {"n >= 2.0E0", 3},
      {"n in (select m from #o where m < 0)", 2},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ScalarText(*s, std::string("select count(*) from #o where ") + c.where),
              std::to_string(c.count))
        << c.where;
  EXPECT_EQ(ScalarText(*s, "select count(distinct m) from #o"), "7");
  EXPECT_EQ(ScalarText(
                *s, "select count(*) from (select n from #o group by convert(numeric(20,1), n)) d"),
            "6");
  sink = Run(*s, "insert #o (n, m, f) values (2.0, 1, 1)");
  EXPECT_EQ(sink.ErrorNumbers(), std::vector<int>{2601});
  EXPECT_EQ(ScalarText(*s, "select convert(varchar(30), max(m) - min(m), 2) from #o"),
            "24691357802469.1356");
  sink = Run(*s,
             "set identity_insert #o on insert #o (id, n, m, f) values (100, 3, 3, 3) set "
             "identity_insert #o off");
  EXPECT_TRUE(sink.ErrorNumbers().empty());
  EXPECT_EQ(ScalarText(*s, "select convert(varchar(10), n) from #o where id = 100"), "3.0000");
  // Union parts of integer and exact columns meet in one form.
  EXPECT_EQ(ScalarText(*s, "select count(*) from (select 1 v union select 1.0 union select 2) d"),
            "2");
  EXPECT_EQ(
      ScalarText(*s, "select count(*) from (select 1 v union select 1.0 union select 2.5e0) d"),
      "2");
  EXPECT_EQ(ScalarText(*s,
                       "select top 1 convert(varchar(10), v) from (select 10 v union all select "
                       "9.5) d order by v"),
            "9.5");
}

}  // namespace
}  // namespace sampleserver::testing

namespace sampleserver::testing {
namespace {

// A data folder written with floating-point storage is made anew, not misread.
TEST(ExactStorage, OlderDataFolderIsMadeAnew) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("exact-storage-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  auto run = [&](const std::string& sql) {
    auto engine = Engine::Create({dir.string()});
    LoginRequest r;
    r.user = "sa";
    ServerMessage failure;
    auto session = engine->Login(r, &failure);
    RecordingSink sink;
    session->Execute("use pubs2 " + sql, sink);
    return sink;
  };
  EXPECT_TRUE(run("create table marker (a int)").ErrorNumbers().empty());
  EXPECT_TRUE(run("select a from marker").ErrorNumbers().empty());  // kept across runs
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "master.db").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "PRAGMA user_version = 1", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  EXPECT_EQ(run("select a from marker").ErrorNumbers(), std::vector<int>{208});
  RecordingSink sink =
      run("select convert(varchar(20), price) from titles where title_id = 'BU2101'");
  ASSERT_EQ(sink.sets.size(), 1u);
  ASSERT_EQ(sink.sets[0].rows.size(), 1u);
  EXPECT_EQ(Text(sink.sets[0].rows[0][0]), "21.95");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace sampleserver::testing
