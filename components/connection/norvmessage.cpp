#include "norvmessage.h"

#include <QApplication>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

namespace {

// A 12-pixel-high character cell at the reference 96 dpi is 9 points.
constexpr int kMessagePointSize = 9;

QToolButton* MakeToolButton(QToolBar* bar, const char* name, const QString& hint,
                            const QIcon& icon) {
  auto* button = new QToolButton(bar);
  button->setObjectName(QString::fromLatin1(name));
  button->setIcon(icon);
  button->setToolTip(hint);
  button->setStatusTip(hint);
  button->setAutoRaise(true);
  // Tool buttons must not take the focus: that would drop the text box's selection highlight
  // before it is copied and steal the default button's place.
  button->setFocusPolicy(Qt::NoFocus);
  bar->addWidget(button);
  return button;
}

QIcon ThemedIcon(const char* themeName, const QStyle* style, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(QString::fromLatin1(themeName), style->standardIcon(fallback));
}

}  // namespace

Tf_norv_message::Tf_norv_message(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("f_norv_message"));
  setWindowTitle(DefaultCaption());
  setSizeGripEnabled(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  toolBar_ = new QToolBar(this);
  toolBar_->setObjectName(QStringLiteral("ToolBar1"));
  toolBar_->setFixedHeight(kToolBarHeight);
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->setIconSize(QSize(16, 16));
  const QStyle* st = style();
  copyButton_ = MakeToolButton(toolBar_, "btn_copy", tr("Copy"),
                               ThemedIcon("edit-copy", st, QStyle::SP_FileDialogContentsView));
  selectAllButton_ =
      MakeToolButton(toolBar_, "btn_selectall", tr("Select all"),
                     ThemedIcon("edit-select-all", st, QStyle::SP_FileDialogListView));
  printButton_ = MakeToolButton(toolBar_, "btn_print", tr("Print"),
                                ThemedIcon("document-print", st, QStyle::SP_DialogSaveButton));
  layout->addWidget(toolBar_);

  message_ = new QTextEdit(this);
  message_->setObjectName(QStringLiteral("m_message"));
  message_->setReadOnly(true);
  message_->setAcceptRichText(false);
  message_->setLineWrapMode(QTextEdit::NoWrap);
  message_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  message_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Clickable for mouse selection, but never reached with Tab.
  message_->setFocusPolicy(Qt::ClickFocus);
  message_->viewport()->setCursor(Qt::ArrowCursor);
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  font.setPointSize(kMessagePointSize);
  message_->setFont(font);
  message_->installEventFilter(this);
  layout->addWidget(message_, 1);

  bottom_ = new QFrame(this);
  bottom_->setObjectName(QStringLiteral("pn_bottom"));
  bottom_->setFrameShape(QFrame::NoFrame);
  bottom_->setFixedHeight(kBottomHeight);
  bottom_->setAutoFillBackground(true);
  auto* bottomLayout = new QHBoxLayout(bottom_);
  bottomLayout->setContentsMargins(0, 0, 0, 0);
  closeButton_ = new QPushButton(tr("OK"), bottom_);
  closeButton_->setObjectName(QStringLiteral("btn_close"));
  closeButton_->setFixedSize(kButtonWidth, kButtonHeight);
  closeButton_->setDefault(true);
  bottomLayout->addWidget(closeButton_, 0, Qt::AlignCenter);
  layout->addWidget(bottom_);

  connect(copyButton_, &QToolButton::clicked, this, &Tf_norv_message::CopySelection);
  connect(selectAllButton_, &QToolButton::clicked, this, &Tf_norv_message::SelectAll);
  connect(printButton_, &QToolButton::clicked, this, &Tf_norv_message::Print);
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);

  setFixedSize(kClientWidth, kClientHeight);
  setFocusProxy(closeButton_);
  closeButton_->setFocus();

  // Centred on the screen rather than over the owner; moving here also keeps QDialog from
  // re-placing it over its parent when shown.
  if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
}

void Tf_norv_message::SetMessage(const QString& caption, const QString& text,
                                 norv::PanelColour bottom) {
  setWindowTitle(caption);
  message_->setPlainText(text);
  QPalette palette = bottom_->palette();
  palette.setColor(QPalette::Window, bottom == norv::PanelColour::Error
                                         ? ErrorColour()
                                         : this->palette().color(QPalette::Button));
  bottom_->setPalette(palette);
}

void Tf_norv_message::PrintTo(QPrinter& printer) const {
  // Print a copy so the page layout does not disturb the document on screen.
  const std::unique_ptr<QTextDocument> document(message_->document()->clone());
  document->setMetaInformation(QTextDocument::DocumentTitle, PrintTitle());
  printer.setDocName(PrintTitle());
  document->print(&printer);
}

QString Tf_norv_message::Text() const { return message_->toPlainText(); }

QColor Tf_norv_message::BottomColour() const { return bottom_->palette().color(QPalette::Window); }

QString Tf_norv_message::DefaultCaption() { return QStringLiteral("CT-Library message"); }

QString Tf_norv_message::PrintTitle() { return QStringLiteral("Brondal - CT-Library message"); }

QColor Tf_norv_message::ErrorColour() { return QColor(153, 6, 57); }

void Tf_norv_message::CopySelection() { message_->copy(); }

void Tf_norv_message::SelectAll() { message_->selectAll(); }

void Tf_norv_message::Print() {
  QPrinter printer;
  printer.setDocName(PrintTitle());
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() == QDialog::Accepted) PrintTo(printer);
}

bool Tf_norv_message::OwnsWindow(const QWidget* window) const {
  for (const QWidget* w = window; w; w = w->parentWidget()) {
    if (w == this) return true;
  }
  return false;
}

void Tf_norv_message::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() != QEvent::ActivationChange || !isVisible()) return;
  if (isActiveWindow()) {
    wasActive_ = true;
    return;
  }
  // Close only when another window of ours takes over: not before the window has been active
  // at all, not for its own dialogs (print), and not when the whole application loses focus.
  const QWidget* now = QApplication::activeWindow();
  if (!wasActive_ || !now || OwnsWindow(now)) return;
  // Queued: hiding from inside the activation hand-over would re-enter it.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (isVisible() && !isActiveWindow()) close();
      },
      Qt::QueuedConnection);
}

bool Tf_norv_message::eventFilter(QObject* watched, QEvent* event) {
  // The text box only lends itself to mouse selection; the keyboard stays on the OK button.
  if (watched == message_ && event->type() == QEvent::FocusIn) {
    closeButton_->setFocus(Qt::OtherFocusReason);
  }
  return QDialog::eventFilter(watched, event);
}

void Tf_norv_message::keyPressEvent(QKeyEvent* event) {
  // OK is also the cancel button: Escape presses it rather than rejecting the dialog.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    closeButton_->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void Tf_norv_message::showEvent(QShowEvent* event) {
  wasActive_ = false;
  closeButton_->setFocus();
  QDialog::showEvent(event);
}

void Tf_norv_message::hideEvent(QHideEvent* event) {
  wasActive_ = false;
  QDialog::hideEvent(event);
}
