// The Client-Library sequences the data set, the table and the master/detail link drive, run
// through the adapter against the sample server exactly as those components make them: the
// column probe, the read-only row cursor, cursors and executions of the prepared "PrepId"
// statement with parameters, return status and output parameters, the table's generated
// statements inside their transactions, the catalog query for indexes, and the flush and cancel
// that ends every command.
#include "connection/openclient.h"

#include "server_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

// A context and a connection logged in as sa, collecting messages inline.
struct Client {
  oc::ContextHandle ctx;
  oc::ConnectionHandle con;
  Client() {
    const auto& server = norvtest::SampleServer();
    EXPECT_EQ(oc::cs_ctx_alloc(CS_VERSION_100, ctx), CS_SUCCEED);
    EXPECT_EQ(oc::ct_init(ctx.get(), CS_VERSION_100), CS_SUCCEED);
    EXPECT_EQ(oc::ct_con_alloc(ctx.get(), con), CS_SUCCEED);
    EXPECT_EQ(oc::ct_diag(con.get(), CS_INIT, CS_UNUSED, CS_UNUSED, nullptr), CS_SUCCEED);
    std::string addr = server.host.toStdString() + " " + std::to_string(server.port);
    std::string user = "sa";
    EXPECT_EQ(oc::ct_con_props(con.get(), CS_SET, CS_SERVERADDR, addr.data(), CS_NULLTERM, nullptr),
              CS_SUCCEED);
    EXPECT_EQ(oc::ct_con_props(con.get(), CS_SET, CS_USERNAME, user.data(), CS_NULLTERM, nullptr),
              CS_SUCCEED);
    EXPECT_EQ(oc::ct_connect(con.get(), "SAMPLE", CS_NULLTERM), CS_SUCCEED);
  }
  ~Client() { oc::IgnoreStatus(oc::ct_close(con.get(), CS_UNUSED), "the server may be gone"); }

  oc::CommandHandle command() {
    oc::CommandHandle cmd;
    EXPECT_EQ(oc::ct_cmd_alloc(con.get(), cmd), CS_SUCCEED);
    return cmd;
  }
  // Server messages collected since the last call, then cleared.
  std::vector<CS_INT> server_messages() {
    std::vector<CS_INT> out;
    CS_INT n = 0;
    EXPECT_EQ(oc::ct_diag(con.get(), CS_STATUS, CS_SERVERMSG_TYPE, CS_UNUSED, &n), CS_SUCCEED);
    for (CS_INT i = 1; i <= n; ++i) {
      CS_SERVERMSG m{};
      EXPECT_EQ(oc::ct_diag(con.get(), CS_GET, CS_SERVERMSG_TYPE, i, &m), CS_SUCCEED);
      if (m.severity > 10) out.push_back(m.msgnumber);
    }
    EXPECT_EQ(oc::ct_diag(con.get(), CS_CLEAR, CS_ALLMSG_TYPE, CS_UNUSED, nullptr), CS_SUCCEED);
    return out;
  }
};

// `ct_results` until it stops returning CS_SUCCEED; the result types seen.
std::vector<CS_INT> DrainResults(oc::Command* cmd, CS_RETCODE* last = nullptr) {
  std::vector<CS_INT> types;
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = oc::ct_results(cmd, &type)) == CS_SUCCEED) types.push_back(type);
  if (last) *last = rc;
  return types;
}

// FlushAndCancel as every component ends a command.
CS_RETCODE FlushAndCancel(oc::Command* cmd) {
  DrainResults(cmd);
  return oc::ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
}

// ExecuteCommandText: a language command, or the prepared statement with its parameters; the
// rows of any row result dropped. Returns 1/0 as the component does, with the last row count.
struct ExecOutcome {
  int result = 0;
  CS_INT row_count = 0;
};

struct Param {
  CS_INT type;
  std::vector<char> data;  // empty with indicator -1
  CS_SMALLINT indicator = 0;
  CS_INT status = CS_INPUTVALUE;
};

Param Text(const std::string& s) { return {CS_CHAR_TYPE, std::vector<char>(s.begin(), s.end())}; }
template <typename T>
Param Value(CS_INT type, T v) {
  std::vector<char> bytes(sizeof v);
  std::memcpy(bytes.data(), &v, sizeof v);
  return {type, bytes};
}
Param Null(CS_INT type) { return {type, {}, -1}; }

void SendParams(oc::Command* cmd, std::vector<Param>& params) {
  for (auto& p : params) {
    CS_DATAFMT fmt{};
    fmt.datatype = p.type;
    fmt.maxlength = static_cast<CS_INT>(p.data.size());
    fmt.status = p.status;
    fmt.count = 1;
    ASSERT_EQ(oc::ct_param(cmd, &fmt, p.data.empty() ? nullptr : p.data.data(),
                           static_cast<CS_INT>(p.data.size()), p.indicator),
              CS_SUCCEED);
  }
}

