// The application object of the client. An exception that escapes an event handler does not end
// the program: its message is shown through the presenter and the event loop goes on. EAbort,
// whose error has already been shown, is dropped silently.
#pragma once

#include "presenter.h"

#include <QApplication>

#include <memory>

class NorvApplication : public QApplication {
  Q_OBJECT

 public:
  // Installs the Qt presenter for the lifetime of the application.
  NorvApplication(int& argc, char** argv);
  ~NorvApplication() override;

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  void ShowError(const QString& message);

  norv::Presenter* installed_ = nullptr;  // owned by the installation
  std::unique_ptr<norv::Presenter> previous_;
};
