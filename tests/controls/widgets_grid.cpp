// The result grid against the sample server: script splitting, the listing's lines, and runs on the
// worker thread, stopped or failing.
#include "controls/norvgrid.h"

#include "connection/norvdatabase.h"
#include "connection/norvexception.h"

#include "recording_presenter.h"
#include "server_fixture.h"
#include "widget_helpers.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <memory>
#include <ostream>

// Readable failure output for the listings.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

class GridTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto& info = norvtest::SampleServer();
    db_ = new TNorvDatabase();
    db_->SetName(QStringLiteral("griddb"));
    db_->SetServerName(info.serverName);
    db_->SetUserName(QStringLiteral("sa"));
    db_->SetPassword(QString());
    db_->SetLoginPrompt(false);
    db_->SetDBName(QStringLiteral("pubs2"));
    db_->SetConnected(true);
    ASSERT_TRUE(db_->Connected());
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }
  void SetUp() override {
    if (!db_->Connected()) db_->SetConnected(true);
    grid_ = std::make_unique<TNorvGrid>();
    grid_->SetDbName(QStringLiteral("griddb"));
  }

  // The listing, one line a row: the cells joined by '|', trailing empty cells dropped.
  QStringList Listing() const {
    QStringList lines;
    for (int r = 0; r < grid_->RowCount(); ++r) {
      QStringList cells;
      for (int c = 0; c < grid_->ColCount(); ++c) {
        cells << grid_->Cells(c, r);
      }
      while (!cells.isEmpty() && cells.last().isEmpty()) cells.removeLast();
      lines << cells.join(QLatin1Char('|'));
    }
    return lines;
  }

  bool WaitIdle(int timeoutMs = 20000) {
    return norvtest::ProcessUntil([&] { return !grid_->Busy(); }, timeoutMs);
  }

  static TNorvDatabase* db_;
  std::unique_ptr<TNorvGrid> grid_;
};

TNorvDatabase* GridTest::db_ = nullptr;

// ---- Splitting
// -----------------------------------------------------------------------------------

TEST_F(GridTest, SplitsAtGoLinesOfEitherCaseAndInsideWordsEndingInGo) {
  grid_->SetSql(QStringLiteral("select 1\r\ngo\r\nselect 2\r\n"));
  grid_->SplitBatch();
  EXPECT_EQ(grid_->Statements(),
            QStringList({"select 1\r", "ROWCOUNT", "select 2\r\n\r", "ROWCOUNT"}));

  // Line feeds alone, as a text editor here gives them, count as line ends too.
  grid_->SetSql(QStringLiteral("select 1\nGO\nselect 2"));
  grid_->SplitBatch();
  EXPECT_EQ(grid_->Statements(), QStringList({"select 1\r", "ROWCOUNT", "select 2\r", "ROWCOUNT"}));

  // A word ending in "go" at a line end splits there, and loses the letter before it.
  grid_->SetSql(QStringLiteral("select * from cargo\nselect 2"));
  grid_->SplitBatch();
  EXPECT_EQ(grid_->Statements(),
            QStringList({"select * from ca", "ROWCOUNT", "select 2\r", "ROWCOUNT"}));

  // No separator: the whole script; a trailing go line adds nothing after it.
  grid_->SetSql(QStringLiteral("select 1"));
  grid_->SplitBatch();
  EXPECT_EQ(grid_->Statements(), QStringList({"select 1\r", "ROWCOUNT"}));
  grid_->SetSql(QStringLiteral("select 1\ngo"));
  grid_->SplitBatch();
  EXPECT_EQ(grid_->Statements(), QStringList({"select 1\r", "ROWCOUNT"}));

  grid_->SetShowRowCount(false);
  grid_->SetSql(QStringLiteral("select 1\ngo\nselect 2\ngo\n"));
  grid_->SplitBatch();
  EXPECT_EQ(grid_->Statements(), QStringList({"select 1\r", "select 2\r"}));
}

