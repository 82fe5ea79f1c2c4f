// Login, results, datatypes, messages and options through FreeTDS's Client-Library.
#include "tds_ctlib.h"

#include <cstring>

namespace tdstest {
namespace {

using Row = std::vector<std::optional<std::string>>;

TEST_F(TdsServerTest, LoginPassesTheLoginRecordToTheEngine) {
  auto c = Connected(4096);
  LoginRequest login = engine->LastLogin();
  EXPECT_EQ(login.user, "sa");
  EXPECT_EQ(login.password, "");
  EXPECT_EQ(login.application, "tdstest");
  EXPECT_FALSE(login.host.empty());
  EXPECT_TRUE(login.bulkCopy);
  // The post-login "select @@spid" of FreeTDS was answered, so the connection is usable.
  Outcome o = c->Run("select @@spid");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"1"}}));
  CS_INT size = 0;
  ct_con_props(c->Connection(), CS_GET, CS_PACKETSIZE, &size, CS_UNUSED, nullptr);
  EXPECT_EQ(size, 4096);
}

TEST_F(TdsServerTest, RefusedLoginFailsConnectWithMessage4002) {
  Client c(server->Port(), "sa", "wrong");
  EXPECT_EQ(c.Connect(), CS_FAIL);
  ASSERT_EQ(c.serverMsgs.size(), 1u);
  EXPECT_EQ(c.serverMsgs[0].number, 4002);
  EXPECT_EQ(c.serverMsgs[0].severity, 14);
  EXPECT_EQ(c.serverMsgs[0].text, "Login failed.");
  // The server is still serving other logins.
  Client ok(server->Port());
  EXPECT_EQ(ok.Connect(), CS_SUCCEED);
}

TEST_F(TdsServerTest, EveryDatatypeAsCharacterData) {
  auto c = Connected();
  Outcome o = c->Run("select types");
  ASSERT_EQ(o.end, CS_END_RESULTS);
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_ROW_RESULT, CS_CMD_DONE}));
  EXPECT_EQ(o.counts, (std::vector<CS_INT>{2}));
  ASSERT_EQ(o.sets.size(), 1u);
  const auto& rows = o.sets[0].rows;
  ASSERT_EQ(rows.size(), 2u);
  Row expected = {"200",
                  "-32000",
                  "2000000000",
                  "-9000000000000000000",
                  "1",
                  "12.34",
                  "-1234567890123456789012345678901234.5678",
                  "1.5",
                  "2.25",
                  "12345.6789",
                  "-1.2345",
                  "May  6 2024 07:08AM",
                  "May  6 2024 03:30PM",
                  "abc",
                  " ",
                  "some text",
                  "deadbeef",
                  "00",
                  "010203",
                  "-7",
                  "-0.5",
                  "0.5000",
                  "Dec 31 1899 12:00AM",
                  std::string(600, 'x'),
                  "1"};
  EXPECT_EQ(rows[0], expected);
  Row nulls = expected;
  for (size_t i : {6, 14, 15, 17, 18, 19, 20, 21, 22, 23}) nulls[i] = std::nullopt;
  nulls.back() = "2";
  EXPECT_EQ(rows[1], nulls);
}

TEST_F(TdsServerTest, DescribeReportsTypesLengthsAndStatusBits) {
  auto c = Connected();
  Outcome o = c->Run("select types");
  ASSERT_EQ(o.sets.size(), 1u);
  const auto& f = o.sets[0].formats;
  ASSERT_EQ(f.size(), TypeColumns().size());
  const CS_INT types[] = {
      CS_TINYINT_TYPE, CS_SMALLINT_TYPE, CS_INT_TYPE,       CS_BIGINT_TYPE, CS_BIT_TYPE,
      CS_NUMERIC_TYPE, CS_DECIMAL_TYPE,  CS_FLOAT_TYPE,     CS_REAL_TYPE,   CS_MONEY_TYPE,
      CS_MONEY4_TYPE,  CS_DATETIME_TYPE, CS_DATETIME4_TYPE, CS_CHAR_TYPE,   CS_CHAR_TYPE,
      CS_TEXT_TYPE,    CS_BINARY_TYPE,   CS_BINARY_TYPE,    CS_IMAGE_TYPE,  CS_INT_TYPE,
      CS_FLOAT_TYPE,   CS_MONEY_TYPE,    CS_DATETIME_TYPE,  CS_CHAR_TYPE,   CS_INT_TYPE};
  for (size_t i = 0; i < f.size(); ++i) {
    SCOPED_TRACE(f[i].name);
    EXPECT_EQ(f[i].datatype, types[i]);
    EXPECT_EQ(std::string(f[i].name), TypeColumns()[i].name);
    bool nullable = TypeColumns()[i].nullable;
    EXPECT_EQ((f[i].status & CS_CANBENULL) != 0, nullable);
  }
  EXPECT_EQ(f[5].precision, 10);
  EXPECT_EQ(f[5].scale, 2);
  EXPECT_EQ(f[6].precision, 38);
  EXPECT_EQ(f[6].scale, 4);
  EXPECT_EQ(f[13].maxlength, 10);
  EXPECT_EQ(f[14].maxlength, 20);
  EXPECT_EQ(f[23].maxlength, 600);
  EXPECT_TRUE(f[13].status & CS_UPDATABLE);
  EXPECT_FALSE(f[14].status & CS_UPDATABLE);
  EXPECT_TRUE(f[24].status & CS_IDENTITY);
  EXPECT_FALSE(f[2].status & CS_IDENTITY);
}

