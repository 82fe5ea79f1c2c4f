// A session: its connection, the batch loop, options and transactions.
#include "engine/session.h"

#include "engine/catalog_functions.h"
#include "engine/messages.h"
#include "engine/textptrs.h"
#include "engine/timestamps.h"
#include "engine/values.h"
#include "sql/parser.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace sampleserver {

ServerMessage ParseErrorMessage(const sql::ParseError& error) {
  ServerMessage m;
  m.number = error.number;
  m.severity = static_cast<uint8_t>(error.severity);
  m.state = static_cast<uint8_t>(error.state);
  m.text = error.text;
  m.line = error.line;
  return m;
}

using storage::Exec;
using storage::QuoteId;
using storage::Statement;

SessionImpl::SessionImpl(std::shared_ptr<EngineState> engine, int spid, const LoginRequest& login,
                         int64_t suid, std::string database)
    : engine_(std::move(engine)),
      spid_(spid),
      login_(login),
      suid_(suid),
      database_(std::move(database)) {
  OpenConnection();
}

SessionImpl::~SessionImpl() {
  // Open transactions end with the session, as on a disconnect.
  if (db_ && !sqlite3_get_autocommit(db_.get())) {
    try {
      Exec(db_.get(), "ROLLBACK");
    } catch (const storage::SqliteError&) {
    }
  }
  engine_->locks.Hold(spid_, {});
  std::lock_guard lock(engine_->mutex);
  engine_->processes.erase(spid_);
}

void SessionImpl::OpenConnection() {
  db_ = storage::Open(engine_->PathOf("master"), false);
  // Lock waits follow the session's lock wait setting, not a fixed timeout.
  sqlite3_busy_handler(db_.get(), &SessionImpl::OnBusy, this);
  // Every database of the server is reachable by name from one connection.
  sqlite3_limit(db_.get(), SQLITE_LIMIT_ATTACHED, 125);
  attached_["master"] = "main";
  // Sybase's default sort order is binary: LIKE is case-sensitive.
  Exec(db_.get(), "PRAGMA case_sensitive_like=ON");
  AttachAll();
  builtinSettings_.datefirst = options_.datefirst;
  RegisterBuiltins(db_.get(), &builtinSettings_);
  RegisterCatalogFunctions(db_.get(), this);
  RegisterTimestampFunctions(db_.get());
  RegisterProcessTable(db_.get(), engine_.get());
  NoteDatabase();
}

void SessionImpl::NoteDatabase() {
  int64_t dbid = DbId(database_).value_or(1);
  int64_t uid = suid_ == 1 ? 1 : 2;  // sa is dbo everywhere; others their user, else guest
  if (std::string schema = SchemaOf(database_); !schema.empty() && suid_ != 1) {
    Statement u(db_.get(), "SELECT uid FROM " + QuoteId(schema) + ".sysusers WHERE suid = ?");
    u.Bind(1, suid_);
    if (u.Step()) uid = u.Int(0);
  }
  engine_->UpdateProcess(spid_, [&](ProcessInfo& p) {
    p.dbid = dbid;
    p.uid = uid;
  });
}

void SessionImpl::NoteActivity(bool running, const char* cmd) {
  engine_->UpdateProcess(spid_, [&](ProcessInfo& p) {
    p.status = running ? "running" : "recv sleep";
    p.cmd = cmd;
  });
  RegisterTextPointerFunctions(db_.get());
}

void SessionImpl::AttachAll() {
  std::vector<std::string> names;
  {
    Statement s(db_.get(), "SELECT name FROM main.sysdatabases ORDER BY dbid");
    while (s.Step()) names.push_back(s.Text(0));
  }
  for (const auto& n : names) {
    if (attached_.count(n)) continue;
    if (!std::filesystem::exists(engine_->PathOf(n))) continue;
    Statement a(db_.get(), "ATTACH DATABASE ? AS " + QuoteId(n));
    a.Bind(1, std::string_view(engine_->PathOf(n)));
    a.Step();
    attached_[n] = n;
  }
}

std::string SessionImpl::SchemaOf(const std::string& database) {
  auto it = attached_.find(database);
  if (it != attached_.end()) return it->second;
  // A database created by another session since this one connected.
  if (database == "main" || database == "temp") return "";
  AttachAll();
  it = attached_.find(database);
  return it == attached_.end() ? "" : it->second;
}

