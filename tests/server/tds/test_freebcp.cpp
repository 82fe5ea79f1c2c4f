// FreeTDS's freebcp against the sample server: every sample table copied out to a character file,
// into an empty copy of itself in small batches, and out again must give the same bytes.
#include "tds/sampleserver.h"
#include "tds_ctlib.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tdstest {
namespace {

using Row = std::vector<std::optional<std::string>>;

class FreebcpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = sampleserver::SampleServer::Start({});
    name_ = ConfigureServer(server_->Port());
    dir_ = std::filesystem::temp_directory_path() / ("norv-bcp-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  static void TearDownTestSuite() {
    server_->Stop();
    server_.reset();
    std::filesystem::remove_all(dir_);
  }

  static std::string Run(const std::string& command) { return tdstest::RunCommand(command); }
  static std::string Bcp(const std::string& table, const std::string& direction,
                         const std::string& file, const std::string& extra = "") {
    return Run("freebcp " + table + " " + direction + " " + file + " -S " + name_ +
               " -U sa -P '' -c " + extra);
  }
  static std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static std::vector<Row> Sorted(Client& c, const std::string& sql) {
    Outcome o = c.Run(sql);
    if (o.sets.size() != 1) return {};
    std::vector<Row> rows = o.sets[0].rows;
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  static std::string File(const std::string& name) { return (dir_ / name).string(); }

  static inline std::unique_ptr<sampleserver::SampleServer> server_;
  static inline std::string name_;
  static inline std::filesystem::path dir_;
};

bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

TEST_F(FreebcpTest, SampleTablesSurviveARoundTripThroughCharacterFiles) {
  Client c(server_->Port());
  ASSERT_EQ(c.Connect(), CS_SUCCEED);
  const std::vector<std::string> tables = {"authors",     "titles", "publishers", "sales",
                                           "salesdetail", "stores", "discounts",  "roysched",
                                           "titleauthor", "blurbs", "au_pix"};
  for (const auto& table : tables) {
    SCOPED_TRACE(table);
    const std::string source = "pubs2.." + table;
    Outcome count = c.Run("select count(*) from " + source);
    ASSERT_EQ(count.sets.size(), 1u);
    const long expected = std::stol(count.sets[0].rows[0][0].value_or("0"));
    ASSERT_GT(expected, 0);
    const std::string copy = "pubs2.." + table + "_copy";
    std::string out = Bcp(source, "out", File(table + ".1"));
    ASSERT_TRUE(Has(out, "rows copied")) << out;
    ASSERT_EQ(c.Run("select * into " + copy + " from " + source + " where 1=0").end,
              CS_END_RESULTS);
    out = Bcp(copy, "in", File(table + ".1"), "-b 5");
    ASSERT_TRUE(Has(out, "rows copied")) << out;
    EXPECT_FALSE(Has(out, "Msg ")) << out;
    out = Bcp(copy, "out", File(table + ".2"));
    ASSERT_TRUE(Has(out, "rows copied")) << out;
    const std::string first = Read(File(table + ".1"));
    const std::string second = Read(File(table + ".2"));
    EXPECT_TRUE(first == second) << first.substr(0, 2000) << "\n---\n" << second.substr(0, 2000);
    EXPECT_TRUE(Has(out, std::to_string(expected) + " rows copied")) << out;
    EXPECT_EQ(Sorted(c, "select * from " + copy), Sorted(c, "select * from " + source));
  }
  // NULLs went back as NULLs, not as empty strings.
  Outcome o =
      c.Run("select count(*) from pubs2..titles_copy where price is null and notes is null");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"3"}}));
}

TEST_F(FreebcpTest, AHundredThousandRowsGoInInBatchesAndComeOutUnchanged) {
  Client c(server_->Port());
  ASSERT_EQ(c.Connect(), CS_SUCCEED);
  ASSERT_EQ(
      c.Run("create table big (id int not null, name varchar(30) null, code char(4) not null, "
            "n int null, amount numeric(12,2) null)")
          .end,
      CS_END_RESULTS);
  const int rows = 100000;
  {
    std::ofstream f(File("big.in"), std::ios::binary);
    for (int i = 1; i <= rows; ++i) {
      f << i << '\t';
      if (i % 10 != 0) f << "name number " << i;
      f << '\t' << "c" << i % 1000 % 10 << "  " << '\t';
      if (i % 7 != 0) f << (i * 37 % 100003) - 50000;
      f << '\t';
      if (i % 5 != 0) f << (i % 2 ? "-" : "") << i / 100 << '.' << (i % 10) << (i % 3);
      f << '\n';
    }
  }
  std::string out = Bcp("big", "in", File("big.in"), "-b 20000");
  ASSERT_TRUE(Has(out, "100000 rows copied")) << out;
  EXPECT_FALSE(Has(out, "Msg ")) << out;
  Outcome o = c.Run("select count(*), count(name), count(n), count(amount) from big");
  ASSERT_EQ(o.sets.size(), 1u);
  EXPECT_EQ(o.sets[0].rows, (std::vector<Row>{{"100000", "90000", "85715", "80000"}}));
  out = Bcp("big", "out", File("big.out"));
  ASSERT_TRUE(Has(out, "100000 rows copied")) << out;
  EXPECT_TRUE(Read(File("big.in")) == Read(File("big.out")));
}

TEST_F(FreebcpTest, ABadRowUndoesItsBatchAndEndsTheCopy) {
  Client c(server_->Port());
  ASSERT_EQ(c.Connect(), CS_SUCCEED);
  ASSERT_EQ(c.Run("create table uniq (id int not null, v varchar(10) null) "
                  "create unique index uniq_id on uniq (id)")
                .end,
            CS_END_RESULTS);
  {
    std::ofstream f(File("uniq.in"), std::ios::binary);
    // Batches of 2: (1, 2) (3, 1) (4, 5); the second repeats a key.
    f << "1\ta\n2\tb\n3\tc\n1\tdup\n4\td\n5\te\n";
  }
  std::string out = Bcp("uniq", "in", File("uniq.in"), "-b 2");
  EXPECT_TRUE(Has(out, "Msg 2601, Level 14")) << out;
  // freebcp stops at the failed batch; the batch before it stays, the failed one left nothing.
  EXPECT_TRUE(Has(out, "bcp copy in failed")) << out;
  EXPECT_EQ(Sorted(c, "select id, v from uniq"), (std::vector<Row>{{"1", "a"}, {"2", "b"}}));
}

}  // namespace
}  // namespace tdstest
