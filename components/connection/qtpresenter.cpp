#include "qtpresenter.h"

#include "norvlogin.h"
#include "norvmessage.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <utility>

namespace norv {
namespace {

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

bool OnGuiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

// Runs `work` on the GUI thread and waits for it. A blocking queued call from the GUI thread
// itself would wait for ever, so there it runs directly.
template <class Work>
void RunOnGuiThread(Work&& work) {
  if (OnGuiThread()) {
    std::forward<Work>(work)();
    return;
  }
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<Work>(work),
                            Qt::BlockingQueuedConnection);
}

// Owns a modal dialog that has a parent: the parent may be deleted while the dialog runs and
// take the dialog with it, so only a dialog that is still alive is deleted here.
template <class Dialog>
class ModalDialog {
 public:
  explicit ModalDialog(Dialog* dialog) : dialog_(dialog) {}
  ~ModalDialog() { delete dialog_.data(); }
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;
  Dialog* operator->() const { return dialog_.data(); }
  // The dialog's result; Rejected when it is gone.
  int Exec() { return dialog_ ? dialog_->exec() : QDialog::Rejected; }
  bool Alive() const { return !dialog_.isNull(); }

 private:
  QPointer<Dialog> dialog_;
};

QMessageBox::Icon BoxIcon(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Error: return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

QtPresenter::~QtPresenter() {
  // Do not leave the application stuck on a wait cursor this presenter set.
  if (HaveWidgets() && OnGuiThread()) {
    for (; waitCursors_ > 0; --waitCursors_) QApplication::restoreOverrideCursor();
  }
}

void QtPresenter::ShowMessageBox(const QString& caption, const QString& text, MsgIcon icon) {
  if (!HaveWidgets()) return console_.ShowMessageBox(caption, text, icon);
  RunOnGuiThread([&] {
    ModalDialog box(new QMessageBox(BoxIcon(icon), caption, text, QMessageBox::Ok,
                                    QApplication::activeWindow()));
    box.Exec();
  });
}

void QtPresenter::ShowMessageWindow(const QString& caption, const QString& text,
                                    PanelColour bottom) {
  if (!HaveWidgets()) return console_.ShowMessageWindow(caption, text, bottom);
  RunOnGuiThread([&] {
    ModalDialog window(new Tf_norv_message(QApplication::activeWindow()));
    window->SetMessage(caption, text, bottom);
    window.Exec();
  });
}

bool QtPresenter::LoginPrompt(TLoginRequest& request) {
  if (!HaveWidgets()) return console_.LoginPrompt(request);
  bool accepted = false;
  RunOnGuiThread([&] {
    ModalDialog dialog(new TNorvPasswordDlg(QApplication::activeWindow()));
    dialog->Prepare(request);
    // A dialog taken down with its parent while open counts as cancelled.
    accepted = dialog.Exec() == QDialog::Accepted && dialog.Alive();
    if (accepted) dialog->ReadBack(request);
  });
  return accepted;
}

bool QtPresenter::Confirm(const QString& caption, const QString& text) {
  if (!HaveWidgets()) return console_.Confirm(caption, text);
  bool yes = false;
  RunOnGuiThread([&] {
    ModalDialog box(new QMessageBox(QMessageBox::Question, caption, text,
                                    QMessageBox::Yes | QMessageBox::No,
                                    QApplication::activeWindow()));
    box->setDefaultButton(QMessageBox::Yes);
    yes = box.Exec() == QMessageBox::Yes;
  });
  return yes;
}

void QtPresenter::Beep() {
  if (!HaveWidgets()) return console_.Beep();
  RunOnGuiThread([] { QApplication::beep(); });
}

void QtPresenter::SetWaitCursor(bool on) {
  if (!HaveWidgets()) return console_.SetWaitCursor(on);
  RunOnGuiThread([this, on] {
    if (on) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      ++waitCursors_;
    } else if (waitCursors_ > 0) {
      // An unmatched "off" must not pop a cursor someone else pushed.
      QApplication::restoreOverrideCursor();
      --waitCursors_;
    }
  });
}

}  // namespace norv