std::optional<int64_t> SessionImpl::DbId(const std::string& name) {
  Statement s(db_.get(), "SELECT dbid FROM main.sysdatabases WHERE name = ? COLLATE BINARY");
  s.Bind(1, std::string_view(name));
  if (!s.Step()) return std::nullopt;
  return s.Int(0);
}

std::optional<std::string> SessionImpl::DbName(int64_t dbid) {
  Statement s(db_.get(), "SELECT name FROM main.sysdatabases WHERE dbid = ?");
  s.Bind(1, dbid);
  if (!s.Step()) return std::nullopt;
  return s.Text(0);
}

namespace {

// Messages the engine raises that the shared catalog does not hold.
struct LocalEntry {
  int number;
  int severity;
  const char* text;
};
const LocalEntry kLocalMessages[] = {
    {108, 15,
     "The ORDER BY position number %s is out of range of the number of items in the select list."},
    {116, 16,
     "Only one expression can be specified in the select list when the subquery is not introduced "
     "with EXISTS."},
    {205, 16,
     "All queries in a SQL statement containing set operators must have an equal number of "
     "expressions in their target lists."},
    {226, 16, "%s command not allowed within multi-statement transaction."},
    {263, 16, "Must specify table to select from."},
    {546, 16,
     "Foreign key constraint violation occurred, dbname = '%.*s', table name = '%.*s', constraint "
     "name = '%.*s'."},
    {547, 16,
     "Dependent foreign key constraint violation in a referential integrity constraint. dbname = "
     "'%.*s', table name = '%.*s', constraint name = '%.*s'."},
    {548, 16,
     "Check constraint violation occurred, dbname = '%.*s',table name = '%.*s', constraint name = "
     "'%.*s'."},
    {552, 16,
     "A column insert or update conflicts with a rule imposed by a previous CREATE RULE command. "
     "The statement was terminated. The conflict occured in database '%.*s', table '%.*s', column "
     "'%.*s'."},
    {562, 16,
     "The number of parameters/variables in the FETCH INTO clause does not match the number of "
     "columns in cursor '%.*s' result set."},
    {584, 16,
     "Explicit value specified for identity field in table '%.*s' when IDENTITY_INSERT is set to "
     "OFF."},
    {592, 16,
     "Attempt to use cursor '%.*s' which is not open.  Use the system stored procedure "
     "sp_cursorinfo for more information."},
    {628, 16, "Can't issue SAVE TRANSACTION when there is no active transaction."},
    {1205, 13, "Your server command encountered a deadlock situation. Please re-run your command."},
    {12205, 17,
     "Could not acquire a lock within the specified wait period. SERVER level wait period=%d "
     "seconds, spid=%d, lock type=%s, dbid=%d, objid=%d, pageno=%d, rownum=%d."},
    {1505, 14, "Create unique index aborted on duplicate key. Primary key is '%.*s'"},
    {1902, 16,
     "Cannot create more than one clustered index on table '%.*s'. Drop the existing clustered "
     "index before creating another."},
    {1921, 16, "Cannot create an index on '%.*s' because it is not a user table."},
    {3723, 16,
     "An explicit DROP INDEX is not allowed on index '%.*s'. It is being used for PRIMARY KEY or "
     "UNIQUE constraint enforcement."},
    {3712, 16,
     "Cannot drop table '%.*s' because it is still referenced by the foreign key constraint '%.*s' "
     "of table '%.*s'."},
    {4404, 16, "Column '%.*s' is an IDENTITY column and cannot be updated."},
    {4405, 16, "View '%.*s' is not updatable."},
    {4997, 16,
     "ALTER TABLE '%.*s' failed. Default clause is required in order to add non-NULL column "
     "'%.*s'."},
    {4501, 16, "SELECT INTO requires a name for every column of the select list."},
    {4506, 16, "Column names in each view must be unique and named: view '%.*s'."},
    {4708, 16, "Could not truncate table '%.*s' because it is not a user table."},
    {7, 16, "%s"},
    {8107, 16, "Table '%.*s' does not have the identity property. Cannot perform SET operation."},
    {8158, 16, "'%.*s' has more or fewer columns than were specified in the column list."},
    {14216, 16,
     "Function '%.*s' not found. If this is a SQLJ function or SQL function, use sp_help to check "
     "whether the object exists (sp_help may produce lots of output)."},
    {15008, 16, "No user with the specified name '%s' exists in the current database."},
    {15009, 16,
     "The object '%s' does not exist in database '%s' or is invalid for this operation."},
    {15013, 16, "No group with the specified name '%s' exists."},
    {15016, 16, "The object '%s' doesn't exist or is not of the right type."},
    {15023, 16, "User or group '%s' already exists in the current database."},
    {15104, 16, "You do not own a table or column (or user type) named '%s'."},
    {17000, 16, "Usage: %s"},
    {17001, 16, "A type with the specified name '%s' already exists."},
    {17231, 16, "No login with the specified name '%s' exists."},
    {17262, 16, "A login with the specified name '%s' already exists."},
    {17460, 16, "Object '%s' must be in the current database."},
    {17461, 16, "Object does not exist in this database."},
    {17520, 16, "There is no such segment as '%s'."},
    {17590, 16, "The specified database does not exist."},
    {18039, 16, "Table qualifier must be name of current database."},
};

}  // namespace

