// A Client-Library client against the real engine: cursors in row batches (read-only and for
// update), format-only, cancel in the middle of a result or of a lock wait, and concurrent
// sessions with their own temporary tables and transactions.
#include "tds_ctlib.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace tdstest {
namespace {

using Row = std::vector<std::optional<std::string>>;

class TdsRealSessions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = sampleserver::SampleServer::Start({}); }
  static void TearDownTestSuite() {
    server_->Stop();
    server_.reset();
  }
  static std::unique_ptr<Client> Connected() {
    auto c = std::make_unique<Client>(server_->Port());
    EXPECT_EQ(c->Connect(), CS_SUCCEED);
    return c;
  }
  static inline std::unique_ptr<sampleserver::SampleServer> server_;
};

// The authors table's columns, in order, as (colid, name) rows.
const char* const kAuthorColumns =
    "select colid, name from pubs2..syscolumns where id = object_id('pubs2..authors') "
    "order by colid";

TEST_F(TdsRealSessions, CursorsFetchInBatchesReadOnlyAndForUpdate) {
  auto client = Connected();
  const Outcome plain = client->Run(kAuthorColumns);
  ASSERT_EQ(plain.sets.size(), 1u);
  const size_t columns = plain.sets[0].rows.size();
  ASSERT_GE(columns, 5u);

  for (CS_INT option : {CS_READ_ONLY, CS_FOR_UPDATE}) {
    CS_COMMAND* cmd = nullptr;
    ASSERT_EQ(ct_cmd_alloc(client->Connection(), &cmd), CS_SUCCEED);
    std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
    const Outcome open = OpenCursor(cmd, "authors_cols", kAuthorColumns, 4, option);
    ASSERT_EQ(open.end, CS_SUCCEED);
    ASSERT_EQ(open.types.back(), CS_CURSOR_RESULT);
    std::vector<std::pair<CS_INT, std::string>> rows;
    const std::vector<CS_INT> batches = FetchIntAndText(cmd, 4, rows);
    // Whole batches of four, then the rest.
    ASSERT_EQ(rows.size(), columns);
    for (size_t i = 0; i + 1 < batches.size(); ++i) EXPECT_EQ(batches[i], 4);
    EXPECT_EQ(batches.back(), static_cast<CS_INT>(columns % 4 == 0 ? 4 : columns % 4));
    for (size_t i = 0; i < columns; ++i) {
      EXPECT_EQ(rows[i].first, static_cast<CS_INT>(i + 1));
      EXPECT_EQ(rows[i].second, plain.sets[0].rows[i][1].value_or("?"));
    }
    Outcome rest;
    Client::Drain(cmd, rest);
    const Outcome closed = CloseCursor(cmd, CS_DEALLOC);
    EXPECT_NE(std::find(closed.types.begin(), closed.types.end(), CS_CMD_SUCCEED),
              closed.types.end());
  }
  // The session is in step afterwards.
  EXPECT_EQ(client->Run("select 7").sets.at(0).rows, (std::vector<Row>{{"7"}}));
}

