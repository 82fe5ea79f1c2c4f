// The engine's state shared by all sessions, and one session: its SQLite connection, options,
// variables, #temp tables, transaction and cursors. The executor (executor.cpp), the query
// translator (translate.cpp), stored procedures (procedures.cpp), the system procedures
// (sysprocs/) and the cursors (cursor.cpp) are parts of the session.
#pragma once

#include "engine/builtins.h"
#include "engine/catalog.h"
#include "engine/engine.h"
#include "engine/locks.h"
#include "engine/sqltypes.h"
#include "engine/storage.h"
#include "sql/ast.h"
#include "sql/parser.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sampleserver {

// A live session as master..sysprocesses shows it.
struct ProcessInfo {
  int64_t suid = 0;
  std::string login;
  std::string host;
  std::string program;
  int64_t dbid = 1;
  int64_t uid = 1;
  std::string status = "recv sleep";
  std::string cmd = "AWAITING COMMAND";
  int blocked = 0;       // the spid whose lock it waits for
  std::string loggedIn;  // storage form of the login time
};

struct EngineState {
  EngineConfig config;
  std::string dir;       // where the database files live
  bool ownsDir = false;  // a private temporary folder, removed with the engine
  std::string version;
  std::mutex mutex;  // spids, the live sessions and the creation of databases
  int nextSpid = 11;
  std::map<int, ProcessInfo> processes;  // by spid
  LockTable locks;                       // write locks of the databases, for waits and deadlocks

  // Changes a live session's entry under the lock.
  template <typename F>
  void UpdateProcess(int spid, F&& change) {
    std::lock_guard lock(mutex);
    auto it = processes.find(spid);
    if (it != processes.end()) change(it->second);
  }
  std::map<int, ProcessInfo> Processes() {
    std::lock_guard lock(mutex);
    return processes;
  }

  ~EngineState();
  std::string PathOf(const std::string& database) const { return dir + "/" + database + ".db"; }
};

// A failure to report as a Sybase message; the statement ends with kDoneError.
struct ComputePlan;

struct StatementError {
  ServerMessage message;
  bool abortBatch = false;
};

struct Variable {
  TypeDesc type;
  Value value;
};

// An expression translated to SQLite with the type the server gives it.
struct Typed {
  std::string sql;
  TypeDesc type;
  bool nullable = true;
  bool isNull = false;  // the NULL literal or a NULL-valued variable
  bool isStringLiteral = false;
  std::string literal;      // the literal's text when isStringLiteral
  bool intStorage = false;  // an exact-typed identity column: stored as SQLite INTEGER
};

// A translated select: SQLite text and the description of its columns.
struct TranslatedQuery {
  std::string sql;
  std::vector<ColumnInfo> columns;
  std::vector<TypeDesc> types;
  std::vector<std::string> assignTo;  // select @v = ...: the variables, one per column
  // Output column `column` is a text or image column of table `table`, colid `colid`; the
  // rowids of its rows follow the output columns as hidden result columns, in this order.
  struct TextSource {
    size_t column;
    int64_t table;
    int colid;
  };
  std::vector<TextSource> textSources;
  // Per output column: the table and column it reads as they are, or empty for an expression
  // (what a select for browse describes).
  std::vector<BrowseColumn> origins;
};

struct Options {
  int32_t textsize = 32768;
  int32_t rowcount = 0;
  bool nocount = false;
  bool fmtonly = false;
  bool ansinull = false;
  bool quotedIdentifier = false;
  bool chained = false;
  int isolation = 1;
  bool arithabort = true;
  bool arithignore = false;
  bool noexec = false;
  bool parseonly = false;
  bool statsIo = false;
  bool statsTime = false;
  bool showplan = false;
  bool selfRecursion = false;  // a trigger's changes to its own table fire it again
  int datefirst = 7;
  std::string dateformat = "mdy";
  std::map<std::string, bool> identityInsert;  // table name -> on
  // set lock wait: seconds a statement waits for a lock; none: until the lock is free.
  std::optional<int> lockWait;
  // Options the server accepts without acting on them: read back as they were set.
  std::map<int, std::vector<uint8_t>> others;
};

