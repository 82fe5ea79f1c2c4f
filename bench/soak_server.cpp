// The sample server under load: many sessions at once for a long time, then a check that nothing
// was lost, doubled or left half done. Each session runs a mix of transfers between accounts
// (explicit transactions over two databases, so that real deadlocks happen), inserts, updates
// and deletes of its own rows through prepared statements, rolled-back transactions, selects,
// read-only cursors, bulk copies and cancelled selects, over Client-Library, each call bounded
// by a timeout. A deadlock's victim (1205) retries its transaction. The server runs as a child
// process so that its memory can be read from /proc.
//
//   soak_server [--seconds N] [--sessions N] [--timeout S]
//
// 600 seconds, 64 sessions (the server's limit) and 60 seconds by default.
// Prints throughput, the 99th-percentile latency of a transaction, the server's peak memory and
// whether its memory grew after the first minute, then "invariants hold", or the first
// invariant that does not and exits 1.
#include "server_process.h"

#include <bkpublic.h>
#include <ctpublic.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using bench::ServerProcess;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kAccounts = 500;
constexpr int kOpening = 1000;     // each account's opening balance
constexpr int kCursorRows = 50;    // rows per cursor fetch
constexpr int kMaxAttempts = 100;  // a deadlock victim's retries before the run fails

struct Options {
  int seconds = 600;
  int sessions = 64;
  int timeout = 60;  // seconds any one client call may take
};

// ------------------------------------------------------------------------------------------
// One Client-Library session: its own context, connection and command.

struct ContextFree {
  void operator()(CS_CONTEXT* c) const {
    ct_exit(c, CS_FORCE_EXIT);
    cs_ctx_drop(c);
  }
};
struct ConnectionFree {
  void operator()(CS_CONNECTION* c) const {
    ct_close(c, CS_FORCE_CLOSE);
    ct_con_drop(c);
  }
};
struct CommandFree {
  void operator()(CS_COMMAND* c) const { ct_cmd_drop(c); }
};
struct BulkFree {
  void operator()(CS_BLKDESC* b) const { blk_drop(b); }
};

// What one request came back with.
struct Outcome {
  bool ok = true;         // no statement failed
  bool deadlock = false;  // the server chose this session as a deadlock victim (1205)
  std::string error;      // the first error's text
  std::vector<std::vector<std::string>> rows;
  CS_INT count = -1;  // rows the last statement affected
};

struct Param {
  bool text = false;
  CS_INT number = 0;
  std::string chars;
};

class Client {
 public:
  Client(int timeout, int id) {
    CS_CONTEXT* ctx = nullptr;
    if (cs_ctx_alloc(CS_VERSION_100, &ctx) != CS_SUCCEED) throw std::runtime_error("cs_ctx_alloc");
    ctx_.reset(ctx);
    if (ct_init(ctx, CS_VERSION_100) != CS_SUCCEED) throw std::runtime_error("ct_init");
    Client* self = this;
    cs_config(ctx, CS_SET, CS_USERDATA, &self, sizeof self, nullptr);
    ct_callback(ctx, nullptr, CS_SET, CS_SERVERMSG_CB, reinterpret_cast<CS_VOID*>(&OnServer));
    ct_callback(ctx, nullptr, CS_SET, CS_CLIENTMSG_CB, reinterpret_cast<CS_VOID*>(&OnClient));
    CS_INT seconds = timeout;
    ct_config(ctx, CS_SET, CS_TIMEOUT, &seconds, CS_UNUSED, nullptr);
    ct_config(ctx, CS_SET, CS_LOGIN_TIMEOUT, &seconds, CS_UNUSED, nullptr);
    CS_CONNECTION* con = nullptr;
    if (ct_con_alloc(ctx, &con) != CS_SUCCEED) throw std::runtime_error("ct_con_alloc");
    con_.reset(con);
    CS_BOOL bulk = CS_TRUE;
    const std::string app = "soak" + std::to_string(id);
    ct_con_props(con, CS_SET, CS_USERNAME, const_cast<char*>("sa"), CS_NULLTERM, nullptr);
    ct_con_props(con, CS_SET, CS_PASSWORD, const_cast<char*>(""), CS_NULLTERM, nullptr);
    ct_con_props(con, CS_SET, CS_APPNAME, const_cast<char*>(app.c_str()), CS_NULLTERM, nullptr);
    ct_con_props(con, CS_SET, CS_BULK_LOGIN, &bulk, CS_UNUSED, nullptr);
    if (ct_connect(con, const_cast<char*>("SOAK"), CS_NULLTERM) != CS_SUCCEED)
      throw std::runtime_error("session " + std::to_string(id) + " cannot log in: " + Take().error);
    CS_COMMAND* cmd = nullptr;
    if (ct_cmd_alloc(con, &cmd) != CS_SUCCEED) throw std::runtime_error("ct_cmd_alloc");
    cmd_.reset(cmd);
  }

