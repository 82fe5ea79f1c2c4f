// The demonstration's main window against the sample server: its start state, the warnings it
// gives before a login, logging in and out, running the start script into the grid, switching
// databases and closing.
#include "connection/norvdatabase.h"
#include "controls/norvchklistbox.h"
#include "controls/norvcombobox.h"
#include "controls/norvgrid.h"
#include "controls/norvlistbox.h"
#include "recording_presenter.h"
#include "server_fixture.h"
#include "u_main.h"
#include "widget_helpers.h"

#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

// Failures show texts readably.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

using Kind = norv::RecordingPresenter::Kind;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // SQL.INI must exist before the window's connection reads the server list.
    norvtest::SampleServer();
    w = std::make_unique<Tf_main>();
  }
  void TearDown() override { w.reset(); }

  // Logs in as sa with an empty password, answering the login dialog with OK.
  void Connect() {
    recorder->QueueLoginReply([](norv::TLoginRequest&) { return true; });
    w->btn_connect->click();
    ASSERT_TRUE(w->db->Connected()) << "login to the sample server failed";
  }

  // The message boxes shown so far, as "caption|text".
  QStringList Boxes() const {
    QStringList boxes;
    for (const auto& shown : recorder->Taken())
      if (shown.kind == Kind::MessageBox) boxes << shown.caption + u'|' + shown.text;
    return boxes;
  }

  // Runs `script` through the window as a user would: typed into the memo, then Execute.
  void RunScript(const QString& script) {
    w->m_sql->setPlainText(script);
    w->btn_execute->click();
  }

  norv::ScopedRecordingPresenter recorder;  // outlives the window
  std::unique_ptr<Tf_main> w;
};

// Clicks the way the mouse does, through the application object, so that an exception from the
// handler is shown by it rather than reaching the test.
void ClickThroughApplication(QPushButton* button) {
  const QPointF at = button->rect().center();
  const QPointF global = button->mapToGlobal(at);
  QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(button, &press);
  QApplication::sendEvent(button, &release);
}

// Every cell of `row`, from column 0 up to the grid's column count.
QStringList Row(const TNorvGrid& grid, int row) {
  QStringList cells;
  for (int c = 0; c < grid.ColCount(); ++c) cells << grid.Cells(c, row);
  return cells;
}

