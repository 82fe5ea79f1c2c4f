// The data-aware widgets over the array-backed data set: the table model (lazy rows, editing,
// NULL), the grid following and setting the current record, the navigator's buttons.
#include "dataset/framework/datasetmodel.h"
#include "dataset/framework/dbgrid.h"
#include "dataset/framework/dbnavigator.h"

#include "memdataset.h"
#include "recording_presenter.h"
#include "widget_helpers.h"

#include <gtest/gtest.h>
#include <QBrush>
#include <QFont>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QToolButton>

#include <functional>

namespace {

class DataWidgets : public ::testing::Test {
 protected:
  DataWidgets() { source.SetDataSet(&ds); }
  QStringList log;  // outlives the data set, whose closing it may hear
  TMemDataSet ds;
  TDataSource source;
};

int Id(TDataSet& ds) { return ds.FieldByName("id")->AsInteger(); }

TEST_F(DataWidgets, ModelShowsFetchedRowsNotTheProvisionalCount) {
  FillPeople(ds, 120);
  ds.provisionalCount = 1000;
  ds.Open();
  TDataSetModel model;
  model.SetFetchBatch(50);
  model.SetDataSource(&source);
  ASSERT_EQ(ds.RecordCount(), 1000);
  EXPECT_EQ(model.rowCount(), 50);
  EXPECT_EQ(model.columnCount(), 5);
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "name");
  QStringList fetched;
  while (model.canFetchMore({})) {
    model.fetchMore({});
    fetched << QString::number(model.rowCount());
  }
  EXPECT_EQ(fetched, QStringList({"100", "120"}));
  EXPECT_EQ(model.data(model.index(119, 1)).toString(), "n120");
}

TEST_F(DataWidgets, ReadingCellsLeavesTheRecordAndFiresNothing) {
  FillPeople(ds, 30);
  ds.Open();
  ds.MoveBy(4);
  TDataSetModel model;
  model.SetDataSource(&source);
  RecordEvents(ds, log);
  QStringList ids;
  for (int row = 0; row < model.rowCount(); row += 10)
    ids << model.data(model.index(row, 0)).toString();
  EXPECT_EQ(ids, QStringList({"1", "11", "21"}));
  EXPECT_EQ(Id(ds), 5);
  EXPECT_EQ(model.ActiveRow(), 4);
  EXPECT_TRUE(log.isEmpty()) << log.join(' ').toStdString();
}

TEST_F(DataWidgets, ScrollingTheGridToTheEndFetchesOnDemand) {
  FillPeople(ds, 200);
  ds.Open();
  TDBGrid grid;
  grid.resize(300, 200);
  grid.Model()->SetFetchBatch(20);
  grid.SetDataSource(&source);
  grid.show();
  QApplication::processEvents();
  const int readsBefore = ds.reads;
  QList<int> counts{grid.Model()->rowCount()};
  while (counts.last() < 200 && counts.size() < 50) {
    grid.scrollToBottom();
    ASSERT_TRUE(norvtest::ProcessUntil([&] { return grid.Model()->rowCount() > counts.last(); }));
    counts << grid.Model()->rowCount();
  }
  EXPECT_EQ(counts.first(), 20);
  EXPECT_EQ(counts.last(), 200);
  EXPECT_EQ(counts[1], 40);  // one batch per scroll to the end
  EXPECT_LT(readsBefore, 40);
  // The window stays a batch wide; rows beyond it read quietly, the record staying the first.
  RecordEvents(ds, log);
  EXPECT_EQ(ds.BufferCount(), 20);
  EXPECT_EQ(grid.Model()->data(grid.Model()->index(150, 0)).toString(), "151");
  EXPECT_EQ(grid.Model()->data(grid.Model()->index(3, 1)).toString(), "n4");
  EXPECT_EQ(Id(ds), 1);
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(log.isEmpty()) << log.join(' ').toStdString();
}

