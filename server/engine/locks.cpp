#include "engine/locks.h"

#include "engine/session.h"

#include <limits>
#include <vector>

namespace sampleserver {

void LockTable::Hold(int spid, const std::set<std::string>& databases) {
  std::lock_guard lock(mutex_);
  auto& held = held_[spid];
  bool released = false;
  for (const auto& db : held) {
    if (databases.count(db)) continue;
    auto it = holders_.find(db);
    if (it != holders_.end() && it->second == spid) holders_.erase(it);
    released = true;
  }
  for (const auto& db : databases) holders_[db] = spid;
  held = databases;
  if (databases.empty()) held_.erase(spid);
  if (released) {
    ++releases_;
    released_.notify_all();
  }
}

uint64_t LockTable::Releases() const {
  std::lock_guard lock(mutex_);
  return releases_;
}

LockTable::WaitResult LockTable::Wait(int spid, const std::string& database, uint64_t seen,
                                      Clock::time_point until) {
  std::unique_lock lock(mutex_);
  waits_[spid] = database;
  if (ClosesCycle(spid)) {
    waits_.erase(spid);
    return WaitResult::Deadlock;
  }
  released_.wait_until(lock, until, [&] { return releases_ != seen; });
  // The wait is over until the next try fails: a stale edge would make false cycles.
  waits_.erase(spid);
  return WaitResult::Woken;
}

void LockTable::Queue(int spid, const std::string& database) {
  std::lock_guard lock(mutex_);
  auto it = queued_.find(spid);
  if (it == queued_.end() || it->second.first != database) queued_[spid] = {database, ++arrivals_};
}

void LockTable::Unqueue(int spid) {
  std::lock_guard lock(mutex_);
  if (queued_.erase(spid) == 0) return;
  // Those behind may try now.
  ++releases_;
  released_.notify_all();
}

bool LockTable::MayTry(int spid, const std::string& database) const {
  std::lock_guard lock(mutex_);
  auto place = [&](int s, uint64_t arrival) { return std::pair{held_.count(s) ? 0 : 1, arrival}; };
  auto me = queued_.find(spid);
  const auto mine = place(spid, me != queued_.end() && me->second.first == database
                                    ? me->second.second
                                    : std::numeric_limits<uint64_t>::max());
  for (const auto& [s, q] : queued_)
    if (s != spid && q.first == database && place(s, q.second) < mine) return false;
  return true;
}

int LockTable::Holder(const std::string& database) const {
  std::lock_guard lock(mutex_);
  auto it = holders_.find(database);
  return it == holders_.end() ? 0 : it->second;
}

std::set<int> LockTable::Blockers(int spid) const {
  std::set<int> out;
  auto w = waits_.find(spid);
  if (w == waits_.end()) return out;
  if (!w->second.empty()) {
    auto h = holders_.find(w->second);
    if (h != holders_.end() && h->second != spid) out.insert(h->second);
    return out;
  }
  for (const auto& [db, holder] : holders_)
    if (holder != spid) out.insert(holder);
  return out;
}

bool LockTable::ClosesCycle(int spid) const {
  // Depth-first over "waits for a lock held by"; a path back to `spid` is a deadlock.
  std::set<int> seen;
  std::vector<int> stack(1, spid);
  while (!stack.empty()) {
    int at = stack.back();
    stack.pop_back();
    for (int next : Blockers(at)) {
      if (next == spid) return true;
      if (seen.insert(next).second) stack.push_back(next);
    }
  }
  return false;
}

}  // namespace sampleserver

// ------------------------------------------------------------------------------------------
// A session's side: taking write locks before a statement reads, waiting, deadlocks.

namespace sampleserver {

using storage::QuoteId;

namespace {

using Clock = std::chrono::steady_clock;
// How often a wait looks at the client (a cancel, a dropped connection) and the clock.
constexpr auto kPoll = std::chrono::milliseconds(50);

// A wait for a lock while in scope: the session's place in the queue for it, and its status and
// blocker in sysprocesses.
class LockSleep {
 public:
  LockSleep(EngineState& engine, int spid) : engine_(engine), spid_(spid) {}
  ~LockSleep() {
    if (queued_) engine_.locks.Unqueue(spid_);
    if (blocker_ >= 0)
      engine_.UpdateProcess(spid_, [](ProcessInfo& p) {
        p.status = "running";
        p.blocked = 0;
      });
  }
  LockSleep(const LockSleep&) = delete;
  LockSleep& operator=(const LockSleep&) = delete;
  void Queued(const std::string& database) {
    engine_.locks.Queue(spid_, database);
    queued_ = true;
  }
  void Blocked(int blocker) {
    if (blocker == blocker_) return;
    blocker_ = blocker;
    engine_.UpdateProcess(spid_, [&](ProcessInfo& p) {
      p.status = "lock sleep";
      p.blocked = blocker;
    });
  }