// Binds the first row of "select types" in the types the columns have.
TEST_F(TdsServerTest, EveryDatatypeBoundNatively) {
  auto c = Connected();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(c->Connection(), &cmd), CS_SUCCEED);
  std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
  ct_command(cmd, CS_LANG_CMD, const_cast<char*>("select types"), CS_NULLTERM, CS_UNUSED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  CS_INT type = 0;
  ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
  ASSERT_EQ(type, CS_ROW_RESULT);

  struct Slot {
    std::vector<unsigned char> data = std::vector<unsigned char>(8192);
    CS_INT length = 0;
    CS_SMALLINT indicator = 0;
  };
  std::vector<Slot> slots(TypeColumns().size());
  for (size_t i = 0; i < slots.size(); ++i) {
    CS_DATAFMT f{};
    ASSERT_EQ(ct_describe(cmd, static_cast<CS_INT>(i + 1), &f), CS_SUCCEED);
    f.maxlength = 8192;
    f.count = 1;
    f.format = CS_FMT_UNUSED;
    if (f.datatype == CS_CHAR_TYPE || f.datatype == CS_LONGCHAR_TYPE || f.datatype == CS_TEXT_TYPE)
      f.format = CS_FMT_NULLTERM;
    ASSERT_EQ(ct_bind(cmd, static_cast<CS_INT>(i + 1), &f, slots[i].data.data(), &slots[i].length,
                      &slots[i].indicator),
              CS_SUCCEED);
  }
  CS_INT rows = 0;
  ASSERT_EQ(ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows), CS_SUCCEED);
  auto as = [&](size_t i, auto zero) {
    decltype(zero) v;
    std::memcpy(&v, slots[i].data.data(), sizeof v);
    return v;
  };
  EXPECT_EQ(as(0, CS_TINYINT{}), 200);
  EXPECT_EQ(as(1, CS_SMALLINT{}), -32000);
  EXPECT_EQ(as(2, CS_INT{}), 2000000000);
  EXPECT_EQ(as(3, CS_BIGINT{}), -9000000000000000000LL);
  EXPECT_EQ(as(4, CS_BIT{}), 1);
  CS_NUMERIC num = as(5, CS_NUMERIC{});
  EXPECT_EQ(num.precision, 10);
  EXPECT_EQ(num.scale, 2);
  EXPECT_EQ(as(7, CS_FLOAT{}), 1.5);
  EXPECT_EQ(as(8, CS_REAL{}), 2.25f);
  CS_MONEY money = as(9, CS_MONEY{});
  EXPECT_EQ(static_cast<int64_t>(money.mnyhigh) << 32 | money.mnylow, 123456789);
  EXPECT_EQ(as(10, CS_MONEY4{}).mny4, -12345);
  CS_DATETIME dt = as(11, CS_DATETIME{});
  EXPECT_EQ(dt.dtdays, 45416);
  EXPECT_EQ(dt.dttime, 7706700);
  CS_DATETIME4 sdt = as(12, CS_DATETIME4{});
  EXPECT_EQ(sdt.days, 45416);
  EXPECT_EQ(sdt.minutes, 930);
  EXPECT_STREQ(reinterpret_cast<char*>(slots[15].data.data()), "some text");
  EXPECT_EQ(slots[16].length, 4);
  EXPECT_EQ(std::vector<unsigned char>(slots[16].data.begin(), slots[16].data.begin() + 4),
            (std::vector<unsigned char>{0xde, 0xad, 0xbe, 0xef}));
  EXPECT_EQ(slots[18].length, 3);
  EXPECT_EQ(slots[18].data[2], 3);
  EXPECT_EQ(as(19, CS_INT{}), -7);
  EXPECT_EQ(as(20, CS_FLOAT{}), -0.5);
  CS_DATETIME before1900 = as(22, CS_DATETIME{});
  EXPECT_EQ(before1900.dtdays, -1);
  EXPECT_EQ(before1900.dttime, 300);

  // The second row: NULL indicators on every nullable column that holds NULL.
  ASSERT_EQ(ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows), CS_SUCCEED);
  for (size_t i : {6, 14, 15, 17, 18, 19, 20, 21, 22, 23}) EXPECT_EQ(slots[i].indicator, -1) << i;
  for (size_t i : {0, 2, 5, 13, 24}) EXPECT_EQ(slots[i].indicator, 0) << i;
  EXPECT_EQ(ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows), CS_END_DATA);
  Outcome rest;
  Client::Drain(cmd, rest);
  EXPECT_EQ(rest.types, (std::vector<CS_INT>{CS_CMD_DONE}));
  EXPECT_EQ(rest.end, CS_END_RESULTS);
}

