// The query component against the sample server, through a connected connection component.
#include "query/norvquery.h"

#include "connection/norvcontext.h"
#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "connection/openclient.h"
#include "connection/openclient_internal.h"

#include "call_trace.h"
#include "recording_presenter.h"
#include "server_fixture.h"
#include "trace_capture.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QThread>
#include <QTime>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

// A grid owner as the query sees one: class name "TNorvGrid" and a Background property.
class TNorvGrid : public QObject, public TDbMessageReporter {
  Q_OBJECT
  Q_PROPERTY(bool Background MEMBER background)
 public:
  bool background = false;
};

using Kind = norv::RecordingPresenter::Kind;

std::unique_ptr<TNorvDatabase> Connect(const QString& name) {
  const auto& info = norvtest::SampleServer();
  auto db = std::make_unique<TNorvDatabase>();
  db->SetName(name);
  db->SetServerName(info.serverName);
  db->SetUserName(QStringLiteral("sa"));
  db->SetPassword(QString());
  db->SetLoginPrompt(false);
  db->SetConnected(true);
  return db;
}

// Every remaining row of the query, columns joined by '|'.
QStringList Rows(TNorvQuery& q) {
  QStringList rows;
  while (q.Fetch() == 1) {
    QStringList cols;
    for (int c = 1; c <= q.ColumnCount(); ++c) cols << q.FieldValue(c);
    rows << cols.join(QLatin1Char('|'));
  }
  return rows;
}

class QueryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto db = Connect(QStringLiteral("setup"));
    TNorvQuery q;
    q.SetDbName(QStringLiteral("setup"));
    const char* batches[] = {
        "if object_id('qt_five') is not null drop table qt_five",
        "create table qt_five (n int, s varchar(10) null)",
        "insert qt_five values (1, 'one') insert qt_five values (2, 'two') "
        "insert qt_five values (3, 'three') insert qt_five values (4, 'four') "
        "insert qt_five values (5, 'five')",
        "if object_id('qt_many') is not null drop table qt_many",
        "create table qt_many (n int)",
        "declare @i int select @i = 1 while @i <= 600 begin insert qt_many values (@i) "
        "select @i = @i + 1 end",
        "if object_id('qt_two_prints') is not null drop procedure qt_two_prints",
        "create procedure qt_two_prints as print 'first' print 'second'",
        "if object_id('qt_dup_proc') is not null drop procedure qt_dup_proc",
        "if object_id('qt_unique') is not null drop table qt_unique",
        "create table qt_unique (n int)",
        "create unique index qt_unique_n on qt_unique (n)",
        "insert qt_unique values (1)",
        "create procedure qt_dup_proc as\ndeclare @x int\ninsert qt_unique values (1)",
    };
    for (const char* sql : batches) {
      q.SetSql(QString::fromLatin1(sql));
      ASSERT_EQ(q.Execute(), CS_SUCCEED) << sql;
      Rows(q);
    }
  }

  void SetUp() override { db_ = Connect(QStringLiteral("db")); }

  std::unique_ptr<TNorvQuery> Query(const QString& sql) {
    auto q = std::make_unique<TNorvQuery>();
    q->SetDbName(QStringLiteral("db"));
    q->SetSql(sql);
    return q;
  }

  norv::ScopedRecordingPresenter shown_;
  std::unique_ptr<TNorvDatabase> db_;
};

// ---- Result loop -------------------------------------------------------------------------------

