// The Qt presenter and the application object's handling of exceptions from event handlers.
// The test program runs under a NorvApplication (see main_widgets.cpp).
#include "connection/norvapplication.h"
#include "connection/norvexception.h"
#include "connection/norvmessage.h"
#include "connection/qtpresenter.h"
#include "recording_presenter.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFrame>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>

namespace {

using norv::MsgIcon;
using norv::PanelColour;
using Kind = norv::RecordingPresenter::Kind;

// Hands the first modal widget that appears to `handle`, from the event loop; `handle` must
// close it. Polls, because the modal loop that shows it belongs to the code under test.
class ModalHandler {
 public:
  explicit ModalHandler(std::function<void(QWidget*)> handle) : handle_(std::move(handle)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        timer_.stop();
        handled_ = true;
        QPointer<QWidget> guard(modal);
        handle_(modal);
        // A handler that failed an assertion must not leave the test hanging in the modal loop.
        if (guard && guard->isVisible()) guard->close();
      }
    });
    timer_.start();
  }
  bool Handled() const { return handled_; }

 private:
  std::function<void(QWidget*)> handle_;
  QTimer timer_;
  bool handled_ = false;
};

// Runs `work` on a worker thread and keeps the GUI event loop turning until it has finished.
void RunOnWorker(const std::function<void()>& work) {
  QEventLoop loop;
  std::atomic<bool> done = false;
  std::thread worker([&] {
    work();
    done = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  QTimer guard;  // against a quit that raced ahead of exec()
  QObject::connect(&guard, &QTimer::timeout, [&] {
    if (done) loop.quit();
  });
  guard.start(50);
  loop.exec();
  worker.join();
}

struct SeenBox {
  QString caption, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QWidget* parent = nullptr;
  QThread* thread = nullptr;
};

// Records the message box and presses its OK button.
std::function<void(QWidget*)> TakeBox(SeenBox& seen) {
  return [&seen](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr) << "the modal widget is a " << modal->metaObject()->className();
    seen = {box->windowTitle(), box->text(), box->icon(), box->parentWidget(), box->thread()};
    ASSERT_NE(box->button(QMessageBox::Ok), nullptr);
    box->button(QMessageBox::Ok)->click();
  };
}

TEST(QtPresenterTest, MessageBoxShowsCaptionTextAndIcon) {
  norv::QtPresenter presenter;
  const struct {
    MsgIcon icon;
    QMessageBox::Icon expected;
  } cases[] = {{MsgIcon::Information, QMessageBox::Information},
               {MsgIcon::Warning, QMessageBox::Warning},
               {MsgIcon::Error, QMessageBox::Critical}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.expected));
    SeenBox seen;
    ModalHandler handler(TakeBox(seen));
    presenter.ShowMessageBox("Caption", "Some text", c.icon);
    ASSERT_TRUE(handler.Handled());
    EXPECT_EQ(seen.caption, "Caption");
    EXPECT_EQ(seen.text, "Some text");
    EXPECT_EQ(seen.icon, c.expected);
  }
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(QtPresenterTest, ConfirmAsksYesOrNoAndAnswersWhatWasPressed) {
  norv::QtPresenter presenter;
  for (const auto pressed : {QMessageBox::Yes, QMessageBox::No}) {
    SCOPED_TRACE(pressed == QMessageBox::Yes ? "yes" : "no");
    SeenBox seen;
    ModalHandler handler([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      seen = {box->windowTitle(), box->text(), box->icon()};
      ASSERT_NE(box->button(pressed), nullptr);
      box->button(pressed)->click();
    });
    const bool yes = presenter.Confirm("Confirm", "Delete record?");
    ASSERT_TRUE(handler.Handled());
    EXPECT_EQ(seen.caption, "Confirm");
    EXPECT_EQ(seen.text, "Delete record?");
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(yes, pressed == QMessageBox::Yes);
  }
}

TEST(QtPresenterTest, MessageBoxIsOwnedByTheActiveWindow) {
  QWidget owner;
  owner.show();
  owner.activateWindow();
  QDeadlineTimer deadline(2000);
  while (!owner.isActiveWindow() && !deadline.hasExpired()) QApplication::processEvents();
  ASSERT_TRUE(owner.isActiveWindow());

  norv::QtPresenter presenter;
  SeenBox seen;
  ModalHandler handler(TakeBox(seen));
  presenter.ShowMessageBox("c", "t", MsgIcon::Information);
  ASSERT_TRUE(handler.Handled());
  EXPECT_EQ(seen.parent, &owner);
  // Freed once closed, not left to its owner.
  EXPECT_EQ(owner.findChild<QMessageBox*>(), nullptr);
}

