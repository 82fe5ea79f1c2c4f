// Bulk copy through FreeTDS's Bulk-Library (blk_*) against the sample server with its real engine:
// rows copied in must read back exactly as the same values inserted with SQL.
#include "tds_ctlib.h"

#include <bkpublic.h>

#include <string>
#include <vector>

namespace tdstest {
namespace {

using Row = std::vector<std::optional<std::string>>;

// One bulk copy in. Every column is bound as character data, binary ones as bytes, so the
// client library converts to the server's types as an application's bulk copy would.
class BlkIn {
 public:
  BlkIn(CS_CONNECTION* con, const std::string& table) {
    EXPECT_EQ(blk_alloc(con, BLK_VERSION_100, &blk_), CS_SUCCEED);
    init_ = blk_init(blk_, CS_BLK_IN, const_cast<char*>(table.c_str()), CS_NULLTERM);
    if (init_ != CS_SUCCEED) return;
    CS_INT n = 0;
    // FreeTDS has no CS_NUMDATA for descriptors: describe until a column is refused.
    for (CS_INT i = 1;; ++i) {
      CS_DATAFMT f{};
      if (blk_describe(blk_, i, &f) != CS_SUCCEED) break;
      describe_.push_back(f);
      n = i;
    }
    cols_.resize(static_cast<size_t>(n));
    for (CS_INT i = 0; i < n; ++i) {
      Col& c = cols_[static_cast<size_t>(i)];
      CS_INT t = describe_[static_cast<size_t>(i)].datatype;
      c.binary = t == CS_BINARY_TYPE || t == CS_IMAGE_TYPE || t == CS_LONGBINARY_TYPE ||
                 t == CS_VARBINARY_TYPE;
      c.buffer.resize(8192);
      CS_DATAFMT f{};
      // Image as image: FreeTDS pads a binary-to-image conversion to the column's 2 GB maximum.
      f.datatype = t == CS_IMAGE_TYPE ? CS_IMAGE_TYPE : c.binary ? CS_BINARY_TYPE : CS_CHAR_TYPE;
      f.format = CS_FMT_UNUSED;
      f.maxlength = static_cast<CS_INT>(c.buffer.size());
      f.count = 1;
      EXPECT_EQ(blk_bind(blk_, i + 1, &f, c.buffer.data(), &c.length, &c.indicator), CS_SUCCEED);
    }
  }
  ~BlkIn() { blk_drop(blk_); }

  CS_RETCODE Init() const { return init_; }
  size_t Columns() const { return cols_.size(); }
  const CS_DATAFMT& Describe(size_t i) const { return describe_[i]; }

  CS_RETCODE Send(const Row& values) {
    for (size_t i = 0; i < cols_.size(); ++i) {
      Col& c = cols_[i];
      const auto& v = i < values.size() ? values[i] : std::nullopt;
      if (!v) {
        c.indicator = -1;
        c.length = 0;
      } else {
        c.indicator = 0;
        c.length = static_cast<CS_INT>(v->size());
        std::copy(v->begin(), v->end(), c.buffer.begin());
      }
    }
    return blk_rowxfer(blk_);
  }

  CS_RETCODE Done(CS_INT type, CS_INT* rows) { return blk_done(blk_, type, rows); }