// A statement prepared by the client: its text with `?` renamed to @P1..@Pn.
struct Prepared {
  std::string text;
  size_t paramCount = 0;
  PreparedInfo info;
};

// One argument of a procedure call, evaluated in the caller's context.
struct ProcArg {
  std::string name;         // "@param" as written or sent; empty when positional
  bool useDefault = false;  // `default` written, or nothing given
  Value value;
  TypeDesc type;
  bool output = false;    // the caller asked for the value back
  std::string variable;   // language exec: the caller's variable an output goes to
  bool returned = false;  // set by the call: value and type now hold the output
  std::string paramName;  // set by the call: the procedure's name for the parameter
};

struct Cursor {
  int32_t id = 0;
  std::string name;
  std::string select;
  bool forUpdate = false;
  int32_t rows = 1;
  uint16_t state = 0;
  std::vector<ColumnInfo> columns;
  std::vector<std::vector<Value>> data;  // materialised at the first fetch
  std::string pending;                   // the query whose rows the first fetch reads
  size_t position = 0;
  bool described = false;
};

// Makes master..sysprocesses readable on the connection: one row per live session of `state`.
void RegisterProcessTable(sqlite3* db, EngineState* state);

// A name starting sp_ in any case: a system procedure, looked for in master too.
bool IsSystemProcedureName(std::string_view name);

enum class TriggerAction { Insert, Update, Delete };

// A table's trigger made ready for one statement: the temporary tables that become its
// inserted and deleted, and the SQLite triggers that fill them while the statement runs.
// Dropped with the object.
struct ArmedTrigger {
  sqlite3* db = nullptr;
  int64_t id = 0;
  std::string name;
  TriggerAction action = TriggerAction::Insert;
  catalog::TableMeta table;
  catalog::TableMeta inserted;
  catalog::TableMeta deleted;
  std::set<std::string> columns;  // what update(col) is true for
  std::vector<std::string> captures;
  bool outermost = false;  // fired by a statement outside any trigger

  ArmedTrigger() = default;
  ArmedTrigger(const ArmedTrigger&) = delete;
  ArmedTrigger& operator=(const ArmedTrigger&) = delete;
  ~ArmedTrigger();
  // Stops catching rows: the trigger body's own changes are not the statement's.
  void Disarm();
};

// A trigger running: what its body sees as inserted, deleted and update(col).
struct TriggerFrame {
  int64_t triggerId = 0;
  catalog::TableMeta inserted;
  catalog::TableMeta deleted;
  std::set<std::string> updated;
};

// Thrown by `rollback trigger`; caught where the outermost trigger was fired.
struct TriggerRollback {};

// The message of a batch the parser rejected, as the server reports it.
ServerMessage ParseErrorMessage(const sql::ParseError& error);

class SessionImpl : public Session {
 public:
  SessionImpl(std::shared_ptr<EngineState> engine, int spid, const LoginRequest& login,
              int64_t suid, std::string database);
  ~SessionImpl() override;

  int Spid() const override { return spid_; }
  std::string Database() const override { return database_; }
  std::string User() const override { return login_.user; }

  void Execute(std::string_view sql, ResultSink& sink) override;
  void SetOption(int option, std::optional<std::vector<uint8_t>> value, ResultSink& sink) override;
  std::optional<std::vector<uint8_t>> GetOption(int option) const override;