// Editing a cell puts the data set in edit state; the value reads back at once and is stored
// when the row is left or Enter is pressed in the cell's editor.
TEST_F(DataWidgets, EditedCellReadsBackAndPostsOnLeavingTheRowOrEnter) {
  struct Case {
    const char* how;
    std::function<void(TDBGrid&, const QModelIndex&)> finish;
  };
  const Case cases[] = {
      {"leave row",
       [](TDBGrid& grid, const QModelIndex& at) {
         ASSERT_TRUE(grid.model()->setData(at, "zed"));
         EXPECT_EQ(grid.model()->data(at).toString(), "zed");
         grid.setCurrentIndex(grid.model()->index(at.row() + 1, 0));
       }},
      {"enter",
       [](TDBGrid& grid, const QModelIndex& at) {
         grid.setCurrentIndex(at);
         grid.edit(at);
         auto* editor = grid.viewport()->findChild<QLineEdit*>();
         ASSERT_NE(editor, nullptr);
         editor->setText("zed");
         QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
         QApplication::sendEvent(editor, &enter);
       }},
  };
  FillPeople(ds, 5);
  ds.Open();
  TDBGrid grid;
  grid.SetDataSource(&source);
  grid.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    ds.First();
    const QModelIndex at = grid.model()->index(1, 1);
    c.finish(grid, at);
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(ds.Stored(1, 1).toString(), "zed");
    EXPECT_EQ(grid.model()->data(at).toString(), "zed");
    ds.Edit();
    ds.FieldByName("name")->SetText("n2");
    ds.Post();
  }
}

TEST_F(DataWidgets, EnterWithoutAnEditorPostsTheEdit) {
  FillPeople(ds, 3);
  ds.Open();
  TDBGrid grid;
  grid.SetDataSource(&source);
  ds.Edit();
  ds.FieldByName("name")->SetText("typed");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Enter, Qt::NoModifier);
  QApplication::sendEvent(&grid, &enter);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.Stored(0, 1).toString(), "typed");
}

TEST_F(DataWidgets, NullIsGreyItalicNullAndNeverAnEmptyString) {
  ds.AddColumn("id", ftInteger);
  ds.AddColumn("name", ftString, 10);
  ds.AddRow({1, QVariant()});
  ds.AddRow({2, QString("")});
  ds.Open();
  TDataSetModel model;
  model.SetDataSource(&source);
  const QModelIndex null = model.index(0, 1), empty = model.index(1, 1);
  EXPECT_EQ(model.data(null).toString(), "NULL");
  EXPECT_FALSE(model.data(null, Qt::EditRole).isValid());
  EXPECT_TRUE(model.data(null, Qt::FontRole).value<QFont>().italic());
  EXPECT_EQ(model.data(null, Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::gray));
  EXPECT_EQ(model.data(empty).toString(), "");
  EXPECT_EQ(model.data(empty, Qt::EditRole), QVariant(QString("")));
  EXPECT_FALSE(model.data(empty, Qt::FontRole).isValid());
  EXPECT_FALSE(model.data(empty, Qt::ForegroundRole).isValid());
  // Writing an empty text stores an empty string; writing no value stores NULL.
  ASSERT_TRUE(model.setData(null, QString("")));
  ASSERT_TRUE(model.setData(empty, QVariant()));
  ds.Post();
  EXPECT_EQ(ds.Stored(0, 1), QVariant(QString("")));
  EXPECT_FALSE(ds.Stored(1, 1).isValid());
}

TEST_F(DataWidgets, GridFollowsTheDataSetAndMovesIt) {
  FillPeople(ds, 10);
  ds.Open();
  TDBGrid grid;
  grid.Model()->SetFetchBatch(4);
  grid.SetDataSource(&source);
  ds.Next();
  ds.Next();
  EXPECT_EQ(grid.currentIndex().row(), 2);
  // Last leaves the rows fetched so far: the model widens to every row, quietly.
  RecordEvents(ds, log);
  ds.Last();
  EXPECT_EQ(log, QStringList({"BeforeScroll", "AfterScroll"}));
  EXPECT_EQ(grid.Model()->rowCount(), 10);
  EXPECT_EQ(grid.currentIndex().row(), 9);
  EXPECT_EQ(grid.Model()->data(grid.Model()->index(0, 0)).toString(), "1");
  grid.setCurrentIndex(grid.Model()->index(6, 2));
  EXPECT_EQ(Id(ds), 7);
}