TEST_F(QueryTest, InsertThenSelectDeliversTheSelectAndCountsBoth) {
  auto q = Query(QStringLiteral("create table #t (id int, name varchar(10))"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(q->Fetch(), 0);
  q->SetSql(
      QStringLiteral("insert #t values (7, 'seven') insert #t values (8, 'eight')\n"
                     "select id, name from #t order by id"));
  std::vector<QString> atCommand;
  q->BeforeCommand = [&](QObject* sender) {
    atCommand.push_back(static_cast<TNorvQuery*>(sender)->FieldValue(2));
  };
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_TRUE(q->Active());
  // Stopped at the select's row result: described, not yet fetched; the count is the insert's.
  EXPECT_EQ(q->RowsAffected(), 1);
  EXPECT_EQ(q->ColumnCount(), 2);
  EXPECT_EQ(q->FieldName(1), QStringLiteral("id"));
  EXPECT_EQ(q->FieldName(2), QStringLiteral("name"));
  EXPECT_TRUE(atCommand.empty());
  EXPECT_EQ(Rows(*q), (QStringList{"7|seven", "8|eight"}));
  EXPECT_EQ(atCommand, std::vector<QString>{QStringLiteral("seven")});
  EXPECT_EQ(q->RowsAffected(), 2);
  EXPECT_TRUE(q->HadRows());
  EXPECT_EQ(q->Fetch(), 0);
}

TEST_F(QueryTest, TwoSelectsRaiseBeforeCommandAtEachFirstRow) {
  auto q =
      Query(QStringLiteral("select n from qt_five where n <= 3 order by n\n"
                           "select s from qt_five where n >= 4 order by n"));
  std::vector<std::pair<int, QString>> fired;
  q->BeforeCommand = [&](QObject*) {
    fired.emplace_back(q->LastCommandNumber(), q->FieldValue(1));
  };
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  QStringList rows;
  std::vector<int> rowInCommand;
  while (q->Next()) {
    rows << q->FieldValue(1);
    rowInCommand.push_back(q->RowInCommand());
  }
  EXPECT_EQ(rows, (QStringList{"1", "2", "3", "four", "five"}));
  EXPECT_EQ(rowInCommand, (std::vector<int>{1, 2, 3, 1, 2}));
  ASSERT_EQ(fired.size(), 2u);
  EXPECT_EQ(fired[0], std::make_pair(1, QStringLiteral("1")));
  EXPECT_EQ(fired[1], std::make_pair(2, QStringLiteral("four")));
  EXPECT_EQ(q->RecNo(), 5);
}

TEST_F(QueryTest, MaxRowsStopsTheSetAndRaisesOnMaxRowsOnce) {
  auto q = Query(QStringLiteral("select n from qt_five order by n"));
  q->SetMaxRows(2);
  int maxRowsFired = 0;
  q->OnMaxRows = [&](QObject* sender) {
    EXPECT_EQ(sender, q.get());
    ++maxRowsFired;
  };
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(q->Fetch(), 1);
  EXPECT_EQ(q->Fetch(), 1);
  EXPECT_EQ(q->FieldValue(1), QStringLiteral("2"));
  EXPECT_EQ(maxRowsFired, 0);
  EXPECT_EQ(q->Fetch(), 0);
  EXPECT_EQ(maxRowsFired, 1);
  EXPECT_EQ(q->Fetch(), 0);
  EXPECT_EQ(maxRowsFired, 1);
  EXPECT_EQ(q->RowsAffected(), 2);

  // The abandoned rows do not stand in the way of the next batch.
  q->SetMaxRows(0);
  q->SetSql(QStringLiteral("select count(*) from qt_five"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*q), QStringList{"5"});
}

// Without counts the limit still holds: it counts the rows delivered, not the server's counts.
TEST_F(QueryTest, MaxRowsHoldsWithNocountOn) {
  auto q = Query(QStringLiteral("set nocount on\nselect n from qt_five order by n"));
  q->SetMaxRows(2);
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*q), QStringList({"1", "2"}));
  q->SetMaxRows(0);
  q->SetSql(QStringLiteral("set nocount off"));
  EXPECT_EQ(q->Execute(), CS_SUCCEED);
}

TEST_F(QueryTest, StatementWithoutCountReportsZeroRows) {
  // The library reports -1 for a statement that carries no count; the query says 0.
  oc::CommandHandle cmd;
  ASSERT_EQ(oc::ct_cmd_alloc(db_->Handle(), cmd), CS_SUCCEED);
  ASSERT_EQ(oc::ct_command(cmd.get(), CS_LANG_CMD, "declare @x int", CS_NULLTERM, CS_UNUSED),
            CS_SUCCEED);
  ASSERT_EQ(oc::ct_send(cmd.get()), CS_SUCCEED);
  CS_INT type = 0;
  CS_INT raw = 0;
  bool sawCount = false;
  while (oc::ct_results(cmd.get(), &type) == CS_SUCCEED) {
    if (type == CS_CMD_SUCCEED || type == CS_CMD_DONE) {
      ASSERT_EQ(oc::ct_res_info(cmd.get(), CS_ROW_COUNT, &raw, CS_UNUSED, nullptr), CS_SUCCEED);
      sawCount = true;
    }
  }
  ASSERT_TRUE(sawCount);
  ASSERT_EQ(raw, -1);
  EXPECT_EQ(oc::ct_cmd_drop(cmd), CS_SUCCEED);

  auto q = Query(QStringLiteral("update qt_five set s = s where n <= 3"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(q->RowsAffected(), 3);
  // Another name: the sample server keeps a batch's variables for the next batch.
  q->SetSql(QStringLiteral("declare @y int"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(q->RowsAffected(), 0);
  EXPECT_FALSE(q->HadRows());
}

TEST_F(QueryTest, BlankSqlIsRefusedAndNothingIsFetched) {
  auto q = Query(QStringLiteral("  \r\n\t "));
  try {
    q->Execute();
    FAIL() << "no exception";
  } catch (const ENorvException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("SQL may not be null"));
  }
  EXPECT_FALSE(q->Executed());
  EXPECT_EQ(q->Fetch(), 0);
}

TEST_F(QueryTest, NameLookupFailuresRaiseBeforeAnythingIsSent) {
  TNorvQuery q;
  q.SetSql(QStringLiteral("select 1"));
  EXPECT_EQ(q.Fetch(), 0);  // nothing executed yet
  try {
    q.Execute();
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("DBName not specified"));
  }
  q.SetDbName(QStringLiteral("nosuchdb"));
  try {
    q.Execute();
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Could not find NorvDatabase component named nosuchdb"));
  }
}

TEST_F(QueryTest, LoginImpossibleRaisesOrShowsAsRaiseErrorsSays) {
  TNorvDatabase nologin;
  nologin.SetName(QStringLiteral("nologin"));
  nologin.SetServerName(QStringLiteral("SAMPLE"));
  nologin.SetUserName(QStringLiteral("no_such_login"));
  nologin.SetLoginPrompt(false);
  nologin.SetConnectError(false);
  TNorvQuery q;
  q.SetDbName(QStringLiteral("nologin"));
  q.SetSql(QStringLiteral("select 1"));
  try {
    q.Execute();
    FAIL() << "no exception";
  } catch (const ENorvException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Could not login to Server"));
  }
  EXPECT_TRUE(shown_->Taken().empty());
  q.SetRaiseErrors(false);
  EXPECT_EQ(q.Execute(), 0);
  const auto taken = shown_->Taken();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].kind, Kind::MessageBox);
  EXPECT_EQ(taken[0].caption, QStringLiteral("CT-Library error"));
  EXPECT_EQ(taken[0].text, QStringLiteral("Could not login to Server"));
  EXPECT_EQ(taken[0].icon, norv::MsgIcon::Error);
  EXPECT_FALSE(nologin.Connected());
}

