// The sample server's Transact-SQL syntax tree. The parser (parser.h) builds it from one batch;
// the engine walks it. Every node carries the 1-based line, relative to the batch, on which it
// starts, so runtime messages can say "Line %d" the way the server does.
//
// Conventions:
// - Nodes are plain structs owned through std::unique_ptr; a node's `kind` tells which derived
//   struct it is (use As<T>() to downcast; it checks the kind in debug builds).
// - Names keep the spelling of the source (Sybase compares object names case-sensitively on a
//   case-sensitive sort order); keywords and option words are stored lower-cased.
// - An optional part that was not written is an empty string or a null pointer.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sampleserver::sql {

// ---------------------------------------------------------------------------------------------
// Names and types

// server.database.owner.object; `db..t` leaves owner empty. A plain `t` fills only `object`.
struct ObjectName {
  std::string server;
  std::string database;
  std::string owner;
  std::string object;

  bool empty() const { return object.empty(); }
  // The name as written, with empty parts kept as in `db..t`.
  std::string ToString() const;
};

// A datatype as written: a built-in (int, varchar(30), numeric(10,2), double precision, ...)
// or a user type's name. `name` is lower-cased for built-ins and kept as written for user
// types; multi-word built-ins are joined by one space ("double precision"), and the long
// spellings map to the short ones ("integer" -> "int", "character varying" -> "varchar",
// "dec" -> "decimal").
struct DataType {
  std::string name;
  std::optional<int32_t> length;     // char(n), varchar(n), binary(n), float(n)
  std::optional<int32_t> precision;  // numeric(p[,s]), decimal(p[,s])
  std::optional<int32_t> scale;
  int line = 1;

  std::string ToString() const;  // "varchar(30)", "numeric(10,2)", "int"
};

// ---------------------------------------------------------------------------------------------
// Expressions

enum class ExprKind {
  Literal,
  Column,          // also a bare identifier such as a datepart name: dateadd(dd, 1, x)
  Variable,        // @x
  GlobalVariable,  // @@rowcount
  Unary,
  Binary,
  Like,
  Between,
  In,
  IsNull,
  Exists,
  Subquery,  // a scalar subquery: (select ...)
  Case,
  Function,   // any function call other than the forms below
  Aggregate,  // count(*), count([distinct] x), sum, avg, min, max
  Convert,    // convert(type, expr[, style]) and cast(expr as type)
  Parameter,  // ? in a prepared (dynamic) statement
};

struct Expr {
  explicit Expr(ExprKind k, int ln) : kind(k), line(ln) {}
  virtual ~Expr() = default;
  Expr(const Expr&) = delete;
  Expr& operator=(const Expr&) = delete;

  template <class T>
  T& As() {
    assert(kind == T::kKind);
    return static_cast<T&>(*this);
  }
  template <class T>
  const T& As() const {
    assert(kind == T::kKind);
    return static_cast<const T&>(*this);
  }
  template <class T>
  const T* If() const {
    return kind == T::kKind ? static_cast<const T*>(this) : nullptr;
  }

  const ExprKind kind;
  int line;
};
using ExprPtr = std::unique_ptr<Expr>;

struct SelectStmt;  // subqueries

enum class LiteralKind {
  // A minus sign written directly before a number is folded into the literal's text ("-5").
  Integer,  // 42 (text: the digits)
  Decimal,  // 12.50, .5, 3. (text as written: becomes numeric with the written scale)
  Float,    // 1e5, 2.5E-3 (text as written)
  Money,    // $12.50, $-3 (text as written without the '$')
  String,   // 'it''s' or "x" (text: the value, quotes undoubled)
  Binary,   // 0x0aff (text: the hex digits without 0x, possibly odd in count, possibly empty)
  Null,     // NULL
};

enum class QuoteKind { None, Single, Double };

struct LiteralExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Literal;
  explicit LiteralExpr(int ln) : Expr(kKind, ln) {}
  LiteralKind literal = LiteralKind::Null;
  std::string text;
  QuoteKind quote = QuoteKind::None;  // for String
};

// Up to server.db.owner.table.column. `table` qualifies the column: an alias or a table name.
struct ColumnExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Column;
  explicit ColumnExpr(int ln) : Expr(kKind, ln) {}
  ObjectName table;  // empty when unqualified
  std::string column;

  bool Bare() const { return table.empty(); }
};

