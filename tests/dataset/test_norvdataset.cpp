// The server data set against the sample server: lazy fetching, navigation, the record image,
// the type check, bookmarks and the failures of an open.
#include "dataset/norvsqldataset.h"

#include "connection/norvdatabase.h"
#include "query/norvquery.h"

#include "dataset_fixture.h"
#include "recording_presenter.h"
#include "server_fixture.h"
#include "trace_capture.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

#include <cstring>
#include <memory>

namespace {

using Kind = norv::RecordingPresenter::Kind;

// Remembers the record count the framework saw when it first asked for a record.
class TProbeDataSet : public TNorvSqlDataSet {
 public:
  int firstCount = -1;
  using TNorvDataSet::FieldOffset;

 protected:
  TGetResult ReadRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) override {
    if (firstCount < 0) firstCount = RecordCountValue();
    return TNorvSqlDataSet::ReadRecord(buffer, mode, doCheck);
  }
};

class NorvDataSetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    norvtest::RunSetup({
        "if object_id('nds_layout') is not null drop table nds_layout",
        "create table nds_layout (v varchar(10) null, a_very_long_name_x varchar(10) null, "
        "t tinyint null, d datetime null, i int null, m money null, b bit not null)",
        "insert nds_layout values ('abc', '', 200, 'Jan 2 2001 10:11:12:567PM', null, "
        "12.34, 1)",
    });
  }

  void SetUp() override { db_ = norvtest::ConnectSample(QStringLiteral("db")); }

  std::unique_ptr<TProbeDataSet> DataSet(const QString& sql) {
    auto ds = std::make_unique<TProbeDataSet>();
    ds->SetName(QStringLiteral("Table1"));
    ds->SetDbName(QStringLiteral("db"));
    ds->SetSql(sql);
    return ds;
  }

  // The error text an open raises; empty when it opened.
  static QString OpenError(TDataSet& ds) {
    try {
      ds.Open();
    } catch (const Exception& e) {
      return e.Message();
    }
    return QString();
  }

  norv::ScopedRecordingPresenter shown_;
  std::unique_ptr<TNorvDatabase> db_;
};

TEST_F(NorvDataSetTest, RowsAreFetchedOnlyAsNavigationAsks) {
  auto ds = DataSet(QStringLiteral("SELECT au_id FROM pubs2..authors ORDER BY au_id"));
  ds->Open();
  EXPECT_EQ(ds->firstCount, 1000);
  EXPECT_EQ(ds->CachedCount(), 1);  // the one record the window shows
  EXPECT_TRUE(ds->MoreRows());
  const QString first = ds->FieldByName(QStringLiteral("au_id"))->AsString();

  ds->Next();
  ds->Next();
  EXPECT_EQ(ds->RecNo(), 3);
  EXPECT_EQ(ds->CachedCount(), 3);  // one row fetched per move past the cache
  ds->Prior();
  EXPECT_EQ(ds->RecNo(), 2);
  EXPECT_EQ(ds->CachedCount(), 3);  // moving back never goes to the server

  ds->Last();
  EXPECT_FALSE(ds->MoreRows());
  EXPECT_EQ(ds->RecordCount(), ds->CachedCount());
  EXPECT_GT(ds->RecordCount(), 10);
  EXPECT_EQ(ds->RecNo(), ds->RecordCount());
  EXPECT_TRUE(ds->Eof());
  ds->First();
  EXPECT_EQ(ds->RecNo(), 1);
  EXPECT_EQ(ds->FieldByName(QStringLiteral("au_id"))->AsString(), first);
  ds->SetRecNo(5);
  EXPECT_EQ(ds->RecNo(), 5);
  ds->Close();
  EXPECT_FALSE(ds->Active());
}

