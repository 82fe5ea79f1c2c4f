// The sample database as the toolkit reads it, and many sessions at once.
#include "test_engine_support.h"

#include <atomic>
#include <thread>

namespace sampleserver::testing {
namespace {

class EnginePubs2 : public Pubs2Test {};

TEST_F(EnginePubs2, TableDataSetStatements) {
  // The index query of the table data set for authors.
  const std::string T = "authors";
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
  EXPECT_EQ(got,
            (std::vector<std::string>{"auidind:au_id", "aunmind:au_lname", "aunmind:au_fname"}));

  auto r = Run(*s,
               "SELECT au_id, au_lname, au_fname, phone FROM pubs2..authors ORDER BY "
               "au_lname,au_fname DESC");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  ASSERT_GT(r.sets[0].rows.size(), 1u);
  std::vector<std::string> names;
  for (const auto& row : r.sets[0].rows) names.push_back(Text(row[1]));
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  EXPECT_EQ(r.sets[0].columns[0].type, SqlType::VarChar);
  EXPECT_GT(r.sets[0].columns[0].usertype, 100) << "au_id has the user type id";
  EXPECT_EQ(r.sets[0].columns[3].type, SqlType::Char);
  EXPECT_EQ(r.sets[0].columns[3].length, 12);

  std::string first = Text(r.sets[0].rows[0][0]);
  EXPECT_EQ(
      ScalarText(*s, "SELECT COUNT(*) FROM pubs2..authors WHERE 1=1 AND au_id='" + first + "'"),
      "1");
  // The duplicate check's shape with a NULL snapshot value.
  EXPECT_EQ(ScalarText(*s, "SELECT COUNT(*) FROM pubs2.dbo.authors WHERE 1=1 AND au_id IS NULL"),
            "0");
  r = Run(*s, "SELECT * FROM authors WHERE 1=2");
  EXPECT_FALSE(r.sets[0].columns[0].nullable);
  EXPECT_TRUE(r.sets[0].rows.empty());
}

TEST_F(EnginePubs2, ObjectInformationAndProcedures) {
  EXPECT_EQ(ScalarText(*s, "SELECT type FROM sysobjects WHERE name = 'byroyalty'"), "P ");
  auto r = Run(*s, "SELECT text FROM syscomments WHERE id=object_id('byroyalty')");
  ASSERT_FALSE(r.sets[0].rows.empty());
  EXPECT_EQ(Text(r.sets[0].rows[0][0]).rfind("create procedure byroyalty", 0), 0u);
  r = Run(*s, "exec titles_by_type");
  EXPECT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(r.statuses.size(), 1u);
  r = Run(*s, "declare @n int\nexec pub_count '0736', @n output\nselect @n");
  EXPECT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_NE(Text(r.sets.back().rows[0][0]), "NULL");
  r = Run(*s, "select * from titleview");
  EXPECT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_FALSE(r.sets[0].rows.empty());
  // The bound default fills titles.type.
  r = Run(*s,
          "begin tran\ninsert titles (title_id, title, pub_id, contract) values ('ZZ9999', 'Test "
          "title', '1001', 0)\n"
          "select type from titles where title_id = 'ZZ9999'\nrollback");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  EXPECT_EQ(Text(r.sets[0].rows[0][0]).substr(0, 9), "UNDECIDED");
}

TEST_F(EnginePubs2, ManySessionsAtOnce) {
  Run(*s, "create table conc_t(who int, n int)");
  constexpr int kThreads = 8;
  constexpr int kRows = 25;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto me = Login();
      if (!me) {
        ++failures;
        return;
      }
      RecordingSink sink;
      me->Execute("create table #mine(n int)", sink);
      for (int i = 0; i < kRows; ++i) {
        me->Execute("insert #mine values (" + std::to_string(i) +
                        ")\n"
                        "insert pubs2..conc_t values (" +
                        std::to_string(t) + ", " + std::to_string(i) + ")",
                    sink);
      }
      me->Execute("select count(*) from #mine", sink);
      if (!sink.ErrorNumbers().empty() || sink.sets.size() != 1 ||
          Text(sink.sets[0].rows[0][0]) != std::to_string(kRows))
        ++failures;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(ScalarText(*s, "select count(*) from conc_t"), std::to_string(kThreads * kRows));
  Run(*s, "drop table conc_t");
}

}  // namespace
}  // namespace sampleserver::testing
