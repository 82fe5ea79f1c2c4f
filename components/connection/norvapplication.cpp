#include "norvapplication.h"

#include "norvexception.h"
#include "qtpresenter.h"

#include <QtGlobal>

NorvApplication::NorvApplication(int& argc, char** argv) : QApplication(argc, argv) {
  auto presenter = std::make_unique<norv::QtPresenter>();
  installed_ = presenter.get();
  previous_ = norv::InstallPresenter(std::move(presenter));
}

NorvApplication::~NorvApplication() {
  std::unique_ptr<norv::Presenter> current = norv::InstallPresenter(std::move(previous_));
  // Someone installed a presenter over ours and still counts on it being there (they will
  // restore ours themselves; it falls back to the console once the application is gone).
  if (current.get() != installed_) norv::InstallPresenter(std::move(current));
}

bool NorvApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
  }
  return false;
}

void NorvApplication::ShowCurrentException() noexcept {
  try {
    throw;
  } catch (const EAbort&) {
    // Already reported by whoever aborted.
  } catch (const Exception& e) {
    ShowError(e.Message());
  } catch (const std::exception& e) {
    ShowError(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ShowError(QStringLiteral("Unknown error"));
  }
}

void NorvApplication::ShowError(const QString& message) noexcept {
  QString caption = QApplication::applicationDisplayName();
  if (caption.isEmpty()) caption = QStringLiteral("Error");
  // Nothing may leave notify(): the event dispatcher below it is C code.
  try {
    norv::CurrentPresenter().ShowMessageBox(caption, message, norv::MsgIcon::Error);
  } catch (const std::exception& e) {
    qWarning("%s (while showing: %s)", e.what(), qPrintable(message));
  }
}
