#include "u_main.h"
#include "u_bulkcopy.h"
#include "u_functions.h"
#include "u_info.h"
#include "u_norvtable.h"

#include "connection/norvapplication.h"
#include "connection/norvdatabase.h"
#include "connection/presenter.h"
#include "controls/norvchklistbox.h"
#include "controls/norvcombobox.h"
#include "controls/norvgrid.h"
#include "controls/norvlistbox.h"
#include "query/norvquery.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include <memory>

namespace {

const QString kCaption = QStringLiteral("Norv demo");
const QString kConnectedTo = QStringLiteral("Norv Demo - Connected to ");
const QString kNotConnected = QStringLiteral("Norv Demo - NOT Connected");
const QString kConnect = QStringLiteral("Connect");
const QString kDisConnect = QStringLiteral("DisConnect");

// The script the memo starts with: one statement of each kind the grid lists differently.
const QStringList kStartScript = {
    "select db=db_name()",
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
    "order by name",
};

// The list controls that show what they can do once filled; the window never fills them itself.
template <class List>
void SetUpSysobjectsList(List* list) {
  list->SetTableName(QStringLiteral("sysobjects"));
  list->SetFieldName(QStringLiteral("name"));
  list->SetDbName(QStringLiteral("db"));
  list->SetMsgDialogs({});
  list->SetShowDbMessages({});
  list->SetTrimResults(false);
}

void Warn(const QString& text) {
  norv::CurrentPresenter().ShowMessageBox(kCaption, text, norv::MsgIcon::Warning);
}

}  // namespace

Tf_main::Tf_main(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("f_main"));
  setWindowTitle(kNotConnected);
  // The connection first: the controls name it, and the server list fills cb_servers.
  CreateComponents();
  CreateMenu();

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  CreatePanel();
  CreateGridAndMemo();
  column->addWidget(Panel1);
  column->addWidget(Splitter1, 1);
  setCentralWidget(central);
  resize(586, 479);

  cb_servers->addItems(db->ServerList());
  if (cb_servers->count() > 0) cb_servers->setCurrentIndex(0);
}

// The controls go before the connection they name, which the window would otherwise destroy
// first: a grid or list whose query still held a command would outlive its login.
Tf_main::~Tf_main() {
  delete centralWidget();
  delete query;
  delete db;
}

void Tf_main::CreateComponents() {
  db = new TNorvDatabase(this);
  db->SetName(QStringLiteral("db"));
  db->SetMsgDialogs({mdEnhMsg, mdEnhErr});
  db->SetShowDbMessages({smDbMsg, smDbErr});
  db->SetLanguage(QStringLiteral("us_english"));
  db->SetSortOrder(QStringLiteral("binary"));
  db->SetCharSet(QStringLiteral("cp850"));
  db->SetMaxConnect(25);
  db->SetTimeOut(60);
  db->SetRdbms(TRdbms::SybaseSqlServer);
  db->SetUserName(QStringLiteral("sa"));
  db->SetDBName(QStringLiteral("master"));
  db->SetContextName(QStringLiteral("default"));
  db->SetConProps({cpBulk_Login});
  db->SetTransLevel(tlLevel1);
  db->SetProcOptions({});
  db->SetPacketSize(512);
  db->SetForceClose(false);
  db->SetTextSize(32768);
  db->SetRowCount(0);
  db->SetDebug(false);
  db->SetDebugOptions({});
  db->SetEmulateASE(false);

  query = new TNorvQuery(this);
  query->SetName(QStringLiteral("query"));
  query->SetSql(QStringLiteral("select name\r\nfrom sysobjects\r\norder by name"));
  query->SetDbName(QStringLiteral("db"));
  query->SetCurFetchRows(10);
  query->SetMaxRows(0);
  query->SetReadOnly(false);
  query->SetTrimResults(false);
  query->SetMsgDialogs({mdEnhMsg, mdEnhErr});
  query->SetShowDbMessages({smDbMsg, smDbErr});
}

void Tf_main::CreateMenu() {
  QMenuBar* MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  auto add = [&](const char* name, const QString& text, void (Tf_main::*handler)()) {
    QAction* action = MainMenu1->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this,
            [this, handler] { RunHandler([&] { (this->*handler)(); }); });
    return action;
  };
  Close1 = add("Close1", QStringLiteral("Close"), &Tf_main::btn_closeClick);
  Connect1 = add("Connect1", QStringLiteral("&Connect/DisConnect"), &Tf_main::btn_connectClick);
  Execute1 = add("Execute1", QStringLiteral("E&xecute"), &Tf_main::btn_executeClick);
  BulkCopy1 = add("BulkCopy1", QStringLiteral("NorvBulk"), &Tf_main::BulkCopy1Click);
  NorvTable1 = add("NorvTable1", QStringLiteral("NorvTable"), &Tf_main::NorvTable1Click);
  ObjectInfo1 = add("ObjectInfo1", QStringLiteral("Object Info"), &Tf_main::ObjectInfo1Click);
  NorvFunctions1 =
      add("NorvFunctions1", QStringLiteral("NorvFunctions"), &Tf_main::NorvFunctions1Click);
  N7About1 = add("N7About1", QStringLiteral("&About"), &Tf_main::btn_aboutClick);
}