  // A language batch, read to its end.
  Outcome Lang(const std::string& sql) {
    if (ct_command(cmd_.get(), CS_LANG_CMD, const_cast<char*>(sql.c_str()), CS_NULLTERM,
                   CS_UNUSED) != CS_SUCCEED)
      return Failed("ct_command failed");
    return SendAndRead(1);
  }

  Outcome Prepare(const std::string& id, const std::string& sql) {
    if (ct_dynamic(cmd_.get(), CS_PREPARE, const_cast<char*>(id.c_str()), CS_NULLTERM,
                   const_cast<char*>(sql.c_str()), CS_NULLTERM) != CS_SUCCEED)
      return Failed("ct_dynamic(CS_PREPARE) failed");
    return SendAndRead(1);
  }

  Outcome Execute(const std::string& id, std::vector<Param> params) {
    if (ct_dynamic(cmd_.get(), CS_EXECUTE, const_cast<char*>(id.c_str()), CS_NULLTERM, nullptr,
                   CS_UNUSED) != CS_SUCCEED)
      return Failed("ct_dynamic(CS_EXECUTE) failed");
    for (auto& p : params) {
      CS_DATAFMT f{};
      f.status = CS_INPUTVALUE;
      f.count = 1;
      if (p.text) {
        f.datatype = CS_CHAR_TYPE;
        f.maxlength = static_cast<CS_INT>(p.chars.size());
        if (ct_param(cmd_.get(), &f, p.chars.data(), static_cast<CS_INT>(p.chars.size()), 0) !=
            CS_SUCCEED)
          return Failed("ct_param failed");
      } else {
        f.datatype = CS_INT_TYPE;
        f.maxlength = sizeof(CS_INT);
        if (ct_param(cmd_.get(), &f, &p.number, sizeof(CS_INT), 0) != CS_SUCCEED)
          return Failed("ct_param failed");
      }
    }
    return SendAndRead(1);
  }

  // A read-only cursor over `sql`, fetched to its end kCursorRows at a time, then closed.
  Outcome Cursor(const std::string& sql) {
    CS_COMMAND* cmd = cmd_.get();
    if (ct_cursor(cmd, CS_CURSOR_DECLARE, const_cast<char*>("soak_c"), CS_NULLTERM,
                  const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_READ_ONLY) != CS_SUCCEED ||
        ct_cursor(cmd, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, kCursorRows) !=
            CS_SUCCEED ||
        ct_cursor(cmd, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED) !=
            CS_SUCCEED)
      return Failed("ct_cursor failed");
    Outcome out = SendAndRead(kCursorRows);
    if (ct_cursor(cmd, CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC) !=
        CS_SUCCEED)
      return Failed("ct_cursor(CS_CURSOR_CLOSE) failed");
    Outcome closed = SendAndRead(1);
    if (!closed.ok && out.ok) return closed;
    return out;
  }

