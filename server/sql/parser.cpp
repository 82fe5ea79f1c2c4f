#include "parser.h"

#include "lexer.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <utility>

namespace sampleserver::sql {
namespace {

// Thrown inside the parser only; Parse turns it into a ParseResult.
struct SyntaxError {
  ParseError error;
};

// Words that begin a statement: they end a statement that has no terminator.
bool StartsStatement(const Token& t) {
  if (t.type != TokenType::Word) return false;
  static constexpr std::string_view kStarts[] = {
      "alter",    "begin",       "break",      "checkpoint", "close",    "commit", "continue",
      "create",   "dbcc",        "deallocate", "declare",    "delete",   "drop",   "dump",
      "else",     "end",         "exec",       "execute",    "fetch",    "goto",   "grant",
      "if",       "insert",      "kill",       "load",       "open",     "print",  "raiserror",
      "readtext", "reconfigure", "return",     "revoke",     "rollback", "save",   "select",
      "set",      "setuser",     "shutdown",   "truncate",   "update",   "use",    "waitfor",
      "while",    "writetext",
  };
  return std::find(std::begin(kStarts), std::end(kStarts), t.value) != std::end(kStarts);
}

bool IsNumberToken(const Token& t) {
  return t.type == TokenType::Integer || t.type == TokenType::Decimal ||
         t.type == TokenType::Float || t.type == TokenType::Money;
}

// Built-in type names, mapped to their short spelling.
std::string_view BuiltinType(std::string_view lower) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {"int", "int"},
      {"integer", "int"},
      {"smallint", "smallint"},
      {"tinyint", "tinyint"},
      {"bigint", "bigint"},
      {"bit", "bit"},
      {"numeric", "numeric"},
      {"decimal", "decimal"},
      {"dec", "decimal"},
      {"float", "float"},
      {"real", "real"},
      {"money", "money"},
      {"smallmoney", "smallmoney"},
      {"datetime", "datetime"},
      {"smalldatetime", "smalldatetime"},
      {"date", "date"},
      {"time", "time"},
      {"bigdatetime", "bigdatetime"},
      {"bigtime", "bigtime"},
      {"char", "char"},
      {"character", "char"},
      {"varchar", "varchar"},
      {"nchar", "nchar"},
      {"nvarchar", "nvarchar"},
      {"unichar", "unichar"},
      {"univarchar", "univarchar"},
      {"text", "text"},
      {"unitext", "unitext"},
      {"image", "image"},
      {"binary", "binary"},
      {"varbinary", "varbinary"},
      {"timestamp", "timestamp"},
      {"sysname", "sysname"},
      {"longsysname", "longsysname"},
  };
  for (const auto& [name, canonical] : kTypes)
    if (name == lower) return canonical;
  return {};
}

class Parser {
 public:
  Parser(std::string_view batch, const ParseOptions& options)
      : src_(batch), options_(options), toks_(Tokenize(batch, options.quotedIdentifier)) {}

  std::vector<StmtPtr> ParseBatch() {
    std::vector<StmtPtr> out;
    bool first = true;
    for (;;) {
      while (Peek().IsPunct(";")) Advance();
      if (Peek().type == TokenType::End) break;
      out.push_back(Statement(first));
      first = false;
    }
    return out;
  }

  ExprPtr ParseSingleExpression() {
    ExprPtr e = Expression();
    if (Peek().type != TokenType::End) Fail(Peek());
    return e;
  }

 private:
  // ---------------------------------------------------------------------------------------
  // Tokens

  const Token& Peek(std::size_t ahead = 0) const {
    std::size_t i = std::min(pos_ + ahead, toks_.size() - 1);
    return toks_[i];
  }
  const Token& Advance() {
    const Token& t = toks_[pos_];
    if (pos_ + 1 < toks_.size()) ++pos_;
    if (!t.IsPunct(";")) lastEnd_ = t.end;  // a terminator is not part of the statement's text
    return t;
  }

  bool AtWord(std::string_view w, std::size_t ahead = 0) const { return Peek(ahead).IsWord(w); }
  bool AtPunct(std::string_view p, std::size_t ahead = 0) const { return Peek(ahead).IsPunct(p); }
  bool AcceptWord(std::string_view w) {
    if (!AtWord(w)) return false;
    Advance();
    return true;
  }
  bool AcceptPunct(std::string_view p) {
    if (!AtPunct(p)) return false;
    Advance();
    return true;
  }
  void ExpectWord(std::string_view w) {
    if (!AcceptWord(w)) Fail(Peek());
  }
  void ExpectPunct(std::string_view p) {
    if (!AcceptPunct(p)) Fail(Peek());
  }

  // Two tokens written without anything between them (for *= and =*).
  bool Adjacent(std::size_t ahead) const { return Peek(ahead).end == Peek(ahead + 1).begin; }

  [[noreturn]] void Fail(const Token& at) const {
    ParseError e;
    const Token* t = &at;
    if (t->type == TokenType::End && pos_ > 0) {
      // At the end of the batch the server names the last thing it read.
      std::size_t i = toks_.size() >= 2 ? toks_.size() - 2 : 0;
      t = &toks_[i];
      if (t->type == TokenType::End) {
        e.text = "Incorrect syntax near ''.";
        e.line = at.line;
        throw SyntaxError{std::move(e)};
      }
    }
    e.line = t->line;
    if (t->type == TokenType::Error) {
      e.number = t->errorNumber;
      e.text = t->value;
    } else if (t->type == TokenType::Word && t->keyword) {
      e.number = 156;
      e.text = "Incorrect syntax near the keyword '" + std::string(t->text) + "'.";
    } else {
      e.number = 102;
      std::string near = (t->type == TokenType::String || t->type == TokenType::QuotedIdent)
                             ? t->value
                             : std::string(t->text);
      e.text = "Incorrect syntax near '" + near + "'.";
    }
    throw SyntaxError{std::move(e)};
  }

  [[noreturn]] void TooDeep() const {
    ParseError e;
    e.number = 191;
    e.text =
        "Some part of your SQL statement is nested too deeply. Rewrite the query or break "
        "it up into smaller queries.";
    e.line = Peek().line;
    throw SyntaxError{std::move(e)};
  }

  struct DepthGuard {
    explicit DepthGuard(Parser& p) : parser(p) {
      if (++parser.depth_ > parser.options_.maxDepth) parser.TooDeep();
    }
    ~DepthGuard() { --parser.depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    Parser& parser;
  };

  // A chain of left-associative operators (a + b + c ...) builds a tree as deep as the chain
  // is long, and everything that walks the tree recurses that deep: each operator counts
  // towards the nesting limit until the chain ends.
  struct ChainGuard {
    explicit ChainGuard(Parser& p) : parser(p) {}
    ~ChainGuard() { parser.depth_ -= links; }
    ChainGuard(const ChainGuard&) = delete;
    ChainGuard& operator=(const ChainGuard&) = delete;
    void Next() {
      ++links;
      if (++parser.depth_ > parser.options_.maxDepth) parser.TooDeep();
    }
    Parser& parser;
    int links = 0;
  };

  // A name token: an identifier that is not reserved, or a quoted identifier.
  bool AtName(std::size_t ahead = 0) const {
    const Token& t = Peek(ahead);
    return (t.type == TokenType::Word && !t.keyword) || t.type == TokenType::QuotedIdent;
  }
  std::string Name() {
    if (!AtName()) Fail(Peek());
    const Token& t = Advance();
    return t.type == TokenType::QuotedIdent ? t.value : std::string(t.text);
  }
  static std::string NameOf(const Token& t) {
    return t.type == TokenType::QuotedIdent ? t.value : std::string(t.text);
  }

  // Up to `maxParts` dot-separated names; `db..t` leaves the middle part empty.
  std::vector<std::string> DottedName(std::size_t maxParts) {
    std::vector<std::string> parts;
    parts.push_back(Name());
    while (AtPunct(".") && parts.size() < maxParts) {
      if (AtPunct(".", 1)) {
        Advance();
        parts.emplace_back();
        continue;
      }
      if (!AtName(1)) break;
      Advance();
      parts.push_back(Name());
    }
    if (parts.back().empty()) Fail(Peek());
    return parts;
  }

  static ObjectName ToObjectName(const std::vector<std::string>& parts, std::size_t count) {
    ObjectName n;
    std::string* slots[] = {&n.object, &n.owner, &n.database, &n.server};
    for (std::size_t i = 0; i < count && i < 4; ++i) *slots[i] = parts[count - 1 - i];
    return n;
  }