struct VariableExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Variable;
  explicit VariableExpr(int ln) : Expr(kKind, ln) {}
  std::string name;  // with the leading '@'
};

struct GlobalVariableExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::GlobalVariable;
  explicit GlobalVariableExpr(int ln) : Expr(kKind, ln) {}
  std::string name;  // with the leading "@@", lower-cased
};

enum class UnaryOp { Negate, Plus, BitNot, Not };

struct UnaryExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Unary;
  explicit UnaryExpr(int ln) : Expr(kKind, ln) {}
  UnaryOp op = UnaryOp::Not;
  ExprPtr operand;
};

enum class BinaryOp {
  Add,
  Subtract,
  Multiply,
  Divide,
  Modulo,  // '+' is also string concatenation
  BitAnd,
  BitOr,
  BitXor,
  Equal,
  NotEqual,  // NotEqual: both <> and !=
  Less,
  Greater,
  LessEqual,
  GreaterEqual,
  NotLess,
  NotGreater,  // !<  !>
  And,
  Or,
  OuterLeft,   // *=  (old outer join: all rows of the left side)
  OuterRight,  // =*
};

struct BinaryExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Binary;
  explicit BinaryExpr(int ln) : Expr(kKind, ln) {}
  BinaryOp op = BinaryOp::Equal;
  ExprPtr left;
  ExprPtr right;
};

struct LikeExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Like;
  explicit LikeExpr(int ln) : Expr(kKind, ln) {}
  bool negated = false;
  ExprPtr operand;
  ExprPtr pattern;
  ExprPtr escape;  // null when absent
};

struct BetweenExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Between;
  explicit BetweenExpr(int ln) : Expr(kKind, ln) {}
  bool negated = false;
  ExprPtr operand;
  ExprPtr low;
  ExprPtr high;
};

// x [not] in (a, b, ...) or x [not] in (select ...): exactly one of list / subquery is used.
struct InExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::In;
  explicit InExpr(int ln) : Expr(kKind, ln) {}
  bool negated = false;
  ExprPtr operand;
  std::vector<ExprPtr> list;
  std::unique_ptr<SelectStmt> subquery;
};

struct IsNullExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::IsNull;
  explicit IsNullExpr(int ln) : Expr(kKind, ln) {}
  bool negated = false;  // is not null
  ExprPtr operand;
};

// exists (select ...); `not exists` is a Not around it.
struct ExistsExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Exists;
  explicit ExistsExpr(int ln) : Expr(kKind, ln) {}
  std::unique_ptr<SelectStmt> subquery;
};

struct SubqueryExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Subquery;
  explicit SubqueryExpr(int ln) : Expr(kKind, ln) {}
  std::unique_ptr<SelectStmt> subquery;
};

struct CaseWhen {
  ExprPtr when;  // a value (simple case) or a condition (searched case)
  ExprPtr then;
};

struct CaseExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Case;
  explicit CaseExpr(int ln) : Expr(kKind, ln) {}
  ExprPtr operand;  // simple case: case x when 1 then ...; null for a searched case
  std::vector<CaseWhen> whens;
  ExprPtr otherwise;  // else; null when absent
};

// name(args). Arguments are kept raw: a datepart such as `dd` or `month` is a bare ColumnExpr.
struct FunctionExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Function;
  explicit FunctionExpr(int ln) : Expr(kKind, ln) {}
  std::string name;   // lower-cased
  std::string owner;  // dbo.f(...): the qualifier as written, usually empty
  std::vector<ExprPtr> args;
};

enum class AggregateFunc { Count, CountBig, Sum, Avg, Min, Max };

struct AggregateExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Aggregate;
  explicit AggregateExpr(int ln) : Expr(kKind, ln) {}
  AggregateFunc func = AggregateFunc::Count;
  bool distinct = false;
  bool star = false;  // count(*): arg is null
  ExprPtr arg;
};

struct ConvertExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Convert;
  explicit ConvertExpr(int ln) : Expr(kKind, ln) {}
  bool cast = false;  // written as cast(expr as type)
  DataType type;
  ExprPtr operand;
  ExprPtr style;  // convert's third argument; null when absent
};

