// The login dialog, rendered off screen, and the Qt presenter's login prompt.
#include "connection/norvlogin.h"
#include "connection/qtpresenter.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "widget_helpers.h"

#include <functional>

namespace {

using norvtest::ProcessUntil;
using norvtest::ShowActive;

void Type(QWidget* target, Qt::Key key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

norv::TLoginRequest Request() {
  norv::TLoginRequest r;
  r.ServerName = "SYB2";
  r.UserName = "sa";
  r.Password = "secret";
  r.ServerList = {"ZED", "alpha", "SYB2"};
  r.Rdbms = "Sybase SQL Server";
  return r;
}

TEST(LoginDialog, ControlsCaptionsAndGeometry) {
  TNorvPasswordDlg dlg;
  EXPECT_EQ(dlg.objectName(), "NorvPasswordDlg");
  EXPECT_EQ(dlg.windowTitle(), "Login");
  EXPECT_EQ(dlg.size(), QSize(222, 155));
  EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());  // fixed frame

  struct Place {
    QWidget* widget;
    const char* name;
    QRect rect;
  };
  for (const Place& p :
       {Place{dlg.Bevel1, "Bevel1", {1, 0, 220, 116}},
        Place{dlg.server, "server", {74, 10, 137, 21}},
        Place{dlg.username, "username", {74, 36, 137, 21}},
        Place{dlg.Password, "Password", {74, 62, 137, 21}},
        Place{dlg.rdbms, "rdbms", {74, 88, 137, 21}}, Place{dlg.OKBtn, "OKBtn", {28, 124, 71, 25}},
        Place{dlg.CancelBtn, "CancelBtn", {124, 124, 71, 25}}}) {
    EXPECT_EQ(p.widget->objectName(), p.name);
    EXPECT_EQ(p.widget->geometry(), p.rect) << p.name;
    EXPECT_EQ(dlg.findChild<QWidget*>(p.name), p.widget) << p.name;
  }
  struct LabelRow {
    QLabel* label;
    const char* name;
    const char* caption;
    QPoint at;
    QWidget* buddy;
  };
  for (const LabelRow& l : {LabelRow{dlg.Label3, "Label3", "&Server", {8, 18}, dlg.server},
                            LabelRow{dlg.Label2, "Label2", "&Login", {8, 44}, dlg.username},
                            LabelRow{dlg.Label1, "Label1", "&Password", {8, 70}, dlg.Password},
                            LabelRow{dlg.Label4, "Label4", "&Rdbms", {8, 96}, dlg.rdbms}}) {
    EXPECT_EQ(l.label->objectName(), l.name);
    EXPECT_EQ(l.label->text(), l.caption);
    EXPECT_EQ(l.label->pos(), l.at) << l.name;
    EXPECT_EQ(l.label->buddy(), l.buddy) << l.name;
  }
  EXPECT_EQ(dlg.OKBtn->text(), "OK");
  EXPECT_EQ(dlg.CancelBtn->text(), "Cancel");
  EXPECT_TRUE(dlg.OKBtn->isDefault());
  EXPECT_TRUE(dlg.server->isEditable());
  EXPECT_FALSE(dlg.rdbms->isEditable());
  ASSERT_EQ(dlg.rdbms->count(), 2);
  EXPECT_EQ(dlg.rdbms->itemText(0), "Sybase SQL Server");
  EXPECT_EQ(dlg.rdbms->itemText(1), "SQLAnywhere");

  dlg.Password->setText("abc");
  EXPECT_EQ(dlg.Password->displayText(), "***");
  EXPECT_EQ(dlg.Password->text(), "abc");
}

TEST(LoginDialog, EnterConfirmsAndEscapeCancels) {
  {
    TNorvPasswordDlg dlg;
    ShowActive(dlg);
    dlg.username->setFocus();
    Type(dlg.username, Qt::Key_Return);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
  }
  {
    TNorvPasswordDlg dlg;
    ShowActive(dlg);
    dlg.username->setFocus();
    Type(dlg.username, Qt::Key_Escape);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_FALSE(dlg.isVisible());
  }
}

TEST(LoginDialog, PreparationFillsTheDialog) {
  TNorvPasswordDlg dlg;
  norv::TLoginRequest r = Request();
  r.ServerPrompt = false;
  r.RdbmsPrompt = false;
  dlg.Prepare(r);
  EXPECT_EQ(dlg.windowTitle(), "Login to SYB2");
  EXPECT_FALSE(dlg.server->isEnabled());
  EXPECT_FALSE(dlg.rdbms->isEnabled());
  EXPECT_FALSE(dlg.rdbms->isHidden());
  EXPECT_EQ(dlg.username->text(), "sa");
  EXPECT_EQ(dlg.Password->text(), "secret");
  EXPECT_EQ(dlg.server->currentText(), "SYB2");
  ASSERT_EQ(dlg.server->count(), 3);
  EXPECT_EQ(dlg.server->itemText(0), "alpha");  // sorted
  EXPECT_EQ(dlg.server->itemText(1), "SYB2");
  EXPECT_EQ(dlg.server->itemText(2), "ZED");

  TNorvPasswordDlg hidden;
  r = Request();
  r.RdbmsShow = false;
  r.ServerName.clear();
  hidden.Prepare(r);
  EXPECT_EQ(hidden.windowTitle(), "Login");
  EXPECT_TRUE(hidden.server->isEnabled());
  EXPECT_TRUE(hidden.rdbms->isHidden());
  EXPECT_TRUE(hidden.Label4->isHidden());
  EXPECT_EQ(hidden.server->currentText(), "");
}

TEST(LoginDialog, SybaseIsSelectedForAnyKindButSQLAnywhere) {
  for (const QString& kind :
       {QString(), QString("Sybase SQL Server"), QString("sqlanywhere"), QString("Oracle")}) {
    TNorvPasswordDlg dlg;
    norv::TLoginRequest r = Request();
    r.Rdbms = kind;
    dlg.Prepare(r);
    EXPECT_EQ(dlg.rdbms->currentText(), "Sybase SQL Server") << kind.toStdString();
  }
  TNorvPasswordDlg dlg;
  norv::TLoginRequest r = Request();
  r.Rdbms = "SQLAnywhere";
  dlg.Prepare(r);
  EXPECT_EQ(dlg.rdbms->currentText(), "SQLAnywhere");
}

TEST(LoginDialog, WithoutTheServerRowEverythingMovesUp) {
  TNorvPasswordDlg full;
  TNorvPasswordDlg dlg;
  norv::TLoginRequest r = Request();
  r.ServerShow = false;
  dlg.Prepare(r);
  ShowActive(dlg);
  EXPECT_FALSE(dlg.server->isVisible());
  EXPECT_FALSE(dlg.Label3->isVisible());
  for (auto member : {&TNorvPasswordDlg::username, &TNorvPasswordDlg::Password}) {
    EXPECT_EQ((full.*member)->y() - (dlg.*member)->y(), 26);
  }
  EXPECT_EQ(full.rdbms->y() - dlg.rdbms->y(), 26);
  for (auto member :
       {&TNorvPasswordDlg::Label1, &TNorvPasswordDlg::Label2, &TNorvPasswordDlg::Label4}) {
    EXPECT_EQ((full.*member)->y() - (dlg.*member)->y(), 26);
  }
  EXPECT_EQ(dlg.username->y(), 10);
  EXPECT_EQ(dlg.Password->y(), 36);
  EXPECT_EQ(dlg.rdbms->y(), 62);
  EXPECT_EQ(dlg.Label4->y(), 70);
  EXPECT_EQ(dlg.Bevel1->height(), 92);
  EXPECT_EQ(dlg.OKBtn->y(), 106);
  EXPECT_EQ(dlg.CancelBtn->y(), 106);
  EXPECT_LT(dlg.height(), full.height());
  EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
  // The buttons stay inside the smaller form, below the frame.
  for (QPushButton* b : {dlg.OKBtn, dlg.CancelBtn}) {
    EXPECT_TRUE(dlg.rect().contains(b->geometry())) << b->objectName().toStdString();
    EXPECT_GT(b->y(), dlg.Bevel1->geometry().bottom());
  }
}

TEST(LoginDialog, CaptionFollowsEachKeystrokeAndKeepsTheLastWhenCleared) {
  TNorvPasswordDlg dlg;
  ShowActive(dlg);
  QLineEdit* edit = dlg.server->lineEdit();
  ASSERT_NE(edit, nullptr);
  edit->setFocus();
  QStringList captions;
  QObject::connect(&dlg, &QWidget::windowTitleChanged,
                   [&](const QString& title) { captions << title; });
  Type(edit, Qt::Key_S, "S");
  Type(edit, Qt::Key_Y, "Y");
  Type(edit, Qt::Key_B, "B");
  EXPECT_EQ(captions, (QStringList{"Login to S", "Login to SY", "Login to SYB"}));
  for (int i = 0; i < 3; ++i) Type(edit, Qt::Key_Backspace);
  EXPECT_EQ(edit->text(), "");
  EXPECT_EQ(dlg.windowTitle(), "Login to S");
}

TEST(LoginDialog, ActivationFocusesThePasswordOnlyWhenUserAndServerAreGiven) {
  {
    TNorvPasswordDlg dlg;
    dlg.Prepare(Request());
    ShowActive(dlg);
    EXPECT_EQ(QApplication::focusWidget(), dlg.Password);
  }
  {
    TNorvPasswordDlg dlg;
    norv::TLoginRequest r = Request();
    r.UserName.clear();
    dlg.Prepare(r);
    ShowActive(dlg);
    EXPECT_NE(QApplication::focusWidget(), dlg.Password);
  }
}

TEST(LoginDialog, ReadBackCutsEachTextTo30Characters) {
  TNorvPasswordDlg dlg;
  dlg.Prepare(Request());
  dlg.username->setText(QString(35, u'u'));
  dlg.Password->setText(QString(31, u'p'));
  dlg.server->setEditText(QString(40, u's'));
  dlg.rdbms->setCurrentIndex(1);
  norv::TLoginRequest r;
  dlg.ReadBack(r);
  EXPECT_EQ(r.UserName, QString(30, u'u'));
  EXPECT_EQ(r.Password, QString(30, u'p'));
  EXPECT_EQ(r.ServerName, QString(30, u's'));
  EXPECT_EQ(r.Rdbms, "SQLAnywhere");
}

// Answers the next login dialog that opens, from the event loop of its exec().
void AnswerDialog(const std::function<void(TNorvPasswordDlg&)>& answer) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [timer, answer] {
    auto* dlg = qobject_cast<TNorvPasswordDlg*>(QApplication::activeModalWidget());
    if (!dlg || !dlg->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    answer(*dlg);
  });
  timer->start(10);
}

TEST(QtPresenterLogin, PromptShowsTheDialogAndReadsItBack) {
  norv::QtPresenter presenter;
  norv::TLoginRequest r = Request();
  QString shownCaption;
  AnswerDialog([&](TNorvPasswordDlg& dlg) {
    shownCaption = dlg.windowTitle();
    dlg.username->setText("operator");
    dlg.Password->clear();
    dlg.rdbms->setCurrentIndex(1);
    dlg.OKBtn->click();
  });
  EXPECT_TRUE(presenter.LoginPrompt(r));
  EXPECT_EQ(shownCaption, "Login to SYB2");
  EXPECT_EQ(r.UserName, "operator");
  EXPECT_EQ(r.Password, "");
  EXPECT_EQ(r.ServerName, "SYB2");
  EXPECT_EQ(r.Rdbms, "SQLAnywhere");

  const norv::TLoginRequest before = r;
  AnswerDialog([](TNorvPasswordDlg& dlg) {
    dlg.username->setText("ignored");
    dlg.CancelBtn->click();
  });
  EXPECT_FALSE(presenter.LoginPrompt(r));
  EXPECT_EQ(r.UserName, before.UserName);  // nothing copied back on Cancel
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
