#include "monitorwindow.h"

#include "connection/presenter.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

namespace {

const QString kCaption = QStringLiteral("norvmonitor");
constexpr int kFlushMs = 100;

}  // namespace

MonitorWindow::MonitorWindow(size_t capacity, QWidget* parent)
    : QMainWindow(parent),
      reader_(capacity),
      store_(capacity),
      pending_(capacity),
      view_(new QPlainTextEdit(this)),
      filterEdit_(new QLineEdit(this)),
      regexBox_(new QCheckBox(QStringLiteral("Regular expression"), this)),
      status_(new QLabel(this)),
      timer_(new QTimer(this)) {
  setWindowTitle(QStringLiteral("Norv SQL Monitor"));
  view_->setReadOnly(true);
  view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setCentralWidget(view_);

  QToolBar* bar = addToolBar(QStringLiteral("Monitor"));
  bar->setObjectName(QStringLiteral("monitorBar"));
  pauseAction_ = bar->addAction(QStringLiteral("Pause"), this, &MonitorWindow::SetPaused);
  pauseAction_->setCheckable(true);
  bar->addAction(QStringLiteral("Clear"), this, &MonitorWindow::Clear);
  bar->addAction(QStringLiteral("Save..."), this, &MonitorWindow::AskSave);
  QAction* copy = bar->addAction(QStringLiteral("Copy"), view_, &QPlainTextEdit::copy);
  copy->setShortcut(QKeySequence::Copy);
  bar->addSeparator();
  bar->addWidget(new QLabel(QStringLiteral("Filter: "), this));
  filterEdit_->setClearButtonEnabled(true);
  bar->addWidget(filterEdit_);
  bar->addWidget(regexBox_);
  const auto refilter = [this] { SetFilter(filterEdit_->text(), regexBox_->isChecked()); };
  connect(filterEdit_, &QLineEdit::textChanged, this, refilter);
  connect(regexBox_, &QCheckBox::toggled, this, refilter);
  statusBar()->addWidget(status_);

  resize(900, 500);
  QSettings settings;
  restoreGeometry(settings.value(QStringLiteral("monitor/geometry")).toByteArray());

  connect(timer_, &QTimer::timeout, this, &MonitorWindow::Flush);
  timer_->start(kFlushMs);
}

MonitorWindow::~MonitorWindow() = default;

bool MonitorWindow::Listen(const QString& name) {
  if (reader_.Listen(name)) {
    status_->setText(QStringLiteral("Listening on \"%1\"").arg(name));
    return true;
  }
  status_->setText(QStringLiteral("Not listening"));
  norv::CurrentPresenter().ShowMessageBox(
      kCaption, QStringLiteral("Cannot listen on \"%1\".").arg(name), norv::MsgIcon::Error);
  return false;
}

void MonitorWindow::Flush() {
  qint64 dropped = 0;
  std::vector<MonitorLine> lines = reader_.Take(&dropped);
  if (lines.empty() && dropped == 0) return;
  if (paused_) {
    pending_.AddDropped(dropped);
    for (MonitorLine& line : lines) pending_.Add(std::move(line));
    pauseAction_->setText(QStringLiteral("Resume (%1 waiting)").arg(pending_.Lines().size()));
    return;
  }
  store_.AddDropped(dropped);
  bool allKept = dropped == 0;
  for (const MonitorLine& line : lines) allKept = store_.Add(line) && allKept;
  // Lines dropped at the top change what is shown above: draw it all again.
  if (allKept)
    Append(lines);
  else
    Rebuild();
}

void MonitorWindow::SetPaused(bool paused) {
  if (paused_ == paused) return;
  pauseAction_->setChecked(paused);
  if (paused) {
    Flush();  // what arrived before the pause is still shown
    paused_ = true;
    pauseAction_->setText(QStringLiteral("Resume"));
    return;
  }
  paused_ = false;
  pauseAction_->setText(QStringLiteral("Pause"));
  store_.AddDropped(pending_.Dropped());
  for (const MonitorLine& line : pending_.Lines()) store_.Add(line);
  pending_.Clear();
  Rebuild();
  Flush();
}

void MonitorWindow::Clear() {
  store_.Clear();
  pending_.Clear();
  if (paused_) pauseAction_->setText(QStringLiteral("Resume"));
  view_->clear();
}

void MonitorWindow::SetFilter(const QString& text, bool regularExpression) {
  filter_ = text;
  regex_ = regularExpression;
  expression_ = QRegularExpression(regex_ ? text : QString());
  // A half-typed expression filters nothing until it is whole.
  const bool invalid = regex_ && !expression_.isValid();
  filterEdit_->setToolTip(invalid ? expression_.errorString() : QString());
  filterEdit_->setStyleSheet(invalid ? QStringLiteral("color: red") : QString());
  Rebuild();
}

bool MonitorWindow::Matches(const QString& display) const {
  if (filter_.isEmpty()) return true;
  if (!regex_) return display.contains(filter_, Qt::CaseInsensitive);
  return !expression_.isValid() || expression_.match(display).hasMatch();
}

QString MonitorWindow::DroppedLine() const {
  return QStringLiteral("(%1 earlier lines dropped)").arg(store_.Dropped());
}

void MonitorWindow::Rebuild() {
  QScrollBar* bar = view_->verticalScrollBar();
  const bool follow = bar->value() == bar->maximum();
  const int position = bar->value();
  QStringList shown;
  if (store_.Dropped() > 0) shown << DroppedLine();
  for (const MonitorLine& line : store_.Lines()) {
    QString display = line.Display();
    if (Matches(display)) shown << std::move(display);
  }
  view_->setPlainText(shown.join(u'\n'));
  bar->setValue(follow ? bar->maximum() : position);
}

void MonitorWindow::Append(const std::vector<MonitorLine>& lines) {
  QStringList shown;
  for (const MonitorLine& line : lines) {
    QString display = line.Display();
    if (Matches(display)) shown << std::move(display);
  }
  if (shown.isEmpty()) return;
  // Follows new lines only while the user is at the bottom; scrolled up, the view stays put.
  QScrollBar* bar = view_->verticalScrollBar();
  const bool follow = bar->value() == bar->maximum();
  const int position = bar->value();
  view_->appendPlainText(shown.join(u'\n'));
  bar->setValue(follow ? bar->maximum() : position);
}

QString MonitorWindow::ShownText() const { return view_->toPlainText(); }

bool MonitorWindow::Save(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) ||
      file.write(ShownText().toUtf8() + '\n') < 0 || !file.flush()) {
    norv::CurrentPresenter().ShowMessageBox(
        kCaption, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()),
        norv::MsgIcon::Error);
    return false;
  }
  return true;
}

void MonitorWindow::AskSave() {
  QFileDialog dialog(this, QStringLiteral("Save monitor lines"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(QStringLiteral("Text files (*.txt);;All files (*)"));
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    Save(dialog.selectedFiles().constFirst());
}

void MonitorWindow::SaveGeometry() {
  QSettings().setValue(QStringLiteral("monitor/geometry"), saveGeometry());
}

void MonitorWindow::closeEvent(QCloseEvent* event) {
  SaveGeometry();
  QMainWindow::closeEvent(event);
}