ExecOutcome ExecuteCommandText(Client& c, const std::string& sql, bool prepared = false,
                               std::vector<Param> params = {}) {
  ExecOutcome out;
  auto cmd = c.command();
  if (prepared) {
    EXPECT_EQ(oc::ct_dynamic(cmd.get(), CS_EXECUTE, "PrepId", CS_NULLTERM, nullptr, CS_UNUSED),
              CS_SUCCEED);
    SendParams(cmd.get(), params);
  } else {
    EXPECT_EQ(oc::ct_command(cmd.get(), CS_LANG_CMD, sql.c_str(), CS_NULLTERM, CS_UNUSED),
              CS_SUCCEED);
  }
  EXPECT_EQ(oc::ct_send(cmd.get()), CS_SUCCEED);
  CS_INT type = 0;
  CS_RETCODE rc;
  out.result = 1;
  while ((rc = oc::ct_results(cmd.get(), &type)) == CS_SUCCEED) {
    if (type == CS_CMD_SUCCEED) {
      CS_INT n = -1;
      EXPECT_EQ(oc::ct_res_info(cmd.get(), CS_ROW_COUNT, &n, CS_UNUSED, nullptr), CS_SUCCEED);
      if (n >= 0) out.row_count = n;
    } else if (type == CS_CMD_FAIL) {
      out.result = 0;
      break;
    } else if (type == CS_ROW_RESULT) {
      CS_INT rows = 0;
      while (oc::ct_fetch(cmd.get(), CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
      }
    }
  }
  if (rc == CS_FAIL || rc == CS_BUSY) out.result = 0;
  EXPECT_EQ(FlushAndCancel(cmd.get()), CS_SUCCEED);
  return out;
}

void Prepare(Client& c, oc::CommandHandle& prep, const std::string& text) {
  prep = c.command();
  ASSERT_EQ(
      oc::ct_dynamic(prep.get(), CS_PREPARE, "PrepId", CS_NULLTERM, text.c_str(), CS_NULLTERM),
      CS_SUCCEED);
  ASSERT_EQ(oc::ct_send(prep.get()), CS_SUCCEED);
  CS_RETCODE last = CS_SUCCEED;
  const auto types = DrainResults(prep.get(), &last);
  EXPECT_EQ(last, CS_END_RESULTS);
  EXPECT_EQ(types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE}));
}

void Unprepare(oc::CommandHandle& prep) {
  ASSERT_EQ(oc::ct_dynamic(prep.get(), CS_DEALLOC, "PrepId", CS_NULLTERM, nullptr, CS_UNUSED),
            CS_SUCCEED);
  ASSERT_EQ(oc::ct_send(prep.get()), CS_SUCCEED);
  CS_RETCODE last = CS_SUCCEED;
  DrainResults(prep.get(), &last);
  EXPECT_EQ(last, CS_END_RESULTS);
  EXPECT_EQ(oc::ct_cmd_drop(prep), CS_SUCCEED);
}

// DeclareAndOpenCursor: false when the open failed.
bool DeclareAndOpenCursor(oc::Command* cmd, const std::string& name, const std::string& text,
                          CS_INT fetch_rows, bool prepared = false,
                          std::vector<Param> params = {}) {
  if (prepared) {
    EXPECT_EQ(
        oc::ct_dynamic(cmd, CS_CURSOR_DECLARE, "PrepId", CS_NULLTERM, name.c_str(), CS_NULLTERM),
        CS_SUCCEED);
    EXPECT_EQ(
        oc::ct_cursor(cmd, CS_CURSOR_OPTION, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_READ_ONLY),
        CS_SUCCEED);
    EXPECT_EQ(oc::ct_send(cmd), CS_SUCCEED);
    CS_RETCODE last = CS_SUCCEED;
    EXPECT_EQ(DrainResults(cmd, &last), (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE}));
    EXPECT_EQ(last, CS_END_RESULTS);
    // Declared, not yet open: nothing runs before the parameters are known.
    CS_INT status = 0;
    EXPECT_EQ(oc::ct_cmd_props(cmd, CS_GET, CS_CUR_STATUS, &status, CS_UNUSED, nullptr),
              CS_SUCCEED);
    EXPECT_EQ(status, CS_CURSTAT_DECLARED | CS_CURSTAT_RDONLY);
  } else {
    EXPECT_EQ(oc::ct_cursor(cmd, CS_CURSOR_DECLARE, name.c_str(), CS_NULLTERM, text.c_str(),
                            CS_NULLTERM, CS_READ_ONLY),
              CS_SUCCEED);
  }
  EXPECT_EQ(oc::ct_cursor(cmd, CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, fetch_rows),
            CS_SUCCEED);
  EXPECT_EQ(oc::ct_cursor(cmd, CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED),
            CS_SUCCEED);
  if (prepared) SendParams(cmd, params);
  const CS_RETCODE sent = oc::ct_send(cmd);
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = oc::ct_results(cmd, &type)) == CS_SUCCEED && type != CS_CURSOR_RESULT &&
         type != CS_CMD_FAIL) {
  }
  return sent == CS_SUCCEED && rc == CS_SUCCEED && type == CS_CURSOR_RESULT;
}

// DescribeAndBind: natively (the row cursor) or every column as text (probe, index, count,
// status cursors).
struct Column {
  CS_DATAFMT fmt{};  // as described
  CS_DATAFMT bound{};
  std::vector<char> buffer;
  CS_INT copied = 0;
  CS_SMALLINT indicator = 0;
  std::string text() const { return std::string(buffer.data()); }
  template <typename T>
  T as() const {
    T v{};
    std::memcpy(&v, buffer.data(), sizeof v);
    return v;
  }
};

// The width a column's text takes, by its type code.
CS_INT DisplayWidth(const CS_DATAFMT& fmt) {
  switch (fmt.datatype) {
    case CS_TINYINT_TYPE:
    case CS_BIT_TYPE: return 3;
    case CS_SMALLINT_TYPE: return 6;
    case CS_INT_TYPE: return 11;
    case CS_REAL_TYPE:
    case CS_FLOAT_TYPE:
    case CS_MONEY_TYPE:
    case CS_MONEY4_TYPE: return 24;
    case CS_DATETIME_TYPE:
    case CS_DATETIME4_TYPE: return 30;
    case CS_NUMERIC_TYPE:
    case CS_DECIMAL_TYPE: return 79;
    case CS_CHAR_TYPE:
    case CS_LONGCHAR_TYPE:
    case CS_VARCHAR_TYPE: return fmt.maxlength;
    default: return 12;
  }
}

// Text, image and binary columns have no field type in a data set: left unbound.
bool Unsupported(CS_INT type) {
  return type == CS_TEXT_TYPE || type == CS_IMAGE_TYPE || type == CS_BINARY_TYPE ||
         type == CS_LONGBINARY_TYPE || type == CS_VARBINARY_TYPE;
}

