// Translation of Transact-SQL expressions and queries (the parser's tree) into SQLite SQL, with
// the type the server gives every expression.
#pragma once

#include "engine/session.h"

#include <string>
#include <vector>

namespace sampleserver {

// One table of a FROM clause as the translator sees it.
struct Source {
  std::string name;   // the name a qualifier matches: the alias, else the table's name
  std::string table;  // the table's own name (also matches when no alias was given)
  bool aliased = false;
  std::string sqlAlias;  // how SQLite knows it; empty: columns are written bare
  std::string database;
  std::vector<catalog::ColumnMeta> columns;
  int64_t tableId = 0;  // a user table's id (its rows have text pointers); 0 otherwise
};

struct Scope {
  std::vector<Source> sources;
  const Scope* outer = nullptr;
};

class Translator {
 public:
  explicit Translator(SessionImpl& session) : s_(session) {}

  TranslatedQuery Select(const sql::SelectStmt& stmt, const Scope* outer = nullptr);
  Typed Expr(const sql::Expr& e, const Scope* scope);
  // The SQL that stores `v` (already translated) into a column of type `to`: conversions,
  // trimming and rounding as Sybase stores values. A NOT NULL char/binary column is
  // fixed-length (padded); a nullable one stores as varchar/varbinary.
  std::string Coerce(const Typed& v, const TypeDesc& to, bool notNull = false);
  // FROM items into `scope`; returns the SQL of the FROM clause (without the keyword).
  std::string From(const std::vector<sql::TableRefPtr>& from, Scope& scope);
  std::string FromList(const std::vector<const sql::TableRef*>& refs, Scope& scope);
  std::string TableSql(const SessionImpl::ResolvedTable& t) const;
  // Every column name referenced in an ORDER BY may name a select-list alias.
  std::vector<std::string> selectAliases;
  // Subqueries and derived tables ignore set rowcount.
  bool noLimit = false;
  // Only a plain select sends compute rows; the next Select refuses compute clauses otherwise.
  bool allowCompute = false;
  // The query's text and image columns from tables get their rows' rowids (textSources).
  bool textPointers = false;

 private:
  std::string QuerySpecSql(const sql::QuerySpec& q, const Scope* outer, TranslatedQuery& out,
                           bool first, std::optional<int64_t> limit);
  std::string FromItem(const sql::TableRef& r, Scope& scope);
  Typed Column(const sql::ColumnExpr& c, const Scope* scope);
  Typed Binary(const sql::BinaryExpr& b, const Scope* scope);
  Typed Function(const sql::FunctionExpr& f, const Scope* scope);
  Typed TextPointerOf(const sql::FunctionExpr& f, const Scope* scope);
  Typed TextValid(const sql::FunctionExpr& f, const Scope* scope);
  Typed Aggregate(const sql::AggregateExpr& a, const Scope* scope);
  Typed Convert(const sql::ConvertExpr& c, const Scope* scope);
  Typed Global(const std::string& name);
  std::string Compare(const char* op, const Typed& l, const Typed& r);
  // A string literal meeting a datetime: the literal becomes storage text.
  void AlignLiteral(Typed& lit, const Typed& other);
  std::string Predicate(const sql::Expr& e, const Scope* scope);

  SessionImpl& s_;
  std::unique_ptr<Scope> lastScope_;
  // While set, select lists give their columns in these types' forms (union parts).
  std::vector<TypeDesc> unionTypes_;
  bool wantPointers_ = false;
};

// The higher of two numeric types by Sybase's precedence.
TypeDesc Promote(const TypeDesc& a, const TypeDesc& b);
TypeDesc VarcharOf(int length);
TypeDesc IntType();
// The type of an aggregate over values of type `arg` (count: int, whatever the argument).
TypeDesc AggregateType(sql::AggregateFunc func, const TypeDesc& arg);

}  // namespace sampleserver
