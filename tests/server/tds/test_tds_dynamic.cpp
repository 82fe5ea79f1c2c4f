// Prepared statements through FreeTDS's ct_dynamic against the real engine.
#include "tds_ctlib.h"

#include <cstring>

namespace tdstest {
namespace {

using Row = std::vector<std::optional<std::string>>;

class TdsDynamicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = sampleserver::SampleServer::Start(sampleserver::ServerOptions{});
    client = std::make_unique<Client>(server->Port());
    ASSERT_EQ(client->Connect(), CS_SUCCEED);
    ASSERT_EQ(ct_cmd_alloc(client->Connection(), &cmd), CS_SUCCEED);
  }
  void TearDown() override {
    ct_cmd_drop(cmd);
    client.reset();
    server->Stop();
  }

  Outcome Send() {
    Outcome o;
    if (ct_send(cmd) != CS_SUCCEED) return o;
    Client::Drain(cmd, o);
    return o;
  }
  Outcome Prepare(const char* id, const char* sql) {
    EXPECT_EQ(ct_dynamic(cmd, CS_PREPARE, const_cast<char*>(id), CS_NULLTERM,
                         const_cast<char*>(sql), CS_NULLTERM),
              CS_SUCCEED);
    return Send();
  }
  // Executes with (int, varchar) parameters; NULL where a value is missing.
  Outcome Execute(const char* id, std::vector<std::optional<std::string>> values) {
    EXPECT_EQ(ct_dynamic(cmd, CS_EXECUTE, const_cast<char*>(id), CS_NULLTERM, nullptr, CS_UNUSED),
              CS_SUCCEED);
    std::vector<CS_INT> ints(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      CS_DATAFMT f{};
      f.status = CS_INPUTVALUE;
      CS_SMALLINT ind = values[i] ? 0 : -1;
      if (i % 2 == 0) {
        f.datatype = CS_INT_TYPE;
        f.maxlength = sizeof(CS_INT);
        ints[i] = values[i] ? std::stoi(*values[i]) : 0;
        EXPECT_EQ(ct_param(cmd, &f, &ints[i], sizeof(CS_INT), ind), CS_SUCCEED);
      } else {
        f.datatype = CS_CHAR_TYPE;
        f.maxlength = 30;
        const char* s = values[i] ? values[i]->c_str() : nullptr;
        EXPECT_EQ(ct_param(cmd, &f, const_cast<char*>(s),
                           values[i] ? static_cast<CS_INT>(values[i]->size()) : 0, ind),
                  CS_SUCCEED);
      }
    }
    return Send();
  }
  Outcome Deallocate(const char* id) {
    EXPECT_EQ(ct_dynamic(cmd, CS_DEALLOC, const_cast<char*>(id), CS_NULLTERM, nullptr, CS_UNUSED),
              CS_SUCCEED);
    return Send();
  }

  std::unique_ptr<sampleserver::SampleServer> server;
  std::unique_ptr<Client> client;
  CS_COMMAND* cmd = nullptr;
};

const std::vector<CS_INT> kSucceeded = {CS_CMD_SUCCEED, CS_CMD_DONE};
// A prepared statement's reply is a procedure's: its result sets, then the procedure's end.
const std::vector<CS_INT> kRowsThenSucceeded = {CS_ROW_RESULT, CS_CMD_DONE, CS_CMD_SUCCEED,
                                                CS_CMD_DONE};

TEST_F(TdsDynamicTest, PreparedStatementsRunManyTimesWithTheirOwnParameters) {
  ASSERT_EQ(client->Run("create table #dyn (a int, b varchar(30) null)").end, CS_END_RESULTS);
  Outcome o = Prepare("ins", "insert #dyn (a, b) values (?, ?)");
  EXPECT_EQ(o.types, kSucceeded);
  EXPECT_EQ(o.end, CS_END_RESULTS);
  o = Prepare("sel",
              "select a, b from #dyn where a >= ? /* ? in a comment */ and b <> '?' order by a");
  EXPECT_EQ(o.types, kSucceeded);

  // Three executions of the insert, one with a NULL, each counted.
  for (auto [a, b] : std::vector<std::pair<const char*, std::optional<std::string>>>{
           {"1", "one"}, {"2", std::nullopt}, {"3", "it's three"}}) {
    o = Execute("ins", {a, b});
    EXPECT_EQ(o.types, kSucceeded) << a;
    EXPECT_EQ(o.counts, (std::vector<CS_INT>{1})) << a;
  }
  o = Execute("sel", {"2"});
  EXPECT_EQ(o.types, kRowsThenSucceeded);
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"3", "it's three"}}));
  o = Execute("sel", {"0"});
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows.size(), 2u);  // NULL <> '?' is not true

  // FreeTDS refuses a second prepare of a live id itself; after a deallocate the id is free.
  EXPECT_EQ(Deallocate("sel").types, kSucceeded);
  o = Prepare("sel", "select count(*) from #dyn where a < ?");
  EXPECT_EQ(o.types, kSucceeded);
  o = Execute("sel", {"3"});
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"2"}}));

  EXPECT_EQ(Deallocate("ins").types, kSucceeded);
  EXPECT_EQ(Deallocate("sel").types, kSucceeded);
  EXPECT_EQ(client->Run("select count(*) from #dyn").sets.at(0).rows, (std::vector<Row>{{"3"}}));
}

