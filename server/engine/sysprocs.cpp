// exec: stored procedures and the system procedures the server implements natively.
#include "engine/messages.h"
#include "engine/session.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "sql/parser.h"

#include <algorithm>
#include <filesystem>

namespace sampleserver {

using storage::Exec;
using storage::QuoteId;
using storage::QuoteText;
using storage::Statement;

namespace {

ColumnInfo VarcharColumn(const std::string& name, int length, bool nullable = false) {
  return MakeColumnInfo(name, *BuiltinType("varchar", length, std::nullopt), nullable);
}
ColumnInfo IntColumn(const std::string& name, bool nullable = false) {
  return MakeColumnInfo(name, *BuiltinType("int", std::nullopt, std::nullopt), nullable);
}

}  // namespace

std::vector<std::string> SessionImpl::ExecArgs(const sql::ExecStmt& s) {
  std::vector<std::string> out;
  for (const auto& a : s.args) {
    if (const auto* c = a.value->If<sql::ColumnExpr>(); c && c->Bare()) {
      out.push_back(c->column);  // a bare word is passed as a string
      continue;
    }
    TypeDesc t;
    Value v = Evaluate(*a.value, &t);
    if (IsNull(v)) out.push_back("");
    else if (const auto* str = std::get_if<std::string>(&v)) out.push_back(*str);
    else out.push_back(FormatValue(v, t.type, -1, t.scale));
  }
  return out;
}

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
  if (!proc && name.rfind("sp_", 0) == 0) {
    // System procedures live in master.
    proc = catalog::FindObject(db_.get(), "main", name);
    if (proc) schema = "main";
  }
  if (proc && proc->type == "P") {
    RunProcedure(schema, *proc, s, sink);
    return;
  }
  if (name.rfind("sp_", 0) == 0 && RunSystemProcedure(name, s, sink)) return;
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
  int status = CallProc(schema, proc, args, sink, &failed);
  for (const auto& a : args) {
    if (!a.returned || a.variable.empty()) continue;
    auto it = variables_.find(a.variable);
    if (it != variables_.end()) it->second.value = ToValue(a.value, a.type, it->second.type, true);
  }
  if (!s.returnVariable.empty()) {
    auto it = variables_.find(s.returnVariable);
    if (it == variables_.end()) Fail(137, {s.returnVariable});
    it->second.value = ToValue(Value{int64_t{status}}, *BuiltinType("int", std::nullopt, std::nullopt),
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
                          std::vector<ProcArg>& args, ResultSink& sink, bool* failed) {
  if (nestlevel_ >= 16) Fail(217, {"16"});
  std::string text;
  {
    Statement st(db_.get(), "SELECT text FROM " + QuoteId(schema) +
                                ".syscomments WHERE id = ? ORDER BY colid2, colid");
    st.Bind(1, proc.id);
    while (st.Step()) text += st.Text(0);
  }
  sql::ParseOptions po;
  po.quotedIdentifier = options_.quotedIdentifier;
  auto parsed = sql::Parse(text, po);
  if (!parsed.ok() || parsed.statements.empty())
    Fail(2812, {proc.name});
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
  batchText_ = text;
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
  database_ = savedDb;
  // A trigger that rolled the transaction back ends the caller's batch as well.
  batchAborted_ = triggerAborted_;
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

bool SessionImpl::RunSystemProcedure(const std::string& name, const sql::ExecStmt& s,
                                     ResultSink& sink) {
  std::vector<std::string> a = ExecArgs(s);
  auto arg = [&](size_t i) { return i < a.size() ? a[i] : std::string(); };
  std::string schema = SchemaOf(database_);
  std::string Q = QuoteId(schema) + ".";
  auto finish = [&](int status) {
    if (nestlevel_ == 0) sink.ReturnStatus(status);
    Done(sink, 0, 0, false);
    return true;
  };
  auto fail = [&](int number, std::vector<std::string> args) {
    Send(sink, Msg(number, std::move(args)));
    if (nestlevel_ == 0) sink.ReturnStatus(1);
    Done(sink, 0, 0, false);
    return true;
  };

  if (name == "sp_addtype") {
    // sp_addtype name, 'type(len)', 'null' | 'not null' | 'identity'
    if (a.size() < 2) return fail(17000, {"sp_addtype"});
    auto parsed = sql::Parse("declare @x " + arg(1));
    if (!parsed.ok() || parsed.statements.empty()) return fail(17000, {arg(1)});
    const auto& decl = parsed.statements[0]->As<sql::DeclareStmt>();
    auto ty = BuiltinType(decl.variables[0].type.name,
                          decl.variables[0].type.length ? decl.variables[0].type.length
                                                        : decl.variables[0].type.precision,
                          decl.variables[0].type.scale);
    if (!ty) return fail(17000, {arg(1)});
    if (catalog::FindUserType(db_.get(), schema, arg(0))) return fail(17001, {arg(0)});
    std::string nulls = arg(2);
    std::transform(nulls.begin(), nulls.end(), nulls.begin(), ::tolower);
    bool allow = nulls == "null" || nulls == "nulls";
    BeginStatement();
    auto next = storage::QueryInt(db_.get(), "SELECT max(usertype) FROM " + Q + "systypes");
    int64_t ut = std::max<int64_t>(100, next.value_or(0)) + 1;
    Statement st(db_.get(), "INSERT INTO " + Q + "systypes (uid, usertype, variable, allownulls,"
                            " type, length, tdefault, domain, name, prec, scale, ident, hierarchy)"
                            " VALUES (1, ?, ?, ?, ?, ?, 0, 0, ?, ?, ?, ?, 0)");
    st.Bind(1, ut).Bind(2, int64_t{ty->type == SqlType::VarChar || ty->type == SqlType::VarBinary})
        .Bind(3, int64_t{allow}).Bind(4, int64_t{PhysicalType(*ty, allow)})
        .Bind(5, int64_t{ty->length}).Bind(6, std::string_view(arg(0)));
    if (ty->IsExactNumeric()) st.Bind(7, int64_t{ty->precision}).Bind(8, int64_t{ty->scale});
    else st.BindNull(7).BindNull(8);
    st.Bind(9, int64_t{nulls == "identity"});
    st.Step();
    EndStatement(true);
    Send(sink, MakePrintMessage("Type added."));
    return finish(0);
  }
  if (name == "sp_droptype") {
    auto u = catalog::FindUserType(db_.get(), schema, arg(0));
    if (!u) return fail(17000, {arg(0)});
    Statement st(db_.get(), "DELETE FROM " + Q + "systypes WHERE name = ? COLLATE BINARY AND usertype >= 100");
    st.Bind(1, std::string_view(arg(0)));
    st.Step();
    Send(sink, MakePrintMessage("Type has been dropped."));
    return finish(0);
  }
  if (name == "sp_addlogin") {
    // sp_addlogin name, password [, defdb [, language [, fullname]]]
    if (arg(0).empty()) return fail(17000, {"sp_addlogin"});
    Statement chk(db_.get(), "SELECT 1 FROM main.syslogins WHERE name = ? COLLATE BINARY");
    chk.Bind(1, std::string_view(arg(0)));
    if (chk.Step()) return fail(17262, {arg(0)});
    auto suid = storage::QueryInt(db_.get(), "SELECT max(suid) FROM main.syslogins").value_or(1) + 1;
    Statement st(db_.get(), "INSERT INTO main.syslogins (suid, status, accdate, dbname, name,"
                            " password, language, pwdate, fullname) VALUES (?, 0, ?, ?, ?, ?, ?, ?, ?)");
    std::string now = catalog::NowText();
    std::string pw = arg(1);
    st.Bind(1, suid).Bind(2, std::string_view(now))
        .Bind(3, std::string_view(arg(2).empty() ? "master" : arg(2))).Bind(4, std::string_view(arg(0)))
        .BindBlob(5, std::vector<uint8_t>(pw.begin(), pw.end()))
        .Bind(6, std::string_view(arg(3).empty() ? "us_english" : arg(3)))
        .Bind(7, std::string_view(now)).Bind(8, std::string_view(arg(4)));
    st.Step();
    Send(sink, MakePrintMessage("Password correctly set."));
    Send(sink, MakePrintMessage("Account unlocked."));
    Send(sink, MakePrintMessage("New login created."));
    return finish(0);
  }
  if (name == "sp_addgroup") {
    Statement chk(db_.get(), "SELECT 1 FROM " + Q + "sysusers WHERE name = ? COLLATE BINARY");
    chk.Bind(1, std::string_view(arg(0)));
    if (chk.Step()) return fail(15023, {arg(0)});
    auto uid = storage::QueryInt(db_.get(), "SELECT max(uid) FROM " + Q + "sysusers WHERE uid >= 16390");
    int64_t next = uid ? *uid + 1 : 16390;
    Statement st(db_.get(), "INSERT INTO " + Q + "sysusers (suid, uid, gid, name) VALUES (-2, ?, ?, ?)");
    st.Bind(1, next).Bind(2, next).Bind(3, std::string_view(arg(0)));
    st.Step();
    Send(sink, MakePrintMessage("New group added."));
    return finish(0);
  }
  if (name == "sp_adduser") {
    // sp_adduser login [, name_in_db [, group]]; guest needs no login.
    if (arg(0) == "guest") {
      Statement chk(db_.get(), "SELECT 1 FROM " + Q + "sysusers WHERE name = 'guest'");
      if (chk.Step()) return fail(15023, {"guest"});
      Exec(db_.get(), "INSERT INTO " + Q + "sysusers (suid, uid, gid, name) VALUES (-1, 2, 0, 'guest')");
      Send(sink, MakePrintMessage("New user added."));
      return finish(0);
    }
    Statement lg(db_.get(), "SELECT suid FROM main.syslogins WHERE name = ? COLLATE BINARY");
    lg.Bind(1, std::string_view(arg(0)));
    if (!lg.Step()) return fail(17231, {arg(0)});
    int64_t suid = lg.Int(0);
    std::string uname = arg(1).empty() ? arg(0) : arg(1);
    int64_t gid = 0;
    if (!arg(2).empty()) {
      Statement g(db_.get(), "SELECT uid FROM " + Q + "sysusers WHERE name = ? COLLATE BINARY AND uid = gid");
      g.Bind(1, std::string_view(arg(2)));
      if (!g.Step()) return fail(15013, {arg(2)});
      gid = g.Int(0);
    }
    Statement chk(db_.get(), "SELECT 1 FROM " + Q + "sysusers WHERE name = ? COLLATE BINARY OR suid = ?");
    chk.Bind(1, std::string_view(uname)).Bind(2, suid);
    if (chk.Step()) return fail(15023, {uname});
    auto uid = storage::QueryInt(db_.get(), "SELECT max(uid) FROM " + Q + "sysusers WHERE uid < 16384");
    Statement st(db_.get(), "INSERT INTO " + Q + "sysusers (suid, uid, gid, name) VALUES (?, ?, ?, ?)");
    st.Bind(1, suid).Bind(2, std::max<int64_t>(3, uid.value_or(2) + 1)).Bind(3, gid)
        .Bind(4, std::string_view(uname));
    st.Step();
    Send(sink, MakePrintMessage("New user added."));
    return finish(0);
  }
  if (name == "sp_changegroup") {
    // sp_changegroup group, user
    int64_t gid = 0;
    if (arg(0) != "public") {
      Statement g(db_.get(), "SELECT uid FROM " + Q + "sysusers WHERE name = ? COLLATE BINARY AND uid = gid");
      g.Bind(1, std::string_view(arg(0)));
      if (!g.Step()) return fail(15013, {arg(0)});
      gid = g.Int(0);
    }
    Statement st(db_.get(), "UPDATE " + Q + "sysusers SET gid = ? WHERE name = ? COLLATE BINARY AND uid <> gid");
    st.Bind(1, gid).Bind(2, std::string_view(arg(1)));
    st.Step();
    if (sqlite3_changes(db_.get()) == 0) return fail(15008, {arg(1)});
    Send(sink, MakePrintMessage("Group changed."));
    return finish(0);
  }
  if (name == "sp_bindrule" || name == "sp_binddefault" || name == "sp_unbindrule" ||
      name == "sp_unbinddefault") {
    bool bind = name == "sp_bindrule" || name == "sp_binddefault";
    bool rule = name == "sp_bindrule" || name == "sp_unbindrule";
    // bind: object, 'table.column' or a user type; unbind: 'table.column' or a user type.
    std::string objName = bind ? arg(0) : "";
    std::string target = bind ? arg(1) : arg(0);
    int64_t objId = 0;
    if (bind) {
      auto obj = catalog::FindObject(db_.get(), schema, objName);
      if (!obj || obj->type != (rule ? "R" : "D")) return fail(15016, {objName});
      objId = obj->id;
    }
    const char* col = rule ? "domain" : "cdefault";
    auto dot = target.find('.');
    if (dot != std::string::npos) {
      std::string table = target.substr(0, dot), column = target.substr(dot + 1);
      auto t = catalog::FindObject(db_.get(), schema, table);
      if (!t || t->type != "U") return fail(15104, {table});
      Statement st(db_.get(), "UPDATE " + Q + "syscolumns SET " + col +
                                  " = ? WHERE id = ? AND name = ? COLLATE BINARY");
      st.Bind(1, objId).Bind(2, t->id).Bind(3, std::string_view(column));
      st.Step();
      if (sqlite3_changes(db_.get()) == 0) return fail(15104, {target});
    } else {
      const char* tcol = rule ? "domain" : "tdefault";
      Statement st(db_.get(), "UPDATE " + Q + "systypes SET " + tcol +
                                  " = ? WHERE name = ? COLLATE BINARY AND usertype >= 100");
      st.Bind(1, objId).Bind(2, std::string_view(target));
      st.Step();
      if (sqlite3_changes(db_.get()) == 0) return fail(15104, {target});
      // Columns of that type follow their type.
      Statement c(db_.get(), "UPDATE " + Q + "syscolumns SET " + col + " = ? WHERE usertype ="
                                 " (SELECT usertype FROM " + Q + "systypes WHERE name = ? COLLATE BINARY)");
      c.Bind(1, objId).Bind(2, std::string_view(target));
      c.Step();
    }
    Send(sink, MakePrintMessage(bind ? (rule ? "Rule bound to table column."
                                             : "Default bound to column.")
                                     : (rule ? "Rule unbound from table column."
                                             : "Default unbound from table column.")));
    return finish(0);
  }
  if (name == "sp_helptext") {
    auto obj = catalog::FindObject(db_.get(), schema, arg(0));
    if (!obj) return fail(15009, {arg(0), database_});
    auto n = storage::QueryInt(db_.get(), "SELECT count(*) FROM " + Q + "syscomments WHERE id = " +
                                              std::to_string(obj->id));
    SendRows(sink, {IntColumn("# Lines of Text")}, {{Value{n.value_or(0)}}});
    SendQuery(sink, "SELECT text FROM " + Q + "syscomments WHERE id = " + std::to_string(obj->id) +
                        " ORDER BY colid2, colid",
              {VarcharColumn("text", 255, true)});
    return finish(0);
  }
  if (name == "sp_helpindex") {
    auto t = ResolveTable(sql::ObjectName{"", "", "", arg(0)});
    if (!t) return fail(15009, {arg(0), database_});
    if (t->meta.indexes.empty()) {
      Send(sink, MakePrintMessage("Object does not have any indexes."));
      return finish(0);
    }
    std::vector<std::vector<Value>> rows;
    for (const auto& ix : t->meta.indexes) {
      std::string keys;
      for (int colid : ix.keys)
        for (const auto& c : t->meta.columns)
          if (c.colid == colid) keys += (keys.empty() ? "" : ", ") + c.name;
      std::string desc = std::string((ix.status & catalog::kIndexClustered) ? "clustered"
                                                                            : "nonclustered") +
                         ((ix.status & catalog::kIndexUnique) ? ", unique" : "") +
                         " located on default";
      rows.push_back({Value{ix.name}, Value{keys}, Value{desc}, Value{int64_t{0}},
                      Value{int64_t{0}}, Value{int64_t{0}}});
    }
    SendRows(sink, {VarcharColumn("index_name", 30), VarcharColumn("index_keys", 255),
                    VarcharColumn("index_description", 68), IntColumn("index_max_rows_per_page"),
                    IntColumn("index_fillfactor"), IntColumn("index_reservepagegap")},
             rows);
    return finish(0);
  }
  if (name == "sp_help") {
    if (a.empty()) {
      SendQuery(sink,
                "SELECT o.name, u.name, CASE trim(o.type) WHEN 'U' THEN 'user table' WHEN 'S'"
                " THEN 'system table' WHEN 'V' THEN 'view' WHEN 'P' THEN 'stored procedure'"
                " WHEN 'TR' THEN 'trigger' WHEN 'D' THEN 'default' WHEN 'R' THEN 'rule'"
                " ELSE 'other' END FROM " + Q + "sysobjects o LEFT JOIN " + Q +
                    "sysusers u ON u.uid = o.uid ORDER BY o.name",
                {VarcharColumn("Name", 30), VarcharColumn("Owner", 30, true),
                 VarcharColumn("Object_type", 22)});
      return finish(0);
    }
    auto obj = catalog::FindObject(db_.get(), schema, arg(0));
    auto t = ResolveTable(sql::ObjectName{"", "", "", arg(0)});
    if (!obj && !t) return fail(17460, {arg(0)});
    std::string type = t ? (t->meta.type == "V" ? "view" : t->meta.type == "S" ? "system table" : "user table")
                         : obj->type == "P" ? "stored procedure" : obj->type == "TR" ? "trigger"
                         : obj->type == "D" ? "default" : obj->type == "R" ? "rule" : "other";
    SendRows(sink, {VarcharColumn("Name", 30), VarcharColumn("Owner", 30), VarcharColumn("Object_type", 22)},
             {{Value{arg(0)}, Value{std::string("dbo")}, Value{type}}});
    if (t) {
      std::vector<std::vector<Value>> rows;
      for (const auto& c : t->meta.columns) {
        Value prec = std::monostate{}, scale = std::monostate{};
        if (c.type.IsExactNumeric()) {
          prec = int64_t{c.type.precision};
          scale = int64_t{c.type.scale};
        }
        // The names of the default and rule bound to the column, as sysobjects holds them.
        auto objectName = [&](int64_t id) -> Value {
          if (id == 0) return std::monostate{};
          auto n = storage::QueryText(db_.get(), "SELECT name FROM " + Q + "sysobjects WHERE id = " +
                                                     std::to_string(id));
          return n ? Value{*n} : Value{std::monostate{}};
        };
        rows.push_back({Value{c.name}, Value{TypeName(c.type)}, Value{int64_t{c.type.length}}, prec,
                        scale, Value{int64_t{c.nullable}}, objectName(c.cdefault),
                        objectName(c.domain), Value{int64_t{c.identity}}});
      }
      SendRows(sink, {VarcharColumn("Column_name", 30), VarcharColumn("Type", 30), IntColumn("Length"),
                      IntColumn("Prec", true), IntColumn("Scale", true), IntColumn("Nulls"),
                      VarcharColumn("Default_name", 30, true), VarcharColumn("Rule_name", 30, true),
                      IntColumn("Identity")},
               rows);
      if (t->meta.indexes.empty()) Send(sink, MakePrintMessage("Object does not have any indexes."));
    }
    return finish(0);
  }
  if (name == "sp_who") {
    std::vector<std::vector<Value>> rows;
    rows.push_back({Value{int64_t{0}}, Value{int64_t{spid_}}, Value{std::string("running")},
                    Value{login_.user}, Value{login_.user}, Value{login_.host},
                    Value{int64_t{0}}, Value{database_}, Value{std::string("SELECT")},
                    Value{int64_t{0}}});
    SendRows(sink, {IntColumn("fid"), IntColumn("spid"), VarcharColumn("status", 12),
                    VarcharColumn("loginame", 30), VarcharColumn("origname", 30),
                    VarcharColumn("hostname", 30), IntColumn("blk_spid"), VarcharColumn("dbname", 30),
                    VarcharColumn("cmd", 30), IntColumn("block_xloid")},
             rows);
    return finish(0);
  }
  if (name == "sp_databases") {
    // The ODBC catalog procedure: each database with its size in kilobytes.
    std::vector<std::vector<Value>> rows;
    Statement st(db_.get(), "SELECT name FROM main.sysdatabases ORDER BY name");
    while (st.Step()) {
      std::string db = st.Text(0);
      std::error_code ec;
      auto bytes = std::filesystem::file_size(engine_->PathOf(db), ec);
      int64_t kb = ec ? 0 : static_cast<int64_t>(bytes / 1024);
      rows.push_back({Value{db}, Value{kb}, Value{}});
    }
    SendRows(sink, {VarcharColumn("database_name", 30), IntColumn("database_size"),
                    VarcharColumn("remarks", 254, true)},
             rows);
    return finish(0);
  }
  if (name == "sp_dboption" || name == "sp_configure" || name == "sp_addserver" ||
      name == "sp_password" || name == "sp_defaultdb") {
    if (name == "sp_defaultdb") {
      Statement st(db_.get(), "UPDATE main.syslogins SET dbname = ? WHERE name = ? COLLATE BINARY");
      st.Bind(1, std::string_view(arg(1))).Bind(2, std::string_view(arg(0)));
      st.Step();
    }
    return finish(0);
  }
  return false;
}

}  // namespace sampleserver
