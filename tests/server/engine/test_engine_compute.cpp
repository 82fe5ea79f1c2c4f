// Compute clauses: where summary rows fall among a select's rows, their values and types, and
// the statements that refuse them.
#include "test_engine_support.h"

namespace sampleserver::testing {
namespace {

class EngineCompute : public EngineTest {
 protected:
  void SetUp() override {
    s = Login();
    ASSERT_TRUE(s);
    auto r =
        Run(*s,
            "create table #c (g char(1), h int, n int, m money null, d numeric(6,2) null, f float,"
            " t datetime)\n"
            "insert #c values ('A', 1, 1, 1.5, 1.25, 0.5, 'Jan  1 2002 10:00AM')\n"
            "insert #c values ('A', 1, 2, 2.25, 2.50, 1.5, 'Jan  2 2002 10:00AM')\n"
            "insert #c values ('A', 2, 3, null, 1.00, 2.5, 'Jan  3 2002 10:00AM')\n"
            "insert #c values ('B', 1, 8, 4, null, 3.5, 'Jan  4 2002 10:00AM')\n"
            "insert #c values ('B', 1, 9, 5, 3.00, 4.5, 'Jan  5 2002 10:00AM')");
    ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  }

  // The reply in order: "r" per row, "<id>:<values>" per compute row.
  static std::string Reply(const RecordingSink& r) {
    std::string out;
    size_t rows = 0, computes = 0;
    for (const auto& e : r.events) {
      if (e == "row") {
        out += "r ";
        ++rows;
      } else if (e == "compute") {
        const auto& [id, values] = r.computeRows[computes++];
        out += std::to_string(id) + ":";
        const auto& cols = r.computeFormats.at(id - 1u).columns;
        for (size_t i = 0; i < values.size(); ++i)
          out += (i ? "," : "") + Text(values[i], cols.at(i).info.type);
        out += " ";
      }
    }
    return out;
  }

  std::unique_ptr<Session> s;
};

TEST_F(EngineCompute, SummaryRowsFollowTheirGroups) {
  struct Case {
    const char* sql;
    const char* reply;
  };
  const Case cases[] = {
      {"select n, g, t from #c order by g compute sum(n) by g compute max(t)",
       "r r r 1:6 r r 1:17 2:Jan  5 2002 10:00AM "},
      // Nested groups: the inner summary comes first where both end, whatever the clause order.
      {"select g, h, n from #c order by g, h compute sum(n) by g compute count(n) by g, h",
       "r r 2:2 r 2:1 1:6 r r 2:2 1:17 "},
      {"select g, m, d, f, n from #c compute count(m), sum(m), avg(d), min(g), max(f), avg(n), "
       "sum(d)",
       "r r r r r 1:4,12.75,1.937500,A,4.5,4,7.75 "},
      {"select n, g alias from #c where n > 1 order by 2 desc compute min(n) by alias",
       "r r 1:8 r r 1:2 "},
      // No rows: a grand total still comes (a count of 0, other aggregates NULL); groups do not.
      {"select g, n from #c where n > 100 order by g compute count(n), sum(n) compute sum(n) by g",
       "1:0,NULL "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    auto r = Run(*s, c.sql);
    ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
    EXPECT_EQ(r.events.at(1), "computefmt");  // the formats precede every row
    EXPECT_EQ(Reply(r), c.reply);
    EXPECT_EQ(r.events.back(), "done");
  }
}

TEST_F(EngineCompute, FormatsNameOperatorsColumnsAndTypes) {
  auto r = Run(*s, "select n, g, d from #c order by g, n compute sum(n), avg(d), max(g) by g, n");
  ASSERT_TRUE(r.ErrorNumbers().empty()) << r.messages[0].text;
  ASSERT_EQ(r.computeFormats.size(), 1u);
  const auto& f = r.computeFormats[0];
  EXPECT_EQ(f.id, 1);
  EXPECT_EQ(f.by, (std::vector<uint16_t>{2, 1}));
  ASSERT_EQ(f.columns.size(), 3u);
  EXPECT_EQ(f.columns[0].op, kComputeSum);
  EXPECT_EQ(f.columns[0].column, 1);
  EXPECT_EQ(f.columns[0].info.type, SqlType::Int);
  EXPECT_EQ(f.columns[1].op, kComputeAvg);
  EXPECT_EQ(f.columns[1].column, 3);
  EXPECT_EQ(f.columns[1].info.type, SqlType::Numeric);
  EXPECT_EQ(f.columns[1].info.scale, 6);
  EXPECT_EQ(f.columns[2].op, kComputeMax);
  EXPECT_EQ(f.columns[2].info.type, SqlType::Char);
}

TEST_F(EngineCompute, RefusedWhereNoRowsCarryIt) {
  const char* refused[] = {
      "select n, g from #c order by n compute sum(n) by g",  // by must lead the order by
      "select n, g from #c order by g, n compute sum(n) by n",
      "select n, g from #c compute sum(n) by g",
      "select n from #c compute sum(h)",  // not in the select list
      "select n into #c2 from #c compute sum(n)",
      "declare @v int select @v = n from #c compute sum(n)",
      "select * from #c where n in (select n from #c compute sum(n))",
      "declare cc cursor for select n from #c compute sum(n)\nopen cc",
  };
  for (const char* sql : refused) {
    SCOPED_TRACE(sql);
    auto r = Run(*s, sql);
    EXPECT_FALSE(r.ErrorNumbers().empty());
    EXPECT_TRUE(r.computeRows.empty());
  }
  auto r = Run(*s, "select n from #c compute sum(n), count(*)");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{156});  // count(*) has no place in compute
  r = Run(*s, "select g, t from #c compute avg(t)");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{409});
}

}  // namespace
}  // namespace sampleserver::testing
