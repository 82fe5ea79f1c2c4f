// The server data set under bad input and faults: the connection or the server gone between two
// fetches, statements without columns, unsupported columns and bookmarks that do not belong. Each
// ends in an error, the data set closed or open on the rows it has, and nothing hangs.
#include "dataset/norvsqldataset.h"

#include "connection/norvdatabase.h"

#include "dataset_fixture.h"
#include "recording_presenter.h"
#include "server_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using Kind = norv::RecordingPresenter::Kind;

constexpr const char* kAuthors = "SELECT au_id FROM pubs2..authors ORDER BY au_id";

// What an action ended in: the error text, "abort" for a silent abort, empty when it went well.
QString Outcome(const std::function<void()>& action) {
  try {
    action();
  } catch (const EAbort&) {
    return QStringLiteral("abort");
  } catch (const Exception& e) {
    return e.Message();
  }
  return QString();
}

class NorvFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override { db_ = norvtest::ConnectSample(QStringLiteral("db")); }

  std::unique_ptr<TNorvSqlDataSet> DataSet(const QString& sql) {
    auto ds = std::make_unique<TNorvSqlDataSet>();
    ds->SetName(QStringLiteral("Faults1"));
    ds->SetDbName(QStringLiteral("db"));
    ds->SetSql(sql);
    return ds;
  }

  int MessageBoxes() const {
    int n = 0;
    for (const auto& s : shown_->Taken()) n += s.kind == Kind::MessageBox ? 1 : 0;
    return n;
  }

  norv::ScopedRecordingPresenter shown_;
  std::unique_ptr<TNorvDatabase> db_;
};

