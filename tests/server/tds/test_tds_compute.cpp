// Compute rows through FreeTDS's Client-Library against the real engine: CS_COMPUTE_RESULT
// between the row results, ct_compute_info's description and the summary values.
#include "tds_ctlib.h"

#include <string>

namespace tdstest {
namespace {

// The results of one command, rows as "(a,b)" and compute rows as "#id op(col) by cols: values".
std::string Trace(CS_COMMAND* cmd) {
  std::string out;
  CS_INT type = 0;
  while (ct_results(cmd, &type) == CS_SUCCEED) {
    if (type != CS_ROW_RESULT && type != CS_COMPUTE_RESULT) continue;
    std::string head;
    if (type == CS_COMPUTE_RESULT) {
      CS_INT id = 0, n = 0;
      CS_SMALLINT by[8] = {};
      CS_INT byLength = 0;
      EXPECT_EQ(ct_compute_info(cmd, CS_COMP_ID, CS_UNUSED, &id, CS_UNUSED, nullptr), CS_SUCCEED);
      ct_res_info(cmd, CS_NUMDATA, &n, CS_UNUSED, nullptr);
      head = "#" + std::to_string(id);
      for (CS_INT i = 1; i <= n; ++i) {
        CS_INT op = 0, column = 0;
        ct_compute_info(cmd, CS_COMP_OP, i, &op, CS_UNUSED, nullptr);
        ct_compute_info(cmd, CS_COMP_COLID, i, &column, CS_UNUSED, nullptr);
        const char* name = op == CS_OP_SUM     ? "sum"
                           : op == CS_OP_AVG   ? "avg"
                           : op == CS_OP_COUNT ? "count"
                           : op == CS_OP_MIN   ? "min"
                           : op == CS_OP_MAX   ? "max"
                                               : "?";
        head += " " + std::string(name) + "(" + std::to_string(column) + ")";
      }
      EXPECT_EQ(ct_compute_info(cmd, CS_COMP_BYLIST, CS_UNUSED, by, sizeof by, &byLength),
                CS_SUCCEED);
      for (size_t i = 0; i < static_cast<size_t>(byLength) / sizeof(CS_SMALLINT); ++i)
        head += (i ? "," : " by ") + std::to_string(by[i]);
      head += ":";
    }
    for (const auto& row : Client::FetchAll(cmd).rows) {
      std::string text;
      for (const auto& v : row) text += (text.empty() ? "" : ",") + v.value_or("NULL");
      out += head.empty() ? "(" + text + ") " : head + " " + text + " ";
    }
  }
  return out;
}

TEST(TdsCompute, ComputeResultsThroughClientLibrary) {
  auto server = sampleserver::SampleServer::Start(sampleserver::ServerOptions{});
  Client c(server->Port());
  ASSERT_EQ(c.Connect(), CS_SUCCEED);
  Outcome setup = c.Run(
      "create table #t (col1 int not null, col2 char(1) not null, col3 datetime not null)\n"
      "insert #t values (1, 'A', 'Jan  1 2002 10:00AM')\n"
      "insert #t values (2, 'A', 'Jan  2 2002 10:00AM')\n"
      "insert #t values (3, 'A', 'Jan  3 2002 10:00AM')\n"
      "insert #t values (8, 'B', 'Jan  4 2002 10:00AM')\n"
      "insert #t values (9, 'B', 'Jan  5 2002 10:00AM')");
  ASSERT_EQ(setup.end, CS_END_RESULTS);
  ASSERT_TRUE(c.serverMsgs.empty()) << c.serverMsgs[0].text;

  struct Case {
    const char* sql;
    const char* trace;
  };
  const Case cases[] = {
      {"select col1, col2, col3 from #t order by col2 compute sum(col1) by col2 compute max(col3)",
       "(1,A,Jan  1 2002 10:00AM) (2,A,Jan  2 2002 10:00AM) (3,A,Jan  3 2002 10:00AM) "
       "#1 sum(1) by 2: 6 (8,B,Jan  4 2002 10:00AM) (9,B,Jan  5 2002 10:00AM) "
       "#1 sum(1) by 2: 17 #2 max(3): Jan  5 2002 10:00AM "},
      {"select col2, col1 from #t where col1 > 2 compute count(col1), avg(col1), min(col2)",
       "(A,3) (B,8) (B,9) #1 count(2) avg(2) min(1): 3,6,A "},
      {"select col2 from #t where col1 > 100 compute max(col2)", "#1 max(1): NULL "},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.sql);
    CS_COMMAND* cmd = nullptr;
    ASSERT_EQ(ct_cmd_alloc(c.Connection(), &cmd), CS_SUCCEED);
    std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
    ct_command(cmd, CS_LANG_CMD, const_cast<char*>(k.sql), CS_NULLTERM, CS_UNUSED);
    ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
    EXPECT_EQ(Trace(cmd), k.trace);
  }
  EXPECT_TRUE(c.serverMsgs.empty());
  EXPECT_TRUE(c.clientMsgs.empty());
  server->Stop();
}

}  // namespace
}  // namespace tdstest
