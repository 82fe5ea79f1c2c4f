// The bulk copy component beside FreeTDS's freebcp on one sample server, in one run: 1,000,000
// rows of six columns (int, varchar, char, int, numeric, datetime; some NULLs) copied from a
// character file into a table in batches of 100,000, from the table out to a file, and from that
// table into another behind a second connection. Each figure is printed as
// "ratio <what>: <value>", our time over FreeTDS's (1.00 or less: as fast). Both sides use
// 4096-byte network packets. The server runs as a child process, apart from the program measured,
// as a real server would: in-process, its threads would share our process with the component
// but not with freebcp.
//
// The table-to-table peer is freebcp out and then in, through a character file: its native
// format does not describe these columns, and FreeTDS's datacopy
// cannot run against a server that answers each SET statement of a batch with its own DONE (its
// column check reads the column count after the batch's last statement, a SET).
//
// Each comparison runs three times (the sides taking turns to go first) and compares medians:
// a single run moves by a tenth either way on a busy machine.
//
//   bench_bulk [rows=1000000 [rounds=3]]
#include "bulk/norvbulk.h"
#include "connection/norvdatabase.h"
#include "query/norvquery.h"
#include "server_process.h"

#include <QCoreApplication>

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Run(const QString& sql) {
  TNorvQuery q;
  q.SetDbName(QStringLiteral("bench"));
  q.SetSql(sql);
  if (q.Execute() != CS_SUCCEED) throw std::runtime_error("failed: " + sql.toStdString());
  while (q.Fetch() == 1) {
  }
}

// Runs freebcp and returns its wall time; throws unless it reports every row copied.
double Freebcp(const std::string& args, long long rows) {
  const std::string command = "freebcp " + args + " -S BENCH -U sa -P '' -c -A 4096 2>&1";
  const auto start = Clock::now();
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) throw std::runtime_error("cannot run freebcp");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  pipe.reset();
  const double seconds = Since(start);
  if (out.find(std::to_string(rows) + " rows copied") == std::string::npos)
    throw std::runtime_error("freebcp " + args + ": " + out);
  return seconds;
}

// Runs a bulk copy set up by `setUp` on the "bench" connection and returns its wall time; throws
// unless every row was copied.
double Ours(long long rows, const std::function<void(TNorvBulk&)>& setUp) {
  TNorvBulk bulk;
  bulk.SetDbName(QStringLiteral("bench"));
  bulk.SetBackground(false);
  setUp(bulk);
  const auto start = Clock::now();
  bulk.BulkCopy();
  const double seconds = Since(start);
  if (bulk.RowsCopied() != rows)
    throw std::runtime_error("TNorvBulk copied " + std::to_string(bulk.RowsCopied()) + " rows");
  return seconds;
}

double Ours(TBulkDirection direction, const QString& table, const std::string& file,
            long long rows) {
  return Ours(rows, [&](TNorvBulk& bulk) {
    bulk.SetDirection(direction);
    bulk.SetTableName(table);
    bulk.SetDataFile(QString::fromStdString(file));
    if (direction == bdIn) bulk.SetBatchSize(100000);
  });
}

double TableToTable(const QString& targetTable, long long rows) {
  return Ours(rows, [&](TNorvBulk& bulk) {
    bulk.SetDirection(bdOut);
    bulk.SetTableName(QStringLiteral("bench_source"));
    bulk.SetSrcTarDbName(QStringLiteral("bench2"));
    bulk.SetSrcTarTableName(targetTable);
    bulk.SetBatchSize(100000);
  });
}

// The runs of one comparison, both sides.
class Series {
 public:
  // One round: in even rounds the peer goes first, in odd ones ours.
  void Round(int round, const std::function<double()>& peer, const std::function<double()>& ours) {
    if (round % 2 == 0) {
      peer_.push_back(peer());
      ours_.push_back(ours());
    } else {
      ours_.push_back(ours());
      peer_.push_back(peer());
    }
  }
  void Print(const char* what, const char* peerName, const char* oursName, long long rows) const {
    std::printf("%s, %lld rows, seconds per run (median):\n", what, rows);
    Line(peerName, peer_);
    Line(oursName, ours_);
  }
  double Ratio() const { return Median(ours_) / Median(peer_); }