// A `?` placeholder of a prepared statement; numbered from 1 in order of appearance in the batch.
struct ParameterExpr : Expr {
  static constexpr ExprKind kKind = ExprKind::Parameter;
  explicit ParameterExpr(int ln) : Expr(kKind, ln) {}
  int index = 1;
};

// ---------------------------------------------------------------------------------------------
// Queries

enum class JoinType { Inner, Left, Right, Cross };

enum class TableRefKind { Named, Derived, Join };

struct TableRef {
  TableRefKind kind = TableRefKind::Named;
  int line = 1;

  // Named: a table or view, with its optional alias and hints as written, lower-cased
  // ("holdlock", "index ix_name", "noholdlock", "readpast", "shared", "prefetch 16", ...).
  ObjectName name;
  std::string alias;
  std::vector<std::string> hints;

  // Derived: (select ...) alias
  std::unique_ptr<SelectStmt> derived;

  // Join: left join-type right [on condition]; cross joins have no condition.
  JoinType join = JoinType::Inner;
  std::unique_ptr<TableRef> left;
  std::unique_ptr<TableRef> right;
  ExprPtr on;
};
using TableRefPtr = std::unique_ptr<TableRef>;

enum class SelectItemKind {
  Expr,       // expr [[as] alias] or alias = expr
  Star,       // *
  TableStar,  // t.* (table holds the qualifier)
  Assign,     // @v = expr (a select that assigns produces no rows)
};

struct SelectItem {
  SelectItemKind kind = SelectItemKind::Expr;
  int line = 1;
  ExprPtr expr;
  std::string alias;     // empty: none written ("alias = expr" and "expr 'alias'" fill it)
  ObjectName table;      // TableStar
  std::string variable;  // Assign, with '@'
  // The expression's source text as written (trimmed): Sybase labels unaliased columns with
  // nothing, but the engine may need the text for messages.
  std::string text;
};

struct OrderItem {
  ExprPtr expr;  // an Integer literal means a select-list position
  bool descending = false;
};

// One select ... from ... where ... group by ... having ... block.
struct QuerySpec {
  int line = 1;
  bool distinct = false;
  ExprPtr top;  // top n; null when absent
  std::vector<SelectItem> items;
  ObjectName into;                // select ... into t; empty when absent
  std::vector<TableRefPtr> from;  // comma list; each entry may be a join tree
  ExprPtr where;
  bool groupByAll = false;
  std::vector<ExprPtr> groupBy;
  ExprPtr having;
};

struct UnionPart {
  bool all = false;
  std::unique_ptr<QuerySpec> query;
};

// ---------------------------------------------------------------------------------------------
// Statements

// clang-format off
enum class StmtKind {
  Select, Insert, Update, Delete, Truncate,
  CreateTable, AlterTable, CreateIndex, CreateView, CreateProcedure, CreateRule, CreateDefault,
  CreateTrigger, Drop,
  Declare, DeclareCursor, OpenCursor, FetchCursor, CloseCursor, DeallocateCursor,
  SetVariable, SetOption,
  If, While, Break, Continue, Block, Return, Goto, Label,
  Print, Raiserror,
  BeginTran, CommitTran, RollbackTran, SaveTran,
  Use, Exec, ExecString,
  Waitfor, Readtext, Writetext, Grant,
  Other,  // accepted and not executed: dump, load, checkpoint, dbcc, setuser, ...
};
// clang-format on

struct Stmt {
  explicit Stmt(StmtKind k, int ln) : kind(k), line(ln) {}
  virtual ~Stmt() = default;
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  template <class T>
  T& As() {
    assert(kind == T::kKind);
    return static_cast<T&>(*this);
  }
  template <class T>
  const T& As() const {
    assert(kind == T::kKind);
    return static_cast<const T&>(*this);
  }
  template <class T>
  const T* If() const {
    return kind == T::kKind ? static_cast<const T*>(this) : nullptr;
  }