TEST_F(TdsDynamicTest, PrepareDescribesParametersAndColumns) {
  Outcome o = Prepare("d1", "select au_id, au_lname, ? as x from pubs2..authors where au_id = ?");
  EXPECT_EQ(o.types, kSucceeded);

  ASSERT_EQ(
      ct_dynamic(cmd, CS_DESCRIBE_INPUT, const_cast<char*>("d1"), CS_NULLTERM, nullptr, CS_UNUSED),
      CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  CS_INT type = 0;
  ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
  EXPECT_EQ(type, CS_DESCRIBE_RESULT);
  CS_INT n = 0;
  ASSERT_EQ(ct_res_info(cmd, CS_NUMDATA, &n, CS_UNUSED, nullptr), CS_SUCCEED);
  EXPECT_EQ(n, 2);
  while (ct_results(cmd, &type) == CS_SUCCEED) {
  }

  ASSERT_EQ(
      ct_dynamic(cmd, CS_DESCRIBE_OUTPUT, const_cast<char*>("d1"), CS_NULLTERM, nullptr, CS_UNUSED),
      CS_SUCCEED);
  ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
  ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
  EXPECT_EQ(type, CS_DESCRIBE_RESULT);
  ASSERT_EQ(ct_res_info(cmd, CS_NUMDATA, &n, CS_UNUSED, nullptr), CS_SUCCEED);
  ASSERT_EQ(n, 3);
  CS_DATAFMT f{};
  ASSERT_EQ(ct_describe(cmd, 2, &f), CS_SUCCEED);
  EXPECT_EQ(std::string(f.name, static_cast<size_t>(f.namelen)), "au_lname");
  EXPECT_EQ(f.datatype, CS_CHAR_TYPE);
  EXPECT_EQ(f.maxlength, 40);
  while (ct_results(cmd, &type) == CS_SUCCEED) {
  }

  o = Execute("d1", {"7", "201-45-7781"});
  EXPECT_EQ(o.types, kRowsThenSucceeded);
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"201-45-7781", "Abernathy", "7"}}));
}

TEST_F(TdsDynamicTest, ErrorsAreReportedAndTheSessionStaysInStep) {
  // A statement that does not parse is refused at prepare.
  Outcome o = Prepare("bad", "select from where ?");
  EXPECT_EQ(o.end, CS_END_RESULTS);
  ASSERT_FALSE(client->serverMsgs.empty());
  EXPECT_GT(client->serverMsgs.back().severity, 10);
  // An unknown table is found at prepare too, for a query.
  size_t before = client->serverMsgs.size();
  Prepare("bad2", "select * from no_such_table where a = ?");
  ASSERT_GT(client->serverMsgs.size(), before);
  EXPECT_EQ(client->serverMsgs.back().number, 208);
  // Too few parameters.
  Prepare("two", "select ?, ?");
  before = client->serverMsgs.size();
  o = Execute("two", {"1"});
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_CMD_FAIL, CS_CMD_DONE}));
  ASSERT_GT(client->serverMsgs.size(), before);
  o = Execute("two", {"1", std::nullopt});
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"1", std::nullopt}}));
  EXPECT_EQ(client->Run("select 5").sets.at(0).rows, (std::vector<Row>{{"5"}}));
}

