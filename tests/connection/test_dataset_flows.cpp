// The Client-Library sequences the data-set components rely on but do not reach by themselves,
// run through the adapter against the sample server: a row cursor over 100,000 rows, a row cursor
// that carries on across the table's statements on its connection, a cursor on the prepared
// statement released unopened, return status and output parameters of an RPC, the table's
// generated statements inside their transactions, and the catalog query for indexes. What the
// data set does itself is tested through it (tests/dataset/).
#include "connection/openclient.h"

#include "server_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
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

// A row that does not convert to the bound type fails alone: the rows around it still arrive.
TEST(DataSetFlows, TypedFetchReportsTheRowThatDoesNotConvert) {
  Client c;
  auto cmd = c.command();
  ASSERT_EQ(oc::ct_command(cmd.get(), CS_LANG_CMD,
                           "select v = '1' union all select 'x' union all select '3'", CS_NULLTERM,
                           CS_UNUSED),
            CS_SUCCEED);
  ASSERT_EQ(oc::ct_send(cmd.get()), CS_SUCCEED);
  CS_INT type = 0;
  ASSERT_EQ(oc::ct_results(cmd.get(), &type), CS_SUCCEED);
  ASSERT_EQ(type, CS_ROW_RESULT);
  CS_DATAFMT fmt{};
  fmt.datatype = CS_INT_TYPE;
  fmt.maxlength = sizeof(CS_INT);
  fmt.count = 1;
  CS_INT value = -1;
  ASSERT_EQ(oc::ct_bind(cmd.get(), 1, &fmt, &value, nullptr, nullptr), CS_SUCCEED);
  std::vector<std::pair<CS_RETCODE, CS_INT>> fetched;
  for (CS_RETCODE rc = CS_SUCCEED; rc == CS_SUCCEED || rc == CS_ROW_FAIL;) {
    value = -1;
    rc = oc::ct_fetch(cmd.get(), CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr);
    fetched.emplace_back(rc, rc == CS_SUCCEED ? value : 0);
  }
  EXPECT_EQ(fetched, (std::vector<std::pair<CS_RETCODE, CS_INT>>{
                         {CS_SUCCEED, 1}, {CS_ROW_FAIL, 0}, {CS_SUCCEED, 3}, {CS_END_DATA, 0}}));
  EXPECT_EQ(FlushAndCancel(cmd.get()), CS_SUCCEED);
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

// ---- Prepared statements --------------------------------------------------------------------

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

// Return status and output parameters of a procedure run as RPC (the prepared execution is the
// data set's, tested there): the status result read as text, then the parameter result.
TEST(DataSetFlows, ReturnStatusAndOutputParameters) {
  Client c;
  Param out = Null(CS_INT_TYPE);
  out.status = CS_RETURN;
  out.indicator = 0;
  out.data.assign(4, 0);
  for (const auto& [pub, status_text, output_text] :
       std::vector<std::tuple<const char*, const char*, const char*>>{{"1001", "0", "4"},
                                                                      {"9999", "1", "0"}}) {
    SCOPED_TRACE(pub);
    auto cmd = c.command();
    ASSERT_EQ(oc::ct_command(cmd.get(), CS_RPC_CMD, "pubs2..pub_count", CS_NULLTERM, CS_UNUSED),
              CS_SUCCEED);
    std::vector<Param> params = {Text(pub), out};
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
    EXPECT_EQ(status, status_text);
    EXPECT_EQ(output, output_text);
    const auto at = std::find(types.begin(), types.end(), CS_STATUS_RESULT);
    ASSERT_NE(at, types.end());
    ASSERT_NE(at + 1, types.end());
    EXPECT_EQ(at[1], CS_PARAM_RESULT);  // status before parameters, as the reader expects
    EXPECT_EQ(FlushAndCancel(cmd.get()), CS_SUCCEED);
    EXPECT_EQ(c.server_messages(), std::vector<CS_INT>{});
  }
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