  const StmtKind kind;
  int line;
  // Byte offsets into the batch: [begin, end) covers the statement's text from its first token
  // to the end of its last token (a trailing ';' excluded). Create view/procedure/trigger/rule/
  // default keep their text this way for syscomments.
  std::size_t begin = 0;
  std::size_t end = 0;
};
using StmtPtr = std::unique_ptr<Stmt>;

// compute agg(expr) [, agg(expr)...] [by expr [, expr...]]: a summary row after each group of
// the by columns (which lead the order by list), or after the last row without by.
struct ComputeClause {
  int line = 1;
  std::vector<ExprPtr> aggregates;  // each an AggregateExpr: count, sum, avg, min or max
  std::vector<ExprPtr> by;
};

struct SelectStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Select;
  explicit SelectStmt(int ln) : Stmt(kKind, ln) {}
  std::unique_ptr<QuerySpec> query;
  std::vector<UnionPart> unions;  // query union [all] unions[0] union [all] unions[1] ...
  std::vector<OrderItem> orderBy;
  std::vector<ComputeClause> computes;
  bool forBrowse = false;
  bool forUpdate = false;
  std::vector<std::string> forUpdateColumns;  // for update of a, b
  bool forReadOnly = false;
  std::optional<int> isolation;  // at isolation 0..3 (read uncommitted = 0, ... serializable = 3)
};

struct ExecStmt;

struct InsertStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Insert;
  explicit InsertStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName table;
  std::vector<std::string> columns;    // empty: all columns in order
  std::vector<ExprPtr> values;         // insert ... values (...)
  std::unique_ptr<SelectStmt> select;  // insert ... select ...
  std::unique_ptr<ExecStmt> exec;      // insert ... exec proc (accepted; engine may reject)
};

// One assignment of update's set list: a column (possibly qualified) or a variable.
struct SetClause {
  int line = 1;
  ObjectName table;      // qualifier of the column, usually empty
  std::string column;    // empty for a variable
  std::string variable;  // @v = expr, with '@'
  ExprPtr value;
};

struct UpdateStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Update;
  explicit UpdateStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName table;  // may be an alias declared in `from`
  std::vector<SetClause> sets;
  std::vector<TableRefPtr> from;
  ExprPtr where;
  std::string currentOf;  // where current of cursor
};

struct DeleteStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Delete;
  explicit DeleteStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName table;
  std::vector<TableRefPtr> from;  // the second from: delete t from t, u where ...
  ExprPtr where;
  std::string currentOf;
};

struct TruncateStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Truncate;
  explicit TruncateStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName table;
};

enum class ConstraintKind { PrimaryKey, Unique, Check, ForeignKey };
enum class IndexClustering { Unspecified, Clustered, Nonclustered };

// A column or table constraint. A column constraint leaves `columns` empty (it is the column).
struct Constraint {
  int line = 1;
  std::string name;  // constraint name; empty when not given
  ConstraintKind kind = ConstraintKind::PrimaryKey;
  IndexClustering clustering = IndexClustering::Unspecified;
  std::vector<std::string> columns;
  ExprPtr check;
  ObjectName refTable;  // references t [(cols)]
  std::vector<std::string> refColumns;
  std::string checkText;  // the check condition's source text, for sysprocedures/syscomments
};

enum class Nullability { Unspecified, Null, NotNull };

struct ColumnDef {
  int line = 1;
  std::string name;
  DataType type;
  Nullability nullability = Nullability::Unspecified;
  bool identity = false;
  ExprPtr defaultValue;
  std::string defaultText;  // the default's source text as written
  std::vector<Constraint> constraints;
  // A computed column (`c as a + b [materialized]`): no declared type, the expression's.
  ExprPtr computed;
  bool materialized = false;
};

struct CreateTableStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::CreateTable;
  explicit CreateTableStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName table;
  std::vector<ColumnDef> columns;
  std::vector<Constraint> constraints;  // table-level
  std::string segment;                  // on segment (ignored)
};

enum class AlterAction { AddColumns, DropColumns, AddConstraint, DropConstraint, Other };

struct AlterTableStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::AlterTable;
  explicit AlterTableStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName table;
  AlterAction action = AlterAction::Other;
  std::vector<ColumnDef> addColumns;
  std::vector<std::string> dropColumns;
  std::vector<Constraint> addConstraints;
  std::string dropConstraint;
  std::string otherVerb;  // Other: the first word after the table name, lower-cased
};

