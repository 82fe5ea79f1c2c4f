// The data-aware grid and navigator over the server data set: rows fetched as the grid scrolls,
// FetchRows rows per cursor fetch, an edit through the grid read back from the data set.
#include "dataset/framework/dbgrid.h"
#include "dataset/framework/dbnavigator.h"
#include "dataset/norvsqldataset.h"

#include "call_trace.h"
#include "dataset_fixture.h"
#include "widget_helpers.h"

#include <gtest/gtest.h>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QString Buttons(const TDBNavigator& navigator) {
  QString enabled;
  for (int b = nbFirst; b <= nbRefresh; ++b)
    enabled += navigator.Button(TNavigateBtn(b))->isEnabled() ? '1' : '0';
  return enabled;
}

TEST(NorvDataWidgets, AuthorsScrollOnDemandEditAndNavigate) {
  auto db = norvtest::ConnectSample(QStringLiteral("db"));
  TNorvSqlDataSet ds;
  ds.SetDbName(QStringLiteral("db"));
  ds.SetSql(QStringLiteral("select * from pubs2..authors order by au_id"));
  ds.SetFetchRows(4);
  TDataSource source;
  source.SetDataSet(&ds);
  QWidget window;
  auto* navigator = new TDBNavigator(&window);
  auto* grid = new TDBGrid(&window);
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(navigator);
  layout->addWidget(grid);
  window.resize(500, 200);
  TDataSetModel& model = *grid->Model();
  model.SetFetchBatch(3);
  grid->SetDataSource(&source);
  navigator->SetDataSource(&source);
  norvtest::CallTrace batches;
  ds.Open();
  window.show();
  QApplication::processEvents();
  // A screenful: a batch or two of the 25 authors.
  EXPECT_LE(batches.FetchBatchRows().size(), 2);
  EXPECT_EQ(Buttons(*navigator), "0011111001");
  const QString first = ds.FieldByName(QStringLiteral("au_id"))->AsString();

  while (model.canFetchMore({})) {
    const int rows = model.rowCount();
    grid->scrollToBottom();
    ASSERT_TRUE(
        norvtest::ProcessUntil([&] { return model.rowCount() > rows || !model.canFetchMore({}); }));
  }
  EXPECT_EQ(model.rowCount(), 25);
  // Whole batches of FetchRows, the last one short, and the fetch that found the end.
  EXPECT_EQ(batches.FetchBatchRows(), QStringList({"4", "4", "4", "4", "4", "4", "1", "0"}));
  EXPECT_EQ(ds.FieldByName(QStringLiteral("au_id"))->AsString(), first);
  EXPECT_EQ(ds.BufferCount(), 3);
  ds.Last();
  const int city = ds.FieldByName(QStringLiteral("city"))->Index();
  const QString lastId = ds.FieldByName(QStringLiteral("au_id"))->AsString();
  EXPECT_EQ(model.data(model.index(24, 0)).toString(), lastId);
  EXPECT_EQ(Buttons(*navigator), "1100111001");

  // An edit through the cell's editor, posted by Enter, on a row the grid moves the data set to.
  const QModelIndex at = model.index(20, city);
  grid->setCurrentIndex(at);
  grid->edit(at);
  auto* editor = grid->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->setText(QStringLiteral("Sausalito"));
  EXPECT_EQ(Buttons(*navigator), "1111111001");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(editor, &enter);
  QApplication::processEvents();  // the delegate commits and closes the editor queued
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.FieldByName(QStringLiteral("city"))->AsString(), "Sausalito");
  ASSERT_TRUE(model.setData(model.index(20, city), QStringLiteral("Corvallis")));
  EXPECT_EQ(Buttons(*navigator), "0000000110");
  navigator->Button(nbPost)->click();
  EXPECT_EQ(ds.State(), dsBrowse);
  // Read back from the data set's own cache, from afar: the grid reads the row on a visit.
  ds.First();
  EXPECT_EQ(model.data(model.index(20, city)).toString(), "Corvallis");
  EXPECT_EQ(ds.FieldByName(QStringLiteral("au_id"))->AsString(), first);
  ds.MoveBy(20);
  EXPECT_EQ(ds.FieldByName(QStringLiteral("city"))->AsString(), "Corvallis");

  // Reading rows away from the record tells no one: a detail of the authors stays as it is.
  TNorvSqlDataSet titles;
  titles.SetDbName(QStringLiteral("db"));
  titles.SetSql(QStringLiteral("select title_id from pubs2..titleauthor where au_id = :au_id"));
  titles.SetDataSource(&source);
  titles.Open();
  int opens = 0;
  titles.AfterOpen = [&](TDataSet*) { ++opens; };
  EXPECT_EQ(model.data(model.index(2, 0)).toString(), "226-13-9054");
  EXPECT_EQ(opens, 0);
  ds.Next();
  EXPECT_EQ(opens, 1);
}

}  // namespace
