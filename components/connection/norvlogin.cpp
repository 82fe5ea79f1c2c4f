#include "norvlogin.h"

#include "norvtypes.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>

namespace {

constexpr int kClientWidth = 222;
constexpr int kClientHeight = 155;
// Without the server row the buttons sit 18 pixels higher; the form shrinks by as much, so they
// keep their margin and stay inside it.
constexpr int kClientHeightWithoutServer = 137;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->adjustSize();
  label->move(left, top);
  return label;
}

template <class W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

bool HasText(const QString& text) { return !text.isEmpty(); }

}  // namespace

TNorvPasswordDlg::TNorvPasswordDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("NorvPasswordDlg"));
  setWindowTitle(QStringLiteral("Login"));
  setModal(true);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);

  Bevel1 = Place(new QFrame(this), "Bevel1", 1, 0, 220, 116);
  Bevel1->setFrameShape(QFrame::Box);
  Bevel1->setFrameShadow(QFrame::Sunken);

  server = Place(new QComboBox(this), "server", 74, 10, 137, 21);
  server->setEditable(true);
  server->setInsertPolicy(QComboBox::InsertAlphabetically);
  username = Place(new QLineEdit(this), "username", 74, 36, 137, 21);
  Password = Place(new QLineEdit(this), "Password", 74, 62, 137, 21);
  Password->setEchoMode(QLineEdit::Password);
  Password->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"
  rdbms = Place(new QComboBox(this), "rdbms", 74, 88, 137, 21);
  rdbms->setEditable(false);
  rdbms->addItems({RdbmsText(TRdbms::SybaseSqlServer), RdbmsText(TRdbms::SqlAnywhere)});

  Label3 = MakeLabel(this, "Label3", QStringLiteral("&Server"), 8, 18);
  Label3->setBuddy(server);
  Label2 = MakeLabel(this, "Label2", QStringLiteral("&Login"), 8, 44);
  Label2->setBuddy(username);
  Label1 = MakeLabel(this, "Label1", QStringLiteral("&Password"), 8, 70);
  Label1->setBuddy(Password);
  Label4 = MakeLabel(this, "Label4", QStringLiteral("&Rdbms"), 8, 96);
  Label4->setBuddy(rdbms);

  OKBtn = Place(new QPushButton(QStringLiteral("OK"), this), "OKBtn", 28, 124, 71, 25);
  OKBtn->setDefault(true);
  OKBtn->setAutoDefault(true);
  CancelBtn = Place(new QPushButton(QStringLiteral("Cancel"), this), "CancelBtn", 124, 124, 71, 25);
  CancelBtn->setAutoDefault(false);
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);  // Escape rejects as well

  // Tab order follows the rows.
  setTabOrder(server, username);
  setTabOrder(username, Password);
  setTabOrder(Password, rdbms);
  setTabOrder(rdbms, OKBtn);
  setTabOrder(OKBtn, CancelBtn);

  connect(server, &QComboBox::editTextChanged, this, &TNorvPasswordDlg::ServerTextChanged);
}

void TNorvPasswordDlg::ServerTextChanged(const QString& text) {
  // A cleared field keeps the last caption.
  if (HasText(text)) setWindowTitle(QStringLiteral("Login to ") + text);
}

void TNorvPasswordDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && HasText(username->text()) &&
      HasText(server->currentText()))
    Password->setFocus(Qt::ActiveWindowFocusReason);
}

void TNorvPasswordDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Centred on the screen it opens on.
  if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TNorvPasswordDlg::HideServerRow() {
  server->hide();
  Label3->hide();
  username->move(username->x(), 10);
  Password->move(Password->x(), 36);
  rdbms->move(rdbms->x(), 62);
  Label4->move(Label4->x(), 70);
  Label2->move(Label2->x(), 18);
  Label1->move(Label1->x(), 44);
  Bevel1->resize(Bevel1->width(), 92);
  setFixedSize(kClientWidth, kClientHeightWithoutServer);
  OKBtn->move(OKBtn->x(), 106);
  CancelBtn->move(CancelBtn->x(), 106);
}

void TNorvPasswordDlg::Prepare(const norv::TLoginRequest& request) {
  if (!request.ServerName.isEmpty())
    setWindowTitle(QStringLiteral("Login to ") + request.ServerName);
  if (!request.ServerPrompt) server->setEnabled(false);
  rdbms->setVisible(request.RdbmsShow);
  Label4->setVisible(request.RdbmsShow);
  rdbms->setEnabled(request.RdbmsPrompt);
  if (!request.ServerShow) HideServerRow();
  username->setText(request.UserName);
  Password->setText(request.Password);
  // The list first: filling an editable combo box would otherwise replace the text. Filling it
  // is no edit of the server text, so the caption does not follow it.
  {
    const QSignalBlocker quiet(server);
    server->clear();
    QStringList servers = request.ServerList;
    servers.sort(Qt::CaseInsensitive);
    server->addItems(servers);
    server->setCurrentIndex(-1);
  }
  server->setEditText(request.ServerName);
  rdbms->setCurrentIndex(RdbmsFromText(request.Rdbms) == TRdbms::SqlAnywhere ? 1 : 0);
}

void TNorvPasswordDlg::ReadBack(norv::TLoginRequest& request) const {
  request.UserName = NorvObjectname(username->text());
  request.Password = NorvObjectname(Password->text());
  request.ServerName = NorvObjectname(server->currentText());
  request.Rdbms = NorvObjectname(rdbms->currentText());
}