  ObjectName ObjName() {
    std::vector<std::string> parts = DottedName(4);
    return ToObjectName(parts, parts.size());
  }

  std::string TextFrom(std::size_t begin) const {
    if (lastEnd_ <= begin) return {};
    return std::string(src_.substr(begin, lastEnd_ - begin));
  }

  // ---------------------------------------------------------------------------------------
  // Statements

  StmtPtr Statement(bool firstInBatch) {
    DepthGuard guard(*this);
    const Token& t = Peek();
    std::size_t begin = t.begin;
    StmtPtr s = StatementBody(firstInBatch);
    s->begin = begin;
    s->end = lastEnd_;
    return s;
  }

  StmtPtr StatementBody(bool firstInBatch) {
    const Token& t = Peek();
    const int line = t.line;
    if (t.type == TokenType::Word && !t.keyword && AtPunct(":", 1)) {
      auto s = std::make_unique<LabelStmt>(line);
      s->label = std::string(Advance().text);
      Advance();
      return s;
    }
    if (t.type != TokenType::Word) {
      if (t.IsPunct("(") && (AtWord("select", 1) || AtPunct("(", 1))) return Select();
      Fail(t);
    }
    if (!t.keyword) {
      // A procedure named on its own is executed, but only as the batch's first statement.
      if (firstInBatch) return Exec(true);
      Fail(t);
    }
    const std::string& w = t.value;
    if (w == "select") return Select();
    if (w == "insert") return Insert();
    if (w == "update") return AtWord("statistics", 1) ? Other() : Update();
    if (w == "delete") return Delete();
    if (w == "truncate") return Truncate();
    if (w == "create") return Create();
    if (w == "drop") return Drop();
    if (w == "alter") return AlterTable();
    if (w == "declare") return Declare();
    if (w == "open" || w == "close" || w == "deallocate" || w == "fetch") return Cursor();
    if (w == "set") return Set();
    if (w == "if") return If();
    if (w == "while") return While();
    if (w == "break") {
      Advance();
      return std::make_unique<BreakStmt>(line);
    }
    if (w == "continue") {
      Advance();
      return std::make_unique<ContinueStmt>(line);
    }
    if (w == "begin") return Begin();
    if (w == "return") return Return();
    if (w == "goto") {
      Advance();
      auto s = std::make_unique<GotoStmt>(line);
      s->label = Name();
      return s;
    }
    if (w == "print") return Print();
    if (w == "raiserror") return Raiserror();
    if (w == "commit" || w == "rollback" || w == "save") return EndTran();
    if (w == "use") {
      Advance();
      auto s = std::make_unique<UseStmt>(line);
      s->database = Name();
      return s;
    }
    if (w == "exec" || w == "execute") return Exec(false);
    if (w == "waitfor") return Waitfor();
    if (w == "readtext") return Readtext();
    if (w == "writetext") return Writetext();
    if (w == "grant" || w == "revoke") return GrantRevoke();
    if (w == "dump" || w == "load" || w == "checkpoint" || w == "dbcc" || w == "setuser" ||
        w == "kill" || w == "reconfigure" || w == "shutdown")
      return Other();
    Fail(t);
  }

  // Statements accepted and not executed: everything up to the next statement.
  StmtPtr Other() {
    auto s = std::make_unique<OtherStmt>(Peek().line);
    s->verb = Advance().value;
    if (s->verb == "update") s->verb += " " + Advance().value;  // update statistics
    while (Peek().type != TokenType::End && !AtPunct(";") && !StartsStatement(Peek())) {
      if (Peek().type == TokenType::Error) Fail(Peek());
      Advance();
    }
    return s;
  }

  StmtPtr GrantRevoke() {
    auto s = std::make_unique<GrantStmt>(Peek().line);
    s->revoke = Advance().value == "revoke";
    if (s->revoke && AtWord("grant") && AtWord("option", 1) && AtWord("for", 2)) {
      Advance();
      Advance();
      Advance();
      s->withGrantOption = true;
    }
    do {
      const Token& t = Peek();
      if (t.type != TokenType::Word) Fail(t);
      std::string privilege = Advance().value;
      if (privilege == "all") AcceptWord("privileges");
      if (privilege == "role") privilege += " " + Name();  // grant role r to login
      if (privilege == "create") {
        if (Peek().type != TokenType::Word) Fail(Peek());
        privilege += " " + Advance().value;
      }
      s->privileges.push_back(privilege);
      if (AtPunct("(")) {
        auto cols = NameList();
        s->columns.insert(s->columns.end(), cols.begin(), cols.end());
      }
    } while (AcceptPunct(","));
    if (AcceptWord("on")) {
      s->object = ObjName();
      if (AtPunct("(")) {
        auto cols = NameList();
        s->columns.insert(s->columns.end(), cols.begin(), cols.end());
      }
    }
    if (!AcceptWord("to") && !AcceptWord("from")) Fail(Peek());
    do {
      if (AcceptWord("public")) {
        s->grantees.push_back("public");
        continue;
      }
      s->grantees.push_back(Name());
    } while (AcceptPunct(","));
    if (!s->revoke && AcceptWord("with")) {
      ExpectWord("grant");
      ExpectWord("option");
      s->withGrantOption = true;
    }
    s->cascade = AcceptWord("cascade");
    return s;
  }

  // ---------------------------------------------------------------------------------------
  // select

  std::unique_ptr<SelectStmt> Select() {
    DepthGuard guard(*this);
    auto s = std::make_unique<SelectStmt>(Peek().line);
    s->query = QueryTerm();
    while (AcceptWord("union")) {
      UnionPart part;
      part.all = AcceptWord("all");
      part.query = QueryTerm();
      s->unions.push_back(std::move(part));
    }
    if (AtWord("order")) {
      Advance();
      ExpectWord("by");
      do {
        OrderItem item;
        item.expr = Expression();
        if (AcceptWord("desc"))
          item.descending = true;
        else
          AcceptWord("asc");
        s->orderBy.push_back(std::move(item));
      } while (AcceptPunct(","));
    }
    while (AtWord("compute")) {
      ComputeClause c;
      c.line = Advance().line;
      do {
        Token at = Peek();
        ExprPtr e = Expression();
        const auto* a = e->If<AggregateExpr>();
        // Compute rows summarise select-list values: no count(*), count_big or distinct.
        if (!a || a->star || a->distinct || a->func == AggregateFunc::CountBig) Fail(at);
        c.aggregates.push_back(std::move(e));
      } while (AcceptPunct(","));
      if (AcceptWord("by")) {
        do c.by.push_back(Expression());
        while (AcceptPunct(","));
      }
      s->computes.push_back(std::move(c));
    }
    if (AtWord("for")) {
      if (AtWord("browse", 1)) {
        Advance();
        Advance();
        s->forBrowse = true;
      } else if (AtWord("update", 1)) {
        Advance();
        Advance();
        s->forUpdate = true;
        if (AcceptWord("of")) {
          do s->forUpdateColumns.push_back(DottedName(2).back());
          while (AcceptPunct(","));
        }
      } else if (AtWord("read", 1) && AtWord("only", 2)) {
        Advance();
        Advance();
        Advance();
        s->forReadOnly = true;
      }
    }
    if (AtWord("at") && AtWord("isolation", 1)) {
      Advance();
      Advance();
      s->isolation = IsolationLevel();
    }
    return s;
  }

  int IsolationLevel() {
    if (Peek().type == TokenType::Integer) {
      const Token& t = Advance();
      if (t.text.size() != 1 || t.text[0] > '3') Fail(t);
      return t.text[0] - '0';
    }
    if (AcceptWord("serializable")) return 3;
    if (AtWord("read")) {
      Advance();
      if (AcceptWord("uncommitted")) return 0;
      if (AcceptWord("committed")) return 1;
      Fail(Peek());
    }
    if (AcceptWord("repeatable")) {
      ExpectWord("read");
      return 2;
    }
    Fail(Peek());
  }

  // A select block, possibly in parentheses (one side of a union).
  std::unique_ptr<QuerySpec> QueryTerm() {
    if (AtPunct("(")) {
      DepthGuard guard(*this);
      Advance();
      auto q = QueryTerm();
      ExpectPunct(")");
      return q;
    }
    return Query();
  }

