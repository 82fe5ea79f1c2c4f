// Time for 1,000 single-row posts through the table data set, beside the same sequence made with
// bare Client-Library calls (BEGIN TRAN, prepare, execute with parameters, deallocate, COMMIT
// TRAN, each row its own transaction), over one connection to one sample server in one run. The
// ways take turns three times and each keeps its best time. Prints the ratio (ours over the bare
// calls'), once for the posts alone and once with the duplicate check each edit makes first.
//
//   bench_table [posts=1000]
#include "bench_server.h"
#include "connection/norvdatabase.h"
#include "connection/openclient.h"
#include "dataset/norvtable.h"
#include "query/norvquery.h"
#include "tds/sampleserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>

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
  if (rc != CS_SUCCEED) throw std::runtime_error(what);
}

// Sends the command and reads every result, as a program that only needs it done.
void SendAndDrain(oc::Command* cmd) {
  Check(oc::ct_send(cmd), "ct_send");
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = oc::ct_results(cmd, &type)) == CS_SUCCEED) {
    if (type == CS_CMD_FAIL) throw std::runtime_error("the server refused a command");
    if (type == CS_ROW_RESULT) {
      CS_INT rows = 0;
      while (oc::ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows) == CS_SUCCEED) {
      }
    }
  }
  if (rc != CS_END_RESULTS) throw std::runtime_error("ct_results");
}

void Language(oc::Connection* con, const char* text) {
  oc::CommandHandle cmd;
  Check(oc::ct_cmd_alloc(con, cmd), "ct_cmd_alloc");
  Check(oc::ct_command(cmd.get(), CS_LANG_CMD, text, CS_NULLTERM, CS_UNUSED), "ct_command");
  SendAndDrain(cmd.get());
}

void Param(oc::Command* cmd, CS_INT type, void* data, CS_INT length) {
  CS_DATAFMT fmt{};
  fmt.datatype = type;
  fmt.maxlength = length;
  fmt.status = CS_INPUTVALUE;
  fmt.count = 1;
  Check(oc::ct_param(cmd, &fmt, data, length, 0), "ct_param");
}

// One post as the table makes it: v of row k goes from `from` to `to`.
void BarePost(oc::Connection* con, CS_INT k, CS_INT from, CS_INT to) {
  Language(con, "BEGIN TRAN");
  oc::CommandHandle prep;
  Check(oc::ct_cmd_alloc(con, prep), "ct_cmd_alloc");
  Check(oc::ct_dynamic(prep.get(), CS_PREPARE, "PrepId", CS_NULLTERM,
                       "UPDATE pubs2..bench_posts SET v=? WHERE 1=1 AND k=? AND v=?", CS_NULLTERM),
        "ct_dynamic(CS_PREPARE)");
  SendAndDrain(prep.get());
  {
    oc::CommandHandle exec;
    Check(oc::ct_cmd_alloc(con, exec), "ct_cmd_alloc");
    Check(oc::ct_dynamic(exec.get(), CS_EXECUTE, "PrepId", CS_NULLTERM, nullptr, CS_UNUSED),
          "ct_dynamic(CS_EXECUTE)");
    Param(exec.get(), CS_INT_TYPE, &to, 4);
    Param(exec.get(), CS_INT_TYPE, &k, 4);
    Param(exec.get(), CS_INT_TYPE, &from, 4);
    SendAndDrain(exec.get());
  }
  Check(oc::ct_dynamic(prep.get(), CS_DEALLOC, "PrepId", CS_NULLTERM, nullptr, CS_UNUSED),
        "ct_dynamic(CS_DEALLOC)");
  SendAndDrain(prep.get());
  Language(con, "COMMIT TRAN");
}

}  // namespace

int main(int argc, char** argv) {
  const int posts = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (posts < 1) {
    std::fprintf(stderr, "usage: %s [posts >= 1]\n", argv[0]);
    return 2;
  }
  try {
    BenchServer bench;

    QCoreApplication app(argc, argv);
    QObject owner;
    TNorvDatabase db;
    ConnectBench(db);
    db.SetDBName(QStringLiteral("pubs2"));

    Run(QStringLiteral("create table pubs2..bench_posts (k int not null, v int not null)"));
    Run(QStringLiteral("create unique index bench_k on pubs2..bench_posts (k)"));
    for (int k = 0; k < posts; k += 100) {
      QString batch;
      for (int i = k; i < std::min(posts, k + 100); ++i)
        batch += QStringLiteral("insert pubs2..bench_posts values (%1, 0) ").arg(i);
      Run(batch);
    }

    constexpr int kRounds = 3;
    QElapsedTimer timer;
    double table = 1e9, checked = 1e9, bare = 1e9;
    int value = 0;  // v of every row before a pass
    for (int round = 0; round < kRounds; ++round) {
      for (bool checkDups : {false, true}) {
        TNorvTable t(&owner);
        t.SetName(QStringLiteral("Bench"));
        t.SetDbName(QStringLiteral("db"));
        t.SetTableName(QStringLiteral("bench_posts"));
        t.SetCheckDups(checkDups);
        t.SetFetchRows(100);
        t.Open();
        TField* v = t.FieldByName(QStringLiteral("v"));
        timer.start();
        for (t.First(); !t.Eof(); t.Next()) {
          t.Edit();
          v->SetAsInteger(value + 1);
          t.Post();
        }
        const double seconds = timer.nsecsElapsed() / 1e9;
        (checkDups ? checked : table) = std::min(checkDups ? checked : table, seconds);
        ++value;
      }
      timer.restart();
      for (int k = 0; k < posts; ++k) BarePost(db.Handle(), k, value, value + 1);
      bare = std::min(bare, timer.nsecsElapsed() / 1e9);
      ++value;
    }
    TNorvQuery q;
    q.SetDbName(QStringLiteral("db"));
    q.SetSql(QStringLiteral("select count(*) from pubs2..bench_posts where v = %1").arg(value));
    q.Execute();
    const int done = q.Fetch() == 1 ? q.FieldValue(1).trimmed().toInt() : -1;
    while (q.Fetch() == 1) {
    }
    if (done != posts) throw std::runtime_error("not every post reached the server");

    auto report = [posts](const char* what, double seconds) {
      std::printf("%-42s %6d posts %8.3f s %9.0f posts/s\n", what, posts, seconds,
                  seconds > 0 ? posts / seconds : 0.0);
    };
    report("table posts", table);
    report("table edits with duplicate check + posts", checked);
    report("bare ct-lib", bare);
    std::printf("ratio table posts vs bare ct-lib: %.2f\n", table / bare);
    std::printf("ratio table edit with duplicate check and post vs bare ct-lib: %.2f\n",
                checked / bare);
    Run(QStringLiteral("drop table pubs2..bench_posts"));
    db.SetConnected(false);
    bench.server->Stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_table: %s\n", e.what());
    return 1;
  }
  return 0;
}
