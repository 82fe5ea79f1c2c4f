#include "engine/compute.h"

#include "engine/session.h"
#include "engine/translate.h"
#include "engine/values.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

namespace sampleserver {
namespace {

constexpr int kMsgGeneric = 7;

// Exact sums: integers, money units and numerics at their column's scale all fit 38 digits.
using Wide = __int128;

Wide WideFromDigits(const NumericValue& n) {
  Wide w = 0;
  for (char c : n.digits) w = w * 10 + (c - '0');
  return n.negative ? -w : w;
}

NumericValue NumericFromWide(Wide w, uint8_t precision, uint8_t scale) {
  NumericValue n;
  n.negative = w < 0;
  unsigned __int128 m =
      n.negative ? 0 - static_cast<unsigned __int128>(w) : static_cast<unsigned __int128>(w);
  std::string digits;
  do {
    digits.push_back(static_cast<char>('0' + static_cast<int>(m % 10)));
    m /= 10;
  } while (m != 0);
  std::reverse(digits.begin(), digits.end());
  n.digits = digits;
  n.negative = n.negative && digits != "0";
  n.precision = precision;
  n.scale = scale;
  if (!FitsPrecision(n)) throw SqlError(3606, {});
  return n;
}

// A numeric column's value as a whole number of 10^-scale units.
Wide Scaled(const Value& v, uint8_t scale) {
  NumericValue n;
  if (const auto* p = std::get_if<NumericValue>(&v))
    n = *p;
  else if (const auto* i = std::get_if<int64_t>(&v))
    n = NumericFromInt(*i);
  else if (const auto* d = std::get_if<double>(&v))
    n = NumericFromDouble(*d, 38, scale);
  return WideFromDigits(RescaleNumeric(n, 38, scale));
}

int64_t IntOf(const Value& v) {
  if (const auto* i = std::get_if<int64_t>(&v)) return *i;
  if (const auto* d = std::get_if<double>(&v)) return static_cast<int64_t>(*d);
  return 0;
}

double DoubleOf(const Value& v) {
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
  if (const auto* n = std::get_if<NumericValue>(&v)) return NumericToDouble(*n);
  if (const auto* m = std::get_if<MoneyValue>(&v)) return MoneyToDouble(*m);
  return 0;
}

int64_t MoneyUnitsOf(const Value& v) {
  if (const auto* m = std::get_if<MoneyValue>(&v)) return m->units;
  return MoneyFromDouble(DoubleOf(v)).units;
}

Wide Checked(Wide v, SqlType type) {
  Wide lo = std::numeric_limits<int64_t>::min(), hi = std::numeric_limits<int64_t>::max();
  if (type == SqlType::Int) {
    lo = std::numeric_limits<int32_t>::min();
    hi = std::numeric_limits<int32_t>::max();
  }
  if (v < lo || v > hi) throw SqlError(3606, {});
  return v;
}

uint8_t OpOf(sql::AggregateFunc f) {
  switch (f) {
    case sql::AggregateFunc::Sum: return kComputeSum;
    case sql::AggregateFunc::Avg: return kComputeAvg;
    case sql::AggregateFunc::Min: return kComputeMin;
    case sql::AggregateFunc::Max: return kComputeMax;
    default: return kComputeCount;
  }
}

// The select-list column an expression of a compute clause or order by names: a column's name or
// label, or an expression written as in the select list.
std::optional<std::size_t> SelectIndex(const sql::SelectStmt& s, const TranslatedQuery& q,
                                       const sql::Expr& e) {
  if (const auto* c = e.If<sql::ColumnExpr>()) {
    for (std::size_t i = 0; i < q.columns.size(); ++i)
      if (q.columns[i].name == c->column) return i;
  }
  // Items map one to one onto columns up to the first * (whose width only the columns know).
  const std::string text = sql::ToSql(e);
  std::size_t i = 0;
  for (const auto& item : s.query->items) {
    if (item.kind == sql::SelectItemKind::Star || item.kind == sql::SelectItemKind::TableStar)
      break;
    if (item.expr && sql::ToSql(*item.expr) == text) return i;
    ++i;
  }
  return std::nullopt;
}

}  // namespace

std::vector<ComputePlan> SessionImpl::PlanComputes(const sql::SelectStmt& s,
                                                   const TranslatedQuery& q) {
  std::vector<std::optional<std::size_t>> order;
  for (const auto& o : s.orderBy) {
    const auto* lit = o.expr->If<sql::LiteralExpr>();
    if (lit && lit->literal == sql::LiteralKind::Integer)
      order.push_back(
          static_cast<std::size_t>(std::stol(lit->text) - 1));  // checked by the translator
    else
      order.push_back(SelectIndex(s, q, *o.expr));
  }
  std::vector<ComputePlan> plans;
  for (const auto& c : s.computes) {
    ComputePlan p;
    p.format.id = static_cast<uint16_t>(plans.size() + 1);
    for (const auto& e : c.aggregates) {
      const auto& a = *e->If<sql::AggregateExpr>();  // the parser admits nothing else
      auto i = SelectIndex(s, q, *a.arg);
      if (!i)
        Fail(kMsgGeneric, {"The argument of " + sql::ToSql(a) +
                           " in a compute clause must be a column of the select list."});
      const TypeDesc& arg = q.types[*i];
      bool adds = a.func == sql::AggregateFunc::Sum || a.func == sql::AggregateFunc::Avg;
      if (adds && (!arg.IsNumeric() || arg.type == SqlType::Bit))
        Fail(409, {a.func == sql::AggregateFunc::Sum ? "sum" : "average", TypeName(arg)});
      TypeDesc t = AggregateType(a.func, arg);
      p.funcs.push_back(a.func);
      p.args.push_back(*i);
      p.argTypes.push_back(q.types[*i]);
      p.types.push_back(t);
      ComputeColumn col;
      col.op = OpOf(a.func);
      col.column = static_cast<uint16_t>(*i + 1);
      col.info = MakeColumnInfo("", t, true);
      p.format.columns.push_back(col);
    }
    for (std::size_t j = 0; j < c.by.size(); ++j) {
      auto i = SelectIndex(s, q, *c.by[j]);
      if (!i || j >= order.size() || order[j] != i)
        Fail(kMsgGeneric, {"The by list of a compute clause must repeat the leading items of the "
                           "order by list, in the same order."});
      p.by.push_back(*i);
      p.format.by.push_back(static_cast<uint16_t>(*i + 1));
    }
    plans.push_back(std::move(p));
  }
  return plans;
}

int CompareValues(const Value& a, const Value& b) {
  if (IsNull(a) || IsNull(b)) return IsNull(a) == IsNull(b) ? 0 : IsNull(a) ? -1 : 1;
  auto sign = [](auto x, auto y) { return x < y ? -1 : y < x ? 1 : 0; };
  if (a.index() != b.index()) return sign(DoubleOf(a), DoubleOf(b));
  if (const auto* x = std::get_if<int64_t>(&a)) return sign(*x, std::get<int64_t>(b));
  if (const auto* x = std::get_if<double>(&a)) return sign(*x, std::get<double>(b));
  if (const auto* x = std::get_if<NumericValue>(&a))
    return CompareNumeric(*x, std::get<NumericValue>(b));
  if (const auto* x = std::get_if<MoneyValue>(&a))
    return sign(x->units, std::get<MoneyValue>(b).units);
  if (const auto* x = std::get_if<DateTimeValue>(&a)) {
    const auto& y = std::get<DateTimeValue>(b);
    return x->days != y.days ? sign(x->days, y.days) : sign(x->ticks, y.ticks);
  }
  if (const auto* x = std::get_if<std::string>(&a)) return CompareSyb(*x, std::get<std::string>(b));
  const auto& x = std::get<Bytes>(a);
  const auto& y = std::get<Bytes>(b);
  for (std::size_t i = 0; i < x.size() && i < y.size(); ++i)
    if (x[i] != y[i]) return sign(x[i], y[i]);
  return sign(x.size(), y.size());
}

struct ComputeRows::Accumulator {
  int64_t count = 0;
  Wide exact = 0;     // integers, money units, numerics at the argument's scale
  double approx = 0;  // float and real
  Value best;         // min and max
};

ComputeRows::ComputeRows(std::vector<ComputePlan> plans) : plans_(std::move(plans)) {
  for (const auto& p : plans_) acc_.emplace_back(p.funcs.size());
  for (std::size_t i = 0; i < plans_.size(); ++i) emitOrder_.push_back(i);
  std::stable_sort(emitOrder_.begin(), emitOrder_.end(), [&](std::size_t a, std::size_t b) {
    return plans_[a].by.size() > plans_[b].by.size();
  });
}

ComputeRows::~ComputeRows() = default;

std::vector<ComputeFormat> ComputeRows::Formats() const {
  std::vector<ComputeFormat> out;
  for (const auto& p : plans_) out.push_back(p.format);
  return out;
}

void ComputeRows::Row(const std::vector<Value>& row, ResultSink& sink) {
  if (!last_.empty()) {
    for (std::size_t c : emitOrder_) {
      const auto& by = plans_[c].by;
      bool ends = std::any_of(by.begin(), by.end(),
                              [&](std::size_t i) { return CompareValues(last_[i], row[i]) != 0; });
      if (ends) Emit(c, sink);
    }
  }
  for (std::size_t c = 0; c < plans_.size(); ++c) {
    const ComputePlan& p = plans_[c];
    for (std::size_t k = 0; k < p.funcs.size(); ++k) {
      const Value& v = row[p.args[k]];
      if (IsNull(v)) continue;
      Accumulator& a = acc_[c][k];
      ++a.count;
      const TypeDesc& arg = p.argTypes[k];
      switch (p.funcs[k]) {
        case sql::AggregateFunc::Sum:
        case sql::AggregateFunc::Avg:
          if (arg.IsInteger())
            a.exact += IntOf(v);
          else if (IsMoneyType(arg.type))
            a.exact += MoneyUnitsOf(v);
          else if (arg.IsExactNumeric())
            a.exact += Scaled(v, arg.scale);
          else
            a.approx += DoubleOf(v);
          break;
        case sql::AggregateFunc::Min:
          if (IsNull(a.best) || CompareValues(v, a.best) < 0) a.best = v;
          break;
        case sql::AggregateFunc::Max:
          if (IsNull(a.best) || CompareValues(v, a.best) > 0) a.best = v;
          break;
        default: break;
      }
    }
  }
  last_ = row;
}

void ComputeRows::Finish(ResultSink& sink) {
  for (std::size_t c : emitOrder_)
    if (!last_.empty() || plans_[c].by.empty()) Emit(c, sink);
  last_.clear();
}

void ComputeRows::Emit(std::size_t clause, ResultSink& sink) {
  const ComputePlan& p = plans_[clause];
  std::vector<Value> values;
  for (std::size_t k = 0; k < p.funcs.size(); ++k) {
    Accumulator& a = acc_[clause][k];
    const TypeDesc& t = p.types[k];
    Value v;
    if (p.funcs[k] == sql::AggregateFunc::Count) {
      v = a.count;
    } else if (a.count == 0) {
      v = std::monostate{};
    } else if (p.funcs[k] == sql::AggregateFunc::Min || p.funcs[k] == sql::AggregateFunc::Max) {
      v = a.best;
    } else {
      bool avg = p.funcs[k] == sql::AggregateFunc::Avg;
      if (t.IsInteger()) {
        v = static_cast<int64_t>(Checked(avg ? a.exact / a.count : a.exact, t.type));
      } else if (IsMoneyType(t.type)) {
        v = MoneyValue{
            static_cast<int64_t>(Checked(avg ? a.exact / a.count : a.exact, SqlType::BigInt))};
      } else if (t.IsExactNumeric()) {
        // The sum is kept at the argument's scale; an average has at least six decimals.
        Wide w = a.exact;
        for (int s = p.argTypes[k].scale; s < t.scale; ++s)
          if (__builtin_mul_overflow(w, 10, &w)) throw SqlError(3606, {});
        v = NumericFromWide(avg ? w / a.count : w, 38, t.scale);
      } else {
        v = avg ? a.approx / static_cast<double>(a.count) : a.approx;
      }
    }
    values.push_back(std::move(v));
    a = Accumulator{};
  }
  sink.ComputeRow(p.format.id, values);
}

}  // namespace sampleserver