std::vector<Column> DescribeAndBind(oc::Command* cmd, bool native) {
  CS_INT n = 0;
  if (oc::ct_res_info(cmd, CS_NUMDATA, &n, CS_UNUSED, nullptr) != CS_SUCCEED) n = 0;
  std::vector<Column> cols(static_cast<size_t>(n));
  for (CS_INT i = 1; i <= n; ++i) {
    Column& col = cols[static_cast<size_t>(i - 1)];
    EXPECT_EQ(oc::ct_describe(cmd, i, &col.fmt), CS_SUCCEED);
    if (Unsupported(col.fmt.datatype)) continue;
    const CS_INT display = std::max(DisplayWidth(col.fmt), col.fmt.namelen);
    col.bound = col.fmt;
    col.bound.count = 1;
    const bool text = col.fmt.datatype == CS_CHAR_TYPE || col.fmt.datatype == CS_LONGCHAR_TYPE;
    if (native && !text) {
      col.buffer.assign(static_cast<size_t>(std::max<CS_INT>(col.fmt.maxlength, 8)), 0);
    } else {
      if (!native) col.bound.datatype = CS_CHAR_TYPE;
      col.bound.format = CS_FMT_NULLTERM;
      col.bound.maxlength = display + 1;
      col.buffer.assign(static_cast<size_t>(display + 2), 0);
    }
    EXPECT_EQ(oc::ct_bind(cmd, i, &col.bound, col.buffer.data(), &col.copied, &col.indicator),
              CS_SUCCEED);
  }
  return cols;
}

CS_RETCODE FetchRow(oc::Command* cmd) {
  CS_INT rows = 0;
  const CS_RETCODE rc = oc::ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows);
  if (rc == CS_SUCCEED) {
    EXPECT_EQ(rows, 1);
  }
  return rc;
}

