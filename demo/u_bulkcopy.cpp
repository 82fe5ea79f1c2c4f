#include "u_bulkcopy.h"

#include "bulk/norvbulk.h"
#include "connection/norvapplication.h"
#include "connection/presenter.h"
#include "controls/norvlistbox.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace {

const QString kCaption = QStringLiteral("Norv demo");

void Warn(const QString& text) {
  norv::CurrentPresenter().ShowMessageBox(kCaption, text, norv::MsgIcon::Warning);
}

// The database-wait cursor for the length of a copy; a failed copy takes it down too, so the
// error box that follows is not left under a busy cursor.
class WaitCursor {
 public:
  WaitCursor() { norv::CurrentPresenter().SetWaitCursor(true); }
  ~WaitCursor() { norv::CurrentPresenter().SetWaitCursor(false); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

Tf_bulkcopy::Tf_bulkcopy(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("f_bulkcopy"));
  setWindowTitle(QStringLiteral("Bulk-Copy Demo"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);
  setFixedSize(384, 262);
  if (QScreen* screen = this->screen())
    move(screen->availableGeometry().center() - rect().center());

  bk = new TNorvBulk(this);
  bk->SetName(QStringLiteral("bk"));
  bk->SetDbName(QStringLiteral("db"));
  bk->SetFormat(bcCharacter);
  bk->SetLastRow(0);
  bk->SetBatchSize(0);
  bk->SetBackground(false);
  bk->SetDirection(bdOut);
  bk->AfterRow = [this](QObject* sender) { bkAfterRow(sender); };

  OpenDialog1 = new QFileDialog(this);
  OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
  OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  // A copy-out writes a new file: the name need not exist yet.
  OpenDialog1->setFileMode(QFileDialog::AnyFile);
  OpenDialog1->setNameFilters({QStringLiteral("BCP files (*.bcp)"),
                               QStringLiteral("Text files (*.txt)"),
                               QStringLiteral("All files (*.*)")});

  auto label = [this](const char* name, const QString& text, int x, int y) {
    auto* l = new QLabel(text, this);
    l->setObjectName(QString::fromLatin1(name));
    l->move(x, y);
    return l;
  };
  auto button = [this](const char* name, const QString& text, QRect at) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(at);
    return b;
  };
  Label1 = label("Label1", QStringLiteral("Table Name"), 16, 16);
  Label2 = label("Label2", QStringLiteral("File Name"), 176, 16);
  Label3 = label("Label3", QStringLiteral("Rows Copied: "), 91, 240);

  lb_tablename = new TNorvListBox(this);
  lb_tablename->SetName(QStringLiteral("lb_tablename"));
  lb_tablename->setGeometry(16, 40, 145, 177);
  lb_tablename->SetDbName(QStringLiteral("db"));
  lb_tablename->SetSql(
      QStringLiteral("select name\r\nfrom sysobjects\r\nwhere type='U' \r\norder by name"));
  lb_tablename->SetTrimResults(false);
  lb_tablename->SetHorizontalScrollbar(true);
  lb_tablename->SetShowHeader(false);

  e_file = new QLineEdit(this);
  e_file->setObjectName(QStringLiteral("e_file"));
  e_file->setGeometry(176, 40, 169, 21);
  btn_file = button("btn_file", QStringLiteral("?"), {352, 40, 21, 21});

  // The radio buttons lie over the frame but belong to the window, as on the form.
  RadioGroup1 = new QGroupBox(QStringLiteral("Direction"), this);
  RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
  RadioGroup1->setGeometry(176, 80, 97, 65);
  RadioButton1 = new QRadioButton(QStringLiteral("In"), this);
  RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
  RadioButton1->setGeometry(187, 96, 70, 17);
  RadioButton2 = new QRadioButton(QStringLiteral("Out"), this);
  RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
  RadioButton2->setGeometry(187, 120, 62, 17);
  RadioButton2->setChecked(true);

  btn_close = button("btn_close", QStringLiteral("Close"), {184, 192, 75, 25});
  btn_copy = button("btn_copy", QStringLiteral("Copy"), {272, 192, 75, 25});
  e_cnt = new QLineEdit(this);
  e_cnt->setObjectName(QStringLiteral("e_cnt"));
  e_cnt->setGeometry(171, 232, 121, 21);

  setTabOrder(lb_tablename, e_file);
  setTabOrder(e_file, btn_file);
  setTabOrder(btn_file, RadioGroup1);
  setTabOrder(RadioGroup1, RadioButton1);
  setTabOrder(RadioButton1, RadioButton2);
  setTabOrder(RadioButton2, btn_close);
  setTabOrder(btn_close, btn_copy);
  setTabOrder(btn_copy, e_cnt);

  // What a handler raises is shown by the application and the window stays usable.
  auto on = [this](auto* sender, auto signal, void (Tf_bulkcopy::*handler)()) {
    connect(sender, signal, this, [this, handler] { RunHandler([&] { (this->*handler)(); }); });
  };
  on(btn_file, &QPushButton::clicked, &Tf_bulkcopy::btn_fileClick);
  on(RadioButton1, &QRadioButton::clicked, &Tf_bulkcopy::RadioButton1Click);
  on(RadioButton2, &QRadioButton::clicked, &Tf_bulkcopy::RadioButton2Click);
  on(e_file, &QLineEdit::textChanged, &Tf_bulkcopy::e_fileChange);
  on(btn_close, &QPushButton::clicked, &Tf_bulkcopy::btn_closeClick);
  on(btn_copy, &QPushButton::clicked, &Tf_bulkcopy::btn_copyClick);
  RunHandler([this] { FormCreate(); });
  // Connected after the first fill: selecting the first name is not a user's click.
  on(lb_tablename, &QListWidget::itemSelectionChanged, &Tf_bulkcopy::lb_tablenameClick);
}

Tf_bulkcopy::~Tf_bulkcopy() = default;

void Tf_bulkcopy::FormCreate() {
  lb_tablename->Execute();
  if (lb_tablename->count() >= 1) lb_tablename->setCurrentRow(0);
}

void Tf_bulkcopy::btn_fileClick() {
  if (OpenDialog1->exec() != QDialog::Accepted) return;
  const QStringList chosen = OpenDialog1->selectedFiles();
  if (!chosen.isEmpty()) e_file->setText(chosen.front());
}

void Tf_bulkcopy::RadioButton1Click() {
  if (RadioButton1->isChecked()) bk->SetDirection(bdIn);
}

void Tf_bulkcopy::RadioButton2Click() {
  if (RadioButton2->isChecked()) bk->SetDirection(bdOut);
}

void Tf_bulkcopy::e_fileChange() { bk->SetDataFile(e_file->text()); }

void Tf_bulkcopy::lb_tablenameClick() { bk->SetTableName(SelectedTable()); }

void Tf_bulkcopy::btn_closeClick() { close(); }

QString Tf_bulkcopy::SelectedTable() const {
  const QList<QListWidgetItem*> selected = lb_tablename->selectedItems();
  return selected.isEmpty() ? QString() : selected.front()->text();
}

void Tf_bulkcopy::btn_copyClick() {
  cnt_ = 0;
  // Shown at once, so that a copy of no rows does not leave the last copy's count standing.
  e_cnt->setText(QString::number(cnt_));
  if (e_file->text().trimmed().isEmpty()) {
    Warn(QStringLiteral("Invalid filename"));
    return;
  }
  const QString table = SelectedTable();
  if (table.isEmpty()) {
    Warn(QStringLiteral("Invalid tablename"));
    return;
  }
  bk->SetDataFile(e_file->text());
  bk->SetTableName(table);
  WaitCursor wait;
  bk->BulkCopy();
}

void Tf_bulkcopy::bkAfterRow(QObject*) {
  ++cnt_;
  e_cnt->setText(QString::number(cnt_));
  e_cnt->repaint();
}
