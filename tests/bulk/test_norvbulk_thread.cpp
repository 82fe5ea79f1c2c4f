// The bulk copy worker and table-to-table copies against the sample server: events from the
// worker on the main thread, stop requests in each direction, a second copy while one runs, the
// component destroyed mid-copy, every pubs2 table copied table to table, and a server lost
// mid-copy.
#include "bulk_fixture.h"
#include "recording_presenter.h"

#include <QThread>

namespace norvtest {
namespace {

constexpr int kBigRows = 50000;

class BulkThread : public BulkTest {
 protected:
  static void SetUpTestSuite() {
    BulkTest::SetUpTestSuite();
    // The source/target side of a table-to-table copy goes through a connection of its own.
    for (auto [db, name, bulkLogin] :
         {std::tuple{&db2_, "bulkdb2", true}, std::tuple{&db3_, "bulknobulk", false}}) {
      *db = new TNorvDatabase;
      (*db)->SetName(QLatin1String(name));
      (*db)->SetServerName(SampleServer().serverName);
      (*db)->SetUserName(QStringLiteral("sa"));
      (*db)->SetLoginPrompt(false);
      if (bulkLogin) (*db)->SetConProps({cpBulk_Login});
      (*db)->SetConnected(true);
    }
  }
  static void TearDownTestSuite() {
    delete db2_;
    delete db3_;
    db2_ = db3_ = nullptr;
    BulkTest::TearDownTestSuite();
  }

  // pubs2..blk_big with kBigRows rows, and the same rows in big.txt.
  void Big() {
    std::string text;
    for (int i = 1; i <= kBigRows; ++i)
      text += std::to_string(i) + "\tvalue " + std::to_string(i) + "\r\n";
    Write(QStringLiteral("big.txt"), text);
    Run({"if object_id('pubs2..blk_big') is not null drop table pubs2..blk_big",
         "create table pubs2..blk_big (id int not null, s varchar(30) null)"});
    Bulk(bdIn, QStringLiteral("pubs2..blk_big"), QStringLiteral("big.txt"))->BulkCopy();
  }

  // A table-to-table copy: `table` on bulkdb, `srcTarTable` on bulkdb2.
  std::unique_ptr<TNorvBulk> TableCopy(TBulkDirection direction, const QString& table,
                                       const QString& srcTarTable) {
    auto bulk = Bulk(direction, table, QString());
    bulk->SetDataFile(QString());
    bulk->SetSrcTarDbName(QStringLiteral("bulkdb2"));
    bulk->SetSrcTarTableName(srcTarTable);
    return bulk;
  }

  static long Count(const QString& table) {
    const Rows rows = Query(QStringLiteral("select count(*) from ") + table);
    return rows.empty() ? -1 : std::stol(rows[0][0]);
  }

