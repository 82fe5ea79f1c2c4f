// writetext and readtext: text and image values reached through the text pointers the server
// hands out with them (see textptrs.h).
#include "engine/messages.h"
#include "engine/session.h"
#include "engine/textptrs.h"
#include "engine/values.h"

#include <algorithm>

namespace sampleserver {

using storage::QuoteId;
using storage::Statement;

namespace {

std::string TableSql(const catalog::TableMeta& t) {
  return QuoteId(t.schema) + "." + QuoteId(t.name);
}

// A text or image value as its column stores it; an empty one as Sybase stores it.
void BindLob(Statement& st, int index, const catalog::ColumnMeta& column, const Value& v) {
  if (column.type.type == SqlType::Image) {
    Bytes b = std::holds_alternative<Bytes>(v) ? std::get<Bytes>(v) : Bytes{};
    if (const auto* s = std::get_if<std::string>(&v)) b.assign(s->begin(), s->end());
    if (b.empty()) b.push_back(0);
    st.BindBlob(index, b);
  } else {
    std::string s =
        std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : std::string();
    if (const auto* b = std::get_if<Bytes>(&v)) s.assign(b->begin(), b->end());
    if (s.empty()) s = " ";
    st.Bind(index, std::string_view(s));
  }
}

}  // namespace

SessionImpl::TextTarget SessionImpl::ResolveTextTarget(const sql::ObjectName& table,
                                                       const std::string& column,
                                                       const sql::Expr& pointer) {
  TextTarget target;
  target.table = RequireTable(table).meta;
  currentTable_ = target.table.name;
  const catalog::ColumnMeta* c = target.table.Find(column);
  if (!c) Fail(207, {column});
  if (!c->type.IsLob())
    Fail(7,
         {"Column '" + column + "' is not a text or image column; only those have text pointers."});
  target.column = *c;
  Value v = Evaluate(pointer);
  Bytes bytes;
  if (const auto* b = std::get_if<Bytes>(&v)) bytes = *b;
  auto p = DecodeTextPointer(bytes);
  if (p && p->table == target.table.id && p->column == c->colid) target.row = p->row;
  CheckTextTarget(target, bytes);
  return target;
}

void SessionImpl::CheckTextTarget(const TextTarget& target, const Bytes& pointer) {
  if (target.row > 0) {
    Statement st(db_.get(), "SELECT " + QuoteId(target.column.name) + " IS NOT NULL FROM " +
                                TableSql(target.table) + " WHERE rowid = ?");
    st.Bind(1, target.row);
    if (st.Step() && st.Int(0) == 1) return;
  }
  Fail(7123, {"0x" + BytesToHex(pointer)});
}

void SessionImpl::StoreText(const TextTarget& target, Value value) {
  Statement st(db_.get(), "UPDATE " + TableSql(target.table) + " SET " +
                              QuoteId(target.column.name) + " = ? WHERE rowid = ?");
  BindLob(st, 1, target.column, value);
  st.Bind(2, target.row);
  st.Step();
}

void SessionImpl::RunWritetext(const sql::WritetextStmt& s, ResultSink& sink) {
  AutoBeginChained();
  TextTarget target = ResolveTextTarget(s.table, s.column, *s.textPointer);
  // The timestamp is read for its errors only: every change goes through.
  if (s.timestamp) Evaluate(*s.timestamp);
  if (s.bulk) {
    bulkTextTarget_ = std::move(target);
    Done(sink, 0, 0, false);
    return;
  }
  Value data = EvaluateAs(*s.data, target.column.type);
  if (options_.fmtonly) {
    Done(sink, 0, 0, false);
    return;
  }
  BeginStatement();
  StoreText(target, std::move(data));
  EndStatement(true);
  Done(sink, 0, 0, false);
}

void SessionImpl::RunReadtext(const sql::ReadtextStmt& s, ResultSink& sink) {
  AutoBeginChained();
  TextTarget target = ResolveTextTarget(s.table, s.column, *s.textPointer);
  Value offsetValue = EvaluateAs(*s.offset, *BuiltinType("int", std::nullopt, std::nullopt));
  Value sizeValue = EvaluateAs(*s.size, *BuiltinType("int", std::nullopt, std::nullopt));
  const auto* offset = std::get_if<int64_t>(&offsetValue);
  const auto* size = std::get_if<int64_t>(&sizeValue);
  if (!offset || !size || *offset < 0 || *size < 0)
    Fail(7, {"readtext needs an offset and a size of zero or more."});
  ColumnInfo column = MakeColumnInfo(target.column.name, target.column.type, true);
  column.table = target.table.name;
  Statement st(db_.get(), "SELECT substr(CAST(" + QuoteId(target.column.name) +
                              " AS BLOB), ?, ?) FROM " + TableSql(target.table) +
                              " WHERE rowid = ?");
  // Offsets count bytes (image values are blobs, text values are read as bytes too). A size of
  // zero reads to the end; textsize caps what goes out.
  st.Bind(1, *offset + 1);
  int64_t want = *size == 0 ? int64_t{1} << 31 : *size;
  st.Bind(2, std::min<int64_t>(want, std::max(0, options_.textsize)));
  st.Bind(3, target.row);
  Value v;
  if (st.Step()) {
    Bytes b = st.Blob(0);
    if (target.column.type.type == SqlType::Image)
      v = std::move(b);
    else
      v = std::string(b.begin(), b.end());
  }
  sink.Columns({column});
  std::vector<Bytes> pointers{
      EncodeTextPointer({target.table.id, target.column.colid, target.row})};
  sink.RowWithTextPointers({v}, pointers);
  lastRowcount_ = 1;
  Done(sink, 0, 1, true);
}

// The data of "writetext bulk", which arrives after the statement's reply.
class TextWriter final : public TextWrite {
 public:
  TextWriter(SessionImpl& session, SessionImpl::TextTarget target)
      : session_(session), target_(std::move(target)) {}

  void Write(const Bytes& data, ResultSink& sink) override {
    try {
      session_.currentTable_ = target_.table.name;
      session_.AutoBeginChained();
      session_.CheckTextTarget(
          target_, EncodeTextPointer({target_.table.id, target_.column.colid, target_.row}));
      session_.BeginStatement();
      Value v;
      if (target_.column.type.type == SqlType::Image)
        v = data;
      else
        v = std::string(data.begin(), data.end());
      session_.StoreText(target_, std::move(v));
      session_.EndStatement(true);
      session_.Done(sink, 0, 0, false);
    } catch (...) {
      session_.ReportCurrentError(sink);
    }
  }

 private:
  SessionImpl& session_;
  SessionImpl::TextTarget target_;
};

std::unique_ptr<TextWrite> SessionImpl::BeginTextWrite(std::string_view sql, ResultSink& sink) {
  bulkTextTarget_.reset();
  Execute(sql, sink);
  if (!bulkTextTarget_) return nullptr;
  auto write = std::make_unique<TextWriter>(*this, std::move(*bulkTextTarget_));
  bulkTextTarget_.reset();
  return write;
}

}  // namespace sampleserver
