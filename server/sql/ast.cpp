#include "ast.h"

#include "lexer.h"

#include <algorithm>
#include <cctype>

namespace sampleserver::sql {
namespace {

// Binding strength, loosest first; a child printed under a stronger parent gets parentheses.
enum Level { kOr = 1, kAnd, kNot, kCompare, kAdd, kMul, kUnary, kPrimary };

int LevelOf(BinaryOp op) {
  switch (op) {
    case BinaryOp::Or: return kOr;
    case BinaryOp::And: return kAnd;
    case BinaryOp::Add:
    case BinaryOp::Subtract:
    case BinaryOp::BitAnd:
    case BinaryOp::BitOr:
    case BinaryOp::BitXor: return kAdd;
    case BinaryOp::Multiply:
    case BinaryOp::Divide:
    case BinaryOp::Modulo: return kMul;
    default: return kCompare;
  }
}

int LevelOf(const Expr& e) {
  switch (e.kind) {
    case ExprKind::Binary: return LevelOf(e.As<BinaryExpr>().op);
    case ExprKind::Unary: return e.As<UnaryExpr>().op == UnaryOp::Not ? kNot : kUnary;
    case ExprKind::Like:
    case ExprKind::Between:
    case ExprKind::In:
    case ExprKind::IsNull:
    case ExprKind::Exists: return kCompare;
    case ExprKind::Literal: {
      // A folded negative number behaves like a unary minus.
      const auto& l = e.As<LiteralExpr>();
      return (!l.text.empty() && l.text[0] == '-' && l.literal != LiteralKind::String &&
              l.literal != LiteralKind::Binary)
                 ? kUnary
                 : kPrimary;
    }
    default: return kPrimary;
  }
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

bool PlainName(const std::string& s) {
  if (s.empty()) return false;
  auto c0 = static_cast<unsigned char>(s[0]);
  if (!(std::isalpha(c0) || c0 == '_' || c0 == '#' || c0 >= 0x80)) return false;
  std::string lower;
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if (!(std::isalnum(c) || c == '_' || c == '$' || c == '#' || c == '@' || c >= 0x80))
      return false;
    lower.push_back(static_cast<char>(std::tolower(c)));
  }
  return !IsReservedWord(lower);
}

// The reserved words the parser reads as function names before '('.
bool ReservedFunction(const std::string& lower) {
  for (const char* w : {"coalesce", "nullif", "identity", "user", "tsequal", "update"})
    if (lower == w) return true;
  return false;
}

// A name as the source may write it: bare when it can stand so, else in brackets.
std::string Bracketed(const std::string& s) {
  std::string out = "[";
  for (char c : s) {
    if (c == ']') out += ']';
    out += c;
  }
  return out + "]";
}

std::string Delimited(const std::string& s) {
  if (s.empty() || PlainName(s)) return s;
  return Bracketed(s);
}

std::string Delimited(const ObjectName& n) {
  std::string out;
  if (!n.server.empty()) out += Delimited(n.server) + ".";
  if (!n.server.empty() || !n.database.empty()) out += Delimited(n.database) + ".";
  if (!n.server.empty() || !n.database.empty() || !n.owner.empty()) out += Delimited(n.owner) + ".";
  return out + Delimited(n.object);
}

class Printer {
 public:
  std::string out;

  void Child(const Expr& e, int minLevel) {
    if (LevelOf(e) < minLevel) {
      out += '(';
      Print(e);
      out += ')';
    } else {
      Print(e);
    }
  }

  void List(const std::vector<ExprPtr>& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i) out += ", ";
      Print(*list[i]);
    }
  }

