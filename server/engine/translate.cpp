#include "engine/translate.h"

#include "engine/datetime.h"
#include "engine/exact.h"
#include "engine/messages.h"
#include "engine/textptrs.h"
#include "engine/timestamps.h"
#include "engine/values.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

namespace sampleserver {

using storage::QuoteId;
using storage::QuoteText;

namespace {

TypeDesc Builtin(const char* name, std::optional<int> a = std::nullopt,
                 std::optional<int> b = std::nullopt) {
  return *BuiltinType(name, a, b);
}

int Rank(SqlType t) {
  // Sybase's datatype hierarchy: the higher type wins in mixed arithmetic.
  switch (t) {
    case SqlType::Float: return 100;
    case SqlType::Real: return 95;
    case SqlType::Decimal: return 90;
    case SqlType::Numeric: return 89;
    case SqlType::Money: return 80;
    case SqlType::SmallMoney: return 79;
    // Each signed integer ranks above its unsigned counterpart of the same width.
    case SqlType::BigInt: return 70;
    case SqlType::UnsignedBigInt: return 65;
    case SqlType::Int: return 60;
    case SqlType::UnsignedInt: return 55;
    case SqlType::SmallInt: return 50;
    case SqlType::UnsignedSmallInt: return 45;
    case SqlType::TinyInt: return 40;
    case SqlType::Bit: return 30;
    default: return 0;
  }
}

[[noreturn]] void Throw(const SessionImpl&, ServerMessage m) { throw StatementError{std::move(m)}; }

// Numeric, decimal, money and smallmoney values travel in the exact storage form
// (engine/exact.h); the registered syb_x* functions compute on it.
bool IsExact(const TypeDesc& t) {
  return t.IsExactNumeric() || t.type == SqlType::Money || t.type == SqlType::SmallMoney;
}
bool IsApprox(const TypeDesc& t) { return t.type == SqlType::Float || t.type == SqlType::Real; }
bool InExactForm(const Typed& v) { return IsExact(v.type) && !v.intStorage && !v.isNull; }
std::string Code(const TypeDesc& t) {
  return std::to_string(exact::TypeCode(t.type, t.precision, t.scale));
}
std::string ExactLiteral(const NumericValue& n) {
  return "X'" + BytesToHex(exact::Encode(n)) + "'";
}
std::string ExactSql(const Typed& v) {
  if (InExactForm(v) || v.isNull) return v.sql;
  // Integer literals are written in the exact form directly, as index lookups like.
  if (v.type.IsInteger() && !v.sql.empty() &&
      v.sql.find_first_not_of("0123456789", v.sql[0] == '-' ? 1 : 0) == std::string::npos)
    if (auto n = ParseNumeric(v.sql, 38, 0)) return ExactLiteral(*n);
  return "syb_exact(" + v.sql + ")";
}
// Unsigned bigints beyond 2^63-1 are held in the exact form too.
std::string FloatSql(const Typed& v) {
  return InExactForm(v) || v.type.type == SqlType::UnsignedBigInt ? "syb_xfloat(" + v.sql + ")"
                                                                  : v.sql;
}

// A conversion's source type for syb_convert; exact numerics carry their scale.
std::string SourceTypeName(const Typed& v) {
  std::string name = TypeName(v.type);
  if (v.type.IsExactNumeric() && v.type.scale > 0) name += ":" + std::to_string(v.type.scale);
  return name;
}

// Operands compared with each other: an exact value meets a float as a float, and every other
// number or text in the exact form.
void AlignNumbers(const std::vector<Typed*>& items) {
  bool anyExact = false, anyApprox = false;
  for (const Typed* t : items) {
    anyExact = anyExact || InExactForm(*t);
    anyApprox = anyApprox || (IsApprox(t->type) && !t->isNull);
  }
  if (!anyExact) return;
  for (Typed* t : items) {
    if (t->isNull || t->type.IsDateTime() || t->type.IsBinary()) continue;
    t->sql = anyApprox ? FloatSql(*t) : ExactSql(*t);
  }
}

// Integers and money as the exact numeric that holds every value of theirs, for mixed
// arithmetic with numerics.
TypeDesc AsExactType(const TypeDesc& t) {
  if (t.type == SqlType::Money) return *BuiltinType("numeric", 19, 4);
  if (t.type == SqlType::SmallMoney) return *BuiltinType("numeric", 10, 4);
  int digits = t.type == SqlType::UnsignedBigInt                                    ? 20
               : t.type == SqlType::BigInt                                          ? 19
               : t.type == SqlType::Int || t.type == SqlType::UnsignedInt           ? 10
               : t.type == SqlType::SmallInt || t.type == SqlType::UnsignedSmallInt ? 5
               : t.type == SqlType::TinyInt                                         ? 3
                                                                                    : 1;
  return *BuiltinType("numeric", digits, 0);
}

// Integer arithmetic fails with 3606 when the result leaves its type's range (SQLite itself
// turns an int64 overflow into a float, and knows no narrower integers). Unsigned bigint
// arithmetic is exact instead (syb_ubig).
std::string RangeChecked(const std::string& sql, const TypeDesc& t) {
  switch (t.type) {
    case SqlType::Int: return "syb_intrange(" + sql + ", -2147483648, 2147483647)";
    case SqlType::BigInt:
      return "syb_intrange(" + sql + ", -9223372036854775808, 9223372036854775807)";
    case SqlType::UnsignedInt: return "syb_intrange(" + sql + ", 0, 4294967295)";
    default: return sql;
  }
}

// 0: not a number in a form of its own; 1: integer storage; 2: float; 3: the exact form.
std::vector<int> FormsOf(const TranslatedQuery& q) {
  std::vector<int> forms;
  for (size_t i = 0; i < q.types.size(); ++i) {
    const TypeDesc& t = q.types[i];
    forms.push_back(IsExact(t)      ? (q.columns[i].identity ? 1 : 3)
                    : IsApprox(t)   ? 2
                    : t.IsInteger() ? 1
                                    : 0);
  }
  return forms;
}

}  // namespace

TypeDesc VarcharOf(int length) { return Builtin("varchar", std::max(1, std::min(length, 16384))); }
TypeDesc IntType() { return Builtin("int"); }

TypeDesc Promote(const TypeDesc& a, const TypeDesc& b) {
  if (a.IsExactNumeric() && b.IsExactNumeric()) {
    int scale = std::max(a.scale, b.scale);
    int intDigits = std::max(a.precision - a.scale, b.precision - b.scale);
    int prec = std::min(38, intDigits + scale + 1);
    return Builtin("numeric", prec, scale);
  }
  // Integers and money meet an exact numeric as the numeric that holds every value of theirs.
  auto widens = [](const TypeDesc& t) {
    return t.IsInteger() || t.type == SqlType::Money || t.type == SqlType::SmallMoney;
  };
  if (a.IsExactNumeric() && widens(b)) return Promote(a, AsExactType(b));
  if (b.IsExactNumeric() && widens(a)) return Promote(AsExactType(a), b);
  TypeDesc r = Rank(a.type) >= Rank(b.type) ? a : b;
  if (r.type == SqlType::Bit || r.type == SqlType::TinyInt || r.type == SqlType::SmallInt ||
      r.type == SqlType::UnsignedSmallInt)
    return IntType();  // arithmetic on small integers gives int
  return r;
}

// ------------------------------------------------------------------------------------------
// Queries

TranslatedQuery Translator::Select(const sql::SelectStmt& stmt, const Scope* outer) {
  TranslatedQuery out;
  std::optional<int64_t> limit;
  if (!std::exchange(allowCompute, false) && !stmt.computes.empty())
    Throw(s_, s_.Msg(7, {"A compute clause is only allowed in a select that returns rows."}));
  // Only the outermost select: a subquery's columns stay as written.
  wantPointers_ = std::exchange(textPointers, false) && stmt.unions.empty();
  auto sqlText = QuerySpecSql(*stmt.query, outer, out, true, std::nullopt);
  wantPointers_ = false;
  if (!stmt.unions.empty()) {
    // Forms (integer, float, exact) each part gives its columns in.
    std::vector<std::vector<int>> forms{FormsOf(out)};
    std::vector<std::string> partSql;
    for (const auto& u : stmt.unions) {
      TranslatedQuery part;
      std::string p = QuerySpecSql(*u.query, outer, part, false, std::nullopt);
      if (part.columns.size() != out.columns.size()) Throw(s_, s_.Msg(205));
      forms.push_back(FormsOf(part));
      for (size_t i = 0; i < out.columns.size(); ++i) {
        // The widest column of the parts describes the union's column.
        auto& a = out.types[i];
        const auto& b = part.types[i];
        if (a.IsString() && b.IsString())
          a.length = std::max(a.length, b.length);
        else if (a.IsNumeric() && b.IsNumeric())
          a = Promote(a, b);
        out.columns[i].nullable = out.columns[i].nullable || part.columns[i].nullable;
        bool nl = out.columns[i].nullable;
        std::string name = out.columns[i].name;
        out.columns[i] = MakeColumnInfo(name, a, nl);
      }
      partSql.push_back(p);
    }
    // Parts whose numbers are in another form than the union's column are translated again,
    // giving that form, so that UNION's duplicate removal and ORDER BY compare like with like.
    std::vector<int> target = FormsOf(out);
    bool mixed = false;
    for (const auto& f : forms)
      for (size_t i = 0; i < f.size(); ++i)
        if (target[i] != 0 && f[i] != target[i]) mixed = true;
    if (mixed) {
      unionTypes_ = out.types;
      TranslatedQuery again;
      sqlText = QuerySpecSql(*stmt.query, outer, again, true, std::nullopt);
      for (size_t k = 0; k < stmt.unions.size(); ++k) {
        TranslatedQuery part;
        partSql[k] = QuerySpecSql(*stmt.unions[k].query, outer, part, false, std::nullopt);
      }
      unionTypes_.clear();
    }
    for (size_t k = 0; k < stmt.unions.size(); ++k)
      sqlText += (stmt.unions[k].all ? " UNION ALL " : " UNION ") + partSql[k];
  }
  if (!stmt.orderBy.empty()) {
    sqlText += " ORDER BY ";
    bool first = true;
    for (const auto& o : stmt.orderBy) {
      if (!first) sqlText += ", ";
      first = false;
      const auto* lit = o.expr->If<sql::LiteralExpr>();
      if (lit && lit->literal == sql::LiteralKind::Integer) {
        long n = std::strtol(lit->text.c_str(), nullptr, 10);
        if (n < 1 || n > static_cast<long>(out.columns.size())) Throw(s_, s_.Msg(108, {lit->text}));
        sqlText += lit->text;
      } else if (!stmt.unions.empty()) {
        // A compound select orders by its output columns only.
        const auto* col = o.expr->If<sql::ColumnExpr>();
        size_t idx = out.columns.size();
        if (col)
          for (size_t i = 0; i < out.columns.size(); ++i)
            if (out.columns[i].name == col->column) idx = i;
        if (idx == out.columns.size()) Throw(s_, s_.Msg(104));
        sqlText += std::to_string(idx + 1);
      } else {
        // Resolved against the query's FROM; a select-list label is allowed too.
        sqlText += Expr(*o.expr, lastScope_.get()).sql;
      }
      if (o.descending) sqlText += " DESC";
    }
  }
  if (stmt.query->top) {
    Value v = s_.Evaluate(*stmt.query->top);
    if (const auto* n = std::get_if<int64_t>(&v)) limit = *n;
  }
  if (s_.options_.rowcount > 0 && !noLimit && (!limit || *limit > s_.options_.rowcount))
    limit = s_.options_.rowcount;
  if (limit) sqlText += " LIMIT " + std::to_string(std::max<int64_t>(0, *limit));
  out.sql = sqlText;
  return out;
}

std::string Translator::QuerySpecSql(const sql::QuerySpec& q, const Scope* outer,
                                     TranslatedQuery& out, bool, std::optional<int64_t>) {
  Scope scope;
  scope.outer = outer;
  std::string from;
  if (!q.from.empty()) from = From(q.from, scope);
  std::string sql = "SELECT ";
  if (q.distinct) sql += "DISTINCT ";
  std::vector<std::string> items;
  // Text and image columns read straight from a table carry their row's rowid in a hidden
  // column after the others, for the text pointer. Not where rows are merged.
  bool pointers = wantPointers_ && !q.distinct && q.groupBy.empty();
  std::vector<std::string> hidden;
  auto addColumn = [&](const std::string& expr0, const std::string& label, const TypeDesc& t,
                       bool nullable, bool identity, const std::string& table,
                       const Source* src = nullptr, int colid = 0) {
    std::string expr = expr0;
    if (items.size() < unionTypes_.size()) {
      Typed v;
      v.sql = expr0;
      v.type = t;
      v.intStorage = identity && IsExact(t);
      const TypeDesc& to = unionTypes_[items.size()];
      if (IsExact(to) && t.IsNumeric())
        expr = ExactSql(v);
      else if (IsApprox(to))
        expr = FloatSql(v);
    }
    items.push_back(expr + " AS " +
                    QuoteId(label.empty() ? "_c" + std::to_string(items.size()) : label));
    ColumnInfo ci = MakeColumnInfo(label, t, nullable);
    ci.identity = identity;
    BrowseColumn origin;
    if (src && colid > 0)
      for (const auto& m : src->columns)
        if (m.colid == colid) origin = {src->table, m.name};
    out.origins.push_back(origin);
    if (t.IsLob()) ci.table = table;
    if (pointers && t.IsLob() && src && src->tableId != 0 && colid > 0) {
      out.textSources.push_back({out.columns.size(), src->tableId, colid});
      hidden.push_back(QuoteId(src->sqlAlias) + ".rowid");
    }
    out.columns.push_back(ci);
    out.types.push_back(t);
  };
  auto addSource = [&](const Source& src) {
    for (const auto& c : src.columns) {
      std::string ref =
          src.sqlAlias.empty() ? QuoteId(c.name) : QuoteId(src.sqlAlias) + "." + QuoteId(c.name);
      addColumn(ref, c.name, c.type, c.nullable, c.identity, src.table, &src, c.colid);
    }
  };
  for (const auto& item : q.items) {
    switch (item.kind) {
      case sql::SelectItemKind::Star:
        if (scope.sources.empty()) Throw(s_, s_.Msg(263));
        for (const auto& src : scope.sources) addSource(src);
        break;
      case sql::SelectItemKind::TableStar: {
        const Source* found = nullptr;
        for (const auto& src : scope.sources)
          if (src.name == item.table.object || (!src.aliased && src.table == item.table.object))
            found = &src;
        if (!found) Throw(s_, s_.Msg(107, {item.table.object}));
        addSource(*found);
        break;
      }
      case sql::SelectItemKind::Expr:
      case sql::SelectItemKind::Assign: {
        Typed t = Expr(*item.expr, &scope);
        std::string label = item.alias;
        if (label.empty() && item.kind == sql::SelectItemKind::Expr) {
          if (const auto* c = item.expr->If<sql::ColumnExpr>()) label = c->column;
        }
        bool identity = false;
        std::string table;
        const Source* from = nullptr;
        int colid = 0;
        if (const auto* c = item.expr->If<sql::ColumnExpr>()) {
          for (const auto& src : scope.sources)
            for (const auto& col : src.columns)
              if (col.name == c->column && (c->Bare() || c->table.object == src.name)) {
                identity = col.identity;
                table = src.table;
                from = &src;
                colid = col.colid;
              }
        }
        addColumn(t.sql, label, t.type, t.nullable, identity, table, from, colid);
        if (item.kind == sql::SelectItemKind::Assign) out.assignTo.push_back(item.variable);
        break;
      }
    }
  }
  for (const auto& c : out.columns) selectAliases.push_back(c.name);
  for (const auto& h : hidden) items.push_back(h);
  for (size_t i = 0; i < items.size(); ++i) sql += (i ? ", " : "") + items[i];
  if (!from.empty()) sql += " FROM " + from;
  if (q.where) sql += " WHERE " + Predicate(*q.where, &scope);
  if (!q.groupBy.empty()) {
    sql += " GROUP BY ";
    for (size_t i = 0; i < q.groupBy.size(); ++i)
      sql += (i ? ", " : "") + Expr(*q.groupBy[i], &scope).sql;
  }
  if (q.having) sql += " HAVING " + Predicate(*q.having, &scope);
  lastScope_ = std::make_unique<Scope>(std::move(scope));
  return sql;
}

std::string Translator::From(const std::vector<sql::TableRefPtr>& from, Scope& scope) {
  std::string sql;
  for (size_t i = 0; i < from.size(); ++i) {
    if (i) sql += ", ";
    sql += FromItem(*from[i], scope);
  }
  return sql;
}

std::string Translator::FromList(const std::vector<const sql::TableRef*>& refs, Scope& scope) {
  std::string sql;
  for (size_t i = 0; i < refs.size(); ++i) sql += (i ? ", " : "") + FromItem(*refs[i], scope);
  return sql;
}

std::string Translator::TableSql(const SessionImpl::ResolvedTable& t) const {
  return QuoteId(t.meta.schema) + "." +
         QuoteId(t.meta.sqlName.empty() ? t.meta.name : t.meta.sqlName);
}

std::string Translator::FromItem(const sql::TableRef& r, Scope& scope) {
  switch (r.kind) {
    case sql::TableRefKind::Named: {
      auto t = s_.RequireTable(r.name);
      Source src;
      src.table = t.meta.name;
      src.aliased = !r.alias.empty();
      src.name = src.aliased ? r.alias : t.meta.name;
      src.sqlAlias = src.name;
      src.database = t.meta.database;
      src.columns = t.meta.columns;
      if (t.meta.type == "U") src.tableId = t.meta.id;
      scope.sources.push_back(src);
      return TableSql(t) + " AS " + QuoteId(src.sqlAlias);
    }
    case sql::TableRefKind::Derived: {
      Translator inner(s_);
      inner.noLimit = true;
      auto q = inner.Select(*r.derived, scope.outer);
      std::string sub = q.sql;
      Source src;
      src.name = src.table = r.alias;
      src.aliased = true;
      src.sqlAlias = r.alias;
      for (size_t i = 0; i < q.columns.size(); ++i) {
        catalog::ColumnMeta m;
        m.name = q.columns[i].name;
        m.colid = static_cast<int>(i + 1);
        m.type = q.types[i];
        m.nullable = q.columns[i].nullable;
        m.identity = q.columns[i].identity;
        src.columns.push_back(m);
      }
      scope.sources.push_back(src);
      return "(" + sub + ") AS " + QuoteId(r.alias);
    }
    case sql::TableRefKind::Join: {
      std::string left = FromItem(*r.left, scope);
      std::string right = FromItem(*r.right, scope);
      const char* kw = r.join == sql::JoinType::Left    ? " LEFT JOIN "
                       : r.join == sql::JoinType::Right ? " RIGHT JOIN "
                       : r.join == sql::JoinType::Cross ? " CROSS JOIN "
                                                        : " JOIN ";
      std::string sql = left + kw + right;
      if (r.on) sql += " ON " + Predicate(*r.on, &scope);
      return sql;
    }
  }
  return "";
}

// ------------------------------------------------------------------------------------------
// Expressions

std::string Translator::Predicate(const sql::Expr& e, const Scope* scope) {
  return Expr(e, scope).sql;
}

Typed Translator::Column(const sql::ColumnExpr& c, const Scope* scope) {
  for (const Scope* sc = scope; sc; sc = sc->outer) {
    const Source* hitSrc = nullptr;
    const catalog::ColumnMeta* hit = nullptr;
    int hits = 0;
    for (const auto& src : sc->sources) {
      if (!c.Bare()) {
        bool match = src.name == c.table.object || (!src.aliased && src.table == c.table.object);
        if (!match) continue;
      }
      for (const auto& col : src.columns) {
        if (col.name == c.column) {
          hit = &col;
          hitSrc = &src;
          ++hits;
        }
      }
    }
    if (hits > 1 && c.Bare()) Throw(s_, s_.Msg(209, {c.column}));
    if (hit) {
      Typed t;
      t.sql = hitSrc->sqlAlias.empty() ? QuoteId(hit->name)
                                       : QuoteId(hitSrc->sqlAlias) + "." + QuoteId(hit->name);
      t.type = hit->type;
      t.nullable = hit->nullable;
      t.intStorage = hit->identity && IsExact(hit->type);
      return t;
    }
    if (!c.Bare()) {
      bool known = std::any_of(sc->sources.begin(), sc->sources.end(), [&](const Source& s) {
        return s.name == c.table.object || (!s.aliased && s.table == c.table.object);
      });
      if (known) break;
    }
  }
  // An ORDER BY may name a select-list label.
  if (c.Bare() &&
      std::find(selectAliases.begin(), selectAliases.end(), c.column) != selectAliases.end()) {
    Typed t;
    t.sql = QuoteId(c.column);
    t.type = VarcharOf(30);
    return t;
  }
  if (!c.Bare()) {
    bool anySource = false;
    for (const Scope* sc = scope; sc; sc = sc->outer)
      for (const auto& s : sc->sources)
        if (s.name == c.table.object || (!s.aliased && s.table == c.table.object)) anySource = true;
    if (!anySource) Throw(s_, s_.Msg(107, {c.table.object}));
  }
  Throw(s_, s_.Msg(207, {c.column}));
}

void Translator::AlignLiteral(Typed& lit, const Typed& other) {
  if (!lit.isStringLiteral || !other.type.IsDateTime()) return;
  DateFormat fmt = ParseDateFormat(s_.options_.dateformat).value_or(DateFormat::Mdy);
  auto d = ParseDateTime(lit.literal, fmt);
  if (!d) {
    throw StatementError{s_.Msg(249, {"implicit", "VARCHAR", lit.literal, "DATETIME"})};
  }
  lit.sql = QuoteText(DateTimeToStorage(*d));
  lit.type = other.type;
}

std::string Translator::Compare(const char* op, const Typed& l0, const Typed& r0) {
  Typed l = l0, r = r0;
  AlignLiteral(l, r);
  AlignLiteral(r, l);
  AlignNumbers({&l, &r});
  std::string o = op;
  if (!s_.options_.ansinull && (o == "=" || o == "<>")) {
    // Transact-SQL without ansinull: comparing with NULL tests for NULL.
    if (r.isNull) return "(" + l.sql + (o == "=" ? " IS NULL)" : " IS NOT NULL)");
    if (l.isNull) return "(" + r.sql + (o == "=" ? " IS NULL)" : " IS NOT NULL)");
  }
  return "(" + l.sql + " " + o + " " + r.sql + ")";
}

Typed Translator::Binary(const sql::BinaryExpr& b, const Scope* scope) {
  using Op = sql::BinaryOp;
  Typed l = Expr(*b.left, scope);
  Typed r = Expr(*b.right, scope);
  Typed t;
  t.nullable = l.nullable || r.nullable;
  auto cmp = [&](const char* op) {
    t.sql = Compare(op, l, r);
    t.type = IntType();
    return t;
  };
  // Arithmetic whose result is exact is computed by syb_xop; with a float result the exact
  // operands become floats.
  auto arith = [&](int op, const char* sqlOp) {
    if (IsExact(t.type)) {
      t.sql =
          "syb_xop(" + std::to_string(op) + ", " + l.sql + ", " + r.sql + ", " + Code(t.type) + ")";
    } else if (t.type.type == SqlType::UnsignedBigInt) {
      t.sql = "syb_ubig(syb_xop(" + std::to_string(op) + ", " + l.sql + ", " + r.sql + ", 0))";
    } else {
      t.sql = "(" + FloatSql(l) + " " + sqlOp + " " + FloatSql(r) + ")";
      t.sql = RangeChecked(t.sql, t.type);
    }
    return t;
  };
  switch (b.op) {
    case Op::Add:
      if ((l.type.IsString() || l.isNull) && (r.type.IsString() || r.isNull) &&
          !(l.isNull && r.isNull)) {
        t.sql = "(" + l.sql + " || " + r.sql + ")";
        t.type = VarcharOf(l.type.length + r.type.length);
        if (l.type.type == SqlType::Text || r.type.type == SqlType::Text) t.type = Builtin("text");
        return t;
      }
      if (l.type.IsBinary() && r.type.IsBinary()) {
        t.sql = "CAST((" + l.sql + " || " + r.sql + ") AS BLOB)";
        t.type = Builtin("varbinary", std::min(16384, l.type.length + r.type.length));
        return t;
      }
      if (l.type.IsDateTime() || r.type.IsDateTime()) {
        // datetime + n adds days.
        const Typed& d = l.type.IsDateTime() ? l : r;
        const Typed& n = l.type.IsDateTime() ? r : l;
        t.sql = "dateadd('day', " + n.sql + ", " + d.sql + ")";
        t.type = d.type;
        return t;
      }
      t.type = Promote(l.type, r.type);
      return arith(0, "+");
    case Op::Subtract: t.type = Promote(l.type, r.type); return arith(1, "-");
    case Op::Multiply: {
      t.type = Promote(l.type, r.type);
      if (t.type.IsExactNumeric() && l.type.IsNumeric() && r.type.IsNumeric()) {
        TypeDesc a = l.type.IsExactNumeric() ? l.type : AsExactType(l.type);
        TypeDesc c = r.type.IsExactNumeric() ? r.type : AsExactType(r.type);
        t.type = Builtin("numeric", std::min(38, a.precision + c.precision + 1),
                         std::min(38, a.scale + c.scale));
      }
      return arith(2, "*");
    }
    case Op::Divide:
    case Op::Modulo: {
      t.type = Promote(l.type, r.type);
      bool ignore = s_.options_.arithignore && !s_.options_.arithabort;
      const char* fn = b.op == Op::Divide ? "syb_divide" : "syb_modulo";
      if (b.op == Op::Divide && t.type.IsExactNumeric()) {
        int scale = std::max<int>(6, t.type.scale);
        t.type = Builtin("numeric", 38, scale);
      }
      if (IsExact(t.type)) {
        int op = (b.op == Op::Divide ? 3 : 4) | (ignore ? 8 : 0);
        t.sql = "syb_xop(" + std::to_string(op) + ", " + l.sql + ", " + r.sql + ", " +
                Code(t.type) + ")";
      } else if (t.type.type == SqlType::UnsignedBigInt) {
        // Exact, then truncated toward zero as integer division is.
        int op = (b.op == Op::Divide ? 3 : 4) | (ignore ? 8 : 0);
        t.sql = "syb_ubig(syb_xop(" + std::to_string(op) + ", " + l.sql + ", " + r.sql + ", 0))";
      } else if (ignore) {
        t.sql = "(" + FloatSql(l) + (b.op == Op::Divide ? " / " : " % ") + FloatSql(r) + ")";
      } else {
        t.sql = std::string(fn) + "(" + FloatSql(l) + ", " + FloatSql(r) + ")";
      }
      return t;
    }
    case Op::BitAnd:
      t.sql = "(" + l.sql + " & " + r.sql + ")";
      t.type = Promote(l.type, r.type);
      return t;
    case Op::BitOr:
      t.sql = "(" + l.sql + " | " + r.sql + ")";
      t.type = Promote(l.type, r.type);
      return t;
    case Op::BitXor:
      t.sql = "((" + l.sql + " | " + r.sql + ") - (" + l.sql + " & " + r.sql + "))";
      t.type = Promote(l.type, r.type);
      return t;
    case Op::Equal: return cmp("=");
    case Op::NotEqual: return cmp("<>");
    case Op::Less: return cmp("<");
    case Op::Greater: return cmp(">");
    case Op::LessEqual:
    case Op::NotGreater: return cmp("<=");
    case Op::GreaterEqual:
    case Op::NotLess: return cmp(">=");
    // Old-style outer joins are read as inner joins.
    case Op::OuterLeft:
    case Op::OuterRight: return cmp("=");
    case Op::And:
    case Op::Or: {
      // A chain (a or b or c ...) stays one flat parenthesis: SQLite's parser refuses a few
      // dozen nested ones.
      const char* word = b.op == Op::And ? " AND " : " OR ";
      const auto* left = b.left->If<sql::BinaryExpr>();
      if (left && left->op == b.op && l.sql.starts_with('(') && l.sql.ends_with(')'))
        l.sql.pop_back();
      else
        l.sql.insert(0, "(");
      t.sql = l.sql + word + r.sql + ")";
      t.type = IntType();
      return t;
    }
  }
  return t;
}

Typed Translator::Global(const std::string& name) {
  Typed t;
  t.nullable = false;
  auto intVal = [&](int64_t v) {
    t.sql = std::to_string(v);
    t.type = IntType();
    return t;
  };
  auto strVal = [&](const std::string& v, int len) {
    t.sql = QuoteText(v);
    t.type = VarcharOf(len);
    t.isStringLiteral = true;
    t.literal = v;
    return t;
  };
  if (name == "@@rowcount") return intVal(s_.lastRowcount_);
  if (name == "@@error") return intVal(s_.lastError_);
  if (name == "@@identity") {
    t.sql = std::to_string(s_.lastIdentity_);
    t.type = Builtin("numeric", 38, 0);
    t.intStorage = true;
    return t;
  }
  if (name == "@@trancount") return intVal(s_.trancount_);
  if (name == "@@spid") return intVal(s_.spid_);
  if (name == "@@nestlevel") return intVal(s_.nestlevel_);
  if (name == "@@textsize") return intVal(s_.options_.textsize);
  if (name == "@@isolation") return intVal(s_.options_.isolation);
  if (name == "@@sqlstatus") return intVal(s_.sqlstatus_);
  if (name == "@@datefirst") return intVal(s_.options_.datefirst);
  if (name == "@@langid") return intVal(0);
  if (name == "@@maxcharlen") return intVal(4);
  if (name == "@@char_convert") return intVal(0);
  if (name == "@@procid") return intVal(0);
  if (name == "@@tranchained") return intVal(s_.options_.chained ? 1 : 0);
  if (name == "@@transtate") return intVal(s_.trancount_ > 0 ? 0 : 1);
  if (name == "@@max_connections") return intVal(25);
  if (name == "@@servername") return strVal(s_.engine_->config.serverName, 30);
  if (name == "@@version") return strVal(s_.engine_->version, 255);
  if (name == "@@dbts") {
    t.sql = "x'" + BytesToHex(CurrentTimestamp()) + "'";
    t.type = Builtin("varbinary", 8);
    return t;
  }
  if (name == "@@language") return strVal("us_english", 30);
  if (name == "@@client_csname" || name == "@@ncharsize") return strVal("utf8", 30);
  Throw(s_, s_.Msg(137, {name}));
}

Typed Translator::Convert(const sql::ConvertExpr& c, const Scope* scope) {
  Typed v = Expr(*c.operand, scope);
  auto target = s_.ResolveType(c.type);
  if (!target) Throw(s_, s_.Msg(2715, {c.type.name}));
  TypeDesc to = *target;
  // convert(varchar, x) without a length is 30 long.
  if ((to.type == SqlType::Char || to.type == SqlType::VarChar || to.type == SqlType::Binary ||
       to.type == SqlType::VarBinary) &&
      !c.type.length && to.usertype < 100 && to.usertype != 18 && to.usertype != 80)
    to.length = 30;
  Typed t;
  t.type = to;
  t.nullable = v.nullable;
  std::string style = "NULL";
  if (c.style) style = Expr(*c.style, scope).sql;
  std::string src = v.isNull ? "NULL" : QuoteText(SourceTypeName(v));
  if (v.isStringLiteral) src = "'varchar'";
  t.sql = "syb_convert(" + v.sql + ", " + src + ", " + QuoteText(TypeName(to)) + ", " +
          std::to_string(to.length) + ", " +
          (to.IsExactNumeric() ? std::to_string(to.precision) : "NULL") + ", " +
          (to.IsExactNumeric() ? std::to_string(to.scale) : "NULL") + ", " + style + ")";
  return t;
}

Typed Translator::Aggregate(const sql::AggregateExpr& a, const Scope* scope) {
  Typed t;
  const char* distinct = a.distinct ? "DISTINCT " : "";
  if (a.func == sql::AggregateFunc::Count || a.func == sql::AggregateFunc::CountBig) {
    t.nullable = false;
    t.type = a.func == sql::AggregateFunc::Count ? IntType() : Builtin("bigint");
    if (a.star)
      t.sql = "count(*)";
    else
      t.sql = "count(" + std::string(distinct) + Expr(*a.arg, scope).sql + ")";
    return t;
  }
  Typed v = Expr(*a.arg, scope);
  t.nullable = true;
  t.type = AggregateType(a.func, v.type);
  switch (a.func) {
    case sql::AggregateFunc::Sum:
      t.sql = "sum(" + std::string(distinct) + v.sql + ")";
      if (IsExact(v.type))
        t.sql = "syb_exact(syb_xsum(" + std::string(distinct) + v.sql + "), " + Code(t.type) + ")";
      if (v.type.type == SqlType::UnsignedBigInt) {
        t.sql = "syb_ubig(syb_xsum(" + std::string(distinct) + v.sql + "))";
      }
      break;
    case sql::AggregateFunc::Avg:
      if (v.type.type == SqlType::UnsignedBigInt) {
        t.sql = "syb_ubig(syb_xavg(" + std::string(distinct) + v.sql + "))";
      } else if (v.type.IsInteger()) {
        // Sybase's average of integers is an integer, truncated.
        t.sql = "CAST(avg(" + std::string(distinct) + v.sql + ") AS INTEGER)";
      } else if (IsExact(v.type)) {
        t.sql = "syb_exact(syb_xavg(" + std::string(distinct) + v.sql + "), " + Code(t.type) + ")";
      } else {
        t.sql = "avg(" + std::string(distinct) + v.sql + ")";
      }
      break;
    case sql::AggregateFunc::Min:
      t.sql = "min(" + v.sql + ")";
      t.intStorage = v.intStorage;
      break;
    case sql::AggregateFunc::Max:
      t.sql = "max(" + v.sql + ")";
      t.intStorage = v.intStorage;
      break;
    default: break;
  }
  return t;
}

TypeDesc AggregateType(sql::AggregateFunc func, const TypeDesc& arg) {
  if (arg.type == SqlType::UnsignedBigInt &&
      (func == sql::AggregateFunc::Sum || func == sql::AggregateFunc::Avg))
    return arg;
  switch (func) {
    case sql::AggregateFunc::Count: return IntType();
    case sql::AggregateFunc::CountBig: return Builtin("bigint");
    case sql::AggregateFunc::Sum:
      if (arg.IsInteger() && arg.type != SqlType::BigInt) return IntType();
      if (arg.IsExactNumeric()) return Builtin("numeric", 38, arg.scale);
      if (arg.type == SqlType::SmallMoney) return Builtin("money");
      return arg;
    case sql::AggregateFunc::Avg:
      if (arg.IsInteger() && arg.type != SqlType::BigInt) return IntType();
      if (arg.IsExactNumeric()) return Builtin("numeric", 38, std::max<int>(6, arg.scale));
      if (arg.type == SqlType::SmallMoney) return Builtin("money");
      return arg;
    default: return arg;
  }
}

Typed Translator::TextPointerOf(const sql::FunctionExpr& f, const Scope* scope) {
  const auto* c = f.args.size() == 1 ? f.args[0]->If<sql::ColumnExpr>() : nullptr;
  if (!c) Throw(s_, s_.Msg(7, {"textptr() takes one text or image column of a table."}));
  Typed col = Column(*c, scope);
  // The column's own table: the first source, innermost scope first, that has it.
  for (const Scope* sc = scope; sc; sc = sc->outer) {
    for (const auto& src : sc->sources) {
      if (!c->Bare() && src.name != c->table.object &&
          (src.aliased || src.table != c->table.object))
        continue;
      for (const auto& m : src.columns) {
        if (m.name != c->column) continue;
        if (!m.type.IsLob() || src.tableId == 0)
          Throw(s_, s_.Msg(7, {"textptr() takes one text or image column of a table."}));
        Typed t;
        t.sql = "CASE WHEN " + col.sql + " IS NULL THEN NULL ELSE syb_textptr(" +
                std::to_string(src.tableId) + ", " + std::to_string(m.colid) + ", " +
                QuoteId(src.sqlAlias) + ".rowid) END";
        t.type = Builtin("varbinary", static_cast<int>(kTextPointerSize));
        t.nullable = true;
        return t;
      }
    }
  }
  Throw(s_, s_.Msg(207, {c->column}));
}

Typed Translator::TextValid(const sql::FunctionExpr& f, const Scope* scope) {
  if (f.args.size() != 2) Throw(s_, s_.Msg(174, {"textvalid", "2"}));
  const auto* name = f.args[0]->If<sql::LiteralExpr>();
  Typed pointer = Expr(*f.args[1], scope);
  Typed t;
  t.type = IntType();
  t.nullable = false;
  t.sql = "0";
  if (!name || name->literal != sql::LiteralKind::String) return t;
  // 'table.column', the table optionally qualified by database and owner.
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t dot; (dot = name->text.find('.', start)) != std::string::npos; start = dot + 1)
    parts.push_back(name->text.substr(start, dot - start));
  parts.push_back(name->text.substr(start));
  if (parts.size() < 2 || parts.size() > 4) return t;
  sql::ObjectName table;
  table.object = parts[parts.size() - 2];
  if (parts.size() == 4) table.database = parts[0];
  auto resolved = s_.ResolveTable(table);
  if (!resolved || resolved->meta.type != "U") return t;
  const catalog::ColumnMeta* col = resolved->meta.Find(parts.back());
  if (!col || !col->type.IsLob()) return t;
  // Valid while the row it names exists and its value is not NULL.
  t.sql = "(EXISTS (SELECT 1 FROM " + TableSql(*resolved) + " WHERE rowid = syb_textptr_row(" +
          pointer.sql + ", " + std::to_string(resolved->meta.id) + ", " +
          std::to_string(col->colid) + ") AND " + QuoteId(col->name) + " IS NOT NULL))";
  return t;
}