  static inline TNorvDatabase* db2_ = nullptr;
  static inline TNorvDatabase* db3_ = nullptr;
};

enum class Way { FileIn, FileOut, TableIn, TableOut };

TEST_F(BulkThread, WorkerEventsArriveInOrderOnTheMainThreadFromTheWorker) {
  Run({"if object_id('pubs2..blk_t') is not null drop table pubs2..blk_t",
       "create table pubs2..blk_t (a int not null, b varchar(10) null)",
       "insert pubs2..blk_t values (1, 'x')", "insert pubs2..blk_t values (2, null)",
       "insert pubs2..blk_t values (3, 'z')"});
  Write(QStringLiteral("t.txt"), "1\tx\r\n2\t\r\n3\tz\r\n");
  const std::string rows = "BeforeRow AfterRow BeforeRow OnBatch AfterRow BeforeRow AfterRow ";
  struct Case {
    Way way;
    std::string expected;
  };
  const Case cases[] = {
      {Way::FileIn, "BeforeCopy " + rows + "AfterCopy "},
      {Way::FileOut,
       "BeforeCopy BeforeRow AfterRow BeforeRow AfterRow BeforeRow AfterRow "
       "AfterCopy "},
      {Way::TableIn, "BeforeCopy " + rows + "AfterCopy "},
      {Way::TableOut, "BeforeCopy " + rows + "AfterCopy "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.way));
    EmptyCopy(QStringLiteral("pubs2..blk_t"), QStringLiteral("pubs2..blk_t2"));
    const QString t = QStringLiteral("pubs2..blk_t"), t2 = QStringLiteral("pubs2..blk_t2");
    std::unique_ptr<TNorvBulk> bulk = c.way == Way::FileIn ? Bulk(bdIn, t2, QStringLiteral("t.txt"))
                                      : c.way == Way::FileOut
                                          ? Bulk(bdOut, t, QStringLiteral("out.txt"))
                                      : c.way == Way::TableIn ? TableCopy(bdIn, t2, t)
                                                              : TableCopy(bdOut, t, t2);
    bulk->SetBackground(true);
    bulk->SetBatchSize(2);
    std::string seen;
    std::vector<QObject*> senders;
    bool offMain = false;
    auto record = [&](const char* name) {
      return [&, name](QObject* sender) {
        seen += std::string(name) + " ";
        senders.push_back(sender);
        offMain |= QThread::currentThread() != QCoreApplication::instance()->thread();
      };
    };
    bulk->BeforeCopy = record("BeforeCopy");
    bulk->BeforeRow = record("BeforeRow");
    bulk->AfterRow = record("AfterRow");
    bulk->OnBatch = record("OnBatch");
    bulk->AfterCopy = record("AfterCopy");
    bulk->BulkCopy();
    QThread* worker = bulk->Worker();
    ASSERT_NE(worker, nullptr);
    Finish(*bulk);
    EXPECT_EQ(seen, c.expected);
    EXPECT_FALSE(offMain);
    EXPECT_EQ(std::count(senders.begin(), senders.end(), worker),
              static_cast<long>(senders.size()));
    EXPECT_EQ(bulk->RowsCopied(), 3u);
    EXPECT_FALSE(bulk->HasDescriptor());
    if (c.way == Way::FileOut)
      EXPECT_EQ(Read(QStringLiteral("out.txt")), "1\tx\r\n2\t\r\n3\tz\r\n");
    else
      EXPECT_EQ(Query(QStringLiteral("select * from ") + t2),
                Query(QStringLiteral("select * from ") + t));
  }
}

TEST_F(BulkThread, AnAfterCopyHandlerMayStartTheNextCopy) {
  auto bulk = Bulk(bdOut, QStringLiteral("pubs2..authors"), QStringLiteral("a.txt"));
  bulk->SetBackground(true);
  int afterCopies = 0;
  bulk->AfterCopy = [&](QObject*) {
    if (++afterCopies == 1) bulk->BulkCopy();
  };
  bulk->BulkCopy();
  Finish(*bulk);
  EXPECT_EQ(afterCopies, 2);
  EXPECT_EQ(bulk->Worker(), nullptr);
  EXPECT_EQ(bulk->RowsCopied(), Query(QStringLiteral("select * from pubs2..authors")).size());
}

TEST_F(BulkThread, AStopRequestEndsEachDirectionKeepingCommittedBatches) {
  Big();
  const QString big = QStringLiteral("pubs2..blk_big"), copy = QStringLiteral("pubs2..blk_big2");
  for (Way way : {Way::FileIn, Way::FileOut, Way::TableIn, Way::TableOut}) {
    SCOPED_TRACE(static_cast<int>(way));
    EmptyCopy(big, copy);
    std::unique_ptr<TNorvBulk> bulk =
        way == Way::FileIn    ? Bulk(bdIn, copy, QStringLiteral("big.txt"))
        : way == Way::FileOut ? Bulk(bdOut, big, QStringLiteral("out.txt"))
        : way == Way::TableIn ? TableCopy(bdIn, copy, big)
                              : TableCopy(bdOut, big, copy);
    bulk->SetBackground(true);
    bulk->SetBatchSize(100);
    bool after = false;
    bulk->AfterRow = [&](QObject*) {
      if (QThread* worker = bulk->Worker()) worker->requestInterruption();
    };
    bulk->AfterCopy = [&](QObject*) { after = true; };
    bulk->BulkCopy();
    Finish(*bulk);
    EXPECT_TRUE(after);
    EXPECT_FALSE(bulk->Running());
    EXPECT_FALSE(bulk->HasDescriptor());
    EXPECT_GT(bulk->RowsCopied(), 0u);
    EXPECT_LT(bulk->RowsCopied(), static_cast<uint32_t>(kBigRows));
    if (way == Way::FileOut) {
      const std::string file = Read(QStringLiteral("out.txt"));
      EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), bulk->RowsCopied());
    } else {
      // The batches committed before the stop stay; the one under way is dropped.
      EXPECT_EQ(Count(copy), static_cast<long>(bulk->BatchCount()) * 100);
    }
    // Both connections answer again.
    EXPECT_EQ(Count(big), kBigRows);
    TNorvQuery q;
    q.SetDbName(QStringLiteral("bulkdb2"));
    q.SetSql(QStringLiteral("select 1"));
    EXPECT_EQ(q.Execute(), CS_SUCCEED);
    while (q.Fetch() == 1) {
    }
  }
}