  int32_t CursorDeclare(const std::string& name, std::string_view select, bool forUpdate,
                        ResultSink& sink) override;
  int32_t CursorId(const std::string& name) const override;
  bool CursorSetRows(int32_t id, int32_t rows, ResultSink& sink) override;
  bool CursorOpen(int32_t id, ResultSink& sink) override;
  int32_t CursorFetch(int32_t id, ResultSink& sink) override;
  bool CursorClose(int32_t id, bool deallocate, ResultSink& sink) override;
  uint16_t CursorState(int32_t id) const override;
  int32_t CursorRows(int32_t id) const override;

  // RPC, parameters and prepared statements (calls.cpp)
  void CallProcedure(const std::string& name, const std::vector<ParamValue>& params,
                     ResultSink& sink) override;
  void ExecuteWithParams(std::string_view sql, const std::vector<ParamValue>& params,
                         ResultSink& sink) override;
  bool Prepare(const std::string& id, std::string_view sql, PreparedInfo* info,
               ResultSink& sink) override;
  void ExecutePrepared(const std::string& id, const std::vector<ParamValue>& params,
                       ResultSink& sink) override;
  bool Deallocate(const std::string& id, ResultSink& sink) override;

  // Bulk copy (bulk.cpp)
  std::unique_ptr<BulkInsert> BeginBulkInsert(std::string_view table, ResultSink& sink) override;
  // Text and image through text pointers (text.cpp)
  std::unique_ptr<TextWrite> BeginTextWrite(std::string_view sql, ResultSink& sink) override;

  // Used by the engine: runs a script of batches separated by "go" lines; returns the error
  // messages it produced.
  std::vector<ServerMessage> RunScript(std::string_view script);

  // For the catalog functions registered on the connection.
  sqlite3* Db() const { return db_.get(); }
  const std::string& CurrentDatabase() const { return database_; }
  int64_t Suid() const { return suid_; }
  const LoginRequest& Login() const { return login_; }
  std::string SchemaOf(const std::string& database);  // "" when no such database
  std::optional<int64_t> DbId(const std::string& name);
  std::optional<std::string> DbName(int64_t dbid);
  const std::map<std::string, catalog::TableMeta>& TempTables() const { return temps_; }

 private:
  friend class Translator;
  friend class SysProcCall;
  friend class BulkInserter;
  friend class TextWriter;
  // --- connection and databases
  void OpenConnection();
  void AttachAll();
  // sysprocesses' view of this session: its database and user there, what it is doing.
  void NoteDatabase();
  void NoteActivity(bool running, const char* cmd = "AWAITING COMMAND");
  // Marks the session running while it serves one request.
  struct Busy {
    Busy(SessionImpl& session, const char* cmd) : s(session) { s.NoteActivity(true, cmd); }
    ~Busy() {
      s.NoteActivity(false);
      s.SyncLocks();
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
    SessionImpl& s;
  };
  void RegisterFunctions();

  // --- messages
  ServerMessage Msg(int number, std::vector<std::string> args = {}) const;
  void Send(ResultSink& sink, ServerMessage m) const;
  [[noreturn]] void Fail(int number, std::vector<std::string> args = {}, bool abortBatch = false);
  [[noreturn]] void FailNull(const sql::Expr& value, const std::string& column,
                             const std::string& table);