 private:
  struct Col {
    std::vector<char> buffer;
    CS_INT length = 0;
    CS_SMALLINT indicator = 0;
    bool binary = false;
  };
  CS_BLKDESC* blk_ = nullptr;
  CS_RETCODE init_ = CS_FAIL;
  std::vector<CS_DATAFMT> describe_;
  std::vector<Col> cols_;
};

// Reads a whole table with blk copy-out, every column as character data.
std::vector<Row> BlkOut(CS_CONNECTION* con, const std::string& table, CS_RETCODE* last) {
  CS_BLKDESC* blk = nullptr;
  std::vector<Row> rows;
  EXPECT_EQ(blk_alloc(con, BLK_VERSION_100, &blk), CS_SUCCEED);
  EXPECT_EQ(blk_init(blk, CS_BLK_OUT, const_cast<char*>(table.c_str()), CS_NULLTERM), CS_SUCCEED);
  std::vector<std::vector<char>> buffers;
  std::vector<CS_INT> lengths(64);
  std::vector<CS_SMALLINT> indicators(64);
  for (CS_INT i = 1; i <= 64; ++i) {
    CS_DATAFMT d{};
    if (blk_describe(blk, i, &d) != CS_SUCCEED) break;
    buffers.emplace_back(8192);
    CS_DATAFMT f{};
    f.datatype = CS_CHAR_TYPE;
    f.format = CS_FMT_NULLTERM;
    f.maxlength = 8192;
    f.count = 1;
    EXPECT_EQ(blk_bind(blk, i, &f, buffers.back().data(), &lengths[static_cast<size_t>(i - 1)],
                       &indicators[static_cast<size_t>(i - 1)]),
              CS_SUCCEED);
  }
  CS_RETCODE rc;
  while ((rc = blk_rowxfer(blk)) == CS_SUCCEED) {
    Row row;
    for (size_t i = 0; i < buffers.size(); ++i) {
      if (indicators[i] == -1)
        row.emplace_back(std::nullopt);
      else
        row.emplace_back(std::string(buffers[i].data()));
    }
    rows.push_back(std::move(row));
  }
  *last = rc;
  blk_drop(blk);
  return rows;
}

class BulkCtlibTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = sampleserver::SampleServer::Start(sampleserver::ServerOptions{});
  }
  static void TearDownTestSuite() {
    server_->Stop();
    server_.reset();
  }
  std::unique_ptr<Client> Connected(bool bulkLogin = true) {
    auto c = std::make_unique<Client>(server_->Port());
    CS_BOOL flag = bulkLogin ? CS_TRUE : CS_FALSE;
    ct_con_props(c->Connection(), CS_SET, CS_BULK_LOGIN, &flag, CS_UNUSED, nullptr);
    EXPECT_EQ(c->Connect(), CS_SUCCEED);
    return c;
  }
  static int64_t Count(Client& c, const std::string& table) {
    Outcome o = c.Run("select count(*) from " + table);
    if (o.sets.size() != 1 || o.sets[0].rows.size() != 1 || !o.sets[0].rows[0][0]) return -1;
    return std::stoll(*o.sets[0].rows[0][0]);
  }
  static inline std::unique_ptr<sampleserver::SampleServer> server_;
};

const char* const kTypesTable =
    "(id int not null, ti tinyint not null, si smallint null, bi bigint null, b1 bit not null, "
    "b2 bit not null, b3 bit not null, f float null, r real not null, m money null, "
    "sm smallmoney not null, dt datetime null, sdt smalldatetime not null, n numeric(10,2) null, "
    "d decimal(5,0) not null, c char(4) not null, cn char(6) null, vc varchar(20) null, "
    "vl varchar(600) null, bn binary(3) not null, vb varbinary(10) null, tx text null, im image "
    "null)";

// A value as SQL writes it and as the bulk copy sends it.
struct Cell {
  std::string sql;
  std::optional<std::string> bulk;
};

Cell N() { return {"null", std::nullopt}; }
Cell S(const std::string& v) { return {"'" + v + "'", v}; }
Cell V(const std::string& v) { return {v, v}; }
Cell B(const std::string& bytes) {
  static const char* hex = "0123456789abcdef";
  std::string sql = "0x";
  for (unsigned char ch : bytes) {
    sql += hex[ch >> 4];
    sql += hex[ch & 15];
  }
  return {sql, bytes};
}

