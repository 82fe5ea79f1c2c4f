// Bulk-Library.
//
// Copy-out is an ordinary `select * from <table>` read through this module's own command and
// fetch loop: FreeTDS's copy-out is that same select, but it leaves the final DONE unread (the next
// command then fails with results pending), fails an empty table, and writes past numeric
// buffers. Binding goes through the same internal arrays as ct_bind (NULL substitution,
// terminated text, datetime text, numeric buffers of sizeof(CS_NUMERIC) copied out by the
// caller's maxlength).
//
// Copy-in goes to FreeTDS's blk_*, but a batch is held here until blk_done: FreeTDS's
// CS_BLK_CANCEL does nothing (the started `insert bulk` stays open and the buffered rows corrupt
// the next request) and offers no way to abandon a batch. Each row is checked (conversion to the
// column's type, NULL into a NOT NULL column) when blk_rowxfer is called, so a bad row fails
// there with a client message, as the vendor's does; FreeTDS would report it only at blk_done.
// blk_done(CS_BLK_BATCH / CS_BLK_ALL) hands the held rows to FreeTDS as one complete bulk
// operation (blk_init, binds, rows, done); CS_BLK_CANCEL discards them, leaving the connection
// idle. The price is one extra round trip per batch (FreeTDS's blk_init asks the server for the
// table's columns).
#include "connection/openclient_internal.h"

#include <algorithm>
#include <cstring>

namespace oc {

namespace {
struct FreeBlk {
  void operator()(CS_BLKDESC* blk) const noexcept { ::blk_drop(blk); }
};
using FreeBlkPtr = std::unique_ptr<CS_BLKDESC, FreeBlk>;

struct InBind {
  bool bound = false;
  CS_DATAFMT fmt{};
  CS_VOID* buffer = nullptr;
  CS_INT* datalen = nullptr;
  CS_SMALLINT* indicator = nullptr;
};

// The rows of the current batch, their values back to back in one buffer: a batch holds up to
// BatchSize rows, and a block of its own for each value would cost more than the copy itself.
class HeldRows {
 public:
  struct Value {
    size_t offset = 0;
    CS_INT len = 0;
    CS_SMALLINT indicator = 0;
  };
  void SetColumns(size_t n) { columns_ = n; }
  size_t Rows() const { return columns_ ? values_.size() / columns_ : 0; }
  bool Empty() const { return values_.empty(); }
  const Value& At(size_t row, size_t column) const { return values_[row * columns_ + column]; }
  const char* Bytes(const Value& v) const { return bytes_.data() + v.offset; }
  // Appends a value to the row being built; a row is whole once it has a value for each column.
  void Add(const char* data, CS_INT len, CS_SMALLINT indicator) {
    values_.push_back({bytes_.size(), len, indicator});
    if (data && len > 0) bytes_.insert(bytes_.end(), data, data + len);
  }
  // Forgets the values added since the last whole row.
  void DropPartialRow() {
    const size_t whole = Rows() * columns_;
    if (whole < values_.size()) {
      bytes_.resize(values_[whole].offset);
      values_.resize(whole);
    }
  }
  void Clear() {
    bytes_.clear();
    values_.clear();
  }

 private:
  size_t columns_ = 0;
  std::vector<char> bytes_;
  std::vector<Value> values_;
};
}  // namespace

struct BlkState {
  CS_INT direction = 0;
  std::string table;
  std::vector<CS_DATAFMT> columns;  // as FreeTDS's blk_describe gives them
  // copy-in
  std::vector<InBind> binds;
  HeldRows held;
  std::vector<char> scratch;  // conversion checks
  std::map<CS_INT, CS_INT> props;
  // copy-out
  CommandHandle out;
  bool out_done = false;
  CS_INT rows = 0;
};

BlkDesc::~BlkDesc() = default;
void BlkDeleter::operator()(BlkDesc* blk) const noexcept { delete blk; }

using namespace internal;

namespace {
DebugSink* sink_of_blk(BlkDesc* blk) { return blk ? sink_of(blk->con) : nullptr; }

bool usable(BlkDesc* blk) { return blk && blk->state && connection_alive(blk->con); }

// Reads what is left of the copy-out's results so the connection is idle again.
void drain(BlkState& st) {
  if (st.out_done || !st.out) return;
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = oc::ct_results(st.out.get(), &type)) == CS_SUCCEED) {
    if (type == CS_ROW_RESULT || type == CS_STATUS_RESULT || type == CS_PARAM_RESULT ||
        type == CS_COMPUTE_RESULT)
      oc::IgnoreStatus(oc::ct_cancel(nullptr, st.out.get(), CS_CANCEL_CURRENT),
                       "the loop's next ct_results tells whether the stream moved on");
  }
  if (rc != CS_END_RESULTS)
    oc::IgnoreStatus(oc::ct_cancel(nullptr, st.out.get(), CS_CANCEL_ALL),
                     "the last resort: nothing more can be done for this copy");
  st.out_done = true;
}