struct IndexColumn {
  std::string name;
  bool descending = false;
};

struct CreateIndexStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::CreateIndex;
  explicit CreateIndexStmt(int ln) : Stmt(kKind, ln) {}
  bool unique = false;
  IndexClustering clustering = IndexClustering::Unspecified;
  std::string name;
  ObjectName table;
  std::vector<IndexColumn> columns;
  // with-options, lower-cased: "ignore_dup_key", "fillfactor = 80"
  std::vector<std::string> with;
  std::string segment;
};

struct CreateViewStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::CreateView;
  explicit CreateViewStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName name;
  std::vector<std::string> columns;
  std::unique_ptr<SelectStmt> select;
  bool withCheckOption = false;
};

struct ParamDef {
  int line = 1;
  std::string name;  // with '@'
  DataType type;
  ExprPtr defaultValue;  // = default; null when absent (a literal, NULL or a bare word)
  bool output = false;
};

struct CreateProcedureStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::CreateProcedure;
  explicit CreateProcedureStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName name;
  int number = 1;  // name;n
  std::vector<ParamDef> params;
  bool recompile = false;
  std::vector<StmtPtr> body;
};

struct CreateRuleStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::CreateRule;
  explicit CreateRuleStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName name;
  ExprPtr condition;  // refers to the value through one @variable
};

struct CreateDefaultStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::CreateDefault;
  explicit CreateDefaultStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName name;
  ExprPtr value;
};

struct CreateTriggerStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::CreateTrigger;
  explicit CreateTriggerStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName name;
  ObjectName table;
  bool onInsert = false;
  bool onUpdate = false;
  bool onDelete = false;
  std::vector<StmtPtr> body;
};

enum class DropKind { Table, View, Procedure, Index, Rule, Default, Trigger, Database };

struct DropStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Drop;
  explicit DropStmt(int ln) : Stmt(kKind, ln) {}
  DropKind what = DropKind::Table;
  // Every kind but Index: the objects. Index: `table.index` pairs, the table in names[i] and
  // the index name in indexes[i].
  std::vector<ObjectName> names;
  std::vector<std::string> indexes;
};

struct VariableDecl {
  int line = 1;
  std::string name;  // with '@'
  DataType type;
};

struct DeclareStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Declare;
  explicit DeclareStmt(int ln) : Stmt(kKind, ln) {}
  std::vector<VariableDecl> variables;
};

struct DeclareCursorStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::DeclareCursor;
  explicit DeclareCursorStmt(int ln) : Stmt(kKind, ln) {}
  std::string name;
  std::unique_ptr<SelectStmt> select;  // its forUpdate/forReadOnly say what the cursor allows
};

// open / close / deallocate [cursor] name; fetch name [into @a, @b]
struct CursorStmt : Stmt {
  CursorStmt(StmtKind k, int ln) : Stmt(k, ln) {}
  std::string name;
  std::vector<std::string> into;  // fetch only
};
struct OpenCursorStmt : CursorStmt {
  static constexpr StmtKind kKind = StmtKind::OpenCursor;
  explicit OpenCursorStmt(int ln) : CursorStmt(kKind, ln) {}
};
struct FetchCursorStmt : CursorStmt {
  static constexpr StmtKind kKind = StmtKind::FetchCursor;
  explicit FetchCursorStmt(int ln) : CursorStmt(kKind, ln) {}
};
struct CloseCursorStmt : CursorStmt {
  static constexpr StmtKind kKind = StmtKind::CloseCursor;
  explicit CloseCursorStmt(int ln) : CursorStmt(kKind, ln) {}
};
struct DeallocateCursorStmt : CursorStmt {
  static constexpr StmtKind kKind = StmtKind::DeallocateCursor;
  explicit DeallocateCursorStmt(int ln) : CursorStmt(kKind, ln) {}
};

// set @a = expr
struct SetVariableStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::SetVariable;
  explicit SetVariableStmt(int ln) : Stmt(kKind, ln) {}
  std::string variable;  // with '@'
  ExprPtr value;
};