  // Starts `sql`, reads one row, then cancels the rest (an attention).
  Outcome FirstRowThenCancel(const std::string& sql) {
    CS_COMMAND* cmd = cmd_.get();
    if (ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_UNUSED) !=
            CS_SUCCEED ||
        Send(cmd) != CS_SUCCEED)
      return Failed("ct_send failed");
    Outcome out;
    CS_INT type = 0;
    if (ct_results(cmd, &type) == CS_SUCCEED && type == CS_ROW_RESULT) Fetch(cmd, 1, &out, true);
    if (ct_cancel(nullptr, cmd, CS_CANCEL_ALL) != CS_SUCCEED) return Failed("ct_cancel failed");
    Outcome rest = Take();
    if (!rest.ok) return rest;
    return out;
  }

  // Copies `rows` in with the Bulk-Library, one blk_done batch per element of `batches` (the
  // rows of each); returns the rows each batch reported committed (-1: the batch failed).
  std::vector<CS_INT> BulkIn(const char* table, const std::vector<std::vector<CS_INT>>& rows,
                             const std::vector<size_t>& batches, std::string* error) {
    std::vector<CS_INT> committed;
    CS_BLKDESC* raw = nullptr;
    if (blk_alloc(con_.get(), BLK_VERSION_100, &raw) != CS_SUCCEED) {
      *error = "blk_alloc failed";
      return committed;
    }
    std::unique_ptr<CS_BLKDESC, BulkFree> blk(raw);
    if (blk_init(raw, CS_BLK_IN, const_cast<char*>(table), CS_NULLTERM) != CS_SUCCEED) {
      *error = "blk_init failed: " + Take().error;
      return committed;
    }
    const size_t columns = rows.empty() ? 0 : rows[0].size();
    std::vector<CS_INT> values(columns), lengths(columns, sizeof(CS_INT));
    std::vector<CS_SMALLINT> nulls(columns, 0);
    for (size_t c = 0; c < columns; ++c) {
      CS_DATAFMT f{};
      f.datatype = CS_INT_TYPE;
      f.maxlength = sizeof(CS_INT);
      f.count = 1;
      if (blk_bind(raw, static_cast<CS_INT>(c + 1), &f, &values[c], &lengths[c], &nulls[c]) !=
          CS_SUCCEED) {
        *error = "blk_bind failed";
        return committed;
      }
    }
    size_t at = 0;
    for (size_t b = 0; b < batches.size(); ++b) {
      bool failed = false;
      for (size_t i = 0; i < batches[b] && !failed; ++i, ++at) {
        std::copy(rows[at].begin(), rows[at].end(), values.begin());
        failed = blk_rowxfer(raw) != CS_SUCCEED;
      }
      CS_INT done = 0;
      const bool last = b + 1 == batches.size();
      if (failed || blk_done(raw, last ? CS_BLK_ALL : CS_BLK_BATCH, &done) != CS_SUCCEED) {
        committed.push_back(-1);
        *error = "bulk copy batch failed: " + Take().error;
        if (!last) blk_done(raw, CS_BLK_CANCEL, &done);
        return committed;
      }
      committed.push_back(done);
    }
    return committed;
  }

  bool TimedOut() const { return timedOut_; }

 private:
  static Client* Of(CS_CONTEXT* ctx) {
    Client* self = nullptr;
    cs_config(ctx, CS_GET, CS_USERDATA, &self, sizeof self, nullptr);
    return self;
  }
  static CS_RETCODE CS_PUBLIC OnServer(CS_CONTEXT* ctx, CS_CONNECTION*, CS_SERVERMSG* m) {
    if (Client* self = Of(ctx); self && m->severity > 10)
      self->errors_.emplace_back(m->msgnumber, std::string(m->text, m->textlen));
    return CS_SUCCEED;
  }
  static CS_RETCODE CS_PUBLIC OnClient(CS_CONTEXT* ctx, CS_CONNECTION*, CS_CLIENTMSG* m) {
    Client* self = Of(ctx);
    if (!self) return CS_FAIL;
    self->errors_.emplace_back(-1, std::string(m->msgstring, m->msgstringlen));
    // A read that timed out ends the call: nothing may wait longer than the timeout.
    if (m->msgnumber == 20003 || std::strstr(m->msgstring, "timed out")) self->timedOut_ = true;
    return CS_FAIL;
  }

  Outcome Failed(const std::string& what) {
    Outcome out = Take();
    out.ok = false;
    if (out.error.empty()) out.error = what;
    return out;
  }

  // The messages since the last call, as an outcome; clears them.
  Outcome Take() {
    Outcome out;
    for (const auto& [number, text] : errors_) {
      out.ok = false;
      if (number == 1205) out.deadlock = true;
      if (out.error.empty())
        out.error = (number >= 0 ? "Msg " + std::to_string(number) + ": " : "") + text;
    }
    errors_.clear();
    return out;
  }

  // FreeTDS answers the first ct_send after a cancel with CS_CANCELED, having only cleaned up.
  static CS_RETCODE Send(CS_COMMAND* cmd) {
    CS_RETCODE rc = ct_send(cmd);
    return rc == CS_CANCELED ? ct_send(cmd) : rc;
  }

  Outcome SendAndRead(int arrayRows) {
    CS_COMMAND* cmd = cmd_.get();
    if (Send(cmd) != CS_SUCCEED) return Failed("ct_send failed");
    Outcome out;
    CS_INT type = 0;
    CS_RETCODE rc;
    while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
      switch (type) {
        case CS_ROW_RESULT: Fetch(cmd, 1, &out, false); break;
        case CS_CURSOR_RESULT: Fetch(cmd, arrayRows, &out, false); break;
        case CS_CMD_FAIL: out.ok = false; break;
        case CS_CMD_DONE: {
          CS_INT n = 0;
          if (ct_res_info(cmd, CS_ROW_COUNT, &n, CS_UNUSED, nullptr) == CS_SUCCEED) out.count = n;
          break;
        }
        case CS_STATUS_RESULT:
        case CS_PARAM_RESULT:
        case CS_COMPUTE_RESULT:
        case CS_DESCRIBE_RESULT: ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT); break;
        default: break;
      }
    }
    if (rc != CS_END_RESULTS) {
      out.ok = false;
      ct_cancel(con_.get(), nullptr, CS_CANCEL_ALL);
    }
    Outcome messages = Take();
    if (!messages.ok) {
      out.ok = false;
      out.deadlock = messages.deadlock;
      out.error = messages.error;
    } else if (!out.ok && out.error.empty()) {
      out.error = "the request failed without a message";
    }
    return out;
  }

  // Reads the current result's rows as text, `arrayRows` a fetch.
  void Fetch(CS_COMMAND* cmd, int arrayRows, Outcome* out, bool one) {
    CS_INT columns = 0;
    ct_res_info(cmd, CS_NUMDATA, &columns, CS_UNUSED, nullptr);
    constexpr CS_INT kWidth = 128;
    const auto n = static_cast<size_t>(columns), r = static_cast<size_t>(arrayRows);
    std::vector<char> data(n * r * kWidth);
    std::vector<CS_INT> lengths(n * r);
    std::vector<CS_SMALLINT> nulls(n * r);
    for (size_t c = 0; c < n; ++c) {
      CS_DATAFMT f{};
      f.datatype = CS_CHAR_TYPE;
      f.format = CS_FMT_NULLTERM;
      f.maxlength = kWidth;
      f.count = arrayRows;
      ct_bind(cmd, static_cast<CS_INT>(c + 1), &f, &data[c * r * kWidth], &lengths[c * r],
              &nulls[c * r]);
    }
    CS_INT read = 0;
    CS_RETCODE rc;
    while ((rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &read)) == CS_SUCCEED ||
           rc == CS_ROW_FAIL) {
      for (CS_INT i = 0; i < read; ++i) {
        std::vector<std::string> row;
        for (size_t c = 0; c < n; ++c) {
          const size_t at = c * r + static_cast<size_t>(i);
          row.push_back(nulls[at] == -1 ? "NULL" : std::string(&data[at * kWidth]));
        }
        out->rows.push_back(std::move(row));
      }
      if (one) return;
    }
    if (rc != CS_END_DATA) out->ok = false;
  }

  std::unique_ptr<CS_CONTEXT, ContextFree> ctx_;
  std::unique_ptr<CS_CONNECTION, ConnectionFree> con_;
  std::unique_ptr<CS_COMMAND, CommandFree> cmd_;
  std::vector<std::pair<int, std::string>> errors_;
  bool timedOut_ = false;
};