  void Print(const Expr& e) {
    switch (e.kind) {
      case ExprKind::Literal: {
        const auto& l = e.As<LiteralExpr>();
        switch (l.literal) {
          case LiteralKind::Null: out += "null"; break;
          case LiteralKind::String: out += Quote(l.text); break;
          case LiteralKind::Binary: out += "0x" + l.text; break;
          case LiteralKind::Money:
            // The sign goes before the currency symbol, so the text parses back to itself.
            if (!l.text.empty() && l.text[0] == '-')
              out += "-$" + l.text.substr(1);
            else
              out += "$" + l.text;
            break;
          default: out += l.text; break;
        }
        break;
      }
      case ExprKind::Column: {
        const auto& c = e.As<ColumnExpr>();
        if (!c.table.empty()) out += Delimited(c.table) + ".";
        out += Delimited(c.column);
        break;
      }
      case ExprKind::Variable: out += e.As<VariableExpr>().name; break;
      case ExprKind::GlobalVariable: out += e.As<GlobalVariableExpr>().name; break;
      case ExprKind::Unary: {
        const auto& u = e.As<UnaryExpr>();
        if (u.op == UnaryOp::Not) {
          out += "not ";
          Child(*u.operand, kNot);
          break;
        }
        out += u.op == UnaryOp::Negate ? "-" : u.op == UnaryOp::Plus ? "+" : "~";
        std::size_t at = out.size();
        Child(*u.operand, kUnary);
        // Keep "- -x" from turning into a "--" comment.
        if (at < out.size() && (out[at] == '-' || out[at] == '+')) out.insert(at, " ");
        break;
      }
      case ExprKind::Binary: {
        const auto& b = e.As<BinaryExpr>();
        const int level = LevelOf(b.op);
        // Left-associative: the right operand needs a strictly stronger binding, and a
        // comparison's operands are never comparisons themselves.
        Child(*b.left, level == kCompare ? kAdd : level);
        out += ' ';
        out += BinaryOpText(b.op);
        out += ' ';
        Child(*b.right, level == kCompare ? kAdd : level + 1);
        break;
      }
      case ExprKind::Like: {
        const auto& l = e.As<LikeExpr>();
        Child(*l.operand, kAdd);
        out += l.negated ? " not like " : " like ";
        Child(*l.pattern, kAdd);
        if (l.escape) {
          out += " escape ";
          Child(*l.escape, kAdd);
        }
        break;
      }
      case ExprKind::Between: {
        const auto& b = e.As<BetweenExpr>();
        Child(*b.operand, kAdd);
        out += b.negated ? " not between " : " between ";
        Child(*b.low, kAdd);
        out += " and ";
        Child(*b.high, kAdd);
        break;
      }
      case ExprKind::In: {
        const auto& in = e.As<InExpr>();
        Child(*in.operand, kAdd);
        out += in.negated ? " not in (" : " in (";
        if (in.subquery)
          out += ToSql(*in.subquery);
        else
          List(in.list);
        out += ')';
        break;
      }
      case ExprKind::IsNull: {
        const auto& n = e.As<IsNullExpr>();
        Child(*n.operand, kAdd);
        out += n.negated ? " is not null" : " is null";
        break;
      }
      case ExprKind::Exists: out += "exists (" + ToSql(*e.As<ExistsExpr>().subquery) + ")"; break;
      case ExprKind::Subquery: out += "(" + ToSql(*e.As<SubqueryExpr>().subquery) + ")"; break;
      case ExprKind::Case: {
        const auto& c = e.As<CaseExpr>();
        out += "case";
        if (c.operand) {
          out += ' ';
          Print(*c.operand);
        }
        for (const CaseWhen& w : c.whens) {
          out += " when ";
          Print(*w.when);
          out += " then ";
          Print(*w.then);
        }
        if (c.otherwise) {
          out += " else ";
          Print(*c.otherwise);
        }
        out += " end";
        break;
      }
      case ExprKind::Function: {
        const auto& f = e.As<FunctionExpr>();
        if (!f.owner.empty()) out += Delimited(f.owner) + ".";
        // Reserved words the parser takes as functions (user, coalesce, ...) stand bare before
        // '('; any other reserved word (from a delimited name) keeps its brackets.
        const bool word = !f.name.empty() &&
                          std::all_of(f.name.begin(), f.name.end(),
                                      [](char ch) {
                                        auto c = static_cast<unsigned char>(ch);
                                        return std::isalnum(c) || c == '_' || c >= 0x80;
                                      }) &&
                          !std::isdigit(static_cast<unsigned char>(f.name[0])) &&
                          (!IsReservedWord(f.name) || ReservedFunction(f.name));
        // A bare function name reads back in lower case: one with capitals (from a delimited
        // name) keeps its brackets.
        const bool capitals = std::any_of(f.name.begin(), f.name.end(),
                                          [](char ch) { return ch >= 'A' && ch <= 'Z'; });
        out += (capitals ? Bracketed(f.name) : word ? f.name : Delimited(f.name)) + "(";
        List(f.args);
        out += ')';
        if (f.name == "user" && f.args.empty() && f.owner.empty()) out.resize(out.size() - 2);
        break;
      }
      case ExprKind::Aggregate: {
        const auto& a = e.As<AggregateExpr>();
        out += AggregateName(a.func);
        out += '(';
        if (a.star) {
          out += '*';
        } else {
          if (a.distinct) out += "distinct ";
          if (a.arg) Print(*a.arg);
        }
        out += ')';
        break;
      }
      case ExprKind::Parameter: out += '?'; break;
      case ExprKind::Convert: {
        const auto& c = e.As<ConvertExpr>();
        if (c.cast) {
          out += "cast(";
          Print(*c.operand);
          out += " as " + c.type.ToString() + ")";
        } else {
          out += "convert(" + c.type.ToString() + ", ";
          Print(*c.operand);
          if (c.style) {
            out += ", ";
            Print(*c.style);
          }
          out += ')';
        }
        break;
      }
    }
  }