// set <option words> [<args>] <value>. Unknown options keep the same shape; the engine decides.
//   set nocount on                      option "nocount", value "on"
//   set statistics io, time on          option "statistics io", args {"time"}, value "on"
//   set rowcount 10 / set rowcount @n   option "rowcount", valueExpr 10 / @n, value "10" / "@n"
//   set transaction isolation level 1   option "transaction isolation level", value "1"
//   ... level read committed            value "read committed" (valueExpr null)
//   set identity_insert t on            option "identity_insert", args {"t"}, value "on"
//   set dateformat dmy                  option "dateformat", value "dmy"
//   set close on endtran on             option "close on endtran", value "on"
//   set char_convert off / utf8 [with error]   option "char_convert", value "off" / "utf8"
struct SetOptionStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::SetOption;
  explicit SetOptionStmt(int ln) : Stmt(kKind, ln) {}
  std::string option;             // lower-case words joined by one space
  std::vector<std::string> args;  // as written
  std::string value;              // on/off and words lower-cased; numbers/strings as written
  ExprPtr valueExpr;              // numbers, strings and variables; null for words
};

struct IfStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::If;
  explicit IfStmt(int ln) : Stmt(kKind, ln) {}
  ExprPtr condition;
  StmtPtr then;
  StmtPtr otherwise;  // else; null when absent
};

struct WhileStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::While;
  explicit WhileStmt(int ln) : Stmt(kKind, ln) {}
  ExprPtr condition;
  StmtPtr body;
};

struct BreakStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Break;
  explicit BreakStmt(int ln) : Stmt(kKind, ln) {}
};

struct ContinueStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Continue;
  explicit ContinueStmt(int ln) : Stmt(kKind, ln) {}
};

struct BlockStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Block;
  explicit BlockStmt(int ln) : Stmt(kKind, ln) {}
  std::vector<StmtPtr> body;
};

struct ReturnStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Return;
  explicit ReturnStmt(int ln) : Stmt(kKind, ln) {}
  ExprPtr value;  // null when absent
};

struct GotoStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Goto;
  explicit GotoStmt(int ln) : Stmt(kKind, ln) {}
  std::string label;
};

struct LabelStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Label;
  explicit LabelStmt(int ln) : Stmt(kKind, ln) {}
  std::string label;  // without the ':'
};

// print 'format %1!', @a, ...  |  print @v  |  print expr
struct PrintStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Print;
  explicit PrintStmt(int ln) : Stmt(kKind, ln) {}
  ExprPtr message;
  std::vector<ExprPtr> args;
};

// raiserror number ['text' | @v] [, args] [with errordata ...]  and  raiserror(number, ...)
struct RaiserrorStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Raiserror;
  explicit RaiserrorStmt(int ln) : Stmt(kKind, ln) {}
  ExprPtr number;
  ExprPtr message;  // null when absent
  std::vector<ExprPtr> args;
  // Written as raiserror(a, b, ...): number = a, message = b, args = the rest. A string in
  // `number` means the other vendor's raiserror('text', severity, state) form.
  bool parenthesized = false;
};

// begin tran[saction] [name], commit [tran|transaction|work] [name], rollback ..., save tran name
struct TranStmt : Stmt {
  TranStmt(StmtKind k, int ln) : Stmt(k, ln) {}
  std::string name;  // a name or @variable as written; empty when absent
};
struct BeginTranStmt : TranStmt {
  static constexpr StmtKind kKind = StmtKind::BeginTran;
  explicit BeginTranStmt(int ln) : TranStmt(kKind, ln) {}
};
struct CommitTranStmt : TranStmt {
  static constexpr StmtKind kKind = StmtKind::CommitTran;
  explicit CommitTranStmt(int ln) : TranStmt(kKind, ln) {}
};
// rollback trigger [with raiserror ...] undoes only a trigger and the statement that fired it.
struct RollbackTranStmt : TranStmt {
  static constexpr StmtKind kKind = StmtKind::RollbackTran;
  explicit RollbackTranStmt(int ln) : TranStmt(kKind, ln) {}
  bool trigger = false;
  StmtPtr raiserror;  // a RaiserrorStmt; null when absent
};
struct SaveTranStmt : TranStmt {
  static constexpr StmtKind kKind = StmtKind::SaveTran;
  explicit SaveTranStmt(int ln) : TranStmt(kKind, ln) {}
};