  std::unique_ptr<QuerySpec> Query() {
    auto q = std::make_unique<QuerySpec>();
    q->line = Peek().line;
    ExpectWord("select");
    if (AcceptWord("distinct"))
      q->distinct = true;
    else
      AcceptWord("all");
    // `top` is not reserved: it is the clause only when a number follows.
    if (AtWord("top") && Peek(1).type == TokenType::Integer) {
      Advance();
      q->top = Primary();
    }
    do q->items.push_back(SelectListItem());
    while (AcceptPunct(","));
    if (AcceptWord("into")) q->into = ObjName();
    if (AcceptWord("from")) q->from = TableList();
    if (AcceptWord("where")) q->where = Expression();
    if (AtWord("group")) {
      Advance();
      ExpectWord("by");
      q->groupByAll = AcceptWord("all");
      do q->groupBy.push_back(Expression());
      while (AcceptPunct(","));
    }
    if (AcceptWord("having")) q->having = Expression();
    return q;
  }

  bool AtAlias() const {
    const Token& t = Peek();
    if (t.type == TokenType::String || t.type == TokenType::QuotedIdent) return true;
    return t.type == TokenType::Word && !t.keyword && !IsJoinWord(t.value);
  }
  static bool IsJoinWord(std::string_view w) {
    return w == "inner" || w == "left" || w == "right" || w == "cross" || w == "full" ||
           w == "outer";
  }
  std::string Alias() {
    const Token& t = Advance();
    return (t.type == TokenType::String || t.type == TokenType::QuotedIdent) ? t.value
                                                                             : std::string(t.text);
  }

  SelectItem SelectListItem() {
    SelectItem item;
    const Token& t = Peek();
    item.line = t.line;
    const std::size_t begin = t.begin;
    if (t.IsPunct("*")) {
      Advance();
      item.kind = SelectItemKind::Star;
      item.text = "*";
      return item;
    }
    if (t.type == TokenType::Variable && AtPunct("=", 1)) {
      item.kind = SelectItemKind::Assign;
      item.variable = std::string(Advance().text);
      Advance();
      std::size_t valueBegin = Peek().begin;
      item.expr = Additive();
      item.text = TextFrom(valueBegin);
      return item;
    }
    // alias = expr (the heading may be a name or a string)
    if ((AtName() || t.type == TokenType::String) && AtPunct("=", 1) && !AtPunct("*", 2)) {
      item.alias = Alias();
      Advance();
      std::size_t valueBegin = Peek().begin;
      item.expr = Additive();
      item.text = TextFrom(valueBegin);
      return item;
    }
    // t.*, owner.t.*
    if (AtName()) {
      std::size_t i = 0;
      while (AtName(i) && AtPunct(".", i + 1)) {
        if (AtPunct("*", i + 2)) {
          std::vector<std::string> parts;
          for (std::size_t k = 0; k <= i; k += 2) parts.push_back(NameOf(Peek(k)));
          for (std::size_t k = 0; k < i + 3; ++k) Advance();
          item.kind = SelectItemKind::TableStar;
          item.table = ToObjectName(parts, parts.size());
          item.text = TextFrom(begin);
          return item;
        }
        i += 2;
      }
    }
    // Select-list values are not conditions: `select a = b = c` is refused as the server does.
    item.expr = Additive();
    item.text = TextFrom(begin);
    if (AcceptWord("as")) {
      if (!AtAlias()) Fail(Peek());
      item.alias = Alias();
    } else if (AtAlias()) {
      item.alias = Alias();
    }
    return item;
  }

  std::vector<TableRefPtr> TableList() {
    std::vector<TableRefPtr> list;
    do list.push_back(JoinedTable());
    while (AcceptPunct(","));
    return list;
  }

  TableRefPtr JoinedTable() {
    DepthGuard guard(*this);
    TableRefPtr left = TablePrimary();
    ChainGuard chain(*this);
    for (;;) {
      JoinType type;
      if (AtWord("join")) {
        type = JoinType::Inner;
      } else if (AtWord("inner")) {
        Advance();
        type = JoinType::Inner;
        if (!AtWord("join")) Fail(Peek());
      } else if (AtWord("left") || AtWord("right")) {
        type = AtWord("left") ? JoinType::Left : JoinType::Right;
        Advance();
        AcceptWord("outer");
        if (!AtWord("join")) Fail(Peek());
      } else if (AtWord("cross")) {
        Advance();
        type = JoinType::Cross;
        if (!AtWord("join")) Fail(Peek());
      } else {
        break;
      }
      chain.Next();
      const int line = Advance().line;  // join
      auto j = std::make_unique<TableRef>();
      j->kind = TableRefKind::Join;
      j->line = line;
      j->join = type;
      j->left = std::move(left);
      j->right = TablePrimary();
      if (type != JoinType::Cross) {
        ExpectWord("on");
        j->on = Expression();
      }
      left = std::move(j);
    }
    return left;
  }

  TableRefPtr TablePrimary() {
    auto t = std::make_unique<TableRef>();
    t->line = Peek().line;
    if (AtPunct("(")) {
      DepthGuard guard(*this);
      if (AtWord("select", 1) || (AtPunct("(", 1) && AtWord("select", 2))) {
        t->kind = TableRefKind::Derived;
        Advance();
        t->derived = Select();
        ExpectPunct(")");
        AcceptWord("as");
        if (!AtAlias()) Fail(Peek());
        t->alias = Alias();
        return t;
      }
      Advance();
      TableRefPtr inner = JoinedTable();
      ExpectPunct(")");
      return inner;
    }
    t->kind = TableRefKind::Named;
    t->name = ObjName();
    if (AcceptWord("as")) {
      if (!AtAlias()) Fail(Peek());
      t->alias = Alias();
    } else if (AtName() && !IsJoinWord(Peek().value)) {
      t->alias = Alias();
    }
    TableHints(*t);
    return t;
  }

  void TableHints(TableRef& t) {
    for (;;) {
      if (AtPunct("(")) {
        Advance();
        std::string hint;
        int nesting = 0;
        while (nesting > 0 || !AtPunct(")")) {
          const Token& k = Peek();
          if (k.type == TokenType::End || k.type == TokenType::Error) Fail(k);
          if (k.IsPunct("(")) ++nesting;
          if (k.IsPunct(")")) --nesting;
          if (!hint.empty()) hint += ' ';
          hint += k.type == TokenType::Word ? k.value : std::string(k.text);
          Advance();
        }
        Advance();
        if (hint.empty()) Fail(Peek());
        t.hints.push_back(std::move(hint));
      } else if (AtWord("holdlock") || AtWord("noholdlock") || AtWord("readpast") ||
                 AtWord("shared")) {
        t.hints.push_back(Advance().value);
      } else {
        return;
      }
    }
  }

  // ---------------------------------------------------------------------------------------
  // insert / update / delete / truncate

  StmtPtr Insert() {
    auto s = std::make_unique<InsertStmt>(Advance().line);
    AcceptWord("into");
    s->table = ObjName();
    if (AtPunct("(") && !AtWord("select", 1)) {
      Advance();
      do s->columns.push_back(Name());
      while (AcceptPunct(","));
      ExpectPunct(")");
    }
    if (AcceptWord("values")) {
      ExpectPunct("(");
      do s->values.push_back(Expression());
      while (AcceptPunct(","));
      ExpectPunct(")");
    } else if (AtWord("select") || AtPunct("(")) {
      s->select = Select();
    } else if (AtWord("exec") || AtWord("execute")) {
      StmtPtr e = Exec(false);
      s->exec.reset(static_cast<ExecStmt*>(e.release()));
    } else {
      Fail(Peek());
    }
    return s;
  }

  StmtPtr Update() {
    auto s = std::make_unique<UpdateStmt>(Advance().line);
    s->table = ObjName();
    ExpectWord("set");
    do {
      SetClause c;
      c.line = Peek().line;
      if (Peek().type == TokenType::Variable) {
        c.variable = std::string(Advance().text);
      } else {
        std::vector<std::string> parts = DottedName(5);
        c.column = parts.back();
        c.table = ToObjectName(parts, parts.size() - 1);
      }
      ExpectPunct("=");
      c.value = Expression();
      s->sets.push_back(std::move(c));
    } while (AcceptPunct(","));
    if (AcceptWord("from")) s->from = TableList();
    Where(s->where, s->currentOf);
    return s;
  }

  void Where(ExprPtr& where, std::string& currentOf) {
    if (!AcceptWord("where")) return;
    if (AtWord("current") && AtWord("of", 1)) {
      Advance();
      Advance();
      currentOf = Name();
      return;
    }
    where = Expression();
  }

