// The user flows without widgets, each through a proxy that meets it with a delay, a stall, a cut
// in either direction or a reset in its middle.
#include "bulk/norvbulk.h"
#include "catalog/norvobjinfo.h"
#include "dataset/norvsqldataset.h"
#include "dataset/norvtable.h"

#include "reliability_fixture.h"

#include <gtest/gtest.h>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace norvtest {
namespace {

constexpr int kBulkRows = 200;
constexpr int kBatch = 20;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The login meets the fault inside its own exchange: the connection is refused with a reason, is
// not left half open, and the next login through a healthy wire succeeds.
TEST_P(WireFaults, ConnectAndLogin) {
  auto db = Connect(QStringLiteral("login"), QString::fromLatin1(kProxyServer), false);
  Arm(100, 100);
  const Outcome out = Run([&] { db->SetConnected(true); });
  ExpectEnded(out, "login");
  EXPECT_EQ(db->Connected(), !Fails());
  Reconnect(*db);
}

// A server whose host never completes the TCP handshake (its accept queue is full, so the
// connect's SYNs go unanswered): the login still ends within the time-out.
TEST(WireFaultsLogin, ServerThatNeverAnswersTheConnect) {
  const auto& info = SampleServer();
  Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener.get(), 0), 0);
  ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len), 0);
  std::vector<Fd> queued;  // fill the accept queue; nothing is ever accepted
  for (int i = 0; i < 2; ++i) {
    queued.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    ::connect(queued.back().get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  }
  QFile ini(info.sybaseDir + QStringLiteral("/INI/SQL.INI"));
  ASSERT_TRUE(ini.open(QIODevice::Append));
  ini.write(
      QStringLiteral("\n[SILENT]\nquery=TCP,127.0.0.1,%1\n").arg(ntohs(addr.sin_port)).toUtf8());
  ini.close();
  Watchdog watchdog(30);
  norv::ScopedRecordingPresenter shown;
  auto db = std::make_unique<TNorvDatabase>();
  db->SetName(QStringLiteral("silent"));
  db->SetServerName(QStringLiteral("SILENT"));
  db->SetUserName(QStringLiteral("sa"));
  db->SetLoginPrompt(false);
  db->SetTimeOut(kTimeOut);
  QElapsedTimer timer;
  timer.start();
  EXPECT_THROW(db->SetConnected(true), Exception);
  EXPECT_LT(timer.elapsed(), kEndsWithinMs);
  EXPECT_FALSE(db->Connected());
}

// A data set reading a cursor two rows a fetch: the rows it holds are the table's first rows,
// never a result passed off as complete.
TEST_P(WireFaults, DataSetScrollsOverACursor) {
  const QString sql = QStringLiteral("SELECT au_id FROM pubs2..authors ORDER BY au_id");
  TNorvSqlDataSet ds;
  ds.SetName(QStringLiteral("Scroll"));
  ds.SetDbName(QStringLiteral("wire"));
  ds.SetSql(sql);
  ds.SetFetchRows(2);
  ds.Open();
  ds.Next();
  Arm(40, 150);
  const Outcome out = Run([&] {
    while (!ds.Eof()) ds.Next();
  });
  ExpectEnded(out, "lost");
  const int total = Scalar(QStringLiteral("select count(*) from pubs2..authors")).toInt();
  EXPECT_EQ(ds.RecordCount() == total, !Fails());
  QStringList held;
  for (ds.First(); !ds.Eof(); ds.Next())
    held << ds.FieldByName(QStringLiteral("au_id"))->AsString();
  EXPECT_EQ(held.size(), ds.RecordCount());

  ds.Close();
  Reconnect(*db_);
  ds.Open();
  QStringList all;
  for (; !ds.Eof(); ds.Next()) all << ds.FieldByName(QStringLiteral("au_id"))->AsString();
  EXPECT_EQ(all.size(), total);
  EXPECT_EQ(all.mid(0, held.size()), held);
}

