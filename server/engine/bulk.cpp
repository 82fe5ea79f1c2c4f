// Bulk copy into a table: one prepared insert, one savepoint per batch.
#include "engine/bulk.h"

#include "engine/session.h"
#include "engine/values.h"
#include "sql/parser.h"

#include <sqlite3.h>

#include <exception>

namespace sampleserver {

namespace {

// This server's own number: no Sybase message for a login without the bulk-copy flag is known.
constexpr int32_t kMsgBulkNotAllowed = 16002;

ServerMessage NotAllowed() {
  ServerMessage m;
  m.number = kMsgBulkNotAllowed;
  m.severity = 16;
  m.text = "Bulk copy is not allowed: the connection did not log in for bulk copy.";
  return m;
}

}  // namespace

std::unique_ptr<BulkInsert> Session::BeginBulkInsert(std::string_view, ResultSink& sink) {
  sink.Message(NotAllowed());
  sink.Done(kDoneError, 0, false);
  return nullptr;
}

std::unique_ptr<TextWrite> Session::BeginTextWrite(std::string_view, ResultSink& sink) {
  ServerMessage m;
  m.number = 7;
  m.severity = 16;
  m.text = "This server has no text pointers.";
  sink.Message(m);
  sink.Done(kDoneError, 0, false);
  return nullptr;
}

class BulkInserter final : public BulkInsert {
 public:
  BulkInserter(SessionImpl& session, catalog::TableMeta table, std::vector<ColumnInfo> columns,
               bool identityInsert)
      : session_(session), table_(std::move(table)), columns_(std::move(columns)) {
    std::string list, values;
    for (size_t i = 0; i < table_.columns.size(); ++i) {
      const auto& c = table_.columns[i];
      // Without identity_insert the row's identity value is only a placeholder; a computed
      // column's value is the server's own.
      if ((c.identity && !identityInsert) || c.computed) continue;
      std::string param = "?" + std::to_string(i + 1);
      if (!c.identity) {
        if (auto d = session_.DefaultSql(table_, c)) param = "coalesce(" + param + ", " + *d + ")";
      }
      list += (list.empty() ? "" : ", ") + storage::QuoteId(c.name);
      values += (values.empty() ? "" : ", ") + param;
    }
    std::string target = storage::QuoteId(table_.schema) + "." + storage::QuoteId(table_.name);
    sql_ = list.empty() ? "INSERT INTO " + target + " DEFAULT VALUES"
                        : "INSERT INTO " + target + " (" + list + ") VALUES (" + values + ")";
    for (const auto& c : table_.columns) {
      if (c.identity) identity_ = true;
      types_.push_back(c.type.type);
      identityColumn_.push_back(c.identity);
    }
  }

  ~BulkInserter() override { Abort(); }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  void Add(std::vector<Value>& row, ResultSink& sink) override {
    if (failure_) return;
    try {
      Open(sink);
      sqlite3_stmt* st = insert_->get();
      int params = sqlite3_bind_parameter_count(st);
      for (size_t i = 0; i < types_.size() && static_cast<int>(i) < params; ++i) {
        int index = static_cast<int>(i) + 1;
        const Value* v = i < row.size() ? &row[i] : nullptr;
        if (!v || IsNull(*v)) {
          sqlite3_bind_null(st, index);
        } else if (identityColumn_[i]) {
          // SQLite's rowid takes integers only; identity values are whole numbers anyway.
          Value n = Convert(*v, MakeType(SqlType::BigInt), {});
          sqlite3_bind_int64(st, index, std::get<int64_t>(n));
        } else {
          const auto& c = table_.columns[i];
          // Bulk rows are cut to their columns silently; string_rtruncation governs insert and
          // update.
          Value fitted = FitToColumn(*v, MakeType(c.type.type, c.type.length), !c.nullable, false,
                                     c.type.usertype == 34 || c.type.usertype == 35);
          BindStorage(st, index, fitted, types_[i]);
        }
      }
      insert_->Step();
      insert_->Reset();
      ++rows_;
    } catch (...) {
      failure_ = MessageOf(std::current_exception());
      if (insert_) sqlite3_reset(insert_->get());
      if (failure_->number == 1205 || failure_->number == 12205) {
        // A deadlock or a lock timeout ends the client's transaction too.
        open_ = false;
        session_.RollbackTransaction();
      }
    }
  }