TEST(QtPresenterTest, MessageBoxFromAWorkerRunsOnTheGuiThreadAndBlocksTheWorker) {
  norv::QtPresenter presenter;
  std::atomic<bool> returned = false;
  bool returnedWhileShown = true;
  SeenBox seen;
  ModalHandler handler([&](QWidget* modal) {
    returnedWhileShown = returned;
    TakeBox(seen)(modal);
  });
  RunOnWorker([&] {
    presenter.ShowMessageBox("From worker", "Worker text", MsgIcon::Warning);
    returned = true;
  });
  ASSERT_TRUE(handler.Handled());
  EXPECT_FALSE(returnedWhileShown) << "the worker did not wait for the box";
  EXPECT_EQ(seen.thread, QApplication::instance()->thread());
  EXPECT_EQ(seen.caption, "From worker");
  EXPECT_EQ(seen.text, "Worker text");
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
}

struct SeenWindow {
  QString caption, text;
  QColor bottom;
  bool modal = false;
};

// Records the message window and presses its OK button.
std::function<void(QWidget*)> TakeWindow(SeenWindow& seen) {
  return [&seen](QWidget* modal) {
    auto* window = qobject_cast<Tf_norv_message*>(modal);
    ASSERT_NE(window, nullptr) << "the modal widget is a " << modal->metaObject()->className();
    auto* bottom = window->findChild<QFrame*>("pn_bottom");
    ASSERT_NE(bottom, nullptr);
    seen = {window->windowTitle(), window->Text(),
            bottom->palette().color(bottom->backgroundRole()), window->isModal()};
    auto* ok = window->findChild<QPushButton*>("btn_close");
    ASSERT_NE(ok, nullptr);
    ok->click();
  };
}

bool AnyMessageWindowLeft() {
  for (QWidget* w : QApplication::allWidgets()) {
    if (qobject_cast<Tf_norv_message*>(w)) return true;
  }
  return false;
}

TEST(QtPresenterTest, MessageWindowShowsTheMessageModallyAndIsFreed) {
  norv::QtPresenter presenter;
  SeenWindow seen;
  ModalHandler handler(TakeWindow(seen));
  presenter.ShowMessageWindow("Server message", "Msg 2812\nStored procedure not found",
                              PanelColour::Error);
  ASSERT_TRUE(handler.Handled());
  EXPECT_TRUE(seen.modal);
  EXPECT_EQ(seen.caption, "Server message");
  EXPECT_EQ(seen.text, "Msg 2812\nStored procedure not found");
  EXPECT_EQ(seen.bottom, QColor(153, 6, 57));
  EXPECT_FALSE(AnyMessageWindowLeft());
}

TEST(QtPresenterTest, MessageWindowFromAWorker) {
  norv::QtPresenter presenter;
  SeenWindow seen;
  ModalHandler handler(TakeWindow(seen));
  RunOnWorker([&] { presenter.ShowMessageWindow("Info", "All done", PanelColour::ButtonFace); });
  ASSERT_TRUE(handler.Handled());
  EXPECT_EQ(seen.caption, "Info");
  EXPECT_EQ(seen.text, "All done");
  EXPECT_NE(seen.bottom, QColor(153, 6, 57));
  EXPECT_FALSE(AnyMessageWindowLeft());
}

Qt::CursorShape OverrideShape() {
  const QCursor* cursor = QApplication::overrideCursor();
  return cursor ? cursor->shape() : Qt::BitmapCursor;  // BitmapCursor: "none"
}

