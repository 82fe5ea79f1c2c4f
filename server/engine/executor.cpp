// The executor: batches, control flow, queries, DML and DDL over the parser's tree.
#include "engine/builtins.h"
#include "engine/compute.h"
#include "engine/exact.h"
#include "engine/messages.h"
#include "engine/session.h"
#include "engine/textptrs.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "sql/parser.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <set>
#include <thread>

namespace sampleserver {

using storage::Exec;
using storage::QuoteId;
using storage::QuoteText;
using storage::Statement;

namespace {

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TypeSpec SpecOf(const TypeDesc& t) {
  TypeSpec s;
  s.type = t.type;
  s.length = t.IsLob() ? kLobLength : t.length;
  s.precision = t.precision;
  s.scale = t.scale;
  return s;
}

std::string ValueText(const Value& v, const TypeDesc& t) {
  if (IsNull(v)) return "";
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return FormatValue(v, t.type, -1, t.scale);
}

}  // namespace

// ------------------------------------------------------------------------------------------
// Names, types, values

std::string SessionImpl::DatabaseFor(const sql::ObjectName& name) const {
  return name.database.empty() ? database_ : name.database;
}

std::string SessionImpl::SchemaFor(const sql::ObjectName& name) {
  return SchemaOf(DatabaseFor(name));
}

std::optional<SessionImpl::ResolvedTable> SessionImpl::ResolveTable(const sql::ObjectName& name) {
  if (auto pseudo = TriggerTable(name)) return ResolvedTable{std::move(*pseudo), true};
  if (!name.object.empty() && name.object[0] == '#') {
    auto it = temps_.find(name.object);
    if (it == temps_.end()) return std::nullopt;
    return ResolvedTable{it->second, true};
  }
  std::string db = DatabaseFor(name);
  std::string schema = SchemaOf(db);
  if (schema.empty()) return std::nullopt;
  auto meta = catalog::LoadTable(db_.get(), schema, db, name.object);
  if (!meta) return std::nullopt;
  return ResolvedTable{std::move(*meta), false};
}

SessionImpl::ResolvedTable SessionImpl::RequireTable(const sql::ObjectName& name) {
  auto t = ResolveTable(name);
  if (!t) Fail(208, {name.ToString()}, true);
  return std::move(*t);
}

std::optional<TypeDesc> SessionImpl::ResolveType(const sql::DataType& t, bool* allowNulls) {
  std::optional<int> a1 = t.length ? t.length : t.precision;
  auto b = BuiltinType(t.name, a1, t.scale);
  if (b) {
    if (allowNulls) *allowNulls = false;
    return b;
  }
  std::string schema = SchemaOf(database_);
  auto u = catalog::FindUserType(db_.get(), schema, t.name);
  if (!u) return std::nullopt;
  if (allowNulls) *allowNulls = u->allowNulls;
  return u->type;
}

std::string SessionImpl::LiteralSql(const Value& v, const TypeDesc& t) {
  bool exactType = t.IsExactNumeric() || t.type == SqlType::Money || t.type == SqlType::SmallMoney;
  if (exactType && !IsNull(v)) {
    // Exact types are written in their storage form (engine/exact.h).
    if (auto n = exact::FromValue(v)) return "X'" + BytesToHex(exact::Encode(*n)) + "'";
  }
  return std::visit(
      [](const auto& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>)
          return "NULL";
        else if constexpr (std::is_same_v<T, int64_t>)
          return std::to_string(x);
        else if constexpr (std::is_same_v<T, double>) {
          char buf[40];
          std::snprintf(buf, sizeof buf, "%.17g", x);
          std::string s = buf;
          if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
          return s;
        } else if constexpr (std::is_same_v<T, NumericValue>) {
          std::string s = FormatNumeric(x);
          if (s.find('.') == std::string::npos) s += ".0";
          return s;
        } else if constexpr (std::is_same_v<T, MoneyValue>) {
          char buf[40];
          std::snprintf(buf, sizeof buf, "%.4f", MoneyToDouble(x));
          return buf;
        } else if constexpr (std::is_same_v<T, DateTimeValue>) {
          return QuoteText(DateTimeToStorage(x));
        } else if constexpr (std::is_same_v<T, std::string>) {
          return QuoteText(x);
        } else {
          return "X'" + BytesToHex(x) + "'";
        }
      },
      v);
}

Value SessionImpl::ToValue(const Value& raw, const TypeDesc& from, const TypeDesc& to,
                           bool isImplicit) {
  if (IsNull(raw)) return std::monostate{};
  ConvertOptions o;
  o.implicit = isImplicit;
  o.from = from.type;
  o.dateFormat = ParseDateFormat(options_.dateformat).value_or(DateFormat::Mdy);
  return sampleserver::Convert(raw, SpecOf(to), o);
}

std::vector<Value> SessionImpl::ReadRow(Statement& st, const std::vector<ColumnInfo>& cols) {
  std::vector<Value> row;
  row.reserve(cols.size());
  for (size_t i = 0; i < cols.size(); ++i) {
    Value v = FromStorage(st.get(), static_cast<int>(i), cols[i]);
    if (cols[i].type == SqlType::Text || cols[i].type == SqlType::Image) {
      auto limit = static_cast<size_t>(std::max(0, options_.textsize));
      if (auto* s = std::get_if<std::string>(&v); s && s->size() > limit) s->resize(limit);
      if (auto* b = std::get_if<Bytes>(&v); b && b->size() > limit) b->resize(limit);
    }
    row.push_back(std::move(v));
  }
  return row;
}

Typed SessionImpl::TranslateScalar(const sql::Expr& e) {
  Translator tr(*this);
  return tr.Expr(e, nullptr);
}

TranslatedQuery SessionImpl::TranslateSelect(const sql::SelectStmt& s, bool forCursor,
                                             bool withCompute, bool textPointers) {
  Translator tr(*this);
  tr.noLimit = forCursor;
  tr.allowCompute = withCompute;
  tr.textPointers = textPointers;
  return tr.Select(s);
}

Value SessionImpl::Evaluate(const sql::Expr& e, TypeDesc* type) {
  Typed t = TranslateScalar(e);
  if (type) *type = t.type;
  if (t.isNull) return std::monostate{};
  Statement st(db_.get(), "SELECT " + t.sql);
  if (!st.Step()) return std::monostate{};
  return FromStorage(st.get(), 0, MakeColumnInfo("", t.type, true));
}

Value SessionImpl::EvaluateAs(const sql::Expr& e, const TypeDesc& target) {
  TypeDesc from;
  Value v = Evaluate(e, &from);
  return ToValue(v, from, target, true);
}

// ------------------------------------------------------------------------------------------
// Batches and control flow

void SessionImpl::RunBatch(const std::vector<sql::StmtPtr>& statements, std::string_view text,
                           ResultSink& sink) {
  batchText_ = std::string(text);
  batchAborted_ = false;
  triggerAborted_ = false;
  nestingExceeded_ = false;
  for (const auto& st : statements) {
    if (sink.Cancelled() || batchAborted_) break;
    if (RunStatement(*st, sink) == Flow::Return) break;
  }
}

SessionImpl::Flow SessionImpl::RunList(const std::vector<sql::StmtPtr>& list, ResultSink& sink) {
  for (const auto& st : list) {
    if (sink.Cancelled() || batchAborted_) return Flow::Return;
    Flow f = RunStatement(*st, sink);
    if (f != Flow::Normal) return f;
  }
  return Flow::Normal;
}

bool SessionImpl::Condition(const sql::Expr& e, ResultSink& sink, bool* failed) {
  *failed = false;
  try {
    currentLine_ = e.line;
    Typed t = TranslateScalar(e);
    Statement st(db_.get(), "SELECT CASE WHEN " + t.sql + " THEN 1 ELSE 0 END");
    bool result = st.Step() && st.Int(0) == 1;
    lastError_ = 0;  // the test is a statement of its own: `if @@error != 0` clears @@error
    return result;
  } catch (...) {
    *failed = true;
    ReportCurrentError(sink);
    return false;
  }
}