// The rows fetched before the connection went stay readable; the next fetch says the connection
// was lost instead of passing the cache off as the whole result.
TEST_F(NorvFaultsTest, ConnectionGoneBetweenFetches) {
  struct Case {
    const char* how;
    std::function<void()> cut;
  };
  const std::vector<Case> cases = {
      {"server stopped", [] { norvtest::StopSampleServer(); }},
      {"closed underneath", [this] { db_->SetConnected(false); }},
      {"component destroyed", [this] { db_.reset(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    // Prepared, so the close also has a statement to release on the lost connection.
    auto ds = DataSet(
        QStringLiteral("SELECT au_id FROM pubs2..authors WHERE au_id > :low ORDER BY au_id"));
    ds->ParamByName(QStringLiteral("low")).SetAsString(QStringLiteral("0"));
    ds->SetFetchRows(1);  // a round trip per row
    ds->Open();
    ASSERT_TRUE(ds->Prepared());
    ds->Next();
    ds->Next();
    const QString third = ds->FieldByName(QStringLiteral("au_id"))->AsString();
    ASSERT_EQ(ds->CachedCount(), 3);
    c.cut();

    EXPECT_EQ(Outcome([&] { ds->Next(); }), QStringLiteral("Connection to the server was lost"));
    EXPECT_TRUE(ds->Active());
    EXPECT_FALSE(ds->MoreRows());
    EXPECT_EQ(ds->RecordCount(), 3);
    EXPECT_EQ(ds->FieldByName(QStringLiteral("au_id"))->AsString(), third);
    ds->Prior();
    EXPECT_EQ(ds->RecNo(), 2);
    ds->First();
    EXPECT_EQ(ds->RecNo(), 1);
    EXPECT_EQ(Outcome([&] { ds->Last(); }), QString());
    EXPECT_EQ(ds->RecNo(), 3);
    EXPECT_EQ(ds->FieldByName(QStringLiteral("au_id"))->AsString(), third);
    ds->Next();
    EXPECT_TRUE(ds->Eof());
    EXPECT_EQ(Outcome([&] { ds->Close(); }), QString());
    EXPECT_FALSE(ds->Active());
    ds.reset();

    norvtest::SampleServer();  // a fresh one when it was stopped
    db_.reset();
    db_ = norvtest::ConnectSample(QStringLiteral("db"));
  }
}

// Last and Close on a data set whose connection went before any row after the first was read;
// the destructor closes such a data set without throwing.
TEST_F(NorvFaultsTest, LastAndCloseAfterTheConnectionIsGone) {
  struct Case {
    const char* how;
    std::function<void()> cut;
    bool close;
  };
  const std::vector<Case> cases = {
      {"server stopped", [] { norvtest::StopSampleServer(); }, true},
      {"server stopped", [] { norvtest::StopSampleServer(); }, false},
      {"closed underneath", [this] { db_->SetConnected(false); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    auto ds = DataSet(QString::fromLatin1(kAuthors));
    ds->SetFetchRows(1);
    ds->Open();
    c.cut();
    EXPECT_EQ(Outcome([&] { ds->Last(); }), QStringLiteral("Connection to the server was lost"));
    EXPECT_TRUE(ds->Active());
    EXPECT_EQ(ds->RecordCount(), 1);
    ds->First();
    EXPECT_EQ(ds->FieldByName(QStringLiteral("au_id"))->AsString().size(), 11);
    if (c.close) {
      EXPECT_EQ(Outcome([&] { ds->Close(); }), QString());
    }
    ds.reset();
    norvtest::SampleServer();
    db_.reset();
    db_ = norvtest::ConnectSample(QStringLiteral("db"));
  }
}

// Statements that give no cursor end the open in the server's error, the data set closed, its
// statement released and the connection free for the next one.
TEST_F(NorvFaultsTest, StatementsThatOpenNoCursor) {
  struct Case {
    const char* sql;
    const char* v;  // the :v value, when the statement has one
    const char* message;
  };
  const std::vector<Case> cases = {
      {"print 'x'", nullptr, "Message  : 102"},
      {"set nocount on", nullptr, "Message  : 102"},
      {"update pubs2..authors set au_lname = au_lname where 1 = 0", nullptr, "Message  : 102"},
      {"declare @x int", nullptr, "Message  : 102"},
      {"SELECT * FROM pubs2..no_such_table", nullptr, "Message  : 208"},
      {"SELECT * FROM FROM", nullptr, "Message  : 156"},
      // Prepared, and refused by the server only when opened with the value.
      {"SELECT au_id FROM pubs2..authors WHERE au_id = convert(int, :v)", "abc", "Message  : 249"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    auto ds = DataSet(QString::fromLatin1(c.sql));
    if (c.v) ds->ParamByName(QStringLiteral("v")).SetAsString(QString::fromLatin1(c.v));
    const QString error = Outcome([&] { ds->Open(); });
    EXPECT_TRUE(error.contains(QLatin1String(c.message))) << error.toStdString();
    EXPECT_FALSE(ds->Active());
    EXPECT_FALSE(ds->Prepared());
    EXPECT_EQ(ds->RecordSize(), 0);
    auto after = DataSet(QStringLiteral("SELECT n = :n"));
    after->ParamByName(QStringLiteral("n")).SetAsInteger(1);
    after->Open();
    EXPECT_EQ(after->FieldByName(QStringLiteral("n"))->AsInteger(), 1);
  }
}

// The router passes over a few error numbers (2401, 2409) without raising; the statement they fail
// still fails.
TEST_F(NorvFaultsTest, StatementFailedWithAnUnreportedErrorStillFails) {
  auto ds = DataSet(QStringLiteral("raiserror 2409 'not reported'"));
  EXPECT_EQ(Outcome([&] { ds->ExecStatement(); }), QStringLiteral("abort"));
}

// Opening and executing on a connection whose server is gone end in an error, never in a data
// set that looks empty or a statement that looks done.
TEST_F(NorvFaultsTest, StatementsAfterTheServerIsGone) {
  auto open = DataSet(QString::fromLatin1(kAuthors));
  auto exec = DataSet(QStringLiteral("update pubs2..authors set au_lname = au_lname"));
  norvtest::StopSampleServer();
  EXPECT_EQ(Outcome([&] { open->Open(); }), QStringLiteral("Connection to the server was lost"));
  EXPECT_FALSE(open->Active());
  EXPECT_EQ(Outcome([&] { exec->ExecStatement(); }),
            QStringLiteral("Connection to the server was lost"));
  norvtest::SampleServer();
  db_.reset();
  db_ = norvtest::ConnectSample(QStringLiteral("db"));
}

// Each unsupported type is refused, skipped quietly or skipped with one box per cursor; the columns
// around a skipped one read their values, one row or many per exchange.
TEST_F(NorvFaultsTest, UnsupportedColumnTypes) {
  struct Case {
    const char* sql;
    bool cont;
    bool show;
    QString error;
    QString row;  // the first record, fields joined by '|'
    int boxes;
  };
  const std::vector<Case> cases = {
      {"SELECT au_id, pic FROM pubs2..au_pix", false, true,
       QStringLiteral(R"(Fieldtype "IMAGE" of field "pic" not supported)"), QString(), 0},
      {"SELECT au_id, pic, format_type FROM pubs2..au_pix WHERE au_id = '201-45-7781'", true, false,
       QString(), QStringLiteral("201-45-7781|GIF"), 0},
      {"SELECT au_id, copy, au_id FROM pubs2..blurbs WHERE au_id = '201-45-7781'", true, false,
       QString(), QStringLiteral("201-45-7781|201-45-7781"), 0},
      {"SELECT vb = convert(varbinary(4), 0x01), n = 2", true, true, QString(), QStringLiteral("2"),
       2},
      {"SELECT n = 2, bn = convert(binary(2), 0x0102)", false, false,
       QStringLiteral(R"(Fieldtype "BINARY" of field "bn" not supported)"), QString(), 0},
  };
  for (const Case& c : cases) {
    for (int fetchRows : {1, 10}) {
      SCOPED_TRACE(
          QStringLiteral("%1 %2").arg(QString::fromLatin1(c.sql)).arg(fetchRows).toStdString());
      shown_->Clear();
      auto ds = DataSet(QString::fromLatin1(c.sql));
      ds->SetTypeErrCont(c.cont);
      ds->SetTypeErrShow(c.show);
      ds->SetFetchRows(fetchRows);
      EXPECT_EQ(Outcome([&] { ds->Open(); }), c.error);
      EXPECT_EQ(ds->Active(), c.error.isEmpty());
      QStringList row;
      for (int i = 0; i < ds->FieldCount(); ++i) row << ds->Fields()[i]->AsString();
      EXPECT_EQ(row.join(QLatin1Char('|')), c.row);
      EXPECT_EQ(MessageBoxes(), c.boxes);
    }
  }
}

// A bookmark that is not one of this open data set's cached records is refused and leaves the
// current record where it was.
TEST_F(NorvFaultsTest, BookmarksThatDoNotBelong) {
  auto other = DataSet(QString::fromLatin1(kAuthors));
  other->Open();
  other->Last();
  const TBookmark foreign = other->GetBookmark();
  auto mark = [](qint32 index) {
    TBookmark b(8, '\0');
    std::memcpy(b.data(), &index, 4);
    return b;
  };
  auto ds = DataSet(QString::fromLatin1(kAuthors));
  ds->SetFetchRows(1);
  ds->Open();
  ds->Next();
  const TBookmark stale = ds->GetBookmark();
  const QString second = ds->FieldByName(QStringLiteral("au_id"))->AsString();
  struct Case {
    TBookmark bookmark;
    QString error;
  };
  const std::vector<Case> cases = {
      {foreign, QStringLiteral("Bookmark %1 not found!").arg(other->RecordCount() - 1)},
      {mark(2), QStringLiteral("Bookmark 2 not found!")},  // a row the server has, not yet read
      {mark(0x7fffffff), QStringLiteral("Bookmark 2147483647 not found!")},
      {TBookmark(8, '\xff'), QStringLiteral("Bookmark -1 not found!")},
      {TBookmark(2, '\x01'), QStringLiteral("Bookmark -1 not found!")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Outcome([&] { ds->GotoBookmark(c.bookmark); }), c.error);
    EXPECT_EQ(ds->RecNo(), 2);
    EXPECT_EQ(ds->FieldByName(QStringLiteral("au_id"))->AsString(), second);
  }
  EXPECT_EQ(ds->CachedCount(), 2);
  ds->Close();
  EXPECT_EQ(Outcome([&] { ds->GotoBookmark(stale); }),
            QStringLiteral("Cannot perform this operation on a closed dataset"));
  ds->SetSql(QStringLiteral("SELECT au_id FROM pubs2..authors WHERE 1 = 0"));
  ds->Open();
  EXPECT_EQ(Outcome([&] { ds->GotoBookmark(stale); }), QStringLiteral("Bookmark 1 not found!"));
  EXPECT_TRUE(ds->IsEmpty());
}

}  // namespace