TEST_F(BulkThread, FailuresOnTheWorkerAreReportedOnTheMainThreadAndTheCopyGoesOn) {
  Run({"if object_id('pubs2..blk_n') is not null drop table pubs2..blk_n",
       "create table pubs2..blk_n (a int null)", "insert pubs2..blk_n values (1)",
       "insert pubs2..blk_n values (null)", "insert pubs2..blk_n values (1)",
       "if object_id('pubs2..blk_nn') is not null drop table pubs2..blk_nn",
       "create table pubs2..blk_nn (a int not null)",
       "create unique index blk_nn_a on pubs2..blk_nn (a)"});
  norv::ScopedRecordingPresenter shown;
  auto bulk = TableCopy(bdIn, QStringLiteral("pubs2..blk_nn"), QStringLiteral("pubs2..blk_n"));
  bulk->SetBackground(true);
  std::string events;
  bool offMain = false;
  auto record = [&](const char* name) {
    return [&, name](QObject* sender) {
      events += std::string(name) + " ";
      offMain |= sender != bulk.get() ||
                 QThread::currentThread() != QCoreApplication::instance()->thread();
    };
  };
  bulk->OnDbError = record("OnDbError");
  bulk->AfterDbError = record("AfterDbError");
  bulk->BulkCopy();
  Finish(*bulk);
  EXPECT_FALSE(offMain);
  EXPECT_NE(events.find("OnDbError AfterDbError"), std::string::npos) << events;
  bool refused = false;
  for (const auto& s : shown->Taken())
    refused |= s.text == QStringLiteral("blk_rowxfer Failed at row 2");
  EXPECT_TRUE(refused);
  EXPECT_EQ(Count(QStringLiteral("pubs2..blk_nn")), 0);
  EXPECT_FALSE(bulk->HasDescriptor());
}

TEST_F(BulkThread, ASecondCopyWhileOneRunsIsRefusedAndTheFirstCompletes) {
  Big();
  norv::ScopedRecordingPresenter shown;
  auto bulk = Bulk(bdOut, QStringLiteral("pubs2..blk_big"), QStringLiteral("out.txt"));
  bulk->SetBackground(true);
  bulk->BulkCopy();
  bulk->BulkCopy();
  // Read while the worker counts: never torn, never going back.
  uint32_t last = 0;
  bool monotonic = true;
  while (bulk->Running()) {
    const uint32_t now = bulk->RowsCopied();
    monotonic &= now >= last && now <= static_cast<uint32_t>(kBigRows);
    last = now;
    QCoreApplication::processEvents();
  }
  Finish(*bulk);
  EXPECT_TRUE(monotonic);
  const auto taken = shown->Taken();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].text, QStringLiteral("BulkCopy is still in progress"));
  EXPECT_EQ(bulk->RowsCopied(), static_cast<uint32_t>(kBigRows));
  const std::string file = Read(QStringLiteral("out.txt"));
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), kBigRows);
}

TEST_F(BulkThread, DestroyingTheComponentMidCopyStopsAndJoinsItsWorker) {
  Big();
  EmptyCopy(QStringLiteral("pubs2..blk_big"), QStringLiteral("pubs2..blk_big2"));
  auto bulk = Bulk(bdIn, QStringLiteral("pubs2..blk_big2"), QStringLiteral("big.txt"));
  bulk->SetBackground(true);
  bulk->SetBatchSize(100);
  bulk->BulkCopy();
  ASSERT_TRUE(bulk->Running());
  bulk.reset();
  QCoreApplication::processEvents();
  // The copy stopped; only whole batches remain, and the connection answers.
  const long rows = Count(QStringLiteral("pubs2..blk_big2"));
  EXPECT_LT(rows, kBigRows);
  EXPECT_EQ(rows % 100, 0);
}

// Every pubs2 table copied table to table arrives unchanged; each table alternates the direction
// and the thread.
TEST_F(BulkThread, TableToTableCopiesEveryTableUnchanged) {
  const char* tables[] = {"authors",   "titles",   "publishers",  "sales",  "salesdetail", "stores",
                          "discounts", "roysched", "titleauthor", "blurbs", "au_pix"};
  bool odd = false;
  for (const char* name : tables) {
    SCOPED_TRACE(name);
    const QString source = QStringLiteral("pubs2..") + QLatin1String(name);
    const QString copy = source + QStringLiteral("_tt");
    EmptyCopy(source, copy);
    const Rows rows = Query(QStringLiteral("select * from ") + source);
    auto bulk = odd ? TableCopy(bdOut, source, copy) : TableCopy(bdIn, copy, source);
    bulk->SetBackground(odd);
    norv::ScopedRecordingPresenter shown;
    bulk->BulkCopy();
    Finish(*bulk);
    EXPECT_TRUE(shown->Taken().empty());
    EXPECT_EQ(bulk->RowsCopied(), rows.size());
    EXPECT_EQ(Query(QStringLiteral("select * from ") + copy), rows);
    odd = !odd;
  }
}

