// The table of system procedures, the binding of a call's arguments to their parameters, and
// the services every handler uses.
#include "engine/messages.h"
#include "engine/sysprocs/sysprocs.h"
#include "engine/values.h"

#include <algorithm>
#include <map>

namespace sampleserver {

using storage::Statement;

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return out;
}

bool IsSystemProcedureName(std::string_view name) {
  return name.size() >= 3 && Lower(name.substr(0, 3)) == "sp_";
}

const SysProcEntry* FindSystemProcedure(std::string_view name) {
  static const std::map<std::string, const SysProcEntry*> table = [] {
    std::map<std::string, const SysProcEntry*> m;
    for (const auto* theme : {&SecurityProcedures(), &ObjectProcedures(), &OdbcCatalogProcedures(),
                              &ServerProcedures()})
      for (const auto& e : *theme) m[Lower(e.name)] = &e;
    return m;
  }();
  auto it = table.find(Lower(name));
  return it == table.end() ? nullptr : it->second;
}

SysProcCall::SysProcCall(SessionImpl& session, ResultSink& sink, std::string name,
                         std::vector<std::optional<std::string>> args)
    : session_(session),
      sink_(sink),
      name_(std::move(name)),
      args_(std::move(args)),
      schema_(session.SchemaOf(session.database_)) {}

std::string SysProcCall::Arg(size_t i) const {
  return i < args_.size() && args_[i] ? *args_[i] : std::string();
}

void SysProcCall::Print(std::string text) {
  session_.Send(sink_, MakePrintMessage(std::move(text)));
}

int SysProcCall::Error(int number, std::vector<std::string> args) {
  session_.Send(sink_, session_.Msg(number, std::move(args)));
  return 1;
}

void SysProcCall::Rows(const std::vector<ColumnInfo>& cols,
                       const std::vector<std::vector<Value>>& rows) {
  session_.SendRows(sink_, cols, rows);
}

void SysProcCall::Query(const std::string& sql, const std::vector<ColumnInfo>& cols) {
  session_.SendQuery(sink_, sql, cols);
}

ColumnInfo VarcharColumn(const std::string& name, int length, bool nullable) {
  return MakeColumnInfo(name, *BuiltinType("varchar", length, std::nullopt), nullable);
}
ColumnInfo CharColumn(const std::string& name, int length, bool nullable) {
  return MakeColumnInfo(name, *BuiltinType("char", length, std::nullopt), nullable);
}
ColumnInfo IntColumn(const std::string& name, bool nullable) {
  return MakeColumnInfo(name, *BuiltinType("int", std::nullopt, std::nullopt), nullable);
}
ColumnInfo SmallintColumn(const std::string& name, bool nullable) {
  return MakeColumnInfo(name, *BuiltinType("smallint", std::nullopt, std::nullopt), nullable);
}
ColumnInfo TinyintColumn(const std::string& name, bool nullable) {
  return MakeColumnInfo(name, *BuiltinType("tinyint", std::nullopt, std::nullopt), nullable);
}

std::string Pattern(const std::string& arg) { return arg.empty() ? "%" : arg; }

std::string OwnerName(SysProcCall& c, int64_t uid) {
  Statement st(c.Db(), "SELECT name FROM " + c.Q() + "sysusers WHERE uid = ?");
  st.Bind(1, uid);
  return st.Step() ? st.Text(0) : std::string("dbo");
}

std::vector<std::optional<std::string>> SessionImpl::ExecArgs(
    const sql::ExecStmt& s, const std::vector<const char*>& params) {
  std::vector<std::optional<std::string>> out(std::max(params.size(), s.args.size()));
  for (size_t i = 0; i < s.args.size(); ++i) {
    const auto& a = s.args[i];
    size_t slot = i;
    if (!a.name.empty()) {
      // A named argument goes to its parameter; one the procedure lacks is ignored, as a
      // stored procedure ignores it.
      auto it = std::find_if(params.begin(), params.end(),
                             [&](const char* p) { return Lower(p) == Lower(a.name); });
      if (it == params.end()) continue;
      slot = static_cast<size_t>(it - params.begin());
    }
    std::optional<std::string> text;
    if (const auto* c = a.value->If<sql::ColumnExpr>(); c && c->Bare()) {
      if (c->column != "default") text = c->column;  // a bare word is passed as a string
    } else {
      TypeDesc t;
      Value v = Evaluate(*a.value, &t);
      if (const auto* str = std::get_if<std::string>(&v))
        text = *str;
      else if (!IsNull(v))
        text = FormatValue(v, t.type, -1, t.scale);
    }
    out[slot] = std::move(text);
  }
  return out;
}

bool SessionImpl::RunSystemProcedure(const std::string& name, const sql::ExecStmt& s,
                                     ResultSink& sink) {
  const SysProcEntry* entry = FindSystemProcedure(name);
  if (!entry) return false;
  SysProcCall call(*this, sink, Lower(name), ExecArgs(s, entry->params));
  int status = entry->handler(call);
  if (nestlevel_ == 0) sink.ReturnStatus(status);
  if (!s.returnVariable.empty()) {
    auto it = variables_.find(s.returnVariable);
    if (it != variables_.end())
      it->second.value =
          ToValue(Value{int64_t{status}}, *BuiltinType("int", std::nullopt, std::nullopt),
                  it->second.type, true);
  }
  Done(sink, 0, 0, false);
  return true;
}

}  // namespace sampleserver
