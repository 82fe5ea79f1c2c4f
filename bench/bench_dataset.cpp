// Time to open a 100,000-row select in a server data set and go to its last record, beside a bare
// Client-Library cursor loop over the same select with the same native bindings and the same
// fetch size, both against one sample server in one run; the two take turns five times and each
// keeps its best time. Prints the ratio (the data set over the bare loop) and the data set's
// cache bytes over record size x rows.
//
//   bench_dataset [rows=100000] [fetchrows=1000]   (rows: a power of ten from 10 to 1,000,000)
#include "bench_server.h"
#include "connection/norvapplication.h"
#include "connection/norvdatabase.h"
#include "connection/openclient.h"
#include "dataset/norvsqldataset.h"
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
#include <stdexcept>
#include <vector>

namespace {

void Run(const QString& sql) {
  TNorvQuery query;
  query.SetDbName(QStringLiteral("db"));
  query.SetSql(sql);
  query.Execute();
  while (query.Fetch() == 1) {
  }
}

void Check(CS_RETCODE rc, const char* what) {
  if (rc != CS_SUCCEED) throw std::runtime_error(std::string("bare cursor: ") + what + " failed");
}

CS_RETCODE Drain(oc::Command* cmd) {
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = oc::ct_results(cmd, &type)) == CS_SUCCEED) {
  }
  return rc;
}

// The cursor loop a program would write by hand: declare, open, bind each column as described
// (text null-terminated), fetch every row, close.
// `opened`: the seconds of `timer` when the first row could be fetched.
long long BareCursor(oc::Connection* con, const QByteArray& sql, CS_INT fetchRows,
                     const QElapsedTimer& timer, double& opened) {
  oc::CommandHandle cmd;
  Check(oc::ct_cmd_alloc(con, cmd), "ct_cmd_alloc");
  Check(oc::ct_cursor(cmd.get(), CS_CURSOR_DECLARE, "bench_bare", CS_NULLTERM, sql.constData(),
                      CS_NULLTERM, CS_READ_ONLY),
        "declare");
  Check(oc::ct_cursor(cmd.get(), CS_CURSOR_ROWS, nullptr, CS_UNUSED, nullptr, CS_UNUSED, fetchRows),
        "rows");
  Check(oc::ct_cursor(cmd.get(), CS_CURSOR_OPEN, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_UNUSED),
        "open");
  Check(oc::ct_send(cmd.get()), "ct_send");
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = oc::ct_results(cmd.get(), &type)) == CS_SUCCEED && type != CS_CURSOR_RESULT) {
  }
  Check(rc, "ct_results");
  CS_INT columns = 0;
  Check(oc::ct_res_info(cmd.get(), CS_NUMDATA, &columns, CS_UNUSED, nullptr), "ct_res_info");
  struct Column {
    std::vector<char> buffer;
    CS_INT copied = 0;
    CS_SMALLINT indicator = 0;
  };
  std::vector<Column> bound(static_cast<size_t>(columns));
  for (CS_INT i = 1; i <= columns; ++i) {
    CS_DATAFMT fmt{};
    Check(oc::ct_describe(cmd.get(), i, &fmt), "ct_describe");
    Column& c = bound[size_t(i - 1)];
    const bool text = fmt.datatype == CS_CHAR_TYPE || fmt.datatype == CS_VARCHAR_TYPE;
    if (text) {
      fmt.format = CS_FMT_NULLTERM;
      fmt.maxlength += 1;
    }
    fmt.count = 1;
    c.buffer.resize(static_cast<size_t>(std::max<CS_INT>(fmt.maxlength, 8)) + 1);
    Check(oc::ct_bind(cmd.get(), i, &fmt, c.buffer.data(), &c.copied, &c.indicator), "ct_bind");
  }
  opened = timer.nsecsElapsed() / 1e9;
  long long rows = 0;
  CS_INT read = 0;
  while (oc::ct_fetch(cmd.get(), CS_UNUSED, CS_UNUSED, CS_UNUSED, &read) == CS_SUCCEED) ++rows;
  Drain(cmd.get());
  Check(
      oc::ct_cursor(cmd.get(), CS_CURSOR_CLOSE, nullptr, CS_UNUSED, nullptr, CS_UNUSED, CS_DEALLOC),
      "close");
  Check(oc::ct_send(cmd.get()), "ct_send");
  Drain(cmd.get());
  Check(oc::ct_cmd_drop(cmd), "ct_cmd_drop");
  return rows;
}