 private:
  static double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
  }
  static void Line(const char* name, const std::vector<double>& runs) {
    std::printf("  %-22s", name);
    for (double t : runs) std::printf(" %6.2f", t);
    std::printf("   (%.2f)\n", Median(runs));
  }
  std::vector<double> peer_, ours_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const long long rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (rows < 1 || rounds < 1) {
    std::fprintf(stderr, "usage: %s [rows [rounds]]\n", argv[0]);
    return 2;
  }
  const auto data =
      std::filesystem::temp_directory_path() / ("norv-bench-bulk-" + std::to_string(::getpid()));
  try {
    std::filesystem::create_directories(data / "INI");
    std::filesystem::create_directories(data / "server");
    bench::ServerProcess server(data / "server");
    // The connection finds the server through SQL.INI; freebcp through the configuration the
    // connection writes for it.
    std::ofstream(data / "INI" / "SQL.INI")
        << "[BENCH]\nquery=TCP,127.0.0.1," << server.Port() << "\n";
    ::setenv("SYBASE", data.c_str(), 1);
    const auto file = data / "rows.txt";
    {
      std::ofstream f(file, std::ios::binary);
      for (long long i = 1; i <= rows; ++i) {
        f << i << '\t';
        if (i % 10) f << "customer " << i;
        f << "\tC" << i % 1000 << '\t';
        if (i % 7) f << (i * 37 % 100003) - 50000;
        f << '\t' << i % 100000 << '.' << i % 100 / 10 << i % 10 << '\t';
        if (i % 5)
          f << "2024-0" << 1 + i % 9 << "-1" << i % 9 << " 1" << i % 10 << ":3" << i % 10
            << ":00.000";
        f << '\n';
      }
    }
    TNorvDatabase db;
    db.SetName(QStringLiteral("bench"));
    db.SetServerName(QStringLiteral("BENCH"));
    db.SetUserName(QStringLiteral("sa"));
    db.SetLoginPrompt(false);
    db.SetConProps({cpBulk_Login});
    db.SetPacketSize(4096);  // as freebcp's, given below
    db.SetConnected(true);
    if (!db.Connected()) throw std::runtime_error("cannot connect");
    const QString columns = QStringLiteral(
        "(id int not null, name varchar(30) null, code char(4) not null, n int null, "
        "amount numeric(12,2) not null, d datetime null)");
    Run(QStringLiteral("create table bench_source ") + columns);
    TNorvDatabase target;
    target.SetName(QStringLiteral("bench2"));
    target.SetServerName(QStringLiteral("BENCH"));
    target.SetUserName(QStringLiteral("sa"));
    target.SetLoginPrompt(false);
    target.SetConProps({cpBulk_Login});
    target.SetPacketSize(4096);
    target.SetConnected(true);
    if (!target.Connected()) throw std::runtime_error("cannot connect");

    // Each comparison runs `rounds` times, the two sides taking turns to go first; a side's
    // figure is its median run. Every copy-in fills an empty table of its own.
    const std::string source = file.string();
    const std::string between = (data / "between.txt").string();
    Series in, out, tt;
    for (int r = 0; r < rounds; ++r) {
      const std::string n = std::to_string(r);
      const QString peerTable = QString::fromStdString("bench_peer_" + n);
      const QString oursTable = QString::fromStdString("bench_ours_" + n);
      Run(QStringLiteral("create table ") + peerTable + QLatin1Char(' ') + columns);
      Run(QStringLiteral("create table ") + oursTable + QLatin1Char(' ') + columns);
      in.Round(
          r,
          [&] { return Freebcp(peerTable.toStdString() + " in " + source + " -b 100000", rows); },
          [&] { return Ours(bdIn, oursTable, source, rows); });
      if (r == 0) Run(QStringLiteral("insert bench_source select * from bench_peer_0"));
      Run(QStringLiteral("drop table ") + peerTable);
      Run(QStringLiteral("drop table ") + oursTable);

      out.Round(
          r, [&] { return Freebcp("bench_source out " + (data / "peer.txt").string(), rows); },
          [&] {
            return Ours(bdOut, QStringLiteral("bench_source"), (data / "ours.txt").string(), rows);
          });

      Run(QStringLiteral("create table ") + peerTable + QLatin1Char(' ') + columns);
      Run(QStringLiteral("create table ") + oursTable + QLatin1Char(' ') + columns);
      tt.Round(
          r,
          [&] {
            return Freebcp("bench_source out " + between, rows) +
                   Freebcp(peerTable.toStdString() + " in " + between + " -b 100000", rows);
          },
          [&] { return TableToTable(oursTable, rows); });
      Run(QStringLiteral("drop table ") + peerTable);
      Run(QStringLiteral("drop table ") + oursTable);
    }
    in.Print("copy in, batches of 100000", "freebcp in", "TNorvBulk in", rows);
    out.Print("copy out", "freebcp out", "TNorvBulk out", rows);
    tt.Print("table to table", "freebcp out, then in", "TNorvBulk", rows);
    std::printf("ratio copy in: %.2f\n", in.Ratio());
    std::printf("ratio copy out: %.2f\n", out.Ratio());
    std::printf("ratio table to table: %.2f\n", tt.Ratio());
    target.SetConnected(false);
    db.SetConnected(false);
    server.Stop();
    std::filesystem::remove_all(data);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    std::filesystem::remove_all(data);
    return 1;
  }
}