  StmtPtr Delete() {
    auto s = std::make_unique<DeleteStmt>(Advance().line);
    AcceptWord("from");
    s->table = ObjName();
    if (AtName() && !AtWord("where")) Advance();  // delete t alias
    if (AcceptWord("from")) s->from = TableList();
    Where(s->where, s->currentOf);
    return s;
  }

  StmtPtr Truncate() {
    auto s = std::make_unique<TruncateStmt>(Advance().line);
    ExpectWord("table");
    s->table = ObjName();
    return s;
  }

  // ---------------------------------------------------------------------------------------
  // create / drop / alter

  StmtPtr Create() {
    const int line = Advance().line;
    if (AtWord("table")) return CreateTable(line);
    if (AtWord("view")) return CreateView(line);
    if (AtWord("proc") || AtWord("procedure")) return CreateProcedure(line);
    if (AtWord("unique") || AtWord("clustered") || AtWord("nonclustered") || AtWord("index"))
      return CreateIndex(line);
    if (AtWord("rule")) {
      Advance();
      auto s = std::make_unique<CreateRuleStmt>(line);
      s->name = ObjName();
      ExpectWord("as");
      s->condition = Expression();
      return s;
    }
    if (AtWord("default")) {
      Advance();
      auto s = std::make_unique<CreateDefaultStmt>(line);
      s->name = ObjName();
      ExpectWord("as");
      s->value = Expression();
      return s;
    }
    if (AtWord("trigger")) return CreateTrigger(line);
    if (AtWord("database")) {
      auto s = std::make_unique<OtherStmt>(line);
      s->verb = "create database";
      Advance();
      Name();
      while (Peek().type != TokenType::End && !AtPunct(";") && !StartsStatement(Peek())) {
        if (Peek().type == TokenType::Error) Fail(Peek());
        Advance();
      }
      return s;
    }
    Fail(Peek());
  }

  DataType Type() {
    DataType d;
    d.line = Peek().line;
    const Token& t = Peek();
    if (t.type != TokenType::Word && t.type != TokenType::QuotedIdent) Fail(t);
    const std::string& first = t.value;
    if (first == "double") {
      Advance();
      ExpectWord("precision");
      d.name = "double precision";
    } else if (first == "national") {
      Advance();
      if (!AcceptWord("char") && !AcceptWord("character")) Fail(Peek());
      d.name = AcceptWord("varying") ? "nvarchar" : "nchar";
    } else if (first == "unsigned") {
      Advance();
      if (!AtWord("int") && !AtWord("integer") && !AtWord("smallint") && !AtWord("bigint"))
        Fail(Peek());
      d.name = "unsigned " + std::string(BuiltinType(Advance().value));
    } else if (std::string_view b = BuiltinType(first); !b.empty() && t.type == TokenType::Word) {
      Advance();
      d.name = std::string(b);
      if (d.name == "char" && AcceptWord("varying")) d.name = "varchar";
    } else {
      if (t.type == TokenType::Word && t.keyword) Fail(t);
      d.name = NameOf(Advance());
    }
    if (AtPunct("(")) {
      Advance();
      int32_t a = SmallInt();
      const bool exact = d.name == "numeric" || d.name == "decimal";
      if (exact) {
        d.precision = a;
        if (AcceptPunct(",")) d.scale = SmallInt();
      } else {
        d.length = a;
      }
      ExpectPunct(")");
    }
    return d;
  }

  int32_t SmallInt() {
    const Token& t = Peek();
    if (t.type != TokenType::Integer || t.text.size() > 10) Fail(t);
    long long v = std::strtoll(std::string(t.text).c_str(), nullptr, 10);
    if (v > 0x7FFFFFFF) Fail(t);
    Advance();
    return static_cast<int32_t>(v);
  }

  std::vector<std::string> NameList() {
    std::vector<std::string> names;
    ExpectPunct("(");
    do names.push_back(Name());
    while (AcceptPunct(","));
    ExpectPunct(")");
    return names;
  }

  IndexClustering Clustering() {
    if (AcceptWord("clustered")) return IndexClustering::Clustered;
    if (AcceptWord("nonclustered")) return IndexClustering::Nonclustered;
    return IndexClustering::Unspecified;
  }

  // Index-constraint columns allow asc/desc; the order is not kept.
  std::vector<std::string> KeyColumns() {
    std::vector<std::string> names;
    ExpectPunct("(");
    do {
      names.push_back(Name());
      if (!AcceptWord("asc")) AcceptWord("desc");
    } while (AcceptPunct(","));
    ExpectPunct(")");
    return names;
  }

  // constraint [name] primary key|unique|check|foreign key|references; `columnLevel` skips
  // the column list for primary key/unique.
  bool AtConstraint() const {
    return AtWord("constraint") || AtWord("primary") || AtWord("unique") || AtWord("check") ||
           AtWord("foreign") || AtWord("references");
  }

  Constraint ConstraintDef(bool columnLevel) {
    Constraint c;
    c.line = Peek().line;
    if (AcceptWord("constraint")) c.name = Name();
    if (AcceptWord("primary")) {
      ExpectWord("key");
      c.kind = ConstraintKind::PrimaryKey;
      c.clustering = Clustering();
      if (!columnLevel || AtPunct("(")) c.columns = KeyColumns();
      IndexOptions();
    } else if (AcceptWord("unique")) {
      c.kind = ConstraintKind::Unique;
      c.clustering = Clustering();
      if (!columnLevel || AtPunct("(")) c.columns = KeyColumns();
      IndexOptions();
    } else if (AcceptWord("check")) {
      c.kind = ConstraintKind::Check;
      ExpectPunct("(");
      std::size_t begin = Peek().begin;
      c.check = Expression();
      c.checkText = TextFrom(begin);
      ExpectPunct(")");
    } else if (AtWord("foreign") || AtWord("references")) {
      c.kind = ConstraintKind::ForeignKey;
      if (AcceptWord("foreign")) {
        ExpectWord("key");
        c.columns = NameList();
      } else if (!columnLevel) {
        Fail(Peek());
      }
      ExpectWord("references");
      c.refTable = ObjName();
      if (AtPunct("(")) c.refColumns = NameList();
    } else {
      Fail(Peek());
    }
    return c;
  }

  // with fillfactor = n, max_rows_per_page = n, ... ; on segment
  std::vector<std::string> IndexOptions(std::string* segment = nullptr) {
    std::vector<std::string> out;
    if (AcceptWord("with")) {
      do {
        const Token& t = Peek();
        if (t.type != TokenType::Word) Fail(t);
        std::string opt = Advance().value;
        if (AcceptPunct("=")) {
          const Token& v = Peek();
          if (v.type != TokenType::Integer && v.type != TokenType::Word &&
              v.type != TokenType::String)
            Fail(v);
          opt += " = " + (v.type == TokenType::Word ? v.value : std::string(v.text));
          Advance();
        }
        out.push_back(std::move(opt));
      } while (AcceptPunct(","));
    }
    if (AtWord("on") && (AtName(1) || AtWord("default", 1) || Peek(1).type == TokenType::String)) {
      Advance();
      const Token& t = Advance();
      std::string seg = t.type == TokenType::String ? t.value : std::string(t.text);
      if (segment) *segment = std::move(seg);
    }
    return out;
  }

  ColumnDef ColumnDefinition() {
    ColumnDef c;
    c.line = Peek().line;
    c.name = Name();
    if (AcceptWord("as") || AcceptWord("compute")) {
      c.computed = Expression();
      if (AcceptWord("materialized")) {
        c.materialized = true;
      } else if (AtWord("not") && AtWord("materialized", 1)) {
        Advance();
        Advance();
      }
      return c;
    }
    c.type = Type();
    for (;;) {
      if (AcceptWord("default")) {
        std::size_t begin = Peek().begin;
        c.defaultValue = Additive();
        c.defaultText = TextFrom(begin);
      } else if (AcceptWord("identity")) {
        c.identity = true;
      } else if (AtWord("null")) {
        Advance();
        c.nullability = Nullability::Null;
      } else if (AtWord("not") && AtWord("null", 1)) {
        Advance();
        Advance();
        c.nullability = Nullability::NotNull;
      } else if (AtConstraint()) {
        c.constraints.push_back(ConstraintDef(true));
      } else {
        return c;
      }
    }
  }