Typed Translator::Function(const sql::FunctionExpr& f, const Scope* scope) {
  const std::string& n = f.name;
  if (n == "update") {
    // update(col) inside a trigger: whether the statement that fired it set the column.
    const auto* col = f.args.size() == 1 ? f.args[0]->If<sql::ColumnExpr>() : nullptr;
    if (!s_.InTrigger() || !col) s_.Fail(195, {"update"});
    Typed t;
    t.sql = s_.ColumnUpdated(col->column) ? "1" : "0";
    t.type = IntType();
    t.nullable = false;
    return t;
  }
  if (n == "textptr") return TextPointerOf(f, scope);
  if (n == "textvalid") return TextValid(f, scope);
  std::vector<Typed> args;
  bool datePart = n == "dateadd" || n == "datediff" || n == "datepart" || n == "datename";
  for (size_t i = 0; i < f.args.size(); ++i) {
    const auto* col = f.args[i]->If<sql::ColumnExpr>();
    if (datePart && i == 0 && col && col->Bare()) {
      Typed p;
      p.sql = QuoteText(col->column);
      p.type = VarcharOf(static_cast<int>(col->column.size()));
      p.nullable = false;
      args.push_back(p);
      continue;
    }
    args.push_back(Expr(*f.args[i], scope));
  }
  auto argList = [&](const std::string& fn) {
    std::string s = fn + "(";
    for (size_t i = 0; i < args.size(); ++i) s += (i ? ", " : "") + args[i].sql;
    return s + ")";
  };
  auto len0 = [&](int def) { return args.empty() ? def : args[0].type.length; };
  Typed t;
  t.nullable = true;
  // Result types as the server describes them.
  static const char* kIntFns[] = {
      "object_id", "col_length",  "db_id",      "user_id",   "suser_id",          "datediff",
      "datepart",  "char_length", "datalength", "len",       "charindex",         "patindex",
      "ascii",     "difference",  "hextoint",   "host_id",   "is_sec_service_on", "tsequal",
      "proc_role", "valid_name",  "valid_user", "textvalid", "isnumeric",         "isdate"};
  static const char* kNameFns[] = {"object_name", "col_name",  "index_col", "db_name", "user_name",
                                   "suser_name",  "host_name", "datename",  "app_name"};
  if (n == "getdate") {
    t.sql = "getdate()";
    t.type = Builtin("datetime");
    t.nullable = false;
    return t;
  }
  if (n == "dateadd") {
    t.sql = argList("dateadd");
    // A smalldatetime, date or time stays of its type; anything else becomes datetime.
    bool keeps = args.size() > 2 && args[2].type.IsDateTime() &&
                 args[2].type.type != SqlType::DateTime && !args[2].isStringLiteral;
    t.type = keeps ? args[2].type : Builtin("datetime");
    return t;
  }
  std::string sqliteName = n;
  bool mine = false;
  for (const char* k : kIntFns)
    if (n == k) {
      t.type = IntType();
      mine = true;
    }
  for (const char* k : kNameFns)
    if (n == k) {
      t.type = VarcharOf(n == "index_col" ? 30 : 30);
      mine = true;
    }
  if (n == "show_role") {
    t.type = VarcharOf(255);
    mine = true;
  }
  if (n == "app_name") {
    t.type = VarcharOf(30);
  }
  std::string registered;
  bool builtin = IsBuiltin(n, &registered);
  // SQL Anywhere's trim, which the toolkit's Anywhere catalog queries call.
  if (!builtin && n == "trim") {
    builtin = true;
    registered = "trim";
    t.type = VarcharOf(args.empty() ? 255 : args[0].type.length);
    mine = true;
  }
  if (builtin) sqliteName = registered;
  bool catalogFn = n == "object_id" || n == "object_name" || n == "col_name" || n == "col_length" ||
                   n == "index_col" || n == "db_id" || n == "db_name" || n == "user_id" ||
                   n == "user_name" || n == "suser_id" || n == "suser_name" || n == "show_role" ||
                   n == "host_name" || n == "host_id" || n == "app_name" || n == "tempdb_id" ||
                   n == "is_sec_service_on" || n == "proc_role" || n == "valid_name" ||
                   n == "valid_user" || n == "tsequal";
  if (!builtin && !catalogFn && n != "avg") {
    Throw(s_, s_.Msg(14216, {n}));
  }
  if (!mine) {
    if (n == "isnull" || n == "coalesce" || n == "nullif") {
      t.type = args.empty() ? IntType() : args[0].type;
      if (!args.empty() && args[0].isNull && args.size() > 1) t.type = args[1].type;
      if (n == "isnull" && args.size() > 1) t.nullable = args[1].nullable;
    } else if (n == "substring" || n == "upper" || n == "lower" || n == "ltrim" || n == "rtrim" ||
               n == "reverse" || n == "left" || n == "right" || n == "replace" || n == "soundex") {
      t.type = VarcharOf(
          n == "soundex" ? 4 : (args.empty() || !args[0].type.IsString() ? 255 : len0(255)));
      if (n == "replace") t.type = VarcharOf(255);
    } else if (n == "stuff" || n == "replicate" || n == "space") {
      t.type = VarcharOf(255);
    } else if (n == "str") {
      t.type = Builtin("char", 10);
    } else if (n == "char") {
      t.type = Builtin("char", 1);
    } else if (n == "inttohex") {
      t.type = VarcharOf(8);
    } else if (n == "abs" || n == "ceiling" || n == "floor" || n == "round" || n == "sign") {
      t.type = args.empty() ? IntType() : args[0].type;
    } else if (n == "rand" || n == "pi" || n == "sqrt" || n == "exp" || n == "log" ||
               n == "log10" || n == "power" || n == "sin" || n == "cos" || n == "tan" ||
               n == "asin" || n == "acos" || n == "atan" || n == "atn2" || n == "cot" ||
               n == "square" || n == "degrees" || n == "radians") {
      t.type = Builtin("float");
      if ((n == "power" || n == "degrees" || n == "radians") && !args.empty())
        t.type = args[0].type;
    } else if (n == "convert") {
      t.type = VarcharOf(255);
    } else {
      t.type = VarcharOf(255);
    }
  }
  const std::string code = Code(t.type);
  if (n == "isnull" || n == "coalesce" || n == "nullif") {
    // Every argument converts to the result's type.
    for (auto& a : args) {
      if (IsExact(t.type))
        a.sql = a.isNull ? a.sql : "syb_exact(" + a.sql + ", " + code + ")";
      else if (IsApprox(t.type))
        a.sql = FloatSql(a);
    }
    t.sql = argList(sqliteName);
    return t;
  }
  if (!args.empty() && InExactForm(args[0]) &&
      (n == "abs" || n == "ceiling" || n == "floor" || n == "round" || n == "sign")) {
    const std::string& x = args[0].sql;
    if (n == "sign")
      t.sql = "syb_xsign(" + x + ")";
    else if (n == "round")
      t.sql = "syb_xround(" + x + ", " + (args.size() > 1 ? args[1].sql : "0") + ", " + code + ")";
    else
      t.sql = "syb_x" + n + "(" + x + ", " + code + ")";
    return t;
  }
  // Other functions take exact arguments as floats, as they compute in float.
  for (auto& a : args) a.sql = FloatSql(a);
  t.sql = argList(sqliteName);
  if (IsExact(t.type)) t.sql = "syb_exact(" + t.sql + ", " + code + ")";
  return t;
}