CS_INT value_length(const InBind& b) {
  if (b.datalen && *b.datalen >= 0 && *b.datalen != CS_UNUSED) return *b.datalen;
  const CS_INT size = fixed_size(b.fmt.datatype);
  if (size > 0) return size;
  if (b.fmt.maxlength > 0 && is_char_type(b.fmt.datatype) && b.buffer)
    return static_cast<CS_INT>(
        strnlen(static_cast<const char*>(b.buffer), static_cast<size_t>(b.fmt.maxlength)));
  return std::max<CS_INT>(b.fmt.maxlength, 0);
}

// FreeTDS converts each value of a copy-in into a column buffer of its own, which for a text or
// image column holds at most 4096 bytes; a longer value is written past its end.
constexpr CS_INT kFreeTdsBlobBuffer = 4096;

bool is_blob(CS_INT type) { return type == CS_TEXT_TYPE || type == CS_IMAGE_TYPE; }

bool too_long_for_freetds(const BlkState& st, size_t row) {
  for (size_t c = 0; c < st.binds.size() && c < st.columns.size(); ++c) {
    const HeldRows::Value& v = st.held.At(row, c);
    if (is_blob(st.columns[c].datatype) && v.indicator != -1 && v.len >= kFreeTdsBlobBuffer)
      return true;
  }
  return false;
}

// Runs one statement on the connection and reads all of its results; false when it failed.
bool run_statement(Connection* con, const std::string& sql) {
  CommandHandle cmd;
  if (oc::ct_cmd_alloc(con, cmd) != CS_SUCCEED ||
      oc::ct_command(cmd.get(), CS_LANG_CMD, sql.c_str(), CS_NULLTERM, CS_UNUSED) != CS_SUCCEED ||
      oc::ct_send(cmd.get()) != CS_SUCCEED)
    return false;
  bool ok = true;
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = oc::ct_results(cmd.get(), &type)) == CS_SUCCEED) {
    if (type == CS_CMD_FAIL) ok = false;
    if (type == CS_ROW_RESULT || type == CS_STATUS_RESULT || type == CS_PARAM_RESULT ||
        type == CS_COMPUTE_RESULT)
      oc::IgnoreStatus(oc::ct_cancel(nullptr, cmd.get(), CS_CANCEL_CURRENT),
                       "the loop's next ct_results tells whether the stream moved on");
  }
  return ok && rc == CS_END_RESULTS;
}

// One held row as an INSERT statement, each value a literal of its bound type.
std::string insert_statement(BlkDesc* blk, size_t row) {
  const BlkState& st = *blk->state;
  std::string sql = "insert into " + st.table + " values (";
  for (size_t c = 0; c < st.binds.size(); ++c) {
    if (c > 0) sql += ", ";
    const InBind& b = st.binds[c];
    if (!b.bound) {
      sql += "NULL";
      continue;
    }
    const HeldRows::Value& v = st.held.At(row, c);
    CS_DATAFMT fmt = b.fmt;
    fmt.maxlength = v.len;
    std::vector<char> value(st.held.Bytes(v), st.held.Bytes(v) + std::max<CS_INT>(v.len, 0));
    value.resize(std::max<size_t>(value.size(), sizeof(CS_NUMERIC)) + 1, 0);
    sql += sql_literal(blk->ctx ? blk->ctx->cs : nullptr, &fmt, value.data(), v.len, v.indicator,
                       nullptr);
  }
  return sql + ")";
}

