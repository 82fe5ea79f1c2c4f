// Replies whose descriptions outgrow a 16-bit token length, through FreeTDS's Client-Library
// against the real engine: each is either delivered whole or replaced by an error, and the
// connection stays usable.
#include "tds_ctlib.h"

#include <cstring>

namespace tdstest {
namespace {

using Row = std::vector<std::optional<std::string>>;

class TdsLongTokensTest : public RealServerTest {
 protected:
  // Sends what the command was set up with and drains the reply.
  static Outcome Send(CS_COMMAND* cmd) {
    Outcome o;
    if (ct_send(cmd) != CS_SUCCEED) return o;
    Client::Drain(cmd, o);
    return o;
  }
  bool StillAnswers() {
    Outcome o = client->Run("select 1");
    return o.end == CS_END_RESULTS && o.sets.size() == 1 &&
           o.sets[0].rows == std::vector<Row>{{"1"}};
  }
  bool ReportedTooLong() const {
    return std::any_of(client->serverMsgs.begin(), client->serverMsgs.end(),
                       [](const ServerMsg& m) { return m.number == 16005 && m.severity == 16; });
  }
};

TEST_F(TdsLongTokensTest, PrepareWhoseParameterDescriptionOverflowsIsRefused) {
  std::string sql = "select 1 where 1 in (?";
  for (int i = 1; i < 5000; ++i) sql += ", ?";  // some 75,000 bytes of description
  sql += ")";
  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client->Connection(), &cmd), CS_SUCCEED);
  std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
  ASSERT_EQ(
      ct_dynamic(cmd, CS_PREPARE, const_cast<char*>("wide"), CS_NULLTERM, sql.data(), CS_NULLTERM),
      CS_SUCCEED);
  Outcome o = Send(cmd);
  EXPECT_EQ(o.end, CS_END_RESULTS);
  EXPECT_TRUE(ReportedTooLong());
  EXPECT_TRUE(StillAnswers());
  // The statement was not kept: executing it names it as never prepared.
  ASSERT_EQ(ct_dynamic(cmd, CS_EXECUTE, const_cast<char*>("wide"), CS_NULLTERM, nullptr, CS_UNUSED),
            CS_SUCCEED);
  o = Send(cmd);
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_FAIL, CS_CMD_DONE}));
  ASSERT_FALSE(client->serverMsgs.empty());
  EXPECT_NE(client->serverMsgs.back().text.find("was not prepared"), std::string::npos)
      << client->serverMsgs.back().text;
}

TEST_F(TdsLongTokensTest, ManyLongNamedOutputParametersComeWholeOrAsAnError) {
  constexpr int kCount = 400;
  auto name = [](int i) { return "@p_" + std::string(200, 'x') + std::to_string(1000 + i); };
  std::string create = "create procedure lt_outputs ";
  for (int i = 0; i < kCount; ++i) create += (i ? ", " : "") + name(i) + " int output";
  create += " as select " + name(0) + " = 7";
  Outcome made = client->Run(create);
  ASSERT_EQ(std::count(made.types.begin(), made.types.end(), CS_CMD_FAIL), 0)
      << (client->serverMsgs.empty() ? "" : client->serverMsgs.back().text);

  CS_COMMAND* cmd = nullptr;
  ASSERT_EQ(ct_cmd_alloc(client->Connection(), &cmd), CS_SUCCEED);
  std::unique_ptr<CS_COMMAND, CS_RETCODE (*)(CS_COMMAND*)> guard(cmd, ct_cmd_drop);
  ASSERT_EQ(
      ct_command(cmd, CS_RPC_CMD, const_cast<char*>("lt_outputs"), CS_NULLTERM, CS_NO_RECOMPILE),
      CS_SUCCEED);
  std::vector<CS_INT> values(kCount, 0);
  for (int i = 0; i < kCount; ++i) {
    CS_DATAFMT f{};
    f.datatype = CS_INT_TYPE;
    f.status = CS_RETURN;
    f.maxlength = sizeof(CS_INT);
    ASSERT_EQ(ct_param(cmd, &f, &values[static_cast<size_t>(i)], sizeof(CS_INT), 0), CS_SUCCEED);
  }
  Outcome o = Send(cmd);
  EXPECT_EQ(o.end, CS_END_RESULTS);
  auto params = std::find(o.types.begin(), o.types.end(), CS_PARAM_RESULT);
  if (params == o.types.end()) {
    EXPECT_TRUE(ReportedTooLong());
  } else {
    const ResultSet& set =
        o.sets.at(static_cast<size_t>(std::count_if(o.types.begin(), params, [](CS_INT t) {
          return t == CS_ROW_RESULT || t == CS_STATUS_RESULT;
        })));
    ASSERT_EQ(set.rows.size(), 1u);
    ASSERT_EQ(set.rows[0].size(), static_cast<size_t>(kCount));
    EXPECT_EQ(set.rows[0][0], "7");
  }
  EXPECT_TRUE(StillAnswers());
}

TEST_F(TdsLongTokensTest, VeryWideSelectIsReadInFull) {
  constexpr int kColumns = 300;
  std::string sql = "select ";
  for (int i = 0; i < kColumns; ++i)
    sql += (i ? ", " : "") + std::to_string(i) + " as c" + std::string(250, 'w') +
           std::to_string(1000 + i);
  Outcome o = client->Run(sql);
  EXPECT_EQ(o.end, CS_END_RESULTS);
  ASSERT_EQ(o.sets.size(), 1u);
  ASSERT_EQ(o.sets[0].rows.size(), 1u);
  ASSERT_EQ(o.sets[0].rows[0].size(), static_cast<size_t>(kColumns));
  for (int i = 0; i < kColumns; i += 37)
    EXPECT_EQ(o.sets[0].rows[0][static_cast<size_t>(i)], std::to_string(i));
  EXPECT_TRUE(StillAnswers());
}

TEST_F(TdsLongTokensTest, BrowseInformationTooLongIsReplacedByAnError) {
  constexpr int kColumns = 255;
  auto column = [](int i) { return "c" + std::string(250, 'b') + std::to_string(1000 + i); };
  std::string create = "create table lt_browse (", insert = "insert lt_browse (",
              select = "select ";
  for (int i = 0; i < kColumns; ++i) {
    create += column(i) + " int null, ";
    insert += (i ? ", " : "") + column(i);
    select +=
        (i ? ", " : "") + column(i) + " as a" + std::to_string(i);  // renamed: COLINFO names it
  }
  create += "ts timestamp)";
  insert += ") values (1";
  for (int i = 1; i < kColumns; ++i) insert += ", " + std::to_string(i + 1);
  insert += ")";
  for (const std::string& sql : {create, insert}) {
    Outcome made = client->Run(sql);
    ASSERT_EQ(std::count(made.types.begin(), made.types.end(), CS_CMD_FAIL), 0)
        << (client->serverMsgs.empty() ? "" : client->serverMsgs.back().text);
  }
  Outcome o = client->Run(select + " from lt_browse for browse");
  EXPECT_EQ(o.end, CS_END_RESULTS);
  ASSERT_EQ(o.sets.size(), 1u);
  ASSERT_EQ(o.sets[0].rows.size(), 1u);
  ASSERT_EQ(o.sets[0].rows[0].size(), static_cast<size_t>(kColumns));
  EXPECT_EQ(o.sets[0].rows[0][kColumns - 1], std::to_string(kColumns));
  EXPECT_TRUE(ReportedTooLong());
  EXPECT_TRUE(StillAnswers());
}

}  // namespace
}  // namespace tdstest