TEST_F(GridTest, ScriptFromFileIsOneStatementBecauseItsLineBreaksAreGone) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("script.sql"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("select a = 1\ngo\nselect b = 2\n");
  file.close();
  grid_->LoadSqlFromFile(path);
  EXPECT_EQ(grid_->Sql(), QStringLiteral(" select a = 1 go select b = 2"));
  // One batch with a "go" inside, which the server does not know.
  EXPECT_THROW(grid_->Execute(), EDatabaseError);
  EXPECT_EQ(grid_->Statements(), QStringList({grid_->Sql() + "\r", "ROWCOUNT"}));
}

// ---- The listing
// ---------------------------------------------------------------------------------

TEST_F(GridTest, TwoStatementsListHeadersRowsAndCountLines) {
  int before = 0, after = 0;
  QStringList seen;
  grid_->BeforeExec = [&](QObject*) { ++before; };
  grid_->AfterExec = [&](QObject*) { ++after; };
  grid_->BeforeCommand = [&](QObject* sender) {
    seen << QString::number(static_cast<TNorvGrid*>(sender)->StatementIndex()) +
                static_cast<TNorvGrid*>(sender)->CurrentStatement().trimmed();
  };
  grid_->SetSql(QStringLiteral("select a = 1\ngo\nselect b = 'a rather long text'\n"));
  EXPECT_EQ(grid_->Execute(), CS_SUCCEED);
  EXPECT_EQ(Listing(), QStringList({" |a", "1|1", "|(1 rows affected)", "", " |b",
                                    "1|a rather long text", "|(1 rows affected)", "", ""}));
  EXPECT_EQ(grid_->FixedRows(), 1);  // the first header stays in view
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 1);
  EXPECT_EQ(seen, QStringList({"1select a = 1", "2select b = 'a rather long text'"}));
  EXPECT_FALSE(grid_->Busy());
  // Widths follow the widest text in characters; column 0 the line-number digits.
  EXPECT_EQ(grid_->ColWidths(1), 18 * grid_->CharWidth());
  EXPECT_EQ(grid_->ColWidths(0), grid_->CharWidth() + 5);
}

TEST_F(GridTest, SecondResultSetOfOneStatementGetsItsOwnHeader) {
  grid_->SetSql(QStringLiteral("select x = 1 union all select 2 select y = 'a', z = 'b'"));
  grid_->Execute();
  EXPECT_EQ(Listing(),
            QStringList({" |x", "1|1", "2|2", " |y|z", "1|a|b", "|(1 rows affected)", "", ""}));
  EXPECT_EQ(grid_->ColCount(), 3);
}

TEST_F(GridTest, SelectWithoutRowsListsItsHeaderOnlyWhenAsked) {
  grid_->SetSql(QStringLiteral("select title_id, price from titles where 1 = 0"));
  grid_->Execute();
  // The spare line a first row would have taken stays below.
  EXPECT_EQ(Listing(), QStringList({" |title_id|price", "|(0 rows affected)", "", "", ""}));

  grid_->SetShowHeaderOnNoRows(false);
  grid_->SetKeepHeader(false);
  grid_->Execute();
  // Without the header the count line is the first line below the (empty) fixed row.
  EXPECT_EQ(Listing(), QStringList({"", "|(0 rows affected)", "", ""}));
}

TEST_F(GridTest, InsertListsOnlyItsCountLine) {
  grid_->SetSql(
      QStringLiteral("create table #grid_ins (a int)\ngo\ninsert #grid_ins values (1)\ninsert "
                     "#grid_ins values (2)\n"
                     "go\nselect count(*) from #grid_ins"));
  grid_->Execute();
  const QStringList lines = Listing();
  // create table: no rows, no columns: an empty header line and its count line.
  ASSERT_GE(lines.size(), 8);
  EXPECT_EQ(lines.mid(0, 7),
            QStringList({" ", "|(0 rows affected)", "", "|(1 rows affected)", "", " ", "1|2"}));
}

