// The Transact-SQL front end: each statement shape parses to the expected tree, the texts the
// toolkit sends parse, and malformed batches give the server's message number and line.
#include "sql/parser.h"

#include <gtest/gtest.h>

#include <string>

namespace sampleserver::sql {
namespace {

std::vector<StmtPtr> ParseOk(std::string_view sql, bool quotedIdentifier = false) {
  ParseOptions options;
  options.quotedIdentifier = quotedIdentifier;
  ParseResult r = Parse(sql, options);
  EXPECT_TRUE(r.ok()) << sql << "\n -> " << (r.error ? r.error->text : "");
  return std::move(r.statements);
}

template <class T>
const T& One(std::string_view sql, bool quotedIdentifier = false) {
  // Every tree stays alive until the end of the run, so earlier references stay valid.
  static std::vector<std::vector<StmtPtr>> trees;
  trees.push_back(ParseOk(sql, quotedIdentifier));
  const std::vector<StmtPtr>& keep = trees.back();
  if (keep.size() != 1 || keep[0]->kind != T::kKind) {
    ADD_FAILURE() << "expected one statement of the requested kind: " << sql;
    static T empty(0);
    return empty;
  }
  return keep[0]->As<T>();
}

ExprPtr ExprOk(std::string_view text) {
  ExprParseResult r = ParseExpression(text);
  EXPECT_TRUE(r.ok()) << text << " -> " << (r.error ? r.error->text : "");
  return std::move(r.expr);
}

ParseError ParseFails(std::string_view sql, bool quotedIdentifier = false) {
  ParseOptions options;
  options.quotedIdentifier = quotedIdentifier;
  ParseResult r = Parse(sql, options);
  EXPECT_FALSE(r.ok()) << sql;
  EXPECT_TRUE(r.statements.empty());
  return r.error.value_or(ParseError{0, 0, 0, "", 0});
}

// Canonical text of an expression: the printer is checked separately, so trees can be compared
// through it compactly.
std::string Sql(std::string_view text) {
  ExprPtr e = ExprOk(text);
  return e ? ToSql(*e) : std::string("<error>");
}

// ---------------------------------------------------------------------------------------------
// Literals and tokens

TEST(SqlParserLiterals, KindsAndTexts) {
  struct Case {
    const char* text;
    LiteralKind kind;
    const char* value;
    QuoteKind quote;
  } cases[] = {
      {"42", LiteralKind::Integer, "42", QuoteKind::None},
      {"12.50", LiteralKind::Decimal, "12.50", QuoteKind::None},
      {".5", LiteralKind::Decimal, ".5", QuoteKind::None},
      {"2.5E-3", LiteralKind::Float, "2.5E-3", QuoteKind::None},
      {"1e5", LiteralKind::Float, "1e5", QuoteKind::None},
      {"$12.50", LiteralKind::Money, "12.50", QuoteKind::None},
      {"'it''s'", LiteralKind::String, "it's", QuoteKind::Single},
      {"\"say \"\"hi\"\"\"", LiteralKind::String, "say \"hi\"", QuoteKind::Double},
      {"''", LiteralKind::String, "", QuoteKind::Single},
      {"0x0aFF", LiteralKind::Binary, "0aFF", QuoteKind::None},
      {"0x", LiteralKind::Binary, "", QuoteKind::None},
      {"NULL", LiteralKind::Null, "", QuoteKind::None},
      {"-5", LiteralKind::Integer, "-5", QuoteKind::None},
      {"-2147483648", LiteralKind::Integer, "-2147483648", QuoteKind::None},
      {"- 1.5", LiteralKind::Decimal, "-1.5", QuoteKind::None},
  };
  for (const Case& c : cases) {
    ExprPtr e = ExprOk(c.text);
    ASSERT_TRUE(e) << c.text;
    ASSERT_EQ(e->kind, ExprKind::Literal) << c.text;
    const auto& l = e->As<LiteralExpr>();
    EXPECT_EQ(l.literal, c.kind) << c.text;
    EXPECT_EQ(l.text, c.value) << c.text;
    EXPECT_EQ(l.quote, c.quote) << c.text;
  }
}

TEST(SqlParserLiterals, VariablesParametersAndNames) {
  ExprPtr v = ExprOk("@Total");
  ASSERT_EQ(v->kind, ExprKind::Variable);
  EXPECT_EQ(v->As<VariableExpr>().name, "@Total");
  ExprPtr g = ExprOk("@@ROWCOUNT");
  ASSERT_EQ(g->kind, ExprKind::GlobalVariable);
  EXPECT_EQ(g->As<GlobalVariableExpr>().name, "@@rowcount");

  const auto& ins = One<InsertStmt>("insert t (a, b, c) values (?, 'x', ?)");
  ASSERT_EQ(ins.values.size(), 3u);
  EXPECT_EQ(ins.values[0]->As<ParameterExpr>().index, 1);
  EXPECT_EQ(ins.values[2]->As<ParameterExpr>().index, 2);

  ExprPtr c = ExprOk("srv.pubs2.dbo.titles.price");
  const auto& col = c->As<ColumnExpr>();
  EXPECT_EQ(col.table.server, "srv");
  EXPECT_EQ(col.table.database, "pubs2");
  EXPECT_EQ(col.table.owner, "dbo");
  EXPECT_EQ(col.table.object, "titles");
  EXPECT_EQ(col.column, "price");
  ExprPtr d = ExprOk("pubs2..titles.price");
  EXPECT_EQ(d->As<ColumnExpr>().table.database, "pubs2");
  EXPECT_EQ(d->As<ColumnExpr>().table.owner, "");
  EXPECT_EQ(d->As<ColumnExpr>().table.object, "titles");
  ExprPtr temp = ExprOk("#work.a$b");
  EXPECT_EQ(temp->As<ColumnExpr>().table.object, "#work");
  EXPECT_EQ(temp->As<ColumnExpr>().column, "a$b");
}

TEST(SqlParserLiterals, CommentsNestAndLinesCount) {
  auto stmts = ParseOk(
      "-- leading comment\n"
      "select 1 /* one /* nested */ still comment */\n"
      "\n"
      "select 'two\nlines'\n"
      "select 3 -- trailing");
  ASSERT_EQ(stmts.size(), 3u);
  EXPECT_EQ(stmts[0]->line, 2);
  EXPECT_EQ(stmts[1]->line, 4);
  EXPECT_EQ(stmts[2]->line, 6);
  const auto& s = stmts[1]->As<SelectStmt>();
  EXPECT_EQ(s.query->items[0].expr->As<LiteralExpr>().text, "two\nlines");
}

TEST(SqlParserLiterals, QuotedIdentifierOption) {
  const auto& off = One<SelectStmt>("select \"a b\" from t");
  EXPECT_EQ(off.query->items[0].expr->As<LiteralExpr>().text, "a b");
  const auto& on = One<SelectStmt>("select \"a b\" from \"my table\"", true);
  EXPECT_EQ(on.query->items[0].expr->As<ColumnExpr>().column, "a b");
  EXPECT_EQ(on.query->from[0]->name.object, "my table");
  // With the option on a quoted reserved word is a plain name.
  const auto& kw = One<SelectStmt>("select \"select\" from t", true);
  EXPECT_EQ(kw.query->items[0].expr->As<ColumnExpr>().column, "select");
}

// ---------------------------------------------------------------------------------------------
// Expressions

TEST(SqlParserExpressions, PrecedenceAndAssociativity) {
  ExprPtr e = ExprOk("1 + 2 * 3");
  const auto& add = e->As<BinaryExpr>();
  EXPECT_EQ(add.op, BinaryOp::Add);
  EXPECT_EQ(add.right->As<BinaryExpr>().op, BinaryOp::Multiply);

  ExprPtr s = ExprOk("10 - 4 - 3");
  const auto& outer = s->As<BinaryExpr>();
  EXPECT_EQ(outer.right->As<LiteralExpr>().text, "3");
  EXPECT_EQ(outer.left->As<BinaryExpr>().op, BinaryOp::Subtract);

  ExprPtr b = ExprOk("a = 1 or b = 2 and not c = 3");
  const auto& orE = b->As<BinaryExpr>();
  EXPECT_EQ(orE.op, BinaryOp::Or);
  const auto& andE = orE.right->As<BinaryExpr>();
  EXPECT_EQ(andE.op, BinaryOp::And);
  EXPECT_EQ(andE.right->As<UnaryExpr>().op, UnaryOp::Not);

  EXPECT_EQ(Sql("(1 + 2) * 3"), "(1 + 2) * 3");
  EXPECT_EQ(Sql("a - (b - c)"), "a - (b - c)");
  EXPECT_EQ(Sql("-x * ~y"), "-x * ~y");
  EXPECT_EQ(Sql("a & b | c ^ d"), "a & b | c ^ d");
  EXPECT_EQ(Sql("a % 3 / 2"), "a % 3 / 2");
}

TEST(SqlParserExpressions, Comparisons) {
  struct {
    const char* text;
    BinaryOp op;
  } cases[] = {
      {"a = b", BinaryOp::Equal},         {"a <> b", BinaryOp::NotEqual},
      {"a != b", BinaryOp::NotEqual},     {"a < b", BinaryOp::Less},
      {"a > b", BinaryOp::Greater},       {"a <= b", BinaryOp::LessEqual},
      {"a >= b", BinaryOp::GreaterEqual}, {"a !< b", BinaryOp::NotLess},
      {"a !> b", BinaryOp::NotGreater},   {"a *= b", BinaryOp::OuterLeft},
      {"a =* b", BinaryOp::OuterRight},   {"a*=b", BinaryOp::OuterLeft},
  };
  for (const auto& c : cases) {
    ExprPtr e = ExprOk(c.text);
    ASSERT_EQ(e->kind, ExprKind::Binary) << c.text;
    EXPECT_EQ(e->As<BinaryExpr>().op, c.op) << c.text;
  }
  // With a space, * and = are multiplication and comparison again.
  ExprPtr m = ExprOk("a * 2 = b");
  EXPECT_EQ(m->As<BinaryExpr>().op, BinaryOp::Equal);
  EXPECT_EQ(m->As<BinaryExpr>().left->As<BinaryExpr>().op, BinaryOp::Multiply);
}

TEST(SqlParserExpressions, Predicates) {
  ExprPtr like = ExprOk("title not like '%50!%%' escape '!'");
  const auto& l = like->As<LikeExpr>();
  EXPECT_TRUE(l.negated);
  EXPECT_EQ(l.pattern->As<LiteralExpr>().text, "%50!%%");
  EXPECT_EQ(l.escape->As<LiteralExpr>().text, "!");

  ExprPtr between = ExprOk("price between 10 and 20 and x = 1");
  const auto& andE = between->As<BinaryExpr>();
  ASSERT_EQ(andE.op, BinaryOp::And);
  const auto& bt = andE.left->As<BetweenExpr>();
  EXPECT_FALSE(bt.negated);
  EXPECT_EQ(bt.low->As<LiteralExpr>().text, "10");
  EXPECT_EQ(bt.high->As<LiteralExpr>().text, "20");

  ExprPtr in = ExprOk("type not in ('U', 'S', 'V')");
  const auto& i = in->As<InExpr>();
  EXPECT_TRUE(i.negated);
  ASSERT_EQ(i.list.size(), 3u);
  EXPECT_EQ(i.list[2]->As<LiteralExpr>().text, "V");
  EXPECT_FALSE(i.subquery);

  ExprPtr inSub = ExprOk("id in (select id from sysobjects where type = 'U')");
  ASSERT_TRUE(inSub->As<InExpr>().subquery);
  EXPECT_EQ(inSub->As<InExpr>().subquery->query->from[0]->name.object, "sysobjects");

  ExprPtr isNull = ExprOk("advance is not null");
  EXPECT_TRUE(isNull->As<IsNullExpr>().negated);
  EXPECT_EQ(isNull->As<IsNullExpr>().operand->As<ColumnExpr>().column, "advance");

  ExprPtr notExists = ExprOk("not exists (select * from t where t.a = u.a)");
  const auto& n = notExists->As<UnaryExpr>();
  EXPECT_EQ(n.op, UnaryOp::Not);
  EXPECT_TRUE(n.operand->As<ExistsExpr>().subquery->query->where);

  ExprPtr scalar = ExprOk("(select max(price) from titles) * 2");
  EXPECT_EQ(scalar->As<BinaryExpr>().left->kind, ExprKind::Subquery);
}

TEST(SqlParserExpressions, CaseFunctionsConvertAggregates) {
  ExprPtr simple = ExprOk("case type when 'U' then 'table' when 'V' then 'view' else '?' end");
  const auto& c = simple->As<CaseExpr>();
  ASSERT_TRUE(c.operand);
  ASSERT_EQ(c.whens.size(), 2u);
  EXPECT_EQ(c.whens[1].then->As<LiteralExpr>().text, "view");
  ASSERT_TRUE(c.otherwise);

  ExprPtr searched = ExprOk("case when a > 1 then 1 end");
  EXPECT_FALSE(searched->As<CaseExpr>().operand);
  EXPECT_EQ(searched->As<CaseExpr>().whens[0].when->As<BinaryExpr>().op, BinaryOp::Greater);
  EXPECT_FALSE(searched->As<CaseExpr>().otherwise);

  ExprPtr f = ExprOk("DATEADD(dd, 1, getdate())");
  const auto& fn = f->As<FunctionExpr>();
  EXPECT_EQ(fn.name, "dateadd");
  ASSERT_EQ(fn.args.size(), 3u);
  EXPECT_TRUE(fn.args[0]->As<ColumnExpr>().Bare());
  EXPECT_EQ(fn.args[0]->As<ColumnExpr>().column, "dd");
  EXPECT_EQ(fn.args[2]->As<FunctionExpr>().name, "getdate");
  EXPECT_TRUE(fn.args[2]->As<FunctionExpr>().args.empty());

  ExprPtr month = ExprOk("datename(month, pubdate)");
  EXPECT_EQ(month->As<FunctionExpr>().args[0]->As<ColumnExpr>().column, "month");

  ExprPtr conv = ExprOk("convert(varchar(10), pubdate, 101)");
  const auto& cv = conv->As<ConvertExpr>();
  EXPECT_FALSE(cv.cast);
  EXPECT_EQ(cv.type.name, "varchar");
  EXPECT_EQ(cv.type.length, 10);
  EXPECT_EQ(cv.style->As<LiteralExpr>().text, "101");

  ExprPtr cast = ExprOk("cast(price as numeric(10,2))");
  const auto& ca = cast->As<ConvertExpr>();
  EXPECT_TRUE(ca.cast);
  EXPECT_EQ(ca.type.name, "numeric");
  EXPECT_EQ(ca.type.precision, 10);
  EXPECT_EQ(ca.type.scale, 2);
  EXPECT_FALSE(ca.type.length);

  ExprPtr star = ExprOk("count(*)");
  EXPECT_TRUE(star->As<AggregateExpr>().star);
  EXPECT_FALSE(star->As<AggregateExpr>().arg);
  ExprPtr distinct = ExprOk("COUNT(DISTINCT type)");
  EXPECT_TRUE(distinct->As<AggregateExpr>().distinct);
  EXPECT_EQ(distinct->As<AggregateExpr>().func, AggregateFunc::Count);
  EXPECT_EQ(ExprOk("avg(price)")->As<AggregateExpr>().func, AggregateFunc::Avg);
  EXPECT_EQ(ExprOk("max(x)")->As<AggregateExpr>().func, AggregateFunc::Max);

  ExprPtr user = ExprOk("user");
  EXPECT_EQ(user->As<FunctionExpr>().name, "user");
  ExprPtr isnull = ExprOk("isnull((select 1), 0)");
  EXPECT_EQ(isnull->As<FunctionExpr>().args[0]->kind, ExprKind::Subquery);
  ExprPtr typeNames = ExprOk("convert(double precision, x) + convert(char varying(5), y)");
  EXPECT_EQ(typeNames->As<BinaryExpr>().left->As<ConvertExpr>().type.name, "double precision");
  EXPECT_EQ(typeNames->As<BinaryExpr>().right->As<ConvertExpr>().type.name, "varchar");
}

TEST(SqlParserExpressions, PrintsBackToEquivalentText) {
  const char* texts[] = {
      "a + b * c - d",
      "(a + b) * (c - d)",
      "not (a = 1 or b = 2) and c <> 3",
      "x like 'a%' escape '\\'",
      "y not between 1 and 2",
      "z in (1, 2, 3)",
      "w is null",
      "case v when 1 then 'one' else 'many' end",
      "convert(char(10), d, 101)",
      "cast(d as varchar(5))",
      "count(distinct a) + sum(b)",
      "'it''s' + \"q\"",
      "a - -1",
      "- -a",
      "$5.25 + 0x1f",
      "exists (select * from t where t.a *= u.b)",
      "(select max(p) from t) / 2",
      "db..t.c + srv.db.o.t.c",
  };
  for (const char* text : texts) {
    std::string once = Sql(text);
    std::string twice = Sql(once);
    EXPECT_EQ(once, twice) << text;
  }
  EXPECT_EQ(Sql("'it''s' + \"q\""), "'it''s' + 'q'");
  EXPECT_EQ(Sql("- -a"), "- -a");
  EXPECT_EQ(Sql("NOT (A = 1 OR B = 2)"), "not (A = 1 or B = 2)");
  EXPECT_EQ(Sql("a=1 and (b=2 or c=3)"), "a = 1 and (b = 2 or c = 3)");
}

// ---------------------------------------------------------------------------------------------
// select

TEST(SqlParserExpressions, NegativeMoneyPrintsBackToItself) {
  // Found by fuzzing: "- -$5." printed as "-$-5.", which parses as $5.
  for (const char* text : {"-$5.", "- -$5.", "$-5", "-($2.50)"}) {
    const std::string printed = Sql(text);
    EXPECT_EQ(Sql(printed), printed) << text;
  }
  EXPECT_EQ(Sql("$-5"), "-$5");
  EXPECT_EQ(Sql("- -$5."), "- -$5.");
}

TEST(SqlParserSelect, ItemsAliasesAndAssignments) {
  const auto& s = One<SelectStmt>(
      "select distinct top 5 *, t.*, dbo.t.*, total = price * qty, price p, qty as q, "
      "'Heading' = 1, 2 'x', @v = 3 from titles t");
  const QuerySpec& q = *s.query;
  EXPECT_TRUE(q.distinct);
  ASSERT_TRUE(q.top);
  EXPECT_EQ(q.top->As<LiteralExpr>().text, "5");
  ASSERT_EQ(q.items.size(), 9u);
  EXPECT_EQ(q.items[0].kind, SelectItemKind::Star);
  EXPECT_EQ(q.items[1].kind, SelectItemKind::TableStar);
  EXPECT_EQ(q.items[1].table.object, "t");
  EXPECT_EQ(q.items[2].table.owner, "dbo");
  EXPECT_EQ(q.items[2].table.object, "t");
  EXPECT_EQ(q.items[3].alias, "total");
  EXPECT_EQ(q.items[3].expr->As<BinaryExpr>().op, BinaryOp::Multiply);
  EXPECT_EQ(q.items[4].alias, "p");
  EXPECT_EQ(q.items[5].alias, "q");
  EXPECT_EQ(q.items[6].alias, "Heading");
  EXPECT_EQ(q.items[7].alias, "x");
  EXPECT_EQ(q.items[8].kind, SelectItemKind::Assign);
  EXPECT_EQ(q.items[8].variable, "@v");
  EXPECT_EQ(q.items[3].text, "price * qty");
  EXPECT_EQ(q.from[0]->alias, "t");

  // `top` is only a clause before a number.
  const auto& topCol = One<SelectStmt>("select top from t");
  EXPECT_FALSE(topCol.query->top);
  EXPECT_EQ(topCol.query->items[0].expr->As<ColumnExpr>().column, "top");
}

TEST(SqlParserSelect, ParenthesisedConditionItemsPrintBackParseable) {
  // Found by fuzzing: the parentheses were dropped, and `select 0 = '1xf'` does not parse.
  const auto& s = One<SelectStmt>("select (0 = '1xf'), (a like 'x%')");
  const std::string printed = ToSql(s);
  EXPECT_EQ(printed, "select (0 = '1xf'), (a like 'x%')");
  EXPECT_EQ(ToSql(ParseOk(printed)[0]->As<SelectStmt>()), printed);
}

TEST(SqlParserSelect, DelimitedNamesPrintBackInBrackets) {
  // Found by fuzzing: a function named in brackets printed bare.
  const auto& s = One<SelectStmt>(
      "select [a b]]c], t.[select], [f g](1), x from [my db]..[t x] t where [k] = 1");
  const std::string printed = ToSql(s);
  EXPECT_EQ(printed, "select [a b]]c], t.[select], [f g](1), x from [my db]..[t x] t where k = 1");
  EXPECT_EQ(ToSql(ParseOk(printed)[0]->As<SelectStmt>()), printed);
}

TEST(SqlParserSelect, ComputeClausesPrintBack) {
  const auto& s = One<SelectStmt>(
      "select type, price from titles order by type, price "
      "compute sum(price), avg(price) by type compute max(price) for browse");
  ASSERT_EQ(s.computes.size(), 2u);
  EXPECT_EQ(s.computes[0].aggregates.size(), 2u);
  EXPECT_EQ(s.computes[0].by.size(), 1u);
  EXPECT_TRUE(s.computes[1].by.empty());
  EXPECT_TRUE(s.forBrowse);
  const std::string printed = ToSql(s);
  EXPECT_EQ(printed,
            "select type, price from titles order by type, price compute sum(price), "
            "avg(price) by type compute max(price) for browse");
  EXPECT_EQ(ToSql(ParseOk(printed)[0]->As<SelectStmt>()), printed);
}

TEST(SqlParserSelect, ClausesAndUnion) {
  const auto& s = One<SelectStmt>(
      "select type, count(*) into #counts from titles where price > $10 group by all type "
      "having count(*) > 1 union all select 'x', 0 union select 'y', 1 "
      "order by 2 desc, type asc, 1 for browse");
  const QuerySpec& q = *s.query;
  EXPECT_EQ(q.into.object, "#counts");
  ASSERT_TRUE(q.where);
  EXPECT_TRUE(q.groupByAll);
  ASSERT_EQ(q.groupBy.size(), 1u);
  ASSERT_TRUE(q.having);
  ASSERT_EQ(s.unions.size(), 2u);
  EXPECT_TRUE(s.unions[0].all);
  EXPECT_FALSE(s.unions[1].all);
  ASSERT_EQ(s.orderBy.size(), 3u);
  EXPECT_TRUE(s.orderBy[0].descending);
  EXPECT_EQ(s.orderBy[0].expr->As<LiteralExpr>().literal, LiteralKind::Integer);
  EXPECT_FALSE(s.orderBy[1].descending);
  EXPECT_TRUE(s.forBrowse);

  const auto& u = One<SelectStmt>("select a from t for update of a, t.b");
  EXPECT_TRUE(u.forUpdate);
  EXPECT_EQ(u.forUpdateColumns, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(One<SelectStmt>("select a from t at isolation read uncommitted").isolation, 0);
  EXPECT_EQ(One<SelectStmt>("select a from t at isolation serializable").isolation, 3);
  EXPECT_TRUE(One<SelectStmt>("select a from t for read only").forReadOnly);
}

TEST(SqlParserSelect, FromJoinsDerivedTablesAndHints) {
  const auto& s = One<SelectStmt>(
      "select * from pubs2..titles t (index titleidind) holdlock, "
      "authors a inner join titleauthor ta on a.au_id = ta.au_id "
      "left outer join (select title_id, price from titles) as d on d.title_id = ta.title_id "
      "right join x on 1 = 1 cross join y, sales noholdlock");
  const QuerySpec& q = *s.query;
  ASSERT_EQ(q.from.size(), 3u);
  const TableRef& t = *q.from[0];
  EXPECT_EQ(t.kind, TableRefKind::Named);
  EXPECT_EQ(t.name.database, "pubs2");
  EXPECT_EQ(t.name.object, "titles");
  EXPECT_EQ(t.alias, "t");
  EXPECT_EQ(t.hints, (std::vector<std::string>{"index titleidind", "holdlock"}));

  // ((((a join ta) left join d) right join x) cross join y)
  const TableRef& cross = *q.from[1];
  ASSERT_EQ(cross.kind, TableRefKind::Join);
  EXPECT_EQ(cross.join, JoinType::Cross);
  EXPECT_FALSE(cross.on);
  EXPECT_EQ(cross.right->name.object, "y");
  const TableRef& right = *cross.left;
  EXPECT_EQ(right.join, JoinType::Right);
  const TableRef& left = *right.left;
  EXPECT_EQ(left.join, JoinType::Left);
  EXPECT_EQ(left.right->kind, TableRefKind::Derived);
  EXPECT_EQ(left.right->alias, "d");
  EXPECT_EQ(left.right->derived->query->items.size(), 2u);
  const TableRef& inner = *left.left;
  EXPECT_EQ(inner.join, JoinType::Inner);
  EXPECT_EQ(inner.left->alias, "a");
  EXPECT_EQ(inner.on->As<BinaryExpr>().op, BinaryOp::Equal);
  EXPECT_EQ(q.from[2]->hints, (std::vector<std::string>{"noholdlock"}));

  EXPECT_EQ(ToSql(s),
            "select * from pubs2..titles t (index titleidind) holdlock, authors a join "
            "titleauthor ta on a.au_id = ta.au_id left join (select title_id, price from "
            "titles) d on d.title_id = ta.title_id right join x on 1 = 1 cross join y, sales "
            "noholdlock");
  // The printed statement parses back to the same text.
  auto again = ParseOk(ToSql(s));
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(ToSql(again[0]->As<SelectStmt>()), ToSql(s));
}

TEST(SqlParserSelect, OldOuterJoinInWhere) {
  const auto& s = One<SelectStmt>(
      "select * from titles t, sales s where t.title_id *= s.title_id and s.qty =* t.x");
  const auto& andE = s.query->where->As<BinaryExpr>();
  EXPECT_EQ(andE.left->As<BinaryExpr>().op, BinaryOp::OuterLeft);
  EXPECT_EQ(andE.right->As<BinaryExpr>().op, BinaryOp::OuterRight);
}

// ---------------------------------------------------------------------------------------------
// insert / update / delete

TEST(SqlParserDml, InsertForms) {
  const auto& v = One<InsertStmt>("insert into pubs2..authors (au_id, au_lname) values ('1', 'A')");
  EXPECT_EQ(v.table.database, "pubs2");
  EXPECT_EQ(v.table.object, "authors");
  EXPECT_EQ(v.columns, (std::vector<std::string>{"au_id", "au_lname"}));
  ASSERT_EQ(v.values.size(), 2u);
  EXPECT_FALSE(v.select);

  const auto& s = One<InsertStmt>("insert #t select a, b from u where a > 1");
  EXPECT_TRUE(s.columns.empty());
  ASSERT_TRUE(s.select);
  EXPECT_TRUE(s.select->query->where);

  const auto& e = One<InsertStmt>("insert t (a) exec myproc 1");
  ASSERT_TRUE(e.exec);
  EXPECT_EQ(e.exec->procedure.object, "myproc");
  ASSERT_EQ(e.exec->args.size(), 1u);

  // Only one row per insert.
  EXPECT_EQ(ParseFails("insert t values (1), (2)").number, 102);
}

TEST(SqlParserDml, UpdateAndDelete) {
  const auto& u = One<UpdateStmt>(
      "update titles set price = price * 2, t.notes = null, @old = price "
      "from titles t, sales s where t.title_id = s.title_id");
  EXPECT_EQ(u.table.object, "titles");
  ASSERT_EQ(u.sets.size(), 3u);
  EXPECT_EQ(u.sets[0].column, "price");
  EXPECT_EQ(u.sets[1].table.object, "t");
  EXPECT_EQ(u.sets[1].column, "notes");
  EXPECT_EQ(u.sets[1].value->As<LiteralExpr>().literal, LiteralKind::Null);
  EXPECT_EQ(u.sets[2].variable, "@old");
  EXPECT_TRUE(u.sets[2].column.empty());
  ASSERT_EQ(u.from.size(), 2u);
  ASSERT_TRUE(u.where);

  const auto& cur = One<UpdateStmt>("update t set a = 1 where current of c1");
  EXPECT_EQ(cur.currentOf, "c1");
  EXPECT_FALSE(cur.where);

  const auto& d = One<DeleteStmt>("delete from titles where price is null");
  EXPECT_EQ(d.table.object, "titles");
  EXPECT_TRUE(d.where);
  const auto& d2 = One<DeleteStmt>("delete titles from titles, sales where 1 = 1");
  EXPECT_EQ(d2.from.size(), 2u);
  EXPECT_TRUE(One<DeleteStmt>("delete t").where == nullptr);

  EXPECT_EQ(One<TruncateStmt>("truncate table db.dbo.t").table.owner, "dbo");
}

// ---------------------------------------------------------------------------------------------
// Definitions

TEST(SqlParserDdl, CreateTableColumnsAndConstraints) {
  const auto& c = One<CreateTableStmt>(
      "create table dbo.orders (\n"
      "  id numeric(10,0) identity,\n"
      "  code char(4) not null constraint pk_orders primary key clustered,\n"
      "  qty int default 0 not null check (qty >= 0),\n"
      "  note varchar(255) null,\n"
      "  title_id varchar(6) references titles(title_id),\n"
      "  amount money default -1,\n"
      "  constraint uq unique nonclustered (qty, note),\n"
      "  foreign key (title_id) references titles (title_id),\n"
      "  check (qty < 1000)\n"
      ") lock datarows with max_rows_per_page = 10 on seg1");
  EXPECT_EQ(c.table.owner, "dbo");
  ASSERT_EQ(c.columns.size(), 6u);
  EXPECT_EQ(c.columns[0].type.name, "numeric");
  EXPECT_EQ(c.columns[0].type.precision, 10);
  EXPECT_EQ(c.columns[0].type.scale, 0);
  EXPECT_TRUE(c.columns[0].identity);
  EXPECT_EQ(c.columns[1].nullability, Nullability::NotNull);
  ASSERT_EQ(c.columns[1].constraints.size(), 1u);
  EXPECT_EQ(c.columns[1].constraints[0].name, "pk_orders");
  EXPECT_EQ(c.columns[1].constraints[0].kind, ConstraintKind::PrimaryKey);
  EXPECT_EQ(c.columns[1].constraints[0].clustering, IndexClustering::Clustered);
  EXPECT_EQ(c.columns[2].defaultText, "0");
  EXPECT_EQ(c.columns[2].nullability, Nullability::NotNull);
  ASSERT_EQ(c.columns[2].constraints.size(), 1u);
  EXPECT_EQ(c.columns[2].constraints[0].kind, ConstraintKind::Check);
  EXPECT_EQ(c.columns[2].constraints[0].checkText, "qty >= 0");
  EXPECT_EQ(c.columns[3].nullability, Nullability::Null);
  EXPECT_EQ(c.columns[3].type.length, 255);
  EXPECT_EQ(c.columns[4].constraints[0].kind, ConstraintKind::ForeignKey);
  EXPECT_EQ(c.columns[4].constraints[0].refTable.object, "titles");
  EXPECT_EQ(c.columns[5].defaultValue->As<LiteralExpr>().text, "-1");
  ASSERT_EQ(c.constraints.size(), 3u);
  EXPECT_EQ(c.constraints[0].kind, ConstraintKind::Unique);
  EXPECT_EQ(c.constraints[0].clustering, IndexClustering::Nonclustered);
  EXPECT_EQ(c.constraints[0].columns, (std::vector<std::string>{"qty", "note"}));
  EXPECT_EQ(c.constraints[1].columns, (std::vector<std::string>{"title_id"}));
  EXPECT_EQ(c.constraints[1].refColumns, (std::vector<std::string>{"title_id"}));
  EXPECT_EQ(c.constraints[2].check->As<BinaryExpr>().op, BinaryOp::Less);
  EXPECT_EQ(c.segment, "seg1");
  EXPECT_EQ(c.columns[2].line, 4);
}

TEST(SqlParserDdl, IndexesViewsRulesDefaults) {
  const auto& i = One<CreateIndexStmt>(
      "create unique clustered index ix on titles (title_id, pubdate desc) "
      "with ignore_dup_key, fillfactor = 80 on 'default'");
  EXPECT_EQ(i.segment, "default");
  EXPECT_TRUE(i.unique);
  EXPECT_EQ(i.clustering, IndexClustering::Clustered);
  EXPECT_EQ(i.name, "ix");
  ASSERT_EQ(i.columns.size(), 2u);
  EXPECT_TRUE(i.columns[1].descending);
  EXPECT_EQ(i.with, (std::vector<std::string>{"ignore_dup_key", "fillfactor = 80"}));

  const std::string batch =
      "create view v_cheap (t, p) as\nselect title, price from titles "
      "where price < 10 with check option";
  const auto& v = One<CreateViewStmt>(batch);
  EXPECT_EQ(v.name.object, "v_cheap");
  EXPECT_EQ(v.columns, (std::vector<std::string>{"t", "p"}));
  EXPECT_TRUE(v.withCheckOption);
  EXPECT_EQ(v.select->query->items.size(), 2u);
  EXPECT_EQ(batch.substr(v.begin, v.end - v.begin), batch);

  const auto& r = One<CreateRuleStmt>("create rule pub_idrule as @pub_id in ('1389', '0736')");
  EXPECT_EQ(r.condition->As<InExpr>().operand->As<VariableExpr>().name, "@pub_id");
  const auto& d = One<CreateDefaultStmt>("create default d_today as getdate()");
  EXPECT_EQ(d.value->As<FunctionExpr>().name, "getdate");
}

TEST(SqlParserDdl, ProceduresKeepTheirTextAndBody) {
  const std::string batch =
      "  create procedure dbo.titles_by_type;2 (@type char(12) = 'business', @n int = null "
      "output, @w varchar(10) = popular_comp) with recompile as\n"
      "begin\n"
      "  select * from titles where type = @type\n"
      "  select @n = @@rowcount\n"
      "  return 1\n"
      "end;";
  auto stmts = ParseOk(batch);
  ASSERT_EQ(stmts.size(), 1u);
  const auto& p = stmts[0]->As<CreateProcedureStmt>();
  EXPECT_EQ(p.name.owner, "dbo");
  EXPECT_EQ(p.name.object, "titles_by_type");
  EXPECT_EQ(p.number, 2);
  ASSERT_EQ(p.params.size(), 3u);
  EXPECT_EQ(p.params[0].name, "@type");
  EXPECT_EQ(p.params[0].type.name, "char");
  EXPECT_EQ(p.params[0].type.length, 12);
  EXPECT_EQ(p.params[0].defaultValue->As<LiteralExpr>().text, "business");
  EXPECT_TRUE(p.params[1].output);
  EXPECT_EQ(p.params[1].defaultValue->As<LiteralExpr>().literal, LiteralKind::Null);
  EXPECT_EQ(p.params[2].defaultValue->As<ColumnExpr>().column, "popular_comp");
  EXPECT_TRUE(p.recompile);
  ASSERT_EQ(p.body.size(), 1u);
  const auto& block = p.body[0]->As<BlockStmt>();
  ASSERT_EQ(block.body.size(), 3u);
  EXPECT_EQ(block.body[2]->As<ReturnStmt>().value->As<LiteralExpr>().text, "1");
  EXPECT_EQ(block.body[1]->line, 4);
  // The stored text starts at `create` and ends before the terminator.
  EXPECT_EQ(batch.substr(p.begin, p.end - p.begin), batch.substr(2, batch.size() - 3));

  // Without parentheses, and the body runs to the end of the batch.
  auto plain = ParseOk("create proc p @a int as select @a select 2");
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain[0]->As<CreateProcedureStmt>().body.size(), 2u);
}

TEST(SqlParserDdl, TriggersDropsAlter) {
  const auto& t = One<CreateTriggerStmt>(
      "create trigger tr_del on titles for delete, update as\n"
      "if @@rowcount = 0 return\n"
      "rollback transaction");
  EXPECT_EQ(t.table.object, "titles");
  EXPECT_TRUE(t.onDelete);
  EXPECT_TRUE(t.onUpdate);
  EXPECT_FALSE(t.onInsert);
  ASSERT_EQ(t.body.size(), 2u);
  EXPECT_EQ(t.body[0]->As<IfStmt>().then->kind, StmtKind::Return);
  EXPECT_FALSE(t.body[0]->As<IfStmt>().then->As<ReturnStmt>().value);

  const auto& d = One<DropStmt>("drop table t1, dbo.t2, #t3");
  EXPECT_EQ(d.what, DropKind::Table);
  ASSERT_EQ(d.names.size(), 3u);
  EXPECT_EQ(d.names[1].owner, "dbo");
  EXPECT_EQ(One<DropStmt>("drop proc p").what, DropKind::Procedure);
  EXPECT_EQ(One<DropStmt>("drop procedure p").what, DropKind::Procedure);
  EXPECT_EQ(One<DropStmt>("drop view v").what, DropKind::View);
  EXPECT_EQ(One<DropStmt>("drop rule r").what, DropKind::Rule);
  EXPECT_EQ(One<DropStmt>("drop default d").what, DropKind::Default);
  EXPECT_EQ(One<DropStmt>("drop trigger tr").what, DropKind::Trigger);
  const auto& ix = One<DropStmt>("drop index titles.ix1, dbo.sales.ix2");
  EXPECT_EQ(ix.what, DropKind::Index);
  ASSERT_EQ(ix.indexes.size(), 2u);
  EXPECT_EQ(ix.names[0].object, "titles");
  EXPECT_EQ(ix.indexes[0], "ix1");
  EXPECT_EQ(ix.names[1].owner, "dbo");
  EXPECT_EQ(ix.indexes[1], "ix2");
  EXPECT_EQ(ParseFails("drop index ix").number, 102);

  const auto& a = One<AlterTableStmt>("alter table t add c1 int null, c2 varchar(5) default 'x'");
  EXPECT_EQ(a.action, AlterAction::AddColumns);
  ASSERT_EQ(a.addColumns.size(), 2u);
  EXPECT_EQ(a.addColumns[1].defaultValue->As<LiteralExpr>().text, "x");
  const auto& ac = One<AlterTableStmt>("alter table t add constraint ck check (a > 0)");
  EXPECT_EQ(ac.action, AlterAction::AddConstraint);
  EXPECT_EQ(ac.addConstraints[0].name, "ck");
  EXPECT_EQ(One<AlterTableStmt>("alter table t drop constraint ck").dropConstraint, "ck");
  EXPECT_EQ(One<AlterTableStmt>("alter table t drop a, b").dropColumns.size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Variables, options, control of flow

TEST(SqlParserControl, DeclareAndSetVariable) {
  const auto& d = One<DeclareStmt>("declare @a int, @b varchar(30), @c numeric(5,2), @d bit");
  ASSERT_EQ(d.variables.size(), 4u);
  EXPECT_EQ(d.variables[1].name, "@b");
  EXPECT_EQ(d.variables[1].type.length, 30);
  EXPECT_EQ(d.variables[2].type.scale, 2);
  const auto& s = One<SetVariableStmt>("set @a = (select count(*) from t) + 1");
  EXPECT_EQ(s.variable, "@a");
  EXPECT_EQ(s.value->As<BinaryExpr>().left->kind, ExprKind::Subquery);
}

TEST(SqlParserControl, SetOptions) {
  struct Case {
    const char* sql;
    const char* option;
    std::vector<std::string> args;
    const char* value;
    bool hasExpr;
  } cases[] = {
      {"set nocount on", "nocount", {}, "on", false},
      {"SET QUOTED_IDENTIFIER OFF", "quoted_identifier", {}, "off", false},
      {"set rowcount 10", "rowcount", {}, "10", true},
      {"set rowcount @n", "rowcount", {}, "@n", true},
      {"set textsize 65536", "textsize", {}, "65536", true},
      {"set transaction isolation level 3", "transaction isolation level", {}, "3", true},
      {"set transaction isolation level read committed",
       "transaction isolation level",
       {},
       "read committed",
       false},
      {"set transaction isolation level repeatable read",
       "transaction isolation level",
       {},
       "repeatable read",
       false},
      {"set identity_insert dbo.orders on", "identity_insert", {"dbo.orders"}, "on", false},
      {"set statistics io on", "statistics io", {}, "on", false},
      {"set statistics io, time off", "statistics io", {"time"}, "off", false},
      {"set dateformat dmy", "dateformat", {}, "dmy", false},
      {"set datefirst 1", "datefirst", {}, "1", true},
      {"set close on endtran on", "close on endtran", {}, "on", false},
      {"set char_convert off", "char_convert", {}, "off", false},
      {"set chained on", "chained", {}, "on", false},
      {"set fmtonly on", "fmtonly", {}, "on", false},
      {"set arithabort arith_overflow off", "arithabort", {"arith_overflow"}, "off", false},
      {"set some_new_option fancy", "some_new_option", {}, "fancy", false},
      {"set string_rtruncation on", "string_rtruncation", {}, "on", false},
  };
  for (const Case& c : cases) {
    const auto& s = One<SetOptionStmt>(c.sql);
    EXPECT_EQ(s.option, c.option) << c.sql;
    EXPECT_EQ(s.args, c.args) << c.sql;
    EXPECT_EQ(s.value, c.value) << c.sql;
    EXPECT_EQ(s.valueExpr != nullptr, c.hasExpr) << c.sql;
  }
  // The option ends where the next statement begins.
  auto two = ParseOk("set nocount on select 1");
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[1]->kind, StmtKind::Select);
  EXPECT_EQ(ParseFails("set nocount").number, 102);
}

TEST(SqlParserControl, IfWhileBlocksAndJumps) {
  auto stmts = ParseOk(
      "if exists (select * from t) begin print 'yes' end else if @a = 1 print 'a' else "
      "print 'no'\n"
      "while @i < 10 begin select @i = @i + 1 if @i = 5 break else continue end\n"
      "retry: goto retry\n"
      "return -1");
  ASSERT_EQ(stmts.size(), 5u);
  const auto& i = stmts[0]->As<IfStmt>();
  EXPECT_EQ(i.condition->kind, ExprKind::Exists);
  EXPECT_EQ(i.then->kind, StmtKind::Block);
  ASSERT_TRUE(i.otherwise);
  const auto& nested = i.otherwise->As<IfStmt>();
  EXPECT_EQ(nested.then->As<PrintStmt>().message->As<LiteralExpr>().text, "a");
  EXPECT_EQ(nested.otherwise->As<PrintStmt>().message->As<LiteralExpr>().text, "no");

  const auto& w = stmts[1]->As<WhileStmt>();
  const auto& body = w.body->As<BlockStmt>();
  ASSERT_EQ(body.body.size(), 2u);
  const auto& inner = body.body[1]->As<IfStmt>();
  EXPECT_EQ(inner.then->kind, StmtKind::Break);
  EXPECT_EQ(inner.otherwise->kind, StmtKind::Continue);

  EXPECT_EQ(stmts[2]->As<LabelStmt>().label, "retry");
  EXPECT_EQ(stmts[3]->As<GotoStmt>().label, "retry");
  EXPECT_EQ(stmts[4]->As<ReturnStmt>().value->As<LiteralExpr>().text, "-1");
  EXPECT_EQ(stmts[4]->line, 4);

  // return without a value does not swallow the next statement
  auto r = ParseOk("if 1 = 1 return\nselect 2");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(ParseFails("begin select 1").number, 102);
}

TEST(SqlParserControl, PrintRaiserrorTransactions) {
  const auto& p = One<PrintStmt>("print 'Value %1! of %2!', @a, @b");
  EXPECT_EQ(p.message->As<LiteralExpr>().text, "Value %1! of %2!");
  EXPECT_EQ(p.args.size(), 2u);
  EXPECT_EQ(One<PrintStmt>("print @msg").message->kind, ExprKind::Variable);

  const auto& r = One<RaiserrorStmt>("raiserror 20001 'Bad %1!', @x");
  EXPECT_EQ(r.number->As<LiteralExpr>().text, "20001");
  EXPECT_EQ(r.message->As<LiteralExpr>().text, "Bad %1!");
  EXPECT_EQ(r.args.size(), 1u);
  EXPECT_FALSE(r.parenthesized);
  const auto& rv = One<RaiserrorStmt>("raiserror 20002 @msg");
  EXPECT_EQ(rv.message->As<VariableExpr>().name, "@msg");
  const auto& rp = One<RaiserrorStmt>("raiserror(20003, 'text', 5)");
  EXPECT_TRUE(rp.parenthesized);
  EXPECT_EQ(rp.message->As<LiteralExpr>().text, "text");
  EXPECT_EQ(rp.args.size(), 1u);
  EXPECT_FALSE(One<RaiserrorStmt>("raiserror 20004").message);

  auto t = ParseOk(
      "begin tran\nbegin transaction t1\nsave tran sp1\nrollback tran sp1\ncommit work\n"
      "commit\nrollback\ncommit tran t1");
  ASSERT_EQ(t.size(), 8u);
  EXPECT_EQ(t[0]->kind, StmtKind::BeginTran);
  EXPECT_EQ(t[1]->As<BeginTranStmt>().name, "t1");
  EXPECT_EQ(t[2]->As<SaveTranStmt>().name, "sp1");
  EXPECT_EQ(t[3]->As<RollbackTranStmt>().name, "sp1");
  EXPECT_EQ(t[4]->kind, StmtKind::CommitTran);
  EXPECT_EQ(t[5]->kind, StmtKind::CommitTran);
  EXPECT_EQ(t[6]->kind, StmtKind::RollbackTran);
  EXPECT_EQ(t[7]->As<CommitTranStmt>().name, "t1");
  EXPECT_FALSE(t[6]->As<RollbackTranStmt>().trigger);
  auto rt = ParseOk(
      "rollback trigger\nrollback trigger with raiserror 20005 'x %1!', 2\n"
      "if update(a) or update(b) print 'set'");
  ASSERT_EQ(rt.size(), 3u);
  EXPECT_TRUE(rt[0]->As<RollbackTranStmt>().trigger);
  EXPECT_FALSE(rt[0]->As<RollbackTranStmt>().raiserror);
  const auto& rr = rt[1]->As<RollbackTranStmt>().raiserror->As<RaiserrorStmt>();
  EXPECT_EQ(rr.message->As<LiteralExpr>().text, "x %1!");
  EXPECT_EQ(rr.args.size(), 1u);
  const auto& upd = rt[2]->As<IfStmt>().condition->As<BinaryExpr>();
  EXPECT_EQ(upd.left->As<FunctionExpr>().name, "update");
  EXPECT_EQ(One<UseStmt>("use pubs2").database, "pubs2");
}

TEST(SqlParserControl, ExecForms) {
  const auto& e = One<ExecStmt>(
      "execute @rc = pubs2.dbo.byroyalty;1 @percentage = 40, 'x', @out = @o output, "
      "default, titles, -5 with recompile");
  EXPECT_EQ(e.returnVariable, "@rc");
  EXPECT_EQ(e.procedure.database, "pubs2");
  EXPECT_EQ(e.procedure.object, "byroyalty");
  EXPECT_EQ(e.number, 1);
  ASSERT_EQ(e.args.size(), 6u);
  EXPECT_EQ(e.args[0].name, "@percentage");
  EXPECT_EQ(e.args[0].value->As<LiteralExpr>().text, "40");
  EXPECT_TRUE(e.args[1].name.empty());
  EXPECT_TRUE(e.args[2].output);
  EXPECT_EQ(e.args[2].value->As<VariableExpr>().name, "@o");
  EXPECT_EQ(e.args[3].value->As<ColumnExpr>().column, "default");
  EXPECT_EQ(e.args[4].value->As<ColumnExpr>().column, "titles");
  EXPECT_EQ(e.args[5].value->As<LiteralExpr>().text, "-5");
  EXPECT_TRUE(e.recompile);
  EXPECT_FALSE(e.implicit);

  // A bare procedure name is an exec, but only at the start of the batch.
  auto first = ParseOk("sp_help titles\nselect 1");
  ASSERT_EQ(first.size(), 2u);
  EXPECT_TRUE(first[0]->As<ExecStmt>().implicit);
  EXPECT_EQ(first[0]->As<ExecStmt>().procedure.object, "sp_help");
  EXPECT_EQ(first[0]->As<ExecStmt>().args[0].value->As<ColumnExpr>().column, "titles");
  ParseError late = ParseFails("print 'x'\nsp_help titles");
  EXPECT_EQ(late.number, 102);
  EXPECT_EQ(late.line, 2);
  EXPECT_EQ(late.text, "Incorrect syntax near 'sp_help'.");

  const auto& bind = One<ExecStmt>("exec sp_bindrule pub_idrule, 'publishers.pub_id'");
  EXPECT_EQ(bind.args[1].value->As<LiteralExpr>().text, "publishers.pub_id");
  const auto& addtype = One<ExecStmt>("exec sp_addtype tid, 'varchar(6)', 'not null'");
  EXPECT_EQ(addtype.args.size(), 3u);
  const auto& dyn = One<ExecStringStmt>("exec ('select ' + @cols + ' from t')");
  EXPECT_EQ(dyn.parts.size(), 3u);
  const auto& viaVar = One<ExecStmt>("exec @procname 1");
  EXPECT_EQ(viaVar.procedure.object, "@procname");
}

TEST(SqlParserControl, CursorsTextAndAcceptedStatements) {
  auto stmts = ParseOk(
      "declare c1 cursor for select a from t for update of a\n"
      "open c1\nfetch c1 into @a, @b\nclose c1\ndeallocate cursor c1\n"
      "waitfor delay '00:00:01'\n"
      "readtext blurbs.copy @ptr 0 100 using chars\n"
      "writetext blurbs.copy @ptr with log 'new text'\n"
      "dump tran pubs2 with truncate_only\ncheckpoint\ndbcc checkdb(pubs2)\n"
      "grant select, update on titles to public\n"
      "update statistics titles\n");
  ASSERT_EQ(stmts.size(), 13u);
  const auto& dc = stmts[0]->As<DeclareCursorStmt>();
  EXPECT_EQ(dc.name, "c1");
  EXPECT_TRUE(dc.select->forUpdate);
  EXPECT_EQ(stmts[1]->As<OpenCursorStmt>().name, "c1");
  EXPECT_EQ(stmts[2]->As<FetchCursorStmt>().into, (std::vector<std::string>{"@a", "@b"}));
  EXPECT_EQ(stmts[3]->kind, StmtKind::CloseCursor);
  EXPECT_EQ(stmts[4]->As<DeallocateCursorStmt>().name, "c1");
  EXPECT_EQ(stmts[5]->As<WaitforStmt>().what, "delay");
  const auto& rt = stmts[6]->As<ReadtextStmt>();
  EXPECT_EQ(rt.table.object, "blurbs");
  EXPECT_EQ(rt.column, "copy");
  EXPECT_EQ(rt.size->As<LiteralExpr>().text, "100");
  const auto& wt = stmts[7]->As<WritetextStmt>();
  EXPECT_TRUE(wt.withLog);
  EXPECT_EQ(wt.data->As<LiteralExpr>().text, "new text");
  EXPECT_EQ(stmts[8]->As<OtherStmt>().verb, "dump");
  EXPECT_EQ(stmts[9]->As<OtherStmt>().verb, "checkpoint");
  EXPECT_EQ(stmts[10]->As<OtherStmt>().verb, "dbcc");
  const auto& g = stmts[11]->As<GrantStmt>();
  EXPECT_EQ(g.privileges, (std::vector<std::string>{"select", "update"}));
  EXPECT_EQ(g.object.object, "titles");
  EXPECT_EQ(g.grantees, std::vector<std::string>{"public"});
  EXPECT_EQ(stmts[12]->As<OtherStmt>().verb, "update statistics");
}

TEST(SqlParserControl, StatementOffsetsAndTerminators) {
  const std::string batch = "select 1;\n  insert t values (2) ;; update t set a = 3";
  auto stmts = ParseOk(batch);
  ASSERT_EQ(stmts.size(), 3u);
  EXPECT_EQ(batch.substr(stmts[0]->begin, stmts[0]->end - stmts[0]->begin), "select 1");
  EXPECT_EQ(batch.substr(stmts[1]->begin, stmts[1]->end - stmts[1]->begin), "insert t values (2)");
  EXPECT_EQ(batch.substr(stmts[2]->begin, stmts[2]->end - stmts[2]->begin), "update t set a = 3");
  EXPECT_EQ(stmts[1]->line, 2);
  EXPECT_TRUE(ParseOk("").empty());
  EXPECT_TRUE(ParseOk("  -- nothing\n/* at all */ ;").empty());
}

// ---------------------------------------------------------------------------------------------
// What the toolkit sends

TEST(SqlParserToolkit, MainWindowScriptBatches) {
  // The main window's default script, split at its "go" lines.
  const char* batches[] = {
      "select db=db_name()\r\n",
      "\r\ncreate table #mytable(f1 int, f2 varchar(10))\r\ninsert #mytable(f1, f2)\r\n"
      "  values (1,'One')\r\ninsert #mytable(f1, f2)\r\n  values (2,'Two')\r\nselect *\r\n"
      "from #mytable\r\n",
      "\r\ndeclare @i int\r\nselect @i = 99\r\nselect i = @i\r\n",
      "\r\nselect name,id,type\r\nfrom sysobjects\r\norder by name",
  };
  auto first = ParseOk(batches[0]);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0]->As<SelectStmt>().query->items[0].alias, "db");
  auto second = ParseOk(batches[1]);
  ASSERT_EQ(second.size(), 4u);
  EXPECT_EQ(second[0]->As<CreateTableStmt>().table.object, "#mytable");
  EXPECT_EQ(second[1]->As<InsertStmt>().values[1]->As<LiteralExpr>().text, "One");
  EXPECT_EQ(second[2]->line, 5);
  auto third = ParseOk(batches[2]);
  ASSERT_EQ(third.size(), 3u);
  EXPECT_EQ(third[1]->As<SelectStmt>().query->items[0].kind, SelectItemKind::Assign);
  EXPECT_EQ(third[2]->As<SelectStmt>().query->items[0].alias, "i");
  auto fourth = ParseOk(batches[3]);
  ASSERT_EQ(fourth.size(), 1u);
  EXPECT_EQ(fourth[0]->As<SelectStmt>().query->items.size(), 3u);
}

TEST(SqlParserToolkit, CatalogAndComponentStatements) {
  const char* texts[] = {
      "use pubs2",
      "SELECT DbVersion=@@version",
      "SELECT name FROM sysobjects",
      "select name\r\nfrom master..sysdatabases\r\norder by name",
      "select name\r\nfrom sysobjects\r\nwhere type in ('U','S','V')\r\norder by name",
      "select name\r\nfrom sysobjects\r\nwhere type='U' \r\norder by name",
      "SELECT * FROM pubs2..titles /* Initial select to obtain columns */",
      "SELECT x.name, x.indid, x.status, INDEX_COL('titles', x.indid, c.colid) "
      "FROM sysindexes x, syscolumns c WHERE x.id = object_id ('titles') "
      "AND indid BETWEEN 1 AND 254 AND x.id = c.id  AND c.colid <= x.keycnt "
      "AND INDEX_COL('titles', x.indid, c.colid)<>'' ORDER BY x.name, x.indid, c.colid ASC",
      "SELECT au_id,au_lname FROM pubs2..authors",
      "SELECT COUNT(*) FROM pubs2..authors WHERE 1=1 AND au_id=?",
      "INSERT pubs2..authors(au_id,au_lname,au_fname) VALUES (?,?,?)",
      "UPDATE pubs2..authors SET au_lname=?,phone=NULL WHERE 1=1 AND au_id=?",
      "DELETE pubs2..authors WHERE 1=1 AND au_id=?",
      "BEGIN TRAN",
      "COMMIT TRAN",
      "ROLLBACK TRAN",
      "create proc PrepId as INSERT pubs2..authors(au_id) VALUES (?)",
      "SELECT name FROM master..sysdatabases ORDER BY name",
      "SELECT name FROM pubs2..sysobjects WHERE type = 'P' ORDER BY name",
      "SELECT name FROM pubs2..sysusers WHERE gid<>uid ORDER BY name",
      "SELECT name FROM pubs2..sysusers WHERE gid=uid ORDER BY name",
      "SELECT name FROM pubs2..systypes WHERE usertype < 100 ORDER BY name",
      "SELECT name FROM pubs2..systypes WHERE usertype > 100 ORDER BY name",
      "SELECT name FROM pubs2..syssegments ORDER BY name",
      "SELECT so.name + '.' + si.name FROM pubs2..sysobjects so,pubs2..sysindexes si WHERE "
      "so.id = si.id  AND si.indid<> 0 AND so.type IN ('U','S') ORDER BY so.name,si.indid",
      "SELECT INDEX_COL(so.name , x.indid, c.colid) FROM pubs2..sysindexes x, "
      "pubs2..syscolumns c, pubs2..sysobjects so WHERE x.id = object_id (so.name) AND indid "
      "BETWEEN 1 AND 254 AND x.id = c.id AND so.id = x.id AND c.colid <= x.keycnt AND "
      "INDEX_COL(so.name, x.indid, c.colid)<>'' AND so.name + '.' + x.name = 'titles.titleidind' "
      "ORDER BY x.name, x.indid, c.colid ASC",
      "SELECT type FROM pubs2..sysobjects WHERE name = 'titles'",
      "SELECT text FROM pubs2..syscomments WHERE id=object_id('pubs2..titleview')",
      "SELECT * FROM pubs2..titles WHERE 1=2",
      "select 1 where 0=1",
  };
  for (const char* text : texts) {
    auto stmts = ParseOk(text);
    EXPECT_EQ(stmts.size(), 1u) << text;
  }
  const auto& idx = One<SelectStmt>(texts[7]);
  const auto& fn = idx.query->items[3].expr->As<FunctionExpr>();
  EXPECT_EQ(fn.name, "index_col");
  EXPECT_EQ(fn.args.size(), 3u);
  const auto& upd = One<UpdateStmt>(texts[11]);
  EXPECT_EQ(upd.sets[0].value->As<ParameterExpr>().index, 1);
  EXPECT_EQ(upd.sets[1].value->As<LiteralExpr>().literal, LiteralKind::Null);
  EXPECT_EQ(upd.where->As<BinaryExpr>().right->As<BinaryExpr>().right->As<ParameterExpr>().index,
            2);
}

TEST(SqlParserToolkit, FunctionWrapperCalls) {
  // Double quotes are strings unless quoted_identifier is on.
  const char* texts[] = {
      "SELECT col_length(\"titles\",\"title\")",
      "SELECT col_name(16003088,2)",
      "SELECT col_name(16003088,2,4)",
      "SELECT dateadd(day,1,\"Jan 1 2024\")",
      "SELECT datediff(month,\"Jan 1 2024\",\"Mar 1 2024\")",
      "SELECT datename(weekday,\"Jan 1 2024\")",
      "SELECT datepart(dd,\"Jan 1 2024\")",
      "SELECT db_id(\"pubs2\")",
      "SELECT db_id()",
      "SELECT db_name(4)",
      "SELECT db_name()",
      "SELECT hextoint(\"0x1f\")",
      "SELECT host_id()",
      "SELECT host_name()",
      "SELECT inttohex(-31)",
      "SELECT object_id(\"titles\")",
      "SELECT object_name(16003088,4)",
      "SELECT replicate(\"ab\",3)",
      "SELECT right(\"abcdef\",2)",
      "SELECT show_role()",
      "SELECT stuff(\"abcdef\",2,3,\"xyz\")",
      "SELECT suser_id(\"sa\")",
      "SELECT suser_id()",
      "SELECT suser_name()",
      "SELECT user_id(\"dbo\")",
      "SELECT user_name(1)",
      "SELECT user_name()",
  };
  for (const char* text : texts) {
    const auto& s = One<SelectStmt>(text);
    ASSERT_EQ(s.query->items.size(), 1u) << text;
    EXPECT_EQ(s.query->items[0].expr->kind, ExprKind::Function) << text;
  }
  const auto& add = One<SelectStmt>(texts[3]);
  const auto& f = add.query->items[0].expr->As<FunctionExpr>();
  EXPECT_EQ(f.args[0]->As<ColumnExpr>().column, "day");
  EXPECT_EQ(f.args[2]->As<LiteralExpr>().quote, QuoteKind::Double);
  EXPECT_EQ(f.args[2]->As<LiteralExpr>().text, "Jan 1 2024");
  // A date part that maps to no name leaves the argument out: the server rejects it.
  ParseError e = ParseFails("SELECT datepart(,\"Jan 1 2024\")");
  EXPECT_EQ(e.number, 102);
  EXPECT_EQ(e.text, "Incorrect syntax near ','.");
}

// ---------------------------------------------------------------------------------------------
// Errors

TEST(SqlParserErrors, MessagesAndLines) {
  struct Case {
    const char* sql;
    int number;
    const char* text;
    int line;
  } cases[] = {
      {"select from t", 156, "Incorrect syntax near the keyword 'from'.", 1},
      {"select * frm t", 102, "Incorrect syntax near 'frm'.", 1},
      {"select 1\nselect {name} from t", 102, "Incorrect syntax near '{'.", 2},
      {"select 1\nselect 'abc\n\n", 105, "Unclosed quote before the character string 'abc\n\n'.",
       2},
      {"select 1 /* open\n/* nested */ still open", 113, "Missing end comment mark '*/'.", 1},
      {"select * from t where", 156, "Incorrect syntax near the keyword 'where'.", 1},
      {"select a from t\nwhere a = = 1", 102, "Incorrect syntax near '='.", 2},
      {"insert t values (1", 102, "Incorrect syntax near '1'.", 1},
      {"select * from t where a = NULL NULL", 156, "Incorrect syntax near the keyword 'NULL'.", 1},
      {"create table t (a int,)", 102, "Incorrect syntax near ')'.", 1},
      {"select 1 +", 102, "Incorrect syntax near '+'.", 1},
      {"foo bar baz", 102, "Incorrect syntax near 'baz'.", 1},
      {"select {1}", 102, "Incorrect syntax near '{'.", 1},
      {"select @", 102, "Incorrect syntax near '@'.", 1},
      {"select 1 ! 2", 102, "Incorrect syntax near '!'.", 1},
      {"select i = @i = @i", 102, "Incorrect syntax near '='.", 1},
      {"select $", 102, "Incorrect syntax near '$'.", 1},
      {"create table t (a int) go", 102, "Incorrect syntax near 'go'.", 1},
      {"exec", 156, "Incorrect syntax near the keyword 'exec'.", 1},
      {"select 1\nselect 2 from t where x like", 156, "Incorrect syntax near the keyword 'like'.",
       2},
  };
  for (const Case& c : cases) {
    ParseError e = ParseFails(c.sql);
    EXPECT_EQ(e.number, c.number) << c.sql;
    EXPECT_EQ(e.severity, 15) << c.sql;
    EXPECT_EQ(e.text, c.text) << c.sql;
    EXPECT_EQ(e.line, c.line) << c.sql;
  }
}

TEST(SqlParserErrors, SingleExpressions) {
  EXPECT_TRUE(ParseExpression("@v between 1 and 10").ok());
  ExprParseResult trailing = ParseExpression("1 + 2 3");
  ASSERT_FALSE(trailing.ok());
  EXPECT_EQ(trailing.error->text, "Incorrect syntax near '3'.");
  EXPECT_FALSE(trailing.expr);
  EXPECT_FALSE(ParseExpression("").ok());
}

TEST(SqlParserErrors, FirstErrorWinsAndNothingRuns) {
  // A syntax error before an unclosed quote is the one reported.
  ParseError e = ParseFails("select * frm t\nselect 'open");
  EXPECT_EQ(e.number, 102);
  EXPECT_EQ(e.line, 1);
  // A valid statement before the error does not come back either.
  ParseResult r = Parse("insert t values (1)\nselect from t");
  EXPECT_FALSE(r.ok());
  EXPECT_TRUE(r.statements.empty());
  EXPECT_EQ(r.error->line, 2);
}

TEST(SqlParserErrors, LongIdentifiersAndDeepNesting) {
  std::string longName(300, 'a');
  ParseError e = ParseFails("select " + longName + " from t");
  EXPECT_EQ(e.number, 103);
  EXPECT_NE(e.text.find("is too long. Maximum length is 255."), std::string::npos);
  EXPECT_TRUE(Parse("select " + std::string(255, 'b') + " from t").ok());

  std::string parens = "select " + std::string(100000, '(') + "1" + std::string(100000, ')');
  ParseError deep = ParseFails(parens);
  EXPECT_EQ(deep.number, 191);

  std::string nots = "select 1 where " + std::string(50000, ' ');
  for (int i = 0; i < 50000; ++i) nots += "not ";
  nots += "1 = 1";
  EXPECT_EQ(ParseFails(nots).number, 191);

  std::string minus = "select " + std::string(100000, '~') + "1";
  EXPECT_EQ(ParseFails(minus).number, 191);

  std::string blocks;
  for (int i = 0; i < 5000; ++i) blocks += "begin ";
  blocks += "select 1 ";
  for (int i = 0; i < 5000; ++i) blocks += "end ";
  EXPECT_EQ(ParseFails(blocks).number, 191);

  std::string ifs;
  for (int i = 0; i < 5000; ++i) ifs += "if 1 = 1 ";
  ifs += "select 1";
  EXPECT_EQ(ParseFails(ifs).number, 191);

  std::string subqueries = "select 1 where exists ";
  for (int i = 0; i < 3000; ++i) subqueries += "(select 1 where exists ";
  subqueries += "(select 1)";
  subqueries += std::string(3000, ')');
  EXPECT_EQ(ParseFails(subqueries).number, 191);

  // Moderate nesting is fine.
  std::string ok = "select " + std::string(50, '(') + "1" + std::string(50, ')');
  EXPECT_TRUE(Parse(ok).ok());

  // A long flat chain is bounded too, so the tree stays shallow enough to walk.
  std::string chain = "select 1";
  for (int i = 0; i < 100000; ++i) chain += "+1";
  EXPECT_EQ(ParseFails(chain).number, 191);
  std::string orChain = "select 1 where a = 1";
  for (int i = 0; i < 150; ++i) orChain += " or a = 1";
  EXPECT_TRUE(Parse(orChain).ok());
  for (int i = 0; i < 100; ++i) orChain += " or a = 1";
  EXPECT_EQ(ParseFails(orChain).number, 191);
}

TEST(SqlParserErrors, LargeBatchOfInserts) {
  std::string batch;
  int n = 0;
  while (batch.size() < (1u << 20)) {
    batch += "insert into titles (title_id, title, price) values ('T" + std::to_string(n) +
             "', 'A title with ''quotes''', " + std::to_string(n) + ".99)\n";
    ++n;
  }
  ParseResult r = Parse(batch);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r.statements.size(), static_cast<std::size_t>(n));
  const auto& last = r.statements.back()->As<InsertStmt>();
  EXPECT_EQ(last.values[0]->As<LiteralExpr>().text, "T" + std::to_string(n - 1));
  EXPECT_EQ(last.line, n);
}

}  // namespace
}  // namespace sampleserver::sql
