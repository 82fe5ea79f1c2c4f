// The table browser window against the sample server: opened modally from the main window, then
// a session of picking a table, opening it, scrolling to its end through the grid, editing a cell
// and posting, deleting a record and closing.
#include "call_trace.h"
#include "connection/norvdatabase.h"
#include "controls/norvcombobox.h"
#include "dataset/framework/datasetmodel.h"
#include "dataset/framework/dbgrid.h"
#include "dataset/framework/dbnavigator.h"
#include "dataset/norvtable.h"
#include "query/norvquery.h"
#include "recording_presenter.h"
#include "server_fixture.h"
#include "u_norvtable.h"
#include "widget_helpers.h"

#include <gtest/gtest.h>
#include <QPushButton>

#include <memory>

namespace {

constexpr int kRows = 2500;

QString Scalar(const QString& sql) {
  TNorvQuery q;
  q.SetDbName(QStringLiteral("db"));
  q.SetSql(sql);
  q.Execute();
  QString value;
  if (q.Fetch() == 1) value = q.FieldValue(1).trimmed();
  while (q.Fetch() == 1) {
  }
  return value;
}

TEST(TableBrowserWindow, PickOpenScrollEditDeleteClose) {
  norv::ScopedRecordingPresenter recorder;
  recorder->SetConfirmAnswer(true);
  norvtest::SampleServer();
  TNorvDatabase db;
  db.SetName(QStringLiteral("db"));
  db.SetServerName(norvtest::SampleServer().serverName);
  db.SetUserName(QStringLiteral("sa"));
  db.SetLoginPrompt(false);
  db.SetConnected(true);
  db.SetDBName(QStringLiteral("pubs2"));
  for (const char* sql :
       {"if object_id('tbl_demo') is not null drop table tbl_demo",
        "if object_id('tbl_digits') is not null drop table tbl_digits",
        "create table tbl_digits (d int)",
        "insert tbl_digits values (0) insert tbl_digits values (1) insert tbl_digits values (2) "
        "insert tbl_digits values (3) insert tbl_digits values (4) insert tbl_digits values (5) "
        "insert tbl_digits values (6) insert tbl_digits values (7) insert tbl_digits values (8) "
        "insert tbl_digits values (9)",
        "select k = a.d + 10 * b.d + 100 * c.d + 1000 * e.d, v = convert(varchar(20), 'row') into "
        "tbl_demo "
        "from tbl_digits a, tbl_digits b, tbl_digits c, tbl_digits e where e.d < 3 "
        "and a.d + 10 * b.d + 100 * c.d + 1000 * e.d < 2500",
        "create unique index demo_k on tbl_demo (k)"})
    Scalar(QString::fromLatin1(sql));
  ASSERT_EQ(Scalar(QStringLiteral("select count(*) from tbl_demo")).toInt(), kRows);

  Tf_tnorvtable w;
  w.show();
  const int at = w.cb_tables->findText(QStringLiteral("tbl_demo"));
  ASSERT_GE(at, 0);
  w.cb_tables->setCurrentIndex(at);
  EXPECT_EQ(w.Table1->TableName(), QStringLiteral("tbl_demo"));
  norvtest::CallTrace trace;
  w.btn_openclose->click();
  ASSERT_TRUE(w.Table1->Active());
  EXPECT_EQ(w.btn_openclose->text(), QStringLiteral("Close DataSet"));

  TDataSetModel* model = w.DBGrid1->Model();
  ASSERT_TRUE(norvtest::ProcessUntil(
      [&] {
        w.DBGrid1->scrollToBottom();
        return model->rowCount() == kRows && !model->canFetchMore({});
      },
      10000));
  EXPECT_EQ(model->index(kRows - 1, 0).data().toString(), QString::number(kRows - 1));
  // After the column probe's exchanges, the row cursor's: a thousand rows each.
  const QStringList batches = trace.FetchBatchRows();
  ASSERT_GE(batches.size(), 4);
  EXPECT_EQ(batches.mid(batches.size() - 4), QStringList({"1000", "1000", "500", "0"}));

  const QModelIndex cell = model->index(kRows - 1, 1);
  ASSERT_TRUE(model->setData(cell, QStringLiteral("edited")));
  w.DBNavigator1->BtnClick(nbPost);
  EXPECT_EQ(Scalar(QStringLiteral("select v from tbl_demo where k = %1").arg(kRows - 1)),
            QStringLiteral("edited"));

  w.DBGrid1->setCurrentIndex(model->index(kRows - 2, 0));
  EXPECT_EQ(w.Table1->FieldByName(QStringLiteral("k"))->AsInteger(), kRows - 2);
  w.DBNavigator1->BtnClick(nbDelete);
  EXPECT_EQ(Scalar(QStringLiteral("select count(*) from tbl_demo")).toInt(), kRows - 1);
  EXPECT_EQ(Scalar(QStringLiteral("select count(*) from tbl_demo where k = %1").arg(kRows - 2)),
            QStringLiteral("0"));

  w.btn_close->click();
  EXPECT_FALSE(w.Table1->Active());
  EXPECT_FALSE(w.isVisible());
  for (const auto& shown : recorder->Taken())
    EXPECT_NE(shown.kind, norv::RecordingPresenter::Kind::MessageBox) << shown.text.toStdString();
}

}  // namespace