// CloseCommandCursor: close and deallocate by the cursor's status, then drop the command.
void CloseCommandCursor(oc::CommandHandle& cmd) {
  CS_INT status = 0;
  ASSERT_EQ(oc::ct_cmd_props(cmd.get(), CS_GET, CS_CUR_STATUS, &status, CS_UNUSED, nullptr),
            CS_SUCCEED);
  if (status & CS_CURSTAT_OPEN) {
    EXPECT_EQ(FlushAndCancel(cmd.get()), CS_SUCCEED);
    EXPECT_EQ(oc::ct_cursor(cmd.get(), CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED,
                            CS_DEALLOC),
              CS_SUCCEED);
  } else {
    ASSERT_TRUE(status & CS_CURSTAT_DECLARED) << status;
    EXPECT_EQ(oc::ct_cursor(cmd.get(), CS_CURSOR_DEALLOC, nullptr, CS_UNUSED, nullptr, CS_UNUSED,
                            CS_UNUSED),
              CS_SUCCEED);
  }
  EXPECT_EQ(oc::ct_send(cmd.get()), CS_SUCCEED);
  CS_RETCODE last = CS_SUCCEED;
  const auto types = DrainResults(cmd.get(), &last);
  EXPECT_EQ(last, CS_END_RESULTS);
  EXPECT_EQ(std::count(types.begin(), types.end(), CS_CMD_FAIL), 0);
  EXPECT_EQ(FlushAndCancel(cmd.get()), CS_SUCCEED);
  ASSERT_EQ(oc::ct_cmd_props(cmd.get(), CS_GET, CS_CUR_STATUS, &status, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(status, CS_CURSTAT_NONE);
  EXPECT_EQ(oc::ct_cmd_drop(cmd), CS_SUCCEED);
}

// Every remaining row of a text-bound cursor, columns joined by '|'.
std::vector<std::string> TextRows(oc::Command* cmd, const std::vector<Column>& cols) {
  std::vector<std::string> rows;
  while (FetchRow(cmd) == CS_SUCCEED) {
    std::string row;
    for (size_t i = 0; i < cols.size(); ++i) {
      if (cols[i].buffer.empty()) continue;
      row += (row.empty() ? "" : "|") +
             (cols[i].indicator == -1 ? std::string("NULL") : cols[i].text());
    }
    rows.push_back(row);
  }
  return rows;
}

// Text of a cursor's rows, opened on `text` (or on the prepared statement with `params`).
std::vector<std::string> CursorRows(Client& c, const std::string& text, CS_INT fetch_rows,
                                    bool prepared = false, std::vector<Param> params = {}) {
  auto cmd = c.command();
  EXPECT_TRUE(DeclareAndOpenCursor(cmd.get(), "t_defcur", text, fetch_rows, prepared, params));
  const auto cols = DescribeAndBind(cmd.get(), false);
  auto rows = TextRows(cmd.get(), cols);
  CloseCommandCursor(cmd);
  return rows;
}

std::string Trancount(Client& c) { return CursorRows(c, "select @@trancount", 10).at(0); }

}  // namespace

// ---- Reading --------------------------------------------------------------------------------

// The column probe: a read-only cursor declared, opened, described and bound as text, then
// closed and deallocated without a row fetched.
TEST(DataSetFlows, ColumnProbeDescribesAndCloses) {
  Client c;
  auto cmd = c.command();
  ASSERT_TRUE(DeclareAndOpenCursor(
      cmd.get(), "Table1145332120_colcur",
      "SELECT * FROM pubs2..authors /* Initial select to obtain columns */", 10));
  const auto cols = DescribeAndBind(cmd.get(), false);
  ASSERT_EQ(cols.size(), 9u);
  EXPECT_STREQ(cols[0].fmt.name, "au_id");
  EXPECT_EQ(cols[1].fmt.datatype, CS_CHAR_TYPE);
  EXPECT_EQ(cols[1].fmt.maxlength, 40);
  CS_INT status = 0;
  ASSERT_EQ(oc::ct_cmd_props(cmd.get(), CS_GET, CS_CUR_STATUS, &status, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_TRUE(status & CS_CURSTAT_OPEN);
  EXPECT_TRUE(status & CS_CURSTAT_RDONLY);
  CloseCommandCursor(cmd);
  EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{});
}

// Text and image columns have no field in a data set: described by their own codes, they stay
// unbound in the middle of the select list while the columns around them are read.
TEST(DataSetFlows, BlobColumnsLeftUnbound) {
  Client c;
  const std::vector<std::tuple<const char*, CS_INT, const char*>> cases = {
      {"SELECT au_id, copy, au_id FROM pubs2..blurbs WHERE au_id = '201-45-7781'", CS_TEXT_TYPE,
       "201-45-7781|201-45-7781"},
      {"SELECT au_id, pic, format_type FROM pubs2..au_pix WHERE au_id = '201-45-7781'",
       CS_IMAGE_TYPE, "201-45-7781|GIF"},
  };
  for (const auto& [sql, type, row] : cases) {
    SCOPED_TRACE(sql);
    for (CS_INT fetch_rows : {1, 10}) {
      auto cmd = c.command();
      ASSERT_TRUE(DeclareAndOpenCursor(cmd.get(), "b_colcur", sql, fetch_rows));
      const auto cols = DescribeAndBind(cmd.get(), false);
      ASSERT_EQ(cols.size(), 3u);
      EXPECT_EQ(cols[1].fmt.datatype, type);
      EXPECT_EQ(TextRows(cmd.get(), cols), std::vector<std::string>{row});
      CloseCommandCursor(cmd);
    }
  }
}

// The row cursor bound natively over the bench's shapes (int, varchar(40), money, datetime,
// float), NULLs included, at the fetch sizes the components use; every row arrives once, in order.
TEST(DataSetFlows, RowCursorNativeBindingAtEveryFetchSize) {
  Client c;
  ASSERT_EQ(ExecuteCommandText(c,
                               "create table pubs2..dsf_rows (id int not null, name varchar(40) "
                               "null, price money null, stamp datetime null, ratio float null)")
                .result,
            1);
  ASSERT_EQ(ExecuteCommandText(c,
                               "insert pubs2..dsf_rows values (1, 'one', 12.3456, "
                               "'Dec 29 1999 11:59:58:500PM', 0.5) "
                               "insert pubs2..dsf_rows values (2, null, null, null, null) "
                               "insert pubs2..dsf_rows values (3, replicate('x', 40), -1.5, "
                               "'Jan 1 1900 12:00:00:000AM', -2.25)")
                .result,
            1);
  for (CS_INT fetch_rows : {1, 2, 10, 1000}) {
    SCOPED_TRACE(fetch_rows);
    auto cmd = c.command();
    ASSERT_TRUE(DeclareAndOpenCursor(
        cmd.get(), "Table1_rcur",
        "SELECT id, name, price, stamp, ratio FROM pubs2..dsf_rows ORDER BY id ASC", fetch_rows));
    auto cols = DescribeAndBind(cmd.get(), true);
    ASSERT_EQ(cols.size(), 5u);
    EXPECT_EQ(cols[2].fmt.datatype, CS_MONEY_TYPE);
    EXPECT_EQ(cols[3].fmt.datatype, CS_DATETIME_TYPE);
    EXPECT_EQ(cols[4].fmt.datatype, CS_FLOAT_TYPE);

    ASSERT_EQ(FetchRow(cmd.get()), CS_SUCCEED);
    EXPECT_EQ(cols[0].as<CS_INT>(), 1);
    EXPECT_EQ(cols[1].text(), "one");
    // Money and datetime go through cs_convert as the data set stores them.
    CS_DATAFMT money = cols[2].fmt, flt{}, chr{}, dt{};
    flt.datatype = CS_FLOAT_TYPE;
    flt.maxlength = 8;
    CS_FLOAT price = 0;
    ASSERT_EQ(oc::cs_convert(c.ctx.get(), &money, cols[2].buffer.data(), &flt, &price, nullptr),
              CS_SUCCEED);
    EXPECT_DOUBLE_EQ(price, 12.3456);
    chr.datatype = CS_CHAR_TYPE;
    chr.format = CS_FMT_NULLTERM;
    chr.maxlength = 60;
    char when[60] = {};
    CS_DATAFMT stamp = cols[3].fmt;
    ASSERT_EQ(oc::cs_convert(c.ctx.get(), &stamp, cols[3].buffer.data(), &chr, when, nullptr),
              CS_SUCCEED);
    EXPECT_STREQ(when, "Dec 29 1999 11:59:58:500PM");
    dt.datatype = CS_DATETIME_TYPE;
    dt.maxlength = 8;
    CS_DATETIME back{};
    ASSERT_EQ(oc::cs_convert(c.ctx.get(), &chr, when, &dt, &back, nullptr), CS_SUCCEED);
    EXPECT_EQ(std::memcmp(&back, cols[3].buffer.data(), sizeof back), 0);
    EXPECT_EQ(cols[4].as<CS_FLOAT>(), 0.5);

    ASSERT_EQ(FetchRow(cmd.get()), CS_SUCCEED);
    EXPECT_EQ(cols[0].as<CS_INT>(), 2);
    for (size_t i = 1; i < 5; ++i) EXPECT_EQ(cols[i].indicator, -1) << i;
    EXPECT_EQ(cols[1].text(), "");  // the null substitution, not the previous row's text

    ASSERT_EQ(FetchRow(cmd.get()), CS_SUCCEED);
    EXPECT_EQ(cols[0].as<CS_INT>(), 3);
    EXPECT_EQ(cols[1].text(), std::string(40, 'x'));
    EXPECT_EQ(cols[1].indicator, 0);
    EXPECT_EQ(cols[4].as<CS_FLOAT>(), -2.25);
    EXPECT_EQ(FetchRow(cmd.get()), CS_END_DATA);
    CloseCommandCursor(cmd);
  }
  EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{});
}

// The bench's data set: 100,000 rows through a read-only cursor fetching 1000 rows a time,
// bound natively; sums prove every row was handed out once.
TEST(DataSetFlows, HundredThousandRowsThroughARowCursor) {
  Client c;
  ASSERT_EQ(ExecuteCommandText(c,
                               "create table pubs2..dsf_digits (d int) "
                               "insert pubs2..dsf_digits values (0) "
                               "insert pubs2..dsf_digits select d + 1 from pubs2..dsf_digits "
                               "insert pubs2..dsf_digits select d + 2 from pubs2..dsf_digits "
                               "insert pubs2..dsf_digits select d + 4 from pubs2..dsf_digits "
                               "insert pubs2..dsf_digits select d + 8 from pubs2..dsf_digits "
                               "delete pubs2..dsf_digits where d > 9")
                .result,
            1);
  ASSERT_EQ(
      ExecuteCommandText(
          c,
          "select id = a.d + 10 * b.d + 100 * e.d + 1000 * f.d + 10000 * g.d into pubs2..dsf_ids "
          "from pubs2..dsf_digits a, pubs2..dsf_digits b, pubs2..dsf_digits e, "
          "pubs2..dsf_digits f, pubs2..dsf_digits g "
          "select id, name = 'name ' + convert(varchar(10), id), price = convert(money, id) / 100, "
          "stamp = dateadd(second, id, 'Jan 1 2000'), ratio = id * 0.5e0 "
          "into pubs2..dsf_bench from pubs2..dsf_ids")
          .result,
      1);
  auto cmd = c.command();
  ASSERT_TRUE(DeclareAndOpenCursor(
      cmd.get(), "Bench_rcur", "SELECT id, name, price, stamp, ratio FROM pubs2..dsf_bench", 1000));
  auto cols = DescribeAndBind(cmd.get(), true);
  ASSERT_EQ(cols.size(), 5u);
  long long rows = 0, ids = 0;
  double ratios = 0;
  size_t name_bytes = 0;
  while (FetchRow(cmd.get()) == CS_SUCCEED) {
    ++rows;
    ids += cols[0].as<CS_INT>();
    name_bytes += std::strlen(cols[1].buffer.data());
    ratios += cols[4].as<CS_FLOAT>();
    if (cols[0].as<CS_INT>() == 99999) {
      CS_DATETIME dt = cols[3].as<CS_DATETIME>();
      EXPECT_EQ(dt.dttime, 99999 % 86400 * 300);
      CS_MONEY m = cols[2].as<CS_MONEY>();
      CS_DATAFMT money = cols[2].fmt, flt{};
      flt.datatype = CS_FLOAT_TYPE;
      flt.maxlength = 8;
      CS_FLOAT price = 0;
      ASSERT_EQ(oc::cs_convert(c.ctx.get(), &money, &m, &flt, &price, nullptr), CS_SUCCEED);
      EXPECT_DOUBLE_EQ(price, 999.99);
    }
  }
  EXPECT_EQ(rows, 100000);
  EXPECT_EQ(ids, 99999LL * 100000 / 2);
  EXPECT_DOUBLE_EQ(ratios, 0.5 * 99999.0 * 100000 / 2);
  EXPECT_EQ(name_bytes, 100000u * 5 + 10 + 90 * 2 + 900 * 3 + 9000 * 4 + 90000 * 5);
  CloseCommandCursor(cmd);
}

// Stopping early: the cursor is flushed and cancelled mid-way, closed and deallocated, and the
// connection takes the next command at once.
TEST(DataSetFlows, FlushAndCancelMidCursor) {
  Client c;
  for (auto [cancel, fetch_rows] : {std::pair{CS_CANCEL_ALL, 10}, std::pair{CS_CANCEL_CURRENT, 10},
                                    std::pair{CS_CANCEL_ALL, 1000}}) {
    SCOPED_TRACE(std::to_string(cancel) + " " + std::to_string(fetch_rows));
    auto cmd = c.command();
    ASSERT_TRUE(DeclareAndOpenCursor(cmd.get(), "Early_rcur",
                                     "SELECT au_id, au_lname FROM pubs2..authors", fetch_rows));
    auto cols = DescribeAndBind(cmd.get(), true);
    ASSERT_EQ(FetchRow(cmd.get()), CS_SUCCEED);
    EXPECT_EQ(oc::ct_cancel(nullptr, cmd.get(), cancel), CS_SUCCEED);
    CloseCommandCursor(cmd);
    EXPECT_EQ(CursorRows(c, "select count(*) from pubs2..authors", 10),
              std::vector<std::string>{"25"});
  }
  EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{});
}