TEST_F(MainWindowTest, StartsWithTheFormsMenuControlsAndTexts) {
  EXPECT_EQ(w->objectName(), "f_main");
  EXPECT_EQ(w->windowTitle(), "Norv Demo - NOT Connected");
  EXPECT_EQ(w->size(), QSize(586, 479));

  QStringList menu;
  for (QAction* a : w->menuBar()->actions()) menu << a->objectName() + u'=' + a->text();
  EXPECT_EQ(menu,
            QStringList({"Close1=Close", "Connect1=&Connect/DisConnect", "Execute1=E&xecute",
                         "BulkCopy1=NorvBulk", "NorvTable1=NorvTable", "ObjectInfo1=Object Info",
                         "NorvFunctions1=NorvFunctions", "N7About1=&About"}));

  // Every control is found by its form name, in the window.
  for (const char* name :
       {"Panel1",       "Label3",      "cb_servers",  "Label1",    "e_username", "Label2",
        "e_password",   "btn_connect", "btn_execute", "btn_close", "btn_about",  "Label4",
        "lb_databases", "lb",          "norv_lb",     "norv_cb",   "norv_clb",   "grid",
        "Splitter1",    "m_sql",       "query",       "db"})
    EXPECT_NE(w->findChild<QObject*>(QString::fromLatin1(name)), nullptr) << name;

  EXPECT_EQ(w->Label3->text(), "ServerName");
  EXPECT_EQ(w->Label1->text(), "UserName");
  EXPECT_EQ(w->Label2->text(), "Password");
  EXPECT_EQ(w->Label4->text(), "Database");
  EXPECT_EQ(w->e_username->text(), "sa");
  EXPECT_EQ(w->e_password->text(), "");
  EXPECT_EQ(w->btn_connect->text(), "Connect");
  EXPECT_EQ(w->btn_execute->text(), "Execute");
  EXPECT_EQ(w->btn_close->text(), "Close");
  EXPECT_EQ(w->btn_about->text(), "About");

  // The server list comes from SQL.INI; the first server is picked.
  EXPECT_TRUE(w->cb_servers->isEditable());
  ASSERT_GE(w->cb_servers->count(), 1);
  EXPECT_EQ(w->cb_servers->currentText(), "SAMPLE");
  EXPECT_FALSE(w->lb_databases->isEditable());

  // Nothing is filled before a login.
  EXPECT_EQ(w->lb_databases->count(), 0);
  EXPECT_EQ(w->lb->count(), 0);
  EXPECT_EQ(w->norv_lb->count(), 0);
  EXPECT_EQ(w->norv_cb->count(), 0);
  EXPECT_EQ(w->norv_clb->count(), 0);

  EXPECT_EQ(w->m_sql->toPlainText().split(u'\n'),
            QStringList({"select db=db_name()",
                         "go",
                         "",
                         "create table #mytable(f1 int, f2 varchar(10))",
                         "insert #mytable(f1, f2)",
                         "  values (1,'One')",
                         "insert #mytable(f1, f2)",
                         "  values (2,'Two')",
                         "select *",
                         "from #mytable",
                         "go",
                         "",
                         "declare @i int",
                         "select @i = 99",
                         "select i = @i",
                         "go",
                         "",
                         "select name,id,type",
                         "from sysobjects",
                         "order by name"}));
  EXPECT_EQ(w->m_sql->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(w->m_sql->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(w->Splitter1->orientation(), Qt::Vertical);
  EXPECT_EQ(w->Splitter1->widget(0), w->grid);
  EXPECT_EQ(w->Splitter1->widget(1), w->m_sql);
}

TEST_F(MainWindowTest, ComponentsCarryTheFormsSettings) {
  const TNorvGrid& g = *w->grid;
  EXPECT_EQ(g.ColCount(), 2);
  EXPECT_EQ(g.RowCount(), 2);
  EXPECT_EQ(g.DefaultRowHeight(), 20);
  EXPECT_EQ(g.DbName(), "db");
  EXPECT_EQ(g.MsgDialogs(), TMsgDialogs({mdEnhMsg, mdEnhErr}));
  EXPECT_TRUE(g.ShowLineNum() && g.ShowHeader() && g.ShowHeaderOnNoRows() && g.ShowRowCount());
  // Unlike the grid's own defaults, the first header is an ordinary line.
  EXPECT_FALSE(g.KeepHeader());

  EXPECT_EQ(w->lb_databases->Sql(), "select name\r\nfrom master..sysdatabases\r\norder by name");
  EXPECT_TRUE(w->lb_databases->ShowDbMessages().Empty());
  for (TNorvListSource* list :
       std::initializer_list<TNorvListSource*>{w->norv_lb, w->norv_cb, w->norv_clb}) {
    EXPECT_EQ(list->DbName(), "db");
    EXPECT_EQ(list->Sql() + list->TableName() + u'.' + list->FieldName(), "sysobjects.name");
    EXPECT_TRUE(list->ShowDbMessages().Empty());
  }
  EXPECT_EQ(w->norv_clb->CheckFieldName() + u'=' + w->norv_clb->CheckValue(), "type=S");

  EXPECT_EQ(w->db->CharSet(), "cp850");
  EXPECT_EQ(w->db->ConProps(), TConProps({cpBulk_Login}));
  EXPECT_TRUE(w->db->LoginPrompt());
}

TEST_F(MainWindowTest, BeforeLoginExecuteAndToolWindowsOnlyWarn) {
  w->grid->SetCells(1, 1, "untouched");
  w->btn_execute->click();
  w->Execute1->trigger();
  EXPECT_EQ(w->grid->Cells(1, 1), "untouched");
  EXPECT_EQ(w->grid->RowCount(), 2);

  for (QAction* tool : {w->BulkCopy1, w->NorvTable1, w->ObjectInfo1, w->NorvFunctions1})
    tool->trigger();
  const QString first = "Norv demo|You have to connect first";
  EXPECT_EQ(Boxes(), QStringList({"Norv demo|Not connected", "Norv demo|Not connected", first,
                                  first, first, first}));
  for (const auto& shown : recorder->Taken()) {
    if (shown.kind == Kind::MessageBox) {
      EXPECT_EQ(shown.icon, norv::MsgIcon::Warning);
    }
  }
}

TEST_F(MainWindowTest, CancelledLoginLeavesTheWindowDisconnected) {
  w->cb_servers->setEditText("SAMPLE");
  w->e_username->setText(QString(40, u'u'));
  w->e_password->setText("secret");
  w->btn_connect->click();  // no reply queued: the dialog is cancelled

  ASSERT_EQ(recorder->LoginRequests().size(), 1u);
  const norv::TLoginRequest asked = recorder->LoginRequests().front();
  EXPECT_EQ(asked.ServerName, "SAMPLE");
  EXPECT_EQ(asked.UserName, QString(30, u'u'));  // cut to an object name
  EXPECT_EQ(asked.Password, "secret");
  EXPECT_FALSE(w->db->Connected());
  EXPECT_EQ(w->btn_connect->text(), "Connect");
  EXPECT_EQ(w->windowTitle(), "Norv Demo - NOT Connected");
  EXPECT_EQ(w->lb_databases->count(), 0);
  EXPECT_TRUE(Boxes().isEmpty());
}

TEST_F(MainWindowTest, FailedLoginIsShownByTheApplicationAndLeavesTheWindowDisconnected) {
  w->e_password->setText("wrong");
  recorder->QueueLoginReply([](norv::TLoginRequest&) { return true; });
  ClickThroughApplication(w->btn_connect);

  ASSERT_EQ(recorder->LoginRequests().size(), 1u);
  ASSERT_EQ(Boxes().size(), 1);
  EXPECT_TRUE(Boxes().front().endsWith("|Could not login to Server"))
      << Boxes().front().toStdString();
  EXPECT_FALSE(w->db->Connected());
  EXPECT_EQ(w->btn_connect->text(), "Connect");
  EXPECT_EQ(w->windowTitle(), "Norv Demo - NOT Connected");
}

TEST_F(MainWindowTest, EveryToolEntryOpensItsWindowModally) {
  Connect();
  const std::vector<std::pair<QAction*, QString>> entries = {{w->NorvTable1, "TNorvTable Demo"},
                                                             {w->BulkCopy1, "Bulk-Copy Demo"},
                                                             {w->ObjectInfo1, "Object Info"},
                                                             {w->NorvFunctions1, "NorvFunctions"}};
  for (const auto& [entry, title] : entries) {
    QString seen;
    // Closes the window once it runs modally; gives up (and lets the test fail) after a while.
    QTimer closer;
    int ticks = 0;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && modal != w.get()) {
        seen = modal->windowTitle();
        modal->close();
      } else if (++ticks > 300) {
        closer.stop();
      }
    });
    closer.start(10);
    entry->trigger();
    closer.stop();
    EXPECT_EQ(seen, title) << entry->text().toStdString();
  }
  EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("; ").toStdString();
}

