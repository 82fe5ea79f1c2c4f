#include "u_info.h"

#include "catalog/norvobjinfo.h"

#include <QAction>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct PopupEntry {
  const char* caption;
  const char* typeCode;
};
constexpr PopupEntry kPopup[] = {
    {"Procedures", "P"},  {"Views", "V"},         {"Triggers", "TR"},
    {"User Tables", "U"}, {"System Tables", "S"}, {"Rules", "R"},
};
constexpr int kUserTables = 4;
constexpr int kSystemTables = 5;
constexpr int kObjectTextWidth = 255;

}  // namespace

Tf_info::Tf_info(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("f_info"));
  setWindowTitle(QStringLiteral("Object Info"));
  resize(604, 329);

  info = new TNorvObjInfo(this);
  info->SetName(QStringLiteral("info"));
  info->SetDbName(QStringLiteral("db"));
  info->SetMsgDialogs({mdEnhMsg, mdEnhErr});
  info->SetShowDbMessages({smDbMsg, smDbErr});
  info->SetMonitor(true);

  auto button = [this](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setMinimumWidth(92);
    return b;
  };
  Button1 = button("Button1", QStringLiteral("Object Text"));
  Button2 = button("Button2", QStringLiteral("Object Names"));
  Button3 = button("Button3", QStringLiteral("Databases"));
  Button4 = button("Button4", QStringLiteral("Users"));
  Button5 = button("Button5", QStringLiteral("Groups"));
  Button6 = button("Button6", QStringLiteral("System Datatypes"));
  Button7 = button("Button7", QStringLiteral("User Datatypes"));
  Button9 = button("Button9", QStringLiteral("Segment Names"));
  Button8 = button("Button8", QStringLiteral("Index Names"));
  Button10 = button("Button10", QStringLiteral("Index Columns"));
  lb_objects = new QListWidget(this);
  lb_objects->setObjectName(QStringLiteral("lb_objects"));
  lb_objects->setMinimumWidth(137);
  m_text = new QPlainTextEdit(this);
  m_text->setObjectName(QStringLiteral("m_text"));
  m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_text->setPlainText(QString());  // one empty line
  btn_close = button("btn_close", QStringLiteral("Close"));
  btn_close->setMinimumWidth(75);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  for (int i = 0; i < 6; ++i) {
    PopupItems[i] = PopupMenu1->addAction(QString::fromLatin1(kPopup[i].caption));
    connect(PopupItems[i], &QAction::triggered, this, [this, i] { PopupItemClick(i + 1); });
  }

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b :
       {Button1, Button2, Button3, Button4, Button5, Button6, Button7, Button9, Button8, Button10})
    buttons->addWidget(b);
  buttons->addStretch();
  auto* lists = new QHBoxLayout;
  lists->addWidget(lb_objects, 1);
  lists->addWidget(m_text, 3);
  auto* right = new QVBoxLayout;
  right->addLayout(lists, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(btn_close);
  bottom->addStretch();
  right->addLayout(bottom);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(buttons);
  layout->addLayout(right, 1);

  setTabOrder(btn_close, lb_objects);
  QWidget* previous = lb_objects;
  for (QWidget* w : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2),
                     static_cast<QWidget*>(Button3), static_cast<QWidget*>(Button4),
                     static_cast<QWidget*>(Button5), static_cast<QWidget*>(Button6),
                     static_cast<QWidget*>(Button7), static_cast<QWidget*>(Button9),
                     static_cast<QWidget*>(Button8), static_cast<QWidget*>(Button10),
                     static_cast<QWidget*>(m_text)}) {
    setTabOrder(previous, w);
    previous = w;
  }

  connect(Button1, &QPushButton::clicked, this, &Tf_info::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &Tf_info::Button2Click);
  connect(Button3, &QPushButton::clicked, this, [this] { ShowList(info->GetDatabases()); });
  connect(Button4, &QPushButton::clicked, this, [this] { ShowList(info->GetUsers()); });
  connect(Button5, &QPushButton::clicked, this, [this] { ShowList(info->GetGroups()); });
  connect(Button6, &QPushButton::clicked, this, [this] { ShowList(info->GetSystemDatatypes()); });
  connect(Button7, &QPushButton::clicked, this, [this] { ShowList(info->GetUserDatatypes()); });
  connect(Button8, &QPushButton::clicked, this, [this] { ShowList(info->GetIndexNames()); });
  connect(Button9, &QPushButton::clicked, this, [this] { ShowList(info->GetSegments()); });
  connect(Button10, &QPushButton::clicked, this, &Tf_info::Button10Click);
  connect(btn_close, &QPushButton::clicked, this, &Tf_info::btn_closeClick);
}

Tf_info::~Tf_info() = default;

void Tf_info::ShowList(const QStringList& items) {
  lb_objects->clear();
  lb_objects->addItems(items);
}

void Tf_info::Button2Click() { PopupMenu1->popup(Button2->mapToGlobal(QPoint(0, 0))); }

void Tf_info::PopupItemClick(int item) {
  ShowList(info->GetObjectNames(QString::fromLatin1(kPopup[item - 1].typeCode)));
  objKind_ = static_cast<std::int16_t>(item);
}

void Tf_info::Button1Click() {
  const QListWidgetItem* selected = lb_objects->currentItem();
  if (!selected || !selected->isSelected()) return;
  if (objKind_ == kUserTables || objKind_ == kSystemTables) {
    m_text->setPlainText(info->GetTableScript(selected->text()).join(QLatin1Char('\n')));
  } else if (objKind_ != -1) {
    QString text;
    info->GetObjectText(selected->text().left(kObjectTextWidth), text);
    m_text->setPlainText(text);
  }
}

void Tf_info::Button10Click() {
  const QListWidgetItem* selected = lb_objects->currentItem();
  if (!selected || !selected->isSelected()) return;
  m_text->setPlainText(info->GetIndexColumns(selected->text()).join(QLatin1Char('\n')));
}

void Tf_info::btn_closeClick() { accept(); }