  // `params` become the batch's first variables.
  void ExecuteBatch(std::string_view text, ResultSink& sink,
                    std::map<std::string, Variable> params = {});
  // --- execution (executor.cpp)
  enum class Flow { Normal, Break, Continue, Return };
  void RunBatch(const std::vector<sql::StmtPtr>& statements, std::string_view text,
                ResultSink& sink);
  Flow RunStatement(const sql::Stmt& stmt, ResultSink& sink);
  Flow RunList(const std::vector<sql::StmtPtr>& list, ResultSink& sink);
  void RunSimple(const sql::Stmt& stmt, ResultSink& sink);
  void Done(ResultSink& sink, uint16_t status, int32_t count, bool counted);
  void RunSelect(const sql::SelectStmt& s, ResultSink& sink);
  // The compute clauses of `s` against its translation (compute.cpp); fails on an argument
  // outside the select list or a by list that does not lead the order by list.
  std::vector<ComputePlan> PlanComputes(const sql::SelectStmt& s, const TranslatedQuery& q);
  void RunSelectInto(const sql::SelectStmt& s, ResultSink& sink);
  void RunInsert(const sql::InsertStmt& s, ResultSink& sink);
  void RunUpdate(const sql::UpdateStmt& s, ResultSink& sink);
  void RunDelete(const sql::DeleteStmt& s, ResultSink& sink);
  void RunTruncate(const sql::TruncateStmt& s, ResultSink& sink);
  void RunCreateTable(const sql::CreateTableStmt& s, ResultSink& sink);
  void RunCreateIndex(const sql::CreateIndexStmt& s, ResultSink& sink);
  void RunCreateView(const sql::CreateViewStmt& s, ResultSink& sink);
  void RunCreateStored(const sql::Stmt& s, const sql::ObjectName& name, const char* type,
                       ResultSink& sink, int64_t tableId = 0);
  void RunDrop(const sql::DropStmt& s, ResultSink& sink);
  void RunDeclare(const sql::DeclareStmt& s, ResultSink& sink);
  void RunSetVariable(const sql::SetVariableStmt& s, ResultSink& sink);
  void RunSetOption(const sql::SetOptionStmt& s, ResultSink& sink);
  void RunPrint(const sql::PrintStmt& s, ResultSink& sink);
  void RunWaitfor(const sql::WaitforStmt& s, ResultSink& sink);
  void RunRaiserror(const sql::RaiserrorStmt& s, ResultSink& sink);
  void RunTran(const sql::Stmt& s, ResultSink& sink);
  void RunUse(const sql::UseStmt& s, ResultSink& sink);
  void RunExec(const sql::ExecStmt& s, ResultSink& sink);
  void RunGrant(const sql::GrantStmt& s, ResultSink& sink);  // sysprocs/security.cpp
  void AutoBeginChained();

  // --- text and image through text pointers (text.cpp)
  // The value a valid text pointer designates.
  struct TextTarget {
    catalog::TableMeta table;
    catalog::ColumnMeta column;
    int64_t row = 0;
  };
  TextTarget ResolveTextTarget(const sql::ObjectName& table, const std::string& column,
                               const sql::Expr& pointer);
  // Message 7123 unless the row still exists with a value in the column.
  void CheckTextTarget(const TextTarget& target, const Bytes& pointer);
  void StoreText(const TextTarget& target, Value value);
  void RunWritetext(const sql::WritetextStmt& s, ResultSink& sink);
  void RunReadtext(const sql::ReadtextStmt& s, ResultSink& sink);

  // --- query translation (translate.cpp)
  TranslatedQuery TranslateSelect(const sql::SelectStmt& s, bool forCursor = false,
                                  bool withCompute = false, bool textPointers = false);
  Typed TranslateScalar(const sql::Expr& e);  // an expression outside any table
  // Evaluates a constant expression (variables, literals, functions) to a value of its type.
  Value Evaluate(const sql::Expr& e, TypeDesc* type = nullptr);
  Value EvaluateAs(const sql::Expr& e, const TypeDesc& target);

  // --- names
  struct ResolvedTable {
    catalog::TableMeta meta;
    bool temp = false;
  };
  std::optional<ResolvedTable> ResolveTable(const sql::ObjectName& name);
  ResolvedTable RequireTable(const sql::ObjectName& name);  // 208 when missing
  std::string SchemaFor(const sql::ObjectName& name);       // 911-free: "" when unknown db
  std::string DatabaseFor(const sql::ObjectName& name) const;
  std::optional<TypeDesc> ResolveType(const sql::DataType& t, bool* allowNulls = nullptr);

  // --- values
  std::vector<Value> ReadRow(storage::Statement& st, const std::vector<ColumnInfo>& cols);
  Value ToValue(const Value& raw, const TypeDesc& from, const TypeDesc& to, bool isImplicit);
  std::string LiteralSql(const Value& v, const TypeDesc& t);