TEST_F(TdsRealSessions, FormatOnlyDescribesWithoutRows) {
  auto client = Connected();
  CS_BOOL on = CS_TRUE;
  ASSERT_EQ(ct_options(client->Connection(), CS_SET, CS_OPT_FORMATONLY, &on, CS_UNUSED, nullptr),
            CS_SUCCEED);
  const Outcome o = client->Run("select au_id, au_lname from pubs2..authors");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_TRUE(o.sets[0].rows.empty());
  ASSERT_EQ(o.sets[0].formats.size(), 2u);
  EXPECT_STREQ(o.sets[0].formats[1].name, "au_lname");

  CS_BOOL off = CS_FALSE;
  ASSERT_EQ(ct_options(client->Connection(), CS_SET, CS_OPT_FORMATONLY, &off, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_FALSE(client->Run("select au_id from pubs2..authors").sets.at(0).rows.empty());
}

// A statement waiting for another session's lock stops waiting at once when its client sends
// an attention (the session goes on) or goes away (the session ends).
TEST_F(TdsRealSessions, AttentionOrADroppedConnectionEndsALockWait) {
  auto holder = Connected();
  holder->Run("create table tempdb..lw_t (v int not null) insert tempdb..lw_t values (1)");
  for (bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "dropped connection" : "attention");
    holder->Run("begin tran update tempdb..lw_t set v = v + 1");
    auto waiter = Connected();
    const std::string spid = waiter->Run("select @@spid").sets.at(0).rows.at(0).at(0).value();
    const std::string state = "select rtrim(status) from master..sysprocesses where spid = " + spid;
    CS_COMMAND* cmd = nullptr;
    ASSERT_EQ(ct_cmd_alloc(waiter->Connection(), &cmd), CS_SUCCEED);
    std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
    char update[] = "update tempdb..lw_t set v = v + 10";
    ASSERT_EQ(ct_command(cmd, CS_LANG_CMD, update, CS_NULLTERM, CS_UNUSED), CS_SUCCEED);
    ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
    for (int i = 0;
         i < 100 && holder->Run(state).sets.at(0).rows != std::vector<Row>{{"lock sleep"}}; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(holder->Run(state).sets.at(0).rows, (std::vector<Row>{{"lock sleep"}}));
    const auto start = std::chrono::steady_clock::now();
    // Should the wait not end, the holder ends it after a while: the test fails, not hangs.
    std::atomic<bool> ended{false};
    std::thread watchdog([&] {
      for (int i = 0; i < 250 && !ended; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (!ended) holder->Run("commit tran");
    });
    if (drop) {
      ASSERT_EQ(ct_close(waiter->Connection(), CS_FORCE_CLOSE), CS_SUCCEED);
      for (int i = 0; i < 100 && !holder->Run(state).sets.at(0).rows.empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      EXPECT_TRUE(holder->Run(state).sets.at(0).rows.empty()) << "the session lives on";
    } else {
      ASSERT_EQ(ct_cancel(nullptr, cmd, CS_CANCEL_ALL), CS_SUCCEED);
      EXPECT_EQ(waiter->Run("select @@trancount").sets.at(0).rows, (std::vector<Row>{{"0"}}));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    ended = true;
    watchdog.join();
    holder->Run("commit tran");
    EXPECT_EQ(holder->Run("select v from tempdb..lw_t").sets.at(0).rows,
              (std::vector<Row>{{drop ? "3" : "2"}}));
  }
}

TEST_F(TdsRealSessions, CancelInTheMiddleOfALargeResultLeavesTheSessionUsable) {
  auto client = Connected();
  client->Run("create table #ten (n int not null)");
  for (int i = 0; i < 10; ++i) client->Run("insert #ten values (" + std::to_string(i) + ")");
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client->Connection(), &cmd), CS_SUCCEED);
  std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
  const std::string big =
      "select a.n, b.n, c.n, d.n, e.n, f.n from #ten a, #ten b, #ten c, "
      "#ten d, #ten e, #ten f";  // a million rows
  ASSERT_EQ(ct_command(cmd, CS_LANG_CMD, const_cast<char*>(big.c_str()), CS_NULLTERM, CS_UNUSED),
            CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  CS_INT type = 0;
  ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
  ASSERT_EQ(type, CS_ROW_RESULT);
  const ResultSet first = Client::FetchAll(cmd, 100);
  EXPECT_EQ(first.rows.size(), 100u);
  ASSERT_EQ(ct_cancel(nullptr, cmd, CS_CANCEL_ALL), CS_SUCCEED);
  EXPECT_EQ(client->Run("select count(*) from #ten").sets.at(0).rows, (std::vector<Row>{{"10"}}));
}

TEST_F(TdsRealSessions, SixteenSessionsKeepTheirOwnTempTablesAndTransactions) {
  constexpr int kSessions = 16;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int s = 0; s < kSessions; ++s) {
    threads.emplace_back([s, &failures] {
      auto client = std::make_unique<Client>(server_->Port());
      if (client->Connect() != CS_SUCCEED) {
        ++failures;
        return;
      }
      auto value = [&](const std::string& sql) -> std::string {
        const Outcome o = client->Run(sql);
        if (o.sets.empty() || o.sets.back().rows.empty()) return "<none>";
        return o.sets.back().rows[0][0].value_or("<null>");
      };
      client->Run("create table #mine (owner int not null)");
      client->Run("begin tran");
      for (int i = 0; i <= s; ++i) client->Run("insert #mine values (" + std::to_string(s) + ")");
      const bool ok =
          value("select @@trancount") == "1" &&
          value("select count(*) from #mine") == std::to_string(s + 1) &&
          value("select count(*) from #mine where owner <> " + std::to_string(s)) == "0";
      // Even sessions roll back, odd ones commit: each sees only its own outcome.
      client->Run(s % 2 == 0 ? "rollback tran" : "commit tran");
      const std::string expected = s % 2 == 0 ? "0" : std::to_string(s + 1);
      if (!ok || value("select @@trancount") != "0" ||
          value("select count(*) from #mine") != expected)
        ++failures;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace tdstest
