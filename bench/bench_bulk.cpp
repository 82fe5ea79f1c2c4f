// The bulk copy component beside FreeTDS's freebcp on one sample server, in one run: 1,000,000
// rows of six columns (int, varchar, char, int, numeric, datetime; some NULLs) copied from a
// character file into a table in batches of 100,000, from the table out to a file, and from that
// table into another behind a second connection. Each figure is printed as
// "ratio <what>: <value>", our time over FreeTDS's (1.00 or less: as fast). Both sides use
// 4096-byte network packets.
//
// The table-to-table peer is freebcp out and then in, through a character file: its native
// format does not describe these columns, and FreeTDS's datacopy
// cannot run against a server that answers each SET statement of a batch with its own DONE (its
// column check reads the column count after the batch's last statement, a SET).
//
//   bench_bulk [rows=1000000]
#include "bulk/norvbulk.h"
#include "connection/norvdatabase.h"
#include "query/norvquery.h"
#include "tds/sampleserver.h"

#include <QCoreApplication>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

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

double Ours(TBulkDirection direction, const char* table, const std::string& file, long long rows) {
  TNorvBulk bulk;
  bulk.SetDbName(QStringLiteral("bench"));
  bulk.SetBackground(false);
  bulk.SetDirection(direction);
  bulk.SetTableName(QString::fromLatin1(table));
  bulk.SetDataFile(QString::fromStdString(file));
  if (direction == bdIn) bulk.SetBatchSize(100000);
  const auto start = Clock::now();
  bulk.BulkCopy();
  const double seconds = Since(start);
  if (bulk.RowsCopied() != rows)
    throw std::runtime_error("TNorvBulk copied " + std::to_string(bulk.RowsCopied()) + " rows");
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const long long rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
  if (rows < 1) {
    std::fprintf(stderr, "usage: %s [rows]\n", argv[0]);
    return 2;
  }
  const auto data =
      std::filesystem::temp_directory_path() / ("norv-bench-bulk-" + std::to_string(::getpid()));
  try {
    std::filesystem::create_directories(data / "INI");
    sampleserver::ServerOptions options;
    options.dataDir = data.string();
    auto server = sampleserver::SampleServer::Start(options);
    // The connection finds the server through SQL.INI; freebcp through the configuration the
    // connection writes for it.
    std::ofstream(data / "INI" / "SQL.INI")
        << "[BENCH]\nquery=TCP," << server->Host() << "," << server->Port() << "\n";
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
    Run(QStringLiteral("create table bench_peer ") + columns);
    Run(QStringLiteral("create table bench_ours ") + columns);

    const double peerIn = Freebcp("bench_peer in " + file.string() + " -b 100000", rows);
    const double oursIn = Ours(bdIn, "bench_ours", file.string(), rows);
    std::printf("freebcp in, batches of 100000:   %lld rows in %.2f s\n", rows, peerIn);
    std::printf("TNorvBulk in, batches of 100000: %lld rows in %.2f s\n", rows, oursIn);
    const double peerOut = Freebcp("bench_peer out " + (data / "peer.txt").string(), rows);
    const double oursOut = Ours(bdOut, "bench_peer", (data / "ours.txt").string(), rows);
    std::printf("freebcp out:                     %lld rows in %.2f s\n", rows, peerOut);
    std::printf("TNorvBulk out:                   %lld rows in %.2f s\n", rows, oursOut);

    TNorvDatabase target;
    target.SetName(QStringLiteral("bench2"));
    target.SetServerName(QStringLiteral("BENCH"));
    target.SetUserName(QStringLiteral("sa"));
    target.SetLoginPrompt(false);
    target.SetConProps({cpBulk_Login});
    target.SetPacketSize(4096);
    target.SetConnected(true);
    if (!target.Connected()) throw std::runtime_error("cannot connect");
    Run(QStringLiteral("create table bench_tt_peer ") + columns);
    Run(QStringLiteral("create table bench_tt_ours ") + columns);
    const std::string between = (data / "between.txt").string();
    const double peerTt = Freebcp("bench_peer out " + between, rows) +
                          Freebcp("bench_tt_peer in " + between + " -b 100000", rows);
    TNorvBulk tt;
    tt.SetDbName(QStringLiteral("bench"));
    tt.SetBackground(false);
    tt.SetDirection(bdOut);
    tt.SetTableName(QStringLiteral("bench_peer"));
    tt.SetSrcTarDbName(QStringLiteral("bench2"));
    tt.SetSrcTarTableName(QStringLiteral("bench_tt_ours"));
    tt.SetBatchSize(100000);
    const auto start = Clock::now();
    tt.BulkCopy();
    const double oursTt = Since(start);
    if (tt.RowsCopied() != rows)
      throw std::runtime_error("TNorvBulk copied " + std::to_string(tt.RowsCopied()) + " rows");
    std::printf("freebcp out, then in:            %lld rows in %.2f s\n", rows, peerTt);
    std::printf("TNorvBulk table to table:        %lld rows in %.2f s\n", rows, oursTt);
    std::printf("ratio copy in: %.2f\n", oursIn / peerIn);
    std::printf("ratio copy out: %.2f\n", oursOut / peerOut);
    std::printf("ratio table to table: %.2f\n", oursTt / peerTt);
    target.SetConnected(false);
    db.SetConnected(false);
    server->Stop();
    std::filesystem::remove_all(data);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    std::filesystem::remove_all(data);
    return 1;
  }
}