// The data set reads its row cursor lazily: between two fetches the table checks for duplicates
// on a cursor of its own and posts an edit in a transaction, committed or rolled back, all on
// the same connection; the row cursor then carries on where it stopped.
TEST(DataSetFlows, RowCursorCarriesOnAcrossEditsOnItsConnection) {
  Client c;
  ASSERT_EQ(ExecuteCommandText(c, "select au_id, au_lname into pubs2..dsf_lazy from pubs2..authors")
                .result,
            1);
  for (const char* end : {"COMMIT TRAN", "ROLLBACK TRAN"}) {
    for (CS_INT fetch_rows : {1, 10, 1000}) {
      SCOPED_TRACE(std::string(end) + " " + std::to_string(fetch_rows));
      auto cmd = c.command();
      ASSERT_TRUE(DeclareAndOpenCursor(
          cmd.get(), "Lazy_rcur", "SELECT au_id, au_lname FROM pubs2..dsf_lazy ORDER BY au_id ASC",
          fetch_rows));
      auto cols = DescribeAndBind(cmd.get(), true);
      std::vector<std::string> ids;
      for (int i = 0; i < 3 && FetchRow(cmd.get()) == CS_SUCCEED; ++i)
        ids.push_back(cols[0].text());

      const char* check = "SELECT COUNT(*) FROM pubs2..dsf_lazy WHERE 1=1 AND au_id=?";
      oc::CommandHandle prep;
      Prepare(c, prep, check);
      EXPECT_EQ(CursorRows(c, check, 10, true, {Text(ids.back())}), std::vector<std::string>{"1"});
      Unprepare(prep);
      const char* update = "UPDATE pubs2..dsf_lazy SET au_lname=? WHERE 1=1 AND au_id=?";
      Prepare(c, prep, update);
      ASSERT_EQ(ExecuteCommandText(c, "BEGIN TRAN").result, 1);
      const auto out = ExecuteCommandText(c, update, true, {Text("Edited"), Text(ids.back())});
      EXPECT_EQ(out.result, 1);
      EXPECT_EQ(out.row_count, 1);
      Unprepare(prep);
      ASSERT_EQ(ExecuteCommandText(c, end).result, 1);
      EXPECT_EQ(Trancount(c), "0");

      while (FetchRow(cmd.get()) == CS_SUCCEED) ids.push_back(cols[0].text());
      EXPECT_EQ(ids.size(), 25u);
      EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
      CloseCommandCursor(cmd);
      EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{});
    }
  }
  // The third row was edited each time; only the commits kept the edit.
  EXPECT_EQ(CursorRows(c, "select au_id from pubs2..dsf_lazy where au_lname = 'Edited'", 10),
            std::vector<std::string>{"226-13-9054"});
}