// ------------------------------------------------------------------------------------------
// The workload. Each session logs what it committed; the check at the end compares.

struct Transfer {
  int session, seq, src, dst, amount;
  auto Key() const { return std::tie(session, seq, src, dst, amount); }
  bool operator<(const Transfer& o) const { return Key() < o.Key(); }
  bool operator==(const Transfer& o) const { return Key() == o.Key(); }
};

struct Log {
  std::vector<Transfer> transfers;
  std::map<int, int> items;            // key -> value, as committed
  std::set<int> gone;                  // keys deleted, or inserted by a transaction rolled back
  std::map<int, int> bulk;             // batch -> rows reported committed
  std::map<std::string, long> counts;  // committed transactions by kind
  long deadlocks = 0;
  std::vector<double> latencies;  // ms per transaction, retries included
  std::string broken;             // the first invariant this session saw broken
};

class Session {
 public:
  Session(int id, std::unique_ptr<Client> client, uint32_t seed)
      : id_(id), client_(std::move(client)), random_(seed) {}

  Log& log() { return log_; }
  // Logs out: the server takes 64 connections at most, and the final check needs one.
  void Close() { client_.reset(); }

  void Run(Clock::time_point end) {
    if (!Ok(client_->Lang("use pubs2"), "use pubs2")) return;
    if (!Ok(client_->Prepare("ins", "insert soak_items (k, owner, val, note) values (?, ?, ?, ?)"),
            "prepare") ||
        !Ok(client_->Prepare("upd", "update soak_items set val = val + ? where k = ?"),
            "prepare") ||
        !Ok(client_->Prepare("move", "update soak_acct set balance = balance + ? where id = ?"),
            "prepare"))
      return;
    // Weights of the kinds of work.
    struct Kind {
      const char* name;
      int weight;
      Result (Session::*run)();
    };
    static const Kind kinds[] = {
        {"transfer", 30, &Session::TransferWork}, {"insert", 14, &Session::InsertWork},
        {"update", 10, &Session::UpdateWork},     {"delete", 5, &Session::DeleteWork},
        {"rollback", 4, &Session::RollbackWork},  {"select", 14, &Session::SelectWork},
        {"cursor", 8, &Session::CursorWork},      {"bulk", 8, &Session::BulkWork},
        {"cancel", 7, &Session::CancelWork},
    };
    int total = 0;
    for (const auto& k : kinds) total += k.weight;
    while (Clock::now() < end && log_.broken.empty()) {
      int pick = Uniform(0, total - 1);
      const Kind* kind = kinds;
      while (pick >= kind->weight) pick -= (kind++)->weight;
      const auto start = Clock::now();
      Result r = Result::Deadlock;
      for (int attempt = 0; attempt < kMaxAttempts && r == Result::Deadlock; ++attempt) {
        r = (this->*kind->run)();
        if (r == Result::Deadlock) {
          ++log_.deadlocks;
          std::this_thread::sleep_for(std::chrono::milliseconds(Uniform(0, 5 + attempt)));
        }
      }
      if (r == Result::Deadlock)
        Broke("a deadlock victim's retry succeeds",
              "still a victim after " + std::to_string(kMaxAttempts) + " tries");
      if (r != Result::Done) break;
      ++log_.counts[kind->name];
      log_.latencies.push_back(
          std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }

 private:
  enum class Result { Done, Deadlock, Failed };

  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random_); }

  void Broke(const std::string& invariant, const std::string& detail) {
    if (log_.broken.empty())
      log_.broken = invariant + " (session " + std::to_string(id_) + ": " + detail + ")";
  }