  StmtPtr CreateTable(int line) {
    Advance();
    auto s = std::make_unique<CreateTableStmt>(line);
    s->table = ObjName();
    ExpectPunct("(");
    do {
      if (AtConstraint())
        s->constraints.push_back(ConstraintDef(false));
      else
        s->columns.push_back(ColumnDefinition());
    } while (AcceptPunct(","));
    ExpectPunct(")");
    TableOptions(s->segment);
    return s;
  }

  // lock allpages|datarows|datapages, with option = n, ..., on segment
  void TableOptions(std::string& segment) {
    for (;;) {
      if (AcceptWord("lock")) {
        if (Peek().type != TokenType::Word) Fail(Peek());
        Advance();
      } else if (AtWord("with") || AtWord("on")) {
        std::size_t before = pos_;
        IndexOptions(&segment);
        if (pos_ == before) return;
      } else {
        return;
      }
    }
  }

  StmtPtr CreateIndex(int line) {
    auto s = std::make_unique<CreateIndexStmt>(line);
    s->unique = AcceptWord("unique");
    s->clustering = Clustering();
    ExpectWord("index");
    s->name = Name();
    ExpectWord("on");
    s->table = ObjName();
    ExpectPunct("(");
    do {
      IndexColumn c;
      c.name = Name();
      if (AcceptWord("desc"))
        c.descending = true;
      else
        AcceptWord("asc");
      s->columns.push_back(std::move(c));
    } while (AcceptPunct(","));
    ExpectPunct(")");
    s->with = IndexOptions(&s->segment);
    return s;
  }

  StmtPtr CreateView(int line) {
    Advance();
    auto s = std::make_unique<CreateViewStmt>(line);
    s->name = ObjName();
    if (AtPunct("(")) s->columns = NameList();
    ExpectWord("as");
    s->select = Select();
    if (AtWord("with") && AtWord("check", 1)) {
      Advance();
      Advance();
      ExpectWord("option");
      s->withCheckOption = true;
    }
    return s;
  }

  // Procedure and trigger bodies run to the end of the batch.
  std::vector<StmtPtr> BodyToEnd() {
    std::vector<StmtPtr> body;
    for (;;) {
      while (AcceptPunct(";")) {
      }
      if (Peek().type == TokenType::End) break;
      body.push_back(Statement(false));
    }
    return body;
  }

  StmtPtr CreateProcedure(int line) {
    Advance();
    auto s = std::make_unique<CreateProcedureStmt>(line);
    s->name = ObjName();
    if (AcceptPunct(";")) s->number = SmallInt();
    const bool paren = AcceptPunct("(");
    if (Peek().type == TokenType::Variable) {
      do {
        ParamDef p;
        p.line = Peek().line;
        if (Peek().type != TokenType::Variable) Fail(Peek());
        p.name = std::string(Advance().text);
        AcceptWord("as");
        p.type = Type();
        if (AcceptPunct("=")) p.defaultValue = ParamDefault();
        if (AcceptWord("output") || AcceptWord("out")) p.output = true;
        s->params.push_back(std::move(p));
      } while (AcceptPunct(","));
    }
    if (paren) ExpectPunct(")");
    if (AtWord("with")) {
      Advance();
      ExpectWord("recompile");
      s->recompile = true;
    }
    ExpectWord("as");
    s->body = BodyToEnd();
    return s;
  }

  // A parameter's default: a constant, NULL, or a bare word (taken as a string).
  ExprPtr ParamDefault() {
    if (AtName()) {
      auto c = std::make_unique<ColumnExpr>(Peek().line);
      c->column = Name();
      return c;
    }
    return Unary();
  }

  StmtPtr CreateTrigger(int line) {
    Advance();
    auto s = std::make_unique<CreateTriggerStmt>(line);
    s->name = ObjName();
    ExpectWord("on");
    s->table = ObjName();
    ExpectWord("for");
    do {
      if (AcceptWord("insert"))
        s->onInsert = true;
      else if (AcceptWord("update"))
        s->onUpdate = true;
      else if (AcceptWord("delete"))
        s->onDelete = true;
      else
        Fail(Peek());
    } while (AcceptPunct(","));
    ExpectWord("as");
    s->body = BodyToEnd();
    return s;
  }

  StmtPtr Drop() {
    auto s = std::make_unique<DropStmt>(Advance().line);
    const Token& t = Peek();
    if (AcceptWord("table"))
      s->what = DropKind::Table;
    else if (AcceptWord("view"))
      s->what = DropKind::View;
    else if (AcceptWord("proc") || AcceptWord("procedure"))
      s->what = DropKind::Procedure;
    else if (AcceptWord("index"))
      s->what = DropKind::Index;
    else if (AcceptWord("rule"))
      s->what = DropKind::Rule;
    else if (AcceptWord("default"))
      s->what = DropKind::Default;
    else if (AcceptWord("trigger"))
      s->what = DropKind::Trigger;
    else if (AcceptWord("database"))
      s->what = DropKind::Database;
    else
      Fail(t);
    do {
      if (s->what == DropKind::Index) {
        std::vector<std::string> parts = DottedName(4);
        if (parts.size() < 2) Fail(Peek());
        s->indexes.push_back(parts.back());
        s->names.push_back(ToObjectName(parts, parts.size() - 1));
      } else {
        s->names.push_back(ObjName());
      }
    } while (AcceptPunct(","));
    return s;
  }

  StmtPtr AlterTable() {
    auto s = std::make_unique<AlterTableStmt>(Advance().line);
    ExpectWord("table");
    s->table = ObjName();
    if (AcceptWord("add")) {
      if (AtConstraint()) {
        s->action = AlterAction::AddConstraint;
        s->addConstraints.push_back(ConstraintDef(false));
      } else {
        s->action = AlterAction::AddColumns;
        do s->addColumns.push_back(ColumnDefinition());
        while (AcceptPunct(","));
      }
    } else if (AcceptWord("drop")) {
      if (AcceptWord("constraint")) {
        s->action = AlterAction::DropConstraint;
        s->dropConstraint = Name();
      } else {
        s->action = AlterAction::DropColumns;
        do s->dropColumns.push_back(Name());
        while (AcceptPunct(","));
      }
    } else {
      // lock, partition, replace, modify ...: accepted as a whole.
      s->action = AlterAction::Other;
      if (Peek().type != TokenType::Word) Fail(Peek());
      s->otherVerb = Peek().value;
      while (Peek().type != TokenType::End && !AtPunct(";") && !StartsStatement(Peek())) {
        if (Peek().type == TokenType::Error) Fail(Peek());
        Advance();
      }
    }
    return s;
  }

  // ---------------------------------------------------------------------------------------
  // declare / cursors / set

  StmtPtr Declare() {
    const int line = Advance().line;
    if (AtName() && AtWord("cursor", 1)) {
      auto s = std::make_unique<DeclareCursorStmt>(line);
      s->name = Name();
      Advance();
      ExpectWord("for");
      s->select = Select();
      return s;
    }
    auto s = std::make_unique<DeclareStmt>(line);
    do {
      VariableDecl v;
      v.line = Peek().line;
      if (Peek().type != TokenType::Variable) Fail(Peek());
      v.name = std::string(Advance().text);
      AcceptWord("as");
      v.type = Type();
      s->variables.push_back(std::move(v));
    } while (AcceptPunct(","));
    return s;
  }

  StmtPtr Cursor() {
    const Token& verb = Advance();
    std::unique_ptr<CursorStmt> s;
    if (verb.value == "open")
      s = std::make_unique<OpenCursorStmt>(verb.line);
    else if (verb.value == "close")
      s = std::make_unique<CloseCursorStmt>(verb.line);
    else if (verb.value == "fetch")
      s = std::make_unique<FetchCursorStmt>(verb.line);
    else {
      s = std::make_unique<DeallocateCursorStmt>(verb.line);
      AcceptWord("cursor");
    }
    s->name = Name();
    if (s->kind == StmtKind::FetchCursor && AcceptWord("into")) {
      do {
        if (Peek().type != TokenType::Variable) Fail(Peek());
        s->into.push_back(std::string(Advance().text));
      } while (AcceptPunct(","));
    }
    return s;
  }

  bool AtStatementEnd() const {
    const Token& t = Peek();
    return t.type == TokenType::End || t.IsPunct(";") || StartsStatement(t);
  }