TEST_F(TdsServerTest, DataLongerThanDeclaredIsCut) {
  auto c = Connected();
  Outcome o = c->Run("overlong");
  ASSERT_EQ(o.end, CS_END_RESULTS);
  ASSERT_EQ(o.sets.size(), 1u);
  // Four bytes of "héllo" would split the two-byte é: the cut backs off to a whole character.
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"abcde", "h\xc3\xa9l"}}));
}

TEST_F(TdsServerTest, ResultSequencesAndRowCounts) {
  auto c = Connected();
  Outcome o = c->Run("insert select");
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE, CS_ROW_RESULT, CS_CMD_DONE,
                                          CS_CMD_SUCCEED, CS_CMD_DONE}));
  EXPECT_EQ(o.counts, (std::vector<CS_INT>{3, 2, -1}));
  EXPECT_EQ(o.end, CS_END_RESULTS);
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"1", "one"}, {"2", std::nullopt}}));

  // A failing statement: its message, CS_CMD_FAIL, and the connection goes on.
  o = c->Run("error");
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE, CS_CMD_FAIL, CS_CMD_DONE}));
  ASSERT_EQ(c->serverMsgs.size(), 1u);
  EXPECT_EQ(c->serverMsgs[0].number, 208);
  EXPECT_EQ(c->serverMsgs[0].severity, 16);
  EXPECT_EQ(c->serverMsgs[0].line, 3);
  EXPECT_EQ(c->serverMsgs[0].server, "SAMPLE");

  o = c->Run("nonsense");
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_FAIL, CS_CMD_DONE}));
  EXPECT_EQ(o.end, CS_END_RESULTS);
  EXPECT_EQ(c->serverMsgs.back().number, 102);
}

TEST_F(TdsServerTest, PrintAndProcedureReplies) {
  auto c = Connected();
  Outcome o = c->Run("print");
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE}));
  ASSERT_EQ(c->serverMsgs.size(), 1u);
  EXPECT_EQ(c->serverMsgs[0].number, 0);
  EXPECT_EQ(c->serverMsgs[0].severity, 10);
  EXPECT_EQ(c->serverMsgs[0].text, "hello from print");

  o = c->Run("proc");
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_ROW_RESULT, CS_CMD_DONE, CS_STATUS_RESULT, CS_CMD_FAIL,
                                          CS_CMD_DONE}));
  ASSERT_EQ(o.sets.size(), 2u);
  EXPECT_EQ(o.sets[1].rows, (std::vector<Row>{{"-6"}}));
  ASSERT_EQ(c->serverMsgs.size(), 2u);
  EXPECT_EQ(c->serverMsgs[1].proc, "myproc");
  EXPECT_EQ(c->serverMsgs[1].line, 7);
  EXPECT_EQ(c->serverMsgs[1].state, 2);
}

TEST_F(TdsServerTest, UseChangesTheDatabase) {
  auto c = Connected();
  Outcome o = c->Run("use pubs2");
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_SUCCEED, CS_CMD_DONE}));
  o = c->Run("select db_name()");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"pubs2"}}));
  ASSERT_FALSE(c->serverMsgs.empty());
  EXPECT_EQ(c->serverMsgs.back().number, 5701);
}