  bool Condition(const sql::Expr& e, ResultSink& sink, bool* failed);
  // Inside a catch block: reports the exception in flight as the statement's failure.
  void ReportCurrentError(ResultSink& sink);
  ServerMessage MapSqliteError(const storage::SqliteError& e);
  // Inside a catch block: the message of the statement, SQL or storage error being handled.
  ServerMessage CurrentErrorMessage();
  std::string IndexSqlName(const catalog::TableMeta& t, const std::string& index);
  catalog::TableMeta MakeTable(const sql::ObjectName& name,
                               std::vector<catalog::ColumnMeta> columns,
                               const std::vector<std::string>& checks);
  std::optional<std::string> DefaultSql(const catalog::TableMeta& t, const catalog::ColumnMeta& c);
  std::string StatementText(const sql::Stmt& s) const;
  void CheckRule(const catalog::TableMeta& t, const catalog::ColumnMeta& c, const Value& value,
                 const TypeDesc& type);
  std::vector<std::string> FormatArgs(const std::vector<sql::ExprPtr>& args);
  bool OpenExecuteCursor(Cursor& c, ResultSink& sink);
  void RunCursorStatement(const sql::Stmt& s, ResultSink& sink);
  void RunProcedure(const std::string& schema, const catalog::ObjectRef& proc,
                    const sql::ExecStmt& s, ResultSink& sink);
  // Runs a procedure with evaluated arguments; outputs come back in `args` (value and the
  // parameter's type). Returns the procedure's return status.
  // `number` picks the member of a procedure group (proc;n).
  int CallProc(const std::string& schema, const catalog::ObjectRef& proc,
               std::vector<ProcArg>& args, ResultSink& sink, bool* failed = nullptr,
               int number = 1);
  // The outputs a call sends to the client (only the outermost call sends any).
  void SendOutputs(const std::vector<ProcArg>& args, ResultSink& sink);

  // --- transactions
  void BeginStatement();
  void EndStatement(bool ok);
  // Runs one statement that changes rows, then reports its count as FinishChange does.
  // The table's trigger for the action fires once the rows have changed; `columns` are those
  // the statement sets.
  void ExecChange(const std::string& sql, ResultSink& sink, const catalog::TableMeta& t,
                  TriggerAction action, std::set<std::string> columns);
  // Ends a changing statement: its count becomes @@rowcount and the DONE's count.
  void FinishChange(int64_t rows, ResultSink& sink);

  // --- lock waits (locks.cpp)
  // Takes the write lock of `database` before the statement reads it, waiting for it as
  // Sybase does: until it is free, or for the session's lock wait and then message 12205. A
  // deadlock makes this session the victim (1205). Both throw; the caller's error handling
  // rolls the transaction back. False when the client cancelled the wait. `objectId` names
  // the object for 12205.
  bool LockForWrite(const std::string& database, ResultSink& sink,
                    const std::function<int64_t()>& objectId);
  // The objects a statement changes (tables, or the database of a new object); none for a
  // statement that changes nothing.
  std::vector<const sql::ObjectName*> WriteTargets(const sql::Stmt& stmt) const;
  // Their write locks, taken before the statement runs; false when the client cancelled.
  bool LockTargets(const std::vector<const sql::ObjectName*>& names, ResultSink& sink);
  // Tells the lock table which databases this session holds the write lock of now.
  void SyncLocks();
  // A read-only transaction at read committed gives up its read snapshot (it ends and begins
  // again, savepoints and all) so that a lock it waited for does not leave it stale.
  bool CanRefreshSnapshot() const;
  void RefreshSnapshot();
  // Ends the whole transaction, as a deadlock or a lock timeout does.
  void RollbackTransaction();
  // Message 12205 for a wait on `database` (empty when unknown) for object `objectId`.
  ServerMessage LockTimeoutMessage(const std::string& database, int64_t objectId);
  // SQLite's busy handler for locks not taken beforehand: waits as LockForWrite does, for
  // whichever database it is.
  static int OnBusy(void* session, int count);
  bool WaitWhileBusy(int count);