  // A statement outside any transaction of the workload's own: it must succeed.
  bool Ok(const Outcome& o, const char* what) {
    if (o.ok) return true;
    Broke(client_->TimedOut() ? "no client call times out" : "no statement fails unexpectedly",
          std::string(what) + ": " + o.error);
    return false;
  }

  // One step of a transaction: a deadlock ends the attempt (the server rolled it back); any
  // other failure ends the transaction here and the run.
  std::optional<Result> Step(const Outcome& o, const char* what) {
    if (o.ok) return std::nullopt;
    if (o.deadlock) return Result::Deadlock;
    Ok(o, what);
    client_->Lang("if @@trancount > 0 rollback tran");
    return Result::Failed;
  }

  std::string Int(int v) { return std::to_string(v); }

  // Moves an amount between two accounts and journals it in the other database, in either
  // order: two sessions taking the databases in opposite orders deadlock.
  Result TransferWork() {
    Transfer t{id_, nextSeq_, Uniform(1, kAccounts), 0, Uniform(1, 50)};
    do t.dst = Uniform(1, kAccounts);
    while (t.dst == t.src);
    const bool journalFirst = Uniform(0, 1) == 1;
    const bool readFirst = Uniform(0, 3) == 0;
    const bool prepared = Uniform(0, 1) == 1;
    auto move = [&](int account, int amount) {
      if (prepared) return client_->Execute("move", {{false, amount, {}}, {false, account, {}}});
      return client_->Lang("update soak_acct set balance = balance + " + Int(amount) +
                           " where id = " + Int(account));
    };
    auto journal = [&] {
      return client_->Lang("insert tempdb..soak_journal (sess, seq, src, dst, amount) values (" +
                           Int(t.session) + ", " + Int(t.seq) + ", " + Int(t.src) + ", " +
                           Int(t.dst) + ", " + Int(t.amount) + ")");
    };
    if (auto r = Step(client_->Lang("begin tran"), "begin tran")) return *r;
    if (readFirst) {
      if (auto r = Step(client_->Lang("select balance from soak_acct where id = " + Int(t.src)),
                        "select"))
        return *r;
    }
    if (journalFirst)
      if (auto r = Step(journal(), "journal")) return *r;
    if (auto r = Step(move(t.src, -t.amount), "debit")) return *r;
    if (auto r = Step(move(t.dst, t.amount), "credit")) return *r;
    if (!journalFirst)
      if (auto r = Step(journal(), "journal")) return *r;
    if (auto r = Step(client_->Lang("commit tran"), "commit")) return *r;
    ++nextSeq_;
    log_.transfers.push_back(t);
    return Result::Done;
  }

  int NewKey() { return id_ * 10000000 + nextKey_++; }

  // One to three rows of this session's own, through the prepared insert.
  Result InsertWork() {
    const int n = Uniform(1, 3);
    std::vector<std::pair<int, int>> rows;
    for (int i = 0; i < n; ++i) rows.emplace_back(NewKey(), Uniform(0, 1000));
    if (auto r = Step(client_->Lang("begin tran"), "begin tran")) return *r;
    for (const auto& [k, v] : rows) {
      auto o = client_->Execute(
          "ins", {{false, k, {}}, {false, id_, {}}, {false, v, {}}, {true, 0, "row " + Int(k)}});
      if (auto r = Step(o, "prepared insert")) return *r;
    }
    if (auto r = Step(client_->Lang("commit tran"), "commit")) return *r;
    for (const auto& [k, v] : rows) log_.items[k] = v;
    return Result::Done;
  }

  std::optional<int> SomeKey() {
    if (log_.items.empty()) return std::nullopt;
    auto it = log_.items.begin();
    std::advance(it, Uniform(0, static_cast<int>(log_.items.size()) - 1));
    return it->first;
  }

  Result UpdateWork() {
    auto key = SomeKey();
    if (!key) return InsertWork();
    const int by = Uniform(1, 9);
    if (auto r = Step(client_->Lang("begin tran"), "begin tran")) return *r;
    auto o = client_->Execute("upd", {{false, by, {}}, {false, *key, {}}});
    if (auto r = Step(o, "prepared update")) return *r;
    if (o.count != 1)
      Broke("every committed row is present",
            "update of " + Int(*key) + " changed " + Int(o.count));
    if (auto r = Step(client_->Lang("commit tran"), "commit")) return *r;
    log_.items[*key] += by;
    return Result::Done;
  }

  // A delete and its transaction in one batch.
  Result DeleteWork() {
    auto key = SomeKey();
    if (!key) return InsertWork();
    auto o = client_->Lang("begin tran delete soak_items where k = " + Int(*key) + " commit tran");
    if (auto r = Step(o, "delete")) return *r;
    log_.items.erase(*key);
    log_.gone.insert(*key);
    return Result::Done;
  }

