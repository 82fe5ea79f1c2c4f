// The table data set against the sample server: qualified names, the index read from both
// catalogs, the generated SELECT, the duplicate check, the generated INSERT, UPDATE and DELETE
// in their transactions, edits of one row by two users, values that must survive the round trip,
// and what every failure leaves behind.
#include "dataset/norvtable.h"

#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "query/norvquery.h"

#include "dataset_fixture.h"
#include "recording_presenter.h"
#include "server_fixture.h"
#include "trace_capture.h"

#include <gtest/gtest.h>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

using Kind = norv::RecordingPresenter::Kind;

constexpr const char* kAuthorsCopy[] = {
    "if object_id('pubs2..tbl_au') is not null drop table pubs2..tbl_au",
    "select * into pubs2..tbl_au from pubs2..authors",
    "create unique index uid_ix on pubs2..tbl_au (au_id)",
    "create index name_ix on pubs2..tbl_au (au_lname, au_fname)",
};

class NorvTableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    norvtest::RunSetup({kAuthorsCopy[0], kAuthorsCopy[1], kAuthorsCopy[2], kAuthorsCopy[3],
                        "if object_id('pubs2..tbl_bare') is not null drop table pubs2..tbl_bare",
                        "create table pubs2..tbl_bare (k int null, f float null, "
                        "d datetime null, s varchar(10) null)",
                        "insert pubs2..tbl_bare values (1, 0.1, 'Jan 2 2001 10:11:12:567PM', 'a')",
                        "insert pubs2..tbl_bare values (2, 0.30000000000000004, "
                        "'Jan 2 2001 10:11:12:003PM', 'b')",
                        "insert pubs2..tbl_bare values (3, null, null, 'twin')",
                        "insert pubs2..tbl_bare values (3, null, null, 'twin')",
                        "if object_id('pubs2..tbl_text') is not null drop table pubs2..tbl_text",
                        "create table pubs2..tbl_text (k int, t1 text null, v varchar(5) null, "
                        "t2 text null)",
                        "insert pubs2..tbl_text values (1, 'x', 'kept', 'y')"});
  }

  void SetUp() override { db_ = Connect(QStringLiteral("db")); }

  static std::unique_ptr<TNorvDatabase> Connect(const QString& name) {
    auto db = norvtest::ConnectSample(name);
    db->SetDBName(QStringLiteral("pubs2"));
    return db;
  }

  // A table on `dbName`, owned by `owner_` so its trace reaches the monitor.
  TNorvTable* Table(const QString& tableName, const QString& dbName = QStringLiteral("db")) {
    auto* t = new TNorvTable(&owner_);
    t->SetName(QStringLiteral("Table1"));
    t->SetDbName(dbName);
    t->SetTableName(tableName);
    return t;
  }

  // One value read over the connection named `dbName`.
  static QString Scalar(const QString& sql, const QString& dbName = QStringLiteral("db")) {
    TNorvQuery q;
    q.SetDbName(dbName);
    q.SetSql(sql);
    q.Execute();
    QString value;
    if (q.Fetch() == 1) value = q.FieldValue(1).trimmed();
    while (q.Fetch() == 1) {
    }
    return value;
  }

  // The message an action raises; empty when it raises nothing.
  static QString Raised(const std::function<void()>& action) {
    try {
      action();
    } catch (const EAbort&) {
      return QStringLiteral("<abort>");
    } catch (const Exception& e) {
      return e.Message();
    }
    return {};
  }

  static bool Locate(TNorvTable& t, const QString& field, const QString& value) {
    for (t.First(); !t.Eof(); t.Next())
      if (t.FieldByName(field)->AsString().trimmed() == value) return true;
    return false;
  }

  norv::ScopedRecordingPresenter shown_;
  QObject owner_;
  std::unique_ptr<TNorvDatabase> db_;
};

