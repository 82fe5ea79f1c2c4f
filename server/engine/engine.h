// The sample server's engine: logins, sessions, Transact-SQL batches, options and cursors,
// executed on SQLite. The protocol layer drives it; it knows nothing of the wire.
#pragma once

#include "bulk.h"
#include "sink.h"
#include "types.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sampleserver {

struct EngineConfig {
  std::string dataDir;                // SQLite files live here; empty: a private temporary folder
  std::string serverName = "SAMPLE";  // @@servername and the server name of every message
};

struct LoginRequest {
  std::string user;
  std::string password;
  std::string host;
  std::string hostProcess;  // the client's process id as the login record carries it
  std::string application;
  std::string language;
  std::string charset;
  bool bulkCopy = false;  // the login asked for bulk copy
};

// Option numbers of the option command, as on the wire.
enum class Option : int {
  DateFirst = 1,
  TextSize = 2,
  StatsTime = 3,
  StatsIo = 4,
  RowCount = 5,
  DateFormat = 7,
  Isolation = 8,
  AuthOn = 9,
  ShowPlan = 13,
  NoExec = 14,
  ArithIgnore = 15,
  ArithAbort = 17,
  ParseOnly = 18,
  GetData = 20,
  NoCount = 21,
  ForcePlan = 23,
  FormatOnly = 24,
  ChainXacts = 25,
  CurCloseOnXact = 26,
  FipsFlag = 27,
  ResTrees = 28,
  AnsiNull = 34,
  QuotedIdent = 35,
  StrRtrunc = 39,  // no client library sends a number for it; this server's own
};

// Cursor status bits, as on the wire.
enum CursorStatus : uint16_t {
  kCursorDeclared = 0x01,
  kCursorOpen = 0x02,
  kCursorClosed = 0x04,
  kCursorReadOnly = 0x08,
  kCursorUpdatable = 0x10,
  kCursorRowCount = 0x20,
  kCursorDeallocated = 0x40,
};

// A parameter of an RPC, a prepared statement's execution or a language command, typed as the
// client declared it.
struct ParamValue {
  std::string name;     // "@name" as sent; empty when positional
  ColumnInfo type;      // the declared type; its name is unused
  Value value;          // std::monostate: NULL
  bool output = false;  // the caller wants the value back
};

// What a prepare learned about a statement: its parameters and, for a query, its columns.
struct PreparedInfo {
  std::vector<ColumnInfo> params;
  std::vector<ColumnInfo> columns;
};

// One client connection's state: current database, options, variables, #temp tables,
// transaction, cursors. Used by one thread at a time.
class Session {
 public:
  virtual ~Session() = default;

  virtual int Spid() const = 0;
  virtual std::string Database() const = 0;
  virtual std::string User() const = 0;

  // Runs a language batch. Each statement ends with one Done; a failing statement sends its
  // message and a Done with kDoneError, and the batch goes on as Sybase's does. Returns when the
  // batch ended or the sink reports a cancel.
  virtual void Execute(std::string_view sql, ResultSink& sink) = 0;

  // The option command: set (value given) or back to the default (no value). Unknown options
  // are accepted and ignored. The session's messages, if any, go to the sink; no Done is sent.
  virtual void SetOption(int option, std::optional<std::vector<uint8_t>> value,
                         ResultSink& sink) = 0;
  // The current value of an option (1 byte or 4 bytes), none for an unknown option.
  virtual std::optional<std::vector<uint8_t>> GetOption(int option) const = 0;

  // Cursors. A declare replaces a cursor of the same name silently. Each call reports failures
  // as messages to the sink and returns false or 0; no Done is sent.
  virtual int32_t CursorDeclare(const std::string& name, std::string_view select, bool forUpdate,
                                ResultSink& sink) = 0;          // the new id, 0 on failure
  virtual int32_t CursorId(const std::string& name) const = 0;  // 0 when unknown
  virtual bool CursorSetRows(int32_t id, int32_t rows, ResultSink& sink) = 0;
  // Opens the cursor and describes its columns through sink.Columns; no rows.
  virtual bool CursorOpen(int32_t id, ResultSink& sink) = 0;
  // Sends at most the cursor's row count of rows through sink.Row; returns how many.
  virtual int32_t CursorFetch(int32_t id, ResultSink& sink) = 0;
  virtual bool CursorClose(int32_t id, bool deallocate, ResultSink& sink) = 0;
  virtual uint16_t CursorState(int32_t id) const = 0;  // CursorStatus bits
  virtual int32_t CursorRows(int32_t id) const = 0;

  // An RPC: runs the procedure with the given parameters (matched by name, else by position),
  // then sends its return status, the output parameters and one final Done. An engine without
  // procedures refuses with message 2812.
  virtual void CallProcedure(const std::string& name, const std::vector<ParamValue>& params,
                             ResultSink& sink);
  // A language batch whose parameters (@name) were sent beside it.
  virtual void ExecuteWithParams(std::string_view sql, const std::vector<ParamValue>& params,
                                 ResultSink& sink);
  // Prepared statements, by the client's id; a prepare replaces a statement of the same id.
  // Failures go to the sink as messages; no Done is sent by Prepare and Deallocate.
  virtual bool Prepare(const std::string& id, std::string_view sql, PreparedInfo* info,
                       ResultSink& sink);
  // Runs the statement with `?` bound positionally; sends its results and Dones.
  virtual void ExecutePrepared(const std::string& id, const std::vector<ParamValue>& params,
                               ResultSink& sink);
  virtual bool Deallocate(const std::string& id, ResultSink& sink);

  // "insert bulk <table>": the copy's rows follow as bulk messages. Ends with one Done; on
  // refusal (no bulk-copy login, no such table) that Done carries the error and null returns.
  // An engine without bulk copy refuses every table.
  virtual std::unique_ptr<BulkInsert> BeginBulkInsert(std::string_view table, ResultSink& sink);
  // Runs the batch "writetext bulk <table.column> <pointer> [timestamp = <ts>] [with log]"; when
  // the pointer is valid its Done is a success and the returned write takes the data. Otherwise
  // the Done carries the error and null returns. An engine without text pointers refuses all.
  virtual std::unique_ptr<TextWrite> BeginTextWrite(std::string_view sql, ResultSink& sink);
};

class Engine {
 public:
  // Opens or creates the databases (master, tempdb, the sample database pubs2) in
  // config.dataDir. Throws std::runtime_error when the folder cannot be used.
  static std::unique_ptr<Engine> Create(const EngineConfig& config);
  virtual ~Engine() = default;

  virtual std::string ServerName() const = 0;
  // The folder holding the database files (the private one when none was configured).
  virtual std::string DataDir() const = 0;
  // The text of @@version.
  virtual std::string Version() const = 0;

  // Checks the login against syslogins. On refusal returns null and fills `failure` with the
  // message Sybase sends (4002, "Login failed.").
  virtual std::unique_ptr<Session> Login(const LoginRequest& request, ServerMessage* failure) = 0;
};

}  // namespace sampleserver