Typed Translator::Expr(const sql::Expr& e, const Scope* scope) {
  using K = sql::ExprKind;
  Typed t;
  switch (e.kind) {
    case K::Literal: {
      const auto& l = e.As<sql::LiteralExpr>();
      t.nullable = false;
      switch (l.literal) {
        case sql::LiteralKind::Integer: {
          t.sql = l.text;
          errno = 0;
          char* end = nullptr;
          long long v = std::strtoll(l.text.c_str(), &end, 10);
          if (errno == 0 && v <= 2147483647LL) {
            t.type = IntType();
          } else {
            int digits = static_cast<int>(std::min<size_t>(38, l.text.size()));
            t.type = Builtin("numeric", digits, 0);
            if (auto n = ParseNumeric(l.text, 38, 0)) t.sql = ExactLiteral(*n);
          }
          return t;
        }
        case sql::LiteralKind::Decimal: {
          t.sql = l.text;
          if (!t.sql.empty() && t.sql[0] == '.') t.sql = "0" + t.sql;
          if (!t.sql.empty() && t.sql.back() == '.') t.sql += "0";
          size_t dot = l.text.find('.');
          int scale = dot == std::string::npos ? 0 : static_cast<int>(l.text.size() - dot - 1);
          int digits = 0;
          for (char c : l.text)
            if (std::isdigit(static_cast<unsigned char>(c))) ++digits;
          t.type = Builtin("numeric", std::clamp(std::max(digits, scale), 1, 38), scale);
          if (auto n = ParseNumeric(t.sql, 38, static_cast<uint8_t>(std::min(scale, 38))))
            t.sql = ExactLiteral(*n);
          return t;
        }
        case sql::LiteralKind::Float: {
          // A constant beyond the double range would reach SQLite as an infinity: refused as
          // the overflow it is.
          ConvertOptions options;
          options.implicit = true;
          options.from = SqlType::Float;
          sampleserver::Convert(l.text, TypeSpec{SqlType::Float, 8}, options);
          t.sql = l.text;
          t.type = Builtin("float");
          return t;
        }
        case sql::LiteralKind::Money: {
          auto m = ParseMoney(l.text);
          t.sql = ExactLiteral(exact::FromMoney(m ? *m : MoneyValue{}));
          t.type = Builtin("money");
          return t;
        }
        case sql::LiteralKind::String:
          t.sql = QuoteText(l.text);
          t.type = VarcharOf(static_cast<int>(l.text.size()));
          t.isStringLiteral = true;
          t.literal = l.text;
          return t;
        case sql::LiteralKind::Binary: {
          std::string hex = l.text;
          if (hex.size() % 2) hex = "0" + hex;
          t.sql = "X'" + hex + "'";
          t.type = Builtin("varbinary", std::max<int>(1, static_cast<int>(hex.size() / 2)));
          return t;
        }
        case sql::LiteralKind::Null:
          t.sql = "NULL";
          t.type = IntType();
          t.isNull = true;
          t.nullable = true;
          return t;
      }
      return t;
    }
    case K::Column: return Column(e.As<sql::ColumnExpr>(), scope);
    case K::Variable: {
      const auto& v = e.As<sql::VariableExpr>();
      auto it = s_.variables_.find(v.name);
      if (it == s_.variables_.end()) Throw(s_, s_.Msg(137, {v.name}));
      t.type = it->second.type;
      t.nullable = true;
      t.isNull = IsNull(it->second.value);
      t.sql = s_.LiteralSql(it->second.value, it->second.type);
      if (it->second.type.IsString() && !t.isNull) {
        t.isStringLiteral = true;
        t.literal = std::get<std::string>(it->second.value);
      }
      return t;
    }
    case K::GlobalVariable: return Global(e.As<sql::GlobalVariableExpr>().name);
    case K::Unary: {
      const auto& u = e.As<sql::UnaryExpr>();
      Typed o = Expr(*u.operand, scope);
      t.type = o.type;
      t.nullable = o.nullable;
      switch (u.op) {
        case sql::UnaryOp::Negate:
          t.sql = InExactForm(o) ? "syb_xneg(" + o.sql + ", " + Code(o.type) + ")"
                                 : RangeChecked("(- " + o.sql + ")", o.type);  // never "--"
          t.intStorage = o.intStorage;
          break;
        case sql::UnaryOp::Plus:
          t.sql = o.sql;
          t.intStorage = o.intStorage;
          break;
        case sql::UnaryOp::BitNot: t.sql = "(~" + o.sql + ")"; break;
        case sql::UnaryOp::Not:
          t.sql = "(NOT " + o.sql + ")";
          t.type = IntType();
          break;
      }
      return t;
    }
    case K::Binary: return Binary(e.As<sql::BinaryExpr>(), scope);
    case K::Like: {
      const auto& l = e.As<sql::LikeExpr>();
      Typed o = Expr(*l.operand, scope);
      Typed p = Expr(*l.pattern, scope);
      t.type = IntType();
      std::string neg = l.negated ? "NOT " : "";
      bool hasClass = p.isStringLiteral && p.literal.find('[') != std::string::npos;
      if (hasClass && !l.escape) {
        // Character classes: GLOB knows them; % and _ become * and ?.
        std::string g;
        for (char c : p.literal) {
          if (c == '%')
            g += '*';
          else if (c == '_')
            g += '?';
          else if (c == '*')
            g += "[*]";
          else if (c == '?')
            g += "[?]";
          else
            g += c;
        }
        t.sql = "(" + o.sql + " " + neg + "GLOB " + QuoteText(g) + ")";
      } else {
        t.sql = "(" + o.sql + " " + neg + "LIKE " + p.sql;
        if (l.escape) t.sql += " ESCAPE " + Expr(*l.escape, scope).sql;
        t.sql += ")";
      }
      return t;
    }
    case K::Between: {
      const auto& b = e.As<sql::BetweenExpr>();
      Typed o = Expr(*b.operand, scope);
      Typed lo = Expr(*b.low, scope);
      Typed hi = Expr(*b.high, scope);
      AlignLiteral(lo, o);
      AlignLiteral(hi, o);
      AlignNumbers({&o, &lo, &hi});
      t.type = IntType();
      t.sql =
          "(" + o.sql + (b.negated ? " NOT" : "") + " BETWEEN " + lo.sql + " AND " + hi.sql + ")";
      return t;
    }
    case K::In: {
      const auto& in = e.As<sql::InExpr>();
      Typed o = Expr(*in.operand, scope);
      t.type = IntType();
      std::string list;
      if (in.subquery) {
        Translator inner(s_);
        inner.noLimit = true;
        auto q = inner.Select(*in.subquery, scope);
        list = q.sql;
        if (q.types.size() == 1) {
          // The subquery's values meet the operand in one form.
          Typed col;
          col.sql = QuoteId(q.columns[0].name.empty() ? "_c0" : q.columns[0].name);
          col.type = q.types[0];
          col.intStorage = q.columns[0].identity && IsExact(col.type);
          std::string before = col.sql;
          AlignNumbers({&o, &col});
          if (col.sql != before) list = "SELECT " + col.sql + " FROM (" + q.sql + ")";
        }
      } else {
        std::vector<Typed> items;
        for (const auto& x : in.list) {
          items.push_back(Expr(*x, scope));
          AlignLiteral(items.back(), o);
        }
        std::vector<Typed*> all{&o};
        for (auto& x : items) all.push_back(&x);
        AlignNumbers(all);
        for (size_t i = 0; i < items.size(); ++i) list += (i ? ", " : "") + items[i].sql;
      }
      t.sql = "(" + o.sql + (in.negated ? " NOT IN (" : " IN (") + list + "))";
      return t;
    }
    case K::IsNull: {
      const auto& n = e.As<sql::IsNullExpr>();
      t.type = IntType();
      t.sql = "(" + Expr(*n.operand, scope).sql + (n.negated ? " IS NOT NULL)" : " IS NULL)");
      return t;
    }
    case K::Exists: {
      Translator inner(s_);
      inner.noLimit = true;
      auto q = inner.Select(*e.As<sql::ExistsExpr>().subquery, scope);
      t.type = IntType();
      t.sql = "(EXISTS (" + q.sql + "))";
      return t;
    }
    case K::Subquery: {
      Translator inner(s_);
      inner.noLimit = true;
      auto q = inner.Select(*e.As<sql::SubqueryExpr>().subquery, scope);
      if (q.columns.size() != 1) Throw(s_, s_.Msg(116));
      t.type = q.types[0];
      t.sql = "(" + q.sql + ")";
      return t;
    }
    case K::Case: {
      const auto& c = e.As<sql::CaseExpr>();
      std::string sql = "(CASE";
      Typed op;
      if (c.operand) op = Expr(*c.operand, scope);
      bool typed = false;
      std::vector<Typed> whens, thens;
      for (const auto& w : c.whens) {
        whens.push_back(Expr(*w.when, scope));
        if (c.operand) AlignLiteral(whens.back(), op);
        thens.push_back(Expr(*w.then, scope));
        const Typed& tv = thens.back();
        if (!tv.isNull) {
          if (!typed)
            t.type = tv.type;
          else if (t.type.IsString() && tv.type.IsString())
            t.type.length = std::max(t.type.length, tv.type.length);
          else if (t.type.IsNumeric() && tv.type.IsNumeric())
            t.type = Promote(t.type, tv.type);
          typed = true;
        }
      }
      std::optional<Typed> ov;
      if (c.otherwise) {
        ov = Expr(*c.otherwise, scope);
        if (!typed && !ov->isNull) t.type = ov->type;
      }
      if (c.operand) {
        std::vector<Typed*> all{&op};
        for (auto& w : whens) all.push_back(&w);
        AlignNumbers(all);
        sql += " " + op.sql;
      }
      // Every branch gives the result in the result type's form.
      auto branch = [&](const Typed& v) {
        if (IsExact(t.type)) return ExactSql(v);
        return IsApprox(t.type) ? FloatSql(v) : v.sql;
      };
      for (size_t i = 0; i < whens.size(); ++i)
        sql += " WHEN " + whens[i].sql + " THEN " + branch(thens[i]);
      if (ov) sql += " ELSE " + branch(*ov);
      t.sql = sql + " END)";
      return t;
    }
    case K::Function: return Function(e.As<sql::FunctionExpr>(), scope);
    case K::Aggregate: return Aggregate(e.As<sql::AggregateExpr>(), scope);
    case K::Convert: return Convert(e.As<sql::ConvertExpr>(), scope);
    case K::Parameter: Throw(s_, s_.Msg(102, {"?"}));
  }
  return t;
}