// Allocates, initialises and binds a FreeTDS descriptor for held rows [first, last), sends them
// and finishes the bulk operation.
CS_RETCODE send_bulk(BlkDesc* blk, size_t first, size_t last, CS_INT* outrow) {
  BlkState& st = *blk->state;
  if (outrow) *outrow = 0;
  if (first >= last) return CS_SUCCEED;
  CS_BLKDESC* raw = nullptr;
  if (::blk_alloc(blk->con->cs, BLK_VERSION_100, &raw) != CS_SUCCEED) return CS_FAIL;
  FreeBlkPtr desc(raw);
  if (::blk_init(desc.get(), CS_BLK_IN, const_cast<char*>(st.table.c_str()), CS_NULLTERM) !=
      CS_SUCCEED)
    return CS_FAIL;
  for (const auto& [prop, value] : st.props) {
    CS_INT v = value;
    ::blk_props(desc.get(), CS_SET, prop, &v, CS_UNUSED, nullptr);
  }
  const size_t ncols = st.binds.size();
  std::vector<std::vector<char>> buffers(ncols);
  std::vector<CS_INT> lens(ncols, 0);
  std::vector<CS_SMALLINT> inds(ncols, 0);
  for (size_t c = 0; c < ncols; ++c) {
    const InBind& b = st.binds[c];
    if (!b.bound) continue;
    // Numeric conversions write past the wire size: buffers are at least sizeof(CS_NUMERIC).
    CS_INT size = std::max<CS_INT>(
        {b.fmt.maxlength, fixed_size(b.fmt.datatype), static_cast<CS_INT>(sizeof(CS_NUMERIC)), 1});
    for (size_t r = first; r < last; ++r) size = std::max<CS_INT>(size, st.held.At(r, c).len + 1);
    buffers[c].assign(static_cast<size_t>(size), 0);
    CS_DATAFMT fmt = b.fmt;
    // Bytes bound to an image column go as image: FreeTDS pads a binary value converted to
    // image to the column's whole declared length (2 GB).
    if (st.columns[c].datatype == CS_IMAGE_TYPE && is_binary_type(fmt.datatype))
      fmt.datatype = CS_IMAGE_TYPE;
    fmt.maxlength = size;
    fmt.count = 1;
    if (::blk_bind(desc.get(), static_cast<CS_INT>(c + 1), &fmt, buffers[c].data(), &lens[c],
                   &inds[c]) != CS_SUCCEED)
      return CS_FAIL;
  }
  std::vector<CS_INT> filled(ncols, 0);  // how much of each buffer the last value used
  for (size_t r = first; r < last; ++r) {
    for (size_t c = 0; c < ncols; ++c) {
      if (!st.binds[c].bound) continue;
      const HeldRows::Value& v = st.held.At(r, c);
      const CS_INT len = std::max<CS_INT>(v.len, 0);
      // What follows the value reads as zeros, as a fresh buffer would.
      char* buffer = buffers[c].data();
      if (len > 0) std::memcpy(buffer, st.held.Bytes(v), static_cast<size_t>(len));
      if (filled[c] > len) std::memset(buffer + len, 0, static_cast<size_t>(filled[c] - len));
      filled[c] = len;
      lens[c] = v.indicator == -1 ? 0 : v.len;
      inds[c] = v.indicator;
    }
    if (::blk_rowxfer(desc.get()) != CS_SUCCEED) {
      ::blk_done(desc.get(), CS_BLK_ALL, nullptr);
      return CS_FAIL;
    }
  }
  CS_INT n = 0;
  const CS_RETCODE rc = ::blk_done(desc.get(), CS_BLK_ALL, &n);
  if (outrow) *outrow = n;
  return rc;
}

// Sends the held rows as one batch. Rows FreeTDS cannot send go as INSERT statements in their
// place; the batch then runs in a transaction of its own, so it still commits or fails whole.
CS_RETCODE flush(BlkDesc* blk, CS_INT* outrow) {
  BlkState& st = *blk->state;
  if (outrow) *outrow = 0;
  if (st.held.Empty()) return CS_SUCCEED;
  const size_t rows = st.held.Rows();
  bool split = false;
  for (size_t r = 0; r < rows && !split; ++r) split = too_long_for_freetds(st, r);
  CS_RETCODE rc = CS_SUCCEED;
  CS_INT total = 0;
  if (!split) {
    rc = send_bulk(blk, 0, rows, &total);
  } else if (!run_statement(blk->con, "begin transaction")) {
    rc = CS_FAIL;
  } else {
    size_t first = 0;
    for (size_t r = 0; r <= rows && rc == CS_SUCCEED; ++r) {
      if (r < rows && !too_long_for_freetds(st, r)) continue;
      CS_INT n = 0;
      rc = send_bulk(blk, first, r, &n);
      total += n;
      if (rc == CS_SUCCEED && r < rows) {
        if (run_statement(blk->con, insert_statement(blk, r)))
          ++total;
        else
          rc = CS_FAIL;
      }
      first = r + 1;
    }
    if (!run_statement(blk->con, rc == CS_SUCCEED ? "commit transaction" : "rollback transaction"))
      rc = CS_FAIL;
    if (rc != CS_SUCCEED) total = 0;
  }
  st.held.Clear();
  if (outrow) *outrow = total;
  return rc;
}
}  // namespace