TEST_F(DataWidgets, ModelFollowsInsertDeleteCloseOpenRefreshAndBatchesWhileDisabled) {
  FillPeople(ds, 5);
  ds.Open();
  TDBGrid grid;
  TDataSetModel& model = *grid.Model();
  grid.SetDataSource(&source);
  auto names = [&] {
    QStringList list;
    for (int row = 0; row < model.rowCount(); ++row)
      list << model.data(model.index(row, 1)).toString();
    return list.join(',');
  };
  ds.Next();
  ds.Insert();
  EXPECT_EQ(names(), "n1,NULL,n2,n3,n4,n5");
  EXPECT_EQ(grid.currentIndex().row(), 1);
  // Leaving the untouched new record drops it; the row chosen is still the record clicked.
  grid.setCurrentIndex(model.index(3, 0));
  EXPECT_EQ(names(), "n1,n2,n3,n4,n5");
  EXPECT_EQ(Id(ds), 3);
  EXPECT_EQ(grid.currentIndex().row(), 2);
  ds.Delete();
  EXPECT_EQ(names(), "n1,n2,n4,n5");
  ds.Close();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.columnCount(), 0);
  ds.Open();
  EXPECT_EQ(names(), "n1,n2,n4,n5");
  int changes = 0;
  QObject::connect(&model, &TDataSetModel::ActiveRowChanged, [&] { ++changes; });
  ds.DisableControls();
  ds.Next();
  ds.Next();
  EXPECT_EQ(changes, 0);
  ds.EnableControls();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(grid.currentIndex().row(), 2);
  ds.Refresh();
  EXPECT_EQ(names(), "n1,n2,n4,n5");
  EXPECT_EQ(grid.currentIndex().row(), 2);
}

TEST_F(DataWidgets, GridShowsAFailedPostAndStaysOnTheRecord) {
  FillPeople(ds, 3);
  ds.Open();
  TDBGrid grid;
  grid.SetDataSource(&source);
  ds.Insert();
  ds.FieldByName("name")->SetText("no id");
  norv::ScopedRecordingPresenter recorder;
  grid.setCurrentIndex(grid.model()->index(2, 0));
  const auto taken = recorder->Taken();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].text, "Field 'id' must have a value");
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(grid.currentIndex().row(), 0);
}

// The ten buttons' enabled states, in button order (first, prior, next, last, insert, delete,
// edit, post, cancel, refresh), over the data set's states.
TEST_F(DataWidgets, NavigatorEnablesButtonsByState) {
  struct Case {
    const char* state;
    int rows;
    bool readOnly;
    std::function<void(TDataSet&)> reach;
    const char* enabled;
  };
  const Case cases[] = {
      {"closed", 3, false, [](TDataSet& d) { d.Close(); }, "0000000000"},
      {"at first", 3, false, [](TDataSet&) {}, "0011111001"},
      {"middle", 3, false, [](TDataSet& d) { d.Next(); }, "1111111001"},
      {"at last", 3, false, [](TDataSet& d) { d.Last(); }, "1100111001"},
      {"edit", 3, false, [](TDataSet& d) { d.Edit(); }, "0000000110"},
      {"insert", 3, false, [](TDataSet& d) { d.Insert(); }, "0000000110"},
      {"empty", 0, false, [](TDataSet&) {}, "0000101001"},
      {"read-only", 3, true, [](TDataSet& d) { d.Next(); }, "1111000001"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    TMemDataSet data;
    FillPeople(data, c.rows);
    data.SetReadOnly(c.readOnly);
    TDataSource src;
    src.SetDataSet(&data);
    TDBNavigator navigator;
    navigator.SetDataSource(&src);
    data.Open();
    c.reach(data);
    QString enabled;
    for (int b = nbFirst; b <= nbRefresh; ++b)
      enabled += navigator.Button(TNavigateBtn(b))->isEnabled() ? '1' : '0';
    EXPECT_EQ(enabled, c.enabled);
  }
  TDBNavigator navigator;
  QStringList tips;
  for (int b = nbFirst; b <= nbRefresh; ++b) tips << navigator.Button(TNavigateBtn(b))->toolTip();
  EXPECT_EQ(tips.join(','),
            "First record,Prior record,Next record,Last record,Insert record,Delete record,"
            "Edit record,Post edit,Cancel edit,Refresh data");
}

TEST_F(DataWidgets, NavigatorDeleteAsksFirst) {
  for (const bool yes : {true, false}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    TMemDataSet data;
    FillPeople(data, 3);
    TDataSource src;
    src.SetDataSet(&data);
    TDBNavigator navigator;
    navigator.SetDataSource(&src);
    data.Open();
    norv::ScopedRecordingPresenter recorder;
    recorder->SetConfirmAnswer(yes);
    navigator.Button(nbDelete)->click();
    const auto taken = recorder->Taken();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].kind, norv::RecordingPresenter::Kind::Confirm);
    EXPECT_EQ(taken[0].text, "Delete record?");
    EXPECT_EQ(data.StoredCount(), yes ? 2 : 3);
  }
}

}  // namespace
