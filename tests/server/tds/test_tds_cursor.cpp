// Client-Library cursors: declare, rows, open, fetch in batches, close and deallocate.
#include "tds_ctlib.h"

namespace tdstest {
namespace {

class TdsCursorTest : public TdsServerTest {
 protected:
  void SetUp() override {
    TdsServerTest::SetUp();
    client = Connected();
    ASSERT_EQ(ct_cmd_alloc(client->Connection(), &cmd), CS_SUCCEED);
  }
  void TearDown() override {
    if (cmd) ct_cmd_drop(cmd);
    client.reset();
    TdsServerTest::TearDown();
  }

  Outcome Open(const char* name, const char* select, CS_INT rows) {
    return OpenCursor(cmd, name, select, rows);
  }
  std::vector<CS_INT> FetchAll(CS_INT rows, std::vector<std::pair<CS_INT, std::string>>& out) {
    return FetchIntAndText(cmd, rows, out);
  }
  Outcome Close(CS_INT option) { return CloseCursor(cmd, option); }

  std::unique_ptr<Client> client;
  CS_COMMAND* cmd = nullptr;
};

TEST_F(TdsCursorTest, FetchesInBatchesOfTheRowCount) {
  Outcome o = Open("c1", "select n, name from nums", 10);
  ASSERT_EQ(o.end, CS_SUCCEED);
  ASSERT_EQ(o.types, (std::vector<CS_INT>{CS_CURSOR_RESULT}));
  CS_INT columns = 0;
  ct_res_info(cmd, CS_NUMDATA, &columns, CS_UNUSED, nullptr);
  EXPECT_EQ(columns, 2);
  CS_DATAFMT f{};
  ct_describe(cmd, 2, &f);
  EXPECT_EQ(std::string(f.name), "name");
  EXPECT_EQ(f.maxlength, 12);

  std::vector<std::pair<CS_INT, std::string>> rows;
  EXPECT_EQ(FetchAll(10, rows), (std::vector<CS_INT>{10, 10, 5}));
  ASSERT_EQ(rows.size(), 25u);
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].first, static_cast<CS_INT>(i));
    EXPECT_EQ(rows[i].second, "row" + std::to_string(i));
  }
  Outcome rest;
  Client::Drain(cmd, rest);
  EXPECT_EQ(rest.end, CS_END_RESULTS);
  EXPECT_EQ(std::count(rest.types.begin(), rest.types.end(), CS_CMD_FAIL), 0);

  Outcome closed = Close(CS_DEALLOC);
  EXPECT_EQ(closed.types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE}));
  EXPECT_EQ(closed.end, CS_END_RESULTS);
  EXPECT_TRUE(client->serverMsgs.empty());
  // The connection is in step for ordinary commands afterwards.
  EXPECT_EQ(client->Run("select @@spid").sets.size(), 1u);
}

TEST_F(TdsCursorTest, CloseWithoutDeallocThenReopen) {
  ASSERT_EQ(Open("c2", "select n, name from nums", 5).end, CS_SUCCEED);
  std::vector<std::pair<CS_INT, std::string>> rows;
  CS_INT n[5];
  CS_DATAFMT f{};
  f.datatype = CS_INT_TYPE;
  f.maxlength = sizeof(CS_INT);
  f.count = 5;
  ASSERT_EQ(ct_bind(cmd, 1, &f, n, nullptr, nullptr), CS_SUCCEED);
  CS_INT read = 0;
  ASSERT_EQ(ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &read), CS_SUCCEED);
  EXPECT_EQ(read, 5);
  EXPECT_EQ(n[4], 4);
  ASSERT_EQ(ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT), CS_SUCCEED);

  Outcome closed = Close(CS_UNUSED);
  EXPECT_EQ(closed.types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE}));

  ASSERT_EQ(ct_cursor(cmd, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_RESTORE_OPEN),
            CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  CS_INT type = 0;
  ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
  ASSERT_EQ(type, CS_CURSOR_RESULT);
  std::vector<std::pair<CS_INT, std::string>> again;
  EXPECT_EQ(FetchAll(5, again), (std::vector<CS_INT>{5, 5, 5, 5, 5}));
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again.front().first, 0);  // reopened from the start
  Outcome rest;
  Client::Drain(cmd, rest);
  EXPECT_EQ(Close(CS_DEALLOC).end, CS_END_RESULTS);
}

TEST_F(TdsCursorTest, DeclareErrorIsReportedAndTheConnectionGoesOn) {
  Outcome o = Open("bad", "select * from missing", 10);
  std::vector<CS_INT> types = o.types;
  Outcome rest;
  if (o.end == CS_SUCCEED) Client::Drain(cmd, rest);
  types.insert(types.end(), rest.types.begin(), rest.types.end());
  EXPECT_NE(std::find(types.begin(), types.end(), CS_CMD_FAIL), types.end());
  EXPECT_EQ(std::find(types.begin(), types.end(), CS_CURSOR_RESULT), types.end());
  ASSERT_FALSE(client->serverMsgs.empty());
  EXPECT_EQ(client->serverMsgs[0].number, 208);
  EXPECT_EQ(client->Run("select @@spid").end, CS_END_RESULTS);
}

}  // namespace
}  // namespace tdstest