CS_RETCODE blk_alloc(Connection* con, CS_INT version, BlkHandle& blk) {
  CS_RETCODE rc = CS_FAIL;
  if (connection_alive(con)) {
    BlkHandle handle(new BlkDesc);
    handle->con = con;
    handle->ctx = con->ctx;
    handle->state = std::make_unique<BlkState>();
    blk = std::move(handle);
    rc = CS_SUCCEED;
  }
  trace(sink_of(con), "blk_alloc", rc, con, version, blk.get());
  return rc;
}

CS_RETCODE blk_drop(BlkHandle& blk) {
  if (!blk) return CS_FAIL;
  trace(sink_of_blk(blk.get()), "blk_drop", CS_SUCCEED, blk.get());
  if (blk->state && blk->state->out && connection_alive(blk->con)) drain(*blk->state);
  blk.reset();
  return CS_SUCCEED;
}

CS_RETCODE blk_init(BlkDesc* blk, CS_INT direction, const CS_CHAR* tablename, CS_INT tnamelen) {
  CS_RETCODE rc = CS_FAIL;
  if (usable(blk) && tablename && (direction == CS_BLK_IN || direction == CS_BLK_OUT)) {
    BlkState& st = *blk->state;
    if (st.out) drain(st);
    st = BlkState{};
    st.direction = direction;
    st.table = tnamelen == CS_NULLTERM
                   ? std::string(tablename)
                   : std::string(tablename, static_cast<size_t>(std::max<CS_INT>(tnamelen, 0)));
    if (direction == CS_BLK_OUT) {
      const std::string sql = "select * from " + st.table;
      if (oc::ct_cmd_alloc(blk->con, st.out) == CS_SUCCEED &&
          oc::ct_command(st.out.get(), CS_LANG_CMD, sql.c_str(), CS_NULLTERM, CS_UNUSED) ==
              CS_SUCCEED &&
          oc::ct_send(st.out.get()) == CS_SUCCEED) {
        CS_INT type = 0;
        CS_RETCODE r;
        bool failed = false;
        while ((r = oc::ct_results(st.out.get(), &type)) == CS_SUCCEED && type != CS_ROW_RESULT)
          if (type == CS_CMD_FAIL) failed = true;
        if (r == CS_SUCCEED && type == CS_ROW_RESULT && !failed) {
          CS_INT n = 0;
          oc::IgnoreStatus(oc::ct_res_info(st.out.get(), CS_NUMDATA, &n, CS_UNUSED, nullptr),
                           "no count describes no column");
          int64_t rowBytes = 0;
          bool blobs = false;
          for (CS_INT i = 1; i <= n; ++i) {
            CS_DATAFMT fmt{};
            oc::IgnoreStatus(oc::ct_describe(st.out.get(), i, &fmt),
                             "a column of a described result always describes");
            st.columns.push_back(fmt);
            blobs = blobs || is_blob(fmt.datatype);
            rowBytes += 2 * int64_t{std::max<CS_INT>(fmt.maxlength, 0)} + 64;
          }
          // Nothing reads behind the binding here: FreeTDS may fill rows ahead of the caller,
          // some 64 KB of them, which spares a library call a row. Text and image stay a row
          // at a time (their buffers are large).
          if (!blobs)
            st.out->read_ahead = static_cast<CS_INT>(
                std::clamp<int64_t>(int64_t{64 * 1024} / std::max<int64_t>(rowBytes, 1), 1, 64));
          rc = CS_SUCCEED;
        } else {
          if (r == CS_SUCCEED) drain(st);
          st.out_done = true;
        }
      }
    } else {
      // The columns are learnt once here; each batch initialises its own FreeTDS descriptor.
      CS_BLKDESC* raw = nullptr;
      if (::blk_alloc(blk->con->cs, BLK_VERSION_100, &raw) == CS_SUCCEED) {
        FreeBlkPtr desc(raw);
        if (::blk_init(desc.get(), CS_BLK_IN, const_cast<char*>(st.table.c_str()), CS_NULLTERM) ==
            CS_SUCCEED) {
          for (CS_INT i = 1;; ++i) {
            CS_DATAFMT fmt{};
            if (::blk_describe(desc.get(), i, &fmt) != CS_SUCCEED) break;
            st.columns.push_back(fmt);
          }
          st.binds.resize(st.columns.size());
          st.held.SetColumns(st.columns.size());
          rc = st.columns.empty() ? CS_FAIL : CS_SUCCEED;
        }
      }
    }
  }
  trace(sink_of_blk(blk), "blk_init", rc, blk, direction,
        tablename ? std::string_view(tablename) : std::string_view());
  return rc;
}