  StmtPtr Set() {
    const int line = Advance().line;
    if (Peek().type == TokenType::Variable) {
      auto s = std::make_unique<SetVariableStmt>(line);
      s->variable = std::string(Advance().text);
      ExpectPunct("=");
      s->value = Expression();
      return s;
    }
    auto s = std::make_unique<SetOptionStmt>(line);
    const Token& first = Peek();
    if (first.type != TokenType::Word) Fail(first);
    s->option = Advance().value;
    auto valueToken = [&]() {
      const Token& v = Peek();
      if (v.type == TokenType::Integer || v.type == TokenType::Variable ||
          v.type == TokenType::String || v.type == TokenType::Decimal) {
        s->valueExpr = Primary();
        s->value = v.type == TokenType::String ? v.value : std::string(v.text);
      } else if (v.type == TokenType::Word || v.type == TokenType::QuotedIdent) {
        s->value = v.value;
        Advance();
      } else {
        Fail(v);
      }
    };
    if (s->option == "transaction") {
      ExpectWord("isolation");
      ExpectWord("level");
      s->option = "transaction isolation level";
      if (AtWord("read") || AtWord("repeatable")) {
        std::string a = Advance().value;
        if (Peek().type != TokenType::Word) Fail(Peek());
        s->value = a + " " + Advance().value;
      } else {
        valueToken();
      }
      return s;
    }
    if (s->option == "close") {
      ExpectWord("on");
      ExpectWord("endtran");
      s->option = "close on endtran";
      valueToken();
      return s;
    }
    if (s->option == "statistics" || s->option == "offsets") {
      if (Peek().type != TokenType::Word) Fail(Peek());
      if (s->option == "statistics")
        s->option += " " + Advance().value;
      else
        s->args.push_back(Advance().value);
      while (AcceptPunct(",")) {
        if (Peek().type != TokenType::Word) Fail(Peek());
        s->args.push_back(Advance().value);
      }
      valueToken();
      return s;
    }
    if (s->option == "identity_insert") {
      ObjectName t = ObjName();
      s->args.push_back(t.ToString());
      valueToken();
      return s;
    }
    if (s->option == "char_convert") {
      valueToken();
      if (AcceptWord("with")) {
        if (Peek().type != TokenType::Word) Fail(Peek());
        s->args.push_back(Advance().value);
      }
      return s;
    }
    // Generic shape: set option[, option...] [words] value
    std::vector<std::string> middle;
    while (AcceptPunct(",")) {
      if (Peek().type != TokenType::Word) Fail(Peek());
      middle.push_back(Advance().value);
    }
    if (AtStatementEnd()) Fail(Peek());
    valueToken();
    while (!AtStatementEnd() &&
           (Peek().type == TokenType::Word || IsNumberToken(Peek()) ||
            Peek().type == TokenType::String || Peek().type == TokenType::Variable)) {
      // More words: the earlier ones were arguments (set foo arg value).
      middle.push_back(s->value);
      s->valueExpr.reset();
      valueToken();
    }
    s->args = std::move(middle);
    return s;
  }

  // ---------------------------------------------------------------------------------------
  // control of flow

  StmtPtr If() {
    auto s = std::make_unique<IfStmt>(Advance().line);
    s->condition = Expression();
    s->then = Statement(false);
    while (AcceptPunct(";")) {
    }
    if (AcceptWord("else")) s->otherwise = Statement(false);
    return s;
  }

  StmtPtr While() {
    auto s = std::make_unique<WhileStmt>(Advance().line);
    s->condition = Expression();
    s->body = Statement(false);
    return s;
  }

  StmtPtr Begin() {
    const int line = Advance().line;
    if (AtWord("tran") || AtWord("transaction")) {
      Advance();
      auto s = std::make_unique<BeginTranStmt>(line);
      s->name = TranName();
      return s;
    }
    auto s = std::make_unique<BlockStmt>(line);
    for (;;) {
      while (AcceptPunct(";")) {
      }
      if (AtWord("end")) break;
      if (Peek().type == TokenType::End) Fail(Peek());
      s->body.push_back(Statement(false));
    }
    Advance();
    return s;
  }

  std::string TranName() {
    if (AtName() && !AtPunct(":", 1)) return Name();
    if (Peek().type == TokenType::Variable) return std::string(Advance().text);
    return {};
  }

  StmtPtr EndTran() {
    const Token& verb = Advance();
    std::unique_ptr<TranStmt> s;
    if (verb.value == "commit")
      s = std::make_unique<CommitTranStmt>(verb.line);
    else if (verb.value == "rollback")
      s = std::make_unique<RollbackTranStmt>(verb.line);
    else
      s = std::make_unique<SaveTranStmt>(verb.line);
    if (s->kind == StmtKind::RollbackTran && AcceptWord("trigger")) {
      auto& r = static_cast<RollbackTranStmt&>(*s);
      r.trigger = true;
      if (AcceptWord("with")) {
        if (!AtWord("raiserror")) Fail(Peek());
        r.raiserror = Raiserror();
      }
      return s;
    }
    bool tranWord = AcceptWord("tran") || AcceptWord("transaction");
    if (!tranWord && s->kind != StmtKind::SaveTran) tranWord = AcceptWord("work");
    if (s->kind == StmtKind::SaveTran) {
      if (!tranWord) Fail(Peek());
      s->name = TranName();
      if (s->name.empty()) Fail(Peek());
    } else if (tranWord) {
      s->name = TranName();
    }
    return s;
  }

  bool AtExpressionStart() const {
    const Token& t = Peek();
    switch (t.type) {
      case TokenType::Integer:
      case TokenType::Decimal:
      case TokenType::Float:
      case TokenType::Money:
      case TokenType::String:
      case TokenType::Binary:
      case TokenType::Variable:
      case TokenType::GlobalVariable: return true;
      case TokenType::Punct:
        return t.text == "(" || t.text == "-" || t.text == "+" || t.text == "~" || t.text == "?";
      case TokenType::Word:
        if (t.value == "null" || t.value == "case" || t.value == "convert") return true;
        if (t.value == "tsequal") return AtPunct("(", 1);
        return !t.keyword && AtPunct("(", 1);
      default: return false;
    }
  }

  StmtPtr Return() {
    auto s = std::make_unique<ReturnStmt>(Advance().line);
    if (AtExpressionStart()) s->value = Expression();
    return s;
  }

  StmtPtr Print() {
    auto s = std::make_unique<PrintStmt>(Advance().line);
    s->message = Expression();
    while (AcceptPunct(",")) s->args.push_back(Expression());
    return s;
  }

  StmtPtr Raiserror() {
    auto s = std::make_unique<RaiserrorStmt>(Advance().line);
    if (AtPunct("(")) {
      // raiserror(a, b, ...), unless the parentheses only wrap the number: raiserror (1) 'x'
      std::size_t save = pos_;
      Advance();
      ExprPtr first = Expression();
      if (AtPunct(",")) {
        s->parenthesized = true;
        s->number = std::move(first);
        Advance();
        s->message = Expression();
        while (AcceptPunct(",")) s->args.push_back(Expression());
        ExpectPunct(")");
        return s;
      }
      pos_ = save;
    }
    s->number = Expression();
    if (Peek().type == TokenType::String || Peek().type == TokenType::Variable)
      s->message = Primary();
    while (AcceptPunct(",")) s->args.push_back(Expression());
    if (AtWord("with") && AtWord("errordata", 1)) {
      Advance();
      Advance();
      do SelectListItem();
      while (AcceptPunct(","));
    }
    return s;
  }

  StmtPtr Exec(bool implicit) {
    const int line = Peek().line;
    if (!implicit) Advance();
    if (!implicit && AtPunct("(")) {
      auto s = std::make_unique<ExecStringStmt>(line);
      Advance();
      // Strings and variables joined by '+', each kept apart.
      do s->parts.push_back(Primary());
      while (AcceptPunct("+"));
      ExpectPunct(")");
      return s;
    }
    auto s = std::make_unique<ExecStmt>(line);
    s->implicit = implicit;
    if (!implicit && Peek().type == TokenType::Variable && AtPunct("=", 1)) {
      s->returnVariable = std::string(Advance().text);
      Advance();
    }
    if (!implicit && Peek().type == TokenType::Variable) {
      s->procedure.object = std::string(Advance().text);
    } else {
      s->procedure = ObjName();
    }
    if (AtPunct(";") && Peek(1).type == TokenType::Integer) {
      Advance();
      s->number = SmallInt();
    }
    if (!AtStatementEnd() && !AtWord("with")) {
      do s->args.push_back(ExecArgument());
      while (AcceptPunct(","));
    }
    if (AtWord("with") && AtWord("recompile", 1)) {
      Advance();
      Advance();
      s->recompile = true;
    }
    return s;
  }

