// Client input that once took a session or the server down, or ran for minutes: each must end
// in an ordinary error (or result) and leave the session answering.
#include "engine/sqltypes.h"
#include "test_engine_support.h"

#include <chrono>
#include <cmath>
#include <limits>

namespace sampleserver::testing {
namespace {

class EngineRobustness : public Pubs2Test {
 protected:
  // `sql` fails with `number` alone, and the session still answers.
  void ExpectError(const std::string& sql, int number) {
    RecordingSink r = Run(*s, sql);
    EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{number}) << sql.substr(0, 60);
    EXPECT_EQ(ScalarText(*s, "select 1"), "1");
  }
};

std::string Repeated(const std::string& head, const std::string& unit, int n,
                     const std::string& tail = "") {
  std::string out = head;
  for (int i = 0; i < n; ++i) out += unit;
  return out + tail;
}

TEST_F(EngineRobustness, DeepExpressionsAreTooComplexNotACrash) {
  for (int operands : {700, 5000}) ExpectError(Repeated("select 1", "+1", operands - 1), 191);
  ExpectError(Repeated("select 1 where 1 = 1", " or 1 = 1", 700), 191);
  ExpectError("select " + std::string(5000, '(') + "1" + std::string(5000, ')'), 191);
  ExpectError(Repeated("select ", "-(", 3000, "1" + std::string(3000, ')')), 191);
  // What stays within the limits still runs.
  EXPECT_EQ(ScalarText(*s, Repeated("select 1", "+1", 19)), "20");
  EXPECT_EQ(ScalarText(*s, Repeated("select 0.5e0", "+0.5e0", 89)), "45");
  const std::string all = ScalarText(*s, "select count(*) from authors");
  EXPECT_EQ(ScalarText(*s, Repeated("select count(*) from authors where au_id = 'x'",
                                    " or au_id = 'x'", 150, " or au_id <> 'x'")),
            all);
  EXPECT_EQ(ScalarText(*s, Repeated("select count(*) from authors where 1 = 1", " and 1 = 1", 150)),
            all);
  EXPECT_EQ(ScalarText(*s, Repeated("select count(*) from authors where 1 = 1", " and 1 = 1", 150,
                                    " and 1 = 0")),
            "0");
}

TEST_F(EngineRobustness, ExactOverflowIsAnError) {
  for (const char* sql : {
           "select isnull(convert(money, null), 922337203685478)",
           "select $922337203685477 + $922337203685477",
           "select convert(smallmoney, 200000) + convert(smallmoney, 200000)",
           "select -convert(money, -922337203685477.5808)",
           "select -convert(bigint, -9223372036854775808)",
       })
    ExpectError(sql, 3606);
}

TEST_F(EngineRobustness, NegationNeverReadsAsAComment) {
  const struct {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"select -(-1)", "1"},
      {"select - -1", "1"},
      {"select 1 - -1", "2"},
      {"select -(-(-1))", "-1"},
      {"declare @i int select @i = -1 select -@i", "1"},
      {"declare @f float select @f = -1.5 select -@f", "1.5"},
  };
  for (const auto& c : cases) EXPECT_EQ(ScalarText(*s, c.sql), c.expected) << c.sql;
}

TEST_F(EngineRobustness, NonFiniteFloatsAreRefused) {
  ExpectError("select 1e400", 247);
  Run(*s, "create proc robust_float @f float as select @f");
  ParamValue f;
  f.name = "@f";
  f.type = MakeColumnInfo("", *BuiltinType("float", std::nullopt, std::nullopt), true);
  PreparedInfo info;
  RecordingSink prep;
  ASSERT_TRUE(s->Prepare("robust_dyn", "select ?", &info, prep));
  for (double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    f.value = bad;
    RecordingSink call, with, prepared;
    s->CallProcedure("robust_float", {f}, call);
    s->ExecuteWithParams("select @f", {f}, with);
    ParamValue positional = f;
    positional.name.clear();
    s->ExecutePrepared("robust_dyn", {positional}, prepared);
    for (const RecordingSink* r : {&call, &with, &prepared}) {
      EXPECT_EQ(r->ErrorNumbers(), std::vector<int>{247}) << bad;
      EXPECT_TRUE(r->sets.empty());
    }
    EXPECT_EQ(ScalarText(*s, "select 1"), "1");
  }
  Run(*s, "drop proc robust_float");
}

TEST_F(EngineRobustness, ExceedingTheNestingLimitEndsTheWholeChain) {
  Run(*s, "create table robust_calls (n int)");
  Run(*s,
      "create proc robust_p1 as insert robust_calls values (@@nestlevel) exec robust_p1 "
      "exec robust_p1 exec robust_p1");
  const auto start = std::chrono::steady_clock::now();
  RecordingSink r = Run(*s, "exec robust_p1 select 'after'");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{217});
  EXPECT_TRUE(r.sets.empty());  // the rest of the batch does not run
  // One call at each level down to the limit, none after it.
  EXPECT_EQ(ScalarText(*s, "select count(*) from robust_calls"), "16");

  // A trigger that fires itself through another table's trigger ends the same way.
  Run(*s, "create table robust_a (n int) create table robust_b (n int)");
  Run(*s,
      "create trigger robust_ta on robust_a for insert as insert robust_calls values (@@nestlevel) "
      "insert robust_b values (1) insert robust_b values (2)");
  Run(*s,
      "create trigger robust_tb on robust_b for insert as insert robust_a values (1) "
      "insert robust_a values (2)");
  Run(*s, "delete robust_calls");
  r = Run(*s, "insert robust_a values (0) select 'after'");
  EXPECT_EQ(r.ErrorNumbers(), std::vector<int>{217});
  EXPECT_TRUE(r.sets.empty());
  EXPECT_EQ(ScalarText(*s, "select count(*) from robust_calls"), "0");  // rolled back
  EXPECT_EQ(ScalarText(*s, "select 1"), "1");
  Run(*s, "drop proc robust_p1 drop table robust_calls drop table robust_a drop table robust_b");
}

}  // namespace
}  // namespace sampleserver::testing