SessionImpl::Flow SessionImpl::RunStatement(const sql::Stmt& stmt, ResultSink& sink) {
  using K = sql::StmtKind;
  currentLine_ = stmt.line;
  switch (stmt.kind) {
    case K::If: {
      const auto& s = stmt.As<sql::IfStmt>();
      bool failed = false;
      bool c = Condition(*s.condition, sink, &failed);
      if (failed) return Flow::Normal;
      if (c) return RunStatement(*s.then, sink);
      if (s.otherwise) return RunStatement(*s.otherwise, sink);
      return Flow::Normal;
    }
    case K::While: {
      const auto& s = stmt.As<sql::WhileStmt>();
      for (;;) {
        if (sink.Cancelled() || batchAborted_) return Flow::Return;
        bool failed = false;
        if (!Condition(*s.condition, sink, &failed) || failed) break;
        Flow f = RunStatement(*s.body, sink);
        if (f == Flow::Break) break;
        if (f == Flow::Return) return f;
      }
      return Flow::Normal;
    }
    case K::Block: return RunList(stmt.As<sql::BlockStmt>().body, sink);
    case K::Break: return Flow::Break;
    case K::Continue: return Flow::Continue;
    case K::Return: {
      const auto& r = stmt.As<sql::ReturnStmt>();
      returnStatus_ = 0;
      returnGiven_ = r.value != nullptr;
      if (r.value) {
        try {
          Value v = EvaluateAs(*r.value, *BuiltinType("int", std::nullopt, std::nullopt));
          if (const auto* i = std::get_if<int64_t>(&v)) returnStatus_ = static_cast<int>(*i);
        } catch (...) {
          ReportCurrentError(sink);
        }
      }
      return Flow::Return;
    }
    case K::Label: return Flow::Normal;
    default: RunSimple(stmt, sink); return Flow::Normal;
  }
}

void SessionImpl::ReportCurrentError(ResultSink& sink) {
  ServerMessage m;
  bool abortBatch = false;
  try {
    throw;
  } catch (const StatementError& e) {
    m = e.message;
    abortBatch = e.abortBatch;
  } catch (const SqlError& e) {
    m = e.message();
  } catch (const storage::SqliteError& e) {
    m = MapSqliteError(e);
  } catch (const std::exception& e) {
    m = Msg(0);
    m.number = 0;
    m.severity = 16;
    m.text = e.what();
  }
  if (m.server.empty()) m.server = engine_->config.serverName;
  m.line = currentLine_;
  // A deadlock's victim and a lock wait that timed out lose their transaction and the batch.
  if (m.number == 1205 || m.number == 12205) {
    abortBatch = true;
    RollbackTransaction();
  }
  // Arithmetic errors under arithabort end the transaction and the batch.
  if ((m.number == 3607 || m.number == 3606) && options_.arithabort) {
    abortBatch = true;
    if (trancount_ > 0) {
      EndStatement(false);
      try {
        Exec(db_.get(), "ROLLBACK");
      } catch (const storage::SqliteError&) {
      }
      trancount_ = 0;
      ++rollbacks_;
    }
  }
  EndStatement(false);
  lastError_ = m.number;
  ++errorsRaised_;
  Send(sink, m);
  Done(sink, kDoneError, 0, false);
  if (abortBatch) batchAborted_ = true;
}

ServerMessage SessionImpl::MapSqliteError(const storage::SqliteError& e) {
  std::string text = e.what();
  if (auto fm = DecodeFunctionError(text)) {
    ServerMessage m = *fm;
    m.server = engine_->config.serverName;
    return m;
  }
  int code = e.code();
  auto after = [&](const char* prefix) {
    auto p = text.find(prefix);
    return p == std::string::npos ? std::string() : text.substr(p + std::strlen(prefix));
  };
  if (code == SQLITE_CONSTRAINT_NOTNULL) {
    std::string col = after("failed: ");
    std::string table = currentTable_;
    auto dot = col.find('.');
    if (dot != std::string::npos) {
      if (table.empty()) table = col.substr(0, dot);
      col = col.substr(dot + 1);
    }
    return Msg(515, {col, table});
  }
  if (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY) {
    // "UNIQUE constraint failed: t.a, t.b": find our index with those keys.
    std::string cols = after("failed: ");
    std::vector<std::string> names;
    size_t pos = 0;
    while (pos < cols.size()) {
      size_t comma = cols.find(", ", pos);
      std::string part =
          cols.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
      auto dot = part.find('.');
      names.push_back(dot == std::string::npos ? part : part.substr(dot + 1));
      if (comma == std::string::npos) break;
      pos = comma + 2;
    }
    std::string indexName;
    if (currentMeta_) {
      for (const auto& ix : currentMeta_->indexes) {
        std::vector<std::string> keys;
        for (int colid : ix.keys)
          for (const auto& c : currentMeta_->columns)
            if (c.colid == colid) keys.push_back(c.name);
        if (keys == names) indexName = ix.name;
      }
    }
    return Msg(2601, {currentTable_, indexName});
  }
  if (code == SQLITE_CONSTRAINT_TRIGGER) {
    // A foreign key's trigger: "syb_fk:<number>:<constraint>".
    auto at = text.find("syb_fk:");
    if (at != std::string::npos) {
      std::string rest = text.substr(at + 7);
      auto colon = rest.find(':');
      int number = std::atoi(rest.substr(0, colon).c_str());
      std::string name = colon == std::string::npos ? "" : rest.substr(colon + 1);
      return Msg(number, {database_, currentTable_, name});
    }
  }
  if (code == SQLITE_CONSTRAINT_CHECK) {
    return Msg(548, {database_, currentTable_, after("failed: ")});
  }
  if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED) {
    if ((code & 0xFF) == SQLITE_BUSY && lockFailure_ == LockFailure::Timeout)
      return LockTimeoutMessage("", 0);
    return Msg(1205, {});
  }
  // SQLite's own limits on the statement it was given are lower than the parser's.
  if (text.find("parser stack overflow") != std::string::npos ||
      text.find("Expression tree is too large") != std::string::npos)
    return Msg(191, {});
  return Msg(7, {"Statement failed: " + text});
}

void SessionImpl::RunSimple(const sql::Stmt& stmt, ResultSink& sink) {
  using K = sql::StmtKind;
  currentTable_.clear();
  currentMeta_.reset();
  // sysprocesses.cmd: the client's own statement, not those of the procedures it runs.
  if (nestlevel_ == 0) {
    const char* cmd = stmt.kind == K::Select   ? "SELECT"
                      : stmt.kind == K::Insert ? "INSERT"
                      : stmt.kind == K::Update ? "UPDATE"
                      : stmt.kind == K::Delete ? "DELETE"
                      : stmt.kind == K::Exec   ? "EXECUTE"
                                               : nullptr;
    if (cmd) NoteActivity(true, cmd);
  }
  // Outside a transaction a statement takes its locks in one of its own, ended after it.
  bool lockScope = false;
  ResultSink* const outerSink = waitSink_;
  waitSink_ = &sink;
  auto endLockScope = [&] {
    waitSink_ = outerSink;
    if (lockScope && !sqlite3_get_autocommit(db_.get())) {
      try {
        Exec(db_.get(), "RELEASE syb_lock");
      } catch (const storage::SqliteError&) {
        try {
          Exec(db_.get(), "ROLLBACK");
        } catch (const storage::SqliteError&) {
        }
      }
    }
    SyncLocks();
  };
  try {
    // Under fmtonly, statements that change data only describe themselves.
    if (options_.fmtonly && (stmt.kind == K::Insert || stmt.kind == K::Update ||
                             stmt.kind == K::Delete || stmt.kind == K::Truncate)) {
      Done(sink, 0, 0, false);
      endLockScope();
      return;
    }
    // Write locks are taken before the statement reads the database: a read first would leave
    // the transaction unable to wait for them.
    if (auto targets = WriteTargets(stmt); !targets.empty()) {
      if (stmt.kind == K::Insert || stmt.kind == K::Update || stmt.kind == K::Delete ||
          stmt.kind == K::Select)
        AutoBeginChained();
      if (sqlite3_get_autocommit(db_.get())) {
        Exec(db_.get(), "SAVEPOINT syb_lock");
        lockScope = true;
      }
      if (!LockTargets(targets, sink)) {
        // The client cancelled the wait: the statement did nothing and the batch ends.
        batchAborted_ = true;
        Done(sink, kDoneError, 0, false);
        endLockScope();
        return;
      }
    }
    switch (stmt.kind) {
      case K::Select: RunSelect(stmt.As<sql::SelectStmt>(), sink); break;
      case K::Insert: RunInsert(stmt.As<sql::InsertStmt>(), sink); break;
      case K::Update: RunUpdate(stmt.As<sql::UpdateStmt>(), sink); break;
      case K::Delete: RunDelete(stmt.As<sql::DeleteStmt>(), sink); break;
      case K::Truncate: RunTruncate(stmt.As<sql::TruncateStmt>(), sink); break;
      case K::CreateTable: RunCreateTable(stmt.As<sql::CreateTableStmt>(), sink); break;
      case K::CreateIndex: RunCreateIndex(stmt.As<sql::CreateIndexStmt>(), sink); break;
      case K::CreateView: RunCreateView(stmt.As<sql::CreateViewStmt>(), sink); break;
      case K::CreateProcedure:
        RunCreateStored(stmt, stmt.As<sql::CreateProcedureStmt>().name, "P", sink);
        break;
      case K::CreateRule:
        RunCreateStored(stmt, stmt.As<sql::CreateRuleStmt>().name, "R", sink);
        break;
      case K::CreateDefault:
        RunCreateStored(stmt, stmt.As<sql::CreateDefaultStmt>().name, "D", sink);
        break;
      case K::CreateTrigger: {
        const auto& t = stmt.As<sql::CreateTriggerStmt>();
        auto table = RequireTable(t.table);
        RunCreateStored(stmt, t.name, "TR", sink, table.meta.id);
        break;
      }
      case K::Drop: RunDrop(stmt.As<sql::DropStmt>(), sink); break;
      case K::Declare: RunDeclare(stmt.As<sql::DeclareStmt>(), sink); break;
      case K::SetVariable: RunSetVariable(stmt.As<sql::SetVariableStmt>(), sink); break;
      case K::SetOption: RunSetOption(stmt.As<sql::SetOptionStmt>(), sink); break;
      case K::Print: RunPrint(stmt.As<sql::PrintStmt>(), sink); break;
      case K::Raiserror: RunRaiserror(stmt.As<sql::RaiserrorStmt>(), sink); break;
      case K::BeginTran:
      case K::CommitTran:
      case K::RollbackTran:
      case K::SaveTran: RunTran(stmt, sink); break;
      case K::Use: RunUse(stmt.As<sql::UseStmt>(), sink); break;
      case K::Exec: RunExec(stmt.As<sql::ExecStmt>(), sink); break;
      case K::Grant: RunGrant(stmt.As<sql::GrantStmt>(), sink); break;
      case K::DeclareCursor:
      case K::OpenCursor:
      case K::FetchCursor:
      case K::CloseCursor:
      case K::DeallocateCursor: RunCursorStatement(stmt, sink); break;
      case K::Writetext: RunWritetext(stmt.As<sql::WritetextStmt>(), sink); break;
      case K::Readtext: RunReadtext(stmt.As<sql::ReadtextStmt>(), sink); break;
      case K::Goto: Fail(2812, {"goto"}); break;
      case K::Waitfor: RunWaitfor(stmt.As<sql::WaitforStmt>(), sink); break;
      case K::AlterTable: RunAlterTable(stmt.As<sql::AlterTableStmt>(), sink); break;
      default: Done(sink, 0, 0, false); break;  // accepted without effect
    }
    if (stmt.kind != K::Raiserror) lastError_ = 0;
  } catch (...) {
    ReportCurrentError(sink);
  }
  endLockScope();
}

