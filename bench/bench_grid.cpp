// Time to list a 100,000-row select into the result grid, on the calling thread and on the
// worker, beside FreeTDS's bsqldb writing the same select to /dev/null, all against one sample
// server in one run; the three take turns five times and each keeps its best time. Prints each
// ratio (ours over bsqldb's) and the grid's memory for the listing over its texts' bytes.
//
//   bench_grid [rows=100000]   (rows: a power of ten from 10 to 1,000,000)
#include "bench_server.h"
#include "connection/norvapplication.h"
#include "connection/norvdatabase.h"
#include "controls/norvgrid.h"
#include "query/norvquery.h"
#include "tds/sampleserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

namespace {

void Run(const QString& sql) {
  TNorvQuery query;
  query.SetDbName(QStringLiteral("db"));
  query.SetSql(sql);
  query.Execute();
  while (query.Fetch() == 1) {
  }
}

void Report(const char* what, long long rows, double seconds) {
  std::printf("%-34s %9lld rows %8.3f s %10.0f rows/s\n", what, rows, seconds,
              seconds > 0 ? rows / seconds : 0.0);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  long long rows = argc > 1 ? std::atoll(argv[1]) : 100000;
  int joins = 0;
  for (long long n = rows; n > 1; n /= 10) ++joins;
  if (joins < 1 || joins > 6) {
    std::fprintf(stderr, "usage: %s [rows: 10 .. 1000000, a power of ten]\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  try {
    BenchServer bench;

    NorvApplication app(argc, argv);
    TNorvDatabase db;
    ConnectBench(db);

    // Four columns of the kinds a listing usually holds: a number, a name, a price, a date.
    Run(QStringLiteral("create table bench_digits (d int)"));
    Run(
        QStringLiteral("insert bench_digits values (0) insert bench_digits values (1) "
                       "insert bench_digits values (2) insert bench_digits values (3) "
                       "insert bench_digits values (4) insert bench_digits values (5) "
                       "insert bench_digits values (6) insert bench_digits values (7) "
                       "insert bench_digits values (8) insert bench_digits values (9)"));
    QString id = QStringLiteral("d0.d"), from = QStringLiteral("bench_digits d0");
    for (int j = 1, scale = 10; j < joins; ++j, scale *= 10) {
      id += QStringLiteral(" + %1 * d%2.d").arg(scale).arg(j);
      from += QStringLiteral(", bench_digits d%1").arg(j);
    }
    Run(QStringLiteral("select id = %1, name = 'row number ' + convert(varchar(10), %1), "
                       "price = convert(money, %1) / 100, stamp = dateadd(mi, %1, 'Jan 1 2000') "
                       "into bench_rows from %2")
            .arg(id, from));
    const QString select = QStringLiteral("select * from bench_rows");

    TNorvGrid grid;
    grid.resize(1000, 600);
    grid.show();
    grid.SetDbName(QStringLiteral("db"));
    grid.SetSql(select);

    // bsqldb reaches the server through a configuration file of its own.
    QFile conf(bench.data.filePath(QStringLiteral("freetds.conf")));
    if (!conf.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write freetds.conf");
    conf.write(QStringLiteral("[global]\n\ttds version = 5.0\n\tclient charset = UTF-8\n[BENCH]\n"
                              "\thost = 127.0.0.1\n\tport = %1\n")
                   .arg(bench.server->Port())
                   .toUtf8());
    conf.close();
    QFile script(bench.data.filePath(QStringLiteral("select.sql")));
    if (!script.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write the script");
    script.write((select + QStringLiteral("\ngo\n")).toUtf8());
    script.close();
    const QString command =
        QStringLiteral("FREETDSCONF='%1' bsqldb -S BENCH -U sa -P '' -i '%2' > /dev/null 2>&1")
            .arg(conf.fileName(), script.fileName());

    // The three ways take turns, kRounds times, and each keeps its best time: a moment's load
    // on a shared machine then falls on all of them alike and decides no ratio.
    constexpr int kRounds = 5;
    QElapsedTimer timer;
    double calling = 1e9, worker = 1e9, peer = 1e9;
    int callingRows = 0, workerRows = 0;
    double held = 0, text = 0;
    for (int round = 0; round < kRounds && peer > 0; ++round) {
      grid.SetBackground(false);
      timer.start();
      grid.Execute();
      QCoreApplication::processEvents();  // the view takes in the rows
      calling = std::min(calling, timer.nsecsElapsed() / 1e9);
      callingRows = grid.RowCount() - 4;
      // What the grid keeps for the listing, beside the bytes of the texts it shows.
      held = static_cast<double>(grid.GridModel()->MemoryBytes());
      text = static_cast<double>(grid.GridModel()->TextBytes());

      grid.SetBackground(true);
      timer.restart();
      grid.Execute();
      // Waits in the event loop as a program would; polling would take a core from the run.
      while (grid.Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      worker = std::min(worker, timer.nsecsElapsed() / 1e9);
      workerRows = grid.RowCount() - 4;

      timer.restart();
      const int status = std::system(command.toLocal8Bit().constData());
      const double seconds = timer.nsecsElapsed() / 1e9;
      if (status != 0) {
        std::printf("bsqldb failed (status %d): is freetds-bin installed?\n", status);
        peer = 0;
      } else {
        peer = std::min(peer, seconds);
      }
    }
    Report("grid, calling thread", callingRows, calling);
    Report("grid, worker thread", workerRows, worker);
    std::printf("%-34s %9.0f bytes held, %9.0f bytes of text (UTF-8)\n", "grid memory", held, text);
    if (peer > 0) {
      Report("bsqldb > /dev/null", rows, peer);
      std::printf("ratio grid calling thread / bsqldb: %.2f\n", calling / peer);
      std::printf("ratio grid worker / bsqldb: %.2f\n", worker / peer);
    }
    std::printf("ratio grid memory / text bytes: %.2f\n", text > 0 ? held / text : 0.0);
    Run(QStringLiteral("drop table bench_rows drop table bench_digits"));
    db.SetConnected(false);
    bench.server->Stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_grid: %s\n", e.what());
    return 1;
  }
  return 0;
}