  static bool IsCondition(const Expr& e) {
    switch (e.kind) {
      case ExprKind::Like:
      case ExprKind::Between:
      case ExprKind::In:
      case ExprKind::IsNull:
      case ExprKind::Exists: return true;
      case ExprKind::Unary: return e.As<UnaryExpr>().op == UnaryOp::Not;
      case ExprKind::Binary: {
        const BinaryOp op = e.As<BinaryExpr>().op;
        return op >= BinaryOp::Equal;  // comparisons, and/or, outer-join operators
      }
      default: return false;
    }
  }

  void Query(const QuerySpec& q) {
    out += "select ";
    if (q.distinct) out += "distinct ";
    if (q.top) {
      out += "top ";
      Print(*q.top);
      out += ' ';
    }
    for (std::size_t i = 0; i < q.items.size(); ++i) {
      if (i) out += ", ";
      const SelectItem& it = q.items[i];
      switch (it.kind) {
        case SelectItemKind::Star: out += '*'; break;
        case SelectItemKind::TableStar: out += Delimited(it.table) + ".*"; break;
        case SelectItemKind::Assign:
          out += it.variable + " = ";
          Print(*it.expr);
          break;
        case SelectItemKind::Expr:
          // A condition as a value only parses back inside parentheses.
          if (IsCondition(*it.expr)) {
            out += '(';
            Print(*it.expr);
            out += ')';
          } else {
            Print(*it.expr);
          }
          if (!it.alias.empty()) out += " " + (PlainName(it.alias) ? it.alias : Quote(it.alias));
          break;
      }
    }
    if (!q.into.empty()) out += " into " + Delimited(q.into);
    if (!q.from.empty()) {
      out += " from ";
      for (std::size_t i = 0; i < q.from.size(); ++i) {
        if (i) out += ", ";
        out += ToSql(*q.from[i]);
      }
    }
    if (q.where) {
      out += " where ";
      Print(*q.where);
    }
    if (!q.groupBy.empty()) {
      out += q.groupByAll ? " group by all " : " group by ";
      List(q.groupBy);
    }
    if (q.having) {
      out += " having ";
      Print(*q.having);
    }
  }
};

}  // namespace

std::string ObjectName::ToString() const {
  std::string out;
  if (!server.empty()) out += server + ".";
  if (!server.empty() || !database.empty()) out += database + ".";
  if (!server.empty() || !database.empty() || !owner.empty()) out += owner + ".";
  out += object;
  return out;
}

std::string DataType::ToString() const {
  std::string out = name;
  if (precision) {
    out += "(" + std::to_string(*precision);
    if (scale) out += "," + std::to_string(*scale);
    out += ")";
  } else if (length) {
    out += "(" + std::to_string(*length) + ")";
  }
  return out;
}

