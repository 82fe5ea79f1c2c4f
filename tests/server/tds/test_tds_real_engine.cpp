// The protocol layer over the real engine: in-process and as the sampleserver program.
#include "tds_ctlib.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>

namespace tdstest {
namespace {

using Row = std::vector<std::optional<std::string>>;

class TdsRealEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = sampleserver::SampleServer::Start(sampleserver::ServerOptions{});
  }
  void TearDown() override { server->Stop(); }
  std::unique_ptr<sampleserver::SampleServer> server;
};

TEST_F(TdsRealEngineTest, SelectsThroughClientLibrary) {
  Client c(server->Port());
  ASSERT_EQ(c.Connect(), CS_SUCCEED);
  Outcome o = c.Run("select 1");
  EXPECT_EQ(o.types, (std::vector<CS_INT>{CS_ROW_RESULT, CS_CMD_DONE}));
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"1"}}));
  o = c.Run("select @@version");
  ASSERT_EQ(o.sets.size(), 1u);
  ASSERT_EQ(o.sets[0].rows.size(), 1u);
  ASSERT_TRUE(o.sets[0].rows[0][0].has_value());
  EXPECT_NE(o.sets[0].rows[0][0]->find("Adaptive Server Enterprise"), std::string::npos);
  o = c.Run(
      "create table #t (a int, b varchar(10) null) insert #t values (1, 'x') insert #t values (2, "
      "null) "
      "select a, b from #t order by a");
  EXPECT_EQ(o.end, CS_END_RESULTS);
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"1", "x"}, {"2", std::nullopt}}));
  o = c.Run("select * from no_such_table");
  EXPECT_NE(std::find(o.types.begin(), o.types.end(), CS_CMD_FAIL), o.types.end());
  ASSERT_FALSE(c.serverMsgs.empty());
  EXPECT_EQ(c.serverMsgs.back().number, 208);
}

// Money and numeric(38) reach the client digit for digit, in their wire types and as text.
TEST_F(TdsRealEngineTest, ExactNumbersKeepEveryDigitOnTheWire) {
  Client c(server->Port());
  ASSERT_EQ(c.Connect(), CS_SUCCEED);
  Outcome o = c.Run(
      "create table #x (m money, n numeric(38,2)) "
      "insert #x values (convert(money, '922337203685477.5807'), "
      "123456789012345678901234567890123456.78) "
      "insert #x values (convert(money, '-922337203685477.5808'), -12345678901234567.89) "
      "insert #x values (convert(money, '12345678901234.5678'), 12345678901234567.89) "
      "select m, n, convert(varchar(40), m, 2) from #x order by m");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(
      o.sets[0].rows,
      (std::vector<Row>{{"-922337203685477.5808", "-12345678901234567.89", "-922337203685477.5808"},
                        {"12345678901234.5678", "12345678901234567.89", "12345678901234.5678"},
                        {"922337203685477.5807", "123456789012345678901234567890123456.78",
                         "922337203685477.5807"}}));
}

TEST_F(TdsRealEngineTest, RefusesAnUnknownLogin) {
  Client c(server->Port(), "nobody", "nothing");
  EXPECT_EQ(c.Connect(), CS_FAIL);
  ASSERT_FALSE(c.serverMsgs.empty());
  EXPECT_EQ(c.serverMsgs[0].number, 4002);
}

// The program prints where it listens, serves tsql, and stops on SIGTERM.
TEST(TdsProgram, ServesTsqlAndStopsOnSigterm) {
  std::string exe = SAMPLESERVER_EXE;
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::execl(exe.c_str(), exe.c_str(), "--port", "0", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::unique_ptr<FILE, int (*)(FILE*)> lines(::fdopen(out[0], "r"), ::fclose);
  char line[256] = {};
  ASSERT_NE(std::fgets(line, sizeof line, lines.get()), nullptr);
  unsigned port = 0;
  ASSERT_EQ(std::sscanf(line, "sampleserver listening on 127.0.0.1:%u", &port), 1) << line;

  std::string cmd = "printf 'select 40 + 2\\ngo\\nexit\\n' | TDSVER=5.0 tsql -H 127.0.0.1 -p " +
                    std::to_string(port) + " -U sa -P '' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) text.append(buf, n);
  EXPECT_NE(text.find("42"), std::string::npos) << text;
  EXPECT_NE(text.find("(1 row affected)"), std::string::npos) << text;

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace tdstest