void Report(const char* what, long long rows, double seconds) {
  std::printf("%-34s %9lld rows %8.3f s %10.0f rows/s\n", what, rows, seconds,
              seconds > 0 ? rows / seconds : 0.0);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const long long rows = argc > 1 ? std::atoll(argv[1]) : 100000;
  const int fetchRows = argc > 2 ? std::atoi(argv[2]) : 1000;
  int joins = 0;
  for (long long n = rows; n > 1; n /= 10) ++joins;
  if (joins < 1 || joins > 6 || fetchRows < 1) {
    std::fprintf(stderr, "usage: %s [rows: 10 .. 1000000, a power of ten] [fetchrows]\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  try {
    BenchServer bench;

    NorvApplication app(argc, argv);
    TNorvDatabase db;
    ConnectBench(db);

    // A number, a name, a price, a date and a measure per row.
    Run(QStringLiteral("create table bench_digits (d int)"));
    for (int d = 0; d < 10; ++d) Run(QStringLiteral("insert bench_digits values (%1)").arg(d));
    QString id = QStringLiteral("d0.d"), from = QStringLiteral("bench_digits d0");
    for (int j = 1, scale = 10; j < joins; ++j, scale *= 10) {
      id += QStringLiteral(" + %1 * d%2.d").arg(scale).arg(j);
      from += QStringLiteral(", bench_digits d%1").arg(j);
    }
    Run(
        QStringLiteral("create table bench_ds (id int, name varchar(40), price money, "
                       "stamp datetime, ratio float)"));
    Run(QStringLiteral("insert bench_ds select %1, 'row number ' + convert(varchar(10), %1), "
                       "convert(money, %1) / 100, dateadd(mi, %1, 'Jan 1 2000'), "
                       "convert(float, %1) / 7 from %2")
            .arg(id, from));
    const QString select = QStringLiteral("select * from bench_ds");

    constexpr int kRounds = 5;
    QElapsedTimer timer;
    double ours = 1e9, bare = 1e9, ourOpen = 1e9, ourLast = 1e9, bareOpen = 1e9, bareFetch = 1e9;
    long long ourRows = 0, bareRows = 0;
    double cacheBytes = 0, recordBytes = 0;
    for (int round = 0; round < kRounds; ++round) {
      {
        TNorvSqlDataSet ds;
        ds.SetDbName(QStringLiteral("db"));
        ds.SetSql(select);
        ds.SetFetchRows(fetchRows);
        timer.start();
        ds.Open();
        const double opened = timer.nsecsElapsed() / 1e9;
        ds.Last();
        const double total = timer.nsecsElapsed() / 1e9;
        ours = std::min(ours, total);
        ourOpen = std::min(ourOpen, opened);
        ourLast = std::min(ourLast, total - opened);
        ourRows = ds.CachedCount();
        cacheBytes = static_cast<double>(ds.CacheBytes());
        recordBytes = static_cast<double>(ds.RecordSize()) * static_cast<double>(ourRows);
      }
      timer.restart();
      double opened = 0;
      bareRows = BareCursor(db.Handle(), select.toUtf8(), fetchRows, timer, opened);
      const double total = timer.nsecsElapsed() / 1e9;
      bare = std::min(bare, total);
      bareOpen = std::min(bareOpen, opened);
      bareFetch = std::min(bareFetch, total - opened);
    }
    if (ourRows != rows || bareRows != rows) throw std::runtime_error("row counts differ");
    Report("data set open + Last", ourRows, ours);
    Report("bare cursor loop", bareRows, bare);
    std::printf("%-34s %8.3f s open (column probe and first fetch), %8.3f s Last\n", "data set",
                ourOpen, ourLast);
    std::printf("%-34s %8.3f s open, %8.3f s fetching\n", "bare cursor loop", bareOpen, bareFetch);
    std::printf("%-34s %12.0f bytes, record size x rows %12.0f bytes\n", "data set cache",
                cacheBytes, recordBytes);
    std::printf("ratio open+last vs bare cursor: %.2f\n", ours / bare);
    std::printf("ratio cache bytes vs record size x rows: %.2f\n",
                recordBytes > 0 ? cacheBytes / recordBytes : 0.0);
    Run(QStringLiteral("drop table bench_ds drop table bench_digits"));
    db.SetConnected(false);
    bench.server->Stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_dataset: %s\n", e.what());
    return 1;
  }
  return 0;
}
