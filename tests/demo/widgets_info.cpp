// The object information window against the sample server's pubs2: opened modally from the main
// window, then each button's statement (as traced to the monitor) and what the window shows.
#include "catalog/norvobjinfo.h"
#include "connection/norvdatabase.h"
#include "recording_presenter.h"
#include "server_fixture.h"
#include "trace_capture.h"
#include "u_info.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

#include <functional>
#include <memory>

namespace {

QStringList Items(const QListWidget* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}

void Select(QListWidget* list, const QString& text) {
  const auto found = list->findItems(text, Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << text.toStdString();
  list->setCurrentItem(found.first());
}

class ObjectInfoWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& server = norvtest::SampleServer();
    db_ = std::make_unique<TNorvDatabase>();
    db_->SetName(QStringLiteral("db"));
    db_->SetServerName(server.serverName);
    db_->SetUserName(QStringLiteral("sa"));
    db_->SetLoginPrompt(false);
    db_->SetConnected(true);
    db_->SetDBName(QStringLiteral("pubs2"));
    w_ = std::make_unique<Tf_info>();
  }

  // Runs `click` and returns the statement it traced.
  static QString Traced(const std::function<void()>& click) {
    norvtest::TraceCapture trace;
    click();
    return trace.Wait(1).value(0);
  }

  norv::ScopedRecordingPresenter recorder_;
  std::unique_ptr<TNorvDatabase> db_;
  std::unique_ptr<Tf_info> w_;
};

TEST_F(ObjectInfoWindowTest, EachListButtonSendsItsStatementAndFillsTheList) {
  const struct {
    QPushButton* Tf_info::*button;
    const char* sql;
    const char* item;
  } cases[] = {
      {&Tf_info::Button3, "SELECT name FROM master..sysdatabases ORDER BY name", "pubs2"},
      {&Tf_info::Button4, "SELECT name FROM sysusers WHERE gid<>uid ORDER BY name", "bookclerk"},
      {&Tf_info::Button5, "SELECT name FROM sysusers WHERE gid=uid ORDER BY name", "clerks"},
      {&Tf_info::Button6, "SELECT name FROM systypes WHERE usertype < 100 ORDER BY name", "int"},
      {&Tf_info::Button7, "SELECT name FROM systypes WHERE usertype > 100 ORDER BY name", "tid"},
      {&Tf_info::Button8,
       "SELECT so.name + '.' + si.name FROM sysobjects so,sysindexes si WHERE so.id = si.id  AND "
       "si.indid<> 0 AND so.type IN ('U','S') ORDER BY so.name,si.indid",
       "authors.aunmind"},
      {&Tf_info::Button9, "SELECT name FROM syssegments ORDER BY name", "logsegment"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    QPushButton* button = w_.get()->*c.button;
    EXPECT_EQ(Traced([&] { button->click(); }), QStringLiteral("SQL Execute: ") + c.sql);
    EXPECT_EQ(Items(w_->lb_objects), w_->info->ResultList());
    EXPECT_TRUE(Items(w_->lb_objects).contains(QString::fromLatin1(c.item)));
    EXPECT_EQ(w_->ObjectKind(), -1);
  }
}

TEST_F(ObjectInfoWindowTest, PopupItemsListObjectsOfTheirKind) {
  w_->show();
  w_->Button2->click();
  EXPECT_TRUE(w_->PopupMenu1->isVisible());
  EXPECT_EQ(w_->PopupMenu1->pos(), w_->Button2->mapToGlobal(QPoint(0, 0)));
  w_->PopupMenu1->hide();
  const struct {
    const char* caption;
    const char* type;
    const char* item;
  } cases[] = {
      {"Procedures", "P", "byroyalty"},     {"Views", "V", "titleview"},
      {"Triggers", "TR", "deltitle"},       {"User Tables", "U", "authors"},
      {"System Tables", "S", "sysobjects"}, {"Rules", "R", "pub_idrule"},
  };
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(cases[i].caption);
    EXPECT_EQ(w_->PopupItems[i]->text(), QString::fromLatin1(cases[i].caption));
    EXPECT_EQ(Traced([&] { w_->PopupItems[i]->trigger(); }),
              QStringLiteral("SQL Execute: SELECT name FROM sysobjects WHERE type = '%1' ORDER BY "
                             "name")
                  .arg(QString::fromLatin1(cases[i].type)));
    EXPECT_TRUE(Items(w_->lb_objects).contains(QString::fromLatin1(cases[i].item)));
    EXPECT_EQ(w_->ObjectKind(), i + 1);
  }
}

TEST_F(ObjectInfoWindowTest, ObjectTextFollowsTheKindLastPicked) {
  // Before any popup item: nothing happens.
  w_->Button3->click();
  Select(w_->lb_objects, QStringLiteral("pubs2"));
  w_->Button1->click();
  EXPECT_EQ(w_->m_text->toPlainText(), QString());

  w_->PopupItems[0]->trigger();  // Procedures
  Select(w_->lb_objects, QStringLiteral("byroyalty"));
  w_->Button1->click();
  EXPECT_EQ(w_->m_text->toPlainText(),
            QStringLiteral("create procedure byroyalty @percentage int\nas\nselect au_id from "
                           "titleauthor\nwhere titleauthor.royaltyper = @percentage"));

  w_->PopupItems[3]->trigger();  // User Tables
  Select(w_->lb_objects, QStringLiteral("publishers"));
  w_->Button1->click();
  EXPECT_EQ(w_->m_text->toPlainText(),
            QStringLiteral("CREATE TABLE publishers\n(\n"
                           " pub_id                        char(4)                      NOT NULL,\n"
                           " pub_name                      varchar(40)                  NULL,\n"
                           " city                          varchar(20)                  NULL,\n"
                           " state                         char(2)                      NULL\n)"));

  // Procedures, then Users: the kind is still that of procedures, and a user is no such object.
  // The click's exception reaches the application object, which shows it; the window stays.
  w_->show();
  w_->PopupItems[0]->trigger();
  w_->Button4->click();
  Select(w_->lb_objects, QStringLiteral("bookclerk"));
  QMetaObject::invokeMethod(w_->Button1, &QPushButton::click, Qt::QueuedConnection);
  QApplication::processEvents();
  QStringList shown;
  for (const auto& s : recorder_->Taken()) shown << s.text;
  EXPECT_EQ(shown,
            QStringList{"Object is not a Stored Procedure, View ,Trigger, Default or Rule!"});
  EXPECT_EQ(w_->ObjectKind(), 1);
  EXPECT_TRUE(w_->isVisible());
}

TEST_F(ObjectInfoWindowTest, IndexColumnsOfTheSelectedIndex) {
  w_->Button10->click();  // nothing selected: nothing happens
  EXPECT_EQ(w_->m_text->toPlainText(), QString());
  w_->Button8->click();
  Select(w_->lb_objects, QStringLiteral("authors.aunmind"));
  const QString sql = Traced([&] { w_->Button10->click(); });
  EXPECT_TRUE(
      sql.endsWith(QStringLiteral("= 'authors.aunmind' ORDER BY x.name, x.indid, c.colid "
                                  "ASC")))
      << sql.toStdString();
  EXPECT_EQ(w_->m_text->toPlainText(), QStringLiteral("au_lname\nau_fname"));
  w_->btn_close->click();
  EXPECT_EQ(w_->result(), QDialog::Accepted);
}

}  // namespace
