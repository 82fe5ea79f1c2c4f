// The bulk copy window against the sample server: opened modally from the main window, its table
// list, file name and direction, a copy of pubs2's titles out to a file and back into an empty
// copy of the table, and the warnings it gives of its own.
#include "bulk/norvbulk.h"
#include "connection/norvdatabase.h"
#include "controls/norvlistbox.h"
#include "query/norvquery.h"
#include "recording_presenter.h"
#include "server_fixture.h"
#include "u_bulkcopy.h"
#include "u_main.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

using Kind = norv::RecordingPresenter::Kind;

// Every row of `sql`, each as its tab-joined values, in the order the server gives them.
QStringList Rows(const QString& sql) {
  TNorvQuery q;
  q.SetDbName(QStringLiteral("db"));
  q.SetSql(sql);
  q.Execute();
  QStringList rows;
  while (q.Fetch() == 1) {
    QStringList row;
    for (int c = 1; c <= q.ColumnCount(); ++c) row << q.FieldValue(c);
    rows << row.join(u'\t');
  }
  return rows;
}

// Runs `act` while a timer waits for a modal window of type W and hands it to `use`; gives up
// (closing whatever is modal, so that the test fails rather than hangs) after two seconds.
template <class W>
void WithModal(const std::function<void()>& act, const std::function<void(W&)>& use) {
  QTimer timer;
  int ticks = 0;
  bool used = false;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
    if (w && w->isVisible() && !used) {
      used = true;
      use(*w);
    } else if (++ticks > 200) {
      timer.stop();
      if (auto* any = QApplication::activeModalWidget()) any->close();
    }
  });
  timer.start(10);
  act();
}

TEST(BulkCopyWindow, OpensModallyFromTheMainWindowOnItsDatabase) {
  norv::ScopedRecordingPresenter recorder;
  norvtest::SampleServer();
  Tf_main main;
  recorder->QueueLoginReply([](norv::TLoginRequest&) { return true; });
  main.btn_connect->click();
  ASSERT_TRUE(main.db->Connected());
  QString title;
  int listed = -1;
  WithModal<Tf_bulkcopy>([&] { main.BulkCopy1->trigger(); },
                         [&](Tf_bulkcopy& w) {
                           title = w.windowTitle();
                           listed = w.lb_tablename->count();
                           w.btn_close->click();
                         });
  EXPECT_EQ(title, QStringLiteral("Bulk-Copy Demo"));
  EXPECT_EQ(listed, Rows(QStringLiteral("select name from sysobjects where type='U'")).size());
}

class BulkCopyWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // SQL.INI must exist before the connection is created.
    const QString server = norvtest::SampleServer().serverName;
    db_ = new TNorvDatabase;
    db_->SetName(QStringLiteral("db"));
    db_->SetServerName(server);
    db_->SetUserName(QStringLiteral("sa"));
    db_->SetLoginPrompt(false);
    db_->SetConProps({cpBulk_Login});
    db_->SetConnected(true);
    db_->SetDBName(QStringLiteral("pubs2"));
    for (const char* sql : {"if object_id('bw_titles') is not null drop table bw_titles",
                            "select * into bw_titles from titles where 1 = 2"})
      Rows(QString::fromLatin1(sql));
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }

  void SetUp() override { w = std::make_unique<Tf_bulkcopy>(); }

  void Select(const QString& table) {
    const auto found = w->lb_tablename->findItems(table, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << table.toStdString();
    w->lb_tablename->setCurrentItem(found.front());
  }

  // The message boxes shown so far, as their texts.
  QStringList Boxes() const {
    QStringList boxes;
    for (const auto& shown : recorder->Taken())
      if (shown.kind == Kind::MessageBox) boxes << shown.text;
    return boxes;
  }

  static TNorvDatabase* db_;
  norv::ScopedRecordingPresenter recorder;
  QTemporaryDir dir;
  std::unique_ptr<Tf_bulkcopy> w;
};

TNorvDatabase* BulkCopyWindowTest::db_ = nullptr;