void Tf_main::CreatePanel() {
  Panel1 = new QWidget;
  Panel1->setObjectName(QStringLiteral("Panel1"));
  // The panel keeps its height; the grid and the memo take what the window gains.
  Panel1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

  auto label = [&](const char* name, const QString& text) {
    auto* l = new QLabel(text, Panel1);
    l->setObjectName(QString::fromLatin1(name));
    return l;
  };
  auto button = [&](const char* name, const QString& text, void (Tf_main::*handler)()) {
    auto* b = new QPushButton(text, Panel1);
    b->setObjectName(QString::fromLatin1(name));
    connect(b, &QPushButton::clicked, this,
            [this, handler] { RunHandler([&] { (this->*handler)(); }); });
    return b;
  };
  // The three lists show a few rows each and share the panel's spare width.
  auto sizeList = [](QListWidget* list) {
    list->setMinimumHeight(80);
    list->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
  };

  Label3 = label("Label3", QStringLiteral("ServerName"));
  cb_servers = new QComboBox(Panel1);
  cb_servers->setObjectName(QStringLiteral("cb_servers"));
  cb_servers->setEditable(true);
  cb_servers->setMinimumWidth(135);

  Label1 = label("Label1", QStringLiteral("UserName"));
  e_username = new QLineEdit(QStringLiteral("sa"), Panel1);
  e_username->setObjectName(QStringLiteral("e_username"));
  e_username->setMinimumWidth(105);

  Label2 = label("Label2", QStringLiteral("Password"));
  e_password = new QLineEdit(Panel1);
  e_password->setObjectName(QStringLiteral("e_password"));
  // Whoever looks over the user's shoulder should not read the password.
  e_password->setEchoMode(QLineEdit::Password);
  e_password->setMinimumWidth(105);

  btn_connect = button("btn_connect", kConnect, &Tf_main::btn_connectClick);
  btn_execute = button("btn_execute", QStringLiteral("Execute"), &Tf_main::btn_executeClick);
  btn_close = button("btn_close", QStringLiteral("Close"), &Tf_main::btn_closeClick);
  btn_about = button("btn_about", QStringLiteral("About"), &Tf_main::btn_aboutClick);

  Label4 = label("Label4", QStringLiteral("Database"));
  lb_databases = new TNorvComboBox(Panel1);
  lb_databases->SetName(QStringLiteral("lb_databases"));
  lb_databases->setEditable(false);
  lb_databases->SetDbName(QStringLiteral("db"));
  lb_databases->SetSql(QStringLiteral("select name\r\nfrom master..sysdatabases\r\norder by name"));
  lb_databases->SetMsgDialogs({});
  lb_databases->SetShowDbMessages({});
  lb_databases->SetTrimResults(false);
  lb_databases->SetRowsReturned(false);
  // Only a user's pick switches the database, not the fill that selects the first item.
  connect(lb_databases, &QComboBox::activated, this,
          [this] { RunHandler([&] { lb_databasesChange(); }); });

  lb = new QListWidget(Panel1);
  lb->setObjectName(QStringLiteral("lb"));
  sizeList(lb);

  norv_lb = new TNorvListBox(Panel1);
  norv_lb->SetName(QStringLiteral("norv_lb"));
  SetUpSysobjectsList(norv_lb);
  norv_lb->SetHorizontalScrollbar(true);
  norv_lb->SetShowHeader(false);
  sizeList(norv_lb);

  norv_cb = new TNorvComboBox(Panel1);
  norv_cb->SetName(QStringLiteral("norv_cb"));
  SetUpSysobjectsList(norv_cb);
  norv_cb->SetRowsReturned(false);

  norv_clb = new TNorvChkListBox(Panel1);
  norv_clb->SetName(QStringLiteral("norv_clb"));
  SetUpSysobjectsList(norv_clb);
  norv_clb->SetCheckFieldName(QStringLiteral("type"));
  norv_clb->SetCheckValue(QStringLiteral("S"));
  norv_clb->SetHorizontalScrollbar(true);
  sizeList(norv_clb);

  // Left: the login fields above the buttons; right: the database picker above the three lists.
  auto* grid = new QGridLayout(Panel1);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(4);
  grid->addWidget(Label3, 0, 0);
  grid->addWidget(cb_servers, 0, 1);
  grid->addWidget(Label1, 1, 0);
  grid->addWidget(e_username, 1, 1, Qt::AlignLeft);
  grid->addWidget(Label2, 2, 0);
  grid->addWidget(e_password, 2, 1, Qt::AlignLeft);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(4);
  for (QPushButton* b : {btn_connect, btn_execute, btn_close, btn_about}) buttons->addWidget(b);
  buttons->addStretch(1);
  grid->addLayout(buttons, 3, 0, 1, 3);
  grid->addWidget(Label4, 0, 2);
  grid->addWidget(lb_databases, 0, 3);
  grid->addWidget(lb, 1, 3, 3, 1);
  grid->addWidget(norv_lb, 1, 4, 3, 1);
  grid->addWidget(norv_cb, 0, 4);
  grid->addWidget(norv_clb, 1, 5, 3, 1);
  for (int c : {3, 4, 5}) grid->setColumnStretch(c, 1);
}

