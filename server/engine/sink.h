// Where the engine delivers what a request produces, in order. The protocol layer implements it
// and writes tokens; tests implement it to record.
#pragma once

#include "types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sampleserver {

// DONE status bits, as on the wire.
enum DoneStatus : uint16_t {
  kDoneFinal = 0x0000,
  kDoneMore = 0x0001,  // set by the protocol layer, never by the engine
  kDoneError = 0x0002,
  kDoneInXact = 0x0004,
  kDoneProc = 0x0008,  // ends a procedure's reply: sent as DONEPROC
  kDoneCount = 0x0010,
  kDoneAttn = 0x0020,
};

// Compute row aggregate operators, as on the wire.
enum ComputeOp : uint8_t {
  kComputeCount = 0x4B,
  kComputeSum = 0x4D,
  kComputeAvg = 0x4F,
  kComputeMin = 0x51,
  kComputeMax = 0x52,
};

struct ComputeColumn {
  uint8_t op = kComputeSum;
  uint16_t column = 1;  // the select-list column summarised, from 1
  ColumnInfo info;      // the summary value's type
};

// One compute clause of a select: its rows carry `id` (from 1, in clause order).
struct ComputeFormat {
  uint16_t id = 1;
  std::vector<ComputeColumn> columns;
  std::vector<uint16_t> by;  // select-list columns of the by list, from 1
};

// Where a result column of a select for browse comes from: its table and its name there, both
// empty for an expression.
struct BrowseColumn {
  std::string table;
  std::string column;
};

class ResultSink {
 public:
  virtual ~ResultSink() = default;
  // A result set begins; rows follow.
  virtual void Columns(const std::vector<ColumnInfo>& columns) = 0;
  virtual void Row(const std::vector<Value>& values) = 0;
  // After Columns, for a select for browse: the tables read and each column's origin.
  virtual void BrowseInfo(const std::vector<BrowseColumn>& columns) { (void)columns; }
  // A row whose text and image values were read from a table: `pointers` holds each such
  // value's text pointer (empty for the other columns and for NULLs). Sinks that do not send
  // text pointers take the row alone.
  virtual void RowWithTextPointers(const std::vector<Value>& values,
                                   const std::vector<Bytes>& pointers) {
    (void)pointers;
    Row(values);
  }
  // One statement ended. `status` is a combination of kDoneError, kDoneInXact, kDoneCount;
  // `inProc` marks statements run inside a procedure (DONEINPROC).
  virtual void Done(uint16_t status, int32_t count, bool inProc) = 0;
  virtual void Message(const ServerMessage& message) = 0;
  // The current database changed (use): the protocol layer sends the environment change.
  virtual void DatabaseChanged(const std::string& newName, const std::string& oldName) = 0;
  virtual void ReturnStatus(int32_t status) = 0;
  // A procedure's output parameters, after its return status and before its Done. Each
  // description's name is the parameter's name as the client knows it.
  virtual void OutputParams(const std::vector<ColumnInfo>& params,
                            const std::vector<Value>& values) {
    (void)params;
    (void)values;
  }
  // After Columns and before the first row: one format per compute clause of the select.
  virtual void ComputeFormats(const std::vector<ComputeFormat>& formats) { (void)formats; }
  // A summary row of the compute clause `id`, among the rows of the current result set.
  virtual void ComputeRow(uint16_t id, const std::vector<Value>& values) {
    (void)id;
    (void)values;
  }
  // Polled between rows and statements: true once the client asked to cancel (attention).
  virtual bool Cancelled() const = 0;
};

}  // namespace sampleserver