std::vector<std::vector<Cell>> TypeRows() {
  const std::string longText(600, 'L');
  // FreeTDS's blk_rowxfer holds a text or image value in a 4096-byte buffer.
  std::string longer(4000, 't');
  for (size_t i = 0; i < longer.size(); i += 7) longer[i] = static_cast<char>('a' + i % 26);
  // clang-format off
  return {
      {V("1"), V("255"), V("-32768"), V("9223372036854775807"), V("1"), V("0"), V("1"), V("3.25"),
       V("1.5"), V("-12.3456"), V("-214748.3648"), S("2024-05-06 07:08:09.123"), S("2024-05-06 07:08"),
       V("12345678.91"), V("-99999"), S("ab"), S("xyz"), S("hello"), S(longText), B("\x01\x02\x03"),
       B(std::string("\x00\xff", 2)), S("some text"), B("\x89PNG")},
      {V("2"), V("0"), N(), N(), V("0"), V("1"), V("0"), N(), V("-2.5"), N(), V("0"), N(),
       S("1900-01-01 00:00"), N(), V("0"), S("wxyz"), N(), N(), N(), B(std::string("\0\0\0", 3)), N(),
       N(), N()},
      {V("3"), V("7"), V("12"), V("-5"), V("1"), V("1"), V("1"), V("-1e+100"), V("0"),
       V("123456789.1234"), V("214748.3647"), S("1753-01-01 00:00:00.000"),
       S("2079-06-06 23:59"), V("-0.01"), V("5"), S("a"), S("q"), N(), S(std::string(250, 'v')),
       B("xyz"), N(), S(longer), N()},
      {V("4"), V("1"), N(), V("-9223372036854775808"), V("0"), V("0"), V("1"), V("2"), V("3"), V("0"),
       V("1"), S("9999-12-31 23:59:59.996"), S("2000-02-29 12:00"), V("0"), V("1"), S("b c"), S("é ü"),
       S("ünïcödé"), N(), B("abc"), B("0123456789"), N(), B(std::string(3000, '\x7f'))},
  };
  // clang-format on
}

TEST_F(BulkCtlibTest, CopyInOfEveryCommonTypeReadsBackAsTheSameValuesInsertedWithSql) {
  auto c = Connected();
  ASSERT_EQ(c->Run(std::string("create table bt ") + kTypesTable).end, CS_END_RESULTS);
  ASSERT_EQ(c->Run(std::string("create table bt_ref ") + kTypesTable).end, CS_END_RESULTS);
  auto rows = TypeRows();
  for (const auto& row : rows) {
    std::string sql = "insert bt_ref values (";
    for (size_t i = 0; i < row.size(); ++i) sql += (i ? ", " : "") + row[i].sql;
    Outcome o = c->Run(sql + ")");
    ASSERT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE})) << sql;
  }
  {
    BlkIn in(c->Connection(), "bt");
    ASSERT_EQ(in.Init(), CS_SUCCEED);
    ASSERT_EQ(in.Columns(), 23u);
    // The description is the table's: real types and nullability.
    EXPECT_EQ(in.Describe(0).datatype, CS_INT_TYPE);
    EXPECT_FALSE(in.Describe(0).status & CS_CANBENULL);
    EXPECT_TRUE(in.Describe(2).status & CS_CANBENULL);
    EXPECT_EQ(in.Describe(13).datatype, CS_NUMERIC_TYPE);
    EXPECT_EQ(in.Describe(13).precision, 10);
    EXPECT_EQ(in.Describe(21).datatype, CS_TEXT_TYPE);
    for (const auto& row : rows) {
      Row values;
      for (const auto& cell : row) values.push_back(cell.bulk);
      ASSERT_EQ(in.Send(values), CS_SUCCEED);
    }
    CS_INT copied = -1;
    EXPECT_EQ(in.Done(CS_BLK_ALL, &copied), CS_SUCCEED);
    EXPECT_EQ(copied, 4);
  }
  EXPECT_TRUE(c->serverMsgs.empty()) << c->serverMsgs[0].text;
  Outcome got = c->Run("select * from bt order by id");
  Outcome want = c->Run("select * from bt_ref order by id");
  ASSERT_EQ(got.sets.size(), 1u);
  ASSERT_EQ(want.sets.size(), 1u);
  ASSERT_EQ(got.sets[0].rows.size(), 4u);
  for (size_t r = 0; r < 4; ++r) {
    for (size_t i = 0; i < want.sets[0].rows[r].size(); ++i) {
      EXPECT_EQ(got.sets[0].rows[r][i], want.sets[0].rows[r][i]) << "row " << r << " column " << i;
    }
  }
  // Spot checks independent of the SQL path.
  Outcome spot = c->Run(
      "select convert(varchar(30), m), convert(varchar(20), n), b1, b2, b3, "
      "datalength(vl), datalength(tx) from bt where id in (1, 3) order by id");
  ASSERT_EQ(spot.sets.size(), 1u);
  EXPECT_EQ(spot.sets[0].rows,
            (std::vector<Row>{{"-12.35", "12345678.91", "1", "0", "1", "600", "9"},
                              {"123456789.12", "-0.01", "1", "1", "1", "250", "4000"}}));
}

