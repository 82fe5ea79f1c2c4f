// exec: stored procedures and procedure groups; the system procedures the server implements
// natively are in sysprocs/.
#include "engine/messages.h"
#include "engine/session.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "sql/parser.h"

#include <algorithm>
#include <utility>

namespace sampleserver {

using storage::Exec;
using storage::QuoteId;
using storage::QuoteText;
using storage::Statement;

void SessionImpl::SendRows(ResultSink& sink, const std::vector<ColumnInfo>& cols,
                           const std::vector<std::vector<Value>>& rows) {
  sink.Columns(cols);
  for (const auto& r : rows) sink.Row(r);
  Done(sink, 0, static_cast<int32_t>(rows.size()), true);
}

void SessionImpl::SendQuery(ResultSink& sink, const std::string& sql,
                            const std::vector<ColumnInfo>& cols) {
  Statement st(db_.get(), sql);
  std::vector<std::vector<Value>> rows;
  while (st.Step()) rows.push_back(ReadRow(st, cols));
  SendRows(sink, cols, rows);
}

void SessionImpl::RunExec(const sql::ExecStmt& s, ResultSink& sink) {
  std::string name = s.procedure.object;
  if (!name.empty() && name[0] == '@') {
    auto it = variables_.find(name);
    if (it == variables_.end()) Fail(137, {name});
    if (const auto* str = std::get_if<std::string>(&it->second.value)) name = *str;
  }
  std::string db = DatabaseFor(s.procedure);
  std::string schema = SchemaOf(db);
  if (schema.empty()) Fail(911, {db});
  auto proc = catalog::FindObject(db_.get(), schema, name);
  bool system = IsSystemProcedureName(name);
  if (!proc && system) {
    // System procedures live in master.
    proc = catalog::FindObject(db_.get(), "main", name);
    if (proc) schema = "main";
  }
  if (proc && proc->type == "P") {
    RunProcedure(schema, *proc, s, sink);
    return;
  }
  if (system && RunSystemProcedure(name, s, sink)) return;
  Fail(2812, {name});
}

void SessionImpl::RunProcedure(const std::string& schema, const catalog::ObjectRef& proc,
                               const sql::ExecStmt& s, ResultSink& sink) {
  // Arguments are evaluated in the caller's context.
  std::vector<ProcArg> args;
  for (const auto& a : s.args) {
    ProcArg pa;
    pa.name = a.name;
    const auto* bare = a.value->If<sql::ColumnExpr>();
    if (bare && bare->Bare() && bare->column == "default") {
      pa.useDefault = true;
    } else if (bare && bare->Bare()) {
      pa.value = Value{bare->column};  // a bare word is passed as a string
      pa.type = *BuiltinType("varchar", 255, std::nullopt);
    } else {
      pa.value = Evaluate(*a.value, &pa.type);
      if (a.output)
        if (const auto* var = a.value->If<sql::VariableExpr>()) {
          pa.output = true;
          pa.variable = var->name;
        }
    }
    args.push_back(std::move(pa));
  }
  bool failed = false;
  int status = CallProc(schema, proc, args, sink, &failed, s.number ? s.number : 1);
  for (const auto& a : args) {
    if (!a.returned || a.variable.empty()) continue;
    auto it = variables_.find(a.variable);
    if (it != variables_.end()) it->second.value = ToValue(a.value, a.type, it->second.type, true);
  }
  if (!s.returnVariable.empty()) {
    auto it = variables_.find(s.returnVariable);
    if (it == variables_.end()) Fail(137, {s.returnVariable});
    it->second.value =
        ToValue(Value{int64_t{status}}, *BuiltinType("int", std::nullopt, std::nullopt),
                it->second.type, true);
  }
  // Only the client's own call reports a status and outputs; nested calls return them to
  // their caller alone, as a server does.
  if (nestlevel_ == 0) {
    sink.ReturnStatus(status);
    SendOutputs(args, sink);
  }
  Done(sink, failed ? kDoneError : 0, 0, false);
}

int SessionImpl::CallProc(const std::string& schema, const catalog::ObjectRef& proc,
                          std::vector<ProcArg>& args, ResultSink& sink, bool* failed, int number) {
  if (nestlevel_ >= 16) {
    nestingExceeded_ = true;
    Fail(217, {"16"}, true);
  }
  std::string text;
  {
    // A group's members share the object; each keeps its text under its number.
    Statement st(db_.get(), "SELECT text FROM " + QuoteId(schema) +
                                ".syscomments WHERE id = ? AND number = ? ORDER BY colid2, colid");
    st.Bind(1, proc.id).Bind(2, int64_t{number});
    while (st.Step()) text += st.Text(0);
  }
  if (text.empty()) Fail(2812, {proc.name + ";" + std::to_string(number)});
  sql::ParseOptions po;
  po.quotedIdentifier = options_.quotedIdentifier;
  auto parsed = sql::Parse(text, po);
  if (!parsed.ok() || parsed.statements.empty()) Fail(2812, {proc.name});
  const auto* def = parsed.statements[0]->If<sql::CreateProcedureStmt>();
  if (!def) Fail(2812, {proc.name});

  // Named arguments go to their parameter, the others by position.
  std::vector<ProcArg*> argOf(def->params.size(), nullptr);
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].name.empty()) {
      if (i < argOf.size() && !argOf[i]) argOf[i] = &args[i];
      continue;
    }
    for (size_t k = 0; k < def->params.size(); ++k)
      if (def->params[k].name == args[i].name) argOf[k] = &args[i];
  }
  std::map<std::string, Variable> frame;
  for (size_t i = 0; i < def->params.size(); ++i) {
    const auto& p = def->params[i];
    auto ty = ResolveType(p.type);
    if (!ty) Fail(2715, {p.type.name});
    ProcArg* arg = argOf[i];
    Variable v{*ty, std::monostate{}};
    if (!arg || arg->useDefault) {
      if (!p.defaultValue) Fail(201, {proc.name, p.name});
      v.value = EvaluateAs(*p.defaultValue, *ty);
    } else {
      v.value = ToValue(arg->value, arg->type, *ty, true);
    }
    frame[p.name] = std::move(v);
  }
  std::swap(frame, variables_);
  std::string savedText = batchText_;
  std::string savedDb = database_;
  // Names in the body resolve in the procedure's own database, wherever it is called from; the
  // system procedures of master run in the caller's.
  if (schema != "main") database_ = schema;
  batchText_ = text;
  const std::string savedProcedure = std::exchange(currentProcedure_, proc.name);
  ++nestlevel_;
  returnStatus_ = 0;
  returnGiven_ = false;
  int errorsBefore = errorsRaised_;
  int trancountBefore = trancount_;
  try {
    RunList(def->body, sink);
  } catch (...) {
    --nestlevel_;
    std::swap(frame, variables_);
    batchText_ = savedText;
    currentProcedure_ = savedProcedure;
    database_ = savedDb;
    throw;
  }
  // Without a return value of its own a procedure reports 0, or -6 (a user error) when its
  // statements failed; then its end carries the error bit too. A nested call's status is not
  // its caller's.
  bool hadErrors = errorsRaised_ != errorsBefore;
  int status = returnGiven_ ? returnStatus_ : hadErrors ? -6 : 0;
  if (failed) *failed = hadErrors;
  returnGiven_ = false;
  --nestlevel_;
  std::swap(frame, variables_);
  batchText_ = savedText;
  currentProcedure_ = savedProcedure;
  database_ = savedDb;
  // A trigger that rolled the transaction back ends the caller's batch as well.
  batchAborted_ = triggerAborted_ || nestingExceeded_;
  for (size_t i = 0; i < def->params.size(); ++i) {
    ProcArg* arg = argOf[i];
    if (!arg || !arg->output || !def->params[i].output) continue;
    const Variable& v = frame[def->params[i].name];
    arg->returned = true;
    arg->value = v.value;
    arg->type = v.type;
    arg->paramName = def->params[i].name;
  }
  if (trancount_ != trancountBefore)
    Send(sink, Msg(266, {std::to_string(trancountBefore), std::to_string(trancount_)}));
  return status;
}

void SessionImpl::SendOutputs(const std::vector<ProcArg>& args, ResultSink& sink) {
  std::vector<ColumnInfo> formats;
  std::vector<Value> values;
  for (const auto& a : args) {
    if (!a.returned) continue;
    formats.push_back(MakeColumnInfo(a.name.empty() ? a.paramName : a.name, a.type, true));
    values.push_back(a.value);
  }
  if (!formats.empty()) sink.OutputParams(formats, values);
}

}  // namespace sampleserver
