// The application object of the client. An exception that escapes an event handler does not end
// the program: its message is shown through the presenter and the event loop goes on. EAbort,
// whose error has already been shown, is dropped silently.
#pragma once

#include "presenter.h"

#include <QApplication>

#include <memory>
#include <utility>

class NorvApplication : public QApplication {
  Q_OBJECT

 public:
  // Installs the Qt presenter for the lifetime of the application.
  NorvApplication(int& argc, char** argv);
  ~NorvApplication() override;

  bool notify(QObject* receiver, QEvent* event) override;

  // Shows the exception being handled (call it inside a catch block) as one that escaped an event
  // handler: its message in a box, EAbort silently dropped.
  static void ShowCurrentException() noexcept;

 private:
  static void ShowError(const QString& message) noexcept;

  norv::Presenter* installed_ = nullptr;  // owned by the installation
  std::unique_ptr<norv::Presenter> previous_;
};

// Runs a window's handler so that what it raises is shown by the application, without unwinding
// through Qt's signal delivery, which is not made for exceptions (its guards would leak).
template <typename Handler>
void RunHandler(Handler&& handler) noexcept {
  try {
    std::forward<Handler>(handler)();
  } catch (...) {
    NorvApplication::ShowCurrentException();
  }
}