  // --- triggers (triggers.cpp)
  // The table's trigger for the action when one is to fire; null when none. Looked up before
  // the statement's savepoint opens.
  std::unique_ptr<ArmedTrigger> ArmTrigger(const catalog::TableMeta& t, TriggerAction action,
                                           std::set<std::string> columns);
  // Inside the statement, before its change: starts catching the rows it changes.
  void CaptureRows(ArmedTrigger& armed);
  // Runs the trigger after its statement changed `rows` rows; false when the trigger undid
  // the statement (rollback trigger).
  bool FireTrigger(ArmedTrigger& armed, int64_t rows, ResultSink& sink);
  void RunRollbackTrigger(const sql::RollbackTranStmt& s, ResultSink& sink);
  bool ColumnUpdated(const std::string& column) const;
  bool InTrigger() const { return !triggerFrames_.empty(); }
  // inserted / deleted inside a trigger.
  std::optional<catalog::TableMeta> TriggerTable(const sql::ObjectName& name) const;
  void ReplaceTriggers(const std::string& schema, int64_t tableId, int64_t triggerId,
                       const sql::CreateTriggerStmt& tr);
  void UnlinkTrigger(const std::string& schema, int64_t triggerId);

  // --- alter table (alter.cpp)
  // A check or foreign key constraint of a table: its sysobjects row and stored clause.
  struct TableConstraint {
    int64_t id = 0;
    std::string name;
    bool foreignKey = false;
    std::string text;
  };
  struct ForeignKey {
    std::vector<std::string> columns;
    std::string refTable;
    std::vector<std::string> refColumns;
    std::string childTable;
  };
  void RunAlterTable(const sql::AlterTableStmt& s, ResultSink& sink);
  void AlterAddColumns(catalog::TableMeta& t, const sql::AlterTableStmt& s);
  void AlterDropColumns(catalog::TableMeta& t, const sql::AlterTableStmt& s);
  // `columns`: the constraint's keys (a column constraint names none of its own).
  void AlterAddConstraint(catalog::TableMeta& t, const sql::Constraint& c,
                          const std::vector<std::string>& columns);
  void AlterDropConstraint(catalog::TableMeta& t, const std::string& name);
  std::vector<TableConstraint> TableConstraints(const catalog::TableMeta& t);
  std::string ObjectText(const std::string& schema, int64_t id);  // its syscomments text
  // A stored check clause as SQLite's CHECK over the columns of `t`.
  std::string CheckSql(const catalog::TableMeta& t, const std::string& name,
                       const std::string& text);
  // Replaces the SQLite table of `old` by one shaped as `next`, filled from `sources` (one SQL
  // expression over the old table per column of `next`); the catalog follows.
  void RebuildTable(const catalog::TableMeta& old, const catalog::TableMeta& next,
                    const std::vector<std::string>& sources,
                    const std::vector<std::string>& checks);
  ForeignKey ForeignKeyOf(const std::string& text);
  // `columns`: the referencing columns (a column constraint names none of its own).
  void AddForeignKey(catalog::TableMeta& t, const sql::Constraint& c,
                     const std::vector<std::string>& columns);
  // The condition a row of the referencing table (named `child` in SQL) breaks the key under.
  std::string ForeignKeyOrphan(const ForeignKey& fk, const std::string& child);
  void InstallForeignKey(const std::string& schema, int64_t id, const std::string& name,
                         const ForeignKey& fk);
  void RemoveForeignKeyTriggers(const std::string& schema, int64_t id);
  void ReinstallForeignKeys(const catalog::TableMeta& t);
  void DropForeignKey(const catalog::TableMeta& t, const TableConstraint& c);
  void RefreshForeignKeyBits(const std::string& schema);
  std::string ColumnSql(const catalog::ColumnMeta& c);
  void AddKeyIndex(catalog::TableMeta& t, const sql::Constraint& c,
                   const std::vector<std::string>& keyCols);

