// Bulk copy into a table, as "insert bulk" starts it: rows arrive already decoded, batch by batch.
#pragma once

#include "engine/sink.h"
#include "engine/types.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sampleserver {

// One bulk copy into one table. Rows follow the columns "select * from" the table describes.
// As Sybase's bulk copy does: a NULL in a column with a default gets the default, identity
// values are generated unless identity_insert is on for the table (then the row's value is
// kept), rules and triggers are not run. A batch is one transaction: all of its rows or none.
class BulkInsert {
 public:
  virtual ~BulkInsert() = default;
  virtual const std::vector<ColumnInfo>& Columns() const = 0;
  // Adds a row to the open batch (one value per column, NULL as std::monostate). After a
  // failure the batch is only waiting to be reported: later rows are dropped. The first row
  // of a batch may wait for the table's lock; `sink` is polled for a cancel meanwhile.
  virtual void Add(std::vector<Value>& row, ResultSink& sink) = 0;
  // Ends the batch with one Done: the row count with kDoneCount when every row went in,
  // otherwise the failure's message and kDoneError, with none of the batch's rows kept.
  virtual void Commit(ResultSink& sink) = 0;
  // Marks the open batch failed with this message; Commit reports it.
  virtual void Fail(const ServerMessage& message) = 0;
  // Undoes the open batch without a word (the client abandoned it).
  virtual void Abort() = 0;
};

// "writetext bulk": the new value of one text or image value follows as a bulk message.
class TextWrite {
 public:
  virtual ~TextWrite() = default;
  // Replaces the value the text pointer designated with `data` and ends with one Done (the
  // failure's message and kDoneError when the row is gone).
  virtual void Write(const Bytes& data, ResultSink& sink) = 0;
};

}  // namespace sampleserver