// An open that fails on the server (an unknown table, a syntax error) ends the open loop with
// CS_CMD_FAIL and the server's message; the command is then released and the connection goes on.
TEST(DataSetFlows, FailedCursorOpen) {
  Client c;
  const std::vector<std::pair<const char*, CS_INT>> cases = {
      {"SELECT * FROM pubs2..no_such_table", 208},
      {"SELECT * FROM FROM", 156},
  };
  for (const auto& [sql, number] : cases) {
    SCOPED_TRACE(sql);
    auto cmd = c.command();
    EXPECT_FALSE(DeclareAndOpenCursor(cmd.get(), "Bad_colcur", sql, 10));
    const auto messages = c.server_messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), number);
    EXPECT_EQ(FlushAndCancel(cmd.get()), CS_SUCCEED);
    EXPECT_EQ(oc::ct_cmd_drop(cmd), CS_SUCCEED);
    EXPECT_EQ(Trancount(c), "0");
  }
}

// ---- Prepared statements --------------------------------------------------------------------

// The duplicate check: SELECT COUNT(*) prepared as "PrepId" with `?` markers, a cursor declared
// on it and opened with the key values sent as parameters.
TEST(DataSetFlows, CursorOnPreparedStatementWithParameters) {
  Client c;
  struct Case {
    const char* text;
    std::vector<Param> params;
    const char* count;
  };
  const std::vector<Case> cases = {
      {"SELECT COUNT(*) FROM pubs2..authors WHERE 1=1 AND au_id=?", {Text("201-45-7781")}, "1"},
      {"SELECT COUNT(*) FROM pubs2..authors WHERE 1=1 AND au_lname=? AND au_fname=?",
       {Text("Abernathy"), Text("Clara")},
       "1"},
      {"SELECT COUNT(*) FROM pubs2..authors WHERE 1=1 AND au_id=? AND address IS NULL",
       {Text("423-15-8843")},
       "1"},
      {"SELECT COUNT(*) FROM pubs2..titles WHERE 1=1 AND title=?",
       {Text("Grandmother's Pantry")},
       "1"},
      {"SELECT COUNT(*) FROM pubs2..titles WHERE 1=1 AND price=? AND total_sales=?",
       {Value<CS_FLOAT>(CS_FLOAT_TYPE, 18.5), Value<CS_INT>(CS_INT_TYPE, 5130)},
       "1"},
      {"SELECT COUNT(*) FROM pubs2..titles WHERE 1=1 AND pubdate=?",
       {Value(CS_DATETIME_TYPE, CS_DATETIME{37070, 0})},  // Jun 30 2001
       "1"},
      {"SELECT COUNT(*) FROM pubs2..authors WHERE au_id=? OR ? IS NULL",
       {Text("x"), Null(CS_CHAR_TYPE)},
       "25"},
  };

  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    oc::CommandHandle prep;
    Prepare(c, prep, k.text);
    const auto rows = CursorRows(c, k.text, 10, true, k.params);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], k.count);
    Unprepare(prep);
    EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{});
  }
}

// A cursor declared on the prepared statement and released before it was ever opened.
TEST(DataSetFlows, CursorOnPreparedStatementDeallocatedUnopened) {
  Client c;
  oc::CommandHandle prep;
  Prepare(c, prep, "SELECT au_id FROM pubs2..authors WHERE au_id=?");
  auto cmd = c.command();
  ASSERT_EQ(
      oc::ct_dynamic(cmd.get(), CS_CURSOR_DECLARE, "PrepId", CS_NULLTERM, "u_defcur", CS_NULLTERM),
      CS_SUCCEED);
  ASSERT_EQ(oc::ct_send(cmd.get()), CS_SUCCEED);
  EXPECT_EQ(DrainResults(cmd.get()), (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE}));
  CloseCommandCursor(cmd);
  Unprepare(prep);
  EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{});
}

// A detail's statement and a table's duplicate check both prepared as "PrepId" on one
// connection: the check's release leaves the detail's statement reachable for its next open.
TEST(DataSetFlows, TwoStatementsPreparedUnderOneId) {
  Client c;
  const char* detail = "SELECT au_lname FROM pubs2..authors WHERE au_id=?";
  const char* check = "SELECT COUNT(*) FROM pubs2..authors WHERE 1=1 AND state=?";
  oc::CommandHandle detail_prep, check_prep;
  Prepare(c, detail_prep, detail);
  EXPECT_EQ(CursorRows(c, detail, 10, true, {Text("201-45-7781")}),
            std::vector<std::string>{"Abernathy"});
  Prepare(c, check_prep, check);
  EXPECT_EQ(CursorRows(c, check, 10, true, {Text("CA")}), std::vector<std::string>{"6"});
  Unprepare(check_prep);
  EXPECT_EQ(CursorRows(c, detail, 10, true, {Text("214-80-3317")}),
            std::vector<std::string>{"Baptiste"});
  Unprepare(detail_prep);
  EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{});
}

