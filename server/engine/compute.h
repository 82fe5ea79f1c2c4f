// Compute clauses: the summary rows a select sends among its rows, one after each group of its
// by columns or one after the last row. The aggregates run over the values as they are sent, so
// a summary always agrees with the rows the client saw.
#pragma once

#include "engine/sink.h"
#include "engine/sqltypes.h"
#include "sql/ast.h"

#include <cstddef>
#include <vector>

namespace sampleserver {

// One compute clause resolved against its select list.
struct ComputePlan {
  ComputeFormat format;
  std::vector<sql::AggregateFunc> funcs;  // one per format column
  std::vector<TypeDesc> argTypes;         // the select-list column's type, per aggregate
  std::vector<TypeDesc> types;            // each aggregate's result type
  std::vector<std::size_t> args;          // select-list index (from 0) each aggregate reads
  std::vector<std::size_t> by;            // select-list indexes (from 0) of the by list
};

class ComputeRows {
 public:
  explicit ComputeRows(std::vector<ComputePlan> plans);
  ComputeRows(const ComputeRows&) = delete;
  ComputeRows& operator=(const ComputeRows&) = delete;
  ~ComputeRows();

  std::vector<ComputeFormat> Formats() const;
  // Before `row` is sent: the summaries of the groups it ends. Then counts it in.
  void Row(const std::vector<Value>& row, ResultSink& sink);
  // After the last row: every clause's last summary. A clause without by sends its summary even
  // when no row qualified; by groups only exist where rows do. Throws SqlError (3606) when a sum
  // leaves its type's range.
  void Finish(ResultSink& sink);

 private:
  struct Accumulator;
  void Emit(std::size_t clause, ResultSink& sink);

  std::vector<ComputePlan> plans_;
  std::vector<std::vector<Accumulator>> acc_;  // per clause, per aggregate
  std::vector<Value> last_;                    // the previous row sent; empty before the first
  // Clauses in the order their summaries go out when several groups end together: inner (longer
  // by list) before outer, then in clause order.
  std::vector<std::size_t> emitOrder_;
};

// Sybase's ordering of two values of one column (NULL first; character data blank-padded).
int CompareValues(const Value& a, const Value& b);

}  // namespace sampleserver
