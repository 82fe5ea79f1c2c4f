#include "u_functions.h"

#include "catalog/norvfunctions.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

Tf_functions::Tf_functions(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("f_functions"));
  setWindowTitle(QStringLiteral("NorvFunctions"));

  func = new TNorvFunctions(this);
  func->SetName(QStringLiteral("func"));
  func->SetDbName(QStringLiteral("db"));
  func->SetMsgDialogs({});
  func->SetShowDbMessages({smDbMsg, smDbErr});

  auto label = [&](const char* name, const QString& text) {
    auto* l = new QLabel(text, this);
    l->setObjectName(QString::fromLatin1(name));
    return l;
  };
  auto edit = [&](const char* name, const QString& text) {
    auto* e = new QLineEdit(text, this);
    e->setObjectName(QString::fromLatin1(name));
    e->setMinimumWidth(121);
    return e;
  };
  Label1 = label("Label1", QStringLiteral("Date 1"));
  Label2 = label("Label2", QStringLiteral("Date 2"));
  Label3 = label("Label3", QStringLiteral("Number"));
  Label4 = label("Label4", QStringLiteral("Result"));
  Label5 = label("Label5", QStringLiteral("SQL"));
  e1 = edit("e1", QStringLiteral("1999/12/29"));
  e2 = edit("e2", QStringLiteral("1999/11/30"));
  e3 = edit("e3", QStringLiteral("2"));
  e_result = edit("e_result", QString());
  e_result->setFrame(false);
  e_result->setMinimumWidth(271);
  m_sql = new QPlainTextEdit(this);
  m_sql->setObjectName(QStringLiteral("m_sql"));
  m_sql->setReadOnly(true);
  m_sql->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_sql->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_sql->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_sql->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  // Wide enough for the longest statement the buttons send in the platform's monospace font.
  m_sql->setMinimumSize(QFontMetrics(m_sql->font()).horizontalAdvance(QString(52, u'M')), 89);

  auto* fields = new QGridLayout;
  fields->addWidget(Label1, 0, 0);
  fields->addWidget(e1, 0, 1, Qt::AlignLeft);
  fields->addWidget(Label2, 1, 0);
  fields->addWidget(e2, 1, 1, Qt::AlignLeft);
  fields->addWidget(Label3, 2, 0);
  fields->addWidget(e3, 2, 1, Qt::AlignLeft);
  fields->setRowMinimumHeight(3, 12);
  fields->addWidget(Label4, 4, 0);
  fields->addWidget(e_result, 4, 1);
  fields->addWidget(Label5, 5, 0, Qt::AlignTop);
  fields->addWidget(m_sql, 5, 1);
  fields->setRowStretch(5, 1);

  // Three columns of function buttons, each captioned with its server function's name.
  auto* buttons = new QGridLayout;
  auto button = [&](const char* name, const char* caption, int column, int row,
                    std::function<QString()> call) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setObjectName(QString::fromLatin1(name));
    b->setMinimumWidth(75);
    buttons->addWidget(b, row, column);
    if (call) connect(b, &QPushButton::clicked, this, [this, call] { Show(call); });
    return b;
  };
  auto number = [](int n) { return QString::number(n); };
  constexpr int kDay = 4;
  constexpr int kWeekday = 6;

  Button1 = button("Button1", "col_length", 0, 0, [this, number] {
    return number(func->FnColLength(QStringLiteral("master..sysobjects"), QStringLiteral("name")));
  });
  Button2 = button("Button2", "col_name", 0, 1, [this] {
    QString r;
    func->FnColName(1, 1, 0, r);
    return r;
  });
  Button3 = button("Button3", "dateadd", 0, 2, [this] {
    const int n = TNorvFunctions::ToInteger(e3->text());
    QString r;
    func->FnDateAdd(kDay, n, e1->text(), r);
    return r;
  });
  Button4 = button("Button4", "datediff", 0, 3, [this, number] {
    return number(func->FnDateDiff(kDay, e2->text(), e1->text()));
  });
  Button5 = button("Button5", "datename", 0, 4, [this] {
    QString r;
    func->FnDateName(kWeekday, e1->text(), r);
    return r;
  });
  Button6 = button("Button6", "datepart", 0, 5,
                   [this, number] { return number(func->FnDatePart(kDay, e1->text())); });
  Button7 =
      button("Button7", "db_id", 0, 6, [this, number] { return number(func->FnDbId(QString())); });
  Button22 = button("Button22", "user_id", 0, 7,
                    [this, number] { return number(func->FnUserId(QString())); });

  Button8 = button("Button8", "db_name", 1, 0, [this] {
    QString r;
    func->FnDbName(0, r);
    return r;
  });
  Button9 = button("Button9", "hextoint", 1, 1,
                   [this, number] { return number(func->FnHexToInt(QStringLiteral("000000A"))); });
  Button10 =
      button("Button10", "host_id", 1, 2, [this, number] { return number(func->FnHostId()); });
  Button11 = button("Button11", "host_name", 1, 3, [this] {
    QString r;
    func->FnHostName(r);
    return r;
  });
  Button12 = button("Button12", "inttohex", 1, 4, [this] {
    QString r;
    func->FnIntToHex(10, r);
    return r;
  });
  Button13 = button("Button13", "object_id", 1, 5, [this, number] {
    return number(func->FnObjectId(QStringLiteral("master..sysobjects")));
  });
  Button14 = button("Button14", "object_name", 1, 6, [this] {
    QString r;
    func->FnObjectName(1, 0, r);
    return r;
  });
  Button23 = button("Button23", "user_name", 1, 7, [this] {
    QString r;
    func->FnUserName(0, r);
    return r;
  });

  Button15 = button("Button15", "replicate", 2, 0, [this] {
    QString r;
    func->FnReplicate(QStringLiteral("*"), 10, r);
    return r;
  });
  Button16 = button("Button16", "right", 2, 1, [this] {
    QString r;
    func->FnRight(QStringLiteral("ABCDEF"), 2, r);
    return r;
  });
  Button18 = button("Button18", "show_role", 2, 2, [this] {
    QString r;
    func->FnShowRole(r);
    return r;
  });
  Button19 = button("Button19", "stuff", 2, 3, [this] {
    QString r;
    func->FnStuff(QStringLiteral("ABCDEF"), 2, QStringLiteral("*"), 4, r);
    return r;
  });
  Button20 = button("Button20", "suser_id", 2, 4,
                    [this, number] { return number(func->FnSuserId(QString())); });
  Button21 = button("Button21", "suser_name", 2, 5, [this] {
    QString r;
    func->FnSuserName(QString(), r);
    return r;
  });
  buttons->setRowStretch(8, 1);

  Button24 = new QPushButton(QStringLiteral("Close"), this);
  Button24->setObjectName(QStringLiteral("Button24"));
  connect(Button24, &QPushButton::clicked, this, &QDialog::accept);
  auto* closeRow = new QHBoxLayout;
  closeRow->addStretch();
  closeRow->addWidget(Button24);
  closeRow->addStretch();

  auto* top = new QHBoxLayout;
  top->addLayout(fields, 1);
  top->addSpacing(12);
  top->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addLayout(closeRow);
  // A fixed dialog frame: the window keeps the size its contents need.
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

Tf_functions::~Tf_functions() = default;

QPushButton* Tf_functions::FunctionButton(const QString& caption) const {
  for (QPushButton* b : findChildren<QPushButton*>())
    if (b != Button24 && b->text() == caption) return b;
  return nullptr;
}

void Tf_functions::Show(const std::function<QString()>& call) {
  const QString answer = call();
  e_result->setText(answer);
  m_sql->setPlainText(func->Sql());
}