// A prepared select that matches nothing still ends: FreeTDS reads a dynamic statement's reply
// as a procedure's, so a plain final DONE after the row format would leave it reporting the same
// row result forever.
TEST_F(TdsDynamicTest, PreparedSelectMatchingNoRowEnds) {
  ASSERT_EQ(client->Run("create table #nr (k int, v varchar(10))\ninsert #nr values (1, 'a')").end,
            CS_END_RESULTS);
  ASSERT_EQ(Prepare("nr", "select k from #nr where v = ?").types, kSucceeded);
  for (const char* v : {"nothing", "a", "nothing"}) {
    ASSERT_EQ(ct_dynamic(cmd, CS_EXECUTE, const_cast<char*>("nr"), CS_NULLTERM, nullptr, CS_UNUSED),
              CS_SUCCEED);
    CS_DATAFMT f{};
    f.status = CS_INPUTVALUE;
    f.datatype = CS_CHAR_TYPE;
    f.maxlength = 10;
    ASSERT_EQ(ct_param(cmd, &f, const_cast<char*>(v), static_cast<CS_INT>(std::strlen(v)), 0),
              CS_SUCCEED);
    ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
    std::vector<CS_INT> types;
    size_t rows = 0;
    CS_INT type = 0;
    CS_RETCODE rc;
    while ((rc = ct_results(cmd, &type)) == CS_SUCCEED && types.size() < 10) {
      types.push_back(type);
      if (type == CS_ROW_RESULT) rows += Client::FetchAll(cmd).rows.size();
    }
    EXPECT_EQ(rc, CS_END_RESULTS) << v;
    bool match = std::string(v) == "a";
    // FreeTDS reports no CS_CMD_DONE for a result set without rows inside a procedure.
    const std::vector<CS_INT> noRows = {CS_ROW_RESULT, CS_CMD_SUCCEED, CS_CMD_DONE};
    EXPECT_EQ(types, match ? kRowsThenSucceeded : noRows) << v;
    EXPECT_EQ(rows, match ? 1u : 0u) << v;
  }
}

// ct_param on a language command: FreeTDS renames `?` to @P1.. or keeps the names given.
TEST_F(TdsDynamicTest, LanguageCommandsTakeParameters) {
  auto run = [&](const char* sql, const char* name) {
    EXPECT_EQ(ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql), CS_NULLTERM, CS_UNUSED),
              CS_SUCCEED);
    CS_INT v = 41;
    CS_DATAFMT f{};
    std::strcpy(f.name, name);
    f.namelen = static_cast<CS_INT>(std::strlen(name));
    f.datatype = CS_INT_TYPE;
    f.maxlength = sizeof v;
    f.status = CS_INPUTVALUE;
    EXPECT_EQ(ct_param(cmd, &f, &v, sizeof v, 0), CS_SUCCEED);
    char text[] = "it's";
    f.datatype = CS_CHAR_TYPE;
    f.maxlength = 10;
    std::strcpy(f.name, name[0] ? "@s" : "");
    f.namelen = name[0] ? 2 : 0;
    EXPECT_EQ(ct_param(cmd, &f, text, 4, 0), CS_SUCCEED);
    return Send();
  };
  Outcome o = run("select ? + 1, ? + '?'", "");
  ASSERT_EQ(o.sets.size(), 1u) << (client->serverMsgs.empty() ? ""
                                                              : client->serverMsgs.back().text);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"42", "it's?"}}));
  o = run("select @v * 2, upper(@s)", "@v");
  ASSERT_EQ(o.sets.size(), 1u) << (client->serverMsgs.empty() ? ""
                                                              : client->serverMsgs.back().text);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"82", "IT'S"}}));
  // Unnamed values bind, in order, to the variables the text uses without declaring them.
  o = run("declare @d int select @d = 1 select @num + @d, upper(@text) + '!'", "");
  ASSERT_FALSE(o.sets.empty()) << (client->serverMsgs.empty() ? ""
                                                              : client->serverMsgs.back().text);
  EXPECT_EQ(o.sets.back().rows, (std::vector<Row>{{"42", "IT'S!"}}));
}

// FreeTDS 1.3 has no cursor on a prepared statement: ct_dynamic(CS_CURSOR_DECLARE) fails in
// the library and sends nothing, so the server never sees such a request. (The components
// declare an ordinary cursor on the statement's text instead.) Ordinary cursors still work on
// the same command afterwards.
TEST_F(TdsDynamicTest, CursorOnAPreparedStatementIsRefusedByTheClientLibrary) {
  Prepare("cur", "select au_id from pubs2..authors where ? = 0 and state = ?");
  EXPECT_EQ(ct_dynamic(cmd, CS_CURSOR_DECLARE, const_cast<char*>("cur"), CS_NULLTERM,
                       const_cast<char*>("c_dyn"), CS_NULLTERM),
            CS_FAIL);
  Outcome o = OpenCursor(cmd, "c_plain",
                         "select au_id from pubs2..authors where state = 'OR' order by au_id", 1);
  ASSERT_FALSE(o.types.empty());
  EXPECT_EQ(o.types.back(), CS_CURSOR_RESULT);
  ResultSet rows = Client::FetchAll(cmd);
  EXPECT_EQ(rows.rows, (std::vector<Row>{{"247-09-5583"}, {"423-15-8843"}}));
  Outcome rest;
  Client::Drain(cmd, rest);
  CloseCursor(cmd, CS_DEALLOC);
  o = Execute("cur", {"0", "OR"});
  ASSERT_EQ(o.sets.size(), 1u);
}

}  // namespace
}  // namespace tdstest