struct UseStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Use;
  explicit UseStmt(int ln) : Stmt(kKind, ln) {}
  std::string database;
};

// One argument of exec: positional or @name = value, optionally `output`. A bare word argument
// (exec sp_help titles) is a bare ColumnExpr: Sybase passes it as a string.
struct ExecArg {
  int line = 1;
  std::string name;  // @param, empty when positional
  ExprPtr value;     // a literal, variable, bare word or `default` (a bare ColumnExpr "default")
  bool output = false;
};

// exec[ute] [@ret =] proc[;n] args, or a bare procedure call as a batch's first statement.
struct ExecStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Exec;
  explicit ExecStmt(int ln) : Stmt(kKind, ln) {}
  std::string returnVariable;  // @ret, empty when absent
  ObjectName procedure;        // may name a variable holding the name: object "@p"
  int number = 0;              // proc;n, 0 when not written
  std::vector<ExecArg> args;
  bool recompile = false;  // with recompile
  bool implicit = false;   // written without exec
};

// exec ('string' [+ ...]): dynamic SQL.
struct ExecStringStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::ExecString;
  explicit ExecStringStmt(int ln) : Stmt(kKind, ln) {}
  std::vector<ExprPtr> parts;  // concatenated
};

// waitfor delay 'hh:mm:ss' | time 'hh:mm' | errorexit | processexit | mirrorexit
struct WaitforStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Waitfor;
  explicit WaitforStmt(int ln) : Stmt(kKind, ln) {}
  std::string what;  // "delay", "time" or the exit event, lower-cased
  ExprPtr value;
};

// readtext t.col @ptr offset size [holdlock] [using bytes|chars]
struct ReadtextStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Readtext;
  explicit ReadtextStmt(int ln) : Stmt(kKind, ln) {}
  ObjectName table;
  std::string column;
  ExprPtr textPointer;
  ExprPtr offset;
  ExprPtr size;
};

// writetext [bulk] t.col @ptr [timestamp = ts] [with log] data; the bulk form has no data (it
// follows as a bulk message)
struct WritetextStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Writetext;
  explicit WritetextStmt(int ln) : Stmt(kKind, ln) {}
  bool bulk = false;
  ObjectName table;
  std::string column;
  ExprPtr textPointer;
  ExprPtr timestamp;
  bool withLog = false;
  ExprPtr data;
};

// grant | revoke [grant option for] privileges [on object [(columns)]] to | from names
// [with grant option] [cascade]. Object permissions name the object; command permissions
// (create table, ...) do not.
struct GrantStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Grant;
  explicit GrantStmt(int ln) : Stmt(kKind, ln) {}
  bool revoke = false;
  std::vector<std::string> privileges;  // lower-case: "select", "all", "create table", ...
  ObjectName object;
  std::vector<std::string> columns;   // empty: every column
  std::vector<std::string> grantees;  // as written; "public" lower-cased
  bool withGrantOption = false;       // grant ... with grant option; revoke grant option for
  bool cascade = false;
};

// A statement the server accepts without doing anything (dump, load, checkpoint, dbcc, setuser,
// create database, ...). `verb` is its first word(s), lower-cased.
struct OtherStmt : Stmt {
  static constexpr StmtKind kKind = StmtKind::Other;
  explicit OtherStmt(int ln) : Stmt(kKind, ln) {}
  std::string verb;
};

// ---------------------------------------------------------------------------------------------
// Printing back to Transact-SQL: used for rule/default/check text, view definitions and
// messages. The output parses back to an equal tree; spacing and case are normalised
// (keywords lower-case, operators surrounded by single spaces, parentheses only where needed).
std::string ToSql(const Expr& expr);
std::string ToSql(const DataType& type);
std::string ToSql(const SelectStmt& select);
std::string ToSql(const TableRef& table);

const char* BinaryOpText(BinaryOp op);          // "+", "<>", "and", "*=", ...
const char* AggregateName(AggregateFunc func);  // "count", "sum", ...

}  // namespace sampleserver::sql