  // --- system procedures (sysprocs/)
  bool RunSystemProcedure(const std::string& name, const sql::ExecStmt& s, ResultSink& sink);
  // The call's arguments by parameter (named ones to their place); none for NULL, `default`
  // or an argument not given.
  std::vector<std::optional<std::string>> ExecArgs(const sql::ExecStmt& s,
                                                   const std::vector<const char*>& params);
  void SendRows(ResultSink& sink, const std::vector<ColumnInfo>& cols,
                const std::vector<std::vector<Value>>& rows);
  void SendQuery(ResultSink& sink, const std::string& sql, const std::vector<ColumnInfo>& cols);

  // --- cursors (cursor.cpp)
  Cursor* FindCursor(int32_t id);
  const Cursor* FindCursor(int32_t id) const;

  std::shared_ptr<EngineState> engine_;
  int spid_;
  LoginRequest login_;
  int64_t suid_;
  std::string database_;
  storage::DbHandle db_;
  std::map<std::string, std::string> attached_;  // database name -> schema
  BuiltinSettings builtinSettings_;
  Options options_;
  std::map<std::string, Variable> variables_;
  std::map<std::string, catalog::TableMeta> temps_;
  // Set by "writetext bulk" for BeginTextWrite: where the data that follows goes.
  std::optional<TextTarget> bulkTextTarget_;
  int64_t nextTempId_ = -1000;
  int trancount_ = 0;
  bool statementOpen_ = false;
  int32_t lastError_ = 0;
  int64_t lastRowcount_ = 0;
  int64_t lastIdentity_ = 0;
  int nestlevel_ = 0;
  // A prepared statement runs as a light-weight procedure: its statements end in DONEINPROC.
  bool lightweightProc_ = false;
  int returnStatus_ = 0;
  bool returnGiven_ = false;  // the last return statement carried a value
  int errorsRaised_ = 0;      // statements that failed, for a procedure's status
  bool batchAborted_ = false;
  int currentLine_ = 1;
  std::string currentProcedure_;  // the procedure running, named in its messages
  std::map<int32_t, Cursor> cursors_;
  int32_t nextCursorId_ = 1;
  std::map<std::string, Prepared> prepared_;
  int savepointSeq_ = 0;
  std::string batchText_;
  std::string currentTable_;  // the table a DML statement writes, for its messages
  std::optional<catalog::TableMeta> currentMeta_;
  int64_t tempSeq_ = 0;
  int sqlstatus_ = 0;
  std::vector<TriggerFrame> triggerFrames_;
  int triggerSeq_ = 0;
  int rollbacks_ = 0;            // whole-transaction rollbacks, so a trigger can tell it ended one
  bool triggerAborted_ = false;  // a trigger ended the transaction: the batch ends too
  // A call or trigger went past the nesting limit: every caller ends with it, or a recursive
  // procedure would go on calling at the deepest level.
  bool nestingExceeded_ = false;
  // Lock waits: the databases whose write lock the lock table knows this session holds, the
  // transaction's savepoints (save tran) in order, the request polled for a cancel while
  // waiting, and why SQLite's busy handler last gave up.
  std::set<std::string> heldLocks_;
  std::vector<std::string> savepoints_;
  ResultSink* waitSink_ = nullptr;
  bool lockProbe_ = false;  // trying a lock: SQLite must not wait
  enum class LockFailure { None, Timeout, Deadlock, Cancelled };
  LockFailure lockFailure_ = LockFailure::None;
  std::chrono::steady_clock::time_point busySince_;
};

}  // namespace sampleserver