  ExecArg ExecArgument() {
    ExecArg a;
    a.line = Peek().line;
    if (Peek().type == TokenType::Variable && AtPunct("=", 1)) {
      a.name = std::string(Advance().text);
      Advance();
    }
    if (AtName() || AtWord("default")) {
      auto c = std::make_unique<ColumnExpr>(Peek().line);
      const Token& t = Advance();
      c->column = t.type == TokenType::QuotedIdent ? t.value : std::string(t.text);
      // exec sp_help dbo.titles: a dotted bare word stays one name.
      while (AtPunct(".") && AtName(1)) {
        Advance();
        c->column += "." + Name();
      }
      a.value = std::move(c);
    } else {
      a.value = Additive();
    }
    if (AcceptWord("output") || AcceptWord("out")) a.output = true;
    return a;
  }

  StmtPtr Waitfor() {
    auto s = std::make_unique<WaitforStmt>(Advance().line);
    const Token& t = Peek();
    if (t.type != TokenType::Word) Fail(t);
    s->what = t.value;
    if (s->what == "delay" || s->what == "time") {
      Advance();
      s->value = Additive();
    } else if (s->what == "errorexit" || s->what == "processexit" || s->what == "mirrorexit") {
      Advance();
    } else {
      Fail(t);
    }
    return s;
  }

  void TextColumn(ObjectName& table, std::string& column) {
    std::vector<std::string> parts = DottedName(5);
    if (parts.size() < 2) Fail(Peek());
    column = parts.back();
    table = ToObjectName(parts, parts.size() - 1);
  }

  StmtPtr Readtext() {
    auto s = std::make_unique<ReadtextStmt>(Advance().line);
    TextColumn(s->table, s->column);
    s->textPointer = Primary();
    s->offset = Unary();
    s->size = Unary();
    for (;;) {
      if (AcceptWord("holdlock") || AcceptWord("readpast") || AcceptWord("shared")) continue;
      if (AcceptWord("using")) {
        if (!AcceptWord("bytes") && !AcceptWord("chars") && !AcceptWord("characters")) Fail(Peek());
        continue;
      }
      if (AtWord("at") && AtWord("isolation", 1)) {
        Advance();
        Advance();
        IsolationLevel();
        continue;
      }
      break;
    }
    return s;
  }

  StmtPtr Writetext() {
    auto s = std::make_unique<WritetextStmt>(Advance().line);
    s->bulk = AcceptWord("bulk");
    TextColumn(s->table, s->column);
    s->textPointer = Primary();
    for (;;) {
      if (AcceptWord("readpast")) continue;
      if (!s->timestamp && AtWord("timestamp") && AtPunct("=", 1)) {
        Advance();
        Advance();
        s->timestamp = Primary();
        continue;
      }
      if (AtWord("with") && AtWord("log", 1)) {
        Advance();
        Advance();
        s->withLog = true;
        continue;
      }
      break;
    }
    // The bulk form's data follows as a bulk message.
    if (!s->bulk) s->data = Primary();
    return s;
  }

  // ---------------------------------------------------------------------------------------
  // Expressions. Precedence, loosest first: or, and, not, comparisons and predicates,
  // + - & | ^, * / %, unary + - ~.

  ExprPtr Expression() {
    DepthGuard guard(*this);
    ExprPtr left = AndExpr();
    ChainGuard chain(*this);
    while (AtWord("or")) {
      chain.Next();
      auto b = std::make_unique<BinaryExpr>(Advance().line);
      b->op = BinaryOp::Or;
      b->left = std::move(left);
      b->right = AndExpr();
      left = std::move(b);
    }
    return left;
  }

  ExprPtr AndExpr() {
    ExprPtr left = NotExpr();
    ChainGuard chain(*this);
    while (AtWord("and")) {
      chain.Next();
      auto b = std::make_unique<BinaryExpr>(Advance().line);
      b->op = BinaryOp::And;
      b->left = std::move(left);
      b->right = NotExpr();
      left = std::move(b);
    }
    return left;
  }

  ExprPtr NotExpr() {
    if (AtWord("not")) {
      DepthGuard guard(*this);
      auto u = std::make_unique<UnaryExpr>(Advance().line);
      u->op = UnaryOp::Not;
      u->operand = NotExpr();
      return u;
    }
    return Predicate();
  }

  std::unique_ptr<SelectStmt> ParenSubquery() {
    ExpectPunct("(");
    auto s = Select();
    ExpectPunct(")");
    return s;
  }

  std::optional<BinaryOp> ComparisonAhead() const {
    const Token& t = Peek();
    if (t.type != TokenType::Punct) return std::nullopt;
    if (t.text == "=") {
      if (AtPunct("*", 1) && Adjacent(0)) return BinaryOp::OuterRight;
      return BinaryOp::Equal;
    }
    if (t.text == "*" && AtPunct("=", 1) && Adjacent(0)) return BinaryOp::OuterLeft;
    if (t.text == "<>" || t.text == "!=") return BinaryOp::NotEqual;
    if (t.text == "<") return BinaryOp::Less;
    if (t.text == ">") return BinaryOp::Greater;
    if (t.text == "<=") return BinaryOp::LessEqual;
    if (t.text == ">=") return BinaryOp::GreaterEqual;
    if (t.text == "!<") return BinaryOp::NotLess;
    if (t.text == "!>") return BinaryOp::NotGreater;
    return std::nullopt;
  }

  ExprPtr Predicate() {
    const int line = Peek().line;
    if (AtWord("exists")) {
      Advance();
      auto e = std::make_unique<ExistsExpr>(line);
      e->subquery = ParenSubquery();
      return e;
    }
    ExprPtr left = Additive();
    if (std::optional<BinaryOp> op = ComparisonAhead()) {
      auto b = std::make_unique<BinaryExpr>(Peek().line);
      Advance();
      if (*op == BinaryOp::OuterLeft || *op == BinaryOp::OuterRight) Advance();
      b->op = *op;
      b->left = std::move(left);
      b->right = Additive();
      return b;
    }
    bool negated = false;
    if (AtWord("not") && (AtWord("like", 1) || AtWord("between", 1) || AtWord("in", 1))) {
      Advance();
      negated = true;
    }
    if (AtWord("like")) {
      auto e = std::make_unique<LikeExpr>(Advance().line);
      e->negated = negated;
      e->operand = std::move(left);
      e->pattern = Additive();
      if (AcceptWord("escape")) e->escape = Additive();
      return e;
    }
    if (AtWord("between")) {
      auto e = std::make_unique<BetweenExpr>(Advance().line);
      e->negated = negated;
      e->operand = std::move(left);
      e->low = Additive();
      ExpectWord("and");
      e->high = Additive();
      return e;
    }
    if (AtWord("in")) {
      auto e = std::make_unique<InExpr>(Advance().line);
      e->negated = negated;
      e->operand = std::move(left);
      if (AtPunct("(") && AtWord("select", 1)) {
        e->subquery = ParenSubquery();
      } else {
        ExpectPunct("(");
        do e->list.push_back(Expression());
        while (AcceptPunct(","));
        ExpectPunct(")");
      }
      return e;
    }
    if (AtWord("is")) {
      auto e = std::make_unique<IsNullExpr>(Advance().line);
      e->negated = AcceptWord("not");
      ExpectWord("null");
      e->operand = std::move(left);
      return e;
    }
    return left;
  }

  ExprPtr Additive() {
    ExprPtr left = Multiplicative();
    ChainGuard chain(*this);
    for (;;) {
      const Token& t = Peek();
      BinaryOp op;
      if (t.IsPunct("+"))
        op = BinaryOp::Add;
      else if (t.IsPunct("-"))
        op = BinaryOp::Subtract;
      else if (t.IsPunct("&"))
        op = BinaryOp::BitAnd;
      else if (t.IsPunct("|"))
        op = BinaryOp::BitOr;
      else if (t.IsPunct("^"))
        op = BinaryOp::BitXor;
      else
        break;
      chain.Next();
      auto b = std::make_unique<BinaryExpr>(Advance().line);
      b->op = op;
      b->left = std::move(left);
      b->right = Multiplicative();
      left = std::move(b);
    }
    return left;
  }

