// date, time, unsigned integers, bigint and unichar read by Client-Library in their own
// datatypes, over the real engine.
#include "tds_ctlib.h"

namespace tdstest {
namespace {

using Row = std::vector<std::optional<std::string>>;

class TdsDatatypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = sampleserver::SampleServer::Start(sampleserver::ServerOptions{});
  }
  void TearDown() override { server->Stop(); }
  std::unique_ptr<sampleserver::SampleServer> server;
};

TEST_F(TdsDatatypesTest, ClientReadsEachTypeInItsOwnDatatype) {
  Client c(server->Port());
  ASSERT_EQ(c.Connect(), CS_SUCCEED);
  Outcome o = c.Run(
      "create table #w (d date, t time, dn date null, tn time null, us unsigned smallint, "
      "ui unsigned int null, ub unsigned bigint, bi bigint, bn bigint null, uc unichar(3), "
      "uv univarchar(10) null, ut unitext null) "
      "insert #w values ('2026-12-09', '16:32:53.490', '1753-01-01', '23:59:59.997', 65535, "
      "4294967295, "
      "18446744073709551615, -9223372036854775808, 42, 'ab', 'h\xc3\xa9llo', 'long \xc3\xa9') "
      "insert #w values ('1900-01-01', '00:00', null, null, 0, null, 0, 0, null, '', null, null) "
      "select * from #w order by d desc");
  ASSERT_EQ(o.sets.size(), 1u) << (c.serverMsgs.empty() ? "" : c.serverMsgs[0].text);
  std::vector<CS_INT> types;
  for (const auto& f : o.sets[0].formats) types.push_back(f.datatype);
  // FreeTDS reads unichar (long binary, usertype 34/35) as text converted from UTF-16; unitext
  // goes out as text, as FreeTDS does not ask for unitext.
  EXPECT_EQ(types,
            (std::vector<CS_INT>{CS_DATE_TYPE, CS_TIME_TYPE, CS_DATE_TYPE, CS_TIME_TYPE,
                                 CS_USMALLINT_TYPE, CS_UINT_TYPE, CS_UBIGINT_TYPE, CS_BIGINT_TYPE,
                                 CS_BIGINT_TYPE, CS_TEXT_TYPE, CS_TEXT_TYPE, CS_TEXT_TYPE}));
  // Dates and times as the client library itself formats them to character.
  EXPECT_EQ(o.sets[0].rows,
            (std::vector<Row>{
                {"Dec  9 2026 12:00AM", "Jan  1 1900 04:32PM", "Jan  1 1753 12:00AM",
                 "Jan  1 1900 11:59PM", "65535", "4294967295", "18446744073709551615",
                 "-9223372036854775808", "42", "ab ", "h\xc3\xa9llo", "long \xc3\xa9"},
                {"Jan  1 1900 12:00AM", "Jan  1 1900 12:00AM", std::nullopt, std::nullopt, "0",
                 std::nullopt, "0", "0", std::nullopt, "   ", std::nullopt, std::nullopt}}));
}

// Parameters of the new types reach the engine decoded: the client sends them in their own wire
// types now that the server grants the capabilities.
TEST_F(TdsDatatypesTest, DynamicParametersOfTheNewTypes) {
  Client c(server->Port());
  ASSERT_EQ(c.Connect(), CS_SUCCEED);
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(c.Connection(), &cmd), CS_SUCCEED);
  std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
  const char* sql =
      "select convert(varchar(30), ?), convert(varchar(30), ?), convert(varchar(30), ?), "
      "convert(varchar(30), ?)";
  ASSERT_EQ(ct_dynamic(cmd, CS_PREPARE, const_cast<char*>("p1"), CS_NULLTERM,
                       const_cast<char*>(sql), CS_NULLTERM),
            CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  Outcome prep;
  Client::Drain(cmd, prep);
  ASSERT_EQ(ct_dynamic(cmd, CS_EXECUTE, const_cast<char*>("p1"), CS_NULLTERM, nullptr, CS_UNUSED),
            CS_SUCCEED);
  CS_DATE date = 46363;            // days since 1900-01-01: Dec 9 2026
  CS_TIME time = 300 * 3600 * 10;  // 10:00AM in 1/300 s
  CS_UINT uint = 4000000000u;
  CS_USMALLINT usmall = 65000;
  struct P {
    CS_INT type;
    void* data;
    CS_INT length;
  };
  const P params[] = {{CS_DATE_TYPE, &date, sizeof date},
                      {CS_TIME_TYPE, &time, sizeof time},
                      {CS_UINT_TYPE, &uint, sizeof uint},
                      {CS_USMALLINT_TYPE, &usmall, sizeof usmall}};
  for (const P& p : params) {
    CS_DATAFMT f{};
    f.datatype = p.type;
    f.maxlength = p.length;
    f.status = CS_INPUTVALUE;
    ASSERT_EQ(ct_param(cmd, &f, p.data, p.length, 0), CS_SUCCEED);
  }
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  Outcome o;
  Client::Drain(cmd, o);
  ASSERT_EQ(o.sets.size(), 1u) << (c.serverMsgs.empty() ? "" : c.serverMsgs[0].text);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"Dec  9 2026", "10:00AM", "4000000000", "65000"}}));
}

}  // namespace
}  // namespace tdstest
