#include "u_norvtable.h"

#include "controls/norvcombobox.h"
#include "dataset/framework/datasource.h"
#include "dataset/framework/dbgrid.h"
#include "dataset/framework/dbnavigator.h"
#include "dataset/norvtable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

Tf_tnorvtable::Tf_tnorvtable(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("f_tnorvtable"));
  setWindowTitle(QStringLiteral("TNorvTable Demo"));
  resize(541, 357);

  Table1 = new TNorvTable(this);
  Table1->SetName(QStringLiteral("Table1"));
  Table1->SetDbName(QStringLiteral("db"));
  Table1->SetMsgDialogs({});
  Table1->SetShowDbMessages({smDbMsg, smDbErr});
  Table1->SetTypeErrCont(true);
  Table1->SetFetchRows(1000);
  DataSource1 = new TDataSource(this);
  DataSource1->setObjectName(QStringLiteral("DataSource1"));
  DataSource1->SetDataSet(Table1);

  Label1 = new QLabel(QStringLiteral("Table Name"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  cb_tables = new TNorvComboBox(this);
  cb_tables->SetName(QStringLiteral("cb_tables"));
  cb_tables->setEditable(false);
  cb_tables->setMinimumWidth(169);
  cb_tables->SetDbName(QStringLiteral("db"));
  cb_tables->SetSql(QStringLiteral(
      "select name\r\nfrom sysobjects\r\nwhere type in ('U','S','V')\r\norder by name"));
  cb_tables->SetMsgDialogs({});
  cb_tables->SetShowDbMessages({});
  cb_tables->SetTrimResults(false);
  cb_tables->SetRowsReturned(false);
  DBGrid1 = new TDBGrid(this);
  DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
  DBGrid1->SetDataSource(DataSource1);
  DBNavigator1 = new TDBNavigator(this);
  DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
  DBNavigator1->SetDataSource(DataSource1);
  btn_close = new QPushButton(QStringLiteral("Close"), this);
  btn_close->setObjectName(QStringLiteral("btn_close"));
  btn_openclose = new QPushButton(QStringLiteral("Open DataSet"), this);
  btn_openclose->setObjectName(QStringLiteral("btn_openclose"));

  auto* top = new QHBoxLayout;
  top->addWidget(Label1);
  top->addWidget(cb_tables);
  top->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btn_close);
  buttons->addWidget(btn_openclose);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(DBGrid1, 1);
  layout->addWidget(DBNavigator1);
  layout->addLayout(buttons);

  connect(btn_close, &QPushButton::clicked, this, &Tf_tnorvtable::btn_closeClick);
  connect(btn_openclose, &QPushButton::clicked, this, &Tf_tnorvtable::btn_opencloseClick);
  FormCreate();
  // Connected after the first fill, which runs the handler itself.
  connect(cb_tables, &QComboBox::currentIndexChanged, this, &Tf_tnorvtable::cb_tablesChange);
}

Tf_tnorvtable::~Tf_tnorvtable() = default;

void Tf_tnorvtable::FormCreate() {
  cb_tables->Execute();
  if (cb_tables->count() >= 1) {
    cb_tables->setCurrentIndex(0);
    cb_tablesChange();
  }
}

void Tf_tnorvtable::cb_tablesChange() { Table1->SetTableName(cb_tables->currentText()); }

void Tf_tnorvtable::ShowOpenState() {
  btn_openclose->setText(Table1->Active() ? QStringLiteral("Close DataSet")
                                          : QStringLiteral("Open DataSet"));
}

void Tf_tnorvtable::btn_opencloseClick() {
  try {
    Table1->SetActive(!Table1->Active());
  } catch (...) {
    ShowOpenState();
    throw;
  }
  ShowOpenState();
}

void Tf_tnorvtable::btn_closeClick() {
  Table1->SetActive(false);
  close();
}