 private:
  EngineState& engine_;
  int spid_;
  bool queued_ = false;
  int blocker_ = -1;
};

}  // namespace

void SessionImpl::SyncLocks() {
  std::set<std::string> held;
  if (db_ && !sqlite3_get_autocommit(db_.get()))
    for (const auto& [name, schema] : attached_)
      if (sqlite3_txn_state(db_.get(), schema.c_str()) == SQLITE_TXN_WRITE) held.insert(name);
  if (held == heldLocks_) return;
  heldLocks_ = std::move(held);
  engine_->locks.Hold(spid_, heldLocks_);
}

bool SessionImpl::CanRefreshSnapshot() const {
  // Only a transaction that has changed nothing yet, outside any statement, trigger or bulk
  // batch, at an isolation level that promises no repeatable reads.
  return trancount_ > 0 && !statementOpen_ && !InTrigger() && options_.isolation <= 1 &&
         !sqlite3_get_autocommit(db_.get()) &&
         sqlite3_txn_state(db_.get(), nullptr) == SQLITE_TXN_READ;
}

void SessionImpl::RefreshSnapshot() {
  storage::Exec(db_.get(), "COMMIT");
  storage::Exec(db_.get(), "BEGIN");
  for (const auto& name : savepoints_) storage::Exec(db_.get(), "SAVEPOINT " + QuoteId(name));
}

void SessionImpl::RollbackTransaction() {
  statementOpen_ = false;
  if (trancount_ > 0 || !sqlite3_get_autocommit(db_.get())) ++rollbacks_;
  if (!sqlite3_get_autocommit(db_.get())) {
    try {
      storage::Exec(db_.get(), "ROLLBACK");
    } catch (const storage::SqliteError&) {
    }
  }
  trancount_ = 0;
  savepoints_.clear();
  SyncLocks();
}

ServerMessage SessionImpl::LockTimeoutMessage(const std::string& database, int64_t objectId) {
  // SQLite locks a whole database file for a writer: the nearest Sybase lock is a table lock.
  ServerMessage m = Msg(
      12205, {std::to_string(options_.lockWait.value_or(0)), std::to_string(spid_),
              "exclusive table", std::to_string(database.empty() ? 0 : DbId(database).value_or(0)),
              std::to_string(objectId), "0", "0"});
  m.state = 2;
  return m;
}

bool SessionImpl::LockForWrite(const std::string& database, ResultSink& sink,
                               const std::function<int64_t()>& objectId) {
  const std::string schema = SchemaOf(database);
  sqlite3* db = db_.get();
  if (schema.empty() || schema == "temp") return true;
  if (sqlite3_txn_state(db, schema.c_str()) == SQLITE_TXN_WRITE) return true;
  // A change that changes nothing still takes the database's write lock.
  const std::string probe = "UPDATE " + QuoteId(schema) + ".sysobjects SET id = id WHERE 0";
  std::optional<Clock::time_point> deadline;
  if (options_.lockWait) deadline = Clock::now() + std::chrono::seconds(*options_.lockWait);
  LockTable& locks = engine_->locks;
  LockSleep sleep(*engine_, spid_);
  for (;;) {
    const uint64_t seen = locks.Releases();
    // Waiters take the lock in turn rather than whoever is quickest after each release.
    if (locks.MayTry(spid_, database)) {
      lockProbe_ = true;
      const int rc = sqlite3_exec(db, probe.c_str(), nullptr, nullptr, nullptr);
      lockProbe_ = false;
      if (rc == SQLITE_OK) break;
      if ((rc & 0xFF) != SQLITE_BUSY) throw storage::SqliteError(rc, sqlite3_errmsg(db));
      if (CanRefreshSnapshot()) {
        RefreshSnapshot();
        continue;
      }
      // The transaction read the database before another session changed it: waiting cannot
      // make its snapshot current again.
      if (rc == SQLITE_BUSY_SNAPSHOT) Fail(1205, {}, true);
    }
    sleep.Queued(database);
    if (sink.Cancelled()) return false;
    if (deadline && Clock::now() >= *deadline) {
      int64_t id = 0;
      try {
        id = objectId ? objectId() : 0;
      } catch (...) {
      }
      throw StatementError{LockTimeoutMessage(database, id), true};
    }
    sleep.Blocked(locks.Holder(database));
    SyncLocks();
    auto until = Clock::now() + kPoll;
    if (deadline && *deadline < until) until = *deadline;
    if (locks.Wait(spid_, database, seen, until) == LockTable::WaitResult::Deadlock)
      Fail(1205, {}, true);
  }
  SyncLocks();
  return true;
}

std::vector<const sql::ObjectName*> SessionImpl::WriteTargets(const sql::Stmt& stmt) const {
  using K = sql::StmtKind;
  std::vector<const sql::ObjectName*> names;
  switch (stmt.kind) {
    case K::Insert: names.push_back(&stmt.As<sql::InsertStmt>().table); break;
    case K::Update: names.push_back(&stmt.As<sql::UpdateStmt>().table); break;
    case K::Delete: names.push_back(&stmt.As<sql::DeleteStmt>().table); break;
    case K::Truncate: names.push_back(&stmt.As<sql::TruncateStmt>().table); break;
    case K::Select: {
      const auto& into = stmt.As<sql::SelectStmt>().query->into;
      if (!into.empty()) names.push_back(&into);
      break;
    }
    case K::CreateTable: names.push_back(&stmt.As<sql::CreateTableStmt>().table); break;
    case K::CreateIndex: names.push_back(&stmt.As<sql::CreateIndexStmt>().table); break;
    case K::AlterTable: names.push_back(&stmt.As<sql::AlterTableStmt>().table); break;
    case K::CreateView: names.push_back(&stmt.As<sql::CreateViewStmt>().name); break;
    case K::CreateProcedure: names.push_back(&stmt.As<sql::CreateProcedureStmt>().name); break;
    case K::CreateRule: names.push_back(&stmt.As<sql::CreateRuleStmt>().name); break;
    case K::CreateDefault: names.push_back(&stmt.As<sql::CreateDefaultStmt>().name); break;
    case K::CreateTrigger: names.push_back(&stmt.As<sql::CreateTriggerStmt>().table); break;
    case K::Drop:
      for (const auto& n : stmt.As<sql::DropStmt>().names) names.push_back(&n);
      break;
    default: break;
  }
  return names;
}

bool SessionImpl::LockTargets(const std::vector<const sql::ObjectName*>& names, ResultSink& sink) {
  for (const sql::ObjectName* name : names) {
    if (name->empty() || name->object[0] == '#' || TriggerTable(*name)) continue;
    auto objectId = [this, name]() -> int64_t {
      auto t = ResolveTable(*name);
      return t ? t->meta.id : 0;
    };
    if (!LockForWrite(DatabaseFor(*name), sink, objectId)) return false;
  }
  return true;
}

int SessionImpl::OnBusy(void* session, int count) {
  return static_cast<SessionImpl*>(session)->WaitWhileBusy(count) ? 1 : 0;
}

bool SessionImpl::WaitWhileBusy(int count) {
  if (lockProbe_) return false;
  const auto now = Clock::now();
  if (count == 0) {
    busySince_ = now;
    lockFailure_ = LockFailure::None;
  }
  if (waitSink_ && waitSink_->Cancelled()) {
    lockFailure_ = LockFailure::Cancelled;
    return false;
  }
  if (options_.lockWait && now - busySince_ >= std::chrono::seconds(*options_.lockWait)) {
    lockFailure_ = LockFailure::Timeout;
    return false;
  }
  // The database is not known here: the wait is for every other holder.
  SyncLocks();
  const uint64_t seen = engine_->locks.Releases();
  if (engine_->locks.Wait(spid_, "", seen, now + std::chrono::milliseconds(10)) ==
      LockTable::WaitResult::Deadlock) {
    lockFailure_ = LockFailure::Deadlock;
    return false;
  }
  return true;
}

}  // namespace sampleserver