  // Changes that are rolled back leave nothing behind.
  Result RollbackWork() {
    const int key = NewKey();
    if (auto r = Step(client_->Lang("begin tran"), "begin tran")) return *r;
    if (auto r = Step(client_->Lang("insert soak_items (k, owner, val) values (" + Int(key) + ", " +
                                    Int(id_) + ", 0)"),
                      "insert"))
      return *r;
    if (auto r = Step(client_->Lang("update soak_acct set balance = balance + 1000000 where id = " +
                                    Int(Uniform(1, kAccounts))),
                      "update"))
      return *r;
    if (auto r = Step(client_->Lang("rollback tran"), "rollback")) return *r;
    log_.gone.insert(key);
    return Result::Done;
  }

  void CheckTotal(const Outcome& o, const char* how) {
    if (o.rows.size() != 1 || o.rows[0].size() != 2 || o.rows[0][0] != Int(kAccounts * kOpening) ||
        o.rows[0][1] != Int(kAccounts))
      Broke("every read of the accounts sees their total",
            std::string(how) + " saw " +
                (o.rows.empty() ? "no row" : o.rows[0][0] + " in " + o.rows[0].back() + " rows"));
  }

  Result SelectWork() {
    auto o = client_->Lang("select sum(balance), count(*) from soak_acct");
    if (!Ok(o, "select")) return Result::Failed;
    CheckTotal(o, "a select");
    if (auto key = SomeKey()) {
      auto row = client_->Lang("select val from soak_items where k = " + Int(*key));
      if (!Ok(row, "select")) return Result::Failed;
      if (row.rows.size() != 1 || row.rows[0][0] != Int(log_.items[*key]))
        Broke("a session reads back what it committed", "row " + Int(*key));
    }
    return Result::Done;
  }

  Result CursorWork() {
    auto o = client_->Cursor("select id, balance from soak_acct");
    if (!Ok(o, "cursor")) return Result::Failed;
    long sum = 0;
    for (const auto& row : o.rows) sum += std::atol(row[1].c_str());
    Outcome totals;
    totals.rows = {{std::to_string(sum), std::to_string(o.rows.size())}};
    CheckTotal(totals, "a cursor");
    return Result::Done;
  }

  // Two or three batches into the shared bulk table; each batch reported committed is logged.
  Result BulkWork() {
    std::vector<size_t> batches(static_cast<size_t>(Uniform(2, 3)));
    std::vector<std::vector<CS_INT>> rows;
    const int first = nextBatch_;
    for (auto& n : batches) {
      n = static_cast<size_t>(Uniform(5, 40));
      for (size_t i = 0; i < n; ++i)
        rows.push_back({id_, nextBatch_, static_cast<CS_INT>(i), Uniform(0, 99)});
      ++nextBatch_;
    }
    std::string error;
    auto committed = client_->BulkIn("soak_bulk", rows, batches, &error);
    for (size_t b = 0; b < committed.size(); ++b)
      if (committed[b] >= 0) log_.bulk[first + static_cast<int>(b)] = committed[b];
    if (!error.empty()) {
      Broke(client_->TimedOut() ? "no client call times out" : "no statement fails unexpectedly",
            error);
      return Result::Failed;
    }
    return Result::Done;
  }

  // A select cancelled after its first row; the session goes on as before.
  Result CancelWork() {
    auto o = client_->FirstRowThenCancel("select k, owner, val, note from soak_items");
    if (!Ok(o, "cancelled select")) return Result::Failed;
    auto after = client_->Lang("select 42");
    if (!Ok(after, "select after a cancel")) return Result::Failed;
    if (after.rows.size() != 1 || after.rows[0][0] != "42")
      Broke("a session works after a cancel", "select 42 read back wrong");
    return Result::Done;
  }

  int id_;
  std::unique_ptr<Client> client_;
  std::mt19937 random_;
  Log log_;
  int nextSeq_ = 1;
  int nextKey_ = 1;
  int nextBatch_ = 1;
};

// ------------------------------------------------------------------------------------------
// The check at the end, over a connection of its own.

class Check {
 public:
  void Expect(const std::string& invariant, bool holds, const std::string& detail = "") {
    if (!holds && first_.empty()) first_ = invariant + (detail.empty() ? "" : " (" + detail + ")");
  }
  bool Holds() const { return first_.empty(); }
  const std::string& First() const { return first_; }

 private:
  std::string first_;
};

std::vector<std::vector<std::string>> Rows(Client& c, const std::string& sql, Check& check) {
  auto o = c.Lang(sql);
  check.Expect("the final check's queries succeed", o.ok, sql + ": " + o.error);
  return o.rows;
}