TEST_F(BulkThread, TableToTableSendsTheRowWindowInBatches) {
  Run({"if object_id('pubs2..blk_w') is not null drop table pubs2..blk_w",
       "create table pubs2..blk_w (id int not null)"});
  for (int i = 1; i <= 7; ++i)
    Run({("insert pubs2..blk_w values (" + std::to_string(i) + ")").c_str()});
  const Rows window = {{"3"}, {"4"}, {"5"}};
  for (TBulkDirection direction : {bdIn, bdOut}) {
    SCOPED_TRACE(direction);
    EmptyCopy(QStringLiteral("pubs2..blk_w"), QStringLiteral("pubs2..blk_w2"));
    auto bulk =
        direction == bdIn
            ? TableCopy(bdIn, QStringLiteral("pubs2..blk_w2"), QStringLiteral("pubs2..blk_w"))
            : TableCopy(bdOut, QStringLiteral("pubs2..blk_w"), QStringLiteral("pubs2..blk_w2"));
    bulk->SetFirstRow(3);
    bulk->SetLastRow(5);
    bulk->SetBatchSize(2);
    bulk->BulkCopy();
    EXPECT_EQ(Query(QStringLiteral("select * from pubs2..blk_w2")), window);
    EXPECT_EQ(bulk->RowsCopied(), 3u);
    EXPECT_EQ(bulk->BatchCount(), 1u);
    EXPECT_FALSE(bulk->HasDescriptor());
  }
}

TEST_F(BulkThread, TableToTableRefusalsNameTheirCause) {
  Run({"if object_id('pubs2..blk_w3') is not null drop table pubs2..blk_w3",
       "create table pubs2..blk_w3 (id int not null, x int null)"});
  struct Case {
    const char* srcTarDb;
    const char* srcTarTable;
    const char* message;
  };
  const Case cases[] = {
      {"bulkdb", "pubs2..authors", "Source and Target DbName may not be the same"},
      {"bulkdb2", "pubs2..blk_w3", "Number of columns in target and source table does not match"},
      {"bulknobulk", "pubs2..authors",
       "cpBulk_Login must be selected for SrcTar database component bulknobulk"},
      {"nosuchdb", "pubs2..authors", "Could not find NorvDatabase component named nosuchdb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto bulk = TableCopy(bdIn, QStringLiteral("pubs2..titleauthor"), QLatin1String(c.srcTarTable));
    bulk->SetSrcTarDbName(QLatin1String(c.srcTarDb));
    const long before = Count(QStringLiteral("pubs2..titleauthor"));
    EXPECT_EQ(Failure(*bulk), c.message);
    EXPECT_FALSE(bulk->HasDescriptor());
    EXPECT_EQ(Count(QStringLiteral("pubs2..titleauthor")), before);
  }
}

// Stopping the server ends the connection: this suite runs last and the next one connects to a
// fresh server.
class BulkServerLoss : public BulkThread {};

TEST_F(BulkServerLoss, AServerStoppedMidCopyEndsItWithAnErrorAndNothingOpen) {
  for (bool background : {false, true}) {
    SCOPED_TRACE(background);
    if (background) {
      // The first case stopped the server: a new connection component finds the fresh one.
      delete db_;
      db_ = nullptr;
      BulkTest::SetUpTestSuite();
    }
    Big();
    EmptyCopy(QStringLiteral("pubs2..blk_big"), QStringLiteral("pubs2..blk_big2"));
    auto bulk = Bulk(bdIn, QStringLiteral("pubs2..blk_big2"), QStringLiteral("big.txt"));
    bulk->SetBackground(background);
    bulk->SetBatchSize(100);
    bool stopped = false;
    bulk->AfterRow = [&](QObject*) {
      if (!stopped && bulk->RowsCopied() >= 250) {
        stopped = true;
        StopSampleServer();
      }
    };
    norv::ScopedRecordingPresenter shown;
    const std::string failure = Failure(*bulk);
    Finish(*bulk);
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(background ? !shown->Taken().empty() : !failure.empty());
    // The lost connection ends the copy: no report for each row left.
    EXPECT_LT(shown->Taken().size(), 10u);
    EXPECT_LT(bulk->RowsCopied(), static_cast<uint32_t>(kBigRows));
    EXPECT_FALSE(bulk->HasDescriptor());
    EXPECT_FALSE(bulk->Running());
  }
}

}  // namespace
}  // namespace norvtest