TEST_F(BulkCtlibTest, BatchesCommitOnTheirOwnAndAFailingBatchKeepsNothing) {
  auto c = Connected();
  ASSERT_EQ(c->Run("create table bb (id int not null, v varchar(40) null, d int null) "
                   "create unique index bb_id on bb (id)")
                .end,
            CS_END_RESULTS);
  {
    BlkIn in(c->Connection(), "bb");
    ASSERT_EQ(in.Init(), CS_SUCCEED);
    CS_INT copied = -1;
    // Enough rows that batches span many packets and rows straddle packet ends.
    for (int i = 1; i <= 1500; ++i)
      ASSERT_EQ(
          in.Send({std::to_string(i),
                   i % 3 ? std::optional<std::string>("value " + std::to_string(i)) : std::nullopt,
                   i % 2 ? std::optional<std::string>(std::to_string(-i)) : std::nullopt}),
          CS_SUCCEED);
    EXPECT_EQ(in.Done(CS_BLK_BATCH, &copied), CS_SUCCEED);
    EXPECT_EQ(copied, 1500);
    for (int i = 1501; i <= 1503; ++i)
      ASSERT_EQ(in.Send({std::to_string(i), "x", "0"}), CS_SUCCEED);
    EXPECT_EQ(in.Done(CS_BLK_BATCH, &copied), CS_SUCCEED);
    EXPECT_EQ(copied, 3);
    // Nothing since the last batch: an empty bulk message, answered with a count of 0.
    EXPECT_EQ(in.Done(CS_BLK_ALL, &copied), CS_SUCCEED);
    EXPECT_EQ(copied, 0);
  }
  EXPECT_EQ(Count(*c, "bb"), 1503);
  Outcome o = c->Run("select id, v, d from bb where id in (1, 3, 1502) order by id");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(
      o.sets[0].rows,
      (std::vector<Row>{{"1", "value 1", "-1"}, {"3", std::nullopt, "-3"}, {"1502", "x", "0"}}));
  {
    BlkIn in(c->Connection(), "bb");
    ASSERT_EQ(in.Init(), CS_SUCCEED);
    CS_INT copied = -1;
    ASSERT_EQ(in.Send({"2000", "new", "1"}), CS_SUCCEED);
    ASSERT_EQ(in.Send({"1", "duplicate", "1"}), CS_SUCCEED);
    ASSERT_EQ(in.Send({"2001", "new", "1"}), CS_SUCCEED);
    EXPECT_EQ(in.Done(CS_BLK_ALL, &copied), CS_FAIL);
  }
  ASSERT_FALSE(c->serverMsgs.empty());
  EXPECT_EQ(c->serverMsgs.back().number, 2601);
  EXPECT_GE(c->serverMsgs.back().severity, 11);
  EXPECT_EQ(Count(*c, "bb"), 1503);
  EXPECT_EQ(Count(*c, "bb where id >= 2000"), 0);
  // NULL into a NOT NULL variable column fails its batch the same way.
  c->serverMsgs.clear();
  ASSERT_EQ(c->Run("create table bn (id int not null, v varchar(10) not null)").end,
            CS_END_RESULTS);
  {
    BlkIn in(c->Connection(), "bn");
    ASSERT_EQ(in.Init(), CS_SUCCEED);
    ASSERT_EQ(in.Send({"1", "ok"}), CS_SUCCEED);
    CS_INT copied = -1;
    EXPECT_EQ(in.Done(CS_BLK_ALL, &copied), CS_SUCCEED);
    EXPECT_EQ(copied, 1);
  }
  EXPECT_EQ(Count(*c, "bn"), 1);
}