void CheckFinal(Client& c, const std::vector<std::unique_ptr<Session>>& sessions, Check& check) {
  Rows(c, "use pubs2", check);
  // Accounts: the total is kept, and each balance is its opening one plus its transfers.
  std::map<int, long> expected;
  for (int a = 1; a <= kAccounts; ++a) expected[a] = kOpening;
  std::multiset<Transfer> transfers;
  for (const auto& s : sessions)
    for (const auto& t : s->log().transfers) {
      expected[t.src] -= t.amount;
      expected[t.dst] += t.amount;
      transfers.insert(t);
    }
  auto total = Rows(c, "select sum(balance), count(*) from soak_acct", check);
  check.Expect("transfers keep the accounts' total",
               total.size() == 1 && total[0][0] == std::to_string(kAccounts * kOpening) &&
                   total[0][1] == std::to_string(kAccounts),
               total.empty() ? "" : total[0][0] + " in " + total[0][1] + " accounts");
  std::map<int, long> balances;
  for (const auto& r : Rows(c, "select id, balance from soak_acct", check))
    balances[std::atoi(r[0].c_str())] = std::atol(r[1].c_str());
  check.Expect("each balance is its opening balance plus its committed transfers",
               balances == expected);

  // The journal: each committed transfer exactly once, nothing else.
  std::multiset<Transfer> journal;
  for (const auto& r :
       Rows(c, "select sess, seq, src, dst, amount from tempdb..soak_journal", check))
    journal.insert({std::atoi(r[0].c_str()), std::atoi(r[1].c_str()), std::atoi(r[2].c_str()),
                    std::atoi(r[3].c_str()), std::atoi(r[4].c_str())});
  std::set<Transfer> distinct(journal.begin(), journal.end());
  check.Expect("no duplicate keys", distinct.size() == journal.size(), "in the journal");
  check.Expect("every committed transfer is journaled, and nothing else", journal == transfers,
               std::to_string(journal.size()) + " journaled, " + std::to_string(transfers.size()) +
                   " committed");

  // Items: every committed row with its committed value; none deleted or rolled back.
  std::map<int, int> items;
  std::set<int> gone;
  for (const auto& s : sessions) {
    items.insert(s->log().items.begin(), s->log().items.end());
    gone.insert(s->log().gone.begin(), s->log().gone.end());
  }
  std::map<int, int> stored;
  size_t storedRows = 0;
  for (const auto& r : Rows(c, "select k, val from soak_items", check)) {
    stored[std::atoi(r[0].c_str())] = std::atoi(r[1].c_str());
    ++storedRows;
  }
  check.Expect("no duplicate keys", stored.size() == storedRows, "in the items");
  size_t missing = 0, wrong = 0, ghosts = 0;
  for (const auto& [k, v] : items) {
    auto it = stored.find(k);
    if (it == stored.end())
      ++missing;
    else if (it->second != v)
      ++wrong;
  }
  for (int k : gone) ghosts += stored.count(k);
  check.Expect("every committed row is present", missing == 0,
               std::to_string(missing) + " missing");
  check.Expect("every committed value is kept", wrong == 0, std::to_string(wrong) + " differ");
  check.Expect("no deleted or rolled-back row is present", ghosts == 0,
               std::to_string(ghosts) + " present");
  check.Expect(
      "no row appears that no session committed", stored.size() == items.size(),
      std::to_string(stored.size()) + " stored, " + std::to_string(items.size()) + " committed");

  // Bulk copy: exactly the batches reported committed.
  std::map<std::pair<int, int>, int> batches, copied;
  for (size_t i = 0; i < sessions.size(); ++i)
    for (const auto& [b, n] : sessions[i]->log().bulk)
      batches[{static_cast<int>(i + 1), b}] = static_cast<int>(n);
  for (const auto& r :
       Rows(c, "select sess, batch, count(*) from soak_bulk group by sess, batch", check))
    copied[{std::atoi(r[0].c_str()), std::atoi(r[1].c_str())}] = std::atoi(r[2].c_str());
  auto doubled = Rows(c,
                      "select sess, batch, seq from soak_bulk group by sess, batch, seq "
                      "having count(*) > 1",
                      check);
  check.Expect("no duplicate keys", doubled.empty(), "in the bulk copies");
  check.Expect("a bulk copy keeps exactly the batches it reported committed", copied == batches,
               std::to_string(copied.size()) + " batches stored, " +
                   std::to_string(batches.size()) + " reported");
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  auto at = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(at, v.size() - 1)];
}