TEST_F(MainWindowTest, LoginFillsTheDatabaseListAndLogoutUndoesIt) {
  Connect();
  EXPECT_EQ(w->btn_connect->text(), "DisConnect");
  EXPECT_EQ(w->windowTitle(), "Norv Demo - Connected to master");
  EXPECT_TRUE(w->lb_databases->count() >= 2);
  EXPECT_NE(w->lb_databases->findText("master"), -1);
  EXPECT_NE(w->lb_databases->findText("pubs2"), -1);
  EXPECT_EQ(w->lb_databases->currentIndex(), 0);
  // The sample lists stay empty: nothing in the window fills them.
  EXPECT_EQ(w->norv_lb->count(), 0);
  EXPECT_EQ(w->norv_clb->count(), 0);

  // Logging in shows no box. Connected, every tool entry opens its window: widgets_norvtable.cpp,
  // widgets_bulkcopy.cpp, widgets_info.cpp, widgets_functions.cpp.
  EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("; ").toStdString();

  // The menu entry follows the button: now it logs out.
  w->Connect1->trigger();
  EXPECT_FALSE(w->db->Connected());
  EXPECT_EQ(w->btn_connect->text(), "Connect");
  EXPECT_EQ(w->windowTitle(), "Norv Demo - NOT Connected");
  w->btn_execute->click();
  EXPECT_EQ(Boxes(), QStringList({"Norv demo|Not connected"}));

  // And the button logs in again.
  Connect();
  EXPECT_EQ(w->btn_connect->text(), "DisConnect");
}