// An empty value sent to a column that cannot be NULL is an empty string, not a NULL.
TEST_F(BulkCtlibTest, EmptyStringsIntoNotNullColumnsStayEmptyStrings) {
  auto c = Connected();
  ASSERT_EQ(
      c->Run("create table bz (id int not null, c char(4) not null, v varchar(10) not null)").end,
      CS_END_RESULTS);
  {
    BlkIn in(c->Connection(), "bz");
    ASSERT_EQ(in.Init(), CS_SUCCEED);
    ASSERT_EQ(in.Send({"1", "", ""}), CS_SUCCEED);
    CS_INT copied = -1;
    EXPECT_EQ(in.Done(CS_BLK_ALL, &copied), CS_SUCCEED);
    EXPECT_EQ(copied, 1);
  }
  // Stored as Sybase stores an empty string: char padded, varchar a single blank.
  Outcome o = c->Run("select id, '[' + c + ']', '[' + v + ']' from bz");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"1", "[    ]", "[ ]"}}));
}

TEST_F(BulkCtlibTest, DefaultsFillNullsAndIdentityIsGenerated) {
  auto c = Connected();
  ASSERT_EQ(c->Run("create table bd (id numeric(6,0) identity, name varchar(10) null, "
                   "qty int default 42 null, note varchar(10) default 'none' null)")
                .end,
            CS_END_RESULTS);
  {
    BlkIn in(c->Connection(), "bd");
    ASSERT_EQ(in.Init(), CS_SUCCEED);
    // The identity column's value is a placeholder without identity_insert.
    ASSERT_EQ(in.Send({"100", "a", std::nullopt, std::nullopt}), CS_SUCCEED);
    ASSERT_EQ(in.Send({"200", "b", "7", "set"}), CS_SUCCEED);
    CS_INT copied = -1;
    EXPECT_EQ(in.Done(CS_BLK_ALL, &copied), CS_SUCCEED);
    EXPECT_EQ(copied, 2);
  }
  Outcome o = c->Run("select id, name, qty, note from bd order by id");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"1", "a", "42", "none"}, {"2", "b", "7", "set"}}));
  // With identity_insert on (freebcp -E), the row's value is kept.
  ASSERT_EQ(c->Run("set identity_insert bd on").end, CS_END_RESULTS);
  {
    BlkIn in(c->Connection(), "bd");
    ASSERT_EQ(in.Init(), CS_SUCCEED);
    ASSERT_EQ(in.Send({"500", "c", "1", "x"}), CS_SUCCEED);
    CS_INT copied = -1;
    EXPECT_EQ(in.Done(CS_BLK_ALL, &copied), CS_SUCCEED);
  }
  o = c->Run("select id, name from bd where name = 'c'");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"500", "c"}}));
}

TEST_F(BulkCtlibTest, CopyOutReturnsTheRowsOfThePlainSelect) {
  auto c = Connected();
  CS_RETCODE last = CS_FAIL;
  std::vector<Row> rows = BlkOut(c->Connection(), "pubs2..publishers", &last);
  EXPECT_EQ(last, CS_END_DATA);
  auto d = Connected();
  Outcome o = d->Run("select * from pubs2..publishers");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(rows, o.sets[0].rows);
  EXPECT_EQ(rows.size(), 6u);
}