// ------------------------------------------------------------------------------------------
// Queries

void SessionImpl::RunSelect(const sql::SelectStmt& s, ResultSink& sink) {
  if (!s.query->into.empty()) {
    RunSelectInto(s, sink);
    return;
  }
  AutoBeginChained();
  TranslatedQuery q = TranslateSelect(s, false, true, true);
  if (!q.assignTo.empty()) {
    if (q.assignTo.size() != q.columns.size() || !s.computes.empty()) Fail(141);
    for (const auto& v : q.assignTo)
      if (!variables_.count(v)) Fail(137, {v});
    BeginStatement();
    Statement st(db_.get(), q.sql);
    int64_t rows = 0;
    while (st.Step()) {
      auto row = ReadRow(st, q.columns);
      for (size_t i = 0; i < row.size(); ++i) {
        auto& var = variables_[q.assignTo[i]];
        var.value = ToValue(row[i], q.types[i], var.type, true);
      }
      ++rows;
    }
    EndStatement(true);
    lastRowcount_ = rows;
    Done(sink, 0, static_cast<int32_t>(rows), true);
    return;
  }
  std::optional<ComputeRows> computes;
  if (!s.computes.empty()) computes.emplace(PlanComputes(s, q));
  sink.Columns(q.columns);
  if (s.forBrowse) sink.BrowseInfo(q.origins);
  if (computes) sink.ComputeFormats(computes->Formats());
  if (options_.fmtonly) {
    Done(sink, 0, 0, true);
    return;
  }
  BeginStatement();
  Statement st(db_.get(), q.sql);
  int64_t rows = 0;
  std::vector<Bytes> pointers(q.textSources.empty() ? 0 : q.columns.size());
  while (st.Step()) {
    std::vector<Value> row = ReadRow(st, q.columns);
    if (computes) computes->Row(row, sink);
    if (q.textSources.empty()) {
      sink.Row(row);
    } else {
      for (size_t k = 0; k < q.textSources.size(); ++k) {
        const auto& src = q.textSources[k];
        int hidden = static_cast<int>(q.columns.size() + k);
        pointers[src.column].clear();
        // A NULL has no text pointer.
        if (!IsNull(row[src.column]) && !st.IsNull(hidden))
          pointers[src.column] = EncodeTextPointer({src.table, src.colid, st.Int(hidden)});
      }
      sink.RowWithTextPointers(row, pointers);
    }
    ++rows;
    if (sink.Cancelled()) break;
  }
  if (computes && !sink.Cancelled()) computes->Finish(sink);
  EndStatement(true);
  lastRowcount_ = rows;
  Done(sink, 0, static_cast<int32_t>(rows), true);
}

std::string SessionImpl::IndexSqlName(const catalog::TableMeta& t, const std::string& index) {
  return QuoteId(t.schema) + "." + QuoteId(t.name + "." + index);
}

std::string SessionImpl::ColumnSql(const catalog::ColumnMeta& c) {
  // The identity column is SQLite's row id: values come from its sequence.
  if (c.identity) return QuoteId(c.name) + " INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL";
  if (c.computed)
    return QuoteId(c.name) + " " + StorageDecl(c.type) + " GENERATED ALWAYS AS (" + c.computedSql +
           ")" + (c.materialized ? " STORED" : " VIRTUAL");
  return QuoteId(c.name) + " " + StorageDecl(c.type) + (c.nullable ? "" : " NOT NULL");
}

catalog::TableMeta SessionImpl::MakeTable(const sql::ObjectName& name,
                                          std::vector<catalog::ColumnMeta> columns,
                                          const std::vector<std::string>& checks) {
  bool temp = !name.object.empty() && name.object[0] == '#';
  catalog::TableMeta t;
  t.name = name.object;
  t.columns = std::move(columns);
  if (temp) {
    if (temps_.count(name.object)) Fail(2714, {name.object});
    t.database = "tempdb";
    t.schema = "temp";
    t.id = 1000000000 + static_cast<int64_t>(spid_) * 100000 + (++tempSeq_);
  } else {
    t.database = DatabaseFor(name);
    t.schema = SchemaOf(t.database);
    if (t.schema.empty()) Fail(911, {t.database});
    if (name.object.size() > 255) Fail(103, {name.object});
    if (catalog::FindObject(db_.get(), t.schema, name.object)) Fail(2714, {name.object});
    t.id = catalog::NextObjectId(db_.get(), t.schema);
  }
  if (t.columns.empty()) Fail(102, {"("});
  std::set<std::string> seen;
  std::string sql = "CREATE TABLE " + QuoteId(t.schema) + "." + QuoteId(t.name) + " (";
  for (size_t i = 0; i < t.columns.size(); ++i) {
    auto& c = t.columns[i];
    if (!seen.insert(c.name).second) Fail(2705, {c.name, t.name});
    c.colid = static_cast<int>(i + 1);
    sql += (i ? ", " : "") + ColumnSql(c);
  }
  for (const auto& ck : checks) sql += ", " + ck;
  sql += ")";
  Exec(db_.get(), sql);
  if (temp) {
    temps_[t.name] = t;
  } else {
    catalog::AddObject(db_.get(), t.schema, t.id, t.name, "U", 3);
  }
  return t;
}

void SessionImpl::RunSelectInto(const sql::SelectStmt& s, ResultSink& sink) {
  AutoBeginChained();
  TranslatedQuery q = TranslateSelect(s);
  BeginStatement();
  std::vector<catalog::ColumnMeta> cols;
  for (size_t i = 0; i < q.columns.size(); ++i) {
    if (q.columns[i].name.empty()) Fail(4501 /* column name required */, {});
    catalog::ColumnMeta m;
    m.name = q.columns[i].name;
    m.type = q.types[i];
    m.nullable = q.columns[i].nullable;
    m.identity = q.columns[i].identity;
    cols.push_back(m);
  }
  auto t = MakeTable(s.query->into, cols, {});
  if (t.schema != "temp") catalog::AddColumns(db_.get(), t.schema, t.id, t.columns);
  std::string list;
  for (size_t i = 0; i < t.columns.size(); ++i)
    list += (i ? ", " : "") + QuoteId(t.columns[i].name);
  // Character and binary values are fitted to their new columns: a computed char(n) that lands
  // in a nullable column stores as varchar, without its padding.
  std::string cte = "WITH syb_src(", sel = "SELECT ";
  bool fit = false;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const auto& c = t.columns[i];
    std::string name = QuoteId("c" + std::to_string(i));
    cte += (i ? ", " : "") + name;
    SqlType ty = c.type.type;
    bool fits = ty == SqlType::Char || ty == SqlType::VarChar || ty == SqlType::Binary ||
                ty == SqlType::VarBinary;
    fit = fit || fits;
    sel += (i ? ", " : "") +
           (fits ? "syb_fit(" + name + ", " + QuoteText(TypeName(c.type)) + ", " +
                       std::to_string(c.type.length) + ", " +
                       (!c.nullable && (ty == SqlType::Char || ty == SqlType::Binary) ? "1" : "0") +
                       ")"
                 : name);
  }
  std::string insert =
      "INSERT INTO " + QuoteId(t.schema) + "." + QuoteId(t.name) + " (" + list + ") ";
  Exec(db_.get(),
       fit ? cte + ") AS (" + q.sql + ") " + insert + sel + " FROM syb_src" : insert + q.sql);
  FinishChange(sqlite3_changes64(db_.get()), sink);
}

