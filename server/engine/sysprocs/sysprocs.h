// The system procedures the server implements natively: a table of handlers by name, grouped
// in files by theme (security, objects, the ODBC catalog family, the server), and the one call
// object through which every handler reaches its arguments and the session.
#pragma once

#include "engine/session.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sampleserver {

class SysProcCall;
// Runs the procedure; returns its return status (0 success, 1 failure with a message sent).
using SysProcHandler = int (*)(SysProcCall&);

struct SysProcEntry {
  const char* name;
  SysProcHandler handler;
  std::vector<const char*> params;  // "@name" in position order, for named arguments
};

// The procedures of each theme.
const std::vector<SysProcEntry>& SecurityProcedures();
const std::vector<SysProcEntry>& ObjectProcedures();
const std::vector<SysProcEntry>& OdbcCatalogProcedures();
const std::vector<SysProcEntry>& ServerProcedures();

// The procedure of that name, case-insensitively as Sybase finds sp_ names; none when the
// server has no such procedure.
const SysProcEntry* FindSystemProcedure(std::string_view name);

// One call: the arguments bound to the procedure's parameters, and the session's services.
class SysProcCall {
 public:
  SysProcCall(SessionImpl& session, ResultSink& sink, std::string name,
              std::vector<std::optional<std::string>> args);

  const std::string& Name() const { return name_; }
  // The argument of parameter i as text; "" when not given or NULL.
  std::string Arg(size_t i) const;
  bool Given(size_t i) const { return i < args_.size() && args_[i].has_value(); }

  sqlite3* Db() const { return session_.db_.get(); }
  const std::string& Database() const { return session_.database_; }
  const std::string& Schema() const { return schema_; }
  // The current database's schema, quoted, with its dot: the prefix of a system table.
  std::string Q() const { return storage::QuoteId(schema_) + "."; }
  SessionImpl& Session() { return session_; }
  EngineState& Engine() { return *session_.engine_; }
  int Spid() const { return session_.spid_; }
  const LoginRequest& Login() const { return session_.login_; }

  std::optional<SessionImpl::ResolvedTable> Table(const std::string& name) {
    return session_.ResolveTable(sql::ObjectName{"", "", "", name});
  }
  std::optional<catalog::ObjectRef> Object(const std::string& name) const {
    return catalog::FindObject(Db(), schema_, name);
  }
  void BeginStatement() { session_.BeginStatement(); }
  void EndStatement(bool ok) { session_.EndStatement(ok); }

  void Print(std::string text);
  // Sends message `number` and returns 1, the status a failing system procedure returns.
  int Error(int number, std::vector<std::string> args = {});
  void Rows(const std::vector<ColumnInfo>& cols, const std::vector<std::vector<Value>>& rows);
  void Query(const std::string& sql, const std::vector<ColumnInfo>& cols);
  // A catalog procedure's qualifier argument names the current database or nothing.
  bool QualifierOk(size_t i) const { return !Given(i) || Arg(i) == Database(); }

 private:
  SessionImpl& session_;
  ResultSink& sink_;
  std::string name_;
  std::vector<std::optional<std::string>> args_;
  std::string schema_;
};

// Result column descriptions the handlers share.
ColumnInfo VarcharColumn(const std::string& name, int length, bool nullable = false);
ColumnInfo CharColumn(const std::string& name, int length, bool nullable = false);
ColumnInfo IntColumn(const std::string& name, bool nullable = false);
ColumnInfo SmallintColumn(const std::string& name, bool nullable = false);
ColumnInfo TinyintColumn(const std::string& name, bool nullable = false);

// `%` and `_` patterns of the catalog procedures, as SQLite's LIKE takes them.
std::string Pattern(const std::string& arg);
std::string Lower(std::string_view s);
// The owner's name of an object's uid in the current database.
std::string OwnerName(SysProcCall& c, int64_t uid);

}  // namespace sampleserver