TEST_F(NorvTableTest, QualifiedNamesAndTheGeneratedSelect) {
  struct Case {
    const char* table;
    TRdbms rdbms;
    const char* index;
    bool defaultIndex;
    TSortDirection direction;
    const char* filter;
    const char* select;  // after "SELECT <fields> FROM "
  };
  const Case cases[] = {
      // The first index by name on this catalog, which orders by it.
      {"tbl_au", TRdbms::SybaseSqlServer, "", true, sdASC, "",
       "pubs2..tbl_au ORDER BY au_lname,au_fname ASC"},
      {"dbo.tbl_au", TRdbms::SybaseSqlServer, "uid_ix", true, sdDESC, "",
       "pubs2.dbo.tbl_au ORDER BY au_id DESC"},
      {"tbl_au", TRdbms::SybaseSqlServer, "", false, sdASC, "state = 'CA'",
       "pubs2..tbl_au WHERE state = 'CA'"},
      {"tbl_au", TRdbms::SqlAnywhere, "name_ix", true, sdDESC, "",
       "pubs2..tbl_au ORDER BY au_lname,au_fname "},
      {"tbl_bare", TRdbms::SybaseSqlServer, "", true, sdASC, "", "pubs2..tbl_bare"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.select);
    db_->SetRdbms(c.rdbms);
    TNorvTable* t = Table(QString::fromLatin1(c.table));
    t->SetIndexName(QString::fromLatin1(c.index));
    t->SetDefaultIndex(c.defaultIndex);
    t->SetSortDirection(c.direction);
    t->SetFilter(QString::fromLatin1(c.filter));
    t->SetFiltered(*c.filter != '\0');
    t->Open();
    EXPECT_EQ(t->SelectText(), QStringLiteral("SELECT ") + t->FieldList() +
                                   QStringLiteral(" FROM ") + QString::fromLatin1(c.select));
    EXPECT_EQ(t->IndexNames().size(), QString::fromLatin1(c.table).endsWith("au") ? 2 : 0);
    EXPECT_GT(t->RecordCount(), 0);
    delete t;
  }
  for (const auto& s : shown_->Taken()) EXPECT_NE(s.kind, Kind::MessageBox) << s.text.toStdString();
}

