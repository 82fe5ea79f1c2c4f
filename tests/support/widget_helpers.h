// Helpers for widget tests that run offscreen under the test program's application object.
#pragma once

#include <gtest/gtest.h>
#include <QApplication>
#include <QDeadlineTimer>
#include <QWidget>

#include <functional>

namespace norvtest {

// Runs the event loop until `done` holds; false when `timeoutMs` passed first.
inline bool ProcessUntil(const std::function<bool()>& done, int timeoutMs = 2000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Shows `w` and waits until it is the active window.
inline void ShowActive(QWidget& w) {
  w.show();
  w.activateWindow();
  ASSERT_TRUE(ProcessUntil([&] { return w.isActiveWindow(); })) << "window never became active";
}

}  // namespace norvtest
