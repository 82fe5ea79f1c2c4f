// Lock waits between sessions: a writer waits for another's transaction, set lock wait bounds
// the wait with message 12205, a cycle of waits makes one victim (1205), a cancel ends a wait.
#include "test_engine_support.h"

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace sampleserver::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A sink the test cancels from outside, as an attention from the client would.
class CancellableSink : public RecordingSink {
 public:
  bool Cancelled() const override { return cancel.load(); }
  std::atomic<bool> cancel{false};
};

class LockWaits : public EngineTest {
 protected:
  void SetUp() override {
    a = Login();
    b = Login();
    ASSERT_TRUE(a && b);
    for (const char* db : {"pubs2", "tempdb"}) {
      const std::string t = std::string(db) + "..lk_t";
      Run(*a, "if object_id('" + t + "') is null create table " + t +
                  " (k int primary key, v int)\ndelete " + t + "\ninsert " + t + " values (1, 10)");
    }
    Run(*a, "use pubs2");
    Run(*b, "use pubs2");
  }
  void TearDown() override {
    // Whatever a test left open ends with its sessions.
    a.reset();
    b.reset();
  }

  // A batch run on another thread: the one that is to wait. Should the test stop early, the
  // holder's transaction ends first so that the wait ends too.
  struct Waiter {
    std::future<RecordingSink> result;
    Session* holder;
    ~Waiter() {
      if (result.valid() && result.wait_for(0s) != std::future_status::ready)
        Run(*holder, "rollback tran");
    }
    std::future_status WaitFor(std::chrono::milliseconds d) { return result.wait_for(d); }
  };
  static Waiter Start(Session& s, std::string sql, Session& holder) {
    return {std::async(std::launch::async, [&s, sql] { return Run(s, sql); }), &holder};
  }
  // Returns once `spid` waits for a lock, as the server's process list shows: a test whose
  // outcome depends on who waits first must not rely on timing.
  void AwaitBlocked(const std::string& spid) {
    auto c = Login();
    const std::string sql = "select blocked from master..sysprocesses where spid = " + spid;
    for (int i = 0; i < 1000 && ScalarText(*c, sql) == "0"; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_NE(ScalarText(*c, sql), "0") << "session " << spid << " never waited";
  }
  std::string Value(const std::string& sql) {
    auto c = Login();
    return ScalarText(*c, sql);
  }
  static std::string Errors(const RecordingSink& r) {
    std::string out;
    for (int n : r.ErrorNumbers()) out += std::to_string(n) + " ";
    return out;
  }

  std::unique_ptr<Session> a, b;
};

// The waiter completes once the holder's transaction ends, and then sees what it left.
TEST_F(LockWaits, WriterWaitsUntilTheHolderEnds) {
  struct Case {
    const char* before;  // the waiter's batch before it meets the lock
    const char* waiter;
    const char* holderEnds;
    const char* value;  // pubs2..lk_t.v afterwards
  } cases[] = {
      {"", "update lk_t set v = v + 1", "commit tran", "101"},
      {"", "update lk_t set v = v + 1", "rollback tran", "11"},
      // A transaction that read the table before the holder changed it still waits and wins.
      {"begin tran select v from lk_t", "update lk_t set v = v + 1 commit tran", "commit tran",
       "101"},
      // ... and keeps its savepoints.
      {"begin tran save tran s1 select v from lk_t",
       "update lk_t set v = v + 1 rollback tran s1 commit tran", "commit tran", "100"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.waiter + std::string(" / ") + c.holderEnds);
    Run(*a, "update lk_t set v = 10");
    Run(*b, c.before);
    ASSERT_EQ(Errors(Run(*a, "begin tran update lk_t set v = 100")), "");
    auto waiting = Start(*b, c.waiter, *a);
    ASSERT_EQ(waiting.WaitFor(300ms), std::future_status::timeout) << "did not wait";
    // sysprocesses shows who waits for whom.
    const std::string spid = std::to_string(b->Spid());
    EXPECT_EQ(Value("select status + ' ' + convert(varchar, blocked) from master..sysprocesses"
                    " where spid = " +
                    spid),
              "lock sleep " + std::to_string(a->Spid()));
    Run(*a, c.holderEnds);
    ASSERT_EQ(waiting.WaitFor(5s), std::future_status::ready);
    EXPECT_EQ(Errors(waiting.result.get()), "");
    EXPECT_EQ(Value("select v from pubs2..lk_t"), c.value);
    EXPECT_EQ(ScalarText(*b, "select @@trancount"), "0");
  }
}

// set lock wait n / set lock nowait bound the wait; the statement fails with 12205 and its
// transaction is rolled back. set lock wait alone waits for as long as it takes again.
TEST_F(LockWaits, LockWaitSettingBoundsTheWait) {
  struct Case {
    const char* set;
    std::chrono::milliseconds least, most;
    int seconds;  // in the message
  } cases[] = {
      {"set lock wait 1", 1000ms, 3000ms, 1},
      {"set lock nowait", 0ms, 500ms, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.set);
    Run(*b, c.set);
    Run(*b, "begin tran insert tempdb..lk_t values (2, 2)");
    Run(*a, "begin tran update lk_t set v = 100");
    const auto start = Clock::now();
    auto r = Run(*b, "update lk_t set v = v + 1\nselect 'went on'");
    const auto took = Clock::now() - start;
    EXPECT_GE(took, c.least);
    EXPECT_LE(took, c.most);
    ASSERT_EQ(Errors(r), "12205 ");
    EXPECT_EQ(r.messages[0].severity, 17);
    EXPECT_EQ(r.messages[0].text,
              "Could not acquire a lock within the specified wait period. SERVER level wait "
              "period=" +
                  std::to_string(c.seconds) + " seconds, spid=" + std::to_string(b->Spid()) +
                  ", lock type=exclusive table, dbid=4, objid=" +
                  ScalarText(*a, "select object_id('lk_t')") + ", pageno=0, rownum=0.");
    EXPECT_TRUE(r.sets.empty()) << "the batch went on";
    EXPECT_EQ(ScalarText(*b, "select @@trancount"), "0");
    Run(*a, "commit tran");
    EXPECT_EQ(Value("select count(*) from tempdb..lk_t"), "1") << "the transaction was kept";
    Run(*a, "update lk_t set v = 10");
  }
  Run(*b, "set lock wait");
  Run(*a, "begin tran update lk_t set v = 100");
  auto waiting = Start(*b, "update lk_t set v = v + 1", *a);
  EXPECT_EQ(waiting.WaitFor(1500ms), std::future_status::timeout);
  Run(*a, "commit tran");
  ASSERT_EQ(waiting.WaitFor(5s), std::future_status::ready);
  EXPECT_EQ(Errors(waiting.result.get()), "");
}

// Two transactions waiting for each other's database: exactly one victim, rolled back, and the
// other goes on; the victim's retry then succeeds.
TEST_F(LockWaits, DeadlockMakesOneVictimWhoseRetrySucceeds) {
  Run(*a, "begin tran update pubs2..lk_t set v = v + 1");
  Run(*b, "begin tran update tempdb..lk_t set v = v + 1");
  const std::string spid = ScalarText(*a, "select @@spid");
  auto first = Start(*a, "update tempdb..lk_t set v = v + 1", *b);
  AwaitBlocked(spid);
  auto second = Run(*b, "update pubs2..lk_t set v = v + 1\nselect 'went on'");
  ASSERT_EQ(first.WaitFor(5s), std::future_status::ready);
  auto firstResult = first.result.get();
  EXPECT_EQ(Errors(firstResult) + "/ " + Errors(second), "/ 1205 ");
  EXPECT_TRUE(second.sets.empty()) << "the victim's batch went on";
  EXPECT_EQ(ScalarText(*b, "select @@trancount"), "0");
  Run(*a, "commit tran");
  EXPECT_EQ(Value("select v from tempdb..lk_t"), "11") << "the victim's change was kept";
  auto retry = Run(*b,
                   "begin tran update tempdb..lk_t set v = v + 1 "
                   "update pubs2..lk_t set v = v + 1 commit tran");
  EXPECT_EQ(Errors(retry), "");
  EXPECT_EQ(Value("select convert(varchar, p.v) + ' ' + convert(varchar, t.v) from pubs2..lk_t p,"
                  " tempdb..lk_t t"),
            "12 12");
}

// A wait that ended is not mistaken for one still going on: a session that once waited for
// tempdb and now only holds pubs2 is no part of a cycle.
TEST_F(LockWaits, AnEndedWaitIsNoLongerAWait) {
  Run(*a, "begin tran update tempdb..lk_t set v = v + 1");
  auto waited = Start(*b, "update tempdb..lk_t set v = v + 1", *a);
  ASSERT_EQ(waited.WaitFor(200ms), std::future_status::timeout);
  Run(*a, "commit tran");
  ASSERT_EQ(waited.WaitFor(5s), std::future_status::ready);
  Run(*b, "begin tran update pubs2..lk_t set v = v + 1");
  Run(*a, "begin tran update tempdb..lk_t set v = v + 1");
  auto waiting = Start(*a, "update pubs2..lk_t set v = v + 1", *b);
  EXPECT_EQ(waiting.WaitFor(300ms), std::future_status::timeout);
  Run(*b, "commit tran");
  ASSERT_EQ(waiting.WaitFor(5s), std::future_status::ready);
  EXPECT_EQ(Errors(waiting.result.get()), "");
  Run(*a, "commit tran");
}

// What SQLite cannot wait for: a transaction whose read snapshot went stale and that may not
// begin again (it changed something, or holds its reads) gets 1205 and is rolled back.
TEST_F(LockWaits, StaleReadSnapshotIsADeadlock) {
  const char* cases[] = {
      "begin tran insert tempdb..lk_t values (2, 2) select v from lk_t",
      "set transaction isolation level 3 begin tran select v from lk_t",
  };
  for (const char* before : cases) {
    SCOPED_TRACE(before);
    Run(*b, before);
    Run(*a, "update lk_t set v = v + 1");
    auto r = Run(*b, "update lk_t set v = v + 1");
    EXPECT_EQ(Errors(r), "1205 ");
    EXPECT_EQ(ScalarText(*b, "select @@trancount"), "0");
    EXPECT_EQ(Value("select count(*) from tempdb..lk_t"), "1");
    Run(*b, "set transaction isolation level 1");
  }
}

// A cancel from the client ends a wait at once; the statement did nothing.
TEST_F(LockWaits, CancelEndsAWait) {
  Run(*a, "begin tran update lk_t set v = 100");
  CancellableSink sink;
  Waiter waiting{std::async(std::launch::async,
                            [&] {
                              b->Execute("update lk_t set v = v + 1\nselect 1", sink);
                              return RecordingSink();
                            }),
                 a.get()};
  ASSERT_EQ(waiting.WaitFor(300ms), std::future_status::timeout);
  sink.cancel = true;
  EXPECT_EQ(waiting.WaitFor(1s), std::future_status::ready);
  EXPECT_TRUE(sink.sets.empty());
  Run(*a, "commit tran");
  EXPECT_EQ(Value("select v from pubs2..lk_t"), "100");
  EXPECT_EQ(Errors(Run(*b, "update lk_t set v = v + 1")), "");
}

}  // namespace
}  // namespace sampleserver::testing