TEST_F(NorvDataSetTest, RecordImageLayoutAndValues) {
  auto ds = DataSet(QStringLiteral("SELECT * FROM nds_layout"));
  ds->Open();
  ASSERT_EQ(ds->FieldCount(), 7);
  // varchar(10): 11 bytes of characters and terminator, then the null byte, however long the
  // column's name.
  EXPECT_EQ(ds->FieldOffset(2) - ds->FieldOffset(1), 12);
  EXPECT_EQ(ds->FieldOffset(3) - ds->FieldOffset(2), 12);
  EXPECT_EQ(ds->RecordSize(), 12 + 12 + 3 + 9 + 5 + 9 + 3);
  struct Case {
    const char* field;
    QString text;
  };
  const Case cases[] = {
      {"v", QStringLiteral("abc")},
      {"t", QStringLiteral("200")},
      {"m", QStringLiteral("12.34")},
      {"b", QStringLiteral("True")},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ds->FieldByName(QString::fromLatin1(c.field))->AsString(), c.text) << c.field;
  EXPECT_EQ(ds->FieldByName(QStringLiteral("d"))->AsDateTime(),
            NaiveDateTime(QDate(2001, 1, 2), QTime(22, 11, 12, 567)));
  EXPECT_TRUE(ds->FieldByName(QStringLiteral("i"))->IsNull());
  EXPECT_FALSE(ds->FieldByName(QStringLiteral("v"))->IsNull());
}

TEST_F(NorvDataSetTest, UnnamedColumnIsNamedByItsNumber) {
  auto ds = DataSet(QStringLiteral("SELECT a = 1, b = 2, 3"));
  ds->Open();
  ASSERT_EQ(ds->FieldCount(), 3);
  EXPECT_EQ(ds->Fields()[2]->FieldName(), QStringLiteral("COLUMN3"));
  EXPECT_EQ(ds->Fields()[2]->AsInteger(), 3);
}

TEST_F(NorvDataSetTest, UnsupportedColumnSkippedOrFailsTheOpen) {
  const QString sql =
      QStringLiteral("SELECT au_id, copy, au_id FROM pubs2..blurbs WHERE au_id = '201-45-7781'");
  const QString text = QStringLiteral(R"(Fieldtype "TEXT" of field "copy" not supported)");
  auto ds = DataSet(sql);
  ds->SetTypeErrCont(true);
  ds->Open();
  ASSERT_EQ(ds->FieldCount(), 2);
  EXPECT_EQ(ds->Fields()[1]->FieldNo(), 2);
  EXPECT_EQ(ds->Fields()[1]->AsString(), QStringLiteral("201-45-7781"));
  int boxes = 0;
  for (const auto& s : shown_->Taken())
    if (s.kind == Kind::MessageBox) {
      ++boxes;
      EXPECT_EQ(s.caption, QStringLiteral("SQL Server Message"));
      EXPECT_EQ(s.text, text);
      EXPECT_EQ(s.icon, norv::MsgIcon::Warning);
    }
  EXPECT_EQ(boxes, 2);  // once for the probe, once for the row cursor

  auto strict = DataSet(sql);
  EXPECT_EQ(OpenError(*strict), text);
  EXPECT_FALSE(strict->Active());
}

TEST_F(NorvDataSetTest, BookmarksOutsideTheCacheAreNotFound) {
  auto ds = DataSet(QStringLiteral("SELECT au_id FROM pubs2..authors"));
  ds->Open();
  ds->Last();
  for (const qint32 index : {-1, ds->RecordCount()}) {
    TBookmark mark(8, '\0');
    std::memcpy(mark.data(), &index, 4);
    try {
      ds->GotoBookmark(mark);
      ADD_FAILURE() << index;
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), QStringLiteral("Bookmark %1 not found!").arg(index));
    }
  }
}

TEST_F(NorvDataSetTest, EmptyResultOpensWithoutRows) {
  auto ds = DataSet(QStringLiteral("SELECT au_id FROM pubs2..authors WHERE 1 = 0"));
  ds->Open();
  EXPECT_TRUE(ds->Active());
  EXPECT_TRUE(ds->IsEmpty());
  EXPECT_EQ(ds->RecordCount(), 0);
  EXPECT_FALSE(ds->MoreRows());
}