TEST_F(BulkCopyWindowTest, ListFileNameAndDirectionReachTheComponent) {
  QStringList listed;
  for (int i = 0; i < w->lb_tablename->count(); ++i) listed << w->lb_tablename->item(i)->text();
  EXPECT_EQ(listed, Rows("select name from sysobjects where type='U' order by name"));
  ASSERT_TRUE(listed.contains(QStringLiteral("titles")));
  EXPECT_EQ(w->lb_tablename->currentRow(), 0);

  Select(QStringLiteral("titles"));
  EXPECT_EQ(w->bk->TableName(), QStringLiteral("titles"));
  w->e_file->setText(QStringLiteral(" typed.bcp"));
  EXPECT_EQ(w->bk->DataFile(), QStringLiteral(" typed.bcp"));
  EXPECT_EQ(w->bk->Direction(), bdOut);
  EXPECT_TRUE(w->RadioButton2->isChecked());
  w->RadioButton1->click();
  EXPECT_EQ(w->bk->Direction(), bdIn);
  w->RadioButton2->click();
  EXPECT_EQ(w->bk->Direction(), bdOut);

  // "?" puts the confirmed name into the edit box; cancelling leaves it alone.
  const QString chosen = dir.filePath(QStringLiteral("chosen.bcp"));
  // Picked before the dialog shows: once it shows, its name box has the focus and keeps its text.
  w->OpenDialog1->selectFile(chosen);
  for (bool confirm : {true, false}) {
    WithModal<QFileDialog>([&] { w->btn_file->click(); },
                           [&](QFileDialog& d) {
                             QDialog& dialog = d;
                             if (!confirm) return dialog.reject();
                             dialog.done(QDialog::Accepted);
                           });
    EXPECT_EQ(w->e_file->text(), chosen);
    EXPECT_EQ(w->bk->DataFile(), chosen);
  }
  EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("; ").toStdString();
}

TEST_F(BulkCopyWindowTest, CopiesATableOutAndItsFileBackIn) {
  const QStringList titles = Rows("select * from titles order by title_id");
  ASSERT_FALSE(titles.isEmpty());
  const QString count = QString::number(titles.size());
  const QString file = dir.filePath(QStringLiteral("titles.bcp"));
  w->e_file->setText(file);
  Select(QStringLiteral("titles"));
  w->btn_copy->click();
  EXPECT_EQ(w->e_cnt->text(), count);

  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  QStringList lines = QString::fromUtf8(written.readAll()).split(QStringLiteral("\r\n"));
  EXPECT_EQ(lines.takeLast(), QString());  // every row ends in CR LF
  // The file holds the table's rows in the table's order: compare the keys as sets.
  QStringList fileKeys, tableKeys;
  for (const QString& line : lines) fileKeys << line.section(u'\t', 0, 0);
  for (const QString& row : titles) tableKeys << row.section(u'\t', 0, 0);
  fileKeys.sort();
  EXPECT_EQ(fileKeys, tableKeys);

  Select(QStringLiteral("bw_titles"));
  w->RadioButton1->click();
  w->btn_copy->click();
  EXPECT_EQ(w->e_cnt->text(), count);  // counted afresh
  EXPECT_EQ(Rows("select * from bw_titles order by title_id"), titles);
  EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("; ").toStdString();
}

TEST_F(BulkCopyWindowTest, WarnsOrShowsTheCopyErrorAndRestoresTheCursor) {
  struct Case {
    const char* file;
    const char* table;  // null: nothing selected
    const char* box;
    std::vector<Kind> shown;
  };
  const std::vector<Case> cases = {
      {"   ", "titles", "Invalid filename", {Kind::MessageBox}},
      {"   ", nullptr, "Invalid filename", {Kind::MessageBox}},
      {"x.bcp", nullptr, "Invalid tablename", {Kind::MessageBox}},
      {"missing.bcp",
       "bw_titles",
       "File access error",
       {Kind::WaitCursorOn, Kind::WaitCursorOff, Kind::MessageBox}},
  };
  w->RadioButton1->click();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    recorder->Clear();
    const QString file = QString::fromLatin1(c.file);
    w->e_file->setText(file.trimmed().isEmpty() ? file : dir.filePath(file));
    if (c.table)
      Select(QString::fromLatin1(c.table));
    else
      w->lb_tablename->clearSelection();
    w->e_cnt->setText(QStringLiteral("5"));
    w->btn_copy->click();
    EXPECT_EQ(Boxes(), QStringList({QString::fromLatin1(c.box)}));
    std::vector<Kind> kinds;
    for (const auto& shown : recorder->Taken()) kinds.push_back(shown.kind);
    EXPECT_EQ(kinds, c.shown);
    EXPECT_EQ(w->e_cnt->text(), QStringLiteral("0"));
    if (c.shown.size() == 1) {  // the window's own warning
      EXPECT_EQ(recorder->Taken().back().caption, QStringLiteral("Norv demo"));
      EXPECT_EQ(recorder->Taken().back().icon, norv::MsgIcon::Warning);
    }
  }
}

}  // namespace