// The table's writes: INSERT, UPDATE and DELETE prepared with `?` markers and executed with
// parameters inside BEGIN TRAN ... COMMIT TRAN, row counts checked; a statement that matches no
// row is rolled back.
TEST(DataSetFlows, PreparedWritesInTransactions) {
  Client c;
  ASSERT_EQ(ExecuteCommandText(c,
                               "create table pubs2..dsf_edit (k char(4) not null, n int null, "
                               "f float null, b bit not null, m money null, d datetime null, "
                               "s varchar(30) null)")
                .result,
            1);
  struct Case {
    const char* sql;
    std::vector<Param> params;
    CS_INT rows;
    const char* after;  // the table afterwards
  };
  CS_DATETIME when{36524, 300 * 3600 + 150};  // Jan 1 2000 1:00:00.500AM
  const std::vector<Case> cases = {
      {"INSERT pubs2..dsf_edit(k,n,f,b,m,d,s) VALUES (?,?,?,?,?,?,?)",
       {Text("k1"), Value<CS_INT>(CS_INT_TYPE, 7), Value<CS_FLOAT>(CS_FLOAT_TYPE, 1.25),
        Value<CS_SMALLINT>(CS_BIT_TYPE, 1), Value<CS_FLOAT>(CS_FLOAT_TYPE, 12.5),
        Value(CS_DATETIME_TYPE, when), Text("it's")},
       1,
       "k1  |7|1.25|1|12.5000|Jan  1 2000  1:00:00:500AM|it's"},
      {"INSERT pubs2..dsf_edit(k,b) VALUES (?,?)",
       {Text("k2"), Value<CS_SMALLINT>(CS_BIT_TYPE, 0)},
       1,
       "k1  |7|1.25|1|12.5000|Jan  1 2000  1:00:00:500AM|it's;k2  |NULL|NULL|0|NULL|NULL|NULL"},
      {"UPDATE pubs2..dsf_edit SET n=?,s=? WHERE 1=1 AND k=? AND n IS NULL",
       {Value<CS_INT>(CS_INT_TYPE, 9), Null(CS_CHAR_TYPE), Text("k2")},
       1,
       "k1  |7|1.25|1|12.5000|Jan  1 2000  1:00:00:500AM|it's;k2  |9|NULL|0|NULL|NULL|NULL"},
      {"UPDATE pubs2..dsf_edit SET n=? WHERE 1=1 AND k=? AND f=?",
       {Value<CS_INT>(CS_INT_TYPE, 8), Text("k1"), Value<CS_FLOAT>(CS_FLOAT_TYPE, 1.25)},
       1,
       "k1  |8|1.25|1|12.5000|Jan  1 2000  1:00:00:500AM|it's;k2  |9|NULL|0|NULL|NULL|NULL"},
      {"DELETE pubs2..dsf_edit WHERE 1=1 AND k=? AND d=?",
       {Text("k1"), Value(CS_DATETIME_TYPE, when)},
       1,
       "k2  |9|NULL|0|NULL|NULL|NULL"},
      {"DELETE pubs2..dsf_edit WHERE 1=1 AND k=?",
       {Text("gone")},
       0,
       "k2  |9|NULL|0|NULL|NULL|NULL"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.sql);
    oc::CommandHandle prep;
    Prepare(c, prep, k.sql);
    ASSERT_EQ(ExecuteCommandText(c, "BEGIN TRAN").result, 1);
    EXPECT_EQ(Trancount(c), "1");
    const auto out = ExecuteCommandText(c, k.sql, true, k.params);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.row_count, k.rows);
    Unprepare(prep);
    ASSERT_EQ(ExecuteCommandText(c, k.rows == 0 ? "ROLLBACK TRAN" : "COMMIT TRAN").result, 1);
    EXPECT_EQ(Trancount(c), "0");
    std::string table;
    for (const auto& row :
         CursorRows(c, "SELECT k, n, f, b, m, d, s FROM pubs2..dsf_edit ORDER BY k ASC", 10)) {
      table += (table.empty() ? "" : ";") + row;
    }
    EXPECT_EQ(table, k.after);
    // A language command's row count, as ExecStatement reads it.
    EXPECT_EQ(ExecuteCommandText(c, "update pubs2..dsf_edit set n = n").row_count,
              static_cast<CS_INT>(std::count(table.begin(), table.end(), ';') + 1));
    EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{});
  }
}

// A failing statement inside the transaction: CS_CMD_FAIL with the server's message, and the
// rollback that follows leaves nothing behind.
TEST(DataSetFlows, FailedInsertIsRolledBack) {
  Client c;
  oc::CommandHandle prep;
  const char* sql = "INSERT pubs2..authors(au_id,au_lname,au_fname,phone) VALUES (?,?,?,?)";
  Prepare(c, prep, sql);
  ASSERT_EQ(ExecuteCommandText(c, "BEGIN TRAN").result, 1);
  const auto out =
      ExecuteCommandText(c, sql, true, {Text("201-45-7781"), Text("Dup"), Text("Dup"), Text("1")});
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{2601});
  Unprepare(prep);
  ASSERT_EQ(ExecuteCommandText(c, "ROLLBACK TRAN").result, 1);
  EXPECT_EQ(Trancount(c), "0");
  EXPECT_EQ(CursorRows(c, "select count(*) from pubs2..authors where au_lname = 'Dup'", 10),
            std::vector<std::string>{"0"});
}

// ---- Procedures -----------------------------------------------------------------------------