TEST_F(NorvDataSetTest, FailedOpensLeaveTheDataSetClosed) {
  struct Case {
    const char* sql;
    const char* dbName;
    bool typeErrCont;
    QString error;
  };
  const Case cases[] = {
      {"  ", "db", false, QStringLiteral("Invalid TableName/SQL")},
      {"SELECT 1", "nosuchdb", false,
       QStringLiteral("Could not find NorvDatabase component named nosuchdb")},
      {"SELECT copy FROM pubs2..blurbs", "db", true,
       QStringLiteral("Invalid TableName/SQL - No columns could be found")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    auto ds = DataSet(QString::fromLatin1(c.sql));
    ds->SetDbName(QString::fromLatin1(c.dbName));
    ds->SetTypeErrShow(false);
    ds->SetTypeErrCont(c.typeErrCont);
    EXPECT_EQ(OpenError(*ds), c.error);
    EXPECT_FALSE(ds->Active());
    EXPECT_EQ(ds->RecordSize(), 0);
  }
}

TEST_F(NorvDataSetTest, EditsInsertsAndDeletesStayInTheCache) {
  auto ds = DataSet(QStringLiteral("SELECT au_id, au_lname FROM pubs2..authors ORDER BY au_id"));
  ds->Open();
  TField* name = ds->FieldByName(QStringLiteral("au_lname"));
  const QString before = name->AsString();
  ds->Edit();
  name->SetAsString(QStringLiteral("Changed"));
  EXPECT_EQ(ds->SnapshotFieldText(name), before);
  ds->Post();
  ds->Next();
  ds->Prior();
  EXPECT_EQ(name->AsString(), QStringLiteral("Changed"));

  ds->Last();
  const int count = ds->RecordCount();
  ds->First();
  ds->Delete();
  EXPECT_EQ(ds->RecordCount(), count - 1);
  ds->Insert();
  name->SetAsString(QStringLiteral("New"));
  ds->Post();
  EXPECT_EQ(ds->RecordCount(), count);
  ds->First();
  EXPECT_EQ(name->AsString(), QStringLiteral("New"));
}

TEST_F(NorvDataSetTest, ReadOnlyRefusesEditsAndIsSetOnlyWhileClosed) {
  auto ds = DataSet(QStringLiteral("SELECT au_id FROM pubs2..authors"));
  ds->SetReadOnly(true);
  ds->Open();
  EXPECT_FALSE(ds->CanModify());
  EXPECT_THROW(ds->Edit(), EDatabaseError);
  EXPECT_THROW(ds->SetReadOnly(false), EDatabaseError);
  EXPECT_TRUE(ds->ReadOnly());
}

TEST_F(NorvDataSetTest, TraceLinesOfAnOpenAndClose) {
  norvtest::TraceCapture trace;
  ASSERT_TRUE(trace.Listening());
  QObject owner;
  auto* ds = new TNorvSqlDataSet(&owner);
  ds->SetDbName(QStringLiteral("db"));
  ds->SetMonitor(true);
  ds->SetSql(QStringLiteral("SELECT n = 7"));
  ds->Open();
  ds->Close();
  const QStringList cursor = {
      "Open-Client: ct_cmd_alloc",
      "Open-Client: ct_cursor(CS_CURSOR_DECLARE)",
      "Open-Client: ct_cursor(CS_CURSOR_ROWS) - Rows : 10",
      "Open-Client: ct_cursor(CS_CURSOR_OPEN)",
      "SQL Execute : SELECT n = 7",
      "Open-Client: ct_results",
      "Open-Client: ct_res_info(CS_NUMDATA) - Number of columns : 1",
      "Open-Client: ct_describe",
      "Open-Client: ct_bind - Column Name : n",
  };
  const QStringList closing = {"Open-Client: ct_cursor(CS_CURSOR_CLOSE)",
                               "Open-Client: ct_cmd_drop"};
  const QStringList expected = QStringList{"Flow : ** Start of obtaining columns **"} + cursor +
                               closing + QStringList{"Flow : ** End of obtaining columns **"} +
                               cursor +
                               QStringList{"Open-Client: ct_fetch",
                                           "SQL Data Out: Column = 1, Name = n, Type = int, "
                                           "Precision = 0, Scale = 0, Data = 7"} +
                               closing;
  EXPECT_EQ(trace.Wait(expected.size()), expected);
}

}  // namespace