std::string Translator::Coerce(const Typed& v0, const TypeDesc& to, bool notNull) {
  Typed v = v0;
  if (v.isNull) return "NULL";
  if (to.IsDateTime() && v.isStringLiteral) {
    Typed target;
    target.type = to;
    AlignLiteral(v, target);
  }
  auto convert = [&] {
    std::string src = v.isStringLiteral ? "'varchar'" : QuoteText(SourceTypeName(v));
    return "syb_convert(" + v.sql + ", " + src + ", " + QuoteText(TypeName(to)) + ", " +
           std::to_string(to.length) + ", " +
           (to.IsExactNumeric() ? std::to_string(to.precision) : "NULL") + ", " +
           (to.IsExactNumeric() ? std::to_string(to.scale) : "NULL") + ", NULL)";
  };
  const TypeDesc& from = v.type;
  // Cut to the declared bytes; NOT NULL char/binary padded, the rest trimmed as varchar.
  const bool fixed = notNull && (to.type == SqlType::Char || to.type == SqlType::Binary);
  auto fit = [&](const std::string& sql) {
    return "syb_fit(" + sql + ", " + QuoteText(TypeName(to)) + ", " + std::to_string(to.length) +
           ", " + (fixed ? "1" : "0") + ")";
  };
  if (to.type == SqlType::VarChar || to.type == SqlType::Char)
    return fit(from.IsString() ? v.sql : convert());
  // An empty value is stored as Sybase stores it: text as one blank, image as one zero byte.
  if (to.type == SqlType::Text) return "syb_lob(" + (from.IsString() ? v.sql : convert()) + ", 0)";
  if (to.type == SqlType::Image) {
    if (v.isStringLiteral && v.literal.empty()) return "X'00'";
    return "syb_lob(" + (from.IsBinary() ? v.sql : convert()) + ", 1)";
  }
  if (to.IsInteger() && from.IsInteger() && to.type != SqlType::Bit && !IsUnsignedType(to.type) &&
      from.type != SqlType::UnsignedBigInt)
    return v.sql;
  if ((to.type == SqlType::Float || to.type == SqlType::Real) &&
      (from.IsInteger() || from.type == SqlType::Float || from.type == SqlType::Real ||
       from.IsExactNumeric()))
    return "CAST(" + FloatSql(v) + " AS REAL)";
  // The exact form does not depend on the scale: a value that fits is stored as it is.
  if (to.IsExactNumeric() && from.IsExactNumeric() && InExactForm(v) && from.scale <= to.scale &&
      (from.precision - from.scale) <= (to.precision - to.scale))
    return v.sql;
  if (to.type == SqlType::Money &&
      (from.type == SqlType::Money || from.type == SqlType::SmallMoney) && InExactForm(v))
    return v.sql;
  if (to.IsDateTime() && from.type == SqlType::DateTime && to.type == SqlType::DateTime)
    return v.sql;
  if (to.type == SqlType::VarBinary || to.type == SqlType::Binary)
    return fit(from.IsBinary() && from.type != SqlType::Image ? v.sql : convert());
  if (to.IsBinary() && from.IsBinary()) return v.sql;
  return convert();
}

}  // namespace sampleserver