TEST_F(GridTest, HeaderOutsideTheFixedRowAndNoLineNumbers) {
  grid_->SetKeepHeader(false);
  grid_->SetShowLineNum(false);
  grid_->SetSql(QStringLiteral("select a = 1 union all select 2"));
  grid_->Execute();
  EXPECT_EQ(Listing(), QStringList({"", " |a", " |1", " |2", "|(2 rows affected)", ""}));
  EXPECT_EQ(grid_->ColWidths(0), 5);

  grid_->SetShowHeader(false);
  EXPECT_FALSE(grid_->KeepHeader());
  grid_->SetKeepHeader(true);
  EXPECT_TRUE(grid_->ShowHeader());
}

TEST_F(GridTest, FailingStatementEndsTheRunWithItsCountLineAndRaises) {
  norv::ScopedRecordingPresenter shown;
  int after = 0;
  grid_->AfterExec = [&](QObject*) { ++after; };
  grid_->SetSql(QStringLiteral("select a = 1\ngo\nselect * from no_such_table\ngo\nselect b = 2"));
  EXPECT_THROW(grid_->Execute(), Exception);
  EXPECT_EQ(Listing(),
            QStringList({" |a", "1|1", "|(1 rows affected)", "", "|(0 rows affected)", ""}));
  EXPECT_EQ(after, 0);
  EXPECT_FALSE(grid_->Busy());
  EXPECT_TRUE(grid_->DbErrorText().contains(QStringLiteral("no_such_table")));
  // The grid and its connection are usable again.
  grid_->SetSql(QStringLiteral("select c = 3"));
  EXPECT_EQ(grid_->Execute(), CS_SUCCEED);
  EXPECT_EQ(Listing().mid(0, 2), QStringList({" |c", "1|3"}));
}

TEST_F(GridTest, UnknownConnectionIsRefusedBeforeAnythingIsShown) {
  grid_->SetSql(QStringLiteral("select 1"));
  grid_->SetCells(1, 1, QStringLiteral("kept"));
  grid_->SetDbName(QStringLiteral("nosuchdb"));
  EXPECT_THROW(grid_->Execute(), EDatabaseError);
  grid_->SetDbName(QString());
  EXPECT_THROW(grid_->Execute(), EDatabaseError);
  EXPECT_EQ(grid_->Cells(1, 1), QStringLiteral("kept"));
  EXPECT_FALSE(grid_->Busy());
}

TEST_F(GridTest, BlankStatementsBetweenSeparatorsAreSkipped) {
  grid_->SetSql(QStringLiteral("select a = 1\ngo\n\ngo\nselect b = 2\n"));
  EXPECT_EQ(grid_->Execute(), CS_SUCCEED);
  EXPECT_EQ(Listing(), QStringList({" |a", "1|1", "|(1 rows affected)", "", " |b", "1|2",
                                    "|(1 rows affected)", "", ""}));
}

// ---- Background
// ----------------------------------------------------------------------------------

TEST_F(GridTest, BackgroundRunListsTheSameAsTheForegroundAndThenEnds) {
  const QString script = QStringLiteral(
      "select a = 1\ngo\nselect au_lname from authors order by au_id\ngo\n"
      "select x = 1 select y = 2");
  grid_->SetSql(script);
  grid_->Execute();
  const QStringList foreground = Listing();
  const int widths = grid_->ColWidths(1);

  QStringList commands;
  int after = 0;
  grid_->BeforeCommand = [&](QObject*) { commands << grid_->CurrentStatement().trimmed(); };
  grid_->AfterExec = [&](QObject* sender) {
    EXPECT_EQ(sender, grid_.get());
    EXPECT_FALSE(grid_->Busy());
    ++after;
  };
  grid_->SetBackground(true);
  EXPECT_EQ(grid_->Execute(), 0);
  EXPECT_TRUE(grid_->Busy());
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Listing(), foreground);
  EXPECT_EQ(grid_->ColWidths(1), widths);
  EXPECT_EQ(after, 1);
  EXPECT_EQ(commands.size(), 3);
  EXPECT_EQ(grid_->Worker(), nullptr);
  EXPECT_TRUE(grid_->Terminated());
}

