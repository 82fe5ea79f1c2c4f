// Triggers: a table's insert, update and delete triggers fire once per statement after its rows
// have changed. The rows a statement changes are caught by temporary SQLite triggers into two
// temporary tables that the trigger body reads as `inserted` and `deleted`.
#include "engine/session.h"

#include <algorithm>

namespace sampleserver {

using storage::Exec;
using storage::QuoteId;
using storage::Statement;

namespace {

const char* ActionColumn(TriggerAction a) {
  switch (a) {
    case TriggerAction::Insert: return "instrig";
    case TriggerAction::Update: return "updtrig";
    case TriggerAction::Delete: return "deltrig";
  }
  return "instrig";
}

// Drops SQLite objects whether or not a rollback already removed them.
void DropQuietly(sqlite3* db, const std::string& sql) {
  try {
    Exec(db, sql);
  } catch (const storage::SqliteError&) {
  }
}

}  // namespace

ArmedTrigger::~ArmedTrigger() {
  if (!db) return;
  Disarm();
  DropQuietly(db, "DROP TABLE IF EXISTS temp." + QuoteId(inserted.sqlName));
  DropQuietly(db, "DROP TABLE IF EXISTS temp." + QuoteId(deleted.sqlName));
}

void ArmedTrigger::Disarm() {
  for (const auto& name : captures) DropQuietly(db, "DROP TRIGGER IF EXISTS temp." + QuoteId(name));
  captures.clear();
}

std::unique_ptr<ArmedTrigger> SessionImpl::ArmTrigger(const catalog::TableMeta& t,
                                                      TriggerAction action,
                                                      std::set<std::string> columns) {
  if (t.schema == "temp" || t.type != "U") return nullptr;
  int64_t id = 0;
  std::string name;
  {
    const std::string objects = QuoteId(t.schema) + ".sysobjects";
    Statement find(db_.get(), "SELECT o.id, o.name FROM " + objects + " t JOIN " + objects +
                                  " o ON o.id = t." + ActionColumn(action) +
                                  " AND o.type = 'TR' WHERE t.id = ?");
    find.Bind(1, t.id);
    if (!find.Step()) return nullptr;
    id = find.Int(0);
    name = find.Text(1);
  }
  // A trigger's changes to its own table do not fire it again unless the session asks.
  if (!options_.selfRecursion && !triggerFrames_.empty() && triggerFrames_.back().triggerId == id)
    return nullptr;
  if (nestlevel_ >= 16) {
    // Too deep a chain of triggers fails the whole transaction.
    try {
      Exec(db_.get(), "ROLLBACK");
    } catch (const storage::SqliteError&) {
    }
    trancount_ = 0;
    statementOpen_ = false;
    ++rollbacks_;
    nestingExceeded_ = true;
    Fail(217, {"16"}, true);
  }
  auto armed = std::make_unique<ArmedTrigger>();
  armed->id = id;
  armed->name = name;
  armed->action = action;
  armed->table = t;
  armed->columns = std::move(columns);
  armed->outermost = triggerFrames_.empty();
  return armed;
}

void SessionImpl::CaptureRows(ArmedTrigger& armed) {
  armed.db = db_.get();
  // Where `rollback trigger` returns to: before the statement's own change.
  if (armed.outermost) Exec(db_.get(), "SAVEPOINT syb_trigger_work");
  const auto& t = armed.table;
  const std::string tag = std::to_string(++triggerSeq_);
  const std::string source = QuoteId(t.schema) + "." + QuoteId(t.name);
  std::string newRow, oldRow, columns;
  for (const auto& c : t.columns) {
    const char* sep = columns.empty() ? "" : ", ";
    newRow += sep + std::string("NEW.") + QuoteId(c.name);
    oldRow += sep + std::string("OLD.") + QuoteId(c.name);
    columns += sep + QuoteId(c.name);
  }
  // Untyped columns keep the stored values as they are. Nothing here reads the table: a read
  // would pin the transaction to a snapshot its write could not then upgrade from.
  auto pseudo = [&](catalog::TableMeta& m, const char* name, const std::string& sqlName) {
    m = t;
    m.name = name;
    m.sqlName = sqlName;
    m.schema = "temp";
    m.indexes.clear();
    Exec(db_.get(), "CREATE TEMP TABLE " + QuoteId(sqlName) + " (" + columns + ")");
  };
  pseudo(armed.inserted, "inserted", "syb_inserted_" + tag);
  pseudo(armed.deleted, "deleted", "syb_deleted_" + tag);
  auto capture = [&](const char* event, const std::string& into, const std::string& row) {
    std::string name = "syb_capture_" + tag + "_" + std::to_string(armed.captures.size());
    Exec(db_.get(), "CREATE TEMP TRIGGER " + QuoteId(name) + " AFTER " + event + " ON " + source +
                        " BEGIN INSERT INTO " + QuoteId(into) + " VALUES (" + row + "); END");
    armed.captures.push_back(name);
  };
  const auto action = armed.action;
  if (action != TriggerAction::Delete)
    capture(action == TriggerAction::Insert ? "INSERT" : "UPDATE", armed.inserted.sqlName, newRow);
  if (action != TriggerAction::Insert)
    capture(action == TriggerAction::Delete ? "DELETE" : "UPDATE", armed.deleted.sqlName, oldRow);
}

bool SessionImpl::FireTrigger(ArmedTrigger& armed, int64_t rows, ResultSink& sink) {
  armed.Disarm();
  std::string text;
  {
    Statement st(db_.get(), "SELECT text FROM " + QuoteId(armed.table.schema) +
                                ".syscomments WHERE id = ? ORDER BY colid2, colid");
    st.Bind(1, armed.id);
    while (st.Step()) text += st.Text(0);
  }
  sql::ParseOptions po;
  po.quotedIdentifier = options_.quotedIdentifier;
  auto parsed = sql::Parse(text, po);
  if (!parsed.ok() || parsed.statements.empty()) Fail(2812, {armed.name});
  const auto* def = parsed.statements[0]->If<sql::CreateTriggerStmt>();
  if (!def) Fail(2812, {armed.name});

  const bool outermost = armed.outermost;
  triggerFrames_.push_back(TriggerFrame{armed.id, armed.inserted, armed.deleted, armed.columns});
  // The body runs as a procedure does: its own variables, in its table's database, one level
  // deeper, inside a transaction even when the statement that fired it had none.
  std::map<std::string, Variable> vars;
  std::swap(vars, variables_);
  const std::string savedText = batchText_;
  const std::string savedDb = database_;
  const std::string savedTable = currentTable_;
  const auto savedMeta = currentMeta_;
  const bool savedOpen = statementOpen_;
  const bool implicitTran = trancount_ == 0;
  const int rollbacksBefore = rollbacks_;
  batchText_ = text;
  database_ = armed.table.database;
  statementOpen_ = false;
  if (implicitTran) trancount_ = 1;
  ++nestlevel_;
  lastRowcount_ = rows;
  auto restore = [&] {
    --nestlevel_;
    triggerFrames_.pop_back();
    std::swap(vars, variables_);
    batchText_ = savedText;
    database_ = savedDb;
    currentTable_ = savedTable;
    currentMeta_ = savedMeta;
    statementOpen_ = savedOpen;
    if (rollbacks_ != rollbacksBefore) {
      // The trigger rolled the transaction back: the rest of the batch does not run.
      statementOpen_ = false;
      batchAborted_ = true;
      triggerAborted_ = true;
    } else if (implicitTran && trancount_ > 0) {
      --trancount_;
    }
  };
  bool undone = false;
  try {
    RunList(def->body, sink);
  } catch (const TriggerRollback&) {
    restore();
    if (!outermost) throw;
    // Undo the statement that fired the outermost trigger and every trigger since.
    try {
      Exec(db_.get(), "ROLLBACK TO syb_trigger_work");
    } catch (const storage::SqliteError&) {
    }
    undone = true;
  } catch (...) {
    restore();
    throw;
  }
  if (!undone) restore();
  if (outermost) DropQuietly(db_.get(), "RELEASE syb_trigger_work");
  return !undone;
}

void SessionImpl::RunRollbackTrigger(const sql::RollbackTranStmt& s, ResultSink& sink) {
  // Outside a trigger there is nothing to undo.
  if (triggerFrames_.empty()) {
    Done(sink, 0, 0, false);
    return;
  }
  if (s.raiserror) RunRaiserror(s.raiserror->As<sql::RaiserrorStmt>(), sink);
  throw TriggerRollback{};
}

bool SessionImpl::ColumnUpdated(const std::string& column) const {
  if (triggerFrames_.empty()) return false;
  return triggerFrames_.back().updated.count(column) > 0;
}

std::optional<catalog::TableMeta> SessionImpl::TriggerTable(const sql::ObjectName& name) const {
  if (triggerFrames_.empty() || !name.database.empty() || !name.owner.empty()) return std::nullopt;
  if (name.object == "inserted") return triggerFrames_.back().inserted;
  if (name.object == "deleted") return triggerFrames_.back().deleted;
  return std::nullopt;
}

void SessionImpl::ReplaceTriggers(const std::string& schema, int64_t tableId, int64_t triggerId,
                                  const sql::CreateTriggerStmt& tr) {
  // One trigger per action: the new one takes over its actions, and an old trigger left with
  // none is dropped.
  std::vector<int64_t> before;
  {
    Statement st(db_.get(), "SELECT instrig, updtrig, deltrig FROM " + QuoteId(schema) +
                                ".sysobjects WHERE id = ?");
    st.Bind(1, tableId);
    if (st.Step())
      for (int i = 0; i < 3; ++i)
        if (st.Int(i) != 0) before.push_back(st.Int(i));
  }
  std::string sets;
  auto set = [&](bool on, const char* column) {
    if (on)
      sets += (sets.empty() ? "" : ", ") + std::string(column) + " = " + std::to_string(triggerId);
  };
  set(tr.onInsert, "instrig");
  set(tr.onUpdate, "updtrig");
  set(tr.onDelete, "deltrig");
  if (sets.empty()) return;
  Exec(db_.get(), "UPDATE " + QuoteId(schema) + ".sysobjects SET " + sets +
                      " WHERE id = " + std::to_string(tableId));
  for (int64_t old : before) {
    if (old == triggerId) continue;
    auto used = storage::QueryInt(
        db_.get(), "SELECT count(*) FROM " + QuoteId(schema) +
                       ".sysobjects WHERE id = " + std::to_string(tableId) + " AND " +
                       std::to_string(old) + " IN (instrig, updtrig, deltrig)");
    if (used.value_or(0) == 0) catalog::DropObject(db_.get(), schema, old);
  }
}

void SessionImpl::UnlinkTrigger(const std::string& schema, int64_t triggerId) {
  const std::string id = std::to_string(triggerId);
  const std::string table = QuoteId(schema) + ".sysobjects";
  Exec(db_.get(), "UPDATE " + table + " SET instrig = 0 WHERE instrig = " + id + " AND type = 'U'");
  Exec(db_.get(), "UPDATE " + table + " SET updtrig = 0 WHERE updtrig = " + id + " AND type = 'U'");
  Exec(db_.get(), "UPDATE " + table + " SET deltrig = 0 WHERE deltrig = " + id + " AND type = 'U'");
}

}  // namespace sampleserver
