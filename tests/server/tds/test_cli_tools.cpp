// FreeTDS's own command-line clients against the sample server with its real engine: they are
// independent peers, so what they print is what any TDS 5.0 client gets.
#include "tds/sampleserver.h"
#include "tds_ctlib.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

// The demonstration's default script, followed by a statement on a table that does not exist.
const char* const kScript =
    "select db=db_name()\n"
    "go\n"
    "\n"
    "create table #mytable(f1 int, f2 varchar(10))\n"
    "insert #mytable(f1, f2)\n"
    "  values (1,'One')\n"
    "insert #mytable(f1, f2)\n"
    "  values (2,'Two')\n"
    "select *\n"
    "from #mytable\n"
    "go\n"
    "\n"
    "declare @i int\n"
    "select @i = 99\n"
    "select i = @i\n"
    "go\n"
    "\n"
    "select name,id,type\n"
    "from sysobjects\n"
    "order by name\n"
    "go\n"
    "select * from no_such_table\n"
    "go\n";

class CliTools : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = sampleserver::SampleServer::Start({});
    name_ = tdstest::ConfigureServer(server_->Port());
  }
  static void TearDownTestSuite() {
    server_->Stop();
    server_.reset();
  }

  static std::string Run(const std::string& command) { return tdstest::RunCommand(command); }

  static std::string ScriptFile() {
    const auto path = std::filesystem::temp_directory_path() /
                      ("norv-script-" + std::to_string(::getpid()) + ".sql");
    std::ofstream(path) << kScript;
    return path.string();
  }

  static inline std::unique_ptr<sampleserver::SampleServer> server_;
  static inline std::string name_;
};

bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

TEST_F(CliTools, TsqlRunsTheDefaultScriptAndReportsErrorsWithSybaseNumbers) {
  const std::string script = ScriptFile();
  const std::string out =
      Run("(cat " + script + "; echo exit) | tsql -S " + name_ + " -U sa -P ''");
  std::filesystem::remove(script);
  EXPECT_TRUE(Has(out, "db\nmaster\n(1 row affected)")) << out;
  EXPECT_TRUE(Has(out, "f1\tf2\n1\tOne\n2\tTwo\n(2 rows affected)")) << out;
  EXPECT_TRUE(Has(out, "i\n99\n(1 row affected)")) << out;
  EXPECT_TRUE(Has(out, "sysobjects\t1\tS")) << out;
  EXPECT_TRUE(Has(out, "Msg 208 (severity 16, state 1) from SAMPLE Line 1")) << out;
  EXPECT_TRUE(Has(out, "no_such_table not found.")) << out;
}

TEST_F(CliTools, BsqldbRunsAScriptFile) {
  const std::string script = ScriptFile();
  const std::string out = Run("bsqldb -S " + name_ + " -U sa -P '' -i " + script);
  std::filesystem::remove(script);
  EXPECT_TRUE(Has(out, "master")) << out;
  EXPECT_TRUE(Has(out, "          1  One")) << out;
  EXPECT_TRUE(Has(out, "          2  Two")) << out;
  EXPECT_TRUE(Has(out, "         99")) << out;
  EXPECT_TRUE(Has(out, "Msg 208, Level 16, State 1")) << out;
  EXPECT_TRUE(Has(out, "Server 'SAMPLE', Line 1")) << out;
}

// The tools quote the database they are asked for in square brackets ("use [pubs2]").
TEST_F(CliTools, ToolsStartInTheDatabaseTheyAreGiven) {
  const std::string script = ScriptFile();
  std::ofstream(script) << "select db_name(), count(*) from authors\ngo\n";
  const std::string file = script + ".bcp";
  const struct {
    std::string command, expected;
  } cases[] = {
      {"(cat " + script + "; echo exit) | tsql -S " + name_ + " -U sa -P '' -D pubs2", "pubs2\t25"},
      {"bsqldb -S " + name_ + " -U sa -P '' -D pubs2 -i " + script, "pubs2"},
      {"freebcp authors out " + file + " -c -D pubs2 -S " + name_ + " -U sa -P '' && cat " + file,
       "Abernathy\tClara"},
  };
  for (const auto& c : cases) {
    const std::string out = Run(c.command);
    EXPECT_TRUE(Has(out, c.expected)) << c.command << "\n" << out;
    EXPECT_FALSE(Has(out, "Msg 102")) << out;
  }
  std::filesystem::remove(script);
  std::filesystem::remove(file);
}

}  // namespace