// Three posts, each in its own transaction: every post the table reported done is on the server,
// the others are wholly there or wholly not, no transaction is left open, and the table posts
// the rest once reconnected.
TEST_P(WireFaults, TablePostsInsertUpdateAndDelete) {
  RunClean(
      {QStringLiteral("if object_id('pubs2..wire_post') is not null drop table pubs2..wire_post"),
       QStringLiteral("create table pubs2..wire_post (k int not null, v varchar(20) not null)"),
       QStringLiteral("create unique index k_ix on pubs2..wire_post (k)"),
       QStringLiteral("insert pubs2..wire_post values (1, 'one')"),
       QStringLiteral("insert pubs2..wire_post values (2, 'two')")});
  TNorvTable t;
  t.SetName(QStringLiteral("Post"));
  t.SetDbName(QStringLiteral("wire"));
  t.SetTableName(QStringLiteral("wire_post"));
  t.SetIndexName(QStringLiteral("k_ix"));
  t.Open();
  const auto go = [&t](int k) {
    for (t.First(); !t.Eof(); t.Next())
      if (t.FieldByName(QStringLiteral("k"))->AsInteger() == k) return;
    FAIL() << "no row " << k;
  };
  struct Step {
    std::function<void()> post;
    const char* done;  // counts 1 once the post is on the server
  };
  const std::vector<Step> steps = {
      {[&] {
         t.Insert();
         t.FieldByName(QStringLiteral("k"))->SetAsInteger(3);
         t.FieldByName(QStringLiteral("v"))->SetAsString(QStringLiteral("three"));
         t.Post();
       },
       "select count(*) from pubs2..wire_post where k = 3 and v = 'three'"},
      {[&] {
         go(1);
         t.Edit();
         t.FieldByName(QStringLiteral("v"))->SetAsString(QStringLiteral("uno"));
         t.Post();
       },
       "select count(*) from pubs2..wire_post where k = 1 and v = 'uno'"},
      {[&] {
         go(2);
         t.Delete();
       },
       "select 1 - count(*) from pubs2..wire_post where k = 2"},
  };
  Arm(600, 400);
  size_t reported = 0;
  const Outcome out = Run([&] {
    for (const Step& step : steps) {
      step.post();
      ++reported;
    }
  });
  ExpectEnded(out, "lost");
  EXPECT_EQ(reported == steps.size(), !Fails());
  std::vector<bool> done;
  for (size_t i = 0; i < steps.size(); ++i) {
    done.push_back(Scalar(QString::fromLatin1(steps[i].done)) == QStringLiteral("1"));
    if (i < reported) {
      EXPECT_TRUE(done[i]) << "post " << i << " reported done is not there";
    }
  }
  EXPECT_EQ(Scalar(QStringLiteral("select count(*) from pubs2..wire_post where k between 1 and 3"))
                .toInt(),
            2 + (done[0] ? 1 : 0) - (done[2] ? 1 : 0));

  if (t.State() != dsBrowse) t.Cancel();
  t.Close();
  Reconnect(*db_);
  t.Open();
  for (size_t i = 0; i < steps.size(); ++i)
    if (!done[i]) steps[i].post();
  for (const Step& step : steps)
    EXPECT_EQ(Scalar(QString::fromLatin1(step.done)), QStringLiteral("1"));
}

// A bulk copy of a file into a table, on its worker, in batches of 20 and a last one of 10: the
// table keeps exactly the batches the copy reported committed (the last one only when the copy
// reports success). A fault sent toward the server meets the last batch, one in the answers meets
// the middle of the copy.
TEST_P(WireFaults, BulkCopiesAFileIn) {
  constexpr int kLines = kBulkRows + kBatch / 2;
  RunClean(
      {QStringLiteral("if object_id('pubs2..wire_bulk') is not null drop table pubs2..wire_bulk"),
       QStringLiteral("create table pubs2..wire_bulk (k int not null, v varchar(30) not null)")});
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("in.txt"));
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    for (int k = 1; k <= kLines; ++k)
      f.write(QStringLiteral("%1\trow number %1\r\n").arg(k).toLatin1());
  }
  TNorvBulk bulk;
  bulk.SetName(QStringLiteral("BulkIn"));
  bulk.SetDbName(QStringLiteral("wire"));
  bulk.SetDirection(bdIn);
  bulk.SetTableName(QStringLiteral("pubs2..wire_bulk"));
  bulk.SetDataFile(file);
  bulk.SetBatchSize(kBatch);
  int batches = 0;
  bulk.OnBatch = [&](QObject*) { ++batches; };
  Arm(7700, 1100);
  const Outcome out = Run([&] {
    bulk.BulkCopy();
    QDeadlineTimer deadline(kEndsWithinMs);
    while ((bulk.Running() || bulk.Worker()) && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  });
  ExpectEnded(out, "lost");
  const int rows = Scalar(QStringLiteral("select count(*) from pubs2..wire_bulk")).toInt();
  if (Fails())
    ExpectBatches(rows, batches);
  else
    EXPECT_EQ(rows, kLines);
  EXPECT_EQ(Scalar(QStringLiteral("select count(*) from pubs2..wire_bulk where v = 'row number ' + "
                                  "convert(varchar, k) and k <= %1")
                       .arg(rows)),
            QString::number(rows));

  Reconnect(*db_);
  RunClean({QStringLiteral("truncate table pubs2..wire_bulk")});
  bulk.SetBackground(false);
  bulk.BulkCopy();
  EXPECT_EQ(Scalar(QStringLiteral("select count(*) from pubs2..wire_bulk")).toInt(), kLines);
}