TEST_F(TdsServerTest, OptionsSetClearAndGet) {
  auto c = Connected();
  CS_INT textsize = 65536;
  ASSERT_EQ(ct_options(c->Connection(), CS_SET, CS_OPT_TEXTSIZE, &textsize, CS_UNUSED, nullptr),
            CS_SUCCEED);
  CS_BOOL on = CS_TRUE;
  ASSERT_EQ(ct_options(c->Connection(), CS_SET, CS_OPT_NOCOUNT, &on, CS_UNUSED, nullptr),
            CS_SUCCEED);
  {
    std::lock_guard lock(engine->state->mutex);
    EXPECT_EQ(engine->state->lastOptions[2], (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(engine->state->lastOptions[21], (std::vector<uint8_t>{1}));
  }
  CS_BOOL flag = CS_FALSE;
  ASSERT_EQ(ct_options(c->Connection(), CS_GET, CS_OPT_NOCOUNT, &flag, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(flag, CS_TRUE);
  ASSERT_EQ(ct_options(c->Connection(), CS_CLEAR, CS_OPT_NOCOUNT, &flag, CS_UNUSED, nullptr),
            CS_SUCCEED);
  {
    std::lock_guard lock(engine->state->mutex);
    EXPECT_TRUE(engine->state->lastOptions[21].empty());  // back to the default: no value
  }
  ASSERT_EQ(ct_options(c->Connection(), CS_GET, CS_OPT_NOCOUNT, &flag, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(flag, CS_FALSE);
  // The connection still runs queries after the option exchanges.
  EXPECT_EQ(c->Run("select @@spid").end, CS_END_RESULTS);
}

TEST_F(TdsServerTest, RowsLargerThanAPacketAtSeveralPacketSizes) {
  for (int size : {512, 4096}) {
    SCOPED_TRACE(size);
    auto c = Connected(size);
    CS_COMMAND* cmd = nullptr;
    ASSERT_EQ(ct_cmd_alloc(c->Connection(), &cmd), CS_SUCCEED);
    std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
    ct_command(cmd, CS_LANG_CMD, const_cast<char*>("wide 5"), CS_NULLTERM, CS_UNUSED);
    ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
    CS_INT type = 0;
    ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
    ASSERT_EQ(type, CS_ROW_RESULT);
    std::vector<char> text(4000);
    std::vector<unsigned char> image(6000);
    CS_INT n = 0, textLen = 0, imageLen = 0;
    CS_DATAFMT f{};
    f.datatype = CS_INT_TYPE;
    f.maxlength = 4;
    f.count = 1;
    ct_bind(cmd, 1, &f, &n, nullptr, nullptr);
    f.datatype = CS_CHAR_TYPE;
    f.maxlength = 4000;
    ct_bind(cmd, 2, &f, text.data(), &textLen, nullptr);
    f.datatype = CS_IMAGE_TYPE;
    f.maxlength = 6000;
    ct_bind(cmd, 3, &f, image.data(), &imageLen, nullptr);
    CS_INT fetched = 0;
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &fetched), CS_SUCCEED);
      EXPECT_EQ(n, i);
      ASSERT_EQ(textLen, 3000);
      EXPECT_EQ(std::string(text.data(), 3000), std::string(3000, static_cast<char>('a' + i)));
      ASSERT_EQ(imageLen, 5000);
      bool same = true;
      for (size_t k = 0; k < 5000; ++k)
        same = same && image[k] == static_cast<unsigned char>(k * 7 + i);
      EXPECT_TRUE(same);
    }
    EXPECT_EQ(ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &fetched), CS_END_DATA);
    Outcome rest;
    Client::Drain(cmd, rest);
    EXPECT_EQ(rest.counts, (std::vector<CS_INT>{5}));
  }
}

TEST_F(TdsServerTest, RpcAndDynamicAreRefusedWithAMessage) {
  auto c = Connected();
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(c->Connection(), &cmd), CS_SUCCEED);
  std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
  ct_command(cmd, CS_RPC_CMD, const_cast<char*>("sp_who"), CS_NULLTERM, CS_UNUSED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  Outcome o;
  Client::Drain(cmd, o);
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_FAIL, CS_CMD_DONE}));
  ASSERT_FALSE(c->serverMsgs.empty());
  EXPECT_EQ(c->serverMsgs.back().number, 2812);
  EXPECT_NE(c->serverMsgs.back().text.find("'sp_who'"), std::string::npos);

  ct_dynamic(cmd, CS_PREPARE, const_cast<char*>("p1"), CS_NULLTERM, const_cast<char*>("select 1"),
             CS_NULLTERM);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  Outcome d;
  Client::Drain(cmd, d);
  EXPECT_EQ(d.end, CS_END_RESULTS);
  EXPECT_GE(c->serverMsgs.size(), 2u);
  EXPECT_EQ(c->serverMsgs.back().severity, 16);
  // Still in step: the next command gets its own reply.
  o = c->Run("select @@spid");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows.size(), 1u);
}

TEST_F(TdsServerTest, LogoutClosesTheSession) {
  {
    auto c = Connected();
    EXPECT_EQ(engine->state->liveSessions.load(), 1);
    EXPECT_EQ(ct_close(c->Connection(), CS_UNUSED), CS_SUCCEED);
  }
  for (int i = 0; i < 200 && engine->state->liveSessions.load() != 0; ++i) ::usleep(10000);
  EXPECT_EQ(engine->state->liveSessions.load(), 0);
}

}  // namespace
}  // namespace tdstest
