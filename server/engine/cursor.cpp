// Cursors: the protocol's cursor calls and the Transact-SQL cursor statements. A select's rows
// are read all at once at the cursor's first fetch (its open only compiles the query, so a cursor
// opened to learn its columns and closed costs no read), and an open cursor never holds a read
// transaction against other sessions.
#include "engine/messages.h"
#include "engine/session.h"
#include "engine/values.h"
#include "sql/parser.h"

namespace sampleserver {

using storage::Statement;

Cursor* SessionImpl::FindCursor(int32_t id) {
  auto it = cursors_.find(id);
  return it == cursors_.end() ? nullptr : &it->second;
}

const Cursor* SessionImpl::FindCursor(int32_t id) const {
  auto it = cursors_.find(id);
  return it == cursors_.end() ? nullptr : &it->second;
}

int32_t SessionImpl::CursorId(const std::string& name) const {
  for (const auto& [id, c] : cursors_)
    if (c.name == name) return id;
  return 0;
}

int32_t SessionImpl::CursorDeclare(const std::string& name, std::string_view select, bool forUpdate,
                                   ResultSink& sink) {
  sql::ParseOptions po;
  po.quotedIdentifier = options_.quotedIdentifier;
  auto parsed = sql::Parse(select, po);
  if (!parsed.ok()) {
    Send(sink, ParseErrorMessage(*parsed.error));
    return 0;
  }
  // A select, or an execute of a procedure (read-only: its first result set is the cursor's).
  const auto kind = parsed.statements.size() == 1 ? parsed.statements[0]->kind : sql::StmtKind{};
  if (parsed.statements.size() != 1 ||
      (kind != sql::StmtKind::Select && kind != sql::StmtKind::Exec)) {
    Send(sink, Msg(102, {name}));
    return 0;
  }
  const bool execute = kind == sql::StmtKind::Exec;
  if (int32_t old = CursorId(name)) cursors_.erase(old);
  Cursor c;
  c.id = nextCursorId_++;
  c.name = name;
  c.select = std::string(select);
  c.forUpdate = !execute && (forUpdate || parsed.statements[0]->As<sql::SelectStmt>().forUpdate);
  c.state = kCursorDeclared | (c.forUpdate ? kCursorUpdatable : kCursorReadOnly);
  int32_t id = c.id;
  cursors_[id] = std::move(c);
  return id;
}

bool SessionImpl::CursorSetRows(int32_t id, int32_t rows, ResultSink& sink) {
  Cursor* c = FindCursor(id);
  if (!c) {
    Send(sink, Msg(557, {std::to_string(id)}));
    return false;
  }
  c->rows = rows > 0 ? rows : 1;
  c->state |= kCursorRowCount;
  return true;
}

bool SessionImpl::CursorOpen(int32_t id, ResultSink& sink) {
  Cursor* c = FindCursor(id);
  if (!c) {
    Send(sink, Msg(557, {std::to_string(id)}));
    return false;
  }
  if (c->state & kCursorOpen) {
    Send(sink, Msg(559, {c->name}));
    return false;
  }
  try {
    auto parsed = sql::Parse(c->select, sql::ParseOptions{options_.quotedIdentifier, 200});
    if (!parsed.ok() || parsed.statements.empty()) Fail(102, {c->name});
    c->data.clear();
    c->pending.clear();
    c->position = 0;
    if (parsed.statements[0]->kind == sql::StmtKind::Exec) {
      if (!OpenExecuteCursor(*c, sink)) return false;
    } else {
      const auto& sel = parsed.statements[0]->As<sql::SelectStmt>();
      TranslatedQuery q = TranslateSelect(sel, true);
      c->columns = q.columns;
      for (auto& col : c->columns) col.updatable = c->forUpdate;
      if (!options_.fmtonly) {
        Statement st(db_.get(), q.sql);  // a query that does not compile fails the open
        c->pending = q.sql;
      }
    }
  } catch (...) {
    Send(sink, CurrentErrorMessage());
    return false;
  }
  c->state = static_cast<uint16_t>((c->state & ~(kCursorClosed | kCursorDeclared)) | kCursorOpen);
  sink.Columns(c->columns);
  return true;
}

ServerMessage SessionImpl::CurrentErrorMessage() {
  try {
    throw;
  } catch (const StatementError& e) {
    return e.message;
  } catch (const SqlError& e) {
    return e.message();
  } catch (const storage::SqliteError& e) {
    return MapSqliteError(e);
  }
}

// The procedure runs to its end at open; the rows of its first result set are kept, its other
// results (further selects, return status, output parameters) go nowhere, and its messages go to
// the client. False when it failed before a result set began.
bool SessionImpl::OpenExecuteCursor(Cursor& c, ResultSink& sink) {
  struct FirstResult : ResultSink {
    ResultSink& out;
    Cursor& cursor;
    bool begun = false, ended = false, failed = false;
    FirstResult(ResultSink& o, Cursor& c) : out(o), cursor(c) {}
    void Columns(const std::vector<ColumnInfo>& columns) override {
      if (begun) return;
      begun = true;
      cursor.columns = columns;
    }
    void Row(const std::vector<Value>& values) override {
      if (begun && !ended) cursor.data.push_back(values);
    }
    void Done(uint16_t, int32_t, bool) override { ended = begun; }
    void Message(const ServerMessage& m) override {
      out.Message(m);
      failed = failed || m.severity > 10;
    }
    void DatabaseChanged(const std::string&, const std::string&) override {}
    void ReturnStatus(int32_t) override {}
    bool Cancelled() const override { return out.Cancelled(); }
  } first(sink, c);
  Execute(c.select, first);
  for (auto& col : c.columns) col.updatable = false;
  if (!first.begun) {
    if (!first.failed) Send(sink, Msg(102, {c.name}));
    return false;
  }
  return true;
}

int32_t SessionImpl::CursorFetch(int32_t id, ResultSink& sink) {
  Cursor* c = FindCursor(id);
  if (!c || !(c->state & kCursorOpen)) {
    Send(sink, Msg(c ? 592 : 557, {c ? c->name : std::to_string(id)}));
    return 0;
  }
  if (!c->pending.empty()) {
    const std::string sql = std::move(c->pending);
    c->pending.clear();
    try {
      Statement st(db_.get(), sql);
      while (st.Step()) c->data.push_back(ReadRow(st, c->columns));
    } catch (...) {
      c->data.clear();
      Send(sink, CurrentErrorMessage());
      return 0;
    }
  }
  int32_t n = 0;
  while (n < c->rows && c->position < c->data.size()) {
    sink.Row(c->data[c->position++]);
    ++n;
  }
  return n;
}

bool SessionImpl::CursorClose(int32_t id, bool deallocate, ResultSink& sink) {
  Cursor* c = FindCursor(id);
  if (!c) {
    Send(sink, Msg(557, {std::to_string(id)}));
    return false;
  }
  c->data.clear();
  c->pending.clear();
  c->position = 0;
  c->state = static_cast<uint16_t>((c->state & ~kCursorOpen) | kCursorClosed);
  if (deallocate) cursors_.erase(id);
  return true;
}

uint16_t SessionImpl::CursorState(int32_t id) const {
  const Cursor* c = FindCursor(id);
  return c ? c->state : static_cast<uint16_t>(kCursorDeallocated);
}

int32_t SessionImpl::CursorRows(int32_t id) const {
  const Cursor* c = FindCursor(id);
  return c ? c->rows : 0;
}

// declare c cursor for select ..., open c, fetch c [into @a, ...], close c, deallocate [cursor] c
void SessionImpl::RunCursorStatement(const sql::Stmt& s, ResultSink& sink) {
  struct Quiet : ResultSink {
    ResultSink& out;
    explicit Quiet(ResultSink& o) : out(o) {}
    void Columns(const std::vector<ColumnInfo>&) override {}
    void Row(const std::vector<Value>& v) override {
      last = v;
      ++rows;
    }
    void Done(uint16_t, int32_t, bool) override {}
    void Message(const ServerMessage& m) override {
      out.Message(m);
      failed = failed || m.severity > 10;
    }
    void DatabaseChanged(const std::string&, const std::string&) override {}
    void ReturnStatus(int32_t) override {}
    bool Cancelled() const override { return out.Cancelled(); }
    std::vector<Value> last;
    int rows = 0;
    bool failed = false;
  } quiet(sink);
  if (const auto* d = s.If<sql::DeclareCursorStmt>()) {
    std::string text = StatementText(*d->select);
    if (text.empty()) text = sql::ToSql(*d->select);
    if (!CursorDeclare(d->name, text, d->select->forUpdate, quiet)) {
      Done(sink, kDoneError, 0, false);
      return;
    }
    Done(sink, 0, 0, false);
    return;
  }
  const auto& cs = static_cast<const sql::CursorStmt&>(s);
  // A fetch that fails leaves @@sqlstatus at 1 (error), so fetch loops end.
  if (s.kind == sql::StmtKind::FetchCursor) sqlstatus_ = 1;
  int32_t id = CursorId(cs.name);
  if (!id) Fail(557, {cs.name});
  switch (s.kind) {
    case sql::StmtKind::OpenCursor:
      if (!CursorOpen(id, quiet)) {
        Done(sink, kDoneError, 0, false);
        return;
      }
      break;
    case sql::StmtKind::FetchCursor: {
      Cursor* c = FindCursor(id);
      if (!(c->state & kCursorOpen)) {
        sqlstatus_ = 1;
        Fail(592, {cs.name});
      }
      if (cs.into.empty()) {
        // A fetch without into returns the row as a result set.
        sink.Columns(c->columns);
        int32_t n = 0;
        int32_t saved = c->rows;
        c->rows = 1;
        n = CursorFetch(id, sink);
        c->rows = saved;
        sqlstatus_ = n ? 0 : 2;
        lastRowcount_ = n;
        Done(sink, 0, n, true);
        return;
      }
      int32_t saved = c->rows;
      c->rows = 1;
      int32_t n = CursorFetch(id, quiet);
      c->rows = saved;
      sqlstatus_ = n ? 0 : 2;
      if (n) {
        if (cs.into.size() != c->columns.size()) Fail(562, {cs.name});
        for (size_t i = 0; i < cs.into.size(); ++i) {
          auto it = variables_.find(cs.into[i]);
          if (it == variables_.end()) Fail(137, {cs.into[i]});
          TypeDesc from = *BuiltinType("int", std::nullopt, std::nullopt);
          from.type = c->columns[i].type;
          from.length = c->columns[i].length;
          from.precision = c->columns[i].precision;
          from.scale = c->columns[i].scale;
          it->second.value = ToValue(quiet.last[i], from, it->second.type, true);
        }
      }
      lastRowcount_ = n;
      Done(sink, 0, n, true);
      return;
    }
    case sql::StmtKind::CloseCursor: CursorClose(id, false, quiet); break;
    case sql::StmtKind::DeallocateCursor: CursorClose(id, true, quiet); break;
    default: break;
  }
  Done(sink, 0, 0, false);
}

}  // namespace sampleserver