const char* BinaryOpText(BinaryOp op) {
  switch (op) {
    case BinaryOp::Add: return "+";
    case BinaryOp::Subtract: return "-";
    case BinaryOp::Multiply: return "*";
    case BinaryOp::Divide: return "/";
    case BinaryOp::Modulo: return "%";
    case BinaryOp::BitAnd: return "&";
    case BinaryOp::BitOr: return "|";
    case BinaryOp::BitXor: return "^";
    case BinaryOp::Equal: return "=";
    case BinaryOp::NotEqual: return "<>";
    case BinaryOp::Less: return "<";
    case BinaryOp::Greater: return ">";
    case BinaryOp::LessEqual: return "<=";
    case BinaryOp::GreaterEqual: return ">=";
    case BinaryOp::NotLess: return "!<";
    case BinaryOp::NotGreater: return "!>";
    case BinaryOp::And: return "and";
    case BinaryOp::Or: return "or";
    case BinaryOp::OuterLeft: return "*=";
    case BinaryOp::OuterRight: return "=*";
  }
  return "?";
}

const char* AggregateName(AggregateFunc func) {
  switch (func) {
    case AggregateFunc::Count: return "count";
    case AggregateFunc::CountBig: return "count_big";
    case AggregateFunc::Sum: return "sum";
    case AggregateFunc::Avg: return "avg";
    case AggregateFunc::Min: return "min";
    case AggregateFunc::Max: return "max";
  }
  return "?";
}

std::string ToSql(const Expr& expr) {
  Printer p;
  p.Print(expr);
  return p.out;
}

std::string ToSql(const DataType& type) { return type.ToString(); }

std::string ToSql(const TableRef& t) {
  std::string out;
  switch (t.kind) {
    case TableRefKind::Named:
      out = Delimited(t.name);
      if (!t.alias.empty()) out += " " + Delimited(t.alias);
      for (const std::string& h : t.hints) {
        if (h == "holdlock" || h == "noholdlock" || h == "readpast" || h == "shared")
          out += " " + h;
        else
          out += " (" + h + ")";
      }
      break;
    case TableRefKind::Derived: out = "(" + ToSql(*t.derived) + ") " + Delimited(t.alias); break;
    case TableRefKind::Join: {
      out = ToSql(*t.left);
      switch (t.join) {
        case JoinType::Inner: out += " join "; break;
        case JoinType::Left: out += " left join "; break;
        case JoinType::Right: out += " right join "; break;
        case JoinType::Cross: out += " cross join "; break;
      }
      if (t.right->kind == TableRefKind::Join)
        out += "(" + ToSql(*t.right) + ")";
      else
        out += ToSql(*t.right);
      if (t.on) out += " on " + ToSql(*t.on);
      break;
    }
  }
  return out;
}

std::string ToSql(const SelectStmt& s) {
  Printer p;
  p.Query(*s.query);
  for (const UnionPart& u : s.unions) {
    p.out += u.all ? " union all " : " union ";
    p.Query(*u.query);
  }
  if (!s.orderBy.empty()) {
    p.out += " order by ";
    for (std::size_t i = 0; i < s.orderBy.size(); ++i) {
      if (i) p.out += ", ";
      p.Print(*s.orderBy[i].expr);
      if (s.orderBy[i].descending) p.out += " desc";
    }
  }
  for (const ComputeClause& c : s.computes) {
    p.out += " compute ";
    for (std::size_t i = 0; i < c.aggregates.size(); ++i) {
      if (i) p.out += ", ";
      p.Print(*c.aggregates[i]);
    }
    for (std::size_t i = 0; i < c.by.size(); ++i) {
      p.out += i ? ", " : " by ";
      p.Print(*c.by[i]);
    }
  }
  if (s.forBrowse) p.out += " for browse";
  if (s.forUpdate) {
    p.out += " for update";
    for (std::size_t i = 0; i < s.forUpdateColumns.size(); ++i)
      p.out += (i ? ", " : " of ") + s.forUpdateColumns[i];
  }
  if (s.forReadOnly) p.out += " for read only";
  if (s.isolation) p.out += " at isolation " + std::to_string(*s.isolation);
  return p.out;
}

}  // namespace sampleserver::sql