TEST_F(GridTest, StoppedBackgroundRunWritesNothingMoreAndLeavesTheGridUsable) {
  int after = 0;
  grid_->AfterExec = [&](QObject*) { ++after; };
  grid_->SetBackground(true);
  grid_->SetSql(
      QStringLiteral("select a.name, b.name, c.name, d.name from sysobjects a, sysobjects b, "
                     "sysobjects c, sysobjects d"));
  grid_->Execute();
  ASSERT_NE(grid_->Worker(), nullptr);
  EXPECT_FALSE(grid_->Terminated());
  ASSERT_TRUE(norvtest::ProcessUntil([&] { return grid_->RowCount() > 200; }, 20000));

  // A second run while the first fills the grid is refused.
  EXPECT_THROW(grid_->Execute(), ENorvException);

  // The worker stops reading at once: the rest of the result would take seconds to read.
  QElapsedTimer stopping;
  stopping.start();
  grid_->Worker()->Terminate();
  EXPECT_TRUE(grid_->Terminated());
  const int rows = grid_->RowCount();
  const QString last = grid_->Cells(1, rows - 2);
  ASSERT_TRUE(WaitIdle());
  EXPECT_LT(stopping.elapsed(), 500) << "ms from the stop to idle";
  EXPECT_EQ(grid_->RowCount(), rows);
  EXPECT_EQ(grid_->Cells(1, rows - 2), last);
  EXPECT_EQ(grid_->Cells(1, rows), QString());
  EXPECT_EQ(after, 0);

  grid_->SetBackground(false);
  grid_->SetSql(QStringLiteral("select c = 3"));
  EXPECT_EQ(grid_->Execute(), CS_SUCCEED);
  EXPECT_EQ(Listing(), QStringList({" |c", "1|3", "|(1 rows affected)", "", ""}));
}

TEST_F(GridTest, FailingStatementInTheBackgroundEndsTheRunQuietly) {
  norv::ScopedRecordingPresenter shown;
  int after = 0, errors = 0;
  grid_->AfterExec = [&](QObject*) { ++after; };
  grid_->OnDbError = [&](QObject* sender) {
    EXPECT_EQ(sender, grid_.get());
    EXPECT_TRUE(grid_->DbErrorText().contains(QStringLiteral("no_such_table")));
    ++errors;
  };
  grid_->SetShowDbMessages({});
  grid_->SetBackground(true);
  grid_->SetSql(QStringLiteral("select a = 1\ngo\nselect * from no_such_table\ngo\nselect b = 2"));
  EXPECT_NO_THROW(grid_->Execute());
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Listing(),
            QStringList({" |a", "1|1", "|(1 rows affected)", "", "|(0 rows affected)", ""}));
  EXPECT_EQ(after, 0);
  EXPECT_EQ(errors, 1);
  EXPECT_TRUE(shown->Taken().empty());
}