CS_RETCODE blk_describe(BlkDesc* blk, CS_INT colnum, CS_DATAFMT* datafmt) {
  CS_RETCODE rc = CS_FAIL;
  if (blk && blk->state && datafmt && colnum >= 1 &&
      colnum <= static_cast<CS_INT>(blk->state->columns.size())) {
    *datafmt = blk->state->columns[static_cast<size_t>(colnum - 1)];
    rc = CS_SUCCEED;
  }
  trace(sink_of_blk(blk), "blk_describe", rc, blk, colnum);
  return rc;
}

CS_RETCODE blk_bind(BlkDesc* blk, CS_INT colnum, CS_DATAFMT* datafmt, CS_VOID* buffer,
                    CS_INT* datalen, CS_SMALLINT* indicator) {
  CS_RETCODE rc = CS_FAIL;
  if (blk && blk->state && datafmt && colnum >= 1 &&
      colnum <= static_cast<CS_INT>(blk->state->columns.size())) {
    BlkState& st = *blk->state;
    if (st.direction == CS_BLK_OUT && st.out) {
      rc = oc::ct_bind(st.out.get(), colnum, datafmt, buffer, datalen, indicator);
    } else if (st.direction == CS_BLK_IN) {
      InBind& b = st.binds[static_cast<size_t>(colnum - 1)];
      b = InBind{true, *datafmt, buffer, datalen, indicator};
      rc = CS_SUCCEED;
    }
  } else if (blk && blk->state && colnum != CS_UNUSED) {
    client_message(blk->con, 141, 5,
                   "blk_bind(): blk layer: user error: The parameter colnum is out of range.");
  }
  trace(sink_of_blk(blk), "blk_bind", rc, blk, colnum);
  return rc;
}

CS_RETCODE blk_rowxfer(BlkDesc* blk) {
  CS_RETCODE rc = CS_FAIL;
  if (usable(blk)) {
    BlkState& st = *blk->state;
    if (st.direction == CS_BLK_OUT && st.out) {
      if (st.out_done) {
        rc = CS_END_DATA;
      } else {
        CS_INT n = 0;
        rc = oc::ct_fetch(st.out.get(), CS_UNUSED, CS_UNUSED, CS_UNUSED, &n);
        if (rc == CS_SUCCEED || rc == CS_ROW_FAIL) {
          st.rows += n;
        } else if (rc == CS_END_DATA) {
          drain(st);
        } else {
          drain(st);
          rc = CS_FAIL;
        }
      }
    } else if (st.direction == CS_BLK_IN) {
      rc = CS_SUCCEED;
      for (size_t c = 0; c < st.binds.size() && rc == CS_SUCCEED; ++c) {
        const InBind& b = st.binds[c];
        if (!b.bound) {
          st.held.Add(nullptr, 0, 0);
          continue;
        }
        const CS_DATAFMT& col = st.columns[c];
        const CS_SMALLINT indicator = b.indicator ? *b.indicator : 0;
        if (indicator == -1 || !b.buffer) {
          st.held.Add(nullptr, 0, -1);
          if (!(col.status & CS_CANBENULL)) {
            client_message(blk->con, 16908289 + 200, 5,
                           "blk_rowxfer(): blk layer: user error: NULL value given for a column "
                           "that does not allow NULLs.");
            rc = CS_ROW_FAIL;
          }
          continue;
        }
        const CS_INT len = value_length(b);
        const char* src = static_cast<const char*>(b.buffer);
        st.held.Add(src, len, indicator);
        // The value must convert to the column's type, as FreeTDS will convert it later. A
        // value bound in the column's own type converts whenever it fits (a numeric one when its
        // precision and scale are the column's too).
        const bool numeric = col.datatype == CS_NUMERIC_TYPE || col.datatype == CS_DECIMAL_TYPE;
        const bool sameType =
            b.fmt.datatype == col.datatype &&
            (!numeric || (b.fmt.precision == col.precision && b.fmt.scale == col.scale));
        bool converts = true;
        if (sameType) {
          converts =
              !(is_char_type(col.datatype) || is_binary_type(col.datatype)) || len <= col.maxlength;
        } else {
          CS_DATAFMT from = b.fmt;
          from.maxlength = len;
          CS_DATAFMT to{};
          to.datatype = col.datatype;
          // Text and image declare 2 GB, and a conversion into image pads to the length it is
          // given: such a value is checked at its own length.
          to.maxlength = is_blob(col.datatype)
                             ? std::max<CS_INT>(len, 1)
                             : std::max<CS_INT>({col.maxlength, fixed_size(col.datatype),
                                                 static_cast<CS_INT>(sizeof(CS_NUMERIC))});
          to.precision = col.precision;
          to.scale = col.scale;
          to.format = CS_FMT_UNUSED;
          // The value, terminated, then room for what it converts to.
          const size_t room = static_cast<size_t>(to.maxlength) + 64;
          const size_t valueSize = static_cast<size_t>(std::max<CS_INT>(len, 0));
          st.scratch.assign(valueSize + 1 + room, 0);
          if (valueSize > 0) std::memcpy(st.scratch.data(), src, valueSize);
          CS_INT outlen = 0;
          converts = ::cs_convert(blk->ctx ? blk->ctx->cs : nullptr, &from, st.scratch.data(), &to,
                                  st.scratch.data() + valueSize + 1, &outlen) == CS_SUCCEED &&
                     (!(is_char_type(col.datatype) || is_binary_type(col.datatype)) ||
                      outlen <= col.maxlength);
        }
        if (!converts) {
          client_message(blk->con, 16908289 + 201, 5,
                         "blk_rowxfer(): blk layer: user error: The value of column " +
                             std::to_string(c + 1) + " cannot be converted to the column's type.");
          rc = CS_ROW_FAIL;
        }
      }
      if (rc != CS_SUCCEED) st.held.DropPartialRow();
    }
  }
  trace(sink_of_blk(blk), "blk_rowxfer", rc, blk);
  return rc;
}