TEST_F(BulkCtlibTest, WithoutTheBulkLoginFlagInsertBulkIsRefused) {
  auto c = Connected(false);
  ASSERT_EQ(c->Run("create table bf (id int not null)").end, CS_END_RESULTS);
  {
    BlkIn in(c->Connection(), "bf");
    ASSERT_EQ(in.Init(), CS_SUCCEED);
    EXPECT_EQ(in.Send({"1"}), CS_FAIL);
  }
  ASSERT_FALSE(c->serverMsgs.empty());
  EXPECT_EQ(c->serverMsgs[0].number, 16002);
  EXPECT_EQ(c->serverMsgs[0].severity, 16);
  auto d = Connected();
  EXPECT_EQ(Count(*d, "bf"), 0);
  // The same table takes a copy from a connection that asked for bulk copy.
  {
    BlkIn in(d->Connection(), "bf");
    ASSERT_EQ(in.Init(), CS_SUCCEED);
    ASSERT_EQ(in.Send({"1"}), CS_SUCCEED);
    CS_INT copied = -1;
    EXPECT_EQ(in.Done(CS_BLK_ALL, &copied), CS_SUCCEED);
  }
  EXPECT_EQ(Count(*d, "bf"), 1);
}

TEST_F(BulkCtlibTest, RowsOfAnAbandonedBatchFailTheNextRequestAndAreNotKept) {
  auto c = Connected();
  ASSERT_EQ(c->Run("create table ba (id int not null, v varchar(20) null)").end, CS_END_RESULTS);
  {
    BlkIn in(c->Connection(), "ba");
    ASSERT_EQ(in.Init(), CS_SUCCEED);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(in.Send({std::to_string(i), "abandoned"}), CS_SUCCEED);
    CS_INT copied = -1;
    // FreeTDS does nothing here: the rows stay buffered and go out with the next request.
    in.Done(CS_BLK_CANCEL, &copied);
  }
  Outcome o = c->Run("select count(*) from ba");
  EXPECT_NE(std::find(o.types.begin(), o.types.end(), CS_CMD_FAIL), o.types.end());
  ASSERT_FALSE(c->serverMsgs.empty());
  EXPECT_EQ(c->serverMsgs.back().number, 4804);
  // The connection goes on, and none of the rows went in.
  EXPECT_EQ(Count(*c, "ba"), 0);
}

// date, time and the unsigned integers arrive in their own wire forms, unichar as text; all keep
// their values (a nullable unichar, like a nullable char, is not padded). A computed column's value
// is the server's, whatever the row carries.
TEST_F(BulkCtlibTest, CopyInOfDateTimeUnsignedAndUnicharColumns) {
  auto c = Connected();
  ASSERT_EQ(
      c->Run("create table bu (d date, t time null, us unsigned smallint, ui unsigned int null, "
             "ub unsigned bigint, uc unichar(4) null, uv univarchar(8) null, "
             "dd as datediff(dd, '1900-01-01', d))")
          .end,
      CS_END_RESULTS);
  {
    BlkIn in(c->Connection(), "bu");
    ASSERT_EQ(in.Init(), CS_SUCCEED);
    ASSERT_EQ(in.Send({"2026-12-09", "16:32:53.490", "65535", "4294967295", "18446744073709551615",
                       "\xc3\xa9t\xc3\xa9", "ab", "0"}),
              CS_SUCCEED);
    ASSERT_EQ(in.Send({"1753-01-01", std::nullopt, "0", std::nullopt, "0", std::nullopt,
                       std::nullopt, "0"}),
              CS_SUCCEED);
    CS_INT copied = -1;
    EXPECT_EQ(in.Done(CS_BLK_ALL, &copied), CS_SUCCEED);
    EXPECT_EQ(copied, 2);
  }
  Outcome o = c->Run(
      "select convert(varchar(20), d, 112), convert(varchar(20), t, 20), convert(varchar(20), us), "
      "convert(varchar(20), ui), convert(varchar(20), ub), uc, uv, dd from bu order by d desc");
  ASSERT_EQ(o.sets.size(), 1u) << (c->serverMsgs.empty() ? "" : c->serverMsgs.back().text);
  EXPECT_EQ(o.sets[0].rows,
            (std::vector<Row>{{"20261209", "16:32:53:490", "65535", "4294967295",
                               "18446744073709551615", "\xc3\xa9t\xc3\xa9", "ab", "46363"},
                              {"17530101", std::nullopt, "0", std::nullopt, "0", std::nullopt,
                               std::nullopt, "-53690"}}));
}

}  // namespace
}  // namespace tdstest