// A statement failing after an earlier result set of its batch (the failure met inside Next):
// in the background the error reaches OnDbError, DbErrorText and the listing as in the
// foreground, and whatever is shown is shown from the GUI thread. In the foreground the error is
// raised where the background shows it.
TEST_F(GridTest, FailureAfterAResultSetIsReportedInTheBackgroundAsInTheForeground) {
  struct Outcome {
    QStringList listing, errorsSeen;
    QString errorText, raised;
    QStringList shown;  // caption and text of each thing shown
    bool offGuiThread = false;
  };
  auto* recorder = new norv::ThreadNotingPresenter;
  auto previous = norv::InstallPresenter(std::unique_ptr<norv::Presenter>(recorder));
  auto run = [&](bool background, TShowDbMessages show) {
    Outcome out;
    recorder->Clear();
    grid_ = std::make_unique<TNorvGrid>();
    grid_->SetDbName(QStringLiteral("griddb"));
    grid_->SetShowDbMessages(show);
    grid_->SetBackground(background);
    grid_->OnDbError = [&](QObject*) { out.errorsSeen << grid_->DbErrorText(); };
    grid_->SetSql(
        QStringLiteral("select a = 1\ngo\nselect b = 2 select * from no_such_table\n"
                       "go\nselect c = 3"));
    try {
      grid_->Execute();
    } catch (const std::exception& e) {
      out.raised = QString::fromUtf8(e.what());
    }
    EXPECT_TRUE(WaitIdle());
    out.listing = Listing();
    out.errorText = grid_->DbErrorText();
    for (const auto& s : recorder->Taken()) out.shown << s.caption + QLatin1Char('|') + s.text;
    out.offGuiThread = recorder->offGuiThread.exchange(false);
    return out;
  };
  for (const TShowDbMessages show : {TShowDbMessages{}, TShowDbMessages{smDbMsg, smDbErr}}) {
    const Outcome fg = run(false, show);
    const Outcome bg = run(true, show);
    SCOPED_TRACE(show.Contains(smDbErr) ? "errors shown" : "errors not shown");
    EXPECT_EQ(fg.listing, QStringList({" |a", "1|1", "|(1 rows affected)", "", " |b", "1|2", ""}));
    EXPECT_EQ(bg.listing, fg.listing);
    ASSERT_EQ(fg.errorsSeen.size(), 1);
    EXPECT_TRUE(fg.errorsSeen[0].contains(QStringLiteral("no_such_table")));
    EXPECT_EQ(bg.errorsSeen, fg.errorsSeen);
    EXPECT_EQ(bg.errorText, fg.errorText);
    EXPECT_TRUE(fg.shown.isEmpty());
    EXPECT_FALSE(bg.offGuiThread);
    if (show.Contains(smDbErr)) {
      EXPECT_EQ(bg.shown, QStringList({QStringLiteral("CT-Library error|") + fg.raised}));
    } else {
      EXPECT_TRUE(bg.shown.isEmpty());
    }
  }
  norv::InstallPresenter(std::move(previous));
}

// Stopping the worker while its statement still runs on the server ends the run at once, and the
// connection serves the next statement.
TEST_F(GridTest, StoppingTheWorkerCutsShortAStatementStillRunningOnTheServer) {
  grid_->SetBackground(true);
  grid_->SetSql(QStringLiteral("waitfor delay '00:00:30'\ngo\nselect a = 1"));
  grid_->Execute();
  ASSERT_TRUE(norvtest::ProcessUntil([&] { return grid_->StatementIndex() == 1; }, 5000));
  QThread::msleep(200);  // the statement reaches the server
  QElapsedTimer stopping;
  stopping.start();
  grid_->Worker()->Terminate();
  ASSERT_TRUE(WaitIdle(10000));
  EXPECT_LT(stopping.elapsed(), 10000);
  grid_->SetBackground(false);
  grid_->SetSql(QStringLiteral("select c = 3"));
  EXPECT_EQ(grid_->Execute(), CS_SUCCEED);
  EXPECT_EQ(Listing(), QStringList({" |c", "1|3", "|(1 rows affected)", "", ""}));
}

TEST_F(GridTest, DestroyingTheGridStopsItsWorker) {
  grid_->SetBackground(true);
  grid_->SetSql(QStringLiteral("select a.name from sysobjects a, sysobjects b, sysobjects c"));
  grid_->Execute();
  ASSERT_TRUE(norvtest::ProcessUntil([&] { return grid_->RowCount() > 50; }, 20000));
  grid_.reset();
  // The connection is free for the next command.
  grid_ = std::make_unique<TNorvGrid>();
  grid_->SetDbName(QStringLiteral("griddb"));
  grid_->SetSql(QStringLiteral("select d = 4"));
  EXPECT_EQ(grid_->Execute(), CS_SUCCEED);
  EXPECT_EQ(Listing().mid(0, 2), QStringList({" |d", "1|4"}));
}

TEST_F(GridTest, DisconnectsAtTheEndWhenAsked) {
  grid_->SetDisConnectAtEnd(true);
  grid_->SetSql(QStringLiteral("select 1"));
  grid_->Execute();
  EXPECT_FALSE(db_->Connected());
}

// ---- Drawing
// -------------------------------------------------------------------------------------