TEST_F(MainWindowTest, StartScriptListsEveryResultSetInTheGrid) {
  Connect();
  w->btn_execute->click();
  const TNorvGrid& g = *w->grid;

  EXPECT_EQ(Row(g, 1).mid(0, 2), QStringList({" ", "db"}));
  EXPECT_EQ(Row(g, 2).mid(0, 2), QStringList({"1", "master"}));
  EXPECT_EQ(g.Cells(1, 3), "(1 rows affected)");
  EXPECT_EQ(g.Cells(1, 4).trimmed(), "");

  EXPECT_EQ(Row(g, 5).mid(0, 3), QStringList({" ", "f1", "f2"}));
  EXPECT_EQ(Row(g, 6).mid(0, 3), QStringList({"1", "1", "One"}));
  EXPECT_EQ(Row(g, 7).mid(0, 3), QStringList({"2", "2", "Two"}));
  EXPECT_EQ(g.Cells(1, 8), "(2 rows affected)");

  EXPECT_EQ(Row(g, 10).mid(0, 2), QStringList({" ", "i"}));
  EXPECT_EQ(Row(g, 11).mid(0, 2), QStringList({"1", "99"}));
  EXPECT_EQ(g.Cells(1, 12), "(1 rows affected)");

  // The catalog listing: numbered rows in name order, closed by their count.
  ASSERT_EQ(g.ColCount(), 4);
  EXPECT_EQ(Row(g, 14), QStringList({" ", "name", "id", "type"}));
  QStringList names;
  int row = 15;
  for (; !g.Cells(0, row).trimmed().isEmpty() && row < g.RowCount(); ++row) {
    EXPECT_EQ(g.Cells(0, row), QString::number(row - 14));
    names << g.Cells(1, row).trimmed();
  }
  EXPECT_GT(names.size(), 10);
  EXPECT_TRUE(names.contains("sysobjects"));
  QStringList sorted = names;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(names, sorted);
  EXPECT_EQ(g.Cells(1, row), QStringLiteral("(%1 rows affected)").arg(names.size()));
  EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("; ").toStdString();
}

TEST_F(MainWindowTest, PickedDatabaseBecomesCurrentForTheNextRun) {
  // Log in to pubs2, so that the fill's selecting "master" first can be told apart from a pick.
  w->db->SetDBName("pubs2");
  Connect();
  EXPECT_EQ(w->windowTitle(), "Norv Demo - Connected to pubs2");
  EXPECT_EQ(w->lb_databases->currentText(), "master");
  EXPECT_EQ(w->db->DBName(), "pubs2");
  RunScript("select db=db_name()");
  EXPECT_EQ(w->grid->Cells(1, 2), "pubs2");

  auto pick = [&](const QString& database) {
    const int index = w->lb_databases->findText(database);
    ASSERT_NE(index, -1) << database.toStdString();
    w->lb_databases->setCurrentIndex(index);
    emit w->lb_databases->activated(index);  // what a user's pick sends
  };
  pick("master");
  EXPECT_EQ(w->db->DBName(), "master");
  EXPECT_EQ(w->windowTitle(), "Norv Demo - Connected to master");
  RunScript("select db=db_name()");
  EXPECT_EQ(w->grid->Cells(1, 1), "db");
  EXPECT_EQ(w->grid->Cells(1, 2), "master");

  pick("pubs2");
  EXPECT_EQ(w->windowTitle(), "Norv Demo - Connected to pubs2");
  // A table only pubs2 has, named without its database.
  RunScript("select au_lname from authors where au_id = '201-45-7781'");
  EXPECT_EQ(w->grid->Cells(1, 2).trimmed(), "Abernathy");
}

TEST_F(MainWindowTest, TextOutsideAsciiSurvivesTheWindowsCharacterSet) {
  Connect();
  RunScript(QString::fromUtf8("select t='é ü € ß'"));
  EXPECT_EQ(w->grid->Cells(1, 2), QString::fromUtf8("é ü € ß"));
}

TEST_F(MainWindowTest, EveryWayOfClosingLogsOut) {
  const std::vector<std::pair<const char*, std::function<void(Tf_main&)>>> ways = {
      {"button", [](Tf_main& f) { f.btn_close->click(); }},
      {"menu", [](Tf_main& f) { f.Close1->trigger(); }},
      {"window frame", [](Tf_main& f) { f.close(); }},
  };
  for (const auto& [way, closeIt] : ways) {
    w.reset();  // one connection named "db" at a time
    w = std::make_unique<Tf_main>();
    norvtest::ShowActive(*w);
    Connect();
    closeIt(*w);
    EXPECT_FALSE(w->db->Connected()) << way;
    EXPECT_FALSE(w->isVisible()) << way;
  }
}

TEST_F(MainWindowTest, AboutNamesTheDemonstration) {
  w->btn_about->click();
  w->N7About1->trigger();
  const QStringList boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2);
  EXPECT_TRUE(boxes[0].startsWith("Norv demo|Norv demo")) << boxes[0].toStdString();
  EXPECT_EQ(boxes[0], boxes[1]);
}

}  // namespace
