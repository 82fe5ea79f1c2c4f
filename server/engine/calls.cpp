// Requests that carry typed parameters: RPCs, language commands with parameters and prepared
// statements.
#include "engine/messages.h"
#include "engine/session.h"
#include "engine/values.h"
#include "sql/lexer.h"
#include "sql/parser.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace sampleserver {

namespace {

constexpr int kMsgProcNotFound = 2812;
// This server's generic number for a failure with no message of its own.
constexpr int kMsgGeneric = 7;

void Refuse(ResultSink& sink, int number, std::string text) {
  ServerMessage m;
  m.number = number;
  m.severity = 16;
  m.text = std::move(text);
  sink.Message(m);
}

// The declared type of a client's parameter as the engine keeps types.
TypeDesc TypeOfParam(const ColumnInfo& c) {
  auto builtin = [](const char* name, std::optional<int> a1 = std::nullopt,
                    std::optional<int> a2 = std::nullopt) { return *BuiltinType(name, a1, a2); };
  switch (c.type) {
    case SqlType::TinyInt: return builtin("tinyint");
    case SqlType::SmallInt: return builtin("smallint");
    case SqlType::Int: return builtin("int");
    case SqlType::BigInt: return builtin("bigint");
    case SqlType::Bit: return builtin("bit");
    case SqlType::Numeric: return builtin("numeric", c.precision, c.scale);
    case SqlType::Decimal: return builtin("decimal", c.precision, c.scale);
    case SqlType::Float: return builtin("float");
    case SqlType::Real: return builtin("real");
    case SqlType::Money: return builtin("money");
    case SqlType::SmallMoney: return builtin("smallmoney");
    case SqlType::DateTime: return builtin("datetime");
    case SqlType::SmallDateTime: return builtin("smalldatetime");
    // A client's char value is a string of its own length, not blank-padded to the buffer's
    // size; long strings outgrow varchar and are kept as text and image.
    case SqlType::Char: return c.length > 16384 ? builtin("text") : builtin("varchar", c.length);
    case SqlType::VarChar: return c.length > 16384 ? builtin("text") : builtin("varchar", c.length);
    case SqlType::Text: return builtin("text");
    case SqlType::Binary: return c.length > 16384 ? builtin("image") : builtin("binary", c.length);
    case SqlType::VarBinary:
      return c.length > 16384 ? builtin("image") : builtin("varbinary", c.length);
    case SqlType::Image: return builtin("image");
    case SqlType::UnsignedSmallInt: return builtin("unsigned smallint");
    case SqlType::UnsignedInt: return builtin("unsigned int");
    case SqlType::UnsignedBigInt: return builtin("unsigned bigint");
    case SqlType::Date: return builtin("date");
    case SqlType::Time: return builtin("time");
  }
  return builtin("int");
}

// A Transact-SQL literal for a system procedure's argument.
std::string ArgumentLiteral(const ParamValue& p) {
  if (IsNull(p.value)) return "null";
  if (const auto* s = std::get_if<std::string>(&p.value)) {
    std::string out = "'";
    for (char c : *s) {
      if (c == '\'') out += '\'';
      out += c;
    }
    return out + "'";
  }
  if (const auto* b = std::get_if<Bytes>(&p.value)) return "0x" + BytesToHex(*b);
  if (std::holds_alternative<DateTimeValue>(p.value))
    return "'" + FormatValue(p.value, p.type.type, 109) + "'";
  return FormatValue(p.value, p.type.type, -1, p.type.scale);
}

// Refuses a float parameter that is not a finite number (NaN, infinities): no statement can
// hold one, and Sybase's float values never are. Throws the conversion's overflow error.
void CheckParamValues(const std::vector<ParamValue>& params) {
  for (const auto& p : params) {
    const auto* d = std::get_if<double>(&p.value);
    if (!d || std::isfinite(*d)) continue;
    ConvertOptions options;
    options.implicit = true;
    options.from = p.type.type == SqlType::Real ? SqlType::Real : SqlType::Float;
    Convert(p.value, TypeSpec{*options.from, 8}, options);
  }
}

// The statement with a `create proc <id> as ` prefix removed: a client that believes it may
// wrap prepared statements sends them so.
std::string_view StripCreateProc(std::string_view text) {
  size_t i = 0;
  auto skipSpace = [&] {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  };
  auto word = [&](std::string_view w) {
    skipSpace();
    if (text.size() - i < w.size()) return false;
    for (size_t k = 0; k < w.size(); ++k)
      if (std::tolower(static_cast<unsigned char>(text[i + k])) != w[k]) return false;
    size_t end = i + w.size();
    if (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) return false;
    i = end;
    return true;
  };
  if (!word("create") || !(word("proc") || word("procedure"))) return text;
  skipSpace();
  while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (!word("as")) return text;
  skipSpace();
  return text.substr(i);
}

// Renames each `?` outside strings and comments to @P1, @P2...; counts them.
std::string NumberPlaceholders(std::string_view text, size_t* count) {
  std::string out;
  out.reserve(text.size() + 16);
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\'' || c == '"') {
      size_t j = i + 1;
      while (j < text.size()) {
        if (text[j] == c) {
          if (j + 1 < text.size() && text[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      size_t end = std::min(j + 1, text.size());
      out.append(text.substr(i, end - i));
      i = end - 1;
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      size_t j = text.find('\n', i);
      if (j == std::string_view::npos) j = text.size();
      out.append(text.substr(i, j - i));
      i = j - 1;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      size_t j = text.find("*/", i + 2);
      j = j == std::string_view::npos ? text.size() : j + 2;
      out.append(text.substr(i, j - i));
      i = j - 1;
    } else if (c == '?') {
      out += "@P" + std::to_string(++n);
      // Keep the next token apart: "?and" would otherwise read as one variable name.
      if (i + 1 < text.size() && (std::isalnum(static_cast<unsigned char>(text[i + 1])) ||
                                  text[i + 1] == '_' || text[i + 1] == '@'))
        out += ' ';
    } else {
      out += c;
    }
  }
  *count = n;
  return out;
}

}  // namespace

// An engine without procedures or prepared statements refuses them.
void Session::CallProcedure(const std::string& name, const std::vector<ParamValue>&,
                            ResultSink& sink) {
  Refuse(sink, kMsgProcNotFound, "Stored procedure '" + name + "' not found.");
  sink.Done(kDoneError, 0, false);
}
void Session::ExecuteWithParams(std::string_view, const std::vector<ParamValue>&,
                                ResultSink& sink) {
  Refuse(sink, kMsgGeneric, "Parameters on language commands are not supported.");
  sink.Done(kDoneError, 0, false);
}
bool Session::Prepare(const std::string&, std::string_view, PreparedInfo*, ResultSink& sink) {
  Refuse(sink, kMsgGeneric, "Dynamic SQL is not supported by this server.");
  return false;
}
void Session::ExecutePrepared(const std::string&, const std::vector<ParamValue>&,
                              ResultSink& sink) {
  Refuse(sink, kMsgGeneric, "Dynamic SQL is not supported by this server.");
  sink.Done(kDoneError, 0, false);
}
bool Session::Deallocate(const std::string&, ResultSink& sink) {
  Refuse(sink, kMsgGeneric, "Dynamic SQL is not supported by this server.");
  return false;
}

void SessionImpl::CallProcedure(const std::string& name, const std::vector<ParamValue>& params,
                                ResultSink& sink) {
  Busy busy(*this, "EXECUTE");
  try {
    currentLine_ = 1;
    lastError_ = 0;
    CheckParamValues(params);
    // The name may be qualified (db..proc, owner.proc): the parser splits it.
    auto parsed = sql::Parse("exec " + name);
    const sql::ExecStmt* call = parsed.ok() && parsed.statements.size() == 1
                                    ? parsed.statements[0]->If<sql::ExecStmt>()
                                    : nullptr;
    if (!call || call->procedure.object.empty() || call->procedure.object[0] == '@')
      Fail(2812, {name});
    std::string object = call->procedure.object;
    std::string db = DatabaseFor(call->procedure);
    std::string schema = SchemaOf(db);
    if (schema.empty()) Fail(911, {db});
    auto proc = catalog::FindObject(db_.get(), schema, object);
    bool system = IsSystemProcedureName(object);
    if (!proc && system) {
      proc = catalog::FindObject(db_.get(), "main", object);
      if (proc) schema = "main";
    }
    if (proc && proc->type == "P") {
      std::vector<ProcArg> args;
      for (const auto& p : params) {
        ProcArg a;
        a.name = p.name;
        a.value = p.value;
        a.type = TypeOfParam(p.type);
        a.output = p.output;
        args.push_back(std::move(a));
      }
      variables_.clear();
      nestingExceeded_ = false;
      bool failed = false;
      int status = CallProc(schema, *proc, args, sink, &failed, call->number ? call->number : 1);
      batchAborted_ = false;
      sink.ReturnStatus(status);
      SendOutputs(args, sink);
      Done(sink, failed ? kDoneError : 0, 0, false);
      return;
    }
    if (system) {
      // The native system procedures take their arguments as written in a batch.
      std::string text = "exec " + object;
      for (size_t i = 0; i < params.size(); ++i) {
        text += i ? ", " : " ";
        if (!params[i].name.empty())
          text += (params[i].name[0] == '@' ? "" : "@") + params[i].name + " = ";
        text += ArgumentLiteral(params[i]);
      }
      auto batch = sql::Parse(text);
      if (batch.ok() && batch.statements.size() == 1)
        if (const auto* e = batch.statements[0]->If<sql::ExecStmt>()) {
          variables_.clear();
          if (RunSystemProcedure(object, *e, sink)) return;
        }
    }
    Fail(2812, {object});
  } catch (...) {
    ReportCurrentError(sink);
  }
}

namespace {

// The variables a batch uses without declaring them, in order of first use: the names that
// unnamed parameters of a language command stand for.
std::vector<std::string> FreeVariables(std::string_view sql, bool quotedIdentifier) {
  std::vector<std::string> used, declared;
  bool declaring = false;
  for (const auto& t : sql::Tokenize(sql, quotedIdentifier)) {
    if (t.type == sql::TokenType::Word) {
      if (t.value == "declare")
        declaring = true;
      else if (t.keyword)
        declaring = false;
    } else if (t.type == sql::TokenType::Variable) {
      std::string name(t.text);
      auto& list = declaring ? declared : used;
      if (std::find(list.begin(), list.end(), name) == list.end()) list.push_back(name);
    }
  }
  std::erase_if(used, [&](const std::string& n) {
    return std::find(declared.begin(), declared.end(), n) != declared.end();
  });
  return used;
}

}  // namespace

void SessionImpl::ExecuteWithParams(std::string_view sql, const std::vector<ParamValue>& params,
                                    ResultSink& sink) {
  std::map<std::string, Variable> frame;
  const bool unnamed =
      std::any_of(params.begin(), params.end(), [](const ParamValue& p) { return p.name.empty(); });
  const std::vector<std::string> free =
      unnamed ? FreeVariables(sql, options_.quotedIdentifier) : std::vector<std::string>{};
  for (size_t i = 0; i < params.size(); ++i) {
    std::string name = !params[i].name.empty() ? params[i].name
                       : i < free.size()       ? free[i]
                                               : "@P" + std::to_string(i + 1);
    if (name[0] != '@') name.insert(0, "@");
    frame[name] = Variable{TypeOfParam(params[i].type), params[i].value};
  }
  Busy busy(*this, "SELECT");
  try {
    currentLine_ = 1;
    CheckParamValues(params);
  } catch (const SqlError&) {
    ReportCurrentError(sink);
    return;
  }
  try {
    ExecuteBatch(sql, sink, std::move(frame));
  } catch (const std::exception& e) {
    EndStatement(false);
    Send(sink, Msg(kMsgGeneric, {e.what()}));
    Done(sink, kDoneError, 0, false);
  }
}

bool SessionImpl::Prepare(const std::string& id, std::string_view sql, PreparedInfo* info,
                          ResultSink& sink) {
  Prepared p;
  p.text = NumberPlaceholders(StripCreateProc(sql), &p.paramCount);
  sql::ParseOptions po;
  po.quotedIdentifier = options_.quotedIdentifier;
  auto parsed = sql::Parse(p.text, po);
  if (!parsed.ok()) {
    Send(sink, ParseErrorMessage(*parsed.error));
    return false;
  }
  // Parameters are described by what the client will bind; a query's columns are known now.
  TypeDesc unknown = *BuiltinType("varchar", 255, std::nullopt);
  std::map<std::string, Variable> frame;
  for (size_t i = 0; i < p.paramCount; ++i) {
    std::string name = "@P" + std::to_string(i + 1);
    p.info.params.push_back(MakeColumnInfo(name, unknown, true));
    frame[name] = Variable{unknown, std::monostate{}};
  }
  if (parsed.statements.size() == 1) {
    const auto* select = parsed.statements[0]->If<sql::SelectStmt>();
    if (select && select->query->into.empty()) {
      std::swap(frame, variables_);
      try {
        TranslatedQuery q = TranslateSelect(*select);
        if (q.assignTo.empty()) p.info.columns = q.columns;
      } catch (const StatementError& e) {
        std::swap(frame, variables_);
        Send(sink, e.message);
        return false;
      } catch (const std::exception&) {
        // Described at execution instead.
      }
      std::swap(frame, variables_);
    }
  }
  if (info) *info = p.info;
  prepared_[id] = std::move(p);
  return true;
}

void SessionImpl::ExecutePrepared(const std::string& id, const std::vector<ParamValue>& params,
                                  ResultSink& sink) {
  auto it = prepared_.find(id);
  if (it == prepared_.end()) {
    Send(sink, Msg(kMsgGeneric, {"The dynamic statement '" + id + "' was not prepared."}));
    Done(sink, kDoneError, 0, false);
    return;
  }
  if (params.size() < it->second.paramCount) {
    Send(sink, Msg(kMsgGeneric, {"The dynamic statement '" + id + "' expects " +
                                 std::to_string(it->second.paramCount) + " parameters, " +
                                 std::to_string(params.size()) + " were supplied."}));
    Done(sink, kDoneError, 0, false);
    return;
  }
  // Bound by position, whatever names the client gave.
  std::vector<ParamValue> positional = params;
  for (auto& p : positional) p.name.clear();
  std::string text = it->second.text;  // the statement may replace itself while it runs
  // Run as a light-weight procedure, as clients expect of a prepared statement: each
  // statement ends in DONEINPROC and the reply in one DONEPROC (without a return status).
  struct ErrorWatch final : ResultSink {
    explicit ErrorWatch(ResultSink& to) : to(to) {}
    void Columns(const std::vector<ColumnInfo>& c) override { to.Columns(c); }
    void Row(const std::vector<Value>& v) override { to.Row(v); }
    void BrowseInfo(const std::vector<BrowseColumn>& o) override { to.BrowseInfo(o); }
    void ComputeFormats(const std::vector<ComputeFormat>& f) override { to.ComputeFormats(f); }
    void ComputeRow(uint16_t id, const std::vector<Value>& v) override { to.ComputeRow(id, v); }
    void RowWithTextPointers(const std::vector<Value>& v, const std::vector<Bytes>& p) override {
      to.RowWithTextPointers(v, p);
    }
    void Done(uint16_t status, int32_t count, bool inProc) override {
      failed = failed || (status & kDoneError);
      to.Done(status, count, inProc);
    }
    void Message(const ServerMessage& m) override {
      failed = failed || m.severity > 10;
      to.Message(m);
    }
    void DatabaseChanged(const std::string& n, const std::string& o) override {
      to.DatabaseChanged(n, o);
    }
    void ReturnStatus(int32_t status) override { to.ReturnStatus(status); }
    void OutputParams(const std::vector<ColumnInfo>& p, const std::vector<Value>& v) override {
      to.OutputParams(p, v);
    }
    bool Cancelled() const override { return to.Cancelled(); }
    ResultSink& to;
    bool failed = false;
  } watch(sink);
  struct LightweightScope {
    bool& flag;
    explicit LightweightScope(bool& f) : flag(f) { flag = true; }
    ~LightweightScope() { flag = false; }
  };
  {
    LightweightScope scope(lightweightProc_);
    ExecuteWithParams(text, positional, watch);
  }
  Done(sink, static_cast<uint16_t>(kDoneProc | (watch.failed ? kDoneError : 0)), 0, false);
}

bool SessionImpl::Deallocate(const std::string& id, ResultSink& sink) {
  if (prepared_.erase(id) == 0) {
    Send(sink, Msg(kMsgGeneric, {"The dynamic statement '" + id + "' was not prepared."}));
    return false;
  }
  return true;
}

}  // namespace sampleserver