// Return status and output parameters: the status result read as text, then the parameter
// result, after a procedure run as RPC and as the prepared statement.
TEST(DataSetFlows, ReturnStatusAndOutputParameters) {
  Client c;
  struct Case {
    const char* how;
    std::vector<Param> params;
    const char* status;
    const char* output;
  };
  Param out = Null(CS_INT_TYPE);
  out.status = CS_RETURN;
  out.indicator = 0;
  out.data.assign(4, 0);
  const std::vector<Case> cases = {
      {"rpc", {Text("1001"), out}, "0", "4"},
      {"rpc", {Text("9999"), out}, "1", "0"},
      {"prepared", {Text("1002"), out}, "0", "4"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::string(k.how) + " " +
                 std::string(k.params[0].data.begin(), k.params[0].data.end()));
    auto cmd = c.command();
    oc::CommandHandle prep;
    if (std::string(k.how) == "rpc") {
      ASSERT_EQ(oc::ct_command(cmd.get(), CS_RPC_CMD, "pubs2..pub_count", CS_NULLTERM, CS_UNUSED),
                CS_SUCCEED);
    } else {
      Prepare(c, prep, "exec pubs2..pub_count ?, ? output");
      ASSERT_EQ(oc::ct_dynamic(cmd.get(), CS_EXECUTE, "PrepId", CS_NULLTERM, nullptr, CS_UNUSED),
                CS_SUCCEED);
    }
    auto params = k.params;
    SendParams(cmd.get(), params);
    ASSERT_EQ(oc::ct_send(cmd.get()), CS_SUCCEED);
    CS_INT type = 0;
    std::string status, output;
    std::vector<CS_INT> types;
    while (oc::ct_results(cmd.get(), &type) == CS_SUCCEED) {
      types.push_back(type);
      if (type == CS_STATUS_RESULT || type == CS_PARAM_RESULT) {
        const auto cols = DescribeAndBind(cmd.get(), false);
        ASSERT_EQ(cols.size(), 1u);
        ASSERT_EQ(FetchRow(cmd.get()), CS_SUCCEED);
        (type == CS_STATUS_RESULT ? status : output) = cols[0].text();
        EXPECT_EQ(FetchRow(cmd.get()), CS_END_DATA);
      }
    }
    EXPECT_EQ(status, k.status);
    EXPECT_EQ(output, k.output);
    const auto at = std::find(types.begin(), types.end(), CS_STATUS_RESULT);
    ASSERT_NE(at, types.end());
    ASSERT_NE(at + 1, types.end());
    EXPECT_EQ(at[1], CS_PARAM_RESULT);  // status before parameters, as the reader expects
    EXPECT_EQ(FlushAndCancel(cmd.get()), CS_SUCCEED);
    if (prep) Unprepare(prep);
    EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{});
  }
}

// A data set whose statement executes a procedure: the cursor reads the procedure's result set,
// on the text or on the prepared statement with its parameter.
TEST(DataSetFlows, CursorOnAProcedure) {
  Client c;
  auto ids = [](const std::vector<std::string>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.substr(0, r.find('|')));
    return out;
  };
  EXPECT_EQ(ids(CursorRows(c, "exec pubs2..titles_by_type 'business'", 10)),
            (std::vector<std::string>{"BU4478", "BU2101", "BU3340", "BU2215"}));
  oc::CommandHandle prep;
  const char* text = "exec pubs2..titles_by_type ?";
  Prepare(c, prep, text);
  EXPECT_EQ(ids(CursorRows(c, text, 1, true, {Text("mod_cook")})),
            (std::vector<std::string>{"CK1150", "CK1288"}));
  Unprepare(prep);
  EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{});
}

// ---- Catalog --------------------------------------------------------------------------------

// The table's index query on a "_defcur" cursor, and its generated SELECT with the chosen
// index's ORDER BY in both directions.
TEST(DataSetFlows, IndexCatalogQueryAndOrderedSelect) {
  Client c;
  const std::string t = "authors";
  const std::string sql =
      "SELECT x.name, x.indid, x.status, INDEX_COL('" + t + "', x.indid, c.colid) " +
      "FROM sysindexes x, syscolumns c WHERE x.id = object_id ('" + t + "') " +
      "AND indid BETWEEN 1 AND 254 AND x.id = c.id  AND c.colid <= x.keycnt " + "AND INDEX_COL('" +
      t + "', x.indid, c.colid)<>'' ORDER BY x.name, x.indid, c.colid ASC";
  ASSERT_EQ(ExecuteCommandText(c, "use pubs2").result, 1);
  const auto rows = CursorRows(c, sql, 10);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].substr(0, rows[0].find('|')), "auidind");
  EXPECT_EQ(rows[0].substr(rows[0].rfind('|') + 1), "au_id");
  EXPECT_EQ(rows[1].substr(rows[1].rfind('|') + 1), "au_lname");
  EXPECT_EQ(rows[2].substr(rows[2].rfind('|') + 1), "au_fname");
  // The same on the other server kind's catalog views.
  const std::string anywhere =
      "SELECT index_name, si.index_id, status = 1, column_name FROM SYSTABLE st, SYSIXCOL sic, "
      "SYSCOLUMN sc, SYSINDEX si WHERE st.table_id = sc.table_id AND si.table_id = sc.table_id "
      "AND si.index_id = sic.index_id AND sc.table_id = sic.table_id AND sc.column_id = "
      "sic.column_id AND st.table_name = '" +
      t + "'";
  auto other = CursorRows(c, anywhere, 10);
  std::sort(other.begin(), other.end());
  ASSERT_EQ(other.size(), 3u);
  EXPECT_EQ(other[0].substr(other[0].rfind('|') + 1), "au_id");
  for (const char* dir : {"ASC", "DESC"}) {
    const auto names = CursorRows(
        c, std::string("SELECT au_lname FROM pubs2..authors ORDER BY au_lname,au_fname ") + dir,
        10);
    ASSERT_EQ(names.size(), 25u);
    // The direction applies to the last key column only, as Transact-SQL reads the ORDER BY.
    EXPECT_EQ(names.front(), "Abernathy");
    EXPECT_EQ(names.back(), "Zeller");
  }
}