TEST_F(QueryTest, ExecuteConnectsADisconnectedConnection) {
  db_->SetConnected(false);
  auto q = Query(QStringLiteral("select 42"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_TRUE(db_->Connected());
  EXPECT_EQ(Rows(*q), QStringList{"42"});
}

// ---- Cursor mode -------------------------------------------------------------------------------

TEST_F(QueryTest, CursorNamesComeFromTheClockAndThePreviousCursorIsDeallocated) {
  auto q = Query(QStringLiteral("select n from qt_five order by n"));
  q->SetIsCursor(true);
  q->SetReadOnly(true);
  norvtest::CallTrace trace;

  auto nameAt = [](const QTime& t) {
    return QString::number(t.hour()) + QString::number(t.minute()) + QString::number(t.second()) +
           QString::number(t.msec()) + QStringLiteral("_cur");
  };
  auto namesBetween = [&](QTime from, QTime to) {
    QStringList names;
    for (QTime t = from; t <= to; t = t.addMSecs(1)) names << nameAt(t);
    return names;
  };
  const QTime before = QTime::currentTime();
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  const QTime after = QTime::currentTime();
  const QString first = q->CursorName();
  EXPECT_TRUE(namesBetween(before, after).contains(first)) << first.toStdString();
  const TCursorStatus status = q->CursorStatus();
  EXPECT_TRUE(status.Contains(TCursorState::None));
  EXPECT_TRUE(status.Contains(TCursorState::Open));
  EXPECT_EQ(q->Fetch(), 1);  // left open, mid-set

  QThread::msleep(3);
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_NE(q->CursorName(), first);
  EXPECT_EQ(Rows(*q), (QStringList{"1", "2", "3", "4", "5"}));

  // In call order: declare, close with deallocation of the first, declare of the second.
  QStringList kinds;
  for (const QString& line : trace.Calls(QStringLiteral("ct_cursor"))) {
    const QStringList args = line.section(QLatin1Char('('), 1)
                                 .section(QLatin1Char(')'), 0, 0)
                                 .split(QStringLiteral(", "));
    ASSERT_GE(args.size(), 4) << line.toStdString();
    if (args[1] == QLatin1String("700")) kinds << QStringLiteral("declare ") + args[2];
    if (args[1] == QLatin1String("706")) kinds << QStringLiteral("close ") + args[3];
  }
  ASSERT_GE(kinds.size(), 3) << kinds.join(QLatin1Char(';')).toStdString();
  EXPECT_EQ(kinds[0], QStringLiteral("declare ") + first);
  EXPECT_EQ(kinds[1], QStringLiteral("close ") + QString::number(CS_DEALLOC));
  EXPECT_EQ(kinds[2], QStringLiteral("declare ") + q->CursorName());
}

TEST_F(QueryTest, CloseCursorLeavesNoCursorBehind) {
  auto q = Query(QStringLiteral("select n from qt_five"));
  q->SetIsCursor(true);
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  ASSERT_TRUE(q->CursorStatus().Contains(TCursorState::Open));
  q->CloseCursor();
  const TCursorStatus after = q->CursorStatus();
  EXPECT_FALSE(after.Contains(TCursorState::Open));
  EXPECT_FALSE(after.Contains(TCursorState::Declared));
}

class CursorRowsTest : public QueryTest, public ::testing::WithParamInterface<int> {};

TEST_P(CursorRowsTest, EveryRowOnceAndInOrder) {
  auto q = Query(QStringLiteral("select n from qt_many order by n"));
  q->SetIsCursor(true);
  q->SetReadOnly(true);
  q->SetCurFetchRows(GetParam());
  norvtest::CallTrace trace;
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  int expected = 1;
  while (q->Next()) {
    ASSERT_EQ(q->FieldValue(1), QString::number(expected)) << "row " << expected;
    // In cursor mode every row fetched since Execute counts.
    ASSERT_EQ(q->RowsAffected(), expected);
    ++expected;
  }
  EXPECT_EQ(expected - 1, 600);
  EXPECT_EQ(q->RecNo(), 600);
  // The library fetched whole batches of CurFetchRows, and one more that found the end.
  const int batches = (600 + GetParam() - 1) / GetParam();
  EXPECT_EQ(trace.Calls(QStringLiteral("ct_fetch_batch")).size(), batches + 1);
}

INSTANTIATE_TEST_SUITE_P(FetchRows, CursorRowsTest, ::testing::Values(10, 1000));

// ---- Closing results ---------------------------------------------------------------------------

class CloseResultsTest : public QueryTest,
                         public ::testing::WithParamInterface<std::pair<const char*, int>> {};

TEST_P(CloseResultsTest, CancelFollowsTheServerKind) {
  const auto [rdbms, cancelType] = GetParam();
  db_->SetRdbms(QString::fromLatin1(rdbms));
  auto q = Query(QStringLiteral("select n from qt_five order by n"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  ASSERT_EQ(q->Fetch(), 1);
  norvtest::CallTrace trace;
  q->CloseResults();
  const QStringList cancels = trace.Calls(QStringLiteral("ct_cancel"));
  if (cancelType == 0) {
    EXPECT_TRUE(cancels.isEmpty()) << cancels.join(QLatin1Char('\n')).toStdString();
    return;
  }
  ASSERT_EQ(cancels.size(), 1) << cancels.join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(cancels[0].contains(QStringLiteral(", ") + QString::number(cancelType) +
                                  QStringLiteral(") -> 1")))
      << cancels[0].toStdString();
  // Nothing is left pending: the same query runs the next batch.
  q->SetSql(QStringLiteral("select 'again'"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*q), QStringList{"again"});
}

INSTANTIATE_TEST_SUITE_P(Rdbms, CloseResultsTest,
                         ::testing::Values(std::make_pair("Sybase SQL Server", CS_CANCEL_ALL),
                                           std::make_pair("SQLAnywhere", CS_CANCEL_CURRENT),
                                           std::make_pair("Other", 0)));

// ---- Columns -----------------------------------------------------------------------------------

TEST_F(QueryTest, DisplayWidthsFollowTypeAndName) {
  auto q = Query(QStringLiteral(
      "select sixteen_chars_ab = 1, id = 2, vb600 = convert(varbinary(600), 0x0102), "
      "vb2000 = convert(varbinary(2000), 0xff), c10 = convert(char(10), 'abc'), "
      "vc300 = convert(varchar(300), 'x')"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  ASSERT_EQ(q->ColumnCount(), 6);
  EXPECT_EQ(q->FieldDisplayWidth(6), 300);
  EXPECT_EQ(q->FieldDisplayWidth(1), 16);
  EXPECT_EQ(q->FieldDisplayWidth(2), 11);
  EXPECT_EQ(q->FieldDisplayWidth(3), 1024);
  EXPECT_EQ(q->FieldMaxLength(3), 600);
  EXPECT_EQ(q->FieldDisplayWidth(4), 2000);
  EXPECT_EQ(q->FieldDisplayWidth(5), 10);
  EXPECT_EQ(q->FieldTypeName(1), QStringLiteral("int"));
  EXPECT_EQ(q->FieldTypeName(3), QStringLiteral("binary"));
  ASSERT_EQ(q->Fetch(), 1);
  EXPECT_TRUE(q->FieldValue(3).toLower().endsWith(QStringLiteral("0102")))
      << q->FieldValue(3).toStdString();
  EXPECT_EQ(q->FieldValue(5), QStringLiteral("abc       "));
  EXPECT_EQ(q->FieldValue(9), QString());  // outside the set
  EXPECT_EQ(q->FieldName(0), QString());
}

TEST_F(QueryTest, WideBinaryValueArrivesWhole) {
  // Its text form (1,202 characters) is wider than the column's display width.
  auto q = Query(QStringLiteral("select convert(varbinary(600), replicate('a', 600)), 'next'"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  ASSERT_EQ(q->Fetch(), 1);
  const QString hex = q->FieldValue(1).toLower();
  EXPECT_TRUE(hex == QString(QStringLiteral("61")).repeated(600) ||
              hex == QStringLiteral("0x") + QString(QStringLiteral("61")).repeated(600))
      << hex.size();
  EXPECT_EQ(q->FieldValue(2), QStringLiteral("next"));
}

TEST_F(QueryTest, NullsAreEmptyTextAlsoAfterAValue) {
  for (bool textImage : {false, true}) {
    auto q =
        Query(QStringLiteral("select n, s = case when n % 2 = 0 then null else s end, "
                             "d = case when n = 1 then getdate() else null end "
                             "from qt_five order by n"));
    q->SetTextImage(textImage);
    ASSERT_EQ(q->Execute(), CS_SUCCEED);
    const QStringList rows = Rows(*q);
    ASSERT_EQ(rows.size(), 5) << "text/image " << textImage;
    EXPECT_TRUE(rows[0].startsWith(QStringLiteral("1|one|"))) << rows[0].toStdString();
    EXPECT_GT(rows[0].size(), QStringLiteral("1|one|").size());
    EXPECT_EQ(rows[1], QStringLiteral("2||"));
    EXPECT_EQ(rows[2], QStringLiteral("3|three|"));
    EXPECT_EQ(rows[3], QStringLiteral("4||"));
  }
}

// A bind failing on a later column frees the buffers of the columns bound before it; they are
// unbound first, so the fetches that follow write into none of them (AddressSanitizer watches).
// No server answer makes ct_bind fail, so the adapter's test seam fails the last column's bind.
TEST_F(QueryTest, BindFailingOnALaterColumnLeavesNoColumnWritingIntoFreedBuffers) {
  auto q = Query(QStringLiteral("select n, s, t = 'x' from qt_five order by n"));
  oc::detail::fail_next_bind(3);
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(q->BoundCount(), 0);
  EXPECT_EQ(Rows(*q), QStringList(5, QStringLiteral("||")));
}

// Numbers and money bound as text read as the library's own conversion writes them.
TEST_F(QueryTest, NumberAndMoneyTextsAreTheLibrarysConversions) {
  auto q = Query(QStringLiteral(
      "select convert(money, 0.01), convert(money, -1234.5678), convert(smallmoney, -2.5), "
      "convert(money, 922337203685477.5807), convert(money, -922337203685477.5808), "
      "convert(smallmoney, 214748.3647), convert(money, 0), 0, -5, 2147483647, "
      "convert(int, -2147483648), convert(smallint, -32768), convert(tinyint, 255), null, "
      "convert(money, null), convert(numeric(5,2), -0.5), convert(numeric(38,10), 12345.678), "
      "convert(decimal(3,0), 0), convert(numeric(9,2), null)"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*q), QStringList({QStringLiteral(
                          "0.0100|-1234.5678|-2.5000|922337203685477.5807|-922337203685477.5808|"
                          "214748.3647|0.0000|0|-5|2147483647|-2147483648|-32768|255|||"
                          "-0.50|12345.6780000000|0|")}));
}

TEST_F(QueryTest, DatetimeTextKeepsSeconds) {
  for (bool textImage : {false, true}) {
    auto q = Query(QStringLiteral("select convert(datetime, 'Dec 29 1999 1:02:03PM')"));
    q->SetTextImage(textImage);
    ASSERT_EQ(q->Execute(), CS_SUCCEED);
    EXPECT_EQ(Rows(*q), QStringList{"Dec 29 1999  1:02:03:000PM"}) << "text/image " << textImage;
  }
}

TEST_F(QueryTest, TrimResultsTrimsBothEnds) {
  auto q = Query(QStringLiteral("select '  ab  '"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  ASSERT_EQ(q->Fetch(), 1);
  EXPECT_EQ(q->FieldValue(1), QStringLiteral("  ab  "));
  q->SetTrimResults(true);
  EXPECT_EQ(q->FieldValue(1), QStringLiteral("ab"));
}

TEST_F(QueryTest, NativeDatesUseTheDesktopForm) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  auto q = Query(QStringLiteral(
      "select convert(datetime, 'Dec 29 1999 1:02:03PM'), convert(datetime, 'Jan 2 2006'), "
      "convert(datetime, null), 'Dec 29 1999 1:02:03PM'"));
  q->SetNativeDtFmt(true);
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  const QStringList rows = Rows(*q);
  QLocale::setDefault(saved);
  // Seconds kept, fractions dropped, no time at midnight; text columns untouched.
  EXPECT_EQ(rows, QStringList{"12/29/99 1:02:03 PM|1/2/06||Dec 29 1999 1:02:03PM"});
}

TEST_F(QueryTest, TextReadInPiecesArrivesWhole) {
  auto q =
      Query(QStringLiteral("create table #blob (id int, t text null)\n"
                           "insert #blob values (1, replicate('x', 1000) + replicate('y', 1000) "
                           "+ replicate('z', 1000))"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  Rows(*q);
  q->SetTextImage(true);
  q->SetSql(QStringLiteral("select t, id from #blob"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  norvtest::CallTrace trace;
  ASSERT_EQ(q->Fetch(), 1);
  const QString expected = QString(1000, u'x') + QString(1000, u'y') + QString(1000, u'z');
  EXPECT_EQ(q->FieldValue(1), expected);
  EXPECT_EQ(q->FieldValue(2), QStringLiteral("1"));
  EXPECT_EQ(q->FieldTypeName(1), QStringLiteral("text"));
  QStringList pieces;
  for (const QString& line : trace.Calls(QStringLiteral("ct_get_data")))
    if (line.contains(QStringLiteral(", 1, 1025)"))) pieces << line;
  EXPECT_EQ(pieces.size(), 3) << pieces.join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(q->Fetch(), 0);
}

TEST_F(QueryTest, DescribeColumnsOfAQueryWithoutRows) {
  db_->SetProcOptions({poNoCount});
  auto q = Query(QStringLiteral("select n, s from qt_five where 1 = 2"));
  q->DescribeColumns();
  EXPECT_TRUE(db_->ProcOptions() == TProcOptions{poNoCount});
  ASSERT_EQ(q->ColumnCount(), 2);
  EXPECT_EQ(q->FieldName(1), QStringLiteral("n"));
  EXPECT_EQ(q->FieldTypeName(1), QStringLiteral("int"));
  EXPECT_EQ(q->FieldName(2), QStringLiteral("s"));
  EXPECT_EQ(q->FieldTypeName(2), QStringLiteral("char"));
  EXPECT_EQ(q->FieldMaxLength(2), 10);
  EXPECT_TRUE(q->FieldIsNullable(2));
  EXPECT_TRUE(q->IsCursor());

  // Format-only is off again: rows come back.
  auto after = Query(QStringLiteral("select count(*) from qt_five"));
  ASSERT_EQ(after->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*after), QStringList{"5"});
}

TEST_F(QueryTest, DescribeColumnsRestoresOptionsWhenTheServerRejectsTheSql) {
  db_->SetProcOptions({poQuotedIdent});
  auto q = Query(QStringLiteral("select nosuchcol from nosuch_table_q"));
  EXPECT_THROW(q->DescribeColumns(), EDatabaseError);
  EXPECT_TRUE(db_->ProcOptions() == TProcOptions{poQuotedIdent});
  auto after = Query(QStringLiteral("select n from qt_five where n = 2"));
  ASSERT_EQ(after->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*after), QStringList{"2"});
}

// ---- Messages ----------------------------------------------------------------------------------

// A program tells server errors apart by the records the error carries, while the text shown
// stays the router's.
TEST_F(QueryTest, ServerErrorsCarryTheirRecords) {
  struct Case {
    const char* sql;
    int number, severity, line;
    const char* procedure;
    const char* textHead;
  };
  const Case cases[] = {
      {"insert qt_unique values (1)", ServerMessage::kDuplicateKey, 14, 1, "",
       "Attempt to insert duplicate key row in object 'qt_unique'"},
      {"select n from qt_no_such_table", 208, 16, 1, "", "qt_no_such_table not found."},
      {"exec qt_dup_proc", ServerMessage::kDuplicateKey, 14, 3, "qt_dup_proc",
       "Attempt to insert duplicate key row in object 'qt_unique'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    auto q = Query(QString::fromLatin1(c.sql));
    q->SetName(QStringLiteral("q1"));
    try {
      q->Execute();
      ADD_FAILURE() << "no exception";
    } catch (const EDatabaseError& e) {
      ASSERT_FALSE(e.Records().empty());
      const TServerMessageRecord& r = e.Records().front();
      EXPECT_EQ(e.Number(), c.number);
      EXPECT_TRUE(e.HasNumber(c.number));
      EXPECT_FALSE(e.HasNumber(ServerMessage::kDeadlock));
      EXPECT_EQ(r.Severity, c.severity);
      EXPECT_EQ(r.State, 1);
      EXPECT_EQ(r.Line, c.line);
      EXPECT_EQ(r.Server, QStringLiteral("SAMPLE"));
      EXPECT_EQ(r.Procedure, QString::fromLatin1(c.procedure));
      EXPECT_TRUE(r.Text.contains(QString::fromLatin1(c.textHead))) << r.Text.toStdString();
      // The text shown is built from the same record, unchanged; the context is read apart.
      EXPECT_EQ(e.Message(),
                QStringLiteral("Server   : SAMPLE\r\nMessage  : %1\r\nSeverity : %2\r\n"
                               "Line     : %3\r\n\r\n%4")
                    .arg(c.number)
                    .arg(c.severity)
                    .arg(c.line)
                    .arg(r.Text));
      EXPECT_EQ(e.Context(), QStringList{QStringLiteral("TNorvQuery q1: ") + QLatin1String(c.sql)});
    }
  }
}

TEST_F(QueryTest, SyntaxErrorRaisesTheServerText) {
  auto q = Query(QStringLiteral("select from where"));
  int onError = 0, afterError = 0;
  q->OnDbError = [&](QObject*) { ++onError; };
  q->AfterDbError = [&](QObject*) { ++afterError; };
  try {
    q->Execute();
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Server   : SAMPLE\r\nMessage  : 156\r\n")))
        << e.what();
    EXPECT_TRUE(e.Message().endsWith(QStringLiteral("Incorrect syntax near the keyword 'from'.")))
        << e.what();
    EXPECT_EQ(e.Message(), q->DbErrorText());
  }
  EXPECT_EQ(onError, 1);
  EXPECT_EQ(afterError, 1);
  EXPECT_EQ(q->DbServerMsg().msgnumber, 156);
  EXPECT_TRUE(shown_->Taken().empty());
  EXPECT_EQ(q->Fetch(), 0);

  // The connection is fine afterwards.
  q->SetSql(QStringLiteral("select 1"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*q), QStringList{"1"});
  EXPECT_TRUE(q->DbErrorText().isEmpty());
}

TEST_F(QueryTest, SyntaxErrorUnderEnhancedErrorsShowsTheWindowAndAborts) {
  auto q = Query(QStringLiteral("select from where"));
  q->SetMsgDialogs({mdEnhErr});
  EXPECT_THROW(q->Execute(), EAbort);
  const auto taken = shown_->Taken();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].kind, Kind::Beep);
  EXPECT_EQ(taken[1].kind, Kind::MessageWindow);
  EXPECT_EQ(taken[1].caption, QStringLiteral("CT-Library error"));
  EXPECT_EQ(taken[1].text, q->DbErrorText());
  EXPECT_EQ(taken[1].bottom, norv::PanelColour::Error);
}

TEST_F(QueryTest, BackgroundGridOwnerGetsErrorsShownNotRaised) {
  TNorvGrid grid;
  ASSERT_STREQ(grid.metaObject()->className(), "TNorvGrid");
  grid.background = true;
  auto* q = new TNorvQuery(&grid);
  q->SetDbName(QStringLiteral("db"));
  q->SetSql(QStringLiteral("select from where"));
  EXPECT_EQ(q->Execute(), 0);
  EXPECT_FALSE(q->RaiseErrors());
  const auto taken = shown_->Taken();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].kind, Kind::MessageBox);
  EXPECT_EQ(taken[0].caption, QStringLiteral("CT-Library error"));
  EXPECT_EQ(taken[0].icon, norv::MsgIcon::Error);
  // The grid keeps a copy of what its query was told.
  EXPECT_EQ(grid.DbErrorText(), q->DbErrorText());
  EXPECT_EQ(grid.DbServerMsg().msgnumber, 156);
}

TEST_F(QueryTest, DatabaseChangedMessageIsSkipped) {
  auto q = Query(QStringLiteral("use master"));
  int messages = 0;
  q->OnDbMessage = [&](QObject*) { ++messages; };
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  Rows(*q);
  EXPECT_EQ(messages, 0);
  EXPECT_TRUE(q->DbMessageText().isEmpty());
  EXPECT_TRUE(shown_->Taken().empty());
}

TEST_F(QueryTest, InformationalTextsOfOneStepAreJoined) {
  auto q = Query(QStringLiteral("exec qt_two_prints"));
  int messages = 0;
  QString atEvent;
  q->OnDbMessage = [&](QObject* sender) {
    ++messages;
    atEvent = static_cast<TNorvQuery*>(sender)->DbMessageText();
  };
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  Rows(*q);
  EXPECT_EQ(messages, 1);
  EXPECT_TRUE(atEvent.startsWith(QStringLiteral("Server   : "))) << atEvent.toStdString();
  EXPECT_TRUE(atEvent.endsWith(QStringLiteral("\r\nfirstsecond"))) << atEvent.toStdString();
  const auto taken = shown_->Taken();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].kind, Kind::MessageBox);
  EXPECT_EQ(taken[0].caption, QStringLiteral("CT-Library message"));
  EXPECT_EQ(taken[0].text, atEvent);
}

// ---- Options the library cannot send itself ---------------------------------------------------

TEST_F(QueryTest, RowCountOptionLimitsRows) {
  CS_INT two = 2;
  ASSERT_EQ(oc::ct_options(db_->Handle(), CS_SET, CS_OPT_ROWCOUNT, &two, CS_UNUSED, nullptr),
            CS_SUCCEED);
  auto q = Query(QStringLiteral("select n from qt_five order by n"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*q), (QStringList{"1", "2"}));
  CS_INT back = 0;
  ASSERT_EQ(oc::ct_options(db_->Handle(), CS_GET, CS_OPT_ROWCOUNT, &back, CS_UNUSED, nullptr),
            CS_SUCCEED);
  EXPECT_EQ(back, 2);
  CS_INT none = 0;
  ASSERT_EQ(oc::ct_options(db_->Handle(), CS_SET, CS_OPT_ROWCOUNT, &none, CS_UNUSED, nullptr),
            CS_SUCCEED);
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*q).size(), 5);

  db_->SetRowCount(3);
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*q).size(), 3);
}

// ---- Trace -------------------------------------------------------------------------------------

TEST_F(QueryTest, TraceLinesGoToTheMonitorInCallOrder) {
  norvtest::TraceCapture trace;
  ASSERT_TRUE(trace.Listening());
  QObject owner;
  auto* q = new TNorvQuery(&owner);
  q->SetDbName(QStringLiteral("db"));
  q->SetMonitor(true);
  q->SetSql(QStringLiteral("select n, s from qt_five where n = 1"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*q), QStringList{"1|one"});
  const QStringList expected = {
      "Flow : ** Start of EXECUTE **",
      "Open-Client: ct_cmd_drop",
      "SQL Execute: select n, s from qt_five where n = 1",
      "Open-Client: ct_res_info(CS_NUMDATA) - Number of columns : 2",
      "Open-Client: ct_bind - Column Name : n",
      "Open-Client: ct_bind - Column Name : s",
      "Flow : ** End of EXECUTE **",
      "Open-Client: ct_fetch",
      "SQL Data Out: Column = 1, Name = n, Type = int, Precision = 0, Scale = 0, Data = 1",
      "SQL Data Out: Column = 2, Name = s, Type = char, Precision = 0, Scale = 0, Data = one",
      "Open-Client: ct_fetch",
      "Open-Client: ct_res_info(CS_ROW_COUNT) - Number of rows : 1",
  };
  EXPECT_EQ(trace.Wait(expected.size()), expected);
}

// ---- Threads and connections ----------------------------------------------------------------

TEST_F(QueryTest, ConnectionsNeverSeeEachOthersMessages) {
  auto other = Connect(QStringLiteral("other"));
  std::atomic<int> errors{0};
  std::atomic<int> wrongErrors{0};
  std::thread worker([&] {
    TNorvQuery q;
    q.SetDbName(QStringLiteral("other"));
    q.SetSql(QStringLiteral("select * from worker_missing_table"));
    for (int i = 0; i < 40; ++i) {
      try {
        q.Execute();
      } catch (const EDatabaseError& e) {
        ++errors;
        if (!e.Message().contains(QStringLiteral("worker_missing_table"))) ++wrongErrors;
      }
    }
  });
  auto q = Query(QString());
  int wrong = 0;
  for (int i = 0; i < 40; ++i) {
    const QString text = QStringLiteral("main %1").arg(i);
    q->SetSql(QStringLiteral("print '%1' select %2").arg(text).arg(i));
    ASSERT_EQ(q->Execute(), CS_SUCCEED);
    ASSERT_EQ(Rows(*q), QStringList{QString::number(i)});
    if (!q->DbMessageText().endsWith(text) || !q->DbErrorText().isEmpty()) ++wrong;
  }
  worker.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(errors.load(), 40);
  EXPECT_EQ(wrongErrors.load(), 0);
}

// ---- Lost connections -------------------------------------------------------------------------

TEST_F(QueryTest, CommandOfADisconnectedConnectionIsSafeToClose) {
  auto q = Query(QStringLiteral("select n from qt_five order by n"));
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  ASSERT_EQ(q->Fetch(), 1);
  db_->SetConnected(false);
  EXPECT_EQ(q->Fetch(), 0);
  q->CloseResults();
  q->CloseCursor();
  q->SetActive(false);
  EXPECT_FALSE(q->Active());
  q.reset();

  auto again = Query(QStringLiteral("select 'back'"));
  ASSERT_EQ(again->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*again), QStringList{"back"});
}

TEST_F(QueryTest, ServerGoneMidResultIsAClearErrorAndReconnectingWorks) {
  auto q = Query(QStringLiteral("select n from qt_many order by n"));
  q->SetIsCursor(true);
  q->SetCurFetchRows(1);  // a round trip per row
  ASSERT_EQ(q->Execute(), CS_SUCCEED);
  ASSERT_EQ(q->Fetch(), 1);
  ASSERT_EQ(q->Fetch(), 1);
  norvtest::StopSampleServer();
  try {
    int fetched = 0;
    while (q->Fetch() == 1) ASSERT_LT(++fetched, 600);
    ADD_FAILURE() << "no error after " << fetched << " rows";
  } catch (const ENorvException& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Connection to the server was lost"));
  }
  EXPECT_EQ(q->Fetch(), 0);
  EXPECT_THROW(q->Execute(), ENorvException);
  q.reset();
  db_.reset();

  norvtest::SampleServer();
  SetUpTestSuite();
  db_ = Connect(QStringLiteral("db"));
  auto again = Query(QStringLiteral("select count(*) from qt_many"));
  ASSERT_EQ(again->Execute(), CS_SUCCEED);
  EXPECT_EQ(Rows(*again), QStringList{"600"});
}

}  // namespace

#include "test_query.moc"