// ------------------------------------------------------------------------------------------
// DML

std::optional<std::string> SessionImpl::DefaultSql(const catalog::TableMeta& t,
                                                   const catalog::ColumnMeta& c) {
  std::string text = c.defaultText;
  if (text.empty() && c.cdefault != 0 && t.schema != "temp") {
    Statement s(db_.get(), "SELECT text FROM " + QuoteId(t.schema) +
                               ".syscomments WHERE id = ? ORDER BY colid2, colid");
    s.Bind(1, c.cdefault);
    while (s.Step()) text += s.Text(0);
  }
  if (text.empty()) return std::nullopt;
  sql::ExprPtr expr;
  // A bound default keeps its create statement; an inline one "DEFAULT <expr>".
  std::string lower = Lower(text.substr(0, 8));
  if (lower.rfind("default", 0) == 0) {
    auto r = sql::ParseExpression(std::string_view(text).substr(7));
    if (!r.ok()) return std::nullopt;
    expr = std::move(r.expr);
  } else {
    auto r = sql::Parse(text);
    if (!r.ok() || r.statements.empty()) return std::nullopt;
    auto* d = r.statements[0]->If<sql::CreateDefaultStmt>();
    if (!d) return std::nullopt;
    auto& mut = const_cast<sql::CreateDefaultStmt&>(*d);
    expr = std::move(mut.value);
  }
  Value v =
      FitToColumn(EvaluateAs(*expr, c.type), SpecOf(c.type),
                  !c.nullable && (c.type.type == SqlType::Char || c.type.type == SqlType::Binary),
                  false, c.type.usertype == 34 || c.type.usertype == 35);
  return LiteralSql(v, c.type);
}

namespace {

// The variable a rule's condition tests (a rule names its value through one @variable).
const sql::VariableExpr* RuleVariable(const sql::Expr* e) {
  if (!e) return nullptr;
  using K = sql::ExprKind;
  switch (e->kind) {
    case K::Variable: return &e->As<sql::VariableExpr>();
    case K::Unary: return RuleVariable(e->As<sql::UnaryExpr>().operand.get());
    case K::Binary: {
      const auto& b = e->As<sql::BinaryExpr>();
      if (auto* v = RuleVariable(b.left.get())) return v;
      return RuleVariable(b.right.get());
    }
    case K::Like: return RuleVariable(e->As<sql::LikeExpr>().operand.get());
    case K::Between: return RuleVariable(e->As<sql::BetweenExpr>().operand.get());
    case K::In: return RuleVariable(e->As<sql::InExpr>().operand.get());
    case K::IsNull: return RuleVariable(e->As<sql::IsNullExpr>().operand.get());
    case K::Function:
      for (const auto& a : e->As<sql::FunctionExpr>().args)
        if (auto* v = RuleVariable(a.get())) return v;
      return nullptr;
    default: return nullptr;
  }
}

}  // namespace

void SessionImpl::CheckRule(const catalog::TableMeta& t, const catalog::ColumnMeta& c,
                            const Value& value, const TypeDesc& type) {
  if (c.domain == 0 || t.schema == "temp" || IsNull(value)) return;
  std::string text;
  Statement st(db_.get(), "SELECT text FROM " + QuoteId(t.schema) +
                              ".syscomments WHERE id = ? ORDER BY colid2, colid");
  st.Bind(1, c.domain);
  while (st.Step()) text += st.Text(0);
  auto parsed = sql::Parse(text);
  if (!parsed.ok() || parsed.statements.empty()) return;
  const auto* rule = parsed.statements[0]->If<sql::CreateRuleStmt>();
  if (!rule) return;  // a check constraint: SQLite enforces it
  const auto* var = RuleVariable(rule->condition.get());
  if (!var) return;
  auto saved = variables_.find(var->name) != variables_.end()
                   ? std::optional<Variable>(variables_[var->name])
                   : std::nullopt;
  variables_[var->name] = Variable{type, value};
  bool ok = true;
  try {
    Typed cond = TranslateScalar(*rule->condition);
    Statement check(db_.get(), "SELECT CASE WHEN " + cond.sql + " THEN 1 ELSE 0 END");
    ok = check.Step() && check.Int(0) == 1;
  } catch (...) {
    if (saved)
      variables_[var->name] = *saved;
    else
      variables_.erase(var->name);
    throw;
  }
  if (saved)
    variables_[var->name] = *saved;
  else
    variables_.erase(var->name);
  if (!ok) Fail(552, {t.database, t.name, c.name});
}

namespace {

// The SQL that stamps a row's timestamp column (see timestamps.h).
constexpr const char* kNextTimestamp = "syb_next_ts()";
bool IsTimestamp(const catalog::ColumnMeta& c) { return c.type.usertype == 80; }

// Messages whose state tells which case of the error occurred (233: 1 NULL given, 2 left out).
[[noreturn]] void ThrowWithState(ServerMessage m, uint8_t state) {
  m.state = state;
  throw StatementError{std::move(m), false};
}

}  // namespace

// NULL for a NOT NULL column: 233 when the statement itself says NULL, 515 when the value
// only turns out NULL (a variable, an expression).
void SessionImpl::FailNull(const sql::Expr& value, const std::string& column,
                           const std::string& table) {
  const auto* lit = value.kind == sql::ExprKind::Literal ? &value.As<sql::LiteralExpr>() : nullptr;
  if (lit && lit->literal == sql::LiteralKind::Null) ThrowWithState(Msg(233, {column, table}), 1);
  Fail(515, {column, table});
}