TEST(QtPresenterTest, WaitCursorIsBalancedAndNeverPopsAnotherOverride) {
  ASSERT_EQ(QApplication::overrideCursor(), nullptr);
  QApplication::setOverrideCursor(Qt::CrossCursor);  // someone else's
  {
    norv::QtPresenter presenter;
    presenter.SetWaitCursor(false);  // unmatched: must leave the cross alone
    EXPECT_EQ(OverrideShape(), Qt::CrossCursor);

    presenter.SetWaitCursor(true);
    presenter.SetWaitCursor(true);
    EXPECT_EQ(OverrideShape(), Qt::WaitCursor);
    presenter.SetWaitCursor(false);
    EXPECT_EQ(OverrideShape(), Qt::WaitCursor);
    presenter.SetWaitCursor(false);
    EXPECT_EQ(OverrideShape(), Qt::CrossCursor);

    RunOnWorker([&] { presenter.SetWaitCursor(true); });
    EXPECT_EQ(OverrideShape(), Qt::WaitCursor);
    EXPECT_EQ(presenter.WaitCursorDepth(), 1);
  }
  // The presenter took back what it had left on.
  EXPECT_EQ(OverrideShape(), Qt::CrossCursor);
  QApplication::restoreOverrideCursor();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Throws what it is told to when it gets kThrow; counts the kCount events that reach it.
class Thrower : public QObject {
 public:
  static inline const QEvent::Type kThrow = static_cast<QEvent::Type>(QEvent::registerEventType());
  static inline const QEvent::Type kCount = static_cast<QEvent::Type>(QEvent::registerEventType());

  std::function<void()> toThrow;
  int counted = 0;

  bool event(QEvent* e) override {
    if (e->type() == kThrow) toThrow();
    if (e->type() == kCount) {
      ++counted;
      return true;
    }
    return QObject::event(e);
  }
};

class ApplicationTest : public ::testing::Test {
 protected:
  // Posts a throwing event and a later one, and runs the real event loop over both: the later
  // one arriving shows the loop carried on after the exception.
  void DeliverThrowAndCarryOn() {
    const int before = thrower_.counted;
    QEventLoop loop;
    QCoreApplication::postEvent(&thrower_, new QEvent(Thrower::kThrow));
    QCoreApplication::postEvent(&thrower_, new QEvent(Thrower::kCount));
    QTimer::singleShot(0, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(thrower_.counted, before + 1) << "the event loop did not carry on";
  }

  Thrower thrower_;
};

TEST_F(ApplicationTest, InstallsTheQtPresenter) {
  EXPECT_NE(dynamic_cast<norv::QtPresenter*>(&norv::CurrentPresenter()), nullptr);
}

TEST_F(ApplicationTest, ShowsTheMessageOfAnExceptionFromAnEventHandler) {
  norv::ScopedRecordingPresenter recorder;
  const QString displayName = QApplication::applicationDisplayName();
  QApplication::setApplicationDisplayName("Brondal test");
  const struct {
    std::function<void()> toThrow;
    const char* message;
  } cases[] = {
      {[] { throw ENorvException("Login failed for user 'sa'"); }, "Login failed for user 'sa'"},
      {[] { throw EDatabaseError("Field 'x' not found"); }, "Field 'x' not found"},
      {[] { throw std::runtime_error("disk full"); }, "disk full"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    recorder->Clear();
    thrower_.toThrow = c.toThrow;
    DeliverThrowAndCarryOn();
    const auto shown = recorder->Taken();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, Kind::MessageBox);
    EXPECT_EQ(shown[0].caption, "Brondal test");
    EXPECT_EQ(shown[0].text, c.message);
    EXPECT_EQ(shown[0].icon, MsgIcon::Error);
  }
  QApplication::setApplicationDisplayName(displayName);
}

TEST_F(ApplicationTest, AbortShowsNothing) {
  norv::ScopedRecordingPresenter recorder;
  thrower_.toThrow = [] { throw EAbort(); };
  DeliverThrowAndCarryOn();
  EXPECT_TRUE(recorder->Taken().empty());
}

TEST_F(ApplicationTest, ExceptionFromATimerSlotIsShownAndTheTimerKeepsRunning) {
  norv::ScopedRecordingPresenter recorder;
  QEventLoop loop;
  QTimer timer;
  int ticks = 0;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks == 1) throw ENorvException("first tick failed");
    loop.quit();
  });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, &loop, &QEventLoop::quit);
  watchdog.start(5000);
  timer.start(1);
  loop.exec();
  EXPECT_EQ(ticks, 2);
  const auto shown = recorder->Taken();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "first tick failed");
}

TEST_F(ApplicationTest, ExceptionShownThroughTheQtPresenterReachesTheScreen) {
  // No recorder: the application's own presenter puts up a real box.
  SeenBox seen;
  ModalHandler handler(TakeBox(seen));
  thrower_.toThrow = [] { throw ENorvException("Shown for real"); };
  DeliverThrowAndCarryOn();
  ASSERT_TRUE(handler.Handled());
  EXPECT_EQ(seen.text, "Shown for real");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

}  // namespace