  void Commit(ResultSink& sink) override {
    if (!failure_ && open_) {
      try {
        storage::Exec(session_.Db(), "RELEASE syb_bulk");
        open_ = false;
        if (identity_ && rows_ > 0)
          session_.lastIdentity_ = sqlite3_last_insert_rowid(session_.Db());
      } catch (...) {
        failure_ = MessageOf(std::current_exception());
      }
    }
    if (failure_) {
      Abort();
      session_.Send(sink, *failure_);
      sink.Done(kDoneError, 0, false);
    } else {
      sink.Done(kDoneCount, static_cast<int32_t>(rows_), false);
    }
    session_.lastRowcount_ = failure_ ? 0 : rows_;
    failure_.reset();
    rows_ = 0;
    session_.SyncLocks();
  }

  void Fail(const ServerMessage& message) override {
    if (!failure_) failure_ = message;
  }

  void Abort() override {
    if (insert_) sqlite3_reset(insert_->get());
    if (!open_) return;
    open_ = false;
    try {
      storage::Exec(session_.Db(), "ROLLBACK TO syb_bulk");
      storage::Exec(session_.Db(), "RELEASE syb_bulk");
    } catch (const storage::SqliteError&) {
    }
    rows_ = 0;
    session_.SyncLocks();
  }

 private:
  void Open(ResultSink& sink) {
    if (open_) return;
    if (!insert_) insert_.emplace(session_.Db(), sql_);
    // The table's lock is taken before the batch writes. In the client's transaction it is
    // taken first (the transaction may have to begin again to wait for it); otherwise the
    // batch's own savepoint is the transaction that holds it.
    const bool own = sqlite3_get_autocommit(session_.Db()) != 0;
    if (!own) Lock(sink);
    // A savepoint nests in the client's own transaction and commits on release otherwise.
    storage::Exec(session_.Db(), "SAVEPOINT syb_bulk");
    open_ = true;
    if (own) Lock(sink);
  }

  void Lock(ResultSink& sink) {
    if (table_.schema == "temp") return;  // a #temp table is the session's own
    ResultSink* const outer = session_.waitSink_;
    session_.waitSink_ = &sink;
    bool locked = false;
    try {
      locked = session_.LockForWrite(table_.database, sink, [this] { return table_.id; });
    } catch (...) {
      session_.waitSink_ = outer;
      throw;
    }
    session_.waitSink_ = outer;
    if (!locked) throw StatementError{session_.Msg(7, {"The bulk copy was cancelled."}), false};
  }

  ServerMessage MessageOf(std::exception_ptr error) {
    session_.currentTable_ = table_.name;
    session_.currentMeta_ = table_;
    ServerMessage m;
    try {
      std::rethrow_exception(error);
    } catch (const StatementError& e) {
      m = e.message;
    } catch (const SqlError& e) {
      m = e.message();
    } catch (const storage::SqliteError& e) {
      m = session_.MapSqliteError(e);
    } catch (const std::exception& e) {
      m = session_.Msg(7, {e.what()});
    }
    return m;
  }

  SessionImpl& session_;
  catalog::TableMeta table_;
  std::vector<ColumnInfo> columns_;
  std::vector<SqlType> types_;
  std::vector<bool> identityColumn_;
  bool identity_ = false;
  std::string sql_;
  std::optional<storage::Statement> insert_;
  bool open_ = false;
  int64_t rows_ = 0;
  std::optional<ServerMessage> failure_;
};

std::unique_ptr<BulkInsert> SessionImpl::BeginBulkInsert(std::string_view table, ResultSink& sink) {
  try {
    if (!login_.bulkCopy) throw StatementError{NotAllowed(), false};
    // The table is named as in the select * the client described it with.
    sql::ParseOptions po;
    po.quotedIdentifier = options_.quotedIdentifier;
    auto parsed = sql::Parse("select * from " + std::string(table), po);
    if (!parsed.ok()) {
      throw StatementError{ParseErrorMessage(*parsed.error), false};
    }
    const auto* select =
        parsed.statements.size() == 1 ? parsed.statements[0]->If<sql::SelectStmt>() : nullptr;
    if (!select || select->query->from.size() != 1 || !select->unions.empty() ||
        select->query->from[0]->kind != sql::TableRefKind::Named || select->query->where) {
      Fail(102, {std::string(table)});
    }
    auto target = RequireTable(select->query->from[0]->name);
    if (target.meta.type == "V") Fail(4405, {target.meta.name});
    TranslatedQuery q = TranslateSelect(*select);
    bool idInsert = options_.identityInsert.count(target.meta.name) &&
                    options_.identityInsert[target.meta.name];
    auto bulk = std::make_unique<BulkInserter>(*this, std::move(target.meta), std::move(q.columns),
                                               idInsert);
    Done(sink, 0, 0, false);
    return bulk;
  } catch (...) {
    ReportCurrentError(sink);
    return nullptr;
  }
}

}  // namespace sampleserver