TEST_F(NorvTableTest, IndexChoiceOnEachCatalog) {
  struct Case {
    TRdbms rdbms;
    const char* index;
    QStringList keys;
  };
  const Case cases[] = {
      {TRdbms::SybaseSqlServer, "", {"au_lname", "au_fname"}},
      {TRdbms::SybaseSqlServer, "uid_ix", {"au_id"}},
      {TRdbms::SqlAnywhere, "name_ix", {"au_lname", "au_fname"}},
      {TRdbms::SqlAnywhere, "nosuch", {}},
      // A server of another kind has no catalog to read: no index at all.
      {TRdbms::Other, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    db_->SetRdbms(c.rdbms);
    std::unique_ptr<TNorvTable> t(Table(QStringLiteral("tbl_au")));
    t->SetIndexName(QString::fromLatin1(c.index));
    t->Open();
    EXPECT_EQ(t->KeyColumns(), c.keys);
    EXPECT_EQ(t->Indexes().size(), c.rdbms == TRdbms::Other ? 0u : 3u);
  }
}

TEST_F(NorvTableTest, BlankTableNameIsRefused) {
  std::unique_ptr<TNorvTable> t(Table(QStringLiteral("   ")));
  EXPECT_EQ(Raised([&] { t->Open(); }), QStringLiteral("Invalid TableName"));
  EXPECT_FALSE(t->Active());
  EXPECT_EQ(Raised([&] { t->ReadIndexes(); }), QStringLiteral("Invalid TableName"));
}

// A quote in a table name stays inside the catalog query's literals.
TEST_F(NorvTableTest, CatalogNamesAreQuotedLiterals) {
  for (TRdbms rdbms : {TRdbms::SybaseSqlServer, TRdbms::SqlAnywhere}) {
    db_->SetRdbms(rdbms);
    std::unique_ptr<TNorvTable> t(Table(QStringLiteral("tbl_au') or ('1'='1")));
    EXPECT_TRUE(t->IndexQuery().contains(QStringLiteral("'tbl_au'') or (''1''=''1'")));
    EXPECT_EQ(Raised([&] { t->ReadIndexes(); }), QString());
    EXPECT_TRUE(t->Indexes().empty());
  }
}

TEST_F(NorvTableTest, PostsSendGeneratedStatementsInTransactions) {
  norvtest::TraceCapture trace;
  ASSERT_TRUE(trace.Listening());
  std::unique_ptr<TNorvTable> t(Table(QStringLiteral("tbl_au")));
  t->SetIndexName(QStringLiteral("uid_ix"));
  t->Open();
  // Traced from here on, and read after each step: the listener reads only while the test waits.
  t->SetMonitor(true);
  auto drain = [&] { trace.Wait(100000, 50); };
  const int rows = Scalar(QStringLiteral("select count(*) from pubs2..tbl_au")).toInt();
  t->Insert();
  t->FieldByName("au_id")->SetAsString(QStringLiteral("999-00-0001"));
  t->FieldByName("au_lname")->SetAsString(QStringLiteral("Neu"));
  t->FieldByName("au_fname")->SetAsString(QStringLiteral("Anna"));
  t->FieldByName("phone")->SetAsString(QStringLiteral("555 000-0000"));
  t->Post();
  drain();
  EXPECT_EQ(
      Scalar(QStringLiteral("select au_lname from pubs2..tbl_au where au_id = '999-00-0001'")),
      QStringLiteral("Neu"));
  t->Edit();
  t->FieldByName("au_lname")->SetAsString(QStringLiteral("Alt"));
  t->FieldByName("city")->SetAsString(QStringLiteral("Bonn"));
  t->Post();
  drain();
  EXPECT_EQ(Scalar(QStringLiteral("select au_lname + city from pubs2..tbl_au where au_id = "
                                  "'999-00-0001'")),
            QStringLiteral("AltBonn"));
  // Posting an unchanged record sends nothing.
  t->Edit();
  t->Post();
  drain();
  t->Delete();
  EXPECT_EQ(Scalar(QStringLiteral("select count(*) from pubs2..tbl_au")).toInt(), rows);
  EXPECT_EQ(Scalar(QStringLiteral("select @@trancount")), QStringLiteral("0"));
  const QStringList expected = {
      "SQL Execute: BEGIN TRAN",
      "SQL Execute: INSERT pubs2..tbl_au(au_id,au_lname,au_fname,phone) VALUES "
      "(:au_id,:au_lname,:au_fname,:phone)",
      "SQL Execute: COMMIT TRAN",
      "SQL Execute: BEGIN TRAN",
      "SQL Execute: UPDATE pubs2..tbl_au SET au_lname=:au_lname, city=:city  WHERE 1=1 AND "
      "au_id=:where_au_id AND au_lname=:where_au_lname AND city IS NULL",
      "SQL Execute: COMMIT TRAN",
      "SQL Execute: BEGIN TRAN",
      "SQL Execute: DELETE pubs2..tbl_au WHERE 1=1 AND au_id=:where_au_id",
      "SQL Execute: COMMIT TRAN",
  };
  QStringList sent;
  QStringList flow;
  for (const QString& line : trace.Wait(100000, 100)) {
    if (line.startsWith(QStringLiteral("SQL Execute: "))) sent << line;
    if (line.startsWith(QStringLiteral("Flow : ** End of")) && !line.contains("index") &&
        !line.contains("columns"))
      flow << line;
  }
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(flow, (QStringList{"Flow : ** End of INSERT **", "Flow : ** End of UPDATE **",
                               "Flow : ** End of delete **"}));
}

// Two users edit one row: the same field is refused to the second, different fields are both
// kept.
TEST_F(NorvTableTest, TwoUsersEditingOneRow) {
  auto other = Connect(QStringLiteral("db2"));
  struct Case {
    const char* first;
    const char* second;
    const char* refused;  // the second post's error, empty when it is kept
  };
  const Case cases[] = {
      {"city", "city",
       "Record was not posted. The underlying data could have been changed since retrieval"},
      {"city", "address", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.second);
    std::unique_ptr<TNorvTable> a(Table(QStringLiteral("tbl_au")));
    std::unique_ptr<TNorvTable> b(Table(QStringLiteral("tbl_au"), QStringLiteral("db2")));
    for (TNorvTable* t : {a.get(), b.get()}) {
      t->Open();
      ASSERT_TRUE(Locate(*t, QStringLiteral("au_id"), QStringLiteral("201-45-7781")));
      t->Edit();
    }
    a->FieldByName(c.first)->SetAsString(QStringLiteral("first"));
    a->Post();
    b->FieldByName(c.second)->SetAsString(QStringLiteral("second"));
    EXPECT_EQ(Raised([&] { b->Post(); }), QString::fromLatin1(c.refused));
    EXPECT_EQ(b->State(), *c.refused ? dsEdit : dsBrowse);
    EXPECT_EQ(Scalar(QStringLiteral("select @@trancount"), QStringLiteral("db2")),
              QStringLiteral("0"));
    const QString both =
        Scalar(QStringLiteral("select %1 + '/' + %2 from pubs2..tbl_au where "
                              "au_id = '201-45-7781'")
                   .arg(QString::fromLatin1(c.first), QString::fromLatin1(c.second)));
    EXPECT_EQ(both, *c.refused ? QStringLiteral("first/first") : QStringLiteral("first/second"));
  }
}

// Floats and datetimes with milliseconds identify their rows exactly: a table without an index
// compares every field, and such rows can be edited and deleted.
TEST_F(NorvTableTest, FloatsAndMillisecondsRoundTrip) {
  std::unique_ptr<TNorvTable> t(Table(QStringLiteral("tbl_bare")));
  t->Open();
  ASSERT_TRUE(Locate(*t, QStringLiteral("k"), QStringLiteral("2")));
  EXPECT_EQ(t->FieldByName("f")->AsString(), QStringLiteral("0.30000000000000004"));
  EXPECT_EQ(t->FieldByName("d")->AsDateTime().time(), QTime(22, 11, 12, 3));
  for (const char* s : {"b2", "b3"}) {
    t->Edit();
    t->FieldByName("s")->SetAsString(QString::fromLatin1(s));
    t->Post();
  }
  ASSERT_TRUE(Locate(*t, QStringLiteral("k"), QStringLiteral("1")));
  EXPECT_EQ(t->FieldByName("d")->AsDateTime().time(), QTime(22, 11, 12, 567));
  t->Edit();
  t->FieldByName("s")->SetAsString(QStringLiteral("a2"));
  t->Post();
  EXPECT_EQ(Scalar(QStringLiteral("select s from pubs2..tbl_bare where k = 2")),
            QStringLiteral("b3"));
  EXPECT_EQ(Scalar(QStringLiteral("select s from pubs2..tbl_bare where k = 1")),
            QStringLiteral("a2"));
}

TEST_F(NorvTableTest, DuplicateCheck) {
  std::unique_ptr<TNorvTable> t(Table(QStringLiteral("tbl_bare")));
  t->Open();
  ASSERT_TRUE(Locate(*t, QStringLiteral("k"), QStringLiteral("3")));
  for (const std::function<void()>& action :
       {std::function<void()>([&] { t->Edit(); }), std::function<void()>([&] { t->Delete(); })}) {
    EXPECT_EQ(Raised(action), QStringLiteral("Multiple records found, but only one expected"));
    EXPECT_EQ(t->State(), dsBrowse);
  }
  // A row deleted meanwhile is found missing before the edit begins.
  Scalar(QStringLiteral("insert pubs2..tbl_bare values (4, null, null, 'gone')"));
  t->Close();
  t->Open();
  ASSERT_TRUE(Locate(*t, QStringLiteral("k"), QStringLiteral("4")));
  Scalar(QStringLiteral("delete pubs2..tbl_bare where k = 4"));
  EXPECT_EQ(Raised([&] { t->Edit(); }), QStringLiteral("No record found, but one expected"));
  EXPECT_EQ(t->State(), dsBrowse);
  // With CachedUpdates the check still runs, but posts and deletes change the cache only.
  t->SetCheckDups(false);
  t->SetCachedUpdates(true);
  t->Last();
  const int count = t->RecordCount();
  t->Delete();
  EXPECT_EQ(t->RecordCount(), count - 1);
  EXPECT_EQ(Scalar(QStringLiteral("select count(*) from pubs2..tbl_bare where k = 3")),
            QStringLiteral("2"));
}

// Each failure of the transaction sequence: the server has no transaction open afterwards, the
// cache is unchanged and the data set is still editing or inserting.
TEST_F(NorvTableTest, FailedPostsLeaveNothingBehind) {
  auto other = Connect(QStringLiteral("db2"));
  struct Case {
    const char* what;
    std::function<void(TNorvTable&)> act;  // leaves the table editing or inserting
    const char* error;
    TDataSetState state;
  };
  const Case cases[] = {
      {"duplicate key",
       [](TNorvTable& t) {
         t.Insert();
         t.FieldByName("au_id")->SetAsString(QStringLiteral("201-45-7781"));
         t.FieldByName("au_lname")->SetAsString(QStringLiteral("Dup"));
         t.FieldByName("au_fname")->SetAsString(QStringLiteral("Dup"));
         t.FieldByName("phone")->SetAsString(QStringLiteral("1"));
       },
       "Attempt to insert duplicate key row", dsInsert},
      {"NULL into NOT NULL",
       [](TNorvTable& t) {
         t.Edit();
         t.FieldByName("au_fname")->SetAsString(QString());
       },
       "does not allow null values", dsEdit},
      {"row gone meanwhile",
       [](TNorvTable& t) {
         t.Edit();
         t.FieldByName("city")->SetAsString(QStringLiteral("x"));
         Scalar(QStringLiteral("delete pubs2..tbl_au where au_id = '226-13-9054'"),
                QStringLiteral("db2"));
       },
       "Record was not posted. The underlying data could have been changed since retrieval",
       dsEdit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<TNorvTable> t(Table(QStringLiteral("tbl_au")));
    t->SetIndexName(QStringLiteral("uid_ix"));
    t->Open();
    t->Last();  // all rows cached, so the count is final
    ASSERT_TRUE(Locate(*t, QStringLiteral("au_id"), QStringLiteral("226-13-9054")));
    const int count = t->RecordCount();
    c.act(*t);
    const QString error = Raised([&] { t->Post(); });
    EXPECT_TRUE(error.contains(QString::fromLatin1(c.error))) << error.toStdString();
    EXPECT_EQ(t->State(), c.state);
    EXPECT_EQ(Scalar(QStringLiteral("select @@trancount")), QStringLiteral("0"));
    t->Cancel();
    EXPECT_EQ(t->RecordCount(), count);
    EXPECT_EQ(t->FieldByName("au_id")->AsString(), QStringLiteral("226-13-9054"));
  }
  EXPECT_EQ(Scalar(QStringLiteral("select count(*) from pubs2..tbl_au where au_lname = 'Dup'")),
            QStringLiteral("0"));
  // The deleted row is still cached; deleting it finds nothing on the server.
  std::unique_ptr<TNorvTable> t(Table(QStringLiteral("tbl_au")));
  t->SetCheckDups(false);
  t->Open();
  t->Last();
  ASSERT_FALSE(Locate(*t, QStringLiteral("au_id"), QStringLiteral("226-13-9054")));
  ASSERT_TRUE(Locate(*t, QStringLiteral("au_id"), QStringLiteral("238-66-1420")));
  const int count = t->RecordCount();
  Scalar(QStringLiteral("delete pubs2..tbl_au where au_id = '238-66-1420'"), QStringLiteral("db2"));
  EXPECT_EQ(Raised([&] { t->Delete(); }),
            QStringLiteral("Record was not deleted. The underlying data could have been changed "
                           "since retrieval"));
  EXPECT_EQ(t->RecordCount(), count);
  EXPECT_EQ(Scalar(QStringLiteral("select @@trancount")), QStringLiteral("0"));
}

// A statement that fails with only an error the router passes over (2409, not shown) still fails
// the post, quietly, and its transaction is rolled back: nothing stays open on the connection.
TEST_F(NorvTableTest, FailureNotRaisedStillRollsBack) {
  Scalar(
      QStringLiteral("create trigger tbl_au_quiet on pubs2..tbl_au for insert as "
                     "raiserror 2409 'refused quietly' rollback trigger"));
  std::unique_ptr<TNorvTable> t(Table(QStringLiteral("tbl_au")));
  t->Open();
  t->Insert();
  t->FieldByName("au_id")->SetAsString(QStringLiteral("999-99-9999"));
  t->FieldByName("au_lname")->SetAsString(QStringLiteral("Shown"));
  t->FieldByName("au_fname")->SetAsString(QStringLiteral("Shown"));
  t->FieldByName("phone")->SetAsString(QStringLiteral("1"));
  EXPECT_EQ(Raised([&] { t->Post(); }), QStringLiteral("<abort>"));
  EXPECT_EQ(Scalar(QStringLiteral("select @@trancount")), QStringLiteral("0"));
  EXPECT_EQ(
      Scalar(QStringLiteral("select count(*) from pubs2..tbl_au where au_id = '999-99-9999'")),
      QStringLiteral("0"));
  t->Cancel();
  Scalar(QStringLiteral("drop trigger tbl_au_quiet"));
}

TEST_F(NorvTableTest, TextColumnsAreReportedOnceEachAndTheRestOpens) {
  std::unique_ptr<TNorvTable> t(Table(QStringLiteral("tbl_text")));
  t->SetTypeErrCont(true);
  t->Open();
  EXPECT_EQ(t->FieldCount(), 2);
  EXPECT_EQ(t->FieldByName("v")->AsString(), QStringLiteral("kept"));
  int boxes = 0;
  for (const auto& s : shown_->Taken()) boxes += s.kind == Kind::MessageBox;
  EXPECT_EQ(boxes, 2);
}

// Kept last: it stops the server the other tests of this program use.
// The server lost after the update ran but before its commit, or while it runs: the post fails
// and says so, and the table still edits.
TEST(NorvTableServerGone, ServerLostInsideThePostTransactionFailsThePost) {
  struct Case {
    const char* trigger;  // what the update's trigger does
    bool stopOnMessage;   // stopped when the trigger's message arrives, else 0.5 s into the post
    const char* step;     // the failed step the error names first
  };
  const Case cases[] = {
      {"print 'updated'", true, "Error encountered while committing transaction"},
      {"waitfor delay '00:00:02'", false, "Error encountered while posting record"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.trigger);
    const std::string trigger =
        std::string("create trigger tbl_au_upd on tbl_au for update as ") + c.trigger;
    norvtest::RunSetup(
        {kAuthorsCopy[0], kAuthorsCopy[1], kAuthorsCopy[2], "use pubs2", trigger.c_str()});
    norv::ScopedRecordingPresenter shown;
    auto db = norvtest::ConnectSample(QStringLiteral("gone"));
    db->SetDBName(QStringLiteral("pubs2"));
    TNorvTable t;
    t.SetDbName(QStringLiteral("gone"));
    t.SetTableName(QStringLiteral("tbl_au"));
    t.Open();
    t.Edit();
    t.FieldByName("au_lname")->SetAsString(QStringLiteral("Lost?"));
    std::thread stopper;
    if (c.stopOnMessage)
      t.OnDbMessage = [](QObject*) { norvtest::StopSampleServer(); };
    else
      t.BeforePost = [&](TDataSet*) {
        stopper = std::thread([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(500));
          norvtest::StopSampleServer();
        });
      };
    QString error;
    QStringList context;
    try {
      t.Post();
    } catch (const Exception& e) {
      error = e.Message();
      context = e.Context();
    }
    if (stopper.joinable()) stopper.join();
    EXPECT_EQ(error, QStringLiteral("Connection to the server was lost"));
    EXPECT_EQ(context.value(0), QString::fromLatin1(c.step));
    EXPECT_EQ(t.State(), dsEdit);
    t.Cancel();
    norvtest::SampleServer();
  }
}

TEST(NorvTableServerGone, PostAfterTheServerStoppedLosesNothing) {
  norvtest::RunSetup({kAuthorsCopy[0], kAuthorsCopy[1], kAuthorsCopy[2]});
  norv::ScopedRecordingPresenter shown;
  auto db = norvtest::ConnectSample(QStringLiteral("gone"));
  db->SetDBName(QStringLiteral("pubs2"));
  TNorvTable t;
  t.SetDbName(QStringLiteral("gone"));
  t.SetTableName(QStringLiteral("tbl_au"));
  t.Open();
  t.Edit();
  const QString before = t.FieldByName("au_lname")->AsString();
  t.FieldByName("au_lname")->SetAsString(QStringLiteral("Lost?"));
  norvtest::StopSampleServer();
  QStringList error;
  try {
    t.Post();
  } catch (const Exception& e) {
    error = QStringList{e.Message()} + e.Context();
  }
  EXPECT_EQ(error.value(0), QStringLiteral("Error encountered while beginning transaction"));
  EXPECT_TRUE(
      error.contains(QStringLiteral("The connection to the server is lost; nothing was "
                                    "written.")));
  EXPECT_EQ(t.State(), dsEdit);
  EXPECT_EQ(t.FieldByName("au_lname")->AsString(), QStringLiteral("Lost?"));
  t.Cancel();
  EXPECT_EQ(t.FieldByName("au_lname")->AsString(), before);
  norvtest::SampleServer();
}

}  // namespace