void Setup(Client& c) {
  const char* batches[] = {
      "use pubs2",
      "create table soak_acct (id int not null, balance int not null)",
      "create unique index soak_acct_id on soak_acct (id)",
      "create table soak_items (k int not null, owner int not null, val int not null,"
      " note varchar(40) null)",
      "create unique index soak_items_k on soak_items (k)",
      "create table soak_bulk (sess int not null, batch int not null, seq int not null,"
      " val int not null)",
      "use tempdb",
      "create table soak_journal (sess int not null, seq int not null, src int not null,"
      " dst int not null, amount int not null)",
      "create unique index soak_journal_k on soak_journal (sess, seq)",
      "use pubs2",
  };
  for (const char* sql : batches) {
    auto o = c.Lang(sql);
    if (!o.ok) throw std::runtime_error(std::string(sql) + ": " + o.error);
  }
  std::string fill;
  for (int a = 1; a <= kAccounts; ++a)
    fill +=
        "insert soak_acct values (" + std::to_string(a) + ", " + std::to_string(kOpening) + ")\n";
  auto o = c.Lang(fill);
  if (!o.ok) throw std::runtime_error("filling the accounts: " + o.error);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&] {
      if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
      int v = std::atoi(argv[++i]);
      if (v < 1) throw std::invalid_argument(a + " needs a positive number");
      return v;
    };
    if (a == "--seconds")
      o.seconds = value();
    else if (a == "--sessions") {
      o.sessions = value();
      // The server takes 64 connections; the final check logs in once the sessions are gone.
      if (o.sessions > 64) throw std::invalid_argument("--sessions takes 64 at most");
    } else if (a == "--timeout")
      o.timeout = value();
    else
      throw std::invalid_argument("unknown argument " + a);
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = Parse(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\nusage: %s [--seconds N] [--sessions N] [--timeout S]\n", e.what(),
                 argv[0]);
    return 2;
  }
  const fs::path data = fs::temp_directory_path() / ("norv-soak-" + std::to_string(::getpid()));
  fs::create_directories(data);
  int status = 0;
  try {
    ServerProcess server(data);
    std::ofstream(data / "freetds.conf")
        << "[global]\n\ttds version = 5.0\n\tclient charset = UTF-8\n[SOAK]\n\thost = 127.0.0.1\n"
        << "\tport = " << server.Port() << "\n";
    ::setenv("FREETDSCONF", (data / "freetds.conf").c_str(), 1);

    {
      Client admin(options.timeout, 0);
      Setup(admin);
    }
    // Logins one at a time: Client-Library's start-up is not meant to race.
    std::vector<std::unique_ptr<Session>> sessions;
    for (int i = 1; i <= options.sessions; ++i)
      sessions.push_back(std::make_unique<Session>(i, std::make_unique<Client>(options.timeout, i),
                                                   static_cast<uint32_t>(i * 7919)));

    std::printf("soak: %d sessions for %d s against the sample server on port %d\n",
                options.sessions, options.seconds, server.Port());
    std::fflush(stdout);
    // Memory is compared between the first minute (half the run when shorter than two
    // minutes) and the end.
    const int markAt = options.seconds >= 120 ? 60 : options.seconds / 2;
    std::atomic<bool> running{true};
    ServerProcess::Memory atMark;
    std::thread sampler([&] {
      const auto mark = Clock::now() + std::chrono::seconds(markAt);
      bool marked = false;
      while (running) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (!marked && Clock::now() >= mark) {
          atMark = server.ReadMemory();
          marked = true;
        }
      }
      if (!marked) atMark = server.ReadMemory();
    });
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(options.seconds);
    std::vector<std::thread> threads;
    for (auto& s : sessions) threads.emplace_back([&s, end] { s->Run(end); });
    for (auto& t : threads) t.join();
    for (auto& s : sessions) s->Close();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    running = false;
    sampler.join();
    const auto atEnd = server.ReadMemory();

    Check check;
    for (const auto& s : sessions)
      check.Expect("sessions see no broken invariant while they run", s->log().broken.empty(),
                   s->log().broken);
    check.Expect("the server runs to the end", server.Alive());
    if (server.Alive()) {
      Client checker(options.timeout, 0);
      CheckFinal(checker, sessions, check);
    }

    std::map<std::string, long> counts;
    std::vector<double> latencies;
    long transactions = 0, deadlocks = 0;
    for (const auto& s : sessions) {
      for (const auto& [k, n] : s->log().counts) {
        counts[k] += n;
        transactions += n;
      }
      deadlocks += s->log().deadlocks;
      latencies.insert(latencies.end(), s->log().latencies.begin(), s->log().latencies.end());
    }
    std::printf("transactions: %ld in %.1f s (", transactions, elapsed);
    bool firstKind = true;
    for (const auto& [k, n] : counts) {
      std::printf("%s%s %ld", firstKind ? "" : ", ", k.c_str(), n);
      firstKind = false;
    }
    std::printf("); deadlock victims retried: %ld\n", deadlocks);
    std::printf("throughput: %.1f transactions/s\n", transactions / elapsed);
    std::printf("latency: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", Percentile(latencies, 0.5),
                Percentile(latencies, 0.99), Percentile(latencies, 1.0));
    std::printf("server peak memory (VmHWM): %.1f MB\n", atEnd.peak / 1024.0);
    const double grew =
        atMark.rss > 0 ? 100.0 * static_cast<double>(atEnd.rss - atMark.rss) / atMark.rss : 0;
    std::printf("server memory after %s: RSS %.1f MB at %d s, %.1f MB at the end (%+.1f%%): %s\n",
                markAt == 60 ? "the first minute" : "the first half of this short run",
                atMark.rss / 1024.0, markAt, atEnd.rss / 1024.0, grew,
                grew > 5.0 ? "grew" : "did not grow");
    if (check.Holds()) {
      std::printf("invariants hold\n");
    } else {
      std::printf("invariant broken: %s\n", check.First().c_str());
      status = 1;
    }
  } catch (const std::exception& e) {
    std::printf("soak failed: %s\n", e.what());
    status = 1;
  }
  std::error_code ec;
  fs::remove_all(data, ec);
  return status;
}