// A bulk copy of a table out to a file: the file holds whole rows of the table only, and the copy
// writes all of them once reconnected.
TEST_P(WireFaults, BulkCopiesATableOut) {
  RunClean(
      {QStringLiteral("if object_id('pubs2..wire_out') is not null drop table pubs2..wire_out"),
       QStringLiteral("create table pubs2..wire_out (k int not null, v varchar(30) not null)")});
  QStringList inserts;
  for (int k = 1; k <= kBulkRows; ++k)
    inserts << QStringLiteral("insert pubs2..wire_out values (%1, 'row number %1')").arg(k);
  RunClean({inserts.join(QLatin1Char('\n'))});
  QTemporaryDir dir;
  TNorvBulk bulk;
  bulk.SetName(QStringLiteral("BulkOut"));
  bulk.SetDbName(QStringLiteral("wire"));
  bulk.SetBackground(false);
  bulk.SetDirection(bdOut);
  bulk.SetTableName(QStringLiteral("pubs2..wire_out"));
  bulk.SetDataFile(dir.filePath(QStringLiteral("out.txt")));
  const auto lines = [&] {  // none when the copy failed before it made the file
    QFile f(bulk.DataFile());
    return f.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"))
               : QStringList{QString()};
  };
  // Sent toward the server, the fault meets the copy's preparation; in the answers, the rows.
  Arm(300, 2500);
  const Outcome out = Run([&] { bulk.BulkCopy(); });
  ExpectEnded(out, "lost");
  QStringList written = lines();
  EXPECT_EQ(written.takeLast(), QString()) << "the file ends in part of a row";
  EXPECT_EQ(written.size() == kBulkRows, !Fails());
  for (const QString& line : written) {
    const QStringList fields = line.split(QLatin1Char('\t'));
    ASSERT_EQ(fields.size(), 2) << line.toStdString();
    EXPECT_EQ(fields[1], QStringLiteral("row number ") + fields[0]);
  }

  Reconnect(*db_);
  bulk.BulkCopy();
  EXPECT_EQ(lines().size(), kBulkRows + 1);
}

// A bulk copy between two tables, each behind its own connection through the wire, in batches
// of 20: the target keeps exactly the batches the copy reported committed.
TEST_P(WireFaults, BulkCopiesTableToTable) {
  QStringList setup = {
      QStringLiteral("if object_id('pubs2..wire_src') is not null drop table pubs2..wire_src"),
      QStringLiteral("create table pubs2..wire_src (k int not null, v varchar(30) not null)"),
      QStringLiteral("if object_id('pubs2..wire_dst') is not null drop table pubs2..wire_dst"),
      QStringLiteral("create table pubs2..wire_dst (k int not null, v varchar(30) not null)")};
  QStringList inserts;
  for (int k = 1; k <= kBulkRows; ++k)
    inserts << QStringLiteral("insert pubs2..wire_src values (%1, 'row number %1')").arg(k);
  RunClean({setup[0], setup[1], setup[2], setup[3], inserts.join(QLatin1Char('\n'))});
  auto source = Connect(QStringLiteral("wire_src"), QString::fromLatin1(kProxyServer));
  TNorvBulk bulk;
  bulk.SetName(QStringLiteral("BulkT2T"));
  bulk.SetDbName(QStringLiteral("wire"));
  bulk.SetBackground(false);
  bulk.SetDirection(bdIn);
  bulk.SetTableName(QStringLiteral("pubs2..wire_dst"));
  bulk.SetSrcTarDbName(QStringLiteral("wire_src"));
  bulk.SetSrcTarTableName(QStringLiteral("pubs2..wire_src"));
  bulk.SetBatchSize(kBatch);
  int batches = 0;
  bulk.OnBatch = [&](QObject*) { ++batches; };
  Arm(2700, 5640);
  const Outcome out = Run([&] { bulk.BulkCopy(); });
  ExpectEnded(out, "lost");
  ExpectBatches(Scalar(QStringLiteral("select count(*) from pubs2..wire_dst")).toInt(), batches);

  Reconnect(*db_);
  Reconnect(*source);
  RunClean({QStringLiteral("truncate table pubs2..wire_dst")});
  bulk.BulkCopy();
  EXPECT_EQ(Scalar(QStringLiteral("select count(*) from pubs2..wire_dst")).toInt(), kBulkRows);
}

// A catalog call: it fails with the lost connection rather than answering with a partial list,
// and answers in full once reconnected.
TEST_P(WireFaults, CatalogListsObjects) {
  TNorvObjInfo info;
  info.SetName(QStringLiteral("Info"));
  info.SetDbName(QStringLiteral("wire"));
  Arm(100, 200);
  QStringList names;
  const Outcome out = Run([&] { names = info.GetObjectNames(QStringLiteral("U")); });
  ExpectEnded(out, "lost");
  const int tables =
      Scalar(QStringLiteral("select count(*) from pubs2..sysobjects where type = 'U'")).toInt();
  if (!Fails()) {
    EXPECT_EQ(names.size(), tables);
  }

  Reconnect(*db_);
  EXPECT_EQ(info.GetObjectNames(QStringLiteral("U")).size(), tables);
}

INSTANTIATE_TEST_SUITE_P(Faults, WireFaults,
                         ::testing::Values(FaultClass::Delay, FaultClass::Stall,
                                           FaultClass::CutToServer, FaultClass::CutToClient,
                                           FaultClass::Reset),
                         FaultName);

}  // namespace
}  // namespace norvtest
