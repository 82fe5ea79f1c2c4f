// Crash safety: the sample server program killed with SIGKILL in the middle of a write workload
// and of a bulk copy, then started again on the same data folder. Every commit a client saw
// acknowledged is there, nothing uncommitted is, a bulk copy keeps exactly its acknowledged
// batches, and the database files open clean (SQLite's integrity check, every table read whole).
#include "engine/storage.h"
#include "tds/tds_ctlib.h"

#include <bkpublic.h>
#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tdstest {
namespace {

namespace fs = std::filesystem;

// The server program as a child process on a data folder.
class ServerProcess {
 public:
  explicit ServerProcess(const std::string& dataDir) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      const char* exe = SAMPLESERVER_EXE;
      ::execl(exe, exe, "--port", "0", "--data", dataDir.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    if (FILE* lines = ::fdopen(out[0], "r")) {
      char line[256] = {};
      unsigned port = 0;
      if (std::fgets(line, sizeof line, lines) &&
          std::sscanf(line, "sampleserver listening on 127.0.0.1:%u", &port) == 1)
        port_ = static_cast<uint16_t>(port);
      std::fclose(lines);
    }
  }
  ~ServerProcess() { Stop(SIGKILL); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  uint16_t Port() const { return port_; }

  // Ends the process with `signal` and reaps it; true when the signal ended it as asked.
  bool Stop(int signal) {
    if (pid_ <= 0) return false;
    ::kill(pid_, signal);
    int status = 0;
    const bool reaped = ::waitpid(pid_, &status, 0) == pid_;
    pid_ = -1;
    return reaped && (signal == SIGKILL ? WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL
                                        : WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

std::unique_ptr<Client> Connected(uint16_t port, bool bulk = false) {
  auto c = std::make_unique<Client>(port);
  CS_BOOL flag = bulk ? CS_TRUE : CS_FALSE;
  ct_con_props(c->Connection(), CS_SET, CS_BULK_LOGIN, &flag, CS_UNUSED, nullptr);
  if (c->Connect() != CS_SUCCEED) return nullptr;
  return c;
}

// A batch the server acknowledged: every result arrived and none failed.
bool Acknowledged(Client& c, const std::string& sql) {
  c.serverMsgs.clear();
  const Outcome o = c.Run(sql);
  if (o.end != CS_END_RESULTS) return false;
  for (CS_INT type : o.types)
    if (type == CS_CMD_FAIL) return false;
  for (const ServerMsg& m : c.serverMsgs)
    if (m.severity > 10) return false;
  return true;
}

std::vector<std::vector<std::string>> Rows(Client& c, const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  const Outcome o = c.Run(sql);
  if (o.sets.size() != 1) {
    ADD_FAILURE() << sql << ": " << (c.serverMsgs.empty() ? "" : c.serverMsgs.back().text);
    return rows;
  }
  for (const auto& r : o.sets[0].rows) {
    rows.emplace_back();
    for (const auto& v : r) rows.back().push_back(v.value_or("NULL"));
  }
  return rows;
}

// The database files open without repair: SQLite's own check finds nothing, and every user
// table of every database reads to its end.
void ExpectDatabasesSound(const std::string& dataDir, Client& c) {
  // Opened as the server opens them (its collation registered, each database under its name for
  // the views that name them), beside the running server.
  const auto path = [&](const char* name) { return (fs::path(dataDir) / name).string() + ".db"; };
  const auto db = sampleserver::storage::Open(path("master"), false);
  for (const char* name : {"tempdb", "pubs2"})
    sampleserver::storage::Exec(db.get(), "ATTACH DATABASE '" + path(name) + "' AS " + name);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db.get(), "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db.get());
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(st, sqlite3_finalize);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");

  for (const char* name : {"master", "tempdb", "pubs2"}) {
    for (const auto& table : Rows(c, std::string("select name from ") + name +
                                         "..sysobjects where type = 'U' order by name")) {
      const std::string qualified = std::string(name) + ".." + table[0];
      const auto counted = Rows(c, "select count(*) from " + qualified);
      ASSERT_EQ(counted.size(), 1u) << qualified;
      const auto all = Rows(c, "select * from " + qualified);
      EXPECT_EQ(std::to_string(all.size()), counted[0][0]) << qualified;
    }
  }
}

class CrashSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/norv_crash_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string dir_;
};

// Four sessions commit two-row transactions, one batch each, while a fifth holds a transaction
// open; the server is killed mid-stream, three times over on the same folder.
TEST_F(CrashSafety, KilledDuringCommitsKeepsExactlyTheAcknowledgedTransactions) {
  constexpr int kWriters = 4;
  constexpr int kKills = 3;
  constexpr int kBeforeKill = 60;  // acknowledged transactions in a round before the kill
  // Per writer: the transactions acknowledged, and the last one sent (its outcome unknown).
  std::vector<std::set<int>> acknowledged(kWriters);
  std::vector<int> lastSent(kWriters, 0);
  int total = 0;
  {
    ServerProcess server(dir_);
    ASSERT_NE(server.Port(), 0);
    auto c = Connected(server.Port());
    ASSERT_TRUE(c);
    ASSERT_TRUE(Acknowledged(*c,
                             "create table pubs2..crash_t (w int not null, n int not null, "
                             "half int not null, pad varchar(200) not null) "
                             "create unique index crash_t_key on pubs2..crash_t (w, n, half) "
                             "create table master..crash_open (n int not null)"));
    ASSERT_TRUE(server.Stop(SIGTERM));
  }
  for (int round = 0; round < kKills; ++round) {
    ServerProcess server(dir_);
    ASSERT_NE(server.Port(), 0);
    // A transaction left open in another database: its rows must never survive.
    auto open = Connected(server.Port());
    ASSERT_TRUE(open);
    ASSERT_TRUE(Acknowledged(*open,
                             "begin tran insert master..crash_open values (1) "
                             "insert master..crash_open values (2)"));
    std::atomic<int> acked{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
      writers.emplace_back([&, w] {
        auto c = Connected(server.Port());
        if (!c) return;
        const std::string pad(150, static_cast<char>('a' + w));
        for (;;) {
          const int n = ++lastSent[w];
          const std::string values = std::to_string(w) + ", " + std::to_string(n) + ", ";
          if (!Acknowledged(*c, "begin tran insert pubs2..crash_t values (" + values + "1, '" +
                                    pad + "') insert pubs2..crash_t values (" + values + "2, '" +
                                    pad + "') commit tran"))
            return;
          acknowledged[w].insert(n);
          ++acked;
        }
      });
    }
    while (acked < kBeforeKill) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(server.Stop(SIGKILL));
    for (auto& t : writers) t.join();
    total += acked;
  }

  ServerProcess server(dir_);
  ASSERT_NE(server.Port(), 0);
  auto c = Connected(server.Port());
  ASSERT_TRUE(c);
  EXPECT_EQ(Rows(*c, "select count(*) from master..crash_open"),
            (std::vector<std::vector<std::string>>{{"0"}}));
  // Both halves of a transaction or neither; every acknowledged one; nothing never sent.
  std::vector<std::map<int, int>> halves(kWriters);
  for (const auto& row : Rows(*c, "select w, n, count(*) from pubs2..crash_t group by w, n"))
    halves.at(static_cast<size_t>(std::stoi(row[0])))[std::stoi(row[1])] = std::stoi(row[2]);
  int inDoubt = 0;
  for (int w = 0; w < kWriters; ++w) {
    for (int n : acknowledged[w]) EXPECT_EQ(halves[w].count(n), 1u) << w << ":" << n;
    for (auto [n, count] : halves[w]) {
      EXPECT_EQ(count, 2) << w << ":" << n;
      EXPECT_LE(n, lastSent[w]) << w;
      if (!acknowledged[w].count(n)) ++inDoubt;
    }
  }
  // Only a transaction in flight at a kill may have gone either way: one per writer and kill.
  EXPECT_LE(inDoubt, kWriters * kKills);
  ExpectDatabasesSound(dir_, *c);
  std::printf("crash safety: %d kills, %d transactions acknowledged and kept, %d in flight kept\n",
              kKills, total, inDoubt);
}

// A bulk copy killed while a batch is on its way keeps the batches acknowledged before it and
// nothing of the unfinished one.
TEST_F(CrashSafety, KilledDuringABulkCopyKeepsTheAcknowledgedBatches) {
  constexpr int kBatch = 500;
  constexpr int kBatches = 4;
  ServerProcess server(dir_);
  ASSERT_NE(server.Port(), 0);
  auto c = Connected(server.Port(), true);
  ASSERT_TRUE(c);
  ASSERT_TRUE(Acknowledged(*c,
                           "use pubs2 create table crash_bulk (id int not null, "
                           "pad varchar(200) not null)"));
  CS_BLKDESC* blk = nullptr;
  ASSERT_EQ(blk_alloc(c->Connection(), BLK_VERSION_100, &blk), CS_SUCCEED);
  std::unique_ptr<CS_BLKDESC, CS_RETCODE (*)(CS_BLKDESC*)> guard(blk, blk_drop);
  ASSERT_EQ(blk_init(blk, CS_BLK_IN, const_cast<char*>("crash_bulk"), CS_NULLTERM), CS_SUCCEED);
  CS_INT id = 0;
  char pad[201] = {};
  CS_INT idLength = sizeof id, padLength = 0;
  CS_DATAFMT f{};
  f.datatype = CS_INT_TYPE;
  f.maxlength = sizeof id;
  f.count = 1;
  ASSERT_EQ(blk_bind(blk, 1, &f, &id, &idLength, nullptr), CS_SUCCEED);
  f.datatype = CS_CHAR_TYPE;
  f.maxlength = sizeof pad - 1;
  ASSERT_EQ(blk_bind(blk, 2, &f, pad, &padLength, nullptr), CS_SUCCEED);
  auto send = [&](int rows) {
    for (int i = 0; i < rows; ++i) {
      ++id;
      padLength = std::snprintf(pad, sizeof pad, "%0180d", id);
      if (blk_rowxfer(blk) != CS_SUCCEED) return false;
    }
    return true;
  };
  for (int b = 0; b < kBatches; ++b) {
    ASSERT_TRUE(send(kBatch));
    CS_INT copied = 0;
    ASSERT_EQ(blk_done(blk, CS_BLK_BATCH, &copied), CS_SUCCEED);
    ASSERT_EQ(copied, kBatch);
  }
  // Most of a batch goes out (the rows fill many packets), then the server dies before its end.
  ASSERT_TRUE(send(kBatch - 1));
  ASSERT_TRUE(server.Stop(SIGKILL));
  CS_INT copied = 0;
  EXPECT_NE(blk_done(blk, CS_BLK_ALL, &copied), CS_SUCCEED);

  ServerProcess restarted(dir_);
  ASSERT_NE(restarted.Port(), 0);
  auto after = Connected(restarted.Port());
  ASSERT_TRUE(after);
  EXPECT_EQ(Rows(*after, "select count(*), min(id), max(id) from pubs2..crash_bulk"),
            (std::vector<std::vector<std::string>>{
                {std::to_string(kBatch * kBatches), "1", std::to_string(kBatch * kBatches)}}));
  ExpectDatabasesSound(dir_, *after);
}

}  // namespace
}  // namespace tdstest