void Tf_main::CreateGridAndMemo() {
  Splitter1 = new QSplitter(Qt::Vertical);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(8);
  Splitter1->setChildrenCollapsible(false);

  grid = new TNorvGrid(Splitter1);
  grid->SetName(QStringLiteral("grid"));
  grid->SetColCount(2);
  grid->SetRowCount(2);
  grid->SetDefaultRowHeight(20);
  grid->SetOptions({goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect,
                    goDrawFocusSelected, goColSizing, goTabs, goThumbTracking});
  grid->SetDbName(QStringLiteral("db"));
  grid->SetMsgDialogs({mdEnhMsg, mdEnhErr});
  grid->SetShowDbMessages({smDbMsg, smDbErr});
  grid->SetShowLineNum(true);
  grid->SetShowHeader(true);
  grid->SetShowHeaderOnNoRows(true);
  grid->SetShowRowCount(true);
  grid->SetKeepHeader(false);
  grid->SetSelectOnly(false);
  grid->SetDisConnectAtEnd(false);
  grid->SetTrimResults(false);
  grid->SetMaxRows(0);

  m_sql = new QPlainTextEdit(Splitter1);
  m_sql->setObjectName(QStringLiteral("m_sql"));
  m_sql->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_sql->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_sql->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_sql->setPlainText(kStartScript.join(u'\n'));

  // The grid keeps its height when the window grows; the memo takes the rest.
  Splitter1->addWidget(grid);
  Splitter1->addWidget(m_sql);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({238, 479 - 238});
}

void Tf_main::btn_connectClick() {
  db->SetServerName(cb_servers->currentText());
  db->SetUserName(e_username->text());
  db->SetPassword(e_password->text());
  if (btn_connect->text() == kConnect)
    db->Connect();  // shows the login dialog; a failed login raises, a cancelled one does not
  else
    db->Disconnect();

  if (db->Connected()) {
    btn_connect->setText(kDisConnect);
    setWindowTitle(kConnectedTo + db->DBName());
    lb_databases->Execute();
    if (lb_databases->count() > 0) lb_databases->setCurrentIndex(0);
  } else {
    btn_connect->setText(kConnect);
    setWindowTitle(kNotConnected);
  }
}

void Tf_main::btn_executeClick() {
  if (!db->Connected()) {
    Warn(QStringLiteral("Not connected"));
    return;
  }
  grid->SetSql(m_sql->toPlainText());
  grid->Execute();
}

void Tf_main::btn_closeClick() {
  db->Disconnect();
  close();
}

void Tf_main::btn_aboutClick() {
  Warn(QStringLiteral(
      "Norv demo: log in to a Sybase server, run SQL scripts into a result grid and try the "
      "Norv components."));
}

void Tf_main::lb_databasesChange() {
  if (!db->Connected()) return;
  db->SetDBName(lb_databases->currentText());
  setWindowTitle(kConnectedTo + db->DBName());
}

bool Tf_main::ConnectedOrWarn() {
  if (db->Connected()) return true;
  Warn(QStringLiteral("You have to connect first"));
  return false;
}

void Tf_main::ShowToolWindow(QDialog* window) {
  std::unique_ptr<QDialog> owned(window);
  owned->exec();
}

// Each tool window arrives with its own source pair and is opened here, as
// ShowToolWindow(new Tf_<window>(this)).
void Tf_main::BulkCopy1Click() {
  if (!ConnectedOrWarn()) return;
  ShowToolWindow(new Tf_bulkcopy(this));
}

void Tf_main::NorvTable1Click() {
  if (!ConnectedOrWarn()) return;
  ShowToolWindow(new Tf_tnorvtable(this));
}

void Tf_main::ObjectInfo1Click() {
  if (!ConnectedOrWarn()) return;
  ShowToolWindow(new Tf_info(this));
}

void Tf_main::NorvFunctions1Click() {
  if (!ConnectedOrWarn()) return;
  ShowToolWindow(new Tf_functions(this));
}

void Tf_main::closeEvent(QCloseEvent* event) {
  if (db->Connected()) db->Disconnect();
  QMainWindow::closeEvent(event);
}