void SessionImpl::RunWaitfor(const sql::WaitforStmt& s, ResultSink& sink) {
  using Clock = std::chrono::steady_clock;
  Clock::duration wait{};
  if (s.value) {
    // The value is a time of day: how long to wait, or when to go on.
    Value v = EvaluateAs(*s.value, *BuiltinType("datetime", std::nullopt, std::nullopt));
    const auto* dt = std::get_if<DateTimeValue>(&v);
    if (!dt) Fail(7, {"waitfor needs a time."});
    auto ofDay = std::chrono::milliseconds(int64_t{dt->ticks} * 10 / 3);
    if (s.what == "delay") {
      wait = ofDay;
    } else {
      std::time_t now = std::time(nullptr);
      std::tm local{};
      localtime_r(&now, &local);
      auto sinceMidnight =
          std::chrono::seconds(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
      auto until = ofDay - std::chrono::duration_cast<std::chrono::milliseconds>(sinceMidnight);
      if (until < std::chrono::milliseconds(0)) until += std::chrono::hours(24);
      wait = until;
    }
  }
  // A cancel from the client ends the wait.
  const auto end = Clock::now() + wait;
  while (Clock::now() < end && !sink.Cancelled())
    std::this_thread::sleep_for(
        std::min<Clock::duration>(end - Clock::now(), std::chrono::milliseconds(20)));
  Done(sink, 0, 0, false);
}

void SessionImpl::RunInsert(const sql::InsertStmt& s, ResultSink& sink) {
  AutoBeginChained();
  auto target = RequireTable(s.table);
  const auto& t = target.meta;
  currentTable_ = t.name;
  currentMeta_ = t;
  if (t.type == "V") Fail(4405, {t.name});
  if (s.exec) Fail(2812, {"insert exec"});
  bool idInsert = options_.identityInsert.count(t.name) && options_.identityInsert[t.name];
  std::vector<const catalog::ColumnMeta*> cols;
  if (s.columns.empty()) {
    for (const auto& c : t.columns)
      if ((!c.identity || idInsert) && !c.computed) cols.push_back(&c);
  } else {
    for (const auto& n : s.columns) {
      const auto* c = t.Find(n);
      if (!c) Fail(207, {n});
      if (c->identity && !idInsert) Fail(584, {t.name});
      if (c->computed) Fail(271, {c->name});
      cols.push_back(c);
    }
  }
  Translator tr(*this);
  auto store = [&](const Typed& v, const catalog::ColumnMeta& c) {
    std::string sql = tr.Coerce(v, c.type, !c.nullable);
    // SQLite's rowid takes integers only: an exact identity value goes in as one.
    if (c.identity && !c.type.IsInteger() && !v.isNull)
      sql = "syb_convert(" + sql + ", 'numeric', 'bigint', 8, NULL, NULL, NULL)";
    return sql;
  };
  std::string list;
  std::vector<std::string> extraCols, extraVals;
  for (const auto& c : t.columns) {
    if (std::find(cols.begin(), cols.end(), &c) != cols.end() || c.identity || c.computed) continue;
    if (IsTimestamp(c)) {
      extraCols.push_back(QuoteId(c.name));
      extraVals.push_back(kNextTimestamp);
    } else if (auto d = DefaultSql(t, c)) {
      extraCols.push_back(QuoteId(c.name));
      extraVals.push_back(*d);
    } else if (!c.nullable && !s.select) {
      ThrowWithState(Msg(233, {c.name, t.name}), 2);  // left out, and nothing to fill it
    }
  }
  for (size_t i = 0; i < cols.size(); ++i) list += (i ? ", " : "") + QuoteId(cols[i]->name);
  for (const auto& e : extraCols) list += (list.empty() ? "" : ", ") + e;
  std::string sql = "INSERT INTO " + QuoteId(t.schema) + "." + QuoteId(t.name) + " (" + list + ") ";
  if (s.select) {
    TranslatedQuery q = TranslateSelect(*s.select);
    if (q.columns.size() != cols.size()) Fail(213);
    std::string cte = "WITH syb_src(";
    std::string sel = "SELECT ";
    for (size_t i = 0; i < cols.size(); ++i) {
      cte += (i ? ", " : "") + QuoteId("c" + std::to_string(i));
      Typed v;
      v.sql = QuoteId("c" + std::to_string(i));
      v.type = q.types[i];
      sel += (i ? ", " : "") +
             (IsTimestamp(*cols[i]) ? std::string(kNextTimestamp) : store(v, *cols[i]));
    }
    for (const auto& e : extraVals) sel += (cols.empty() ? "" : ", ") + e;
    sql = cte + ") AS (" + q.sql + ") " + sql + sel + " FROM syb_src";
  } else {
    if (s.values.size() != cols.size()) Fail(213);
    sql += "VALUES (";
    for (size_t i = 0; i < cols.size(); ++i) {
      if (IsTimestamp(*cols[i])) {  // whatever the client gave, the server stamps the row
        sql += (i ? ", " : "") + std::string(kNextTimestamp);
        continue;
      }
      Typed v = tr.Expr(*s.values[i], nullptr);
      if (v.isNull && !cols[i]->nullable) FailNull(*s.values[i], cols[i]->name, t.name);
      if (cols[i]->domain != 0) {
        // Rules bound to the column judge the value as it will be stored.
        Value val = EvaluateAs(*s.values[i], cols[i]->type);
        CheckRule(t, *cols[i], val, cols[i]->type);
      }
      sql += (i ? ", " : "") + store(v, *cols[i]);
    }
    for (const auto& e : extraVals) sql += (cols.empty() ? "" : ", ") + e;
    sql += ")";
  }
  if (list.empty())
    sql = "INSERT INTO " + QuoteId(t.schema) + "." + QuoteId(t.name) + " DEFAULT VALUES";
  std::set<std::string> all;
  for (const auto& c : t.columns) all.insert(c.name);
  ExecChange(sql, sink, t, TriggerAction::Insert, std::move(all));
}

namespace {

// The table an update or delete changes: named directly, or through an alias (or the plain
// name) of its from list.
struct DmlTarget {
  sql::ObjectName name;
  std::string alias;
  const sql::TableRef* ref = nullptr;
};

template <typename FromList>
DmlTarget FindDmlTarget(const sql::ObjectName& table, const FromList& from) {
  DmlTarget target{table, {}, nullptr};
  for (const auto& r : from) {
    if (r->kind != sql::TableRefKind::Named) continue;
    if ((!r->alias.empty() && r->alias == table.object && table.database.empty()) ||
        (r->alias.empty() && r->name.object == table.object)) {
      target = {r->name, r->alias, r.get()};
    }
  }
  return target;
}

// Puts the target of an update or delete, under its alias, and the other tables of its from
// list into `scope`; returns those other tables as SQL.
template <typename FromList>
std::string TargetScope(Translator& tr, Scope& scope, const catalog::TableMeta& t,
                        const std::string& alias, const FromList& from,
                        const sql::TableRef* targetRef) {
  Source src;
  src.name = alias;
  src.table = t.name;
  src.aliased = alias != t.name;
  src.sqlAlias = alias;
  src.columns = t.columns;
  scope.sources.push_back(src);
  std::string sql;
  for (const auto& r : from) {
    if (r.get() == targetRef) continue;
    sql += (sql.empty() ? "" : ", ") + tr.FromList({r.get()}, scope);
  }
  return sql;
}

}  // namespace

void SessionImpl::RunUpdate(const sql::UpdateStmt& s, ResultSink& sink) {
  AutoBeginChained();
  if (!s.currentOf.empty()) Fail(2812, {"update where current of"});
  auto [targetName, alias, targetRef] = FindDmlTarget(s.table, s.from);
  auto target = RequireTable(targetName);
  const auto& t = target.meta;
  currentTable_ = t.name;
  currentMeta_ = t;
  if (t.type == "V") Fail(4405, {t.name});
  if (alias.empty()) alias = t.name;
  Translator tr(*this);
  Scope scope;
  const std::string from = TargetScope(tr, scope, t, alias, s.from, targetRef);
  std::string sets;
  std::set<std::string> setColumns;
  for (const auto& set : s.sets) {
    if (!set.variable.empty()) Fail(2812, {"update set @variable"});
    const auto* c = t.Find(set.column);
    if (!c) Fail(207, {set.column});
    if (c->identity) Fail(4404, {c->name});
    if (c->computed) Fail(271, {c->name});
    Typed v = tr.Expr(*set.value, &scope);
    if (v.isNull && !c->nullable) FailNull(*set.value, c->name, t.name);
    if (c->domain != 0 &&
        (set.value->kind == sql::ExprKind::Literal || set.value->kind == sql::ExprKind::Variable)) {
      // A rule judges a constant new value; values computed from rows are not checked.
      CheckRule(t, *c, EvaluateAs(*set.value, c->type), c->type);
    }
    if (IsTimestamp(*c)) continue;  // stamped below
    sets +=
        (sets.empty() ? "" : ", ") + QuoteId(c->name) + " = " + tr.Coerce(v, c->type, !c->nullable);
    setColumns.insert(c->name);
  }
  for (const auto& c : t.columns)
    if (IsTimestamp(c))
      sets += (sets.empty() ? "" : ", ") + QuoteId(c.name) + " = " + kNextTimestamp;
  std::string where = s.where ? tr.Expr(*s.where, &scope).sql : "";
  std::string tableSql = QuoteId(t.schema) + "." + QuoteId(t.name);
  std::string sql = "UPDATE " + tableSql + " AS " + QuoteId(alias) + " SET " + sets;
  if (options_.rowcount > 0 || !from.empty()) {
    sql = "UPDATE " + tableSql + " SET " + sets + " WHERE rowid IN (SELECT " + QuoteId(alias) +
          ".rowid FROM " + tableSql + " AS " + QuoteId(alias) + (from.empty() ? "" : ", " + from) +
          (where.empty() ? "" : " WHERE " + where) +
          (options_.rowcount > 0 ? " LIMIT " + std::to_string(options_.rowcount) : "") + ")";
    // The set expressions may name the other tables: Sybase's update-from semantics.
    if (!from.empty()) {
      sql = "UPDATE " + tableSql + " AS " + QuoteId(alias) + " SET " + sets + " FROM " + from +
            (where.empty() ? "" : " WHERE " + where);
      if (options_.rowcount > 0)
        sql += std::string(where.empty() ? " WHERE " : " AND ") + QuoteId(alias) +
               ".rowid IN (SELECT " + QuoteId(alias) + ".rowid FROM " + tableSql + " AS " +
               QuoteId(alias) + ", " + from + (where.empty() ? "" : " WHERE " + where) + " LIMIT " +
               std::to_string(options_.rowcount) + ")";
    }
  } else if (!where.empty()) {
    sql += " WHERE " + where;
  }
  ExecChange(sql, sink, t, TriggerAction::Update, std::move(setColumns));
}

void SessionImpl::ExecChange(const std::string& sql, ResultSink& sink, const catalog::TableMeta& t,
                             TriggerAction action, std::set<std::string> columns) {
  auto trigger = ArmTrigger(t, action, std::move(columns));
  BeginStatement();
  if (trigger) CaptureRows(*trigger);
  Exec(db_.get(), sql);
  int64_t rows = sqlite3_changes64(db_.get());
  if (action == TriggerAction::Insert && t.HasIdentity() && rows > 0)
    lastIdentity_ = sqlite3_last_insert_rowid(db_.get());
  if (trigger && !FireTrigger(*trigger, rows, sink)) rows = 0;
  FinishChange(rows, sink);
}

void SessionImpl::FinishChange(int64_t rows, ResultSink& sink) {
  EndStatement(true);
  lastRowcount_ = rows;
  Done(sink, 0, static_cast<int32_t>(rows), true);
}

void SessionImpl::RunDelete(const sql::DeleteStmt& s, ResultSink& sink) {
  AutoBeginChained();
  if (!s.currentOf.empty()) Fail(2812, {"delete where current of"});
  auto [targetName, alias, targetRef] = FindDmlTarget(s.table, s.from);
  auto target = RequireTable(targetName);
  const auto& t = target.meta;
  currentTable_ = t.name;
  if (t.type == "V") Fail(4405, {t.name});
  if (alias.empty()) alias = t.name;
  Translator tr(*this);
  Scope scope;
  const std::string from = TargetScope(tr, scope, t, alias, s.from, targetRef);
  std::string where = s.where ? tr.Expr(*s.where, &scope).sql : "";
  std::string tableSql = QuoteId(t.schema) + "." + QuoteId(t.name);
  std::string sql = "DELETE FROM " + tableSql + " WHERE rowid IN (SELECT " + QuoteId(alias) +
                    ".rowid FROM " + tableSql + " AS " + QuoteId(alias) +
                    (from.empty() ? "" : ", " + from) + (where.empty() ? "" : " WHERE " + where) +
                    (options_.rowcount > 0 ? " LIMIT " + std::to_string(options_.rowcount) : "") +
                    ")";
  ExecChange(sql, sink, t, TriggerAction::Delete, {});
}

void SessionImpl::RunTruncate(const sql::TruncateStmt& s, ResultSink& sink) {
  auto target = RequireTable(s.table);
  if (target.meta.type != "U") Fail(4708, {s.table.object});
  BeginStatement();
  Exec(db_.get(), "DELETE FROM " + QuoteId(target.meta.schema) + "." + QuoteId(target.meta.name));
  EndStatement(true);
  Done(sink, 0, 0, false);
}

// ------------------------------------------------------------------------------------------
// DDL

void SessionImpl::RunCreateTable(const sql::CreateTableStmt& s, ResultSink& sink) {
  std::vector<catalog::ColumnMeta> cols;
  std::vector<const sql::Constraint*> constraints;
  std::vector<std::pair<std::string, const sql::Constraint*>> columnConstraints;
  for (const auto& cd : s.columns) {
    catalog::ColumnMeta m;
    m.name = cd.name;
    if (cd.computed) {
      m.computed = true;
      m.materialized = cd.materialized;
      m.nullable = true;
      cols.push_back(std::move(m));
      continue;
    }
    bool allowNulls = false;
    auto ty = ResolveType(cd.type, &allowNulls);
    if (!ty) Fail(2715, {cd.type.name});
    m.type = *ty;
    m.identity = cd.identity;
    // Sybase's default for a column without NULL or NOT NULL is NOT NULL (or the user type's).
    m.nullable = cd.nullability == sql::Nullability::Null ||
                 (cd.nullability == sql::Nullability::Unspecified && allowNulls);
    if (m.identity || m.type.type == SqlType::Bit) m.nullable = false;
    if (cd.defaultValue) m.defaultText = "DEFAULT " + cd.defaultText;
    for (const auto& c : cd.constraints) columnConstraints.push_back({cd.name, &c});
    cols.push_back(std::move(m));
  }
  for (const auto& c : s.constraints) constraints.push_back(&c);

  // Check constraints go to SQLite as CHECK clauses over the bare column names.
  Translator tr(*this);
  Scope scope;
  Source src;
  src.name = src.table = s.table.object;
  for (const auto& c : cols)
    if (!c.computed) src.columns.push_back(c);
  scope.sources.push_back(src);
  // A computed column is described as its expression's type, over the table's other columns.
  for (size_t i = 0; i < cols.size(); ++i) {
    if (!cols[i].computed) continue;
    Typed v = tr.Expr(*s.columns[i].computed, &scope);
    cols[i].type = v.isNull ? IntType() : v.type;
    cols[i].computedSql = v.isNull ? "NULL" : tr.Coerce(v, cols[i].type);
  }
  scope.sources[0].columns = cols;
  std::vector<std::string> checks;
  std::vector<std::pair<std::string, std::string>> checkTexts;  // name, text
  int ckn = 0;
  auto addCheck = [&](const sql::Constraint& c) {
    std::string name = c.name.empty()
                           ? s.table.object.substr(0, 10) + "_" + std::to_string(++ckn) + "_ck"
                           : c.name;
    checks.push_back("CONSTRAINT " + QuoteId(name) + " CHECK (" + tr.Expr(*c.check, &scope).sql +
                     ")");
    checkTexts.push_back({name, "CHECK (" + c.checkText + ")"});
  };
  for (const auto& [col, c] : columnConstraints)
    if (c->kind == sql::ConstraintKind::Check && c->check) addCheck(*c);
  for (const auto* c : constraints)
    if (c->kind == sql::ConstraintKind::Check && c->check) addCheck(*c);

  BeginStatement();
  auto t = MakeTable(s.table, cols, checks);
  bool temp = t.schema == "temp";
  if (!temp) {
    for (auto& c : t.columns) {
      if (c.defaultText.empty()) continue;
      int64_t did = catalog::NextObjectId(db_.get(), t.schema);
      std::string dname =
          t.name.substr(0, 10) + "_" + c.name.substr(0, 10) + "_" + std::to_string(did);
      catalog::AddObject(db_.get(), t.schema, did, dname, "D", 6, 0, t.id);
      catalog::StoreText(db_.get(), t.schema, did, c.defaultText);
      c.cdefault = did;
      c.defaultText.clear();
    }
    catalog::AddColumns(db_.get(), t.schema, t.id, t.columns);
    for (const auto& [name, text] : checkTexts) {
      int64_t cid = catalog::NextObjectId(db_.get(), t.schema);
      catalog::AddObject(db_.get(), t.schema, cid, name, "R", 10, 0, t.id);
      catalog::StoreText(db_.get(), t.schema, cid, text);
    }
  }
  // Primary key and unique constraints are unique indexes.
  for (const auto& [col, c] : columnConstraints)
    if (c->kind == sql::ConstraintKind::PrimaryKey || c->kind == sql::ConstraintKind::Unique)
      AddKeyIndex(t, *c, {col});
  for (const auto* c : constraints)
    if (c->kind == sql::ConstraintKind::PrimaryKey || c->kind == sql::ConstraintKind::Unique)
      AddKeyIndex(t, *c, c->columns);
  if (!temp) {
    for (const auto& [col, c] : columnConstraints)
      if (c->kind == sql::ConstraintKind::ForeignKey) AddForeignKey(t, *c, {col});
    for (const auto* c : constraints)
      if (c->kind == sql::ConstraintKind::ForeignKey) AddForeignKey(t, *c, c->columns);
  }
  if (temp) {
    t.checks = checkTexts;
    temps_[t.name] = t;
  }
  EndStatement(true);
  Done(sink, 0, 0, false);
}

void SessionImpl::AddKeyIndex(catalog::TableMeta& t, const sql::Constraint& c,
                              const std::vector<std::string>& keyCols) {
  const bool temp = t.schema == "temp";
  bool pk = c.kind == sql::ConstraintKind::PrimaryKey;
  bool clustered = c.clustering == sql::IndexClustering::Clustered ||
                   (pk && c.clustering == sql::IndexClustering::Unspecified);
  if (clustered &&
      std::any_of(t.indexes.begin(), t.indexes.end(), [](const auto& i) { return i.indid == 1; }))
    clustered = false;
  catalog::IndexMeta im;
  im.name = c.name.empty() ? t.name.substr(0, 10) + "_" +
                                 std::to_string(t.id + static_cast<int64_t>(t.indexes.size()) + 1)
                           : c.name;
  im.indid = clustered ? 1 : static_cast<int>(t.indexes.size()) + 2;
  for (const auto& ix : t.indexes) im.indid = std::max(im.indid, clustered ? 1 : ix.indid + 1);
  im.status = catalog::kIndexUnique | (clustered ? catalog::kIndexClustered : 0) |
              (pk ? catalog::kIndexPrimaryKey : 0);
  im.status2 = catalog::kIndex2Constraint;
  std::string cl;
  for (const auto& k : keyCols) {
    const auto* cm = t.Find(k);
    if (!cm) Fail(207, {k});
    im.keys.push_back(cm->colid);
    cl += (cl.empty() ? "" : ", ") + QuoteId(k);
  }
  Exec(db_.get(), "CREATE UNIQUE INDEX " + IndexSqlName(t, im.name) + " ON " + QuoteId(t.name) +
                      " (" + cl + ")");
  if (!temp) catalog::AddIndex(db_.get(), t.schema, t.id, im);
  t.indexes.push_back(im);
  if (!temp && pk)
    Exec(db_.get(), "UPDATE " + QuoteId(t.schema) +
                        ".sysobjects SET sysstat2 = sysstat2 | 8"
                        " WHERE id = " +
                        std::to_string(t.id));
}

void SessionImpl::RunCreateIndex(const sql::CreateIndexStmt& s, ResultSink& sink) {
  auto target = RequireTable(s.table);
  auto& t = target.meta;
  if (t.type != "U") Fail(1921, {t.name});
  for (const auto& ix : t.indexes)
    if (ix.name == s.name) Fail(1913, {t.name, s.name});
  bool clustered = s.clustering == sql::IndexClustering::Clustered;
  if (clustered &&
      std::any_of(t.indexes.begin(), t.indexes.end(), [](const auto& i) { return i.indid == 1; }))
    Fail(1902, {t.name});
  catalog::IndexMeta im;
  im.name = s.name;
  im.status = (s.unique ? catalog::kIndexUnique : 0) | (clustered ? catalog::kIndexClustered : 0);
  std::string cl;
  for (const auto& c : s.columns) {
    const auto* cm = t.Find(c.name);
    if (!cm) Fail(207, {c.name});
    im.keys.push_back(cm->colid);
    cl += (cl.empty() ? "" : ", ") + QuoteId(c.name) + (c.descending ? " DESC" : "");
  }
  if (clustered)
    im.indid = 1;
  else {
    im.indid = 2;
    for (const auto& ix : t.indexes) im.indid = std::max(im.indid, ix.indid + 1);
  }
  BeginStatement();
  Exec(db_.get(), std::string("CREATE ") + (s.unique ? "UNIQUE " : "") + "INDEX " +
                      IndexSqlName(t, im.name) + " ON " + QuoteId(t.name) + " (" + cl + ")");
  if (target.temp) {
    temps_[t.name].indexes.push_back(im);
  } else {
    catalog::AddIndex(db_.get(), t.schema, t.id, im);
  }
  EndStatement(true);
  Done(sink, 0, 0, false);
}

std::string SessionImpl::StatementText(const sql::Stmt& s) const {
  if (s.end <= s.begin || s.end > batchText_.size()) return "";
  return batchText_.substr(s.begin, s.end - s.begin);
}

void SessionImpl::RunCreateView(const sql::CreateViewStmt& s, ResultSink& sink) {
  std::string db = DatabaseFor(s.name);
  std::string schema = SchemaOf(db);
  if (schema.empty()) Fail(911, {db});
  if (catalog::FindObject(db_.get(), schema, s.name.object)) Fail(2714, {s.name.object});
  // Names inside the view resolve in the view's database.
  std::string saved = database_;
  database_ = db;
  TranslatedQuery q;
  try {
    Translator tr(*this);
    tr.noLimit = true;
    q = tr.Select(*s.select);
  } catch (...) {
    database_ = saved;
    throw;
  }
  database_ = saved;
  if (!s.columns.empty() && s.columns.size() != q.columns.size()) Fail(8158, {s.name.object});
  std::vector<catalog::ColumnMeta> cols;
  std::string names;
  for (size_t i = 0; i < q.columns.size(); ++i) {
    catalog::ColumnMeta m;
    m.name = s.columns.empty() ? q.columns[i].name : s.columns[i];
    if (m.name.empty()) Fail(4506, {s.name.object});
    m.colid = static_cast<int>(i + 1);
    m.type = q.types[i];
    m.nullable = q.columns[i].nullable;
    cols.push_back(m);
    names += (i ? ", " : "") + QuoteId(m.name);
  }
  BeginStatement();
  int64_t id = catalog::NextObjectId(db_.get(), schema);
  Exec(db_.get(), "CREATE VIEW " + QuoteId(schema) + "." + QuoteId(s.name.object) + " (" + names +
                      ") AS " + q.sql);
  catalog::AddObject(db_.get(), schema, id, s.name.object, "V", 2);
  catalog::AddColumns(db_.get(), schema, id, cols);
  catalog::StoreText(db_.get(), schema, id, StatementText(s));
  EndStatement(true);
  Done(sink, 0, 0, false);
}

void SessionImpl::RunCreateStored(const sql::Stmt& s, const sql::ObjectName& name, const char* type,
                                  ResultSink& sink, int64_t tableId) {
  std::string db = DatabaseFor(name);
  std::string schema = SchemaOf(db);
  if (schema.empty()) Fail(911, {db});
  std::string t = type;
  // Only tables may be temporary; clients tell servers apart by this refusal.
  if (!name.object.empty() && name.object[0] == '#')
    Fail(7, {"Temporary objects other than tables are not supported: '" + name.object + "'."});
  // A procedure is member 1 of its group unless numbered (p;n); a further member joins the
  // group's one sysobjects row with text under its own number.
  int number = t == "P" ? s.As<sql::CreateProcedureStmt>().number : 0;
  if (auto existing = catalog::FindObject(db_.get(), schema, name.object)) {
    if (t != "P" || existing->type != "P" ||
        storage::QueryInt(db_.get(), "SELECT count(*) FROM " + QuoteId(schema) +
                                         ".syscomments WHERE id = " + std::to_string(existing->id) +
                                         " AND number = " + std::to_string(number))
                .value_or(0) > 0)
      Fail(2714, {name.object});
    BeginStatement();
    catalog::StoreText(db_.get(), schema, existing->id, StatementText(s), number);
    EndStatement(true);
    Done(sink, 0, 0, false);
    return;
  }
  int sysstat = t == "P" ? 4 : t == "R" ? 7 : t == "D" ? 6 : 8;
  BeginStatement();
  int64_t id = catalog::NextObjectId(db_.get(), schema);
  catalog::AddObject(db_.get(), schema, id, name.object, t, sysstat, 0, tableId);
  catalog::StoreText(db_.get(), schema, id, StatementText(s), number);
  if (t == "TR") ReplaceTriggers(schema, tableId, id, s.As<sql::CreateTriggerStmt>());
  EndStatement(true);
  Done(sink, 0, 0, false);
}

void SessionImpl::RunDrop(const sql::DropStmt& s, ResultSink& sink) {
  BeginStatement();
  for (size_t i = 0; i < s.names.size(); ++i) {
    const auto& name = s.names[i];
    if (s.what == sql::DropKind::Database) Fail(3701, {"database", name.object});
    if (s.what == sql::DropKind::Index) {
      auto target = ResolveTable(name);
      const std::string ixName = i < s.indexes.size() ? s.indexes[i] : "";
      if (!target) Fail(3701, {"index", name.object + "." + ixName});
      auto& t = target->meta;
      auto it = std::find_if(t.indexes.begin(), t.indexes.end(),
                             [&](const auto& x) { return x.name == ixName; });
      if (it == t.indexes.end()) Fail(3701, {"index", name.object + "." + ixName});
      if (it->status2 & catalog::kIndex2Constraint) Fail(3723, {ixName});
      Exec(db_.get(), "DROP INDEX " + IndexSqlName(t, ixName));
      if (target->temp) {
        auto& v = temps_[t.name].indexes;
        v.erase(std::remove_if(v.begin(), v.end(), [&](const auto& x) { return x.name == ixName; }),
                v.end());
      } else {
        Exec(db_.get(), "DELETE FROM " + QuoteId(t.schema) + ".sysindexes WHERE id = " +
                            std::to_string(t.id) + " AND indid = " + std::to_string(it->indid));
        Exec(db_.get(), "DELETE FROM " + QuoteId(t.schema) + ".sysindexkeys WHERE id = " +
                            std::to_string(t.id) + " AND indid = " + std::to_string(it->indid));
      }
      continue;
    }
    if (s.what == sql::DropKind::Table && !name.object.empty() && name.object[0] == '#') {
      auto it = temps_.find(name.object);
      if (it == temps_.end()) Fail(3701, {"table", name.object});
      Exec(db_.get(), "DROP TABLE temp." + QuoteId(name.object));
      temps_.erase(it);
      continue;
    }
    std::string db = DatabaseFor(name);
    std::string schema = SchemaOf(db);
    const char* kind = s.what == sql::DropKind::Table       ? "table"
                       : s.what == sql::DropKind::View      ? "view"
                       : s.what == sql::DropKind::Procedure ? "procedure"
                       : s.what == sql::DropKind::Rule      ? "rule"
                       : s.what == sql::DropKind::Default   ? "default"
                                                            : "trigger";
    auto obj = schema.empty() ? std::nullopt : catalog::FindObject(db_.get(), schema, name.object);
    std::string want = s.what == sql::DropKind::Table       ? "U"
                       : s.what == sql::DropKind::View      ? "V"
                       : s.what == sql::DropKind::Procedure ? "P"
                       : s.what == sql::DropKind::Rule      ? "R"
                       : s.what == sql::DropKind::Default   ? "D"
                                                            : "TR";
    if (!obj || obj->type != want) Fail(3701, {kind, name.object});
    if (want == "U") {
      // A table other tables' foreign keys reference stays until they go.
      Statement ri(db_.get(), "SELECT r.id, r.name, c.name FROM " + QuoteId(schema) +
                                  ".sysobjects r JOIN " + QuoteId(schema) +
                                  ".sysobjects c ON c.id = r.deltrig"
                                  " WHERE r.type = 'RI' AND r.deltrig <> ?");
      ri.Bind(1, obj->id);
      while (ri.Step())
        if (ForeignKeyOf(ObjectText(schema, ri.Int(0))).refTable == name.object)
          Fail(3712, {name.object, ri.Text(1), ri.Text(2)});
    }
    if (want == "U") Exec(db_.get(), "DROP TABLE " + QuoteId(schema) + "." + QuoteId(name.object));
    if (want == "V") Exec(db_.get(), "DROP VIEW " + QuoteId(schema) + "." + QuoteId(name.object));
    if (want == "TR") UnlinkTrigger(schema, obj->id);
    if (want == "U") {
      // Inline defaults, check constraints and triggers go with their table.
      std::vector<std::pair<int64_t, bool>> owned;  // id, a foreign key
      {
        Statement o(db_.get(), "SELECT id, type FROM " + QuoteId(schema) +
                                   ".sysobjects WHERE deltrig = ? AND type IN ('D','R','TR','RI')");
        o.Bind(1, obj->id);
        while (o.Step()) owned.emplace_back(o.Int(0), o.Text(1).rfind("RI", 0) == 0);
      }
      for (auto [id, foreignKey] : owned) {
        if (foreignKey) RemoveForeignKeyTriggers(schema, id);
        catalog::DropObject(db_.get(), schema, id);
      }
      catalog::DropObject(db_.get(), schema, obj->id);
      RefreshForeignKeyBits(schema);
      continue;
    }
    catalog::DropObject(db_.get(), schema, obj->id);
  }
  EndStatement(true);
  Done(sink, 0, 0, false);
}

// ------------------------------------------------------------------------------------------
// Variables, options, messages

void SessionImpl::RunDeclare(const sql::DeclareStmt& s, ResultSink&) {
  for (const auto& v : s.variables) {
    if (variables_.count(v.name)) Fail(134, {v.name});
    auto ty = ResolveType(v.type);
    if (!ty) Fail(2715, {v.type.name});
    variables_[v.name] = Variable{*ty, std::monostate{}};
  }
}

void SessionImpl::RunSetVariable(const sql::SetVariableStmt& s, ResultSink&) {
  auto it = variables_.find(s.variable);
  if (it == variables_.end()) Fail(137, {s.variable});
  Value v = EvaluateAs(*s.value, it->second.type);
  it->second.value = std::move(v);
}

void SessionImpl::RunSetOption(const sql::SetOptionStmt& s, ResultSink& sink) {
  const std::string& o = s.option;
  bool on = s.value == "on";
  auto number = [&]() -> int64_t {
    if (s.valueExpr) {
      Value v = EvaluateAs(*s.valueExpr, *BuiltinType("int", std::nullopt, std::nullopt));
      if (const auto* i = std::get_if<int64_t>(&v)) return *i;
      return 0;
    }
    return std::atoll(s.value.c_str());
  };
  if (o == "rowcount")
    options_.rowcount = static_cast<int32_t>(std::max<int64_t>(0, number()));
  else if (o == "textsize") {
    int64_t n = number();
    options_.textsize = n > 0 ? static_cast<int32_t>(n) : 32768;
  } else if (o == "nocount")
    options_.nocount = on;
  else if (o == "fmtonly")
    options_.fmtonly = on;
  else if (o == "ansinull")
    options_.ansinull = on;
  else if (o == "quoted_identifier")
    options_.quotedIdentifier = on;
  else if (o == "chained") {
    if (trancount_ > 0 && on != options_.chained) Fail(226, {"SET CHAINED"});
    options_.chained = on;
  } else if (o == "transaction isolation level") {
    std::string v = s.value;
    int level = v == "read uncommitted"  ? 0
                : v == "read committed"  ? 1
                : v == "repeatable read" ? 2
                : v == "serializable"    ? 3
                                         : static_cast<int>(number());
    if (level < 0 || level > 3) Fail(155, {v, "SET"});
    options_.isolation = level;
  } else if (o == "arithabort") {
    options_.arithabort = s.value != "off";
  } else if (o == "arithignore") {
    options_.arithignore = s.value != "off";
  } else if (o == "noexec")
    options_.noexec = on;
  else if (o == "parseonly")
    options_.parseonly = on;
  else if (o == "identity_insert") {
    if (s.args.empty()) Fail(102, {"identity_insert"});
    auto t = RequireTable(sql::ObjectName{"", "", "", s.args[0]});
    if (!t.meta.HasIdentity()) Fail(8107, {s.args[0]});
    options_.identityInsert[t.meta.name] = on;
  } else if (o == "datefirst") {
    int64_t n = number();
    if (n < 1 || n > 7) Fail(155, {s.value, "SET"});
    options_.datefirst = static_cast<int>(n);
    builtinSettings_.datefirst = options_.datefirst;
  } else if (o == "dateformat") {
    auto f = ParseDateFormat(s.value);
    if (!f) Fail(155, {s.value, "SET"});
    options_.dateformat = Lower(s.value);
    builtinSettings_.dateFormat = *f;
  } else if (o == "statistics io" || o == "statistics time") {
    options_.statsIo = o == "statistics io" ? on : options_.statsIo;
    options_.statsTime = o == "statistics time" ? on : options_.statsTime;
  } else if (o == "showplan")
    options_.showplan = on;
  else if (o == "self_recursion")
    options_.selfRecursion = on;
  else if (o == "string_rtruncation")
    builtinSettings_.stringRtruncation = on;
  else if (o == "lock") {
    // set lock wait [n] | set lock nowait
    if (s.value == "nowait" && s.args.empty()) {
      options_.lockWait = 0;
    } else if (s.value == "wait" && s.args.empty()) {
      options_.lockWait.reset();
    } else if (s.args.size() == 1 && s.args[0] == "wait") {
      int64_t n = number();
      if (n < 0 || n > std::numeric_limits<int32_t>::max()) Fail(155, {s.value, "SET"});
      options_.lockWait = static_cast<int>(n);
    } else {
      Fail(155, {s.value, "SET"});
    }
  }
  // Others (forceplan, close on endtran, char_convert, language, ...) are accepted.
  Done(sink, 0, 0, false);
}

std::vector<std::string> SessionImpl::FormatArgs(const std::vector<sql::ExprPtr>& args) {
  std::vector<std::string> out;
  for (const auto& a : args) {
    TypeDesc t;
    Value v = Evaluate(*a, &t);
    out.push_back(IsNull(v) ? "(null)" : ValueText(v, t));
  }
  return out;
}

void SessionImpl::RunPrint(const sql::PrintStmt& s, ResultSink& sink) {
  TypeDesc t;
  Value v = Evaluate(*s.message, &t);
  if (!IsNull(v) && !t.IsString()) Fail(257, {TypeNameUpper(t.type), "VARCHAR"});
  std::string text = IsNull(v) ? "" : ValueText(v, t);
  if (!s.args.empty()) text = FormatRaiserror(text, FormatArgs(s.args));
  ServerMessage m = MakePrintMessage(text);
  m.server = engine_->config.serverName;
  m.line = currentLine_;
  Send(sink, m);
  Done(sink, 0, 0, false);
}

void SessionImpl::RunRaiserror(const sql::RaiserrorStmt& s, ResultSink& sink) {
  Value n = EvaluateAs(*s.number, *BuiltinType("int", std::nullopt, std::nullopt));
  int number = std::holds_alternative<int64_t>(n) ? static_cast<int>(std::get<int64_t>(n)) : 0;
  std::string format;
  if (s.message) {
    TypeDesc t;
    Value v = Evaluate(*s.message, &t);
    format = IsNull(v) ? "" : ValueText(v, t);
  }
  ServerMessage m = MakeRaiserrorMessage(number, format, FormatArgs(s.args));
  m.server = engine_->config.serverName;
  m.line = currentLine_;
  Send(sink, m);
  lastError_ = number;
  Done(sink, kDoneError, 0, false);
}

}  // namespace sampleserver