ServerMessage SessionImpl::Msg(int number, std::vector<std::string> args) const {
  ServerMessage m;
  if (FindMessage(number)) {
    m = MakeMessage(number, std::move(args));
  } else {
    m.number = number;
    m.severity = 16;
    for (const auto& e : kLocalMessages)
      if (e.number == number) {
        m.severity = static_cast<uint8_t>(e.severity);
        m.text = FormatTemplate(e.text, args);
      }
    if (m.text.empty()) m = MakeMessage(number, std::move(args));
  }
  m.server = engine_->config.serverName;
  m.line = currentLine_;
  return m;
}

void SessionImpl::Send(ResultSink& sink, ServerMessage m) const {
  if (m.server.empty()) m.server = engine_->config.serverName;
  if (m.procedure.empty()) m.procedure = currentProcedure_;
  sink.Message(m);
}

void SessionImpl::Fail(int number, std::vector<std::string> args, bool abortBatch) {
  throw StatementError{Msg(number, std::move(args)), abortBatch};
}

void SessionImpl::Done(ResultSink& sink, uint16_t status, int32_t count, bool counted) {
  if (counted && !options_.nocount) status |= kDoneCount;
  if (trancount_ > 0) status |= kDoneInXact;
  sink.Done(status, count, nestlevel_ > 0 || lightweightProc_);
}

void SessionImpl::Execute(std::string_view text, ResultSink& sink) {
  Busy busy(*this, "SELECT");
  try {
    ExecuteBatch(text, sink);
  } catch (const std::exception& e) {
    // Nothing may escape to the protocol layer: report and end the request.
    EndStatement(false);
    Send(sink, Msg(7, {e.what()}));
    Done(sink, kDoneError, 0, false);
  }
}

void SessionImpl::ExecuteBatch(std::string_view text, ResultSink& sink,
                               std::map<std::string, Variable> params) {
  // Local variables live for one batch.
  variables_ = std::move(params);
  sql::ParseOptions po;
  po.quotedIdentifier = options_.quotedIdentifier;
  auto parsed = sql::Parse(text, po);
  if (!parsed.ok()) {
    const ServerMessage m = ParseErrorMessage(*parsed.error);
    Send(sink, m);
    lastError_ = m.number;
    Done(sink, kDoneError, 0, false);
    return;
  }
  if (options_.parseonly || options_.noexec) {
    // Only an option change can switch these off again.
    for (const auto& st : parsed.statements) {
      if (auto* so = st->If<sql::SetOptionStmt>()) {
        if (so->option == "noexec" || so->option == "parseonly") RunStatement(*st, sink);
      }
    }
    return;
  }
  RunBatch(parsed.statements, text, sink);
}