CS_RETCODE blk_done(BlkDesc* blk, CS_INT type, CS_INT* outrow) {
  CS_RETCODE rc = CS_FAIL;
  if (outrow) *outrow = 0;
  if (blk && blk->state) {
    BlkState& st = *blk->state;
    if (st.direction == CS_BLK_OUT) {
      // Copy-out: the rest of the results is read (or cancelled) and the row count reported.
      if (connection_alive(blk->con)) drain(st);
      if (outrow) *outrow = st.rows;
      rc = CS_SUCCEED;
      if (type == CS_BLK_ALL || type == CS_BLK_CANCEL) st.direction = 0;
    } else if (st.direction == CS_BLK_IN) {
      switch (type) {
        case CS_BLK_BATCH:
        case CS_BLK_ALL:
          // Nothing held (also: nothing ever sent) is a successful batch of 0 rows.
          rc = connection_alive(blk->con) ? flush(blk, outrow) : CS_FAIL;
          if (type == CS_BLK_ALL) st.direction = 0;
          break;
        case CS_BLK_CANCEL:
          st.held.Clear();
          st.direction = 0;
          rc = CS_SUCCEED;
          break;
        default: break;
      }
    } else if (type == CS_BLK_ALL || type == CS_BLK_CANCEL) {
      rc = CS_SUCCEED;  // nothing under way
    }
  }
  trace(sink_of_blk(blk), "blk_done", rc, blk, type, outrow ? *outrow : 0);
  return rc;
}

CS_RETCODE blk_props(BlkDesc* blk, CS_INT action, CS_INT property, CS_VOID* buffer, CS_INT buflen,
                     CS_INT* outlen) {
  CS_RETCODE rc = CS_FAIL;
  if (blk && blk->state) {
    auto& props = blk->state->props;
    if (action == CS_SET && buffer) {
      props[property] = *static_cast<CS_INT*>(buffer);
      rc = CS_SUCCEED;
    } else if (action == CS_GET && buffer) {
      auto it = props.find(property);
      *static_cast<CS_INT*>(buffer) = it == props.end() ? CS_FALSE : it->second;
      if (outlen) *outlen = sizeof(CS_INT);
      rc = CS_SUCCEED;
    } else if (action == CS_CLEAR) {
      props.erase(property);
      rc = CS_SUCCEED;
    }
  }
  (void)buflen;
  trace(sink_of_blk(blk), "blk_props", rc, blk, action, property);
  return rc;
}

}  // namespace oc
