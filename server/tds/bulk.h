// Bulk copy in, as FreeTDS's Bulk-Library sends it under TDS 5.0: "insert bulk <table>", then
// bulk messages (packet type 0x07) of rows in the server's own row format, one batch each.
#pragma once

#include "engine/engine.h"
#include "tds/packet.h"
#include "tds/tokens.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sampleserver::tds {

// Decodes bulk rows of one table. The client lays each row out from the description the server
// gave it, so the decoder classifies the columns from the same description, as FreeTDS does:
// a column is fixed when its wire type has no length of its own and it is not nullable; every
// other column is variable and found through the row's offset table.
class BulkRowDecoder {
 public:
  explicit BulkRowDecoder(std::vector<ColumnInfo> columns);

  const std::vector<ColumnInfo>& Columns() const { return columns_; }
  // Decodes the row at the front of `data`: its 2-byte length, the row image and the trailers of
  // its text and image columns. Returns the bytes it took, or 0 when `size` does not hold the
  // whole row yet. Throws ProtocolError when the row contradicts the layout.
  size_t Decode(const uint8_t* data, size_t size, std::vector<Value>& row) const;

 private:
  struct Column {
    WireFormat format;
    bool fixed = false;
    size_t offset = 0;  // fixed: position in the row image
    uint8_t bit = 0;    // fixed bit: the mask in its byte
    int variable = -1;  // variable: index among the variable columns
    bool blob = false;
  };

  Value Fixed(const ColumnInfo& c, const Column& col, const uint8_t* p) const;
  Value Variable(const ColumnInfo& c, const uint8_t* p, size_t len) const;

  std::vector<ColumnInfo> columns_;
  std::vector<Column> layout_;
  size_t fixedEnd_ = 2;  // where the fixed columns end in the row image
  size_t variableCount_ = 0;
  size_t blobCount_ = 0;
};

// A bulk message's bytes, which arrive packet by packet, cut into decoded rows.
class BulkStream {
 public:
  explicit BulkStream(std::vector<ColumnInfo> columns) : decoder_(std::move(columns)) {}

  // Appends the next piece and passes every row it completes to `row`. Throws ProtocolError.
  void Feed(const uint8_t* data, size_t size, const std::function<void(std::vector<Value>&)>& row);
  // True while bytes of an unfinished row are held.
  bool Pending() const { return pos_ < buffer_.size(); }

 private:
  BulkRowDecoder decoder_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0;
  std::vector<Value> values_;
};

// A connection's bulk copy: begun by "insert bulk", fed by bulk messages, ended by the last
// piece of a bulk message (one batch), and abandoned by anything else the client sends.
class BulkCopy {
 public:
  // The table of "insert bulk <table>" (any case, blanks around); none for any other text.
  static std::optional<std::string> Target(std::string_view text);

  // Answers "insert bulk" through the session; a refusal leaves no copy open.
  void Begin(Session& session, std::string_view table, ResultSink& sink);
  // One packet's piece of a bulk message. The last piece ends the batch and answers it with one
  // Done: the rows kept, or the error that undid the batch.
  void Piece(const Message& m, ResultSink& sink);
  // The client went on without ending the batch: its rows are dropped. True when a copy was
  // open (the request that follows may begin with rows of the abandoned batch).
  bool Abandon();
  bool Open() const { return insert_ != nullptr; }
  // What the client is told when a bulk message or an abandoned copy ends in the middle of a row.
  static ServerMessage PrematureEnd();

 private:
  std::unique_ptr<BulkInsert> insert_;
  std::unique_ptr<BulkStream> stream_;
  bool failed_ = false;
  bool orphan_ = false;  // bulk data without "insert bulk"
};

// A connection's "writetext bulk": the statement names the value by its text pointer, and the new
// value follows as one bulk message: its length (4 bytes), then its bytes.
class BulkText {
 public:
  // Whether `text` is a "writetext bulk" statement (any case, blanks around).
  static bool Is(std::string_view text);

  // Answers the statement through the session; a refusal leaves nothing open.
  void Begin(Session& session, std::string_view text, ResultSink& sink);
  bool Open() const { return write_ != nullptr; }
  // One packet's piece of the bulk message; the last piece stores the value and answers with one
  // Done.
  void Piece(const Message& m, ResultSink& sink);
  // The client went on without sending the value: nothing is written.
  void Abandon();

 private:
  std::unique_ptr<TextWrite> write_;
  std::vector<uint8_t> data_;
};

}  // namespace sampleserver::tds
