#include "connection/monitor.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QUuid>

#include <thread>
#include <utility>
#include <vector>

namespace {

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Our own socket, so parallel test runs and a real monitor are left alone.
    name_ = "norv-test-monitor-" + QUuid::createUuid().toString(QUuid::Id128);
    qputenv("NORV_MONITOR_SOCKET", name_.toUtf8());
    QObject::connect(
        &listener_, &MonitorListener::LineReceived,
        [this](quintptr window, const QString& line) { received_.emplace_back(window, line); });
  }
  void TearDown() override { qunsetenv("NORV_MONITOR_SOCKET"); }

  // Runs the event loop until `count` lines arrived or a generous deadline passed.
  void WaitFor(size_t count) {
    QDeadlineTimer deadline(5000);
    while (received_.size() < count && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }

  QString name_;
  MonitorListener listener_;
  std::vector<std::pair<quintptr, QString>> received_;
};

TEST_F(MonitorTest, LinesArriveWholeAndInOrder) {
  ASSERT_TRUE(listener_.Listen());
  SendToMonitor(42, "Open-Client: ct_cmd_alloc");
  SendToMonitor(0, QString::fromUtf8("SQL Execute: select 'caf\xC3\xA9'"));
  SendToMonitor(7, QString(100000, u'x'));  // larger than one socket read
  WaitFor(3);
  ASSERT_EQ(received_.size(), 3u);
  EXPECT_EQ(received_[0], std::make_pair(quintptr{42}, QString("Open-Client: ct_cmd_alloc")));
  EXPECT_EQ(received_[1].second, QString::fromUtf8("SQL Execute: select 'caf\xC3\xA9'"));
  EXPECT_EQ(received_[2].second.size(), 100000);
}

TEST_F(MonitorTest, FrameCarriesTagLengthAndTerminatingZero) {
  const QByteArray frame = EncodeMonitorFrame(1, "abc");
  ASSERT_EQ(frame.size(), 16 + 4);
  EXPECT_EQ(static_cast<unsigned char>(frame[8]), 99);
  EXPECT_EQ(static_cast<unsigned char>(frame[12]), 4);  // "abc" and its zero
  EXPECT_EQ(frame.back(), '\0');
}

TEST_F(MonitorTest, MonitorLogNeedsTheSwitchAndAnOwner) {
  ASSERT_TRUE(listener_.Listen());
  QObject owner;
  QObject component(&owner);
  QObject orphan;
  MonitorLog(&component, false, "switched off");
  MonitorLog(&orphan, true, "no owner");
  MonitorLog(&component, true, "Flow : ** Start of Connect **");
  WaitFor(1);
  QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].first, 0u);  // a windowless owner
  EXPECT_EQ(received_[0].second, "Flow : ** Start of Connect **");
}

TEST_F(MonitorTest, LinesNameTheirProgramAndComponentAndOldFramesStillRead) {
  ASSERT_TRUE(listener_.Listen());
  std::vector<QStringList> from;
  QObject::connect(
      &listener_, &MonitorListener::LineFrom,
      [&from](quintptr, const QString& program, const QString& component, const QString& line) {
        from.push_back({program, component, line});
      });
  QObject owner;
  QObject named(&owner);
  named.setObjectName("Session1");
  QObject unnamed(&owner);
  MonitorLog(&named, true, "named");
  MonitorLog(&unnamed, true, "unnamed");
  QLocalSocket old;  // a sender from before frames named their sender
  old.connectToServer(name_);
  ASSERT_TRUE(old.waitForConnected(1000));
  old.write(EncodeMonitorFrame(3, "old frame"));
  old.flush();
  WaitFor(3);
  ASSERT_EQ(from.size(), 3u);
  const QString program = QCoreApplication::applicationName();
  EXPECT_EQ(from[0], QStringList({program, "Session1", "named"}));
  EXPECT_EQ(from[1], QStringList({program, "QObject", "unnamed"}));
  EXPECT_EQ(from[2], QStringList({"", "", "old frame"}));
  EXPECT_FALSE(program.isEmpty());
}

TEST_F(MonitorTest, WorkerThreadsSendOnTheirOwnSockets) {
  ASSERT_TRUE(listener_.Listen());
  std::thread worker([] {
    for (int i = 0; i < 50; ++i) SendToMonitor(1, "worker " + QString::number(i));
  });
  worker.join();
  WaitFor(50);
  ASSERT_EQ(received_.size(), 50u);
  EXPECT_EQ(received_.back().second, "worker 49");
}

TEST_F(MonitorTest, NoListenerAndStalledListenerNeverHang) {
  SendToMonitor(0, "nobody listens");  // returns; nothing to observe but that it does

  // A listener that accepts and never reads: the sender gives up instead of waiting forever.
  QLocalServer stalled;
  ASSERT_TRUE(stalled.listen(name_));
  const QString big(64 * 1024, u'y');
  for (int i = 0; i < 64; ++i) SendToMonitor(0, big);
  stalled.close();

  // Once a real listener is back, lines flow again (after a short pause that spares the
  // sender from stalling on every line).
  ASSERT_TRUE(listener_.Listen());
  QDeadlineTimer deadline(5000);
  while (received_.empty() && !deadline.hasExpired()) {
    SendToMonitor(0, "after");
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
  }
  ASSERT_FALSE(received_.empty());
  EXPECT_EQ(received_.back().second, "after");
}

}  // namespace