  ExprPtr Multiplicative() {
    ExprPtr left = Unary();
    ChainGuard chain(*this);
    for (;;) {
      const Token& t = Peek();
      BinaryOp op;
      if (t.IsPunct("*") && !(AtPunct("=", 1) && Adjacent(0)))
        op = BinaryOp::Multiply;
      else if (t.IsPunct("/"))
        op = BinaryOp::Divide;
      else if (t.IsPunct("%"))
        op = BinaryOp::Modulo;
      else
        break;
      chain.Next();
      auto b = std::make_unique<BinaryExpr>(Advance().line);
      b->op = op;
      b->left = std::move(left);
      b->right = Unary();
      left = std::move(b);
    }
    return left;
  }

  ExprPtr Unary() {
    const Token& t = Peek();
    if (t.IsPunct("-") || t.IsPunct("+") || t.IsPunct("~")) {
      DepthGuard guard(*this);
      const int line = t.line;
      const bool minus = t.IsPunct("-");
      const bool plus = t.IsPunct("+");
      Advance();
      if (minus && IsNumberToken(Peek())) {
        // Fold the sign into the number so -2147483648 stays an int literal.
        ExprPtr e = Primary();
        auto& lit = e->As<LiteralExpr>();
        if (lit.literal == LiteralKind::Money && !lit.text.empty() && lit.text[0] == '-')
          lit.text.erase(0, 1);
        else
          lit.text.insert(0, "-");
        lit.line = line;
        return e;
      }
      auto u = std::make_unique<UnaryExpr>(line);
      u->op = minus ? UnaryOp::Negate : plus ? UnaryOp::Plus : UnaryOp::BitNot;
      u->operand = Unary();
      return u;
    }
    return Primary();
  }

  ExprPtr Literal(LiteralKind kind, const Token& t) {
    auto e = std::make_unique<LiteralExpr>(t.line);
    e->literal = kind;
    e->text = t.value;
    e->quote = t.quote;
    Advance();
    return e;
  }

  ExprPtr Primary() {
    const Token& t = Peek();
    const int line = t.line;
    switch (t.type) {
      case TokenType::Integer: return Literal(LiteralKind::Integer, t);
      case TokenType::Decimal: return Literal(LiteralKind::Decimal, t);
      case TokenType::Float: return Literal(LiteralKind::Float, t);
      case TokenType::Money: return Literal(LiteralKind::Money, t);
      case TokenType::String: return Literal(LiteralKind::String, t);
      case TokenType::Binary: return Literal(LiteralKind::Binary, t);
      case TokenType::Variable: {
        auto e = std::make_unique<VariableExpr>(line);
        e->name = std::string(Advance().text);
        return e;
      }
      case TokenType::GlobalVariable: {
        auto e = std::make_unique<GlobalVariableExpr>(line);
        e->name = Advance().value;
        return e;
      }
      case TokenType::QuotedIdent: return NameExpression();
      case TokenType::Punct:
        if (t.text == "(") {
          DepthGuard guard(*this);
          if (AtWord("select", 1)) {
            auto e = std::make_unique<SubqueryExpr>(line);
            e->subquery = ParenSubquery();
            return e;
          }
          Advance();
          ExprPtr inner = Expression();
          ExpectPunct(")");
          return inner;
        }
        if (t.text == "?") {
          auto e = std::make_unique<ParameterExpr>(line);
          e->index = ++parameters_;
          Advance();
          return e;
        }
        Fail(t);
      case TokenType::Word: break;
      default: Fail(t);
    }
    const std::string& w = t.value;
    if (w == "null") {
      auto e = std::make_unique<LiteralExpr>(line);
      e->literal = LiteralKind::Null;
      Advance();
      return e;
    }
    if (w == "case") return Case();
    if (w == "convert" && AtPunct("(", 1)) return Convert();
    if (w == "cast" && AtPunct("(", 1)) return Cast();
    if ((w == "count" || w == "count_big" || w == "sum" || w == "avg" || w == "min" ||
         w == "max") &&
        AtPunct("(", 1))
      return Aggregate();
    if (t.keyword) {
      // Reserved words that are also functions.
      if ((w == "coalesce" || w == "nullif" || w == "identity" || w == "user" || w == "tsequal" ||
           w == "update") &&
          AtPunct("(", 1))
        return Function(std::string(), w);
      if (w == "user") {
        Advance();
        auto f = std::make_unique<FunctionExpr>(line);
        f->name = "user";
        return f;
      }
      Fail(t);
    }
    return NameExpression();
  }

  // A column reference, a bare word, or a function call (possibly owner-qualified).
  ExprPtr NameExpression() {
    const int line = Peek().line;
    if (AtName() && AtPunct("(", 1)) {
      std::string name = Advance().value;
      return Function(std::string(), name, line);
    }
    std::vector<std::string> parts = DottedName(5);
    if (parts.size() == 2 && AtPunct("(")) {
      std::string lower;
      for (char c : parts[1]) lower.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
      return Function(parts[0], lower, line);
    }
    auto c = std::make_unique<ColumnExpr>(line);
    c->column = parts.back();
    c->table = ToObjectName(parts, parts.size() - 1);
    return c;
  }

  ExprPtr Function(std::string owner, const std::string& name, int line = 0) {
    if (line == 0) {
      line = Peek().line;
      Advance();
    }
    DepthGuard guard(*this);
    auto f = std::make_unique<FunctionExpr>(line);
    f->name = name;
    f->owner = std::move(owner);
    ExpectPunct("(");
    if (!AtPunct(")")) {
      do f->args.push_back(Expression());
      while (AcceptPunct(","));
    }
    ExpectPunct(")");
    return f;
  }

  ExprPtr Aggregate() {
    DepthGuard guard(*this);
    const Token& t = Advance();
    auto a = std::make_unique<AggregateExpr>(t.line);
    const std::string& w = t.value;
    a->func = w == "count"       ? AggregateFunc::Count
              : w == "count_big" ? AggregateFunc::CountBig
              : w == "sum"       ? AggregateFunc::Sum
              : w == "avg"       ? AggregateFunc::Avg
              : w == "min"       ? AggregateFunc::Min
                                 : AggregateFunc::Max;
    ExpectPunct("(");
    if ((a->func == AggregateFunc::Count || a->func == AggregateFunc::CountBig) && AtPunct("*")) {
      Advance();
      a->star = true;
    } else {
      if (AcceptWord("distinct"))
        a->distinct = true;
      else
        AcceptWord("all");
      a->arg = Expression();
    }
    ExpectPunct(")");
    return a;
  }

  ExprPtr Convert() {
    DepthGuard guard(*this);
    auto c = std::make_unique<ConvertExpr>(Advance().line);
    ExpectPunct("(");
    c->type = Type();
    ExpectPunct(",");
    c->operand = Expression();
    if (AcceptPunct(",")) c->style = Expression();
    ExpectPunct(")");
    return c;
  }

  ExprPtr Cast() {
    DepthGuard guard(*this);
    auto c = std::make_unique<ConvertExpr>(Advance().line);
    c->cast = true;
    ExpectPunct("(");
    c->operand = Expression();
    ExpectWord("as");
    c->type = Type();
    ExpectPunct(")");
    return c;
  }

  ExprPtr Case() {
    DepthGuard guard(*this);
    auto c = std::make_unique<CaseExpr>(Advance().line);
    if (!AtWord("when")) c->operand = Expression();
    if (!AtWord("when")) Fail(Peek());
    while (AcceptWord("when")) {
      CaseWhen w;
      w.when = Expression();
      ExpectWord("then");
      w.then = Expression();
      c->whens.push_back(std::move(w));
    }
    if (AcceptWord("else")) c->otherwise = Expression();
    ExpectWord("end");
    return c;
  }

  std::string_view src_;
  ParseOptions options_;
  std::vector<Token> toks_;
  std::size_t pos_ = 0;
  std::size_t lastEnd_ = 0;
  int depth_ = 0;
  int parameters_ = 0;
};

}  // namespace

ParseResult Parse(std::string_view batch, const ParseOptions& options) {
  ParseResult result;
  try {
    Parser parser(batch, options);
    result.statements = parser.ParseBatch();
  } catch (SyntaxError& e) {
    result.statements.clear();
    result.error = std::move(e.error);
  }
  return result;
}

ExprParseResult ParseExpression(std::string_view text, const ParseOptions& options) {
  ExprParseResult result;
  try {
    Parser parser(text, options);
    result.expr = parser.ParseSingleExpression();
  } catch (SyntaxError& e) {
    result.expr.reset();
    result.error = std::move(e.error);
  }
  return result;
}

}  // namespace sampleserver::sql