// The cells' packed storage: rows rewritten out of order (their old records left as garbage and
// compacted away), texts beyond Latin-1, a row longer than 64K characters, and rows dropped by
// shrinking, all read back as written.
TEST(StringGridCells, ReadBackAsWrittenInAnyOrderAndKind) {
  TStringGridModel model;
  model.SetColCount(3);
  model.SetRowCount(20000);
  auto text = [](int col, int row, int round) {
    return QStringLiteral("c%1 r%2 #%3").arg(col).arg(row).arg(round);
  };
  for (int round = 0; round < 3; ++round)  // each round rewrites every row, bottom up
    for (int row = 19999; row >= 0; --row)
      for (int col = 0; col < 3; ++col) model.SetCell(col, row, text(col, row, round));
  const QString wide = QStringLiteral("\u00e9\u20ac\U0001F600");
  const QString longText(70000, QLatin1Char('x'));
  model.SetCell(1, 5, wide);
  model.SetCell(2, 6, longText);
  model.SetCell(0, 6, QString());
  model.SetCell(0, 7, QStringLiteral("last"));
  EXPECT_EQ(model.Cell(0, 4), text(0, 4, 2));
  EXPECT_EQ(model.Cell(1, 5), wide);
  EXPECT_EQ(model.Cell(2, 5), text(2, 5, 2));
  EXPECT_EQ(model.Cell(0, 6), QString());
  EXPECT_EQ(model.Cell(1, 6), text(1, 6, 2));
  EXPECT_EQ(model.Cell(2, 6), longText);
  EXPECT_EQ(model.Cell(0, 19999), text(0, 19999, 2));
  EXPECT_EQ(model.Cell(3, 0), QString());
  // Without compaction the three rounds of records would hold over three times these texts.
  EXPECT_LT(model.MemoryBytes(), 3 * model.TextBytes());
  model.SetRowCount(7);
  model.SetRowCount(20000);
  EXPECT_EQ(model.Cell(0, 6), QString());
  EXPECT_EQ(model.Cell(0, 7), QString());
  EXPECT_EQ(model.Cell(1, 6), text(1, 6, 2));
  model.ClearRows(0);
  EXPECT_EQ(model.Cell(1, 6), QString());
}

// A count line under a narrow column runs on over the empty cells beside it, with no grid line
// through it; next to a filled cell the line is drawn and the text clipped.
TEST(StringGridDrawing, TextRunsOnOverEmptyCellsWithoutAGridLineThroughIt) {
  TStringGrid grid;
  grid.resize(400, 200);
  grid.SetColCount(4);
  grid.SetRowCount(4);
  for (int c = 0; c < 4; ++c) grid.SetColWidths(c, 50);
  grid.SetCells(1, 1, QStringLiteral("(12345 rows affected)"));
  grid.SetCells(1, 2, QStringLiteral("(12345 rows affected)"));
  grid.SetCells(2, 2, QStringLiteral("x"));
  grid.show();
  grid.Repaint();
  const QImage image = grid.viewport()->grab().toImage();
  // The line's colour, read where a line must be: the right edge of column 0.
  const QColor line = image.pixelColor(grid.columnViewportPosition(1) - 1, 5);
  ASSERT_NE(line, image.pixelColor(grid.columnViewportPosition(1) + 10, 5));
  // Pixels of the line's colour down the right edge of column 1, within body row `row`.
  auto lineHeight = [&](int row) {
    const int x = grid.columnViewportPosition(2) - 1;
    const int top = grid.rowViewportPosition(row - 1);
    int count = 0;
    for (int y = top + 2; y < top + grid.rowHeight(row - 1) - 2; ++y)
      if (image.pixelColor(x, y) == line) ++count;
    return count;
  };
  const int inner = grid.rowHeight(0) - 4;
  EXPECT_LT(lineHeight(1), inner / 2);
  EXPECT_EQ(lineHeight(2), inner);
  EXPECT_EQ(lineHeight(3), inner);  // an empty row has all its lines
}

}  // namespace