std::vector<ServerMessage> SessionImpl::RunScript(std::string_view script) {
  struct Collect : ResultSink {
    std::vector<ServerMessage> errors;
    void Columns(const std::vector<ColumnInfo>&) override {}
    void Row(const std::vector<Value>&) override {}
    void Done(uint16_t, int32_t, bool) override {}
    void Message(const ServerMessage& m) override {
      if (m.severity > 10) errors.push_back(m);
    }
    void DatabaseChanged(const std::string&, const std::string&) override {}
    void ReturnStatus(int32_t) override {}
    bool Cancelled() const override { return false; }
  } sink;
  std::string batch;
  size_t pos = 0;
  auto flush = [&] {
    bool blank = std::all_of(batch.begin(), batch.end(),
                             [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
    if (!blank) Execute(batch, sink);
    batch.clear();
  };
  while (pos <= script.size()) {
    size_t nl = script.find('\n', pos);
    std::string_view line =
        script.substr(pos, nl == std::string_view::npos ? script.npos : nl - pos);
    std::string trimmed;
    for (char c : line)
      if (!std::isspace(static_cast<unsigned char>(c)))
        trimmed += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (trimmed == "go")
      flush();
    else {
      batch.append(line);
      batch += '\n';
    }
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  flush();
  return sink.errors;
}

// ------------------------------------------------------------------------------------------
// Options

namespace {
std::vector<uint8_t> Int4(int32_t v) {
  auto u = static_cast<uint32_t>(v);
  return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 24)};
}
int32_t ReadInt(const std::vector<uint8_t>& v) {
  if (v.size() >= 4)
    return static_cast<int32_t>(static_cast<uint32_t>(v[0]) | (static_cast<uint32_t>(v[1]) << 8) |
                                (static_cast<uint32_t>(v[2]) << 16) |
                                (static_cast<uint32_t>(v[3]) << 24));
  return v.empty() ? 0 : v[0];
}
}  // namespace

void SessionImpl::SetOption(int option, std::optional<std::vector<uint8_t>> value, ResultSink&) {
  Options defaults;
  bool set = value.has_value();
  int32_t n = set ? ReadInt(*value) : 0;
  bool on = set && n != 0;
  switch (static_cast<Option>(option)) {
    case Option::TextSize: options_.textsize = set && n > 0 ? n : defaults.textsize; break;
    case Option::RowCount: options_.rowcount = set && n > 0 ? n : 0; break;
    case Option::NoCount: options_.nocount = on; break;
    case Option::FormatOnly: options_.fmtonly = on; break;
    case Option::AnsiNull: options_.ansinull = on; break;
    case Option::QuotedIdent: options_.quotedIdentifier = on; break;
    case Option::ChainXacts: options_.chained = on; break;
    case Option::Isolation: options_.isolation = set ? std::clamp(n, 0, 3) : 1; break;
    case Option::ArithAbort: options_.arithabort = set ? on : true; break;
    case Option::ArithIgnore: options_.arithignore = on; break;
    case Option::NoExec: options_.noexec = on; break;
    case Option::ParseOnly: options_.parseonly = on; break;
    case Option::StatsIo: options_.statsIo = on; break;
    case Option::StatsTime: options_.statsTime = on; break;
    case Option::ShowPlan: options_.showplan = on; break;
    case Option::StrRtrunc: builtinSettings_.stringRtruncation = on; break;
    case Option::DateFirst:
      options_.datefirst = set && n >= 1 && n <= 7 ? n : 7;
      builtinSettings_.datefirst = options_.datefirst;
      break;
    case Option::DateFormat: {
      // The option command numbers the orders 1..6.
      static constexpr const char* kOrders[] = {"mdy", "dmy", "ymd", "ydm", "myd", "dym"};
      options_.dateformat = set && n >= 1 && n <= 6 ? kOrders[n - 1] : defaults.dateformat;
      builtinSettings_.dateFormat = ParseDateFormat(options_.dateformat).value_or(DateFormat::Mdy);
      break;
    }
    default:  // accepted without effect
      if (set)
        options_.others[option] = *value;
      else
        options_.others.erase(option);
      break;
  }
}

std::optional<std::vector<uint8_t>> SessionImpl::GetOption(int option) const {
  auto b = [](bool v) { return std::vector<uint8_t>{static_cast<uint8_t>(v ? 1 : 0)}; };
  switch (static_cast<Option>(option)) {
    case Option::TextSize: return Int4(options_.textsize);
    case Option::RowCount: return Int4(options_.rowcount);
    case Option::NoCount: return b(options_.nocount);
    case Option::FormatOnly: return b(options_.fmtonly);
    case Option::AnsiNull: return b(options_.ansinull);
    case Option::QuotedIdent: return b(options_.quotedIdentifier);
    case Option::ChainXacts: return b(options_.chained);
    case Option::Isolation: return std::vector<uint8_t>{static_cast<uint8_t>(options_.isolation)};
    case Option::ArithAbort: return b(options_.arithabort);
    case Option::ArithIgnore: return b(options_.arithignore);
    case Option::NoExec: return b(options_.noexec);
    case Option::ParseOnly: return b(options_.parseonly);
    case Option::StatsIo: return b(options_.statsIo);
    case Option::StatsTime: return b(options_.statsTime);
    case Option::ShowPlan: return b(options_.showplan);
    case Option::StrRtrunc: return b(builtinSettings_.stringRtruncation);
    case Option::DateFirst: return std::vector<uint8_t>{static_cast<uint8_t>(options_.datefirst)};
    case Option::DateFormat: {
      static constexpr std::string_view kOrders[] = {"mdy", "dmy", "ymd", "ydm", "myd", "dym"};
      for (size_t i = 0; i < std::size(kOrders); ++i)
        if (options_.dateformat == kOrders[i])
          return std::vector<uint8_t>{static_cast<uint8_t>(i + 1)};
      return std::vector<uint8_t>{1};
    }
    default: {
      auto it = options_.others.find(option);
      if (it != options_.others.end()) return it->second;
      return std::vector<uint8_t>{0};  // never set: off
    }
  }
}

// ------------------------------------------------------------------------------------------
// Statement atomicity and transactions

void SessionImpl::BeginStatement() {
  Exec(db_.get(), "SAVEPOINT syb_statement");
  statementOpen_ = true;
}

void SessionImpl::EndStatement(bool ok) {
  if (!statementOpen_) return;
  statementOpen_ = false;
  try {
    if (!ok) Exec(db_.get(), "ROLLBACK TO syb_statement");
    Exec(db_.get(), "RELEASE syb_statement");
  } catch (const storage::SqliteError&) {
  }
}

void SessionImpl::AutoBeginChained() {
  if (options_.chained && trancount_ == 0) {
    Exec(db_.get(), "BEGIN");
    trancount_ = 1;
    savepoints_.clear();
  }
}

void SessionImpl::RunTran(const sql::Stmt& s, ResultSink& sink) {
  const auto& t = static_cast<const sql::TranStmt&>(s);
  switch (s.kind) {
    case sql::StmtKind::BeginTran:
      if (trancount_ == 0) {
        Exec(db_.get(), "BEGIN");
        savepoints_.clear();
      }
      ++trancount_;
      break;
    case sql::StmtKind::CommitTran:
      if (trancount_ == 0) {
        if (!options_.chained) Fail(3902);
        break;
      }
      if (trancount_ == 1) {
        Exec(db_.get(), "COMMIT");
        savepoints_.clear();
      }
      --trancount_;
      break;
    case sql::StmtKind::RollbackTran:
      if (static_cast<const sql::RollbackTranStmt&>(s).trigger) {
        RunRollbackTrigger(static_cast<const sql::RollbackTranStmt&>(s), sink);
        return;
      }
      if (trancount_ == 0) {
        if (!options_.chained) Fail(3903);
        break;
      }
      if (!t.name.empty()) {
        // A savepoint name rolls back to it; the transaction stays open.
        try {
          const std::string savepoint = "syb_save_" + t.name;
          Exec(db_.get(), "ROLLBACK TO " + QuoteId(savepoint));
          // SQLite keeps the savepoint and drops those after it.
          auto last = std::find(savepoints_.rbegin(), savepoints_.rend(), savepoint);
          if (last != savepoints_.rend()) savepoints_.erase(last.base(), savepoints_.end());
          break;
        } catch (const storage::SqliteError&) {
          // not a savepoint: the whole transaction, as Sybase does for a transaction name
        }
      }
      Exec(db_.get(), "ROLLBACK");
      trancount_ = 0;
      ++rollbacks_;
      savepoints_.clear();
      // A statement's savepoint went with the transaction.
      statementOpen_ = false;
      break;
    case sql::StmtKind::SaveTran:
      if (trancount_ == 0) Fail(628);
      Exec(db_.get(), "SAVEPOINT " + QuoteId("syb_save_" + t.name));
      savepoints_.push_back("syb_save_" + t.name);
      break;
    default: break;
  }
  Done(sink, 0, 0, false);
}

void SessionImpl::RunUse(const sql::UseStmt& s, ResultSink& sink) {
  std::string schema = SchemaOf(s.database);
  if (schema.empty()) Fail(911, {s.database}, true);
  std::string old = database_;
  database_ = s.database;
  NoteDatabase();
  sink.DatabaseChanged(database_, old);
  Send(sink, Msg(5701, {database_}));
  Done(sink, 0, 0, false);
}

}  // namespace sampleserver
